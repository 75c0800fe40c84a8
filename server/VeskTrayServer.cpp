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
// stays referenced, and freeing it again completes its release.
void ShutDown(std::unique_ptr<TVeskTrayServerWindow>& window, TVeskTrayHookLibrary& library) {
    if (window)
        VeskFreeWindow(window);
    if (library.IsHeld()) {
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
    // Declared outside the handler's reach, so that the handler, not the unwinding stack,
    // decides the order in which they go.
    TVeskTrayHookLibrary library;
    std::unique_ptr<TVeskTrayServerWindow> window;
    try {
        library.Load();
        window = VeskCreateWindow<TVeskTrayServerWindow>(library);
        InstallAsStartModeAsks(library);
        RunMessageLoop();
        ShutDown(window, library);
    } catch (const std::exception& failure) {
        try {
            ShutDown(window, library);
        } catch (const EVeskError&) {
            // Only the window can fail here, and its second free completes it; the box shows
            // the failure that ended the run.
            ShutDown(window, library);
        }
        const std::string text = std::string("Error: ") + failure.what();
        VeskShowErrorBox(nullptr, text.c_str(), "VeskTrayServer");
    }
    return 0;
}
