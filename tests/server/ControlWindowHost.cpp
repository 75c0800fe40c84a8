// Hosts one control window for the tests: loads the hook library beside it, creates the
// window, signals the event named on its command line and serves until told to quit.
#include <cstdio>

#include "VeskTrayServerWindow.h"

int main(int argc, char** argv) {
    try {
        TVeskTrayHookLibrary library;
        library.Load();
        auto window = VeskCreateWindow<TVeskTrayServerWindow>(library);
        if (argc > 1) {
            HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
            SetEvent(ready);
            CloseHandle(ready);
        }
        RunMessageLoop();
        VeskFreeWindow(window);
        library.UninstallTrayHook();
        return 0;
    } catch (const EVeskError& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
}
