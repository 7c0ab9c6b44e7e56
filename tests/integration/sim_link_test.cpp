// The simulator link over the real backend (the Linux stand-ins, or Windows under Wine) against
// skyrelay-sim running in its own process.
#include "platform/messaging.h"
#include "platform/shared_memory.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/traffic_table.h"

#include "integration/other_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using other::Lines;
using other::ReadFile;

class SimLinkAgainstSim : public ::testing::Test {
  protected:
    void SetUp() override {
        runtimeDir_ = other::MakeTempDir("skyrelay-simlink-");
#ifndef _WIN32
        setenv("SKYRELAY_RUNTIME_DIR", runtimeDir_.c_str(), 1);
        std::string prefix = "skyrelay-simlink-" + std::to_string(plat::ProcessId()) + "-";
        setenv("SKYRELAY_SHM_PREFIX", prefix.c_str(), 1);
#endif
        ResetRelayState();
        ResetSimLinkState();
    }

    void TearDown() override {
        SimLinkClose();
        Stop();
        std::filesystem::remove_all(runtimeDir_);
    }

    // Starts skyrelay-sim with the options and waits until its window can be found.
    void Start(const std::vector<std::string>& options, const char* className = "UIPCMAIN") {
        ASSERT_TRUE(sim_.Start("skyrelay-sim", options, Path("sim.out"), Path("sim.err")));
        for (int waited = 0; waited < 1000; ++waited) {
            if (plat::FindWindowByClass(className) != nullptr)
                return;
            ASSERT_TRUE(sim_.Running()) << ReadFile(Path("sim.err"));
            plat::SleepMs(10);
        }
        FAIL() << "skyrelay-sim did not come up: " << ReadFile(Path("sim.err"));
    }

    // Stops the sim as a user would and returns its exit status.
    int Stop() {
        return sim_.Stop();
    }

    std::string Path(const char* name) const {
        return (std::filesystem::path(runtimeDir_) / name).string();
    }

    static SimLinkResult Open() {
        SimLinkResult result = SimLinkResult::Ok;
        SimLinkOpen(0, &result);
        return result;
    }

    std::string runtimeDir_;
    other::Background sim_;
};

TEST_F(SimLinkAgainstSim, HandshakeTrafficWriteAndReadBack) {
    Start({"--log", Path("sim.log"), "--sim-version", "0xFADE0009"});
    ASSERT_EQ(Open(), SimLinkResult::Ok);
    EXPECT_EQ(simLink.simVersion, 9u);
    EXPECT_EQ(simLink.moduleVersion, 0x20000000u);

    TrafficEntry entry{};
    entry.id = 77;
    entry.latitude = 51.5f;
    entry.longitude = -0.125f;
    entry.altitude = 2500.0f;
    entry.heading = 0x8000;
    entry.groundSpeed = 140;
    entry.verticalSpeed = 300;
    std::strcpy(entry.name, "TEST1");
    SimLinkResult result = SimLinkResult::Ok;
    ASSERT_EQ(SimLinkWrite(0x1F80, sizeof entry, &entry, &result), 1);
    EXPECT_EQ(SimLinkProcess(&result), 1);
    TrafficEntry back{};
    ASSERT_EQ(SimLinkRead(0x1F80, sizeof back, &back, &result), 1);
    EXPECT_EQ(SimLinkProcess(&result), 1);
    EXPECT_EQ(std::memcmp(&back, &entry, sizeof entry), 0);

    std::string areaName = "FsasmLib:IPC:" + [] {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(plat::ProcessId()));
        return std::string(hex);
    }() + ":1";
    SimLinkClose();
    EXPECT_EQ(plat::OpenNamedMapping(areaName.c_str()), nullptr);
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(plat::FindWindowByClass("UIPCMAIN"), nullptr);
#ifndef _WIN32
    EXPECT_FALSE(std::filesystem::exists(Path("UIPCMAIN.window"))); // the socket is gone too
#endif

    std::string hex;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&entry);
    for (std::size_t i = 0; i < sizeof entry; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        hex += two;
    }
    EXPECT_EQ(Lines(ReadFile(Path("sim.log"))),
              (std::vector<std::string>{"read 0x3304 4", "read 0x3308 4", "write 0x330A 2 ec03",
                                        "write 0x1F80 40 " + hex, "read 0x1F80 40"}));
    EXPECT_EQ(Lines(ReadFile(Path("sim.out"))),
              (std::vector<std::string>{"aircraft 77 \"TEST1\" lat 51.500000 lon -0.125000 alt "
                                        "2500 ft hdg 180.0 gs 140 kt vs 300"}));
}

TEST_F(SimLinkAgainstSim, OldWindowClassFailingTheHandshakeGivesCode14) {
    Start({"--class", "FS98MAIN", "--module-version", "0x19980004"}, "FS98MAIN");
    EXPECT_EQ(Open(), SimLinkResult::BadHandshakeOldWindow);
    EXPECT_EQ(simLink.areaBase, nullptr);
}

// A module that answers wrongly, may not open the request area (the relay run as administrator),
// or runs with other rights than the relay: the open's result and the system error the link keeps,
// which an error of an earlier exchange does not outlive.
TEST_F(SimLinkAgainstSim, ARefusingModuleGivesItsResultAndSystemError) {
    struct Row {
        std::vector<std::string> options;
        SimLinkResult result;
        std::uint32_t systemError;
        std::uint16_t failuresCounted;
    };
    const Row rows[] = {
        {{"--reply", "2"}, SimLinkResult::BadReply, 0, 0},
        {{"--deny-area"}, SimLinkResult::BadReply, 0, 0},
#ifndef _WIN32
        // On Windows the system refuses such a send by itself; the stand-in plays it here.
        {{"--other-rights"}, SimLinkResult::SendError, 5, 1},
#endif
    };
    for (const Row& row : rows) {
        Start(row.options);
        ResetRelayState();
        simLink.lastSendError = 1400; // an earlier exchange's
        EXPECT_EQ(Open(), row.result) << row.options[0];
        EXPECT_EQ(simLink.lastSendError, row.systemError) << row.options[0];
        EXPECT_EQ(relayState.linkFailureCount, row.failuresCounted) << row.options[0];
        EXPECT_EQ(Stop(), 0);
    }
}

TEST_F(SimLinkAgainstSim, GarbledAreasCannotMisleadTheLink) {
    Start({"--garble", "--log", Path("sim.log")});
    EXPECT_EQ(Open(), SimLinkResult::BadHandshake);
    // Nothing was delivered, so all five passes ran; the handshake word went in the first only.
    EXPECT_EQ(Lines(ReadFile(Path("sim.log"))).size(), 11u);
    EXPECT_EQ(simLink.moduleVersion, 0u);
}

TEST_F(SimLinkAgainstSim, ExistingAreaNameGivesNoMappingThenTheNextSerialWorks) {
    Start({});
    char name[64];
    std::snprintf(name, sizeof name, "FsasmLib:IPC:%X:1", static_cast<unsigned>(plat::ProcessId()));
    bool existed = false;
    plat::Mapping squatter = plat::CreateNamedMapping(name, 0x8000, &existed);
    ASSERT_NE(squatter, nullptr);
    EXPECT_EQ(Open(), SimLinkResult::NoMapping);
    EXPECT_EQ(Open(), SimLinkResult::Ok);
    EXPECT_EQ(simLink.mappingSerial, 2u);
    plat::CloseMapping(squatter);
}

TEST_F(SimLinkAgainstSim, SilentWindowTimesOutAndAStoppedOneRefuses) {
    Start({"--silent"});
    plat::Window window = plat::FindWindowByClass("UIPCMAIN");
    ASSERT_NE(window, nullptr);
    std::uint32_t message = plat::RegisterMessage("FsasmLib:IPC");
    std::uintptr_t reply = 99;
    EXPECT_EQ(plat::SendWithTimeout(window, message, 0, 0, plat::SendBlock, 200, &reply), 0);
    EXPECT_EQ(plat::LastError(), 1460u);
    EXPECT_EQ(reply, 99u);

    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(plat::FindWindowByClass("UIPCMAIN"), nullptr);
    EXPECT_EQ(plat::SendWithTimeout(window, message, 0, 0, plat::SendBlock, 200, &reply), 0);
    EXPECT_EQ(plat::LastError(), 1400u);

#ifndef _WIN32
    // A module started again has a new window; the old handle stays dead, as on Windows.
    Start({});
    EXPECT_NE(plat::FindWindowByClass("UIPCMAIN"), window);
    EXPECT_EQ(plat::SendWithTimeout(window, message, 0, 0, plat::SendBlock, 200, &reply), 0);
    EXPECT_EQ(plat::LastError(), 1400u);
#endif
}

} // namespace
