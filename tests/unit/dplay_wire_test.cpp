// DirectPlay's TCP/IP messages against the bytes a Wine 10 client exchanged with a host that it
// joined: what the host builds must match them byte for byte, what the client sent must parse,
// and a malformed message must be refused without reading past its end.
#include "dplay_captured.h"
#include "skyrelay-session/dplay_wire.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

using namespace dplay;
using namespace dplay_captured;

std::string Dump(const Bytes& bytes) {
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%02x", bytes[i]);
        text += (i % 16 == 0 ? "\n" : " ") + std::string(cell);
    }
    return text;
}

std::uint32_t U32At(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes.at(offset) | bytes.at(offset + 1) << 8 |
                                      bytes.at(offset + 2) << 16 | bytes.at(offset + 3) << 24);
}

void PutU32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// The session of the captured run.
SessionDesc TestSession() {
    SessionDesc desc;
    desc.instance = {0x5A1D0E7E, 0x1234, 0x4CDE, {0x9A, 0xBC, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
    desc.maxPlayers = 8;
    desc.currentPlayers = 2;
    desc.reserved1 = 0x12345678;
    return desc;
}

constexpr std::uint16_t HostTcp = 2300;
const SpPlayerData HostSpData = MakeSpPlayerData(2300, 2350);

template <typename T> const T& BodyOf(const ParseResult& parsed) {
    EXPECT_TRUE(parsed.message) << parsed.error;
    const T* body = parsed.message ? std::get_if<T>(&parsed.message->body) : nullptr;
    if (body == nullptr)
        throw std::runtime_error("unexpected message kind");
    return *body;
}

TEST(DplayWire, HostMessagesMatchTheCapturedBytes) {
    std::vector<PlayerRecord> players{
        {0x0F, 0xA001, 0xA001, std::nullopt, std::nullopt, HostSpData},
        {0x01, 0xB001, 0xB001, std::nullopt, std::nullopt, MakeSpPlayerData(2301, 2351)},
        {0x08, 0xA002, 0xA001, "PEER1", std::nullopt, HostSpData}};
    Bytes position{0x19, 0x10, 0x00, 0x00};
    for (std::uint8_t i = 1; i <= 0x36; ++i)
        position.push_back(i);
    const Bytes sessionLost{0x31, 0, 0, 0};
    struct Row {
        const char* name;
        Bytes built;
        const char* golden;
    } rows[] = {
        {"enumeration reply",
         BuildEnumSessionsReply(Layout::Client64, HostTcp, TestSession(), "Test Session"),
         EnumSessionsReply},
        {"player id reply", BuildRequestPlayerReply(Layout::Client64, HostTcp, 0xB001, 0),
         RequestPlayerReply},
        {"players' reply",
         BuildSuperEnumPlayersReply(Layout::Client64, HostTcp, TestSession(), "Test Session",
                                    players),
         SuperEnumPlayersReply},
        {"later join",
         BuildCreatePlayer(HostTcp, {0x08, 0xA003, 0xA001, "PEER2", std::nullopt, HostSpData}),
         HostCreatePlayer},
        {"position message", BuildGameMessage(HostTcp, 0xA002, 0xB002, position), GamePeer1},
        {"4-byte message", BuildGameMessage(HostTcp, 0xA003, 0xB002, sessionLost), GamePeer2},
        {"delete player", BuildDeletePlayer(HostTcp, 0xA003), DeletePlayer},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Dump(row.built), Dump(Hex(row.golden))) << row.name;
}

// A 32-bit client's session description and player id reply are its own native structures.
TEST(DplayWire, Client32LayoutsPutTheFieldsAtTheirOffsets) {
    constexpr std::size_t Body = SpHeaderSize;
    Bytes enumReply =
        BuildEnumSessionsReply(Layout::Client32, HostTcp, TestSession(), "Test Session");
    ASSERT_EQ(enumReply.size(), Body + 92 + 26);
    EXPECT_EQ(U32At(enumReply, 0) & 0xFFFFF, enumReply.size());
    EXPECT_EQ(U32At(enumReply, Body + 8), 80u);              // dwSize
    EXPECT_EQ(U32At(enumReply, Body + 16), 0x5A1D0E7Eu);     // guidInstance
    EXPECT_EQ(U32At(enumReply, Body + 8 + 44), 2u);          // dwCurrentPlayers
    EXPECT_EQ(U32At(enumReply, Body + 8 + 56), 0x12345678u); // dwReserved1
    EXPECT_EQ(U32At(enumReply, Body + 88), 92u);             // name offset
    EXPECT_EQ(enumReply[Body + 92], 'T');

    Bytes idReply = BuildRequestPlayerReply(Layout::Client32, HostTcp, 0xB001, 0x80004005u);
    ASSERT_EQ(idReply.size(), Body + 48);
    EXPECT_EQ(U32At(idReply, Body + 8), 0xB001u);
    EXPECT_EQ(U32At(idReply, Body + 44), 0x80004005u);
    EXPECT_EQ(U32At(BuildRequestPlayerReply(Layout::Client64, HostTcp, 1, 7), Body + 52), 7u);

    std::vector<PlayerRecord> players{
        {0x0F, 0xA001, 0xA001, std::nullopt, std::nullopt, HostSpData}};
    Bytes superEnum = BuildSuperEnumPlayersReply(Layout::Client32, HostTcp, TestSession(),
                                                 "Test Session", players);
    EXPECT_EQ(U32At(superEnum, Body + 16), 142u); // first player
    EXPECT_EQ(U32At(superEnum, Body + 24), 36u);  // description
    EXPECT_EQ(U32At(superEnum, Body + 28), 116u); // name
    EXPECT_EQ(U32At(superEnum, Body + 36), 80u);
    EXPECT_EQ(U32At(superEnum, Body + 142 + 8), 0xA001u);
    EXPECT_EQ(superEnum.size(), Body + 142 + 53);
}

TEST(DplayWire, ParsesWhatTheClientSent) {
    ParseResult parsed = ParseDatagram(Hex(EnumSessions));
    const auto& enumRequest = BodyOf<EnumSessionsRequest>(parsed);
    EXPECT_EQ(enumRequest.application, dp::GuidNull);
    EXPECT_EQ(enumRequest.flags, 2u);
    EXPECT_FALSE(enumRequest.password);
    EXPECT_EQ(parsed.message->senderPort, 2301);

    EXPECT_EQ(BodyOf<PlayerIdRequest>(ParseMessage(Hex(RequestPlayerId))).flags, 9u);

    parsed = ParseMessage(Hex(ClientAddForward));
    const auto& forward = BodyOf<dplay::AddForwardRequest>(parsed);
    EXPECT_EQ(forward.playerId, 0xB001u);
    EXPECT_EQ(forward.player.flags, 9u);
    EXPECT_EQ(forward.player.systemPlayer, 0xB001u);
    EXPECT_FALSE(forward.player.shortName);
    ASSERT_TRUE(forward.player.spData);
    EXPECT_EQ(SpDataTcpPort(*forward.player.spData), 2301);
    EXPECT_EQ(SpDataUdpPort(*forward.player.spData), 2351);
    EXPECT_EQ(forward.sessionReserved1, 0x12345678u);

    parsed = ParseMessage(Hex(ClientCreatePlayer));
    const auto& create = BodyOf<CreatePlayerMessage>(parsed);
    EXPECT_EQ(create.playerId, 0xB002u);
    EXPECT_EQ(create.player.id, 0xB002u);
    EXPECT_EQ(create.player.shortName, "Skyrelay");
    EXPECT_FALSE(create.player.longName);
    EXPECT_EQ(create.player.systemPlayer, 0xB001u);

    parsed = ParseMessage(Hex(EchoGuaranteed));
    const auto& guaranteed = BodyOf<GameMessage>(parsed);
    EXPECT_EQ(guaranteed.from, 0xB002u);
    EXPECT_EQ(guaranteed.to, 0xA002u);
    EXPECT_EQ(std::string(guaranteed.payload.begin(), guaranteed.payload.end()),
              std::string("ECHO-G\0\0", 8));
    parsed = ParseDatagram(Hex(EchoUnguaranteed));
    EXPECT_EQ(BodyOf<GameMessage>(parsed).payload.size(), 8u);
    EXPECT_FALSE(parsed.message->senderPort);

    EXPECT_EQ(BodyOf<PingMessage>(ParseDatagram(Hex(Ping))).from, 0xA001u);
    parsed = ParseDatagram(Hex(PingReply));
    const auto& pong = BodyOf<PingMessage>(parsed);
    EXPECT_EQ(pong.command, command::PingReply);
    EXPECT_EQ(pong.from, 0xB001u);
    EXPECT_EQ(pong.tick, 0x01020304u);
}

TEST(DplayWire, HostPlayerParsesBackWithItsNames) {
    PlayerRecord peer{0x08, 0xA005, 0xA001, "Zoë 𝄞", "Synthetic peer", HostSpData};
    ParseResult parsed = ParseMessage(BuildCreatePlayer(HostTcp, peer));
    const auto& create = BodyOf<CreatePlayerMessage>(parsed);
    EXPECT_EQ(create.player.shortName, peer.shortName);
    EXPECT_EQ(create.player.longName, peer.longName);
    EXPECT_EQ(create.player.spData, peer.spData);
    // Not UTF-8: each byte is a Latin-1 character.
    EXPECT_EQ(EncodeName("\xE9t\xE9"), (Bytes{0xE9, 0, 't', 0, 0xE9, 0, 0, 0}));
    EXPECT_EQ(EncodeName("\xF8\x80\x80"), (Bytes{0xF8, 0, 0x80, 0, 0x80, 0, 0, 0}));
}

TEST(DplayWire, StreamCutsWholeMessagesAndRefusesImpossibleSizes) {
    Bytes stream = Hex(RequestPlayerId);
    Bytes second = Hex(ClientAddForward);
    stream.insert(stream.end(), second.begin(), second.end());
    EXPECT_EQ(NextMessage(ByteView(stream).first(3)).status, StreamCut::Status::NeedMore);
    EXPECT_EQ(NextMessage(ByteView(stream).first(31)).status, StreamCut::Status::NeedMore);
    StreamCut cut = NextMessage(stream);
    ASSERT_EQ(cut.status, StreamCut::Status::Whole);
    EXPECT_EQ(cut.size, 32u);
    EXPECT_EQ(NextMessage(ByteView(stream).subspan(32)).size, second.size());
    for (std::uint32_t size : {0u, 19u, 65537u, 0xFFFFFu}) {
        PutU32(stream, 0, 0xFAB00000u | size);
        EXPECT_EQ(NextMessage(stream).status, StreamCut::Status::Invalid) << size;
    }
}

TEST(DplayWire, RefusesMalformedClientMessages) {
    constexpr std::size_t Body = SpHeaderSize;
    constexpr std::size_t Packed = Body + 28; // the packed player in CREATEPLAYER/ADDFORWARD
    struct Row {
        const char* name;
        const char* golden;
        std::size_t offset; // of the 32-bit word replaced
        std::uint32_t value;
    } rows[] = {
        {"size differs from the header", RequestPlayerId, 0, 0xFAB00021u},
        {"password offset past the end", EnumSessions, Body + 24, 200},
        {"password inside the fields", EnumSessions, Body + 24, 8},
        {"packed player past the end", ClientCreatePlayer, Body + 20, 0x7FFFFFF0u},
        {"packed player inside the fields", ClientCreatePlayer, Body + 20, 4},
        {"short name longer than the message", ClientCreatePlayer, Packed + 12, 0xFFFFFFFEu},
        {"short name of odd length", ClientCreatePlayer, Packed + 12, 17},
        {"short name without its zero", ClientCreatePlayer, Packed + 12, 16},
        {"long name past the end", ClientCreatePlayer, Packed + 16, 0xFFFFFFF0u},
        {"SP data not 32 bytes", ClientCreatePlayer, Packed + 20, 31},
        {"player data past the end", ClientCreatePlayer, Packed + 24, 0xFFFFFFFFu},
        {"player list past the end", ClientCreatePlayer, Packed + 28, 0x40000000u},
        {"fixed size too small", ClientCreatePlayer, Packed + 36, 47},
        {"fixed size past the end", ClientCreatePlayer, Packed + 36, 0xFFFFFFFFu},
        {"add-forward without SP data", ClientAddForward, Packed + 20, 0},
        {"add-forward password past the end", ClientAddForward, Body + 24, 1000},
    };
    for (const Row& row : rows) {
        Bytes message = Hex(row.golden);
        PutU32(message, row.offset, row.value);
        ParseResult parsed = ParseMessage(message);
        EXPECT_FALSE(parsed.message) << row.name;
        EXPECT_NE(parsed.error, nullptr) << row.name;
    }

    // Every shortened body, with the header's size made to agree, is parsed or refused within
    // its bytes (the sanitizers watch the reads).
    for (const char* golden : {EnumSessions, RequestPlayerId, ClientAddForward, ClientCreatePlayer,
                               EchoGuaranteed, PingReply}) {
        Bytes whole = Hex(golden);
        for (std::size_t size = Body; size < whole.size(); ++size) {
            Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
            PutU32(cut, 0, 0xFAB00000u | static_cast<std::uint32_t>(size));
            ParseResult parsed = ParseMessage(cut);
            EXPECT_NE(parsed.message.has_value(), parsed.error != nullptr) << size;
        }
    }
}

} // namespace
