// skyrelay-session's scripts and synthetic peers: what a script line means, which lines are
// refused with which line number, and peers that fly the way their messages say.
#include "skyrelay-session/scenario.h"
#include "skyrelay-session/synthetic.h"
#include "traffic/session_messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

namespace {

using namespace session_host;

TEST(SessionScenario, ReadsEveryCommand) {
    Scenario script = ParseScenario("# a comment\r\n"
                                    "\n"
                                    "   \t\n"
                                    "join ALPHA\r\n"
                                    "wait 0x1F4\n"
                                    "pos ALPHA -655360 6553600 0x800 -10001750 0xC0000000 -10 "
                                    "65535\n"
                                    "send ALPHA 0x0110 ff\n"
                                    "system sessionlost\n"
                                    "system host\n"
                                    "  # indented comment\n"
                                    "leave ALPHA\n"
                                    "end");
    ASSERT_FALSE(script.error) << script.error->message;
    ASSERT_EQ(script.commands.size(), 8u);
    const std::vector<Command>& c = script.commands;
    EXPECT_EQ(c[0].kind, CommandKind::Join);
    EXPECT_EQ(c[0].name, "ALPHA");
    EXPECT_EQ(c[0].line, 4);
    EXPECT_EQ(c[1].milliseconds, 500u);
    EXPECT_EQ(c[2].kind, CommandKind::Position);
    EXPECT_EQ(c[2].position.verticalSpeed, 0xFFF60000u);
    EXPECT_EQ(c[2].position.groundSpeed, 6553600u);
    EXPECT_EQ(c[2].position.headingWord, 0x800u);
    EXPECT_EQ(c[2].position.latitude, static_cast<std::uint32_t>(-10001750));
    EXPECT_EQ(c[2].position.longitude, 0xC0000000u);
    EXPECT_EQ(c[2].position.altitudeMetres, static_cast<std::uint32_t>(-10));
    EXPECT_EQ(c[2].position.altitudeFraction, 65535);
    EXPECT_EQ(c[3].bytes, (std::vector<std::uint8_t>{0x01, 0x10, 0xFF}));
    EXPECT_EQ(c[4].system, SystemMessageKind::SessionLost);
    EXPECT_EQ(c[5].system, SystemMessageKind::Host);
    EXPECT_EQ(c[6].kind, CommandKind::Leave);
    EXPECT_EQ(c[7].kind, CommandKind::End);
    EXPECT_EQ(c[7].line, 12);
}

TEST(SessionScenario, RefusesBadLinesWithTheirNumbers) {
    const struct {
        const char* text;
        int line;
        const char* message;
    } cases[] = {
        {"fly A\n", 1, "unknown command \"fly\""},
        {"WAIT 5\n", 1, "unknown command"},
        {"wait\n", 1, "expected: wait MS"},
        {"wait 5 6\n", 1, "expected: wait MS"},
        {"wait -1\n", 1, "wait needs milliseconds"},
        {"wait 3600001\n", 1, "wait needs milliseconds"},
        {"wait 0x\n", 1, "wait needs milliseconds"},
        {"wait 12ab\n", 1, "wait needs milliseconds"},
        {"join A\njoin A\n", 2, "already joined"},
        {"\n\npos B 1 2 3 4 5 6 7\n", 3, "has not joined"},
        {"join A\npos A 1 2 3 4 5 6\n", 2, "expected: pos NAME"},
        {"join A\npos A 1 4294967296 3 4 5 6 7\n", 2, "GS is not a 32-bit number"},
        {"join A\npos A -2147483649 0 3 4 5 6 7\n", 2, "VS is not a 32-bit number"},
        {"join A\npos A 1 2 3 4 5 -0x6 7\n", 2, "ALTM is not a 32-bit number"},
        {"join A\npos A 1 2 3 4 5 6 65536\n", 2, "ALTFRAC must be"},
        {"join A\nsend A\n", 2, "expected: send NAME HEXBYTES"},
        {"join A\nsend A 123\n", 2, "odd number of hex digits"},
        {"join A\nsend A 0x\n", 2, "not hex"},
        {"join A\nsend A zz\n", 2, "not hex"},
        {"send A 00\n", 1, "has not joined"},
        {"system reboot\n", 1, "unknown system message"},
        {"system\n", 1, "expected: system"},
        {"join A\nleave A\nleave A\n", 3, "has not joined"},
        {"join A\nleave A\npos A 1 2 3 4 5 6 7\n", 3, "has not joined"},
        {"end now\n", 1, "expected: end"},
        {"join A\nburst A 0 00\n", 2, "burst needs a count"},
        {"join A\nburst A 100001 00\n", 2, "burst needs a count"},
        {"join A\nburst A 5\n", 2, "expected: burst"},
        {"join A\njoin B\nrename A B\n", 3, "already joined"},
        {"join A\nrename A B\npos A 1 2 3 4 5 6 7\n", 3, "has not joined"},
        {"join A%00B\n", 1, "bad peer name"},
        {"join A%0a\n", 1, "bad peer name"},
        {"join A%0D\n", 1, "bad peer name"},
        {"join A%4\n", 1, "bad peer name"},
        {"join A%zz\n", 1, "bad peer name"},
        {"end\n\n# fine\njoin A\n", 4, "nothing may follow end"},
    };
    for (const auto& testCase : cases) {
        Scenario script = ParseScenario(testCase.text);
        ASSERT_TRUE(script.error) << testCase.text;
        EXPECT_EQ(script.error->line, testCase.line) << testCase.text;
        EXPECT_NE(script.error->message.find(testCase.message), std::string::npos)
            << testCase.text << " gave: " << script.error->message;
    }
}

TEST(SessionScenario, SendKeepsItsBoundAndNamesTheirs) {
    std::string atBound = "join A\nsend A " + std::string(2 * MaxSendSize, 'a') + "\n";
    EXPECT_FALSE(ParseScenario(atBound).error);
    std::string overBound = "join A\nsend A " + std::string(2 * MaxSendSize + 2, 'a') + "\n";
    EXPECT_TRUE(ParseScenario(overBound).error);
    std::string longName = "join " + std::string(MaxPeerNameLength + 1, 'N') + "\n";
    EXPECT_TRUE(ParseScenario(longName).error);
    EXPECT_TRUE(ParseScenario(std::string("join A\x01\n")).error);
    EXPECT_TRUE(ParseScenario(std::string("join A\0B\n", 9)).error);

    // A name of MaxPeerNameLength bytes, written with escapes, is any byte but NUL, CR and LF.
    std::string escaped = "%20%09%ff%25%7F";
    std::string spelled = " \t\xff%\x7f";
    std::string longest(MaxPeerNameLength - spelled.size(), 'n');
    Scenario named = ParseScenario("join " + escaped + longest + "\nburst " + escaped + longest +
                                   " 3 0a0b\nrename " + escaped + longest + " Z\n");
    ASSERT_FALSE(named.error) << named.error->message;
    EXPECT_EQ(named.commands[0].name, spelled + longest);
    EXPECT_EQ(named.commands[1].count, 3u);
    EXPECT_EQ(named.commands[1].bytes, (std::vector<std::uint8_t>{0x0A, 0x0B}));
    EXPECT_EQ(named.commands[2].newName, "Z");
    EXPECT_TRUE(ParseScenario("join " + escaped + longest + "n\n").error);
}

TEST(SessionScenario, PositionMessageHasTheFieldsAtTheirOffsets) {
    PositionFields fields{0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00,
                          0x01020304, 0x05060708, 0x090A};
    std::vector<std::uint8_t> message = BuildPositionMessage(fields);
    std::vector<std::uint8_t> expected(58, 0);
    const std::uint8_t type[] = {0x19, 0x10, 0, 0};
    std::memcpy(&expected[0], type, 4);
    const std::uint8_t rest[] = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0,
                                 0,    0,    0,    0xCC, 0xBB, 0xAA, 0x99, 0x00, 0xFF,
                                 0xEE, 0xDD, 0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06,
                                 0x05, 0,    0,    0,    0,    0x0A, 0x09};
    std::memcpy(&expected[24], rest, sizeof rest);
    EXPECT_EQ(message, expected);
}

// Decodes as the relay does without the SquawkBox option (metres per second, 16 fraction bits).
double Knots(std::uint32_t rawGroundSpeed) {
    return rawGroundSpeed * 1.9438461717893492 / 65536.0;
}

TEST(SessionSynthetic, PeersHaveDistinctNamesAndAFewAreTooSlowToRelay) {
    std::vector<SyntheticPeer> peers = MakeSyntheticPeers(12);
    std::set<std::string> names;
    std::set<long> altitudes;
    int slow = 0;
    for (const SyntheticPeer& peer : peers) {
        names.insert(peer.name);
        EXPECT_LE(peer.name.size(), 15u);
        PositionFields fields = SyntheticPosition(peer, 10.0);
        double knots = Knots(fields.groundSpeed);
        if (knots < 30.0)
            ++slow;
        else
            EXPECT_GT(knots, 30.0) << peer.name;
        altitudes.insert(static_cast<std::int32_t>(fields.altitudeMetres));
    }
    EXPECT_EQ(names.size(), peers.size());
    EXPECT_GE(slow, 2);
    EXPECT_LE(slow, 3);
    EXPECT_GE(altitudes.size(), 8u);
}

TEST(SessionSynthetic, PeersFlyWhereTheirHeadingPoints) {
    for (const SyntheticPeer& peer : MakeSyntheticPeers(6)) {
        // On a circle the chord from t-3 s to t+3 s runs along the track at t.
        PositionFields before = SyntheticPosition(peer, 27.0);
        PositionFields now = SyntheticPosition(peer, 30.0);
        PositionFields after = SyntheticPosition(peer, 33.0);
        double latitude = static_cast<std::int32_t>(before.latitude) * 360.0 / 40007000.0;
        double longitude = static_cast<std::int32_t>(before.longitude) * 360.0 / 4294967296.0;
        EXPECT_NEAR(latitude, 47.45, 0.2) << peer.name;
        EXPECT_NEAR(longitude, -122.31, 0.3) << peer.name;
        double north = static_cast<double>(static_cast<std::int32_t>(after.latitude) -
                                           static_cast<std::int32_t>(before.latitude)) *
                       360.0 / 40007000.0;
        double east = static_cast<double>(static_cast<std::int32_t>(after.longitude) -
                                          static_cast<std::int32_t>(before.longitude)) *
                      360.0 / 4294967296.0 * std::cos(latitude * 3.141592653589793 / 180.0);
        double track = std::atan2(east, north) * 180.0 / 3.141592653589793;
        if (track < 0)
            track += 360.0;
        double heading = ((now.headingWord >> 2) & 0x3FFu) * 360.0 / 1024.0;
        double difference = std::fabs(std::remainder(track - heading, 360.0));
        EXPECT_LT(difference, 5.0) << peer.name << " track " << track << " heading " << heading;
    }
}

TEST(SessionSynthetic, EachSpeedEncodingDecodesToThePeersSpeedWithItsOption) {
    for (const SyntheticPeer& peer : MakeSyntheticPeers(10)) {
        for (auto [encoding, usingSquawkBox] :
             {std::pair{SpeedEncoding::MetresPerSecond, 0}, {SpeedEncoding::SquawkBox, 1}}) {
            std::vector<std::uint8_t> message =
                BuildPositionMessage(SyntheticPosition(peer, 3.0, encoding));
            DecodedPosition decoded = DecodePosition(message.data(), usingSquawkBox);
            EXPECT_NEAR(decoded.groundSpeed, peer.speedKnots, 0.01) << peer.name;
        }
    }
}

} // namespace
