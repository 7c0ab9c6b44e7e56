// The relay's own join and connection scheduler in this process, over the Linux backend, against
// skyrelay-session in another: menu and automatic attempts over both transports, the relay's
// player name as the host sees it, failed attempts with no host or a host that drops every client,
// and no sockets or threads left behind by the objects of earlier attempts.
#include "session_host_helpers.h"

#include "platform/posix/posix_dialog.h"
#include "platform/posix/session_endpoints.h"
#include "session/scheduler.h"
#include "session/session_join.h"
#include "shell/relay_dialog.h"
#include "state/relay_state.h"
#include "traffic/pump.h"
#include "traffic/session_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <functional>
#include <sys/un.h>
#include <thread>

namespace {

using namespace session_test;

// Entries of a /proc directory (open descriptors or threads of this process).
int CountEntries(const char* path) {
    DIR* directory = opendir(path);
    if (directory == nullptr)
        return -1;
    int count = 0;
    while (dirent* entry = readdir(directory))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(directory);
    return count;
}

int OpenDescriptors() {
    return CountEntries("/proc/self/fd");
}

int Threads() {
    return CountEntries("/proc/self/task");
}

// The main dialog (template 102) for the length of one call: the attempts run inside it, as they
// do from a timer tick or a menu command, so the status line, the menu and the timers are real.
struct AttemptDialog final : plat::DialogHandler {
    std::function<void()> body;
    plat::Window self = nullptr;

    int OnInitDialog(plat::Window window) override {
        self = window;
        mainDialog = window;
        body();
        plat::EndModalDialog(window, static_cast<int>(plat::CommandOk));
        return 1;
    }
    void OnCommand(unsigned) override {}
    bool OnSysCommand(unsigned) override { return false; }
};

// The host's "joined: NAME (player ID, ...)" line for that name; the id, or nothing.
std::optional<dp::DPID> JoinedId(ChildProcess& host, const std::string& name,
                                 Clock::duration timeout = 20s) {
    std::string prefix = "joined: " + name + " (player ";
    auto parse = [&prefix](const std::string& line) -> std::optional<dp::DPID> {
        return static_cast<dp::DPID>(std::stoul(line.substr(prefix.size())));
    };
    std::optional<std::string> line = host.WaitForLine(prefix, timeout);
    if (!line)
        return std::nullopt;
    return parse(*line);
}

// True once the host has printed a line starting with `prefix`, earlier lines included.
bool HostSaid(ChildProcess& host, const std::string& prefix, Clock::duration timeout = 20s) {
    auto said = [&prefix](const std::string& line) { return line.rfind(prefix, 0) == 0; };
    if (std::any_of(host.seen.begin(), host.seen.end(), said))
        return true;
    return host.WaitForLine(prefix, timeout).has_value();
}

class RelayJoin : public ::testing::Test {
  protected:
    void SetUp() override {
        posix::ResetDialog();
        posix::SetHeadless(true);
        input_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
        report_ = std::tmpfile();
        ASSERT_GE(input_, 0);
        ASSERT_NE(report_, nullptr);
        posix::SetDialogStreams(input_, fileno(report_), fileno(report_));
        ResetRelayState();
        ResetSchedulerState();
        ResetJoinState();
        ResetDrainState();
        ResetPumpState();
        sessionEvent = plat::CreateSessionEvent();
        ASSERT_NE(sessionEvent, nullptr);
    }

    void TearDown() override {
        if (sessionObject != nullptr) {
            if (relayState.searching == 0)
                sessionObject->Close();
            sessionObject->Release();
            sessionObject = nullptr;
        }
        plat::CloseSessionEvent(sessionEvent);
        sessionEvent = nullptr;
        ResetRelayState();
        ResetDrainState();
        posix::ResetDialog();
        std::fclose(report_);
        close(input_);
    }

    // Runs `body` inside the main dialog; the dialog is gone (and its timers with it) afterwards.
    void InDialog(std::function<void()> body) {
        AttemptDialog dialog;
        dialog.body = std::move(body);
        ASSERT_NE(plat::RunModalDialog(nullptr, MainDialogTemplate, &dialog), -1);
        mainDialog = nullptr;
    }

    // The headless lines the dialog wrote so far.
    std::vector<std::string> ReportLines() {
        std::vector<std::string> lines;
        std::string text;
        char chunk[512];
        off_t offset = 0;
        ssize_t got;
        while ((got = pread(fileno(report_), chunk, sizeof chunk, offset)) > 0) {
            text.append(chunk, static_cast<std::size_t>(got));
            offset += got;
        }
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    int input_ = -1;
    FILE* report_ = nullptr;
    PrivateEndpoints endpoints_;
};

enum class AttemptPath { Menu, Automatic };

struct JoinCase {
    const char* label;
    AttemptPath path;
    std::uint16_t transport; // useIpx of the attempt: 0 TCP/IP, 1 IPX/SPX
    std::int32_t usingSquawkBox;
    const char* player;    // playerName, as read from the simulator's configuration
    const char* relayName; // the short name the host must see
};

// Test names and failures show the case by its label.
void PrintTo(const JoinCase& joinCase, std::ostream* out) {
    *out << joinCase.label;
}

class RelayJoinOverTransport : public RelayJoin, public ::testing::WithParamInterface<JoinCase> {};

// One attempt joins the session through the asked-for transport only (the host is reachable by
// that one alone), under the name the options give, and starts the pump; the relay's player id
// is the one the host assigned, and leaving shows up on the host.
TEST_P(RelayJoinOverTransport, JoinsUnderItsNameAndStartsThePump) {
    const JoinCase& param = GetParam();
    std::unique_ptr<ChildProcess> host;
    if (param.transport == 1) {
        // A TCP/IP port nobody listens on for the relay: only the IPX socket reaches the host.
        host = std::make_unique<ChildProcess>(
            std::vector<std::string>{SessionProgram(), "--port", std::to_string(FreePort())});
    } else {
        // The host's IPX socket lies in another directory: only TCP/IP reaches it.
        std::string elsewhere = endpoints_.directory() + "/elsewhere";
        ASSERT_TRUE(posix::MakeDirs(elsewhere));
        setenv("SKYRELAY_RUNTIME_DIR", elsewhere.c_str(), 1);
        host = std::make_unique<ChildProcess>(std::vector<std::string>{SessionProgram()});
        setenv("SKYRELAY_RUNTIME_DIR", endpoints_.directory().c_str(), 1);
    }
    StartHost(*host);

    std::strcpy(playerName, param.player);
    relayState.usingSquawkBox = param.usingSquawkBox;
    InDialog([&] {
        if (param.path == AttemptPath::Menu) {
            ConnectFromMenu(param.transport == 1 ? IpxSpxCommand : TcpIpCommand);
        } else {
            // The attempt toggles the transport first; from a fresh process it is TCP/IP.
            if (param.transport == 1)
                relayState.useIpx = 0;
            OnAutoConnectTimer();
        }
        EXPECT_EQ(relayState.useIpx, param.transport);
        EXPECT_EQ(relayState.searching, 0);
        EXPECT_EQ(relayState.connected, 1);
        EXPECT_EQ(relayState.pumpTimerId, PumpTimer);
        EXPECT_NE(sessionObject, nullptr);
    });
    EXPECT_EQ(ReportLines(), (std::vector<std::string>{"status: Connected to a session"}));
    EXPECT_STREQ(relayPlayerName, param.relayName);

    std::optional<dp::DPID> id = JoinedId(*host, param.relayName);
    ASSERT_TRUE(id) << host->RestOfOutput(1s);
    EXPECT_EQ(relayPlayerId, *id);

    LeaveSession();
    EXPECT_EQ(sessionObject, nullptr);
    EXPECT_TRUE(HostSaid(*host, "left: " + std::string(param.relayName) + " (player " +
                                    std::to_string(*id) + ")"));
}

INSTANTIATE_TEST_SUITE_P(
    Attempt, RelayJoinOverTransport,
    ::testing::Values(JoinCase{"MenuTcpIp", AttemptPath::Menu, 0, 0, "Pilot", "Pilotai"},
                      JoinCase{"MenuIpxSpx", AttemptPath::Menu, 1, 1, "Pilot", "Skyrelay"},
                      JoinCase{"AutomaticTcpIp", AttemptPath::Automatic, 0, 1, "Pilot", "Skyrelay"},
                      // A name that with "ai" is longer than 15 characters arrives cut.
                      JoinCase{"AutomaticIpxSpx", AttemptPath::Automatic, 1, 0,
                               "JonathanLivingston", "JonathanLivings"}),
    [](const ::testing::TestParamInfo<JoinCase>& caseInfo) {
        return std::string(caseInfo.param.label);
    });

// A menu attempt made while connected joins again on a new object: each earlier membership is
// closed and released, so the host sees each earlier player leave, and the process keeps as many
// descriptors and threads as after the first reconnection.
TEST_F(RelayJoin, ReconnectingFromTheMenuReleasesTheEarlierMembership) {
    ChildProcess host({SessionProgram()});
    StartHost(host);
    std::strcpy(playerName, "Pilot");
    relayState.usingSquawkBox = 0;
    InDialog([&] {
        std::optional<dp::DPID> previous;
        int descriptors = 0;
        int threads = 0;
        for (int attempt = 0; attempt < 12; ++attempt) {
            ConnectFromMenu(attempt % 2 == 0 ? TcpIpCommand : IpxSpxCommand);
            ASSERT_EQ(relayState.searching, 0) << "attempt " << attempt;
            std::optional<dp::DPID> id = JoinedId(host, "Pilotai");
            ASSERT_TRUE(id) << "attempt " << attempt;
            EXPECT_EQ(relayPlayerId, *id);
            if (previous) {
                ASSERT_TRUE(
                    HostSaid(host, "left: Pilotai (player " + std::to_string(*previous) + ")"))
                    << "attempt " << attempt;
            }
            previous = id;
            if (attempt == 1) {
                descriptors = OpenDescriptors();
                threads = Threads();
            }
        }
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_EQ(Threads(), threads);
    });
    std::vector<std::string> lines = ReportLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "status: Connected to a session"), 12);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("box: ", 0) == 0; }),
              0);
}

// With no host, a menu attempt tells the user there is no session and an automatic one says
// nothing; neither connects, starts the pump or leaves a socket or a thread behind.
TEST_F(RelayJoin, WithNoHostMenuAttemptsSayNoSessionAndAutomaticOnesAreSilent) {
    InDialog([&] {
        ConnectFromMenu(TcpIpCommand);
        ConnectFromMenu(IpxSpxCommand);
        OnAutoConnectTimer();
        OnAutoConnectTimer();
        int descriptors = OpenDescriptors();
        int threads = Threads();
        for (int attempt = 0; attempt < 10; ++attempt) {
            ConnectFromMenu(attempt % 2 == 0 ? TcpIpCommand : IpxSpxCommand);
            OnAutoConnectTimer();
        }
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_EQ(Threads(), threads);
        EXPECT_EQ(relayState.searching, 1);
        EXPECT_EQ(relayState.connected, 0);
        EXPECT_EQ(relayState.pumpTimerId, 0u);
    });
    EXPECT_EQ(ReportLines(), std::vector<std::string>(12, std::string("box: ") + NoSessionText));
}

// A host that takes every connection and drops it at once: each attempt opens a socket and starts
// a reader, and fails. Twenty such attempts leave the process with the descriptors and threads it
// had before them, so every earlier attempt's object was released with its link.
TEST_F(RelayJoin, FailedAttemptsAgainstADroppingHostLeaveNoSocketsOrThreads) {
    int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in inet{};
    inet.sin_family = AF_INET;
    inet.sin_port = htons(endpoints_.port());
    inet.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(tcp, reinterpret_cast<const sockaddr*>(&inet), sizeof inet), 0);
    int ipx = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    std::string path = posix::IpxSocketPath();
    ASSERT_LT(path.size(), sizeof local.sun_path);
    std::memcpy(local.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(ipx, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(listen(tcp, 16), 0);
    ASSERT_EQ(listen(ipx, 16), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> dropped{0};
    std::thread dropper([&] {
        pollfd listeners[2] = {{tcp, POLLIN, 0}, {ipx, POLLIN, 0}};
        while (!stop) {
            if (poll(listeners, 2, 50) <= 0)
                continue;
            for (pollfd& listener : listeners)
                if ((listener.revents & POLLIN) != 0) {
                    int client = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
                    if (client >= 0) {
                        close(client);
                        ++dropped;
                    }
                }
        }
    });

    // Each attempt's reader ends when the host drops it, so in the end only these threads remain.
    int threads = Threads();
    InDialog([&] {
        ConnectFromMenu(TcpIpCommand);
        OnAutoConnectTimer();
        int descriptors = OpenDescriptors();
        for (int attempt = 0; attempt < 10; ++attempt) {
            OnAutoConnectTimer();
            ConnectFromMenu(attempt % 2 == 0 ? IpxSpxCommand : TcpIpCommand);
        }
        // The last attempt's object is still sessionObject, as after any failed attempt.
        EXPECT_NE(sessionObject, nullptr);
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_EQ(relayState.searching, 1);
    });
    for (int waited = 0; waited < 500 && Threads() != threads; ++waited)
        plat::SleepMs(10);
    EXPECT_EQ(Threads(), threads);
    stop = true;
    dropper.join();
    close(tcp);
    close(ipx);
    EXPECT_GE(dropped.load(), 22) << "the attempts did not reach the dropping host";
    EXPECT_EQ(ReportLines(), std::vector<std::string>(11, std::string("box: ") + NoSessionText));
}

} // namespace
