#include "VeskTrayCtl.h"

#include <windows.h>

#include <cstdio>
#include <functional>

#include "VeskError.h"
#include "VeskFile.h"
#include "VeskSystemError.h"
#include "VeskTrayClient.h"
#include "VeskTrayInstaller.h"
#include "VeskTraySetup.h"

namespace {

constexpr char ProgramName[] = "vesktrayctl";

enum TOption : unsigned { OptionTimeout = 1, OptionMode = 2, OptionServer = 4 };

struct TArguments {
    std::vector<std::string> Words;
    std::optional<std::string> Timeout;
    std::optional<std::string> Mode;
    std::optional<std::string> Server;
    unsigned Given = 0;
    bool Help = false;
};

struct TContext {
    const TArguments& Args;
    std::ostream& Out;
    std::ostream& Err;
    DWORD TimeoutMs;

    int Fail(int code, const std::string& message) const {
        Err << ProgramName << ": " << message << "\n";
        return code;
    }
};

struct TCommand {
    const char* Name;
    unsigned Options;
    // The command's own name included.
    size_t MaxWords;
    const char* Usage;
    int (*Run)(const TContext& context);
};

constexpr char ValueRule[] =
    "VALUE is a 32-bit number: decimal (from -2147483648 to 4294967295) or 0x followed by 1 to 8 "
    "hexadecimal digits.";

constexpr char ExitCodes[] = "Exit codes:\n"
                             "  0  success; for status: VeskTrayServer is running\n"
                             "  1  unknown command or option, or arguments that do not fit\n"
                             "  2  a value is missing or malformed (VALUE, --mode, --server, "
                             "--timeout)\n"
                             "  3  VeskTrayServer is not running\n"
                             "  4  VeskTrayServer did not answer in time\n"
                             "  5  VeskTrayServer was asked to quit, but its process did not end "
                             "in time\n"
                             "  6  the settings file cannot be read or written\n"
                             "  7  the user's WinLogon key or its \"Shell\" value cannot be read "
                             "or written\n"
                             "  8  another system call failed\n"
                             "  9  install: the server is 32-bit and Windows 64-bit, or the other "
                             "way round\n";

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

int ClientFailure(const TContext& context, int status) {
    switch (status) {
    case VESK_TRAY_NO_SERVER:
        return context.Fail(VeskCtlNoServer, "VeskTrayServer is not running.");
    case VESK_TRAY_NO_ANSWER:
        return context.Fail(VeskCtlNoAnswer, "VeskTrayServer did not answer within " +
                                                 std::to_string(context.TimeoutMs) + " ms.");
    default:
        return context.Fail(VeskCtlSystemFailed, std::string(VeskTrayErrorText(status)) + ": " +
                                                     VeskSystemErrorText(GetLastError()) + ".");
    }
}

int RunStatus(const TContext& context) {
    const HWND window = VeskTrayFindServer();
    DWORD processId = 0;
    if (!window || VeskTrayGetServerProcessId(&processId) != VESK_TRAY_OK) {
        context.Out << "VeskTrayServer is not running.\n";
        return VeskCtlNoServer;
    }
    const int answered = VeskTrayPing(context.TimeoutMs);
    if (answered == VESK_TRAY_NO_SERVER) {
        context.Out << "VeskTrayServer is not running.\n";
        return VeskCtlNoServer;
    }
    if (answered != VESK_TRAY_OK)
        return ClientFailure(context, answered);
    context.Out << "VeskTrayServer is running.\n"
                << "  window:        "
                << Hex(static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(window))) << "\n"
                << "  process id:    " << processId << "\n";
    SIZE_T size = 0;
    const int region = VeskTrayGetRegionSize(&size);
    if (region == VESK_TRAY_OK)
        context.Out << "  shared region: " << VESK_TRAY_REGION_NAME << ", " << size << " bytes\n";
    else if (region == VESK_TRAY_NO_REGION)
        context.Out << "  shared region: " << VESK_TRAY_REGION_NAME << " does not exist\n";
    else
        context.Out << "  shared region: " << VESK_TRAY_REGION_NAME
                    << " cannot be opened: " << VeskSystemErrorText(GetLastError()) << "\n";
    return VeskCtlSuccess;
}

int RunMonitor(const TContext& context) {
    const std::vector<std::string>& words = context.Args.Words;
    if (words.size() < 2)
        return context.Fail(VeskCtlUsage, "monitor needs add or remove: monitor add|remove VALUE.");
    const bool add = words[1] == "add";
    if (!add && words[1] != "remove")
        return context.Fail(VeskCtlUsage, "unknown monitor request \"" + words[1] +
                                              "\": monitor add|remove VALUE.");
    if (words.size() < 3)
        return context.Fail(VeskCtlBadValue,
                            "monitor " + words[1] + " needs a VALUE. " + ValueRule);
    const std::optional<std::int32_t> value = VeskParseMonitorValue(words[2]);
    if (!value)
        return context.Fail(VeskCtlBadValue, "\"" + words[2] + "\" is not a VALUE. " + ValueRule);
    LONG result = 0;
    const int status = add ? VeskTrayAddMonitor(*value, context.TimeoutMs, &result)
                           : VeskTrayRemoveMonitor(*value, context.TimeoutMs, &result);
    if (status != VESK_TRAY_OK)
        return ClientFailure(context, status);
    context.Out << (add ? "AddMonitor(" : "RemoveMonitor(") << *value << ") returned " << result
                << " (" << Hex(static_cast<std::uint32_t>(result)) << ")\n";
    return VeskCtlSuccess;
}

int RunQuit(const TContext& context) {
    DWORD processId = 0;
    const int status = VeskTrayQuitAndWait(context.TimeoutMs, context.TimeoutMs, &processId);
    if (status == VESK_TRAY_STILL_RUNNING)
        return context.Fail(VeskCtlStillRunning,
                            "VeskTrayServer (process " + std::to_string(processId) +
                                ") was asked to quit, but it had not ended within " +
                                std::to_string(context.TimeoutMs) + " ms.");
    if (status != VESK_TRAY_OK)
        return ClientFailure(context, status);
    context.Out << "VeskTrayServer (process " << processId << ") has ended.\n";
    return VeskCtlSuccess;
}

// The server's full path, or an exit code when there is no such program.
std::optional<std::string> ServerPath(const TContext& context, int& code) {
    std::string given = context.Args.Server.value_or("");
    if (!context.Args.Server) {
        given = VeskFolderOf(VeskExecutablePath()) + "VeskTrayServer.exe";
    }
    // A short (8.3) name and its long form are the same file.
    const std::string server = VeskLongPath(VeskFullPath(given));
    if (given.empty() || !VeskIsFile(server)) {
        code = context.Fail(VeskCtlBadValue,
                            "there is no server program \"" + server + "\"" +
                                (context.Args.Server ? "." : ": name it with --server PATH."));
        return std::nullopt;
    }
    return server;
}

// Writes the start mode, then makes the registry change; when that fails, the settings file
// is put back as it was, so that a failed command leaves nothing half done.
int ApplyChange(const TContext& context, const std::string& settingsFile, std::int32_t mode,
                const std::function<void()>& registryChange) {
    std::optional<TVeskFileSnapshot> before;
    try {
        before.emplace(settingsFile);
        VeskWriteStartMode(settingsFile, mode);
    } catch (const EVeskError& failure) {
        return context.Fail(VeskCtlSettingsFailed,
                            std::string("the start mode was not written: ") + failure.what());
    }
    try {
        if (registryChange)
            registryChange();
    } catch (const EVeskError& failure) {
        std::string message = failure.what();
        try {
            before->Restore();
            message += " The settings file was left as it was.";
        } catch (const EVeskError& restoreFailure) {
            message += std::string(" The settings file holds start mode ") + std::to_string(mode) +
                       " and could not be put back: " + restoreFailure.what();
        }
        return context.Fail(VeskCtlRegistryFailed, message);
    }
    context.Out << "Start mode " << mode << " written to \"" << settingsFile << "\".\n";
    return VeskCtlSuccess;
}

// Reads the user's "Shell" and tells whether it names this server.
std::optional<bool> UserShellNamesServer(const TContext& context, const std::string& server,
                                         TVeskUserShell& shell, int& code) {
    try {
        shell = VeskReadUserShell();
    } catch (const EVeskError& failure) {
        code = context.Fail(VeskCtlRegistryFailed, failure.what());
        return std::nullopt;
    }
    return shell.ValueExists && shell.IsText && VeskShellNamesServer(shell.Text, server);
}

// A 32-bit server on 64-bit Windows can never hook the 64-bit shell, and a 64-bit server
// does not run on 32-bit Windows: either is refused before anything is written.
std::optional<int> RefuseOtherBitness(const TContext& context, const std::string& server) {
    WORD machine = 0;
    try {
        machine = VeskProgramMachine(server);
    } catch (const EVeskError& failure) {
        return context.Fail(VeskCtlBadValue, failure.what());
    }
    bool windows64 = false;
    try {
        windows64 = VeskWindowsIs64Bit();
    } catch (const EVeskError& failure) {
        return context.Fail(VeskCtlSystemFailed, failure.what());
    }
    const WORD native = windows64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    if (machine == native)
        return std::nullopt;
    const std::string package = windows64 ? "64-bit VeskTrayServer (the win64 package)"
                                          : "32-bit VeskTrayServer (the win32 package)";
    std::string what;
    if (machine == IMAGE_FILE_MACHINE_I386)
        what = "is a 32-bit server, and this Windows is 64-bit: a 32-bit server can never watch "
               "the tray of the 64-bit shell.";
    else if (machine == IMAGE_FILE_MACHINE_AMD64)
        what = "is a 64-bit server, and this Windows is 32-bit: it cannot run here.";
    else {
        char type[16];
        std::snprintf(type, sizeof type, "0x%04X", machine);
        what = std::string("is built for another processor (machine type ") + type +
               "), and this Windows is " + (windows64 ? "64" : "32") + "-bit.";
    }
    return context.Fail(VeskCtlWrongBitness, "\"" + server + "\" " + what + " Install the " +
                                                 package + " instead; nothing was written.");
}

constexpr char ShellTakenBack[] = "The user's WinLogon Shell named this server and was removed: "
                                  "the machine's shell applies again at the next logon.\n";

int RunInstall(const TContext& context) {
    if (!context.Args.Mode)
        return context.Fail(VeskCtlBadValue, "install needs --mode 1 or --mode 2.");
    const std::string& modeText = *context.Args.Mode;
    if (modeText != "1" && modeText != "2")
        return context.Fail(VeskCtlBadValue,
                            "\"" + modeText + "\" is not a start mode: give --mode 1 or --mode 2.");
    const std::int32_t mode = modeText == "1" ? 1 : 2;
    int code = VeskCtlSuccess;
    const std::optional<std::string> server = ServerPath(context, code);
    if (!server)
        return code;
    if (const std::optional<int> refused = RefuseOtherBitness(context, *server))
        return *refused;
    const std::string settingsFile = VeskSettingsFileBeside(*server);
    // The server rewrites its settings file at every start and refuses to start when it
    // cannot: an installation there would never run.
    try {
        VeskCheckServerCanRewriteSettings(settingsFile);
    } catch (const EVeskError& failure) {
        return context.Fail(VeskCtlSettingsFailed,
                            std::string(failure.what()) +
                                ": the server rewrites its settings file there at every start, "
                                "and would refuse to start. Install it in a folder of your own, "
                                "such as %LOCALAPPDATA%\\Programs\\VeskTrayServer, and run "
                                "install there; nothing was written.");
    }

    if (mode == 2) {
        code = ApplyChange(context, settingsFile, mode, [&] { VeskWriteUserShell(*server); });
        if (code == VeskCtlSuccess)
            context.Out << "The user's WinLogon Shell is now \"" << *server
                        << "\": at the next logon the server starts, and starts the machine's "
                           "shell itself.\n";
        return code;
    }
    // Left in place, a Shell naming the server would start it in mode 1 at the next logon,
    // and then nothing would start the machine's shell.
    TVeskUserShell shell;
    const std::optional<bool> named = UserShellNamesServer(context, *server, shell, code);
    if (!named)
        return code;
    code = ApplyChange(context, settingsFile, mode,
                       *named ? std::function<void()>(VeskDeleteUserShell) : nullptr);
    if (code == VeskCtlSuccess && *named)
        context.Out << ShellTakenBack;
    return code;
}

int RunUninstall(const TContext& context) {
    int code = VeskCtlSuccess;
    const std::optional<std::string> server = ServerPath(context, code);
    if (!server)
        return code;
    TVeskUserShell shell;
    const std::optional<bool> named = UserShellNamesServer(context, *server, shell, code);
    if (!named)
        return code;
    code = ApplyChange(context, VeskSettingsFileBeside(*server), 0,
                       *named ? std::function<void()>(VeskDeleteUserShell) : nullptr);
    if (code != VeskCtlSuccess)
        return code;
    if (*named)
        context.Out << ShellTakenBack;
    else if (!shell.KeyExists)
        context.Out << "The user has no WinLogon key: there is no Shell value to remove.\n";
    else if (!shell.ValueExists)
        context.Out << "The user has no WinLogon Shell value: there is nothing to remove.\n";
    else
        context.Out << "The user's WinLogon Shell is \"" << shell.Text
                    << "\", not this server: it was left as it is.\n";
    context.Out << "VeskTrayServer will not start until it is installed again.\n";
    return VeskCtlSuccess;
}

int RunHelp(const TContext& context);

const TCommand Commands[] = {
    {"status", OptionTimeout, 1,
     "Usage: vesktrayctl status [--timeout MS]\n"
     "Tells whether VeskTrayServer is running: its window, its process id, and the shared region\n"
     "with the size the system shows for it. Exit code 0 when it runs, 3 when it does not, 4\n"
     "when its window does not answer within the timeout.\n",
     RunStatus},
    {"monitor", OptionTimeout, 3,
     "Usage: vesktrayctl monitor add VALUE [--timeout MS]\n"
     "       vesktrayctl monitor remove VALUE [--timeout MS]\n"
     "Registers or unregisters a monitor with the running server's hook library and prints\n"
     "what the library returned, in decimal and in hexadecimal.\n",
     RunMonitor},
    {"quit", OptionTimeout, 1,
     "Usage: vesktrayctl quit [--timeout MS]\n"
     "Asks VeskTrayServer to quit and waits until its process has ended; each of the two\n"
     "waits lasts at most the timeout.\n",
     RunQuit},
    {"install", OptionMode | OptionServer, 1,
     "Usage: vesktrayctl install --mode 1|2 [--server PATH]\n"
     "Sets the start mode in VeskTrayServer.ini beside the server, keeping everything else in\n"
     "the file. Mode 1: the server installs its hook when started and serves; a user's\n"
     "WinLogon Shell naming the server is removed. Mode 2: the server runs as the user's\n"
     "shell: the user's WinLogon Shell is set to the server's full path (the key must exist).\n"
     "When the registry step fails, the settings file is put back as it was.\n"
     "A server whose bitness is not this Windows' (32-bit on 64-bit Windows, 64-bit on\n"
     "32-bit Windows) is refused with exit code 9, and one in a folder where this user\n"
     "cannot write (the server rewrites its settings file at every start) with exit code 6;\n"
     "nothing is written then.\n"
     "PATH defaults to VeskTrayServer.exe beside vesktrayctl.exe.\n",
     RunInstall},
    {"uninstall", OptionServer, 1,
     "Usage: vesktrayctl uninstall [--server PATH]\n"
     "Removes the user's WinLogon Shell when it names the server (letter case and surrounding\n"
     "quotes aside), so that the machine's shell applies again at the next logon; a Shell\n"
     "naming another program is left as it is. Then sets the start mode to 0.\n"
     "PATH defaults to VeskTrayServer.exe beside vesktrayctl.exe.\n",
     RunUninstall},
    {"help", 0, 2,
     "Usage: vesktrayctl help [COMMAND]\nShows what vesktrayctl or one command does.\n", RunHelp},
};

const TCommand* FindCommand(const std::string& name) {
    for (const TCommand& command : Commands) {
        if (name == command.Name)
            return &command;
    }
    return nullptr;
}

void PrintHelp(std::ostream& out) {
    out << "Usage: vesktrayctl COMMAND [ARGUMENTS] [OPTIONS]\n"
           "Checks, stops and installs VeskTrayServer, and registers monitors with it.\n"
           "\n"
           "Commands:\n"
           "  status                              whether a server runs: window, process id,\n"
           "                                      shared region\n"
           "  monitor add VALUE                   registers a monitor, prints the result\n"
           "  monitor remove VALUE                unregisters a monitor, prints the result\n"
           "  quit                                asks the server to quit, waits until it ended\n"
           "  install --mode 1|2 [--server PATH]  sets the start mode; mode 2 also makes the\n"
           "                                      server the user's WinLogon shell\n"
           "  uninstall [--server PATH]           removes the user's shell value when it is the\n"
           "                                      server, and sets the start mode to 0\n"
           "  help [COMMAND]                      this text, or one command's\n"
           "\n"
           "Options:\n"
           "  --timeout MS   how long status, monitor and quit wait for each answer (default "
        << VeskCtlDefaultTimeoutMs
        << ")\n"
           "  --server PATH  the server program (default: VeskTrayServer.exe beside "
           "vesktrayctl.exe)\n"
           "  --help         this text; after a command, that command's\n"
           "\n"
        << "VALUE is a 32-bit number: decimal (from -2147483648 to 4294967295) or 0x followed\n"
           "by 1 to 8 hexadecimal digits.\n\n"
        << ExitCodes;
}

int RunHelp(const TContext& context) {
    const std::vector<std::string>& words = context.Args.Words;
    if (words.size() == 1) {
        PrintHelp(context.Out);
        return VeskCtlSuccess;
    }
    const TCommand* command = FindCommand(words[1]);
    if (!command)
        return context.Fail(VeskCtlUsage, "unknown command \"" + words[1] +
                                              "\". Run \"vesktrayctl --help\" for the commands.");
    context.Out << command->Usage;
    return VeskCtlSuccess;
}

const char* OptionName(unsigned option) {
    switch (option) {
    case OptionTimeout:
        return "--timeout";
    case OptionMode:
        return "--mode";
    default:
        return "--server";
    }
}

// Splits the arguments into words and options; an exit code when they cannot be read.
std::optional<int> ReadArguments(const std::vector<std::string>& args, TArguments& parsed,
                                 std::ostream& err) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            parsed.Help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            parsed.Words.push_back(arg);
            continue;
        }
        std::optional<std::string>* slot = nullptr;
        unsigned option = 0;
        if (arg == "--timeout") {
            slot = &parsed.Timeout;
            option = OptionTimeout;
        } else if (arg == "--mode") {
            slot = &parsed.Mode;
            option = OptionMode;
        } else if (arg == "--server") {
            slot = &parsed.Server;
            option = OptionServer;
        } else {
            err << ProgramName << ": unknown option \"" << arg
                << "\". Run \"vesktrayctl --help\" for the options.\n";
            return VeskCtlUsage;
        }
        if (parsed.Given & option) {
            err << ProgramName << ": " << arg << " is given twice.\n";
            return VeskCtlUsage;
        }
        if (i + 1 == args.size()) {
            err << ProgramName << ": " << arg << " needs a value.\n";
            return VeskCtlBadValue;
        }
        parsed.Given |= option;
        *slot = args[++i];
    }
    return std::nullopt;
}

std::optional<DWORD> ParseTimeout(const std::string& text) {
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    DWORD value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<DWORD>(c - '0');
    }
    if (value == 0)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::int32_t> VeskParseMonitorValue(std::string_view text) {
    std::uint64_t magnitude = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::string_view digits = text.substr(2);
        if (digits.size() > 8)
            return std::nullopt;
        for (char c : digits) {
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return std::nullopt;
            magnitude = magnitude * 16 + static_cast<std::uint64_t>(digit);
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    }
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty())
        return std::nullopt;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
        if (magnitude > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (negative) {
        if (magnitude > 0x80000000ull)
            return std::nullopt;
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
}

int RunVeskTrayCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TArguments parsed;
    if (const std::optional<int> code = ReadArguments(args, parsed, err))
        return *code;
    if (parsed.Words.empty()) {
        if (parsed.Help) {
            PrintHelp(out);
            return VeskCtlSuccess;
        }
        err << ProgramName << ": no command given. Run \"vesktrayctl --help\" for the commands.\n";
        return VeskCtlUsage;
    }
    const TCommand* command = FindCommand(parsed.Words[0]);
    if (!command) {
        err << ProgramName << ": unknown command \"" << parsed.Words[0]
            << "\". Run \"vesktrayctl --help\" for the commands.\n";
        return VeskCtlUsage;
    }
    if (parsed.Help) {
        out << command->Usage;
        return VeskCtlSuccess;
    }
    for (unsigned option : {OptionTimeout, OptionMode, OptionServer}) {
        if ((parsed.Given & option) && !(command->Options & option)) {
            err << ProgramName << ": " << command->Name << " does not take " << OptionName(option)
                << ".\n";
            return VeskCtlUsage;
        }
    }
    DWORD timeoutMs = VeskCtlDefaultTimeoutMs;
    if (parsed.Timeout) {
        const std::optional<DWORD> given = ParseTimeout(*parsed.Timeout);
        if (!given) {
            err << ProgramName << ": \"" << *parsed.Timeout
                << "\" is not a timeout: give milliseconds, from 1 to 99999999.\n";
            return VeskCtlBadValue;
        }
        timeoutMs = *given;
    }
    if (parsed.Words.size() > command->MaxWords) {
        err << ProgramName << ": unexpected argument \"" << parsed.Words[command->MaxWords]
            << "\".\n";
        return VeskCtlUsage;
    }
    const TContext context{parsed, out, err, timeoutMs};
    return command->Run(context);
}
