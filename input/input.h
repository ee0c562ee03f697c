// input.h: keyboard and joypad state by polling, as the library uses it inside;
// the PAD_ bits, input sources, DIK_ key codes and the queries are in ravlin.h.
#pragma once

#include "ravlin.h"

int InitInput(void);
int EndInput(void);
