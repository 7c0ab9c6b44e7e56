// The DirectPlay stand-in against skyrelay-session across processes, over both transports, and
// against a host that dies or misbehaves.
#include "session_host_helpers.h"

#include "platform/posix/session_endpoints.h"
#include "platform/posix/session_wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sys/un.h>
#include <thread>

namespace {

using namespace session_test;
namespace wire = posix::wire;

class SessionOverRoute : public ::testing::TestWithParam<Route> {};

// The scripted peers' messages reach the relay's player with the right sender ids and names,
// the event is signalled for them, and Receive keeps DirectPlay's sizes and system messages.
TEST_P(SessionOverRoute, RelayReceivesScriptedMessagesWithSenderNames) {
    PrivateEndpoints endpoints;
    std::string script =
        WriteScenario(endpoints, "# two peers, one position each, then a system message\n"
                                 "join ALPHA\n"
                                 "join BRAVO\n"
                                 "wait 50\n"
                                 "pos ALPHA -655360 6553600 0x800 10001750 0x40000000 1000 "
                                 "32768\n"
                                 "send BRAVO 1710000001ff\n"
                                 "system host\n");
    ChildProcess host({SessionProgram(), "--scenario", script});
    StartHost(host);

    Member relay;
    Join(GetParam(), "Skyrelay", relay);
    ASSERT_TRUE(host.WaitForLine("joined: Skyrelay"));
    ASSERT_TRUE(WaitForEvent(relay.event, 10s)) << "no signal for the first message";

    // A buffer that is too small: the needed size, the message stays queued, ids untouched.
    dp::DPID from = 77, to = 78;
    std::uint8_t small[8];
    std::uint32_t size = sizeof small;
    ASSERT_EQ(relay.object->Receive(&from, &to, dp::ReceiveAll, small, &size),
              dp::ErrBufferTooSmall);
    EXPECT_EQ(size, 58u);
    EXPECT_EQ(from, 77u);
    EXPECT_EQ(to, 78u);

    std::optional<Received> position = NextMessage(relay);
    ASSERT_TRUE(position);
    ASSERT_EQ(position->data.size(), 58u);
    EXPECT_EQ(TypeOf(position->data), 4121u);
    EXPECT_EQ(position->to, relay.player);
    EXPECT_EQ(ShortName(relay.object, position->from), "ALPHA");
    const std::uint8_t expectedFields[] = {
        0x00, 0x00, 0xF6, 0xFF, // 24: vertical speed -655360
        0x00, 0x00, 0x64, 0x00, // 28: ground speed 6553600
        0x00, 0x00, 0x00, 0x00, // 32
        0x00, 0x08, 0x00, 0x00, // 36: heading word 0x800
        0x56, 0x9D, 0x98, 0x00, // 40: latitude 10001750
        0x00, 0x00, 0x00, 0x40, // 44: longitude 0x40000000
        0xE8, 0x03, 0x00, 0x00, // 48: whole metres 1000
        0x00, 0x00, 0x00, 0x00, // 52
        0x00, 0x80,             // 56: fraction 32768
    };
    EXPECT_EQ(std::vector<std::uint8_t>(position->data.begin() + 24, position->data.end()),
              std::vector<std::uint8_t>(std::begin(expectedFields), std::end(expectedFields)));

    std::optional<Received> raw = NextMessage(relay);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->data, (std::vector<std::uint8_t>{0x17, 0x10, 0x00, 0x00, 0x01, 0xFF}));
    EXPECT_EQ(ShortName(relay.object, raw->from), "BRAVO");
    EXPECT_NE(raw->from, position->from);

    std::optional<Received> system = NextMessage(relay);
    ASSERT_TRUE(system);
    EXPECT_EQ(system->from, dp::SystemPlayerId);
    EXPECT_EQ(system->data, (std::vector<std::uint8_t>{0x01, 0x01, 0x00, 0x00}));

    std::uint32_t none = 0;
    EXPECT_EQ(relay.object->Receive(&from, &to, dp::ReceiveAll, nullptr, &none), dp::ErrNoMessages);

    // Leaving shows up on the host.
    EXPECT_EQ(relay.object->DestroyPlayer(relay.player), dp::Ok);
    EXPECT_TRUE(host.WaitForLine("left: Skyrelay"));
}

INSTANTIATE_TEST_SUITE_P(Routes, SessionOverRoute,
                         ::testing::Values(Route::TcpAddress, Route::TcpOffered, Route::Ipx),
                         [](const ::testing::TestParamInfo<Route>& routeInfo) {
                             switch (routeInfo.param) {
                             case Route::TcpAddress:
                                 return "TcpAddress";
                             case Route::TcpOffered:
                                 return "TcpOffered";
                             default:
                                 return "Ipx";
                             }
                         });

// Player names come with the DirectPlay sizes and layout; a peer that has left is unknown; the
// script's `end` ends the session with DPSYS_SESSIONLOST and the host exits.
TEST(SessionHost, PlayerNamesLeavingAndEndOfSession) {
    PrivateEndpoints endpoints;
    std::string script = WriteScenario(endpoints, "join CHARLIE\n"
                                                  "send CHARLIE 01\n"
                                                  "wait 300\n"
                                                  "leave CHARLIE\n"
                                                  "wait 100\n"
                                                  "end\n");
    ChildProcess host({SessionProgram(), "--scenario", script});
    StartHost(host);
    Member relay;
    Join(Route::Ipx, "Skyrelay", relay);

    std::optional<Received> hello = NextMessage(relay);
    ASSERT_TRUE(hello);
    dp::DPID charlie = hello->from;
    // Peers announced by the host have a short name and a null long name: DPNAME + "CHARLIE\0".
    std::uint32_t size = 0;
    ASSERT_EQ(relay.object->GetPlayerName(charlie, nullptr, &size), dp::ErrBufferTooSmall);
    EXPECT_EQ(size, sizeof(dp::DPNAME) + 8);
    std::vector<std::uint8_t> buffer(size + 3, 0xCC);
    std::uint32_t bigger = size + 3;
    ASSERT_EQ(relay.object->GetPlayerName(charlie, buffer.data() + 1, &bigger), dp::Ok);
    EXPECT_EQ(bigger, size);
    dp::DPNAME name{};
    std::memcpy(&name, buffer.data() + 1, sizeof name);
    EXPECT_EQ(name.dwSize, sizeof(dp::DPNAME));
    EXPECT_EQ(name.lpszShortNameA, reinterpret_cast<char*>(buffer.data() + 1 + sizeof(dp::DPNAME)));
    EXPECT_STREQ(name.lpszShortNameA, "CHARLIE");
    EXPECT_EQ(name.lpszLongNameA, nullptr);
    EXPECT_EQ(buffer[1 + size], 0xCC) << "wrote past the size it asked for";

    // The relay's own player: its name as created, through the same call.
    EXPECT_EQ(ShortName(relay.object, relay.player), "Skyrelay");

    struct Listed {
        std::vector<std::string> names;
    } listed;
    relay.object->EnumPlayers(
        nullptr,
        [](dp::DPID, std::uint32_t, const dp::DPNAME* entry, std::uint32_t,
           void* context) -> dp::BOOL {
            static_cast<Listed*>(context)->names.push_back(
                entry->lpszShortNameA != nullptr ? entry->lpszShortNameA : "");
            return dp::True;
        },
        &listed, 0);
    std::sort(listed.names.begin(), listed.names.end());
    EXPECT_EQ(listed.names, (std::vector<std::string>{"CHARLIE", "Skyrelay"}));

    std::optional<Received> lost = NextMessage(relay);
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->from, dp::SystemPlayerId);
    EXPECT_EQ(lost->data, (std::vector<std::uint8_t>{0x31, 0x00, 0x00, 0x00}));
    std::uint32_t unknown = 0;
    EXPECT_EQ(relay.object->GetPlayerName(charlie, nullptr, &unknown), dp::ErrInvalidPlayer);
    EXPECT_EQ(host.Wait(10s), 0);
}

// Synthetic peers reach the relay; when the host is killed the relay's player gets
// DPSYS_SESSIONLOST and its event is signalled.
TEST(SessionHost, KilledHostGivesSessionLost) {
    PrivateEndpoints endpoints;
    ChildProcess host({SessionProgram(), "--aircraft", "5"});
    StartHost(host);
    Member relay;
    Join(Route::TcpAddress, "Skyrelay", relay);

    std::set<std::string> names;
    for (int i = 0; i < 30 && names.size() < 5; ++i) {
        std::optional<Received> message = NextMessage(relay);
        ASSERT_TRUE(message);
        EXPECT_EQ(TypeOf(message->data), 4121u);
        EXPECT_GE(message->data.size(), 58u);
        if (std::optional<std::string> name = ShortName(relay.object, message->from))
            names.insert(*name);
    }
    EXPECT_EQ(names.size(), 5u) << "each synthetic peer has a name of its own";

    host.Kill(SIGKILL);
    bool lost = false;
    for (int i = 0; i < 1000 && !lost; ++i) {
        std::optional<Received> message = NextMessage(relay);
        ASSERT_TRUE(message) << "no session-lost message after the host died";
        lost = message->from == dp::SystemPlayerId && message->data.size() == 4 &&
               TypeOf(message->data) == dp::SysSessionLost;
    }
    EXPECT_TRUE(lost);
    // The link is gone: a second player cannot be created.
    dp::DPID second = 0;
    EXPECT_EQ(relay.object->CreatePlayer(&second, nullptr, nullptr, nullptr, 0, 0),
              dp::ErrNoConnection);
}

// With no host, EnumSessions makes only its last, timed-out call and Open fails.
TEST(SessionHost, NoHostMeansNoSession) {
    PrivateEndpoints endpoints;
    for (Route route : {Route::TcpAddress, Route::Ipx}) {
        dp::IDirectPlay4A* object = ConnectedObject(route);
        ASSERT_NE(object, nullptr);
        FoundSessions found;
        EXPECT_EQ(EnumerateSessions(object, found), dp::Ok);
        EXPECT_TRUE(found.instances.empty());
        EXPECT_EQ(found.timedOutCalls, 1);
        dp::DPSESSIONDESC2 open{};
        open.dwSize = sizeof open;
        EXPECT_TRUE(Failed(object->Open(&open, dp::OpenJoin)));
        object->Release();
    }
}

// The program's own behaviour: a bad script line stops it before it hosts; SIGTERM and SIGINT
// stop it cleanly.
TEST(SessionHost, BadScriptLineExitsWithStatusTwoBeforeHosting) {
    PrivateEndpoints endpoints;
    std::string script = WriteScenario(endpoints, "join A\n\n# fine so far\npos A 1 2 3\n");
    ChildProcess host({SessionProgram(), "--scenario", script});
    EXPECT_EQ(host.Wait(10s), 2);
    std::string output = host.RestOfOutput();
    EXPECT_NE(output.find(":4: expected: pos NAME"), std::string::npos) << output;
    EXPECT_EQ(output.find("hosting"), std::string::npos) << output;
    EXPECT_EQ(posix::ConnectUnix(posix::IpxSocketPath()), -1);
}

TEST(SessionHost, StopsCleanlyOnSignals) {
    for (int signal : {SIGTERM, SIGINT}) {
        PrivateEndpoints endpoints;
        ChildProcess host({SessionProgram(), "--aircraft", "2"});
        StartHost(host);
        EXPECT_EQ(host.Kill(signal), 0);
        EXPECT_NE(host.RestOfOutput().find("stopped: "), std::string::npos);
        EXPECT_NE(access(posix::IpxSocketPath().c_str(), F_OK), 0)
            << "the IPX socket file is left behind";
    }
}

// ---- a host that sends malformed frames -----------------------------------------------------

// Plays a host on the IPX socket: answers the join correctly, then sends `bad` and reports
// whether the client ended the connection.
class BadHost {
  public:
    explicit BadHost(std::vector<std::uint8_t> bad) : bad_(std::move(bad)) {
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = posix::IpxSocketPath();
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        listen(listener_, 1);
        thread_ = std::thread([this] { Serve(); });
    }
    ~BadHost() {
        Finish();
        close(listener_);
    }
    BadHost(const BadHost&) = delete;
    BadHost& operator=(const BadHost&) = delete;

    // Waits for the host's thread; true if the client closed the connection after the bad bytes.
    bool Finish() {
        if (thread_.joinable()) {
            shutdown(listener_, SHUT_RDWR);
            thread_.join();
        }
        return clientHungUp_;
    }

  private:
    // Reads one frame with a time-out; nothing on end, error or time-out.
    static std::optional<wire::Frame> ReadFrame(int fd, std::vector<std::uint8_t>& pending) {
        for (;;) {
            wire::ParseResult parsed = wire::ParseFrame(pending);
            if (parsed.status == wire::ParseStatus::Complete) {
                pending.erase(pending.begin(),
                              pending.begin() + static_cast<std::ptrdiff_t>(parsed.consumed));
                return parsed.frame;
            }
            if (parsed.status == wire::ParseStatus::Invalid)
                return std::nullopt;
            pollfd entry{fd, POLLIN, 0};
            if (poll(&entry, 1, 10000) != 1)
                return std::nullopt;
            std::uint8_t chunk[512];
            ssize_t count = recv(fd, chunk, sizeof chunk, 0);
            if (count <= 0)
                return std::nullopt;
            pending.insert(pending.end(), chunk, chunk + count);
        }
    }

    static std::uint32_t RequestId(const wire::Frame& frame) {
        std::uint32_t id = 0;
        std::memcpy(&id, frame.body.data(), 4);
        return id;
    }

    void Serve() {
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, 10000) != 1)
            return;
        int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0)
            return;
        std::vector<std::uint8_t> pending;
        const dp::GUID instance{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
        while (std::optional<wire::Frame> frame = ReadFrame(fd, pending)) {
            wire::Bytes reply;
            if (frame->kind == wire::FrameKind::EnumSessionsRequest)
                reply = wire::Encode(wire::SessionList{
                    RequestId(*frame), {wire::SessionInfo{instance, {}, 0, 8, 1, "bad"}}});
            else if (frame->kind == wire::FrameKind::JoinRequest)
                reply = wire::Encode(wire::JoinReply{RequestId(*frame), dp::Ok});
            else if (frame->kind == wire::FrameKind::CreatePlayerRequest)
                reply = wire::Encode(wire::CreatePlayerReply{RequestId(*frame), dp::Ok, 500});
            posix::SendAll(fd, reply.data(), reply.size());
            if (frame->kind == wire::FrameKind::CreatePlayerRequest) {
                posix::SendAll(fd, bad_.data(), bad_.size());
                break;
            }
        }
        // The client must close its end now, without waiting for more bytes from us.
        pollfd hangup{fd, POLLIN, 0};
        std::uint8_t ignored[64];
        clientHungUp_ = poll(&hangup, 1, 10000) == 1 && recv(fd, ignored, sizeof ignored, 0) <= 0;
        close(fd);
    }

    std::vector<std::uint8_t> bad_;
    bool clientHungUp_ = false;
    int listener_ = -1;
    std::thread thread_;
};

std::vector<std::uint8_t> Concatenated(std::vector<wire::Bytes> parts) {
    std::vector<std::uint8_t> all;
    for (const wire::Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(SessionHost, MalformedFramesEndTheConnectionAsALostSession) {
    wire::Bytes message = wire::Encode(wire::Message{9, 500, {0x19, 0x10, 0, 0}});
    wire::Bytes lying = message;
    lying[16] = 0x40; // the message's own size field says more than the frame carries
    wire::Bytes hugeBody = message;
    hugeBody[4] = 0xFF;
    hugeBody[5] = 0xFF;
    hugeBody[6] = 0xFF;
    hugeBody[7] = 0x7F;
    wire::Bytes newerVersion = message;
    newerVersion[2] = 2;
    wire::Bytes clientKind = wire::Encode(wire::JoinRequest{1, {}});
    wire::Bytes nulInName = wire::Encode(wire::PlayerAdded{9, 0, {std::string("AB"), {}}});
    nulInName[nulInName.size() - 4] = 0;
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"garbage", {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01, 0x02, 0x03}},
        {"message size past the frame", lying},
        {"body length beyond the bound", hugeBody},
        {"newer frame version", newerVersion},
        {"client frame from the host", clientKind},
        {"zero byte inside a name", nulInName},
        {"good message then garbage", Concatenated({message, {0x53, 0x52, 0x01, 0xEE}})},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.what);
        PrivateEndpoints endpoints;
        posix::MakeDirs(endpoints.directory());
        BadHost host(testCase.bytes);
        {
            Member relay;
            Join(Route::Ipx, "Skyrelay", relay);
            bool lost = false;
            while (!lost) {
                std::optional<Received> received = NextMessage(relay);
                ASSERT_TRUE(received);
                lost = received->from == dp::SystemPlayerId &&
                       TypeOf(received->data) == dp::SysSessionLost;
            }
            EXPECT_TRUE(host.Finish()) << "the connection was not ended";
            // The object stays usable: its own player is still known.
            EXPECT_EQ(ShortName(relay.object, relay.player), "Skyrelay");
        }
    }
}

} // namespace
