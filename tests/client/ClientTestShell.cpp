// Stands in for the machine's logon shell: signals the event named on its command line, so
// that a test knows the server started it, and ends.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    HANDLE started = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (!started)
        return 1;
    SetEvent(started);
    CloseHandle(started);
    return 0;
}
