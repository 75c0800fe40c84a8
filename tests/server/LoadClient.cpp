// Sends the server a number of monitor requests and checks every answer against what the
// recording hook library returns. Exit code: the number of wrong or missing answers
// (capped), 255 when there is no server.
#include <windows.h>

#include <cstdlib>

#include "VeskRecordingHook.h"

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 1000;
    HWND server = FindWindowExA(HWND_MESSAGE, nullptr, "VeskTrayServerWindow", nullptr);
    if (!server)
        return 255;
    unsigned wrong = 0;
    const DWORD seed = GetCurrentProcessId() * 2654435761u;
    for (long i = 0; i < count; ++i) {
        const LONG value = static_cast<LONG>(seed ^ (static_cast<DWORD>(i) * 40503u));
        const bool add = i % 2 == 0;
        DWORD_PTR answer = 0;
        const LRESULT sent =
            SendMessageTimeoutA(server, WM_USER, add ? 1 : 2, value, SMTO_NORMAL, 10000, &answer);
        const LONG expected = add ? VeskRecordingHook::AddMonitorResult(value)
                                  : VeskRecordingHook::RemoveMonitorResult(value);
        if (!sent || static_cast<LONG>(answer) != expected)
            ++wrong;
    }
    return wrong > 254 ? 254 : static_cast<int>(wrong);
}
