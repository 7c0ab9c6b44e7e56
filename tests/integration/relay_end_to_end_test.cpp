// The whole relay on the Linux stand-ins, three processes besides this one: skyrelay-sim stands in
// for the simulator, skyrelay-session for the multiplayer host and its pilots, and the skyrelay
// program itself runs headless in automatic mode. From detection to the first published aircraft,
// in the simulator and in "AIFile", and the block's header cleared at exit.
#include "session_host_helpers.h"

#include "state/relay_state.h"
#include "traffic/relay_stats_text.h"
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace session_test;

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The raw fields of one pilot's position message.
struct RawPosition {
    std::int32_t verticalSpeed;
    std::uint32_t groundSpeed;
    std::uint32_t headingWord;
    std::int32_t latitude;
    std::int32_t longitude;
    std::int32_t altitudeMetres;
    std::uint16_t altitudeFraction;
};

std::string ScriptLine(const std::string& name, const RawPosition& raw) {
    return "pos " + name + " " + std::to_string(raw.verticalSpeed) + " " +
           std::to_string(raw.groundSpeed) + " " + std::to_string(raw.headingWord) + " " +
           std::to_string(raw.latitude) + " " + std::to_string(raw.longitude) + " " +
           std::to_string(raw.altitudeMetres) + " " + std::to_string(raw.altitudeFraction) + "\n";
}

// The 58-byte message the host sends for those fields.
std::vector<std::uint8_t> PositionBytes(const RawPosition& raw) {
    std::vector<std::uint8_t> message(PositionMessage::MinimumSize, 0);
    auto put = [&message](std::size_t offset, auto value) {
        std::memcpy(message.data() + offset, &value, sizeof value);
    };
    put(PositionMessage::TypeOffset, PositionMessageType);
    put(PositionMessage::VerticalSpeedOffset, raw.verticalSpeed);
    put(PositionMessage::GroundSpeedOffset, raw.groundSpeed);
    put(PositionMessage::HeadingOffset, raw.headingWord);
    put(PositionMessage::LatitudeOffset, raw.latitude);
    put(PositionMessage::LongitudeOffset, raw.longitude);
    put(PositionMessage::AltitudeOffset, raw.altitudeMetres);
    put(PositionMessage::AltitudeFractionOffset, raw.altitudeFraction);
    return message;
}

// The entry the relay's decoder and table make of that message with "Using SquawkBox" on.
TrafficEntry DecodedEntry(const char* name, dp::DPID sender, const RawPosition& raw) {
    std::vector<std::uint8_t> message = PositionBytes(raw);
    DecodedPosition decoded = DecodePosition(message.data(), 1);
    ResetTrafficTable();
    RecordTraffic(name, static_cast<std::int32_t>(sender), decoded.latitude, decoded.longitude,
                  decoded.altitude, decoded.heading, decoded.groundSpeed, decoded.verticalSpeed);
    TrafficEntry entry = trafficTable.entries[0];
    ResetTrafficTable();
    return entry;
}

// skyrelay-sim's log line for a 40-byte write of that entry at 0x1F80.
std::string WriteLine(const TrafficEntry& entry) {
    std::string line = "write 0x1F80 40 ";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&entry);
    for (std::size_t i = 0; i < sizeof entry; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        line += two;
    }
    return line;
}

std::string RecordBytes(const SharedTrafficRecord& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// A block another program created before the relay started, so it outlives the relay.
class PreCreatedBlock {
  public:
    explicit PreCreatedBlock(std::string name) : name_(std::move(name)) {
        shm_unlink(name_.c_str());
        int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0)
            return;
        if (ftruncate(fd, static_cast<off_t>(SharedBlockSize)) == 0) {
            void* view = mmap(nullptr, SharedBlockSize, PROT_READ, MAP_SHARED, fd, 0);
            if (view != MAP_FAILED)
                view_ = static_cast<const std::uint8_t*>(view);
        }
        close(fd);
    }
    ~PreCreatedBlock() {
        if (view_ != nullptr)
            munmap(const_cast<std::uint8_t*>(view_), SharedBlockSize);
        shm_unlink(name_.c_str());
    }
    PreCreatedBlock(const PreCreatedBlock&) = delete;
    PreCreatedBlock& operator=(const PreCreatedBlock&) = delete;

    bool Mapped() const { return view_ != nullptr; }

    SharedTrafficBlock Read() const {
        SharedTrafficBlock block;
        std::memcpy(&block, view_, sizeof block);
        return block;
    }

  private:
    std::string name_;
    const std::uint8_t* view_ = nullptr;
};

// The first `count` records of the block, as a set (their order follows the pilots' messages).
std::multiset<std::string> Records(const SharedTrafficBlock& block, std::size_t count) {
    std::multiset<std::string> records;
    for (std::size_t i = 0; i < count; ++i)
        records.insert(RecordBytes(block.records[i]));
    return records;
}

// The program's environment for this test, restored afterwards.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// Polls `done` every 50 ms until it holds or the deadline passes.
template <typename Predicate> bool Eventually(Predicate done, Clock::duration timeout = 60s) {
    Clock::time_point deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// ALPHA flies fast (110 knots on the SquawkBox scale) and CHARLIE a little slower with its heading
// word's unused bits set; BRAVO is at 29.999994 knots and the pilot named like the user is the
// user's own aircraft: neither of those two is ever relayed.
constexpr RawPosition Alpha{655360, 12739190, 0x800, 4445222, 536870912, 1000, 32768};
constexpr RawPosition Charlie{-327680, 6369596, 0xFFFFF3FE, -12345678, -1234567890, -10, 0};
constexpr RawPosition Bravo{0, 3474324, 0x400, 100000, 100000, 300, 0};
constexpr RawPosition OwnAircraft{0, 12739190, 0x400, 200000, 200000, 300, 0};

TEST(RelayEndToEnd, AutomaticConnectionPublishesTheFirstAircraftAndClearsTheBlockAtExit) {
    PrivateEndpoints endpoints;
    const std::string& dir = endpoints.directory();
    std::string prefix = "skyrelay-e2e-" + std::to_string(getpid()) + "-";
    ScopedVariable shmPrefix("SKYRELAY_SHM_PREFIX", prefix);
    ScopedVariable configDir("SKYRELAY_CONFIG_DIR", dir + "/config");
    PreCreatedBlock block("/" + prefix + "AIFile");
    ASSERT_TRUE(block.Mapped());

    ASSERT_TRUE(posix::MakeDirs(dir + "/config"));
    ASSERT_TRUE(posix::MakeDirs(dir + "/FS2002"));
    WriteText(dir + "/config/Skyrelay.ini",
              "[Skyrelay]\r\nFSPath=" + dir + "/FS2002\r\nUsingSB=1\r\nManualConnect=0\r\n");
    WriteText(dir + "/FS2002/FS2002.cfg", "[MULTIPLAYER]\r\nPLAYER_NAME=Pilot\r\n");

    // The pilots keep sending, so every picture holds ALPHA and CHARLIE until the test ends.
    std::string script = "join ALPHA\njoin BRAVO\njoin CHARLIE\njoin Pilot\n";
    for (int round = 0; round < 300; ++round)
        script += ScriptLine("ALPHA", Alpha) + ScriptLine("BRAVO", Bravo) +
                  ScriptLine("CHARLIE", Charlie) + ScriptLine("Pilot", OwnAircraft) + "wait 500\n";

    std::string simLog = dir + "/sim.log";
    ChildProcess sim({std::string(SKYRELAY_BIN_DIR) + "/skyrelay-sim", "--log", simLog});
    struct stat info {};
    ASSERT_TRUE(Eventually([&] { return stat((dir + "/UIPCMAIN.window").c_str(), &info) == 0; }))
        << "skyrelay-sim did not come up: " << sim.RestOfOutput(1s);
    ChildProcess host({SessionProgram(), "--scenario", WriteScenario(endpoints, script)});
    StartHost(host);
    // Headless, with no input: the relay runs on its timers alone.
    ChildProcess relay({"/bin/sh", "-c", "exec \"$0\" --headless </dev/null",
                        std::string(SKYRELAY_BIN_DIR) + "/skyrelay"});

    ASSERT_TRUE(relay.WaitForLine("status: FS Detected", 60s)) << relay.RestOfOutput(1s);
    const std::string relayPrefix = "joined: Skyrelay (player ";
    std::optional<std::string> joined = host.WaitForLine(relayPrefix, 60s);
    ASSERT_TRUE(joined) << host.RestOfOutput(1s);
    const std::string relayId = std::to_string(std::stoul(joined->substr(relayPrefix.size())));
    ASSERT_TRUE(relay.WaitForLine("status: Connected to a session", 60s)) << relay.RestOfOutput(1s);
    std::map<std::string, dp::DPID> peers;
    for (const char* name : {"ALPHA", "BRAVO", "CHARLIE", "Pilot"}) {
        std::string peerPrefix = std::string("joined: ") + name + " (player ";
        auto said = [&](const std::string& line) { return line.rfind(peerPrefix, 0) == 0; };
        auto line = std::find_if(host.seen.begin(), host.seen.end(), said);
        std::optional<std::string> found =
            line != host.seen.end() ? std::optional(*line) : host.WaitForLine(peerPrefix, 20s);
        ASSERT_TRUE(found) << name;
        peers[name] = static_cast<dp::DPID>(std::stoul(found->substr(peerPrefix.size())));
    }

    // ALPHA's values worked out by hand from its raw fields.
    TrafficEntry alpha{};
    alpha.id = peers["ALPHA"] & 0xFFFFu;
    alpha.latitude = 39.999996185302734f;
    alpha.longitude = 45.0f;
    alpha.altitude = 3282.48046875f;
    alpha.heading = 32768;
    alpha.groundSpeed = 110;
    alpha.verticalSpeed = 600;
    std::strcpy(alpha.name, "ALPHA");
    SharedTrafficRecord alphaRecord{};
    alphaRecord.latitude = 39.999996185302734f;
    alphaRecord.longitude = 45.0f;
    alphaRecord.altitude = 3282.48046875f;
    alphaRecord.headingDegrees = 180.00274658203125f;
    alphaRecord.groundSpeed = 110.0f;
    alphaRecord.verticalSpeed = 600.0f;
    // The relay's own decoder agrees with the hand-worked values; CHARLIE's come from it.
    ASSERT_EQ(WriteLine(DecodedEntry("ALPHA", peers["ALPHA"], Alpha)), WriteLine(alpha));
    ASSERT_EQ(RecordBytes(MakeSharedRecord(alpha)), RecordBytes(alphaRecord));
    TrafficEntry charlie = DecodedEntry("CHARLIE", peers["CHARLIE"], Charlie);

    std::set<std::string> expectedWrites{WriteLine(alpha), WriteLine(charlie)};
    std::multiset<std::string> expectedRecords{RecordBytes(alphaRecord),
                                               RecordBytes(MakeSharedRecord(charlie))};

    // The host prints a line per message: keep its pipe from filling up while polling.
    auto keepReading = [&] {
        host.WaitForLine("\x01", 1ms);
        sim.WaitForLine("\x01", 1ms);
    };
    SharedTrafficBlock seen{};
    EXPECT_TRUE(Eventually([&] {
        keepReading();
        seen = block.Read();
        return seen.state == 2 && seen.recordCount == 2 && Records(seen, 2) == expectedRecords;
    })) << "state "
        << seen.state << ", recordCount " << seen.recordCount;

    std::set<std::string> writes;
    EXPECT_TRUE(Eventually([&] {
        keepReading();
        writes.clear();
        for (const std::string& line : FileLines(simLog))
            if (line.rfind("write 0x1F80 ", 0) == 0)
                writes.insert(line);
        return writes.size() >= expectedWrites.size();
    }));
    EXPECT_EQ(writes, expectedWrites) << "the simulator got other traffic than ALPHA and CHARLIE";

    // SIGTERM ends the relay like File > Exit: its player leaves and the header goes to zero,
    // while the last picture's records stay in their slots.
    EXPECT_EQ(relay.Kill(SIGTERM), 0) << relay.RestOfOutput(1s);
    EXPECT_TRUE(host.WaitForLine("left: Skyrelay (player " + relayId + ")", 20s));
    SharedTrafficBlock after = block.Read();
    EXPECT_EQ(after.state, 0);
    EXPECT_EQ(after.recordCount, 0);
    EXPECT_EQ(Records(after, 2), expectedRecords);
}

// The relay's counter block as another program reads it, one update whole; nullopt while there is
// none.
std::optional<RelayStats> ReadCounters(const std::string& name) {
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0)
        return std::nullopt;
    std::optional<RelayStats> stats;
    void* view = mmap(nullptr, sizeof(RelayStats), PROT_READ, MAP_SHARED, fd, 0);
    if (view != MAP_FAILED) {
        std::vector<std::uint8_t> bytes;
        if (CopyRelayStats(view, sizeof(RelayStats), bytes, nullptr)) {
            stats.emplace();
            std::memcpy(&*stats, bytes.data(), sizeof *stats);
        }
        munmap(view, sizeof(RelayStats));
    }
    close(fd);
    return stats;
}

struct CountedRun {
    RelayStats stats{};              // the counters once the session's end has reached them
    std::string sentence;            // the first line of skyrelay-aifile --stats then
    std::optional<RelayStats> after; // the block once the relay has exited
};

// Runs the relay in automatic mode ("Using SquawkBox", user "Pilot") against skyrelay-sim and a
// skyrelay-session that replays `script` from the relay's join, until a session-ending message
// has been counted.
CountedRun RunCountedScenario(const std::string& script) {
    CountedRun run;
    PrivateEndpoints endpoints;
    const std::string& dir = endpoints.directory();
    std::string prefix = "skyrelay-stats-" + std::to_string(getpid()) + "-";
    ScopedVariable shmPrefix("SKYRELAY_SHM_PREFIX", prefix);
    ScopedVariable configDir("SKYRELAY_CONFIG_DIR", dir + "/config");
    EXPECT_TRUE(posix::MakeDirs(dir + "/config"));
    EXPECT_TRUE(posix::MakeDirs(dir + "/FS2002"));
    WriteText(dir + "/config/Skyrelay.ini",
              "[Skyrelay]\r\nFSPath=" + dir + "/FS2002\r\nUsingSB=1\r\nManualConnect=0\r\n");
    WriteText(dir + "/FS2002/FS2002.cfg", "[MULTIPLAYER]\r\nPLAYER_NAME=Pilot\r\n");

    ChildProcess sim({std::string(SKYRELAY_BIN_DIR) + "/skyrelay-sim"});
    struct stat info {};
    EXPECT_TRUE(Eventually([&] { return stat((dir + "/UIPCMAIN.window").c_str(), &info) == 0; }));
    ChildProcess host({SessionProgram(), "--scenario", WriteScenario(endpoints, script)});
    StartHost(host);
    ChildProcess relay({"/bin/sh", "-c", "exec \"$0\" --headless </dev/null",
                        std::string(SKYRELAY_BIN_DIR) + "/skyrelay"});
    const std::string name = "/" + prefix + RelayStatsBlockName;
    std::optional<RelayStats> counters;
    EXPECT_TRUE(Eventually([&] {
        host.WaitForLine("\x01", 1ms);
        sim.WaitForLine("\x01", 1ms);
        counters = ReadCounters(name);
        return counters && counters->lastEnding != 0 && counters->inSession == 0;
    })) << relay.RestOfOutput(1s);
    if (counters)
        run.stats = *counters;
    ChildProcess reader({std::string(SKYRELAY_BIN_DIR) + "/skyrelay-aifile", "--stats"});
    if (std::optional<std::string> line = reader.WaitForLine("", 20s))
        run.sentence = *line;
    EXPECT_EQ(relay.Kill(SIGTERM), 0);
    run.after = ReadCounters(name);
    return run;
}

// Every drop reason and every kind of message, counted exactly. The script starts the moment the
// relay's player exists, so everything before its first wait is queued before the relay's first
// pump tick, 330 ms later: NOBODY has left by then (its message names no one), and the 31 fast
// aircraft meet an empty table, so the last of them finds it full.
TEST(RelayEndToEnd, CountersFollowTheScriptedSessionExactly) {
    std::string script = "join ALPHA\njoin BRAVO\njoin Pilot\njoin NOBODY\n";
    for (int i = 1; i <= 30; ++i)
        script += "join P" + std::to_string(i) + "\n";
    script += ScriptLine("NOBODY", Alpha) + "leave NOBODY\n";
    script += ScriptLine("BRAVO", Bravo) + ScriptLine("Pilot", OwnAircraft);
    script += "send ALPHA 1910000000000000\n"; // a position message of 8 bytes
    script += "send ALPHA 01000000\n";         // a type the relay does not handle
    script += ScriptLine("ALPHA", Alpha);
    for (int i = 1; i <= 30; ++i)
        script += ScriptLine("P" + std::to_string(i), Charlie);
    script += "wait 5000\nsend ALPHA 16100000\nwait 60000\n"; // the simulator's end, type 4118

    CountedRun run = RunCountedScenario(script);
    const RelayStats& s = run.stats;
    EXPECT_EQ(s.positionMessages, 35u);
    EXPECT_EQ(s.otherMessages, 1u);
    EXPECT_EQ(s.simulatorEndMessages, 1u);
    EXPECT_EQ(s.sessionLostMessages + s.hostMessages + s.refusedMessages, 0u);
    EXPECT_EQ(s.bytesReceived, 34u * 58 + 8 + 4 + 4);
    EXPECT_EQ(s.droppedTooShort, 1u);
    EXPECT_EQ(s.droppedNoName, 1u);
    EXPECT_EQ(s.droppedOwnName, 1u);
    EXPECT_EQ(s.droppedSlow, 1u);
    EXPECT_EQ(s.droppedTableFull, 1u);
    EXPECT_EQ(s.positionsRecorded, 30u);
    EXPECT_EQ(s.namesHeard, 32u); // BRAVO, ALPHA, P1 to P30
    EXPECT_EQ(s.attemptsTcp, 1u);
    EXPECT_EQ(s.attemptsFailed, 0u);
    EXPECT_EQ(s.joins, 1u);
    // Every publication before the end exchanged the 30 aircraft with the simulator.
    EXPECT_GE(s.publications, 1u);
    EXPECT_EQ(s.exchangesOk, 30u * s.publications);
    EXPECT_EQ(s.lastExchangeResult, 0);
    EXPECT_EQ(s.simDetected, 1);
    EXPECT_EQ(s.running, 1);
    EXPECT_EQ(run.sentence,
              "The session ended 0 s ago (the simulator ended its multiplayer session) and "
              "Skyrelay does not join again by itself: Multiplayer connect is grayed while "
              "\"Using SquawkBox\" is on and \"Manual connect only\" off: turn \"Manual connect "
              "only\" on, then choose Multiplayer connect > TCP/IP, or restart Skyrelay.");
    // Released at exit: the name is gone with the relay.
    EXPECT_FALSE(run.after.has_value());
}

TEST(RelayEndToEnd, EachOtherSessionEndingIsCountedByItsKind) {
    struct Row {
        const char* ending;
        std::uint32_t type;
        std::uint32_t RelayStats::*counter;
    };
    const Row rows[] = {
        {"system sessionlost", SessionLostMessage, &RelayStats::sessionLostMessages},
        {"system host", HostMessage, &RelayStats::hostMessages},
        {"send ALPHA 06100000", RefusedMessage, &RelayStats::refusedMessages},
    };
    for (const Row& row : rows) {
        CountedRun run = RunCountedScenario("join ALPHA\n" + ScriptLine("ALPHA", Alpha) +
                                            "wait 500\n" + row.ending + "\nwait 60000\n");
        EXPECT_EQ(run.stats.*row.counter, 1u) << row.ending;
        EXPECT_EQ(run.stats.lastEnding, row.type) << row.ending;
        EXPECT_EQ(run.stats.positionMessages, 1u) << row.ending;
        EXPECT_EQ(run.stats.sessionLostMessages + run.stats.hostMessages +
                      run.stats.simulatorEndMessages + run.stats.refusedMessages,
                  1u)
            << row.ending;
    }
}

} // namespace
