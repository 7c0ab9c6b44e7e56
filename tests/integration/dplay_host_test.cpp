// skyrelay-session --directplay against a client made of the messages a Wine 10 client sent: the
// host refuses hostile messages by closing that connection and goes on serving, then answers
// each step of a join exactly once, on its own connection to the client, and sends the peer's
// positions to the client's player.
#include "dplay_captured.h"
#include "integration/session_host_helpers.h"
#include "platform/posix/session_endpoints.h"
#include "skyrelay-session/dplay_wire.h"

namespace {

using namespace session_test;
namespace captured = dplay_captured;

void PutU32(dplay::Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t U32At(const dplay::Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes.at(offset) | bytes.at(offset + 1) << 8 |
                                      bytes.at(offset + 2) << 16 | bytes.at(offset + 3) << 24);
}

// A captured client message with the client's TCP port in its header.
dplay::Bytes ClientMessage(const char* hex, std::uint16_t port) {
    dplay::Bytes bytes = captured::Hex(hex);
    bytes.at(6) = static_cast<std::uint8_t>(port >> 8);
    bytes.at(7) = static_cast<std::uint8_t>(port & 0xFF);
    return bytes;
}

// Waits up to two seconds for bytes; nothing when the connection ends or nothing comes.
std::optional<dplay::Bytes> Receive(int fd, std::size_t size) {
    dplay::Bytes bytes(size);
    std::size_t have = 0;
    while (have < size) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 2000) <= 0)
            return std::nullopt;
        ssize_t count = recv(fd, bytes.data() + have, size - have, 0);
        if (count <= 0)
            return std::nullopt;
        have += static_cast<std::size_t>(count);
    }
    return bytes;
}

// The next whole message on the host's connection to the client.
std::optional<dplay::Bytes> NextHostMessage(int fd) {
    std::optional<dplay::Bytes> header = Receive(fd, 4);
    if (!header)
        return std::nullopt;
    std::size_t size = U32At(*header, 0) & 0xFFFFF;
    std::optional<dplay::Bytes> rest = Receive(fd, size - 4);
    if (!rest)
        return std::nullopt;
    header->insert(header->end(), rest->begin(), rest->end());
    return header;
}

std::uint16_t SystemCommand(const dplay::Bytes& message) {
    return message.size() >= 26 && message[20] == 'p' ? static_cast<std::uint16_t>(message[24]) : 0;
}

// A UDP port that was free a moment ago.
std::uint16_t FreeUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

TEST(DirectPlayHost, RefusesHostileMessagesThenServesAJoinOnce) {
    std::uint16_t hostPort = FreePort();
    std::uint16_t enumerationPort = FreeUdpPort();
    ChildProcess host({SessionProgram(), "--directplay", "--port", std::to_string(hostPort),
                       "--enumeration-port", std::to_string(enumerationPort), "--aircraft", "1"});
    StartHost(host);
    ASSERT_TRUE(host.WaitForLine("joined: SR1 (player 10485762, peer)"));

    // The client's own listening socket, where the host connects to answer.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t size = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    std::uint16_t clientPort = ntohs(address.sin_port);

    dplay::Bytes nameTooLong = ClientMessage(captured::ClientCreatePlayer, clientPort);
    PutU32(nameTooLong, 20 + 28 + 12, 0xFFFFFFFEu);
    const struct {
        const char* reason;
        dplay::Bytes bytes;
    } hostile[] = {
        {"message shorter than its header", {0x0A, 0x00, 0xB0, 0xFA, 0x02, 0x00}},
        {"player created with an id the host did not give",
         ClientMessage(captured::ClientCreatePlayer, clientPort)},
        {"add-forward request for a player id the host did not give",
         ClientMessage(captured::ClientAddForward, clientPort)},
        {"player name outside the message", nameTooLong},
    };
    for (const auto& message : hostile) {
        SCOPED_TRACE(message.reason);
        int fd = posix::ConnectLoopback(hostPort);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(posix::SendAll(fd, message.bytes.data(), message.bytes.size()));
        EXPECT_TRUE(host.WaitForLine(std::string("dropped a client: ") + message.reason));
        EXPECT_FALSE(Receive(fd, 1)) << "the connection stayed open";
        close(fd);
    }

    // The enumeration, by UDP to the host's enumeration port.
    int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in enumeration{};
    enumeration.sin_family = AF_INET;
    enumeration.sin_port = htons(enumerationPort);
    enumeration.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    dplay::Bytes request = ClientMessage(captured::EnumSessions, clientPort);
    ASSERT_EQ(sendto(udp, request.data(), request.size(), 0,
                     reinterpret_cast<const sockaddr*>(&enumeration), sizeof enumeration),
              static_cast<ssize_t>(request.size()));
    close(udp);
    pollfd pending{listener, POLLIN, 0};
    ASSERT_EQ(poll(&pending, 1, 3000), 1) << "the host did not connect to the client";
    int fromHost = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    std::optional<dplay::Bytes> reply = NextHostMessage(fromHost);
    ASSERT_TRUE(reply);
    EXPECT_EQ(SystemCommand(*reply), dplay::command::EnumSessionsReply);
    EXPECT_EQ(reply->size(), 20u + 8 + 88 + 4 + 34); // "Skyrelay session"

    // The join, on the client's own connection; each answer arrives on the host's.
    int toHost = posix::ConnectLoopback(hostPort);
    ASSERT_GE(toHost, 0);
    auto ask = [&](const dplay::Bytes& message) {
        posix::SendAll(toHost, message.data(), message.size());
        return NextHostMessage(fromHost);
    };
    reply = ask(ClientMessage(captured::RequestPlayerId, clientPort));
    ASSERT_TRUE(reply);
    ASSERT_EQ(SystemCommand(*reply), dplay::command::RequestPlayerReply);
    std::uint32_t systemPlayer = U32At(*reply, 28);

    dplay::Bytes forward = ClientMessage(captured::ClientAddForward, clientPort);
    for (std::size_t offset : {32u, 56u, 80u})
        PutU32(forward, offset, systemPlayer);
    reply = ask(forward);
    ASSERT_TRUE(reply);
    ASSERT_EQ(SystemCommand(*reply), dplay::command::SuperEnumPlayersReply);
    EXPECT_EQ(U32At(*reply, 28), 3u); // the host's and the client's system players, SR1

    dplay::Bytes playerRequest = ClientMessage(captured::RequestPlayerId, clientPort);
    PutU32(playerRequest, 28, 8);
    reply = ask(playerRequest);
    ASSERT_TRUE(reply);
    ASSERT_EQ(SystemCommand(*reply), dplay::command::RequestPlayerReply);
    std::uint32_t player = U32At(*reply, 28);

    dplay::Bytes create = ClientMessage(captured::ClientCreatePlayer, clientPort);
    PutU32(create, 32, player);
    PutU32(create, 56, player);
    PutU32(create, 80, systemPlayer);
    ASSERT_TRUE(posix::SendAll(toHost, create.data(), create.size()));
    EXPECT_TRUE(
        host.WaitForLine("joined: Skyrelay (player " + std::to_string(player) + ", remote)"));
    // From now on only SR1's positions: no answer comes twice or unasked.
    for (int i = 0; i < 3; ++i) {
        std::optional<dplay::Bytes> message = NextHostMessage(fromHost);
        ASSERT_TRUE(message);
        EXPECT_EQ(SystemCommand(*message), 0);
        EXPECT_EQ(message->size(), 20u + 8 + 58);
        EXPECT_EQ(U32At(*message, 20), 10485762u);
        EXPECT_EQ(U32At(*message, 24), player);
        EXPECT_EQ(U32At(*message, 28), 4121u);
    }

    close(fromHost);
    EXPECT_TRUE(host.WaitForLine("left: Skyrelay (player " + std::to_string(player) + ")"));
    close(toHost);
    close(listener);
    EXPECT_EQ(host.Kill(SIGTERM), 0);
}

} // namespace
