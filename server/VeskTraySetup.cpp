#include "VeskTraySetup.h"

#include <windows.h>

#include "VeskFile.h"

namespace {

TVeskIniValue* StartModeValue(TVeskIni& settings) {
    return settings.Section(VeskSettingsSection)->Key(VeskStartModeKey)->FirstValue(0);
}

// Letter case folded the way the ANSI code page folds it.
std::string Upper(std::string text) {
    if (!text.empty())
        CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

} // namespace

std::string VeskSettingsFileBeside(const std::string& executablePath) {
    return VeskFolderOf(executablePath) + "VeskTrayServer.ini";
}

std::int32_t VeskStartModeOf(TVeskIni& settings) {
    return StartModeValue(settings)->AsInteger();
}

void VeskSetStartMode(TVeskIni& settings, std::int32_t mode) {
    StartModeValue(settings)->SetInteger(mode);
}

bool VeskShellNamesServer(const std::string& shell, const std::string& serverFullPath) {
    std::string path = shell;
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    if (path.empty())
        return false;
    // Only a full path can name the server: a relative one depends on who starts it.
    const bool full = (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
                      path.rfind("\\\\", 0) == 0;
    if (!full)
        return false;
    return Upper(VeskLongPath(VeskFullPath(path))) == Upper(serverFullPath);
}
