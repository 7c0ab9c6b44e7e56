// The session stand-in's frame format and connection data: round trips, byte-exact layouts, and
// malformed input of every kind refused without reading past the bytes given.
#include "platform/posix/session_wire.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

namespace wire = posix::wire;
using wire::Bytes;

wire::Frame Parsed(const Bytes& bytes) {
    wire::ParseResult result = wire::ParseFrame(bytes);
    EXPECT_EQ(result.status, wire::ParseStatus::Complete);
    EXPECT_EQ(result.consumed, bytes.size());
    return result.frame;
}

TEST(SessionWire, FrameHeaderIsByteExact) {
    Bytes frame = wire::Encode(wire::JoinReply{7, static_cast<HRESULT>(0x887700D2u)});
    EXPECT_EQ(frame, (Bytes{'S', 'R', 1, 4, 8, 0, 0, 0, // magic, version, kind, body length
                            7, 0, 0, 0,                 // request id
                            0xD2, 0x00, 0x77, 0x88}));  // result
}

TEST(SessionWire, EveryBodyRoundTrips) {
    const dp::GUID instance{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    const wire::PlayerName both{std::string("SR1"), std::string("Synthetic peer SR1")};
    const wire::PlayerName longOnly{std::nullopt, std::string("")};

    auto list = wire::DecodeSessionList(
        Parsed(wire::Encode(wire::SessionList{
                   5, {{instance, instance, 1, 8, 3, "One"}, {instance, {}, 0, 0, 0, ""}}}))
            .body);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->requestId, 5u);
    ASSERT_EQ(list->sessions.size(), 2u);
    EXPECT_TRUE(list->sessions[0].instance == instance);
    EXPECT_EQ(list->sessions[0].currentPlayers, 3u);
    EXPECT_EQ(list->sessions[0].name, "One");
    EXPECT_TRUE(list->sessions[1].application == dp::GuidNull);

    auto join = wire::DecodeJoinRequest(Parsed(wire::Encode(wire::JoinRequest{9, instance})).body);
    ASSERT_TRUE(join);
    EXPECT_TRUE(join->instance == instance);

    auto create = wire::DecodeCreatePlayerRequest(
        Parsed(wire::Encode(wire::CreatePlayerRequest{3, 0, both})).body);
    ASSERT_TRUE(create);
    EXPECT_EQ(create->name, both);

    auto created = wire::DecodeCreatePlayerReply(
        Parsed(wire::Encode(wire::CreatePlayerReply{3, -5, 0xFFFFFFFFu})).body);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->result, -5);
    EXPECT_EQ(created->player, 0xFFFFFFFFu);

    // An absent short name and an empty long name stay apart.
    auto added =
        wire::DecodePlayerAdded(Parsed(wire::Encode(wire::PlayerAdded{42, 0, longOnly})).body);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->name, longOnly);

    Bytes data(wire::MaxMessageSize, 0xAB);
    auto message = wire::DecodeMessage(Parsed(wire::Encode(wire::Message{1, 2, data})).body);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->from, 1u);
    EXPECT_EQ(message->to, 2u);
    EXPECT_EQ(message->data, data);

    // The longest names both fit in one frame.
    const wire::PlayerName longest{std::string(wire::MaxNameLength, 's'),
                                   std::string(wire::MaxNameLength, 'l')};
    auto renamed =
        wire::DecodePlayerRenamed(Parsed(wire::Encode(wire::PlayerRenamed{7, longest})).body);
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->player, 7u);
    EXPECT_EQ(renamed->name, longest);

    EXPECT_TRUE(wire::DecodePlayerRemoved(Parsed(wire::Encode(wire::PlayerRemoved{4})).body));
    EXPECT_TRUE(wire::DecodeDestroyPlayer(Parsed(wire::Encode(wire::DestroyPlayer{4})).body));
    EXPECT_EQ(Parsed(wire::EncodeSessionClosed()).kind, wire::FrameKind::SessionClosed);
}

TEST(SessionWire, PartialFramesWaitAndBackToBackFramesSplit) {
    Bytes first = wire::Encode(wire::Message{1, 2, {0x19, 0x10, 0, 0}});
    Bytes second = wire::Encode(wire::PlayerRemoved{1});
    for (std::size_t length = 0; length < first.size(); ++length) {
        wire::ParseResult result = wire::ParseFrame(std::span(first).first(length));
        EXPECT_EQ(result.status, wire::ParseStatus::NeedMore) << "prefix of " << length;
    }
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    wire::ParseResult one = wire::ParseFrame(both);
    ASSERT_EQ(one.status, wire::ParseStatus::Complete);
    EXPECT_EQ(one.consumed, first.size());
    wire::ParseResult two = wire::ParseFrame(std::span(both).subspan(one.consumed));
    ASSERT_EQ(two.status, wire::ParseStatus::Complete);
    EXPECT_EQ(two.frame.kind, wire::FrameKind::PlayerRemoved);
}

TEST(SessionWire, BadHeadersAreRefusedAsSoonAsTheyShow) {
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"first magic byte", {'X'}},
        {"second magic byte", {'S', 'X'}},
        {"version 0", {'S', 'R', 0}},
        {"version 2", {'S', 'R', 2}},
        {"kind 0", {'S', 'R', 1, 0}},
        {"kind past the last", {'S', 'R', 1, 14}},
        {"body one past the bound", {'S', 'R', 1, 10, 0x01, 0x40, 0, 0}},
        {"body length near 4 GiB", {'S', 'R', 1, 10, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& testCase : cases) {
        wire::ParseResult result = wire::ParseFrame(testCase.bytes);
        EXPECT_EQ(result.status, wire::ParseStatus::Invalid) << testCase.what;
        EXPECT_STRNE(result.error, "") << testCase.what;
    }
    // The bound itself is allowed.
    Bytes atBound{'S', 'R', 1, 10, 0x00, 0x40, 0, 0};
    EXPECT_EQ(wire::ParseFrame(atBound).status, wire::ParseStatus::NeedMore);
}

TEST(SessionWire, MalformedBodiesAreRefused) {
    using Decoder = std::function<bool(std::span<const std::uint8_t>)>;
    auto body = [](const Bytes& frame) { return Bytes(frame.begin() + 8, frame.end()); };
    const Decoder decodeMessage = [](auto b) { return wire::DecodeMessage(b).has_value(); };
    const Decoder decodeAdded = [](auto b) { return wire::DecodePlayerAdded(b).has_value(); };
    const Decoder decodeList = [](auto b) { return wire::DecodeSessionList(b).has_value(); };

    Bytes message = body(wire::Encode(wire::Message{1, 2, {1, 2, 3}}));
    Bytes added = body(wire::Encode(wire::PlayerAdded{1, 0, {std::string("AB"), {}}}));
    Bytes list = body(wire::Encode(wire::SessionList{1, {{{}, {}, 0, 0, 0, "S"}}}));

    // Every truncation and one extra byte, for bodies with lengths inside them.
    for (const auto& [decode, good] :
         {std::pair{decodeMessage, message}, std::pair{decodeAdded, added},
          std::pair{decodeList, list}}) {
        EXPECT_TRUE(decode(good));
        for (std::size_t length = 0; length < good.size(); ++length)
            EXPECT_FALSE(decode(std::span(good).first(length))) << "truncated to " << length;
        Bytes longer = good;
        longer.push_back(0);
        EXPECT_FALSE(decode(longer)) << "a byte left over";
    }

    auto patched = [](Bytes bytes, std::size_t offset, std::initializer_list<std::uint8_t> with) {
        std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
        return bytes;
    };
    // A short name one byte over the bound, with all its bytes there.
    Bytes tooLongName = body(wire::Encode(wire::PlayerAdded{1, 0, {std::string(), {}}}));
    tooLongName[9] = (wire::MaxNameLength + 1) & 0xFF;
    tooLongName[10] = (wire::MaxNameLength + 1) >> 8;
    tooLongName.insert(tooLongName.begin() + 11, wire::MaxNameLength + 1, 'x');
    const struct {
        const char* what;
        Decoder decode;
        Bytes bytes;
    } cases[] = {
        {"message of zero bytes", decodeMessage, patched(message, 8, {0, 0, 0, 0})},
        {"message size beyond the bound", decodeMessage, patched(message, 8, {1, 0x20, 0, 0})},
        {"undefined name flag", decodeAdded, patched(added, 8, {0x05})},
        {"absent name with bytes", decodeAdded, patched(added, 8, {0x00})},
        {"zero byte inside a name", decodeAdded, patched(added, 11, {0})},
        {"name longer than the bound", decodeAdded, tooLongName},
        {"more sessions than the bound", decodeList, patched(list, 4, {17, 0})},
        {"fewer sessions than announced", decodeList, patched(list, 4, {2, 0})},
    };
    for (const auto& testCase : cases)
        EXPECT_FALSE(testCase.decode(testCase.bytes)) << testCase.what;
}

TEST(SessionWire, ConnectionDataIsByteExactAndValidated) {
    Bytes tcp = wire::EncodeConnection({wire::Transport::TcpIp, "127.0.0.1"});
    EXPECT_EQ(tcp, (Bytes{'S', 'R', 'C', 'N', 1,   0,   1,   0,   26,  0,   0,   0,   9,
                          0,   0,   0,   '1', '2', '7', '.', '0', '.', '0', '.', '1', 0}));
    EXPECT_EQ(wire::ConnectionSize(tcp), 26u);
    EXPECT_EQ(wire::DecodeConnection(tcp), (wire::Connection{wire::Transport::TcpIp, "127.0.0.1"}));
    Bytes ipx = wire::EncodeConnection({wire::Transport::Ipx, ""});
    EXPECT_EQ(wire::DecodeConnection(ipx), (wire::Connection{wire::Transport::Ipx, ""}));

    auto with = [&tcp](std::size_t offset, std::uint8_t value) {
        Bytes bytes = tcp;
        bytes[offset] = value;
        return bytes;
    };
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"magic", with(3, 'X')},
        {"version", with(4, 2)},
        {"transport 0", with(6, 0)},
        {"transport past the last", with(6, 5)},
        {"total size larger than the data", with(8, 27)},
        {"total size beyond the bound", with(8, 200)},
        {"host length disagrees", with(12, 8)},
        {"reserved bytes", with(14, 1)},
        {"blank in the host", with(19, ' ')},
        {"no terminating zero", with(25, '1')},
        {"shorter than a header", Bytes(tcp.begin(), tcp.begin() + 10)},
        {"one byte missing", Bytes(tcp.begin(), tcp.end() - 1)},
    };
    for (const auto& testCase : cases)
        EXPECT_FALSE(wire::DecodeConnection(testCase.bytes)) << testCase.what;
}

} // namespace
