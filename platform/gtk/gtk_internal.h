// gtk_internal.h: what the tests of the GTK dialog reach directly.
#pragma once

// Answers the open dialog that shows, on GTK's thread, as a user would: the
// file selected, then accepted, with a cancel queued a moment before the
// answer (as a close of the main window at that moment queues one).
void AnswerGtkDialogWithCancelQueued(const char* file);
