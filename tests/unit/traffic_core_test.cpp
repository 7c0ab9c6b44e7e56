// The traffic table and the decoding of session messages, against the fake DirectPlay.
#include "platform/fake/fake.h"
#include "platform/fake/fake_directplay.h"
#include "state/relay_state.h"
#include "traffic/session_messages.h"
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct RawPosition {
    std::int32_t verticalSpeed = 0;
    std::uint32_t groundSpeed = 6553600; // 194.38 knots
    std::uint32_t headingWord = 0;
    std::int32_t latitude = 0;
    std::int32_t longitude = 0;
    std::int32_t altitudeMetres = 0;
    std::uint16_t altitudeFraction = 0;
};

std::vector<std::uint8_t> PositionBytes(const RawPosition& raw, std::size_t size = 58) {
    std::vector<std::uint8_t> bytes(size, 0);
    PutU32(bytes, 0, PositionMessageType);
    PutU32(bytes, 24, static_cast<std::uint32_t>(raw.verticalSpeed));
    PutU32(bytes, 28, raw.groundSpeed);
    PutU32(bytes, 36, raw.headingWord);
    PutU32(bytes, 40, static_cast<std::uint32_t>(raw.latitude));
    PutU32(bytes, 44, static_cast<std::uint32_t>(raw.longitude));
    PutU32(bytes, 48, static_cast<std::uint32_t>(raw.altitudeMetres));
    bytes[56] = static_cast<std::uint8_t>(raw.altitudeFraction);
    bytes[57] = static_cast<std::uint8_t>(raw.altitudeFraction >> 8);
    return bytes;
}

std::vector<std::uint8_t> TypeOnly(std::uint32_t type) {
    std::vector<std::uint8_t> bytes(4, 0);
    PutU32(bytes, 0, type);
    return bytes;
}

class TrafficCore : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::ResetAll();
        ResetRelayState();
        ResetTrafficTable();
        ResetDrainState();
        mainDialog = fake::MainWindow();
        std::strcpy(playerName, "Me");
    }
    void TearDown() override {
        if (sessionObject != nullptr)
            sessionObject->Release();
        sessionObject = nullptr;
        ResetDrainState();
    }

    // A joined session with the pump running, as the scheduler leaves it.
    void Join() {
        ASSERT_EQ(plat::CreateDirectPlay(&sessionObject), dp::Ok);
        relayState.searching = 0;
        relayState.pumpTimerId = plat::StartTimer(mainDialog, PumpTimer, PumpPeriodMs, [] {});
    }
};

TEST(TrafficEntryLayout, IsTheExactFortyByteRecord) {
    ResetTrafficTable();
    RecordTraffic("N123", 0x01020304, 1.0f, -2.0f, 3282.48046875f, 65472, 194.38f, -600.0f);
    const std::uint8_t expected[40] = {0x04, 0x03, 0x00, 0x00, // id: low 16 bits of the player id
                                       0x00, 0x00, 0x80, 0x3F, // latitude 1.0
                                       0x00, 0x00, 0x00, 0xC0, // longitude -2.0
                                       0xB0, 0x27, 0x4D, 0x45, // altitude 3282.48046875
                                       0xC0, 0xFF,             // heading 65472
                                       0xC2, 0x00,             // ground speed 194
                                       0xA8, 0xFD,             // vertical speed -600
                                       'N',  '1',  '2',  '3',  0, 0, 0,
                                       0,    0,    0,    0, // name, zero filled
                                       0,    0,    0,    0,    0, 0, 0};
    EXPECT_EQ(std::memcmp(&trafficTable.entries[0], expected, sizeof expected), 0);
}

TEST(TrafficTableTest, StoresIdsAndSpeedsByTruncation) {
    struct Case {
        std::int32_t playerId;
        float groundSpeed;
        float verticalSpeed;
        std::uint32_t id;
        std::uint16_t storedGround;
        std::int16_t storedVertical;
    };
    const Case cases[] = {
        {-5, 194.38f, -600.0f, 5, 194, -600},
        {70000, 65536.5f, -0.9f, 4464, 0, 0},
        {-2147483647 - 1, 30.5f, 32768.0f, 0, 30, -32768},
        {65535, 65535.9f, -32769.0f, 65535, 65535, 32767},
    };
    for (const Case& c : cases) {
        ResetTrafficTable();
        RecordTraffic("A", c.playerId, 0, 0, 0, 0, c.groundSpeed, c.verticalSpeed);
        const TrafficEntry& entry = trafficTable.entries[0];
        EXPECT_EQ(entry.id, c.id) << c.playerId;
        EXPECT_EQ(entry.groundSpeed, c.storedGround) << c.groundSpeed;
        EXPECT_EQ(entry.verticalSpeed, c.storedVertical) << c.verticalSpeed;
    }
}

TEST(TrafficTableTest, UpdatesByNameAndAppendsInOrderOfFirstAppearance) {
    ResetTrafficTable();
    RecordTraffic("Alpha", 1, 1, 1, 1, 0, 100, 0);
    RecordTraffic("Bravo", 2, 2, 2, 2, 0, 100, 0);
    RecordTraffic("alpha", 3, 3, 3, 3, 0, 100, 0);  // letter case makes another aircraft
    RecordTraffic("Alpha", 9, 9, 9, 9, 64, 120, 0); // same name, new player id: same slot
    ASSERT_EQ(trafficTable.count, 3);
    EXPECT_STREQ(trafficTable.entries[0].name, "Alpha");
    EXPECT_EQ(trafficTable.entries[0].id, 9u);
    EXPECT_EQ(trafficTable.entries[0].latitude, 9.0f);
    EXPECT_EQ(trafficTable.entries[0].heading, 64);
    EXPECT_STREQ(trafficTable.names[1], "Bravo");
    EXPECT_STREQ(trafficTable.names[2], "alpha");

    // After an emptying the next aircraft heard takes index 0.
    ResetTrafficTable();
    RecordTraffic("Bravo", 2, 5, 5, 5, 0, 100, 0);
    EXPECT_EQ(trafficTable.count, 1);
    EXPECT_STREQ(trafficTable.entries[0].name, "Bravo");
    const std::uint8_t* rest = reinterpret_cast<const std::uint8_t*>(&trafficTable.entries[1]);
    for (std::size_t i = 0; i < sizeof(TrafficEntry) * (MaxTraffic - 1); ++i)
        ASSERT_EQ(rest[i], 0) << i;
}

TEST(TrafficTableTest, EmptyNameTakesTheFreeSlotWithoutCountingAndIsDroppedWhenFull) {
    ResetTrafficTable();
    RecordTraffic("One", 1, 0, 0, 0, 0, 100, 0);
    RecordTraffic("", 7, 4, 4, 4, 0, 100, 0);
    EXPECT_EQ(trafficTable.count, 1);
    EXPECT_EQ(trafficTable.entries[1].id, 7u); // written at index count, never published
    RecordTraffic("Two", 2, 0, 0, 0, 0, 100, 0);
    EXPECT_EQ(trafficTable.count, 2);
    EXPECT_EQ(trafficTable.entries[1].id, 2u);
    EXPECT_STREQ(trafficTable.entries[1].name, "Two");

    ResetTrafficTable();
    for (int i = 0; i < 30; ++i)
        RecordTraffic(("P" + std::to_string(i)).c_str(), i, 0, 0, 0, 0, 100, 0);
    TrafficTable before = trafficTable;
    RecordTraffic("", 99, 0, 0, 0, 0, 100, 0);
    RecordTraffic("P30", 30, 0, 0, 0, 0, 100, 0); // a 31st aircraft
    EXPECT_EQ(trafficTable.count, 30);
    EXPECT_EQ(std::memcmp(&before, &trafficTable, sizeof before), 0);
}

TEST(TrafficTableTest, LongNamesAreCutToSeventeenCharactersForLookupAndBothCopies) {
    ResetTrafficTable();
    const std::string longName(60, 'X');
    RecordTraffic(longName.c_str(), 1, 0, 0, 0, 0, 100, 0);
    RecordTraffic((std::string(17, 'X') + "other").c_str(), 2, 0, 0, 0, 0, 100, 0);
    ASSERT_EQ(trafficTable.count, 1);
    EXPECT_EQ(std::string(trafficTable.entries[0].name), std::string(17, 'X'));
    EXPECT_EQ(std::string(trafficTable.names[0]), std::string(17, 'X'));
    EXPECT_EQ(trafficTable.entries[0].id, 2u);
    EXPECT_EQ(trafficTable.names[0][17], 0);
}

TEST(PositionDecoding, GivesTheExactFloats) {
    struct Case {
        const char* what;
        RawPosition raw;
        std::int32_t usingSquawkBox;
        float latitude, longitude, altitude, groundSpeed, verticalSpeed;
        std::uint16_t heading;
    };
    auto with = [](auto change) {
        RawPosition raw;
        change(raw);
        return raw;
    };
    const Case cases[] = {
        {"latitude +90", with([](RawPosition& r) { r.latitude = 10001750; }), 0, 90.0f, 0, 0,
         194.38461303710938f, 0, 0},
        {"latitude -90", with([](RawPosition& r) { r.latitude = -10001750; }), 0, -90.0f, 0, 0,
         194.38461303710938f, 0, 0},
        {"latitude 40", with([](RawPosition& r) { r.latitude = 4445222; }), 0, 39.999996185302734f,
         0, 0, 194.38461303710938f, 0, 0},
        {"longitude 90", with([](RawPosition& r) { r.longitude = 1073741824; }), 0, 0, 90.0f, 0,
         194.38461303710938f, 0, 0},
        {"longitude 45", with([](RawPosition& r) { r.longitude = 536870912; }), 0, 0, 45.0f, 0,
         194.38461303710938f, 0, 0},
        {"longitude -90", with([](RawPosition& r) { r.longitude = -1073741824; }), 0, 0, -90.0f, 0,
         194.38461303710938f, 0, 0},
        {"altitude 1000.5 m", with([](RawPosition& r) {
             r.altitudeMetres = 1000;
             r.altitudeFraction = 32768;
         }),
         0, 0, 0, 3282.48046875f, 194.38461303710938f, 0, 0},
        {"altitude -10 m", with([](RawPosition& r) { r.altitudeMetres = -10; }), 0, 0, 0,
         static_cast<float>(-10.0 * 3.28084), 194.38461303710938f, 0, 0},
        {"SquawkBox 110 kt", with([](RawPosition& r) { r.groundSpeed = 12739190; }), 1, 0, 0, 0,
         110.0f, 0, 0},
        {"vertical +600", with([](RawPosition& r) { r.verticalSpeed = 655360; }), 0, 0, 0, 0,
         194.38461303710938f, 600.0f, 0},
        {"vertical -600", with([](RawPosition& r) { r.verticalSpeed = -655360; }), 0, 0, 0, 0,
         194.38461303710938f, -600.0f, 0},
        {"vertical 1", with([](RawPosition& r) { r.verticalSpeed = 1; }), 0, 0, 0, 0,
         194.38461303710938f, 0.00091552734375f, 0},
        {"vertical in double", with([](RawPosition& r) { r.verticalSpeed = 16777217; }), 0, 0, 0, 0,
         194.38461303710938f, static_cast<float>(16777217.0 * 60 / 65536), 0},
        {"heading 180", with([](RawPosition& r) { r.headingWord = 0x800; }), 0, 0, 0, 0,
         194.38461303710938f, 0, 32768},
        {"heading top", with([](RawPosition& r) { r.headingWord = 0xFFC; }), 0, 0, 0, 0,
         194.38461303710938f, 0, 65472},
        {"heading all bits", with([](RawPosition& r) { r.headingWord = 0xFFFFFFFF; }), 0, 0, 0, 0,
         194.38461303710938f, 0, 65472},
        {"heading bit 12", with([](RawPosition& r) { r.headingWord = 0x1000; }), 0, 0, 0, 0,
         194.38461303710938f, 0, 0},
        {"heading bits 0-1", with([](RawPosition& r) { r.headingWord = 3; }), 0, 0, 0, 0,
         194.38461303710938f, 0, 0},
    };
    for (const Case& c : cases) {
        auto bytes = PositionBytes(c.raw);
        DecodedPosition decoded = DecodePosition(bytes.data(), c.usingSquawkBox);
        EXPECT_EQ(decoded.latitude, c.latitude) << c.what;
        EXPECT_EQ(decoded.longitude, c.longitude) << c.what;
        EXPECT_EQ(decoded.altitude, c.altitude) << c.what;
        EXPECT_EQ(decoded.groundSpeed, c.groundSpeed) << c.what;
        EXPECT_EQ(decoded.verticalSpeed, c.verticalSpeed) << c.what;
        EXPECT_EQ(decoded.heading, c.heading) << c.what;
    }
    EXPECT_EQ(static_cast<float>(-10.0 * 3.28084), -32.8084f);
}

TEST_F(TrafficCore, RelaysOnlyAircraftFasterThanThirtyKnots) {
    struct Case {
        std::int32_t usingSquawkBox;
        std::uint32_t rawGroundSpeed;
        float expected;
        bool relayed;
    };
    const Case cases[] = {
        {0, 1011438, 29.999998f, false}, {0, 1011439, 30.000029f, true},
        {1, 3474324, 29.999994f, false}, {1, 3474325, 30.000004f, true},
        {2, 3474325, 30.000004f, true}, // any non-zero value selects the SquawkBox scale
    };
    Join();
    fake::SetPlayerName(7, "Peer");
    for (const Case& c : cases) {
        ResetTrafficTable();
        relayState.usingSquawkBox = c.usingSquawkBox;
        RawPosition raw;
        raw.groundSpeed = c.rawGroundSpeed;
        EXPECT_EQ(DecodePosition(PositionBytes(raw).data(), c.usingSquawkBox).groundSpeed,
                  c.expected);
        auto bytes = PositionBytes(raw);
        EXPECT_EQ(HandleSessionMessage(bytes.data(), 58, 7), dp::Ok);
        EXPECT_EQ(trafficTable.count, c.relayed ? 1 : 0) << c.rawGroundSpeed;
    }
}

TEST_F(TrafficCore, IgnoresTheUsersOwnAircraftShortMessagesAndNamelessSenders) {
    Join();
    fake::SetPlayerName(7, "Me", "My long name"); // the user's own aircraft
    fake::SetPlayerName(8, std::nullopt, "Long"); // no short name
    fake::SetPlayerName(9, "Peer");
    fake::SetRawPlayerName(10, {'P', 'e', 'e', 'r'}, 0); // not terminated inside its record
    auto bytes = PositionBytes(RawPosition{});
    EXPECT_EQ(HandleSessionMessage(bytes.data(), 58, 7), dp::Ok);
    EXPECT_EQ(HandleSessionMessage(bytes.data(), 58, 8), dp::Ok);
    EXPECT_EQ(HandleSessionMessage(bytes.data(), 58, 10), dp::Ok);
    EXPECT_EQ(HandleSessionMessage(bytes.data(), 57, 9), dp::Ok); // one byte short
    EXPECT_EQ(HandleSessionMessage(bytes.data(), 3, 9), dp::Ok);
    EXPECT_EQ(trafficTable.count, 0);
    EXPECT_EQ(fake::CallCount("GetPlayerName"), 6); // two each; the short ones ask nothing

    EXPECT_EQ(HandleSessionMessage(bytes.data(), 58, 9), dp::Ok);
    ASSERT_EQ(trafficTable.count, 1);
    EXPECT_STREQ(trafficTable.entries[0].name, "Peer");
    EXPECT_EQ(trafficTable.entries[0].groundSpeed, 194);
}

TEST_F(TrafficCore, ReturnsTheNameLookupFailureAndDropsTheMessage) {
    Join();
    fake::SetPlayerName(9, "Peer");
    auto bytes = PositionBytes(RawPosition{});
    fake::FailCall("GetPlayerName", 1, dp::ErrInvalidPlayer);
    EXPECT_EQ(HandleSessionMessage(bytes.data(), 58, 9), dp::ErrInvalidPlayer);
    fake::FailCall("GetPlayerName", 3, dp::ErrGeneric); // the second call of the next message
    EXPECT_EQ(HandleSessionMessage(bytes.data(), 58, 9), dp::ErrGeneric);
    EXPECT_EQ(HandleSessionMessage(bytes.data(), 58, 42), dp::ErrInvalidPlayer); // unknown
    EXPECT_EQ(trafficTable.count, 0);
}

TEST_F(TrafficCore, DrainGrowsTheBufferOnceForMessagesOfOneSize) {
    Join();
    fake::SetPlayerName(5, "Peer");
    for (int i = 0; i < 3; ++i)
        fake::QueueMessage(PositionBytes(RawPosition{}, 64), 5);
    EXPECT_EQ(DrainSessionMessages(), dp::Ok);
    EXPECT_EQ(drainState.receiveBufferSize, 64u);
    EXPECT_EQ(fake::CallCount("Receive"), 5); // too small, three messages, then none left
    EXPECT_EQ(trafficTable.count, 1);

    // A bigger message replaces the buffer with one of exactly its size.
    fake::QueueMessage(PositionBytes(RawPosition{}, 100), 5);
    fake::QueueMessage(PositionBytes(RawPosition{}, 58), 5);
    EXPECT_EQ(DrainSessionMessages(), dp::Ok);
    EXPECT_EQ(drainState.receiveBufferSize, 100u);
    EXPECT_EQ(fake::QueuedMessages(), 0u);
}

TEST_F(TrafficCore, DrainSkipsUnknownTypesAndStopsOnOtherReceiveFailures) {
    Join();
    fake::SetPlayerName(5, "Peer");
    fake::QueueMessage(TypeOnly(4119), 5);
    fake::QueueMessage({0x19}, 5); // shorter than a type word
    fake::QueueMessage(PositionBytes(RawPosition{}), 5);
    EXPECT_EQ(DrainSessionMessages(), dp::Ok);
    EXPECT_EQ(trafficTable.count, 1);

    fake::QueueMessage(PositionBytes(RawPosition{}), 5);
    fake::FailCall("Receive", 0, dp::ErrGeneric);
    EXPECT_EQ(DrainSessionMessages(), dp::ErrGeneric);
    EXPECT_EQ(fake::QueuedMessages(), 1u);
}

TEST_F(TrafficCore, DrainEndsWhenTheProviderAsksForNoMoreThanItHas) {
    Join();
    fake::QueueMessage(PositionBytes(RawPosition{}), 5);
    EXPECT_EQ(DrainSessionMessages(), dp::Ok);
    int receives = fake::CallCount("Receive");
    // A provider that keeps saying "too small" for a size the buffer already has.
    fake::FailCall("Receive", 0, dp::ErrBufferTooSmall);
    fake::QueueMessage(PositionBytes(RawPosition{}), 5);
    EXPECT_EQ(DrainSessionMessages(), dp::ErrBufferTooSmall);
    EXPECT_EQ(fake::CallCount("Receive"), receives + 1);
}

TEST_F(TrafficCore, SessionEndingMessagesStopTheDrainUntilTheNextJoin) {
    struct Case {
        std::uint32_t type;
        dp::DPID sender;
    };
    for (const Case& c : {Case{49, 0}, Case{257, 0}, Case{257, 12}, Case{4118, 5}}) {
        TearDown();
        SetUp();
        Join();
        fake::SetPlayerName(5, "Peer");
        fake::QueueMessage(TypeOnly(c.type), c.sender);
        fake::QueueMessage(PositionBytes(RawPosition{}), 5);
        EXPECT_EQ(DrainSessionMessages(), dp::Ok);
        EXPECT_EQ(relayState.sessionEnded, 1) << c.type;
        EXPECT_EQ(sessionObject, nullptr);
        EXPECT_FALSE(fake::TimerRunning(PumpTimer));
        EXPECT_EQ(fake::ControlText(StatusLineControl), "FS Detected");
        EXPECT_EQ(fake::CallCount("Receive"), 2); // too small, then the ending message
        EXPECT_EQ(fake::LiveDirectPlayObjects(), 0);
        EXPECT_EQ(fake::CallsOf("DestroyPlayer"), std::vector<std::string>{"DestroyPlayer #1 0"});

        // A new object alone is not drained: only a join that starts the pump again lifts the end.
        ASSERT_EQ(plat::CreateDirectPlay(&sessionObject), dp::Ok);
        fake::QueueMessage(PositionBytes(RawPosition{}), 5);
        EXPECT_EQ(DrainSessionMessages(), dp::Ok);
        EXPECT_EQ(fake::CallCount("Receive"), 2);
        EXPECT_EQ(trafficTable.count, 0);
    }
}

TEST_F(TrafficCore, RefusalShowsItsBoxAndEndsTheSessionWhenItIsClosed) {
    Join();
    fake::QueueMessage(TypeOnly(4102), 3);
    std::int32_t endedWhileOpen = -1;
    fake::WhileMessageBoxOpen(
        [&](const fake::MessageBoxRecord&) { endedWhileOpen = relayState.sessionEnded; });
    EXPECT_EQ(DrainSessionMessages(), dp::Ok);
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    const fake::MessageBoxRecord& box = fake::MessageBoxes()[0];
    EXPECT_EQ(box.text, "Refused Connection as an Observer. No Multiplayer available.");
    EXPECT_EQ(box.caption, "Skyrelay");
    EXPECT_EQ(box.style, plat::BoxOk);
    EXPECT_FALSE(box.owned);
    EXPECT_EQ(endedWhileOpen, 0);
    EXPECT_EQ(relayState.sessionEnded, 1);
    EXPECT_EQ(sessionObject, nullptr);
}

TEST_F(TrafficCore, SecondRefusalInsideTheFirstBoxEndsTheSessionOnce) {
    Join();
    fake::QueueMessage(TypeOnly(4102), 3);
    fake::QueueMessage(TypeOnly(4102), 3);
    int nested = 0;
    // The box's own loop keeps the pump ticking: the second refusal opens a second box.
    fake::WhileMessageBoxOpen([&](const fake::MessageBoxRecord&) {
        if (nested++ == 0)
            DrainSessionMessages();
    });
    EXPECT_EQ(DrainSessionMessages(), dp::Ok);
    EXPECT_EQ(fake::MessageBoxes().size(), 2u);
    EXPECT_EQ(fake::CallCount("Close"), 1);
    EXPECT_EQ(fake::LiveDirectPlayObjects(), 0);
}

TEST(RelayStateTest, LeaveSessionAndReleaseAtExit) {
    fake::ResetAll();
    ResetRelayState();
    mainDialog = fake::MainWindow();
    EXPECT_EQ(LeaveSession(), 0); // no session object: only the status line
    EXPECT_EQ(fake::ControlText(StatusLineControl), "FS Detected");
    EXPECT_EQ(fake::CallCount("Close"), 0);

    // A failed last attempt (searching 1): the object is left alone at exit.
    ASSERT_EQ(plat::CreateDirectPlay(&sessionObject), dp::Ok);
    ReleaseSessionAtExit();
    EXPECT_NE(sessionObject, nullptr);
    EXPECT_EQ(fake::CallCount("Close"), 0);

    // Joined: closed and released, the player not destroyed.
    relayState.searching = 0;
    ReleaseSessionAtExit();
    EXPECT_EQ(sessionObject, nullptr);
    EXPECT_EQ(fake::CallsOf("Close"), std::vector<std::string>{"Close #1"});
    EXPECT_EQ(fake::CallCount("DestroyPlayer"), 0);
    EXPECT_EQ(fake::LiveDirectPlayObjects(), 0);
}

} // namespace
