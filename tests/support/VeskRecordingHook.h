// What the recording hook library and the tests that load it agree on: the environment
// variables that set it up, its fixtures, and what it answers. The library itself describes
// what each one does.
#pragma once

#include <cstdint>

namespace VeskRecordingHook {

inline constexpr char LogVariable[] = "VESK_HOOK_LOG";
inline constexpr char InstallVariable[] = "VESK_HOOK_INSTALL";
inline constexpr char ShellUpVariable[] = "VESK_HOOK_SHELL_UP";
inline constexpr char AddVariable[] = "VESK_HOOK_ADD";
inline constexpr char RemoveVariable[] = "VESK_HOOK_REMOVE";
inline constexpr char FixtureVariable[] = "VESK_HOOK_FIXTURE";

// The values of FixtureVariable.
inline constexpr char RegisterClassFixture[] = "register-class";
inline constexpr char RefuseCreateFixture[] = "refuse-create";
inline constexpr char RefuseDestroyFixture[] = "refuse-destroy";
inline constexpr char ReportUserShellFixture[] = "report-user-shell";
inline constexpr char RemoveUserLogonKeyFixture[] = "remove-user-logon-key";
inline constexpr char TimerCallbackFixture[] = "timer-callback";
inline constexpr char InstallThrowsFixture[] = "install-throws";
inline constexpr char UninstallThrowsFixture[] = "uninstall-throws";

// Unless told otherwise, the argument xor a constant of each entry point's own, so that a test
// sees which entry point a request reached and with what.
constexpr std::int32_t AddMonitorResult(std::int32_t value) {
    return value ^ 0x5A5A5A5A;
}
constexpr std::int32_t RemoveMonitorResult(std::int32_t value) {
    return value ^ 0x0F0F0F0F;
}

} // namespace VeskRecordingHook
