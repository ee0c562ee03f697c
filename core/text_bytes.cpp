// text_bytes.cpp: byte classes of the Shift-JIS texts every part keeps.
#include "core/core.h"

int IsLeadByte(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }
