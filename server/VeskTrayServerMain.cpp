// VeskTrayServer.exe: no arguments, no user interface besides its error box.
#include <windows.h>

#include "VeskTrayServer.h"

// The lean Windows headers leave out the COM types that GDI+ needs.
#include <objidl.h>

#include <gdiplus.h>

namespace {

// GDI+ is up before the server's own start and goes after everything else. Nothing is
// drawn; its status is not examined.
class TGdiplusSession {
public:
    TGdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&Token, &input, nullptr);
    }
    ~TGdiplusSession() { Gdiplus::GdiplusShutdown(Token); }
    TGdiplusSession(const TGdiplusSession&) = delete;
    TGdiplusSession& operator=(const TGdiplusSession&) = delete;

private:
    ULONG_PTR Token = 0;
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    TGdiplusSession gdiplus;
    return RunVeskTrayServer();
}
