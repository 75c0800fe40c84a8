// The benchmark's client: starts a server and times it until it answers, sends its window
// bursts of monitor requests, or asks it to quit. Every reply is checked against what the hook
// library answers, so that a fast wrong answer fails the run instead of counting. Several
// servers may run at once; each is found by the Windows process id that "start" reports.
//
//   VeskServerBenchClient start SERVER.EXE HOOK   start the server; print "started <us> <pid>":
//                                                 the time from process start to its first
//                                                 right answer, and its process id; it is left
//                                                 running
//   VeskServerBenchClient load HOOK SEED          print "ready", then for every line "<pid>
//                                                 <count>" on stdin send that many requests to
//                                                 that server's window and print "done <count>
//                                                 <first-us> <last-us>"; for "stats <pid>"
//                                                 print "stats <count> <p50-us> <p99-us>" of
//                                                 the round trips to that server since the last
//                                                 such report; ends at the end of its input
//   VeskServerBenchClient quit PID                ask that server to quit and wait until it ends
//   VeskServerBenchClient hold                    keep the desktop up until its input ends
//
// HOOK says what the hook library answers: "echo" (the benchmark's hook: the argument xor
// 0x5A5A5A5A for AddMonitor, xor 0x0F0F0F0F for RemoveMonitor) or "zero" (the default hook).
// Times are the performance counter in microseconds, which every process on the machine shares,
// so the driver can put the reports of concurrent clients on one time line.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "VeskError.h"
#include "VeskHandle.h"
#include "VeskTrayServerTypes.h"

namespace {

const DWORD ReplyTimeoutMs = 10000;

long long Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Microseconds(long long ticks) {
    static const long long frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return static_cast<double>(ticks) * 1e6 / static_cast<double>(frequency);
}

bool EchoingHook(const std::string& hook) {
    if (hook == "echo")
        return true;
    if (hook == "zero")
        return false;
    throw EVeskError("unknown hook answer \"" + hook + "\" (echo or zero)");
}

std::int32_t Expected(bool echo, WPARAM request, std::int32_t argument) {
    if (!echo)
        return 0;
    return request == VeskTrayRequestAddMonitor ? argument ^ 0x5A5A5A5A : argument ^ 0x0F0F0F0F;
}

// The control window of one server process; 0 while it has none.
HWND FindControlWindow(DWORD processId) {
    HWND window = nullptr;
    while ((window = FindWindowExA(HWND_MESSAGE, window, VeskTrayServerWindowClass, nullptr))) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId)
            return window;
    }
    return nullptr;
}

HWND ControlWindowOf(DWORD processId) {
    const HWND window = FindControlWindow(processId);
    if (!window)
        throw EVeskError("process " + std::to_string(processId) + " has no control window");
    return window;
}

// Sends one request and checks the reply; a missing or wrong reply ends the run.
void Request(HWND window, WPARAM request, std::int32_t argument, std::int32_t expected) {
    DWORD_PTR reply = 0;
    if (!SendMessageTimeoutA(window, VeskTrayControlMessage, request, static_cast<LPARAM>(argument),
                             SMTO_NORMAL, ReplyTimeoutMs, &reply))
        throw EVeskError("request " + std::to_string(request) + " got no reply (error " +
                         std::to_string(GetLastError()) + ")");
    if (static_cast<std::int32_t>(reply) != expected)
        throw EVeskError("request " + std::to_string(request) + " with " +
                         std::to_string(argument) + " answered " +
                         std::to_string(static_cast<std::int32_t>(reply)) + ", the hook answers " +
                         std::to_string(expected));
}

// A server that never answered is ended with the failure, not left behind for the next run.
struct TEndUnlessAnswered {
    HANDLE Process;
    bool Answered = false;
    explicit TEndUnlessAnswered(HANDLE process) : Process(process) {}
    ~TEndUnlessAnswered() {
        if (!Answered && WaitForSingleObject(Process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(Process, 1);
            WaitForSingleObject(Process, 5000);
        }
    }
    TEndUnlessAnswered(const TEndUnlessAnswered&) = delete;
    TEndUnlessAnswered& operator=(const TEndUnlessAnswered&) = delete;
};

void Start(const std::string& server, bool echo) {
    std::string directory = server.substr(0, server.find_last_of("\\/") + 1);
    std::string commandLine = "\"" + server + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // Without this Wine hands the server our standard handles, and whoever reads our output
    // waits for the server to end before it sees the end of it.
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION info{};
    const long long begin = Ticks();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &info))
        throw EVeskError("cannot start " + server + " (error " + std::to_string(GetLastError()) +
                         ")");
    TVeskHandle process(info.hProcess);
    TVeskHandle thread(info.hThread);
    TEndUnlessAnswered ending(process.Get());
    // Nothing tells another process that a window exists, so look for it every millisecond;
    // once found, the send waits until the server's message loop takes it.
    const std::int32_t argument = 0x13572468;
    for (;;) {
        if (HWND window = FindControlWindow(info.dwProcessId)) {
            Request(window, VeskTrayRequestAddMonitor, argument,
                    Expected(echo, VeskTrayRequestAddMonitor, argument));
            break;
        }
        if (WaitForSingleObject(process.Get(), 1) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process.Get(), &code);
            throw EVeskError(server + " ended with code " + std::to_string(code) +
                             " before its window answered");
        }
        if (Microseconds(Ticks() - begin) > 30e6)
            throw EVeskError(server + " did not answer within 30 s");
    }
    ending.Answered = true;
    std::printf("started %.1f %lu\n", Microseconds(Ticks() - begin), info.dwProcessId);
}

// One burst of requests to one server; each round trip is kept for the server's percentiles.
void Burst(HWND window, bool echo, long count, std::uint32_t& state,
           std::vector<long long>& spans) {
    spans.reserve(spans.size() + static_cast<size_t>(count));
    const long long first = Ticks();
    for (long i = 0; i < count; ++i) {
        // xorshift: arguments of every bit pattern, the same for every server
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const auto argument = static_cast<std::int32_t>(state);
        const WPARAM request = i & 1 ? VeskTrayRequestRemoveMonitor : VeskTrayRequestAddMonitor;
        const long long before = Ticks();
        Request(window, request, argument, Expected(echo, request, argument));
        spans.push_back(Ticks() - before);
    }
    const long long last = Ticks();
    std::printf("done %ld %.1f %.1f\n", count, Microseconds(first), Microseconds(last));
    std::fflush(stdout);
}

// The percentiles of the round trips kept since the last report, which are then dropped.
void Report(std::vector<long long>& spans) {
    if (spans.empty())
        throw EVeskError("no round trips to report");
    std::sort(spans.begin(), spans.end());
    auto rank = [&](double share) {
        // Nearest rank: the smallest span that at least this share of requests did not exceed.
        size_t index = static_cast<size_t>(share * static_cast<double>(spans.size()) + 0.999999);
        return spans[std::clamp<size_t>(index, 1, spans.size()) - 1];
    };
    std::printf("stats %u %.2f %.2f\n", static_cast<unsigned>(spans.size()),
                Microseconds(rank(0.50)), Microseconds(rank(0.99)));
    std::fflush(stdout);
    spans.clear();
}

void Load(bool echo, std::uint32_t seed) {
    std::printf("ready\n");
    std::fflush(stdout);
    std::uint32_t state = seed ? seed : 1;
    std::map<unsigned long, HWND> windows;
    std::map<unsigned long, std::vector<long long>> spans;
    char line[128];
    while (std::fgets(line, sizeof line, stdin)) {
        unsigned long processId = 0;
        long count = 0;
        if (std::sscanf(line, "stats %lu", &processId) == 1) {
            Report(spans[processId]);
            continue;
        }
        if (std::sscanf(line, "%lu %ld", &processId, &count) != 2 || count < 1)
            throw EVeskError(std::string("neither \"<pid> <count>\" nor \"stats <pid>\": ") + line);
        HWND& window = windows[processId];
        if (!window)
            window = ControlWindowOf(processId);
        Burst(window, echo, count, state, spans[processId]);
    }
}

void Quit(DWORD processId) {
    const HWND window = ControlWindowOf(processId);
    TVeskHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process.Get())
        throw EVeskError("cannot open the server process " + std::to_string(processId));
    Request(window, VeskTrayRequestQuit, 0, 1);
    if (WaitForSingleObject(process.Get(), 20000) != WAIT_OBJECT_0)
        throw EVeskError("the server did not end within 20 s of the quit request");
    std::printf("quit\n");
}

// Wine takes the desktop down a moment after its last user ends and brings it up again for the
// next; a run that keeps it up measures neither, and never starts a server while it goes.
void Hold() {
    if (!GetDesktopWindow())
        throw EVeskError("no desktop window");
    std::printf("ready\n");
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
    }
}

unsigned long Number(const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (!*text || *end || *text == '-' || errno || value < 1)
        throw EVeskError(std::string("not a positive number: ") + text);
    return value;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "start" && argc == 4)
            Start(argv[2], EchoingHook(argv[3]));
        else if (mode == "load" && argc == 4)
            Load(EchoingHook(argv[2]), static_cast<std::uint32_t>(Number(argv[3])));
        else if (mode == "hold" && argc == 2)
            Hold();
        else if (mode == "quit" && argc == 3)
            Quit(static_cast<DWORD>(Number(argv[2])));
        else
            throw EVeskError("usage: VeskServerBenchClient start SERVER.EXE echo|zero | load "
                             "echo|zero SEED | quit PID | hold");
        std::fflush(stdout);
        return 0;
    } catch (const EVeskError& failure) {
        std::fprintf(stderr, "VeskServerBenchClient: %s\n", failure.what());
        return 1;
    }
}
