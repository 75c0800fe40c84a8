#include "VeskErrorBox.h"

void VeskShowErrorBox(HWND owner, const char* text, const char* caption) {
    MessageBoxA(owner, text, caption, MB_ICONERROR | MB_SYSTEMMODAL);
}
