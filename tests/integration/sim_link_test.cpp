// The simulator link over the Linux backend against skyrelay-sim running in its own process.
#include "platform/messaging.h"
#include "platform/shared_memory.h"
#include "session/relay_state.h"
#include "simlink/sim_link.h"
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class SimLinkAgainstSim : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/skyrelay-simlink-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        runtimeDir_ = dir;
        setenv("SKYRELAY_RUNTIME_DIR", runtimeDir_.c_str(), 1);
        std::string prefix = "skyrelay-simlink-" + std::to_string(getpid()) + "-";
        setenv("SKYRELAY_SHM_PREFIX", prefix.c_str(), 1);
        ResetRelayState();
        ResetSimLinkState();
    }

    void TearDown() override {
        SimLinkClose();
        Stop();
        for (const char* name : {"/sim.log", "/sim.out", "/sim.err"})
            std::remove((runtimeDir_ + name).c_str());
        rmdir(runtimeDir_.c_str());
    }

    // Starts skyrelay-sim with the options and waits until its window can be found.
    void Start(std::vector<std::string> options, const char* className = "UIPCMAIN") {
        options.insert(options.begin(), std::string(SKYRELAY_BIN_DIR) + "/skyrelay-sim");
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            int out = open((runtimeDir_ + "/sim.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open((runtimeDir_ + "/sim.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> argv;
            for (auto& option : options)
                argv.push_back(option.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        for (int waited = 0; waited < 500; ++waited) {
            if (plat::FindWindowByClass(className) != nullptr)
                return;
            int status = 0;
            ASSERT_EQ(waitpid(pid_, &status, WNOHANG), 0) << ReadFile(runtimeDir_ + "/sim.err");
            plat::SleepMs(10);
        }
        FAIL() << "skyrelay-sim did not come up: " << ReadFile(runtimeDir_ + "/sim.err");
    }

    // Stops the sim as a user would (SIGTERM) and returns its exit status; kills it if it hangs.
    int Stop() {
        if (pid_ <= 0)
            return -1;
        kill(pid_, SIGTERM);
        int status = -1;
        for (int waited = 0; waited < 500; ++waited) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            plat::SleepMs(10);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }

    std::string Path(const char* name) const { return runtimeDir_ + "/" + name; }

    static SimLinkResult Open() {
        SimLinkResult result = SimLinkResult::Ok;
        SimLinkOpen(0, &result);
        return result;
    }

    std::string runtimeDir_;
    pid_t pid_ = -1;
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
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(getpid()));
        return std::string(hex);
    }() + ":1";
    SimLinkClose();
    EXPECT_EQ(plat::OpenNamedMapping(areaName.c_str()), nullptr);
    EXPECT_EQ(Stop(), 0);
    struct stat info {};
    EXPECT_NE(stat(Path("UIPCMAIN.window").c_str(), &info), 0);

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

TEST_F(SimLinkAgainstSim, ReplyOtherThanOneIsBadReplyAndNotCounted) {
    Start({"--reply", "2"});
    EXPECT_EQ(Open(), SimLinkResult::BadReply);
    EXPECT_EQ(relayState.linkFailureCount, 0);
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
    std::snprintf(name, sizeof name, "FsasmLib:IPC:%X:1", static_cast<unsigned>(getpid()));
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
}

} // namespace
