// On 64-bit Windows a 32-bit client meets a 64-bit server, and the other way round. Runs in
// the 64-bit build, in its 64-bit prefix, which starts the 32-bit build's programs too.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "ClientTestSupport.h"
#include "VeskRecordingHook.h"
#include "VeskTestSupport.h"

using namespace VeskTest;
using namespace VeskClientTest;

namespace {

struct Pairing {
    const char* Name;
    bool ServerIsPeer; // the 32-bit server with 64-bit clients, else the other way round
};

class CrossBitness : public ::testing::TestWithParam<Pairing> {};

// Arguments and results with bit 31 set travel both ways: a wrong sign or width on either
// side of the boundary shows as another number.
TEST_P(CrossBitness, ClientsOfTheOtherBitnessReachTheHookAndGetItsResultsUnchanged) {
    const std::optional<std::string> peer = PeerBinDir();
    if (!peer)
        GTEST_SKIP() << "VESK_PEER_BIN_DIR names no 32-bit build";
    const std::string serverBin = GetParam().ServerIsPeer ? *peer : BinDir();
    const std::string clientBin = GetParam().ServerIsPeer ? BinDir() : *peer;

    TEnvironmentVariable install(VeskRecordingHook::InstallVariable, "");
    TEnvironmentVariable fixture(VeskRecordingHook::FixtureVariable, "");
    TServerFolder folder(THook::Recording, StartModeSettings(1), false, serverBin);
    auto server = folder.Start();
    ASSERT_TRUE(WaitUntil([] { return FindControlWindow() != nullptr; }));

    const std::string ctl = clientBin + "vesktrayctl.exe";
    const std::int32_t first = static_cast<std::int32_t>(0x80000001u);
    const std::int32_t second = static_cast<std::int32_t>(0xF0000000u);
    const auto text = [](std::int32_t v) { return std::to_string(v); };
    // vesktrayctl also shows a result in hexadecimal.
    const auto shown = [&](std::int32_t v) {
        char hex[16];
        std::snprintf(hex, sizeof hex, " (0x%08X)", static_cast<unsigned>(v));
        return text(v) + hex;
    };

    TRunResult run = RunProgram(ctl, {"monitor", "add", "0x80000001"});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, "AddMonitor(" + text(first) + ") returned " +
                           shown(VeskRecordingHook::AddMonitorResult(first)) + "\n");

    run = RunProgram(clientBin + "VeskTrayClientExample.exe", {"0xF0000000"});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, "AddMonitor(" + text(second) + ") returned " +
                           text(VeskRecordingHook::AddMonitorResult(second)) +
                           "\nshared region: 20480 bytes\nRemoveMonitor(" + text(second) +
                           ") returned " + text(VeskRecordingHook::RemoveMonitorResult(second)) +
                           "\n");

    run = RunProgram(ctl, {"monitor", "remove", "0x80000001"});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, "RemoveMonitor(" + text(first) + ") returned " +
                           shown(VeskRecordingHook::RemoveMonitorResult(first)) + "\n");

    run = RunProgram(ctl, {"quit"});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(server->Wait(), 0u);

    // The hook saw every argument as the client meant it.
    const auto calls = folder.Calls();
    ASSERT_EQ(HookEvents(calls), "load InstallTrayHook AddMonitor AddMonitor RemoveMonitor "
                                 "RemoveMonitor UninstallTrayHook unload");
    const std::string arguments[] = {text(first), text(second), text(second), text(first)};
    for (size_t i = 0; i < std::size(arguments); ++i)
        EXPECT_EQ(calls[2 + i].Argument, arguments[i]) << calls[2 + i].Event;
}

INSTANTIATE_TEST_SUITE_P(Both, CrossBitness,
                         ::testing::Values(Pairing{"ServerOfThisBuildClientsOf32Bit", false},
                                           Pairing{"ServerOf32BitClientsOfThisBuild", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
