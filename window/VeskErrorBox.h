// The program's one kind of error box, for the start-up failure and for a failure while a
// message is handled alike.
#pragma once

#include <windows.h>

// System-modal (so topmost), with the error icon and one OK button; returns when it is closed.
void VeskShowErrorBox(HWND owner, const char* text, const char* caption);
