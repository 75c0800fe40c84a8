#include "VeskTrayServer.h"

#include <memory>
#include <string>

#include "VeskTrayRegistrator.h"
#include "VeskTrayServerWindow.h"

namespace {

std::string Describe(std::chrono::milliseconds span) {
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(span).count();
    if (minutes >= 1 && span % std::chrono::minutes(1) == std::chrono::milliseconds(0))
        return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
    return std::to_string(span.count()) + " ms";
}

void InstallAsStartModeAsks(const TVeskTrayHookLibrary& library) {
    switch (ReadRegistrationMethod()) {
    case 1:
        // The server serves whether or not the hook could be installed.
        library.InstallTrayHook();
        break;
    case 2: {
        const std::string shell = HandOffShell();
        WinExec(shell.c_str(), SW_SHOWDEFAULT);
        WaitForTrayHook(library, shell);
        RestoreServerShell();
        break;
    }
    default:
        throw EVeskError("VeskTrayServer is not properly installed!");
    }
}

// A window whose destruction failed is complete after a second free.
void FreeWindowForGood(std::unique_ptr<TVeskTrayServerWindow>& window) {
    try {
        VeskFreeWindow(window);
    } catch (const EVeskError&) {
        VeskFreeWindow(window);
    }
}

// After a failure, in the order the server always keeps: nothing here may raise, because
// the box must still come up and the process end with 0. A hook library that raises from
// UninstallTrayHook is not called again: a second call is what it already refused.
void CleanUpAfterFailure(std::unique_ptr<TVeskTrayServerWindow>& window,
                         TVeskTrayHookLibrary& library) {
    if (window) {
        try {
            FreeWindowForGood(window);
        } catch (...) {
            // The first failure is the one the box shows.
        }
    }
    if (library.IsHeld()) {
        if (!library.UninstallTrayHookCalled()) {
            try {
                library.UninstallTrayHook();
            } catch (...) {
                // As above.
            }
        }
        library.Release();
    }
}

} // namespace

void WaitForTrayHook(const TVeskTrayHookLibrary& library, const std::string& shell,
                     std::chrono::milliseconds limit) {
    const auto start = std::chrono::steady_clock::now();
    while (!library.InstallTrayHook()) {
        if (std::chrono::steady_clock::now() - start >= limit) {
            RestoreServerShell();
            throw EVeskError("The tray did not come up: the shell \"" + shell +
                             "\" was started, but the tray hook could not be installed within " +
                             Describe(limit) + ".");
        }
        Sleep(1);
    }
}

int RunVeskTrayServer() {
    // Declared outside the handler's reach, so that the handler, not the unwinding stack,
    // decides the order in which they go.
    TVeskTrayHookLibrary library;
    std::unique_ptr<TVeskTrayServerWindow> window;
    std::string text;
    try {
        library.Load();
        window = VeskCreateWindow<TVeskTrayServerWindow>(library);
        InstallAsStartModeAsks(library);
        RunMessageLoop();
        VeskFreeWindow(window);
        library.UninstallTrayHook();
        library.Release();
        return 0;
    } catch (const std::exception& failure) {
        // The text is taken first and the failure let go here, while the library is still
        // held: a failure raised by the hook library lives in the library's memory.
        text = std::string("Error: ") + failure.what();
    } catch (...) {
        text = "Error: Unknown failure";
    }
    CleanUpAfterFailure(window, library);
    MessageBoxA(nullptr, text.c_str(), "VeskTrayServer", MB_ICONERROR | MB_SYSTEMMODAL);
    return 0;
}
