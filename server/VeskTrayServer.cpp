#include "VeskTrayServer.h"

#include <memory>
#include <string>

#include "VeskErrorBox.h"
#include "VeskTrayRegistrator.h"
#include "VeskTrayServerWindow.h"

namespace {

// A time limit as a message shows it: whole minutes, or milliseconds.
std::string LimitText(std::chrono::milliseconds span) {
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

// The one shutdown order, after a quit and after a failure alike. The window goes first, so
// that no request reaches the hook library once it is being taken out; the hook comes out
// while its library is still loaded; the library goes last. A window whose destruction fails
// stays referenced, and freeing it again completes its release. A hook library that raised
// from UninstallTrayHook is not called again: a second call is what it already refused.
void ShutDown(std::unique_ptr<TVeskTrayServerWindow>& window, TVeskTrayHookLibrary& library) {
    if (window)
        VeskFreeWindow(window);
    if (library.IsHeld()) {
        if (!library.UninstallTrayHookCalled())
            library.UninstallTrayHook();
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
                             LimitText(limit) + ".");
        }
        Sleep(1);
    }
}

int RunVeskTrayServer() {
    // The error boxes run the system's own message loops, which would call a timer callback
    // that another program posts while a box is up. (Should the system refuse the hook, the
    // server's own loop still drops them.)
    TVeskForeignTimerGuard timerGuard;
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
        ShutDown(window, library);
        return 0;
    } catch (const std::exception& failure) {
        // The text is taken first and the failure let go here, while the library is still
        // held: a failure raised by the hook library lives in the library's memory.
        text = std::string("Error: ") + failure.what();
    } catch (...) {
        text = "Error: Unknown failure";
    }
    // Nothing may raise out of here: the box must still come up and the process end with 0.
    // Each further round gets past one step that failed (a window whose destruction failed is
    // complete after a second free; an UninstallTrayHook that raised is not called again), so
    // three always end with everything released; the box shows the failure that ended the run.
    for (int round = 0; round < 3 && (window || library.IsHeld()); ++round) {
        try {
            ShutDown(window, library);
        } catch (...) {
            // Taken up by the next round.
        }
    }
    VeskShowErrorBox(nullptr, text.c_str(), "VeskTrayServer");
    return 0;
}
