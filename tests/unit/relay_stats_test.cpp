// The counter block: its bytes as other programs read them, the reader's refusals, the diagnosis
// sentence for each state of the chain, and a relay that runs the same with or without the block.
#include "beside_thread.h"
#include "platform/fake/fake.h"
#include "platform/fake/fake_directplay.h"
#include "platform/fake/fake_messaging.h"
#include "platform/fake/fake_settings_store.h"
#include "platform/fake/fake_shared_memory.h"
#include "relay_process.h"
#include "session/scheduler.h"
#include "session/session_join.h"
#include "shell/relay_app.h"
#include "shell/relay_dialog.h"
#include "shell/settings.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/pump.h"
#include "traffic/relay_stats_text.h"
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(const RelayStats& stats) {
    std::vector<std::uint8_t> bytes(sizeof stats);
    std::memcpy(bytes.data(), &stats, sizeof stats);
    return bytes;
}

std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = offset; i < offset + size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

TEST(RelayStatsBlock, FieldsSitAtTheirOffsetsLittleEndian) {
    RelayStats stats{};
    stats.magic = RelayStatsMagic;
    stats.version = RelayStatsVersion;
    stats.size = RelayStatsSize;
    stats.processId = 0x01020304;
    stats.startMs = 0x1122334455667788;
    stats.lastJoinMs = 0x0102;
    stats.running = 1;
    stats.useIpx = 1;
    stats.linkFailureCount = 3;
    stats.aircraftInTable = 0x1E;
    stats.lastEnding = 4118;
    stats.attemptsIpx = 7;
    stats.bytesReceived = 0x0100000000;
    stats.droppedSlow = 0xA0B0C0D0;
    stats.exchangesFailed[11] = 5;
    stats.lastExchangeResult = -2;
    stats.sequence = 6;
    stats.lastSendError = 5;
    stats.linkState = RelayLinkFailing;
    stats.timersRunning = RelayTimerDetection | RelayTimerPump;
    stats.linkSinceMs = 0x0A0B;
    stats.waitOf = 30;
    stats.usingSquawkBoxRaw = 2;
    stats.lastPositionMs = 0x0C;
    stats.recent[1].droppedSlow = 0x0D;
    stats.recent[3].droppedOther = 0x0E;
    const std::vector<std::uint8_t> bytes = Bytes(stats);
    struct Row {
        std::size_t offset;
        std::size_t size;
        const char* hex;
    };
    const Row rows[] = {
        {0, 4, "534b5354"},
        {4, 4, "03000000"},
        {8, 4, "b0010000"},
        {12, 4, "04030201"},
        {16, 8, "8877665544332211"},
        {56, 8, "0201000000000000"},
        {64, 8, "0100000000000001"}, // running, then the flags, useIpx last
        {72, 4, "03001e00"},
        {76, 4, "16100000"},
        {84, 4, "07000000"},
        {120, 8, "0000000001000000"},
        {140, 4, "d0c0b0a0"},
        {164 + 11 * 4, 4, "05000000"},
        {228, 4, "feffffff"},
        {232, 8, "0600000005000000"},
        {240, 4, "02000500"}, // the link failing, detection and pump, no session
        {244, 8, "0b0a000000000000"},
        {284, 4, "00001e00"},
        {288, 4, "02000000"},
        {312, 8, "0c00000000000000"},
        {320 + 28 + 16, 4, "0d000000"},
        {320 + 3 * 28 + 24, 4, "0e000000"},
    };
    ASSERT_EQ(bytes.size(), 432u);
    for (const Row& row : rows)
        EXPECT_EQ(Hex(bytes, row.offset, row.size), row.hex) << "offset " << row.offset;
}

TEST(RelayStatsBlock, ReaderRefusesWhatItDoesNotUnderstandAndNeverReadsPastTheBytes) {
    RelayStats good{};
    good.magic = RelayStatsMagic;
    good.version = RelayStatsVersion;
    good.size = RelayStatsSize;
    good.processId = 77;
    struct Row {
        std::uint32_t magic;
        std::uint32_t version;
        std::uint32_t size;  // the size field
        std::size_t given;   // bytes handed to the reader
        const char* refusal; // "" when the block is read
    };
    const Row rows[] = {
        {RelayStatsMagic, 3, 432, 432, ""},
        {RelayStatsMagic, 4, 500, 432, ""}, // a later, longer block, copied as far as known
        {RelayStatsMagic, 3, 500, 500, ""},
        {RelayStatsMagic, 3, 432, 11, "the block is 11 bytes, too small for its header"},
        {RelayStatsMagic, 3, 432, 12, "only 12 bytes of the block can be read, fewer than 432"},
        {0x54534B54, 3, 432, 432,
         "the block does not start with the magic number of Skyrelay's counters"},
        {RelayStatsMagic, 2, 240, 432,
         "the block has layout version 2, written by an older Skyrelay: use the skyrelay-aifile "
         "that came with it, or a newer Skyrelay"},
        {RelayStatsMagic, 3, 431, 432, "the block says it is 431 bytes, smaller than 432"},
        {RelayStatsMagic, 3, 432, 431, "only 431 bytes of the block can be read, fewer than 432"},
    };
    for (const Row& row : rows) {
        RelayStats stats = good;
        stats.magic = row.magic;
        stats.version = row.version;
        stats.size = row.size;
        std::vector<std::uint8_t> all = Bytes(stats);
        all.resize(row.given > all.size() ? row.given : all.size(), 0xEE);
        // Exactly `given` bytes on the heap: a read past them is caught.
        std::vector<std::uint8_t> bytes(all.begin(), all.begin() + static_cast<long>(row.given));
        RelayStatsReading reading = ReadRelayStats(bytes.data(), bytes.size());
        EXPECT_EQ(reading.refusal, row.refusal) << row.size << " " << row.given;
        EXPECT_EQ(reading.valid, *row.refusal == '\0');
        if (reading.valid) {
            EXPECT_EQ(reading.stats.processId, 77u);
        }
    }
    EXPECT_EQ(ReadRelayStats(nullptr, 240).refusal,
              "the block is 0 bytes, too small for its header");
}

// A relay in a session that hears ALPHA and publishes it: all is well at 100 s.
RelayStats WorkingRelay() {
    RelayStats s{};
    s.magic = RelayStatsMagic;
    s.version = RelayStatsVersion;
    s.size = RelayStatsSize;
    s.processId = 4242;
    s.startMs = 10000;
    s.lastUpdateMs = 99800;
    s.lastJoinMs = 30000;
    s.lastMessageMs = 99000;
    s.lastPublishMs = 97000;
    s.lastExchangeMs = 97000;
    s.running = 1;
    s.simDetected = 1;
    s.connected = 1;
    s.inSession = 1;
    s.usingSquawkBox = 1;
    s.attemptsTcp = 1;
    s.joins = 1;
    s.positionMessages = 50;
    s.positionsRecorded = 40;
    s.droppedSlow = 10;
    s.aircraftInTable = 1;
    s.publications = 6;
    s.exchangesOk = 6;
    return s;
}

// The whole program on the fake backend: the simulator found, two automatic attempts without a
// session, with or without the counter block. Returns what a user sees.
struct Seen {
    std::vector<std::string> boxes;
    std::vector<std::string> status;
};

// A fresh process with these settings and the simulator running.
void FreshRelay(const std::string& settings) {
    ResetRelayProcess();
    fake::SetProcessId(321);
    fake::SetProfileFile("Skyrelay.ini", settings);
    fake::AddWindow("UIPCMAIN");
    fake::SetModuleU32(0x3304, 0x19980005);
    fake::SetModuleU32(0x3308, 0xFADE0000);
}

RelayStats BlockNow() {
    RelayStats seen{};
    std::vector<std::uint8_t> bytes = fake::CounterBlockBytes(RelayStatsBlockName);
    if (bytes.size() == sizeof seen)
        std::memcpy(&seen, bytes.data(), sizeof seen);
    return seen;
}

Seen RunRelayWithTwoAttempts(bool blockFails) {
    FreshRelay("[Skyrelay]\r\nFSPath=C:\\FS2002\r\nUsingSB=1\r\n");
    fake::FailCounterBlock(blockFails);
    fake::WhileMainDialogRuns([](plat::Window, plat::DialogHandler&) {
        fake::FireTimer(DetectTimer);
        fake::FireTimer(AutoConnectTimer);
        fake::FireTimer(AutoConnectTimer);
    });
    EXPECT_EQ(RunRelayApplication(), 0);
    fake::WhileMainDialogRuns(nullptr);
    // The failed attempt's object is kept at exit, as the program does; the test releases it.
    if (sessionObject != nullptr)
        sessionObject->Release();
    sessionObject = nullptr;
    return Seen{fake::MessageBoxTexts(), fake::ControlTextHistory(StatusLineControl)};
}

TEST(RelayStatsBlock, CountsAttemptsAndIsReleasedAtExitAndARelayWithoutItBehavesTheSame) {
    Seen with = RunRelayWithTwoAttempts(false);
    RelayStats seen{};
    std::vector<std::uint8_t> bytes = fake::CounterBlockBytes(RelayStatsBlockName);
    ASSERT_EQ(bytes.size(), sizeof seen);
    std::memcpy(&seen, bytes.data(), sizeof seen);
    EXPECT_EQ(fake::LiveCounterBlocks(), 0);
    EXPECT_EQ(seen.running, 0);
    EXPECT_EQ(seen.processId, 321u);
    EXPECT_EQ(seen.simDetected, 1);
    EXPECT_EQ(seen.attemptsTcp, 1u);
    EXPECT_EQ(seen.attemptsIpx, 1u);
    EXPECT_EQ(seen.attemptsFailed, 2u);
    EXPECT_EQ(seen.useIpx, 1); // automatic attempts alternate, starting with TCP/IP

    Seen without = RunRelayWithTwoAttempts(true);
    EXPECT_EQ(without.boxes, with.boxes);
    EXPECT_EQ(without.status, with.status);
}

// Each point at which the relay's state changes reaches the block by itself, in manual mode, where
// no other timer runs to publish it later.
TEST(RelayStatsBlock, TheBlockFollowsEachChangeAtOnce) {
    struct Row {
        const char* what;
        void (*act)(plat::DialogHandler& dialog);
        std::string (*seen)(const RelayStats& s);
        const char* expected;
    };
    const Row rows[] = {
        {"the end of the dialog's initialisation", [](plat::DialogHandler&) {},
         [](const RelayStats& s) {
             return "running " + std::to_string(s.running) + ", Using SquawkBox " +
                    std::to_string(s.usingSquawkBox) + ", Manual connect only " +
                    std::to_string(s.manualConnectOnly);
         },
         "running 1, Using SquawkBox 1, Manual connect only 1"},
        {"a detection tick in manual mode",
         [](plat::DialogHandler&) { fake::FireTimer(DetectTimer); },
         [](const RelayStats& s) { return "detected " + std::to_string(s.simDetected); },
         "detected 1"},
        {"an option toggled while no timer fires",
         [](plat::DialogHandler& dialog) { dialog.OnCommand(UsingSquawkBoxCommand); },
         [](const RelayStats& s) { return "Using SquawkBox " + std::to_string(s.usingSquawkBox); },
         "Using SquawkBox 0"},
        {"a join from the menu",
         [](plat::DialogHandler& dialog) {
             fake::Sessions().push_back({dp::GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, "FS2002"});
             dialog.OnCommand(TcpIpCommand);
         },
         [](const RelayStats& s) {
             return "attempts " + std::to_string(s.attemptsTcp) + ", joined " +
                    std::to_string(s.joins) + ", in a session " + std::to_string(s.inSession);
         },
         "attempts 1, joined 1, in a session 1"},
    };
    for (const Row& row : rows) {
        FreshRelay("[Skyrelay]\r\nFSPath=C:\\FS2002\r\nUsingSB=1\r\nManualConnect=1\r\n");
        std::string seen;
        fake::WhileMainDialogRuns([&](plat::Window, plat::DialogHandler& dialog) {
            row.act(dialog);
            seen = row.seen(BlockNow()); // before the exit publishes everything once more
        });
        EXPECT_EQ(RunRelayApplication(), 0);
        fake::WhileMainDialogRuns(nullptr);
        EXPECT_EQ(seen, row.expected) << row.what;
    }
}

// A relay started while another held the counters takes them over once that one has gone: it
// tries every 2 s, and the block then shows this relay's state, not what the other left there.
TEST(RelayStatsBlock, ARelayWithoutTheBlockTakesItOverOnceItsOwnerHasGone) {
    FreshRelay("[Skyrelay]\r\nFSPath=C:\\FS2002\r\nUsingSB=1\r\nManualConnect=1\r\n");
    auto* other =
        static_cast<RelayStats*>(plat::OpenCounterBlock(RelayStatsBlockName, sizeof(RelayStats)));
    ASSERT_NE(other, nullptr);
    other->processId = 999;
    other->inSession = 1;
    std::string seen;
    fake::WhileMainDialogRuns([&](plat::Window, plat::DialogHandler&) {
        fake::FireTimer(DetectTimer);
        fake::FireTimer(CounterBlockTimer);
        seen = "while the other runs: process " + std::to_string(BlockNow().processId);
        plat::CloseCounterBlock(other);
        fake::FireTimer(CounterBlockTimer);
        RelayStats now = BlockNow();
        seen += "; then: process " + std::to_string(now.processId) + ", detected " +
                std::to_string(now.simDetected) + ", in a session " +
                std::to_string(now.inSession) + ", timer " +
                std::to_string(fake::TimerRunning(CounterBlockTimer));
    });
    EXPECT_EQ(RunRelayApplication(), 0);
    fake::WhileMainDialogRuns(nullptr);
    EXPECT_EQ(seen, "while the other runs: process 999; then: process 321, detected 1, in a "
                    "session 0, timer 0");
    EXPECT_EQ(fake::LiveCounterBlocks(), 0);
}

// The relay writes the block as fast as it can while a reader copies it: no copy the reader
// accepts mixes two updates. Each update keeps pairs of fields equal, and a 64-bit time whose
// halves are equal.
TEST(RelayStatsBlock, AReaderNeverAcceptsACopyThatMixesTwoUpdates) {
    std::vector<std::uint8_t> view(RelayStatsSize);
    RelayStats record = WorkingRelay();
    record.positionsRecorded = record.positionMessages;
    record.lastMessageMs = std::uint64_t{record.positionMessages} << 32 | record.positionMessages;
    WriteRelayStatsView(view.data(), record);
    std::atomic<bool> done{false};
    int changes = 0; // accepted copies that differ from the one before: reads between updates
    int mixed = 0;
    const bool ran = RunBeside(
        [&] {
            for (std::uint32_t n = 1; !done.load(std::memory_order_relaxed); ++n) {
                record.positionMessages = n;
                record.positionsRecorded = n;
                record.lastMessageMs = std::uint64_t{n} << 32 | n;
                WriteRelayStatsView(view.data(), record);
            }
        },
        [&] {
            std::uint64_t previous = 0;
            std::vector<std::uint8_t> bytes;
            // Bounded: a reader that refuses every copy fails the test instead of hanging it.
            for (int read = 0; (read < 10000 || changes < 1000) && read < 5'000'000; ++read) {
                if (!CopyRelayStats(view.data(), view.size(), bytes, nullptr))
                    continue;
                RelayStats s{};
                std::memcpy(&s, bytes.data(), sizeof s);
                std::uint64_t n = s.positionMessages;
                changes += n != previous ? 1 : 0;
                previous = n;
                if (s.positionsRecorded != n || s.lastMessageMs != (n << 32 | n) ||
                    s.sequence % 2 != 0)
                    ++mixed;
            }
            done = true;
        });
    ASSERT_TRUE(ran) << "no second thread";
    EXPECT_EQ(mixed, 0);
    EXPECT_GT(changes, 0) << "no copy was accepted";
}

// The view a reader copies, and what each pause between its tries does to it.
RelayStats* copiedView = nullptr;
int pausesUntilStable = 0;
int pausesTaken = 0;
void PauseForTheWriter() {
    ++pausesTaken;
    if (pausesTaken == pausesUntilStable)
        copiedView->sequence = 8;
}

// A block the relay is writing (its sequence word odd) is copied up to five times, with a pause
// between tries; the first even copy is kept.
TEST(RelayStatsBlock, AReaderTriesFiveTimesWithAPauseBetween) {
    struct Row {
        std::uint32_t version;
        int pausesUntilStable; // the writer finishes during this pause; 0 when it never does
        bool copied;
        int pausesTaken;
    };
    // Layout 1 had no sequence word: its bytes there are copied once, for the refusal.
    const Row rows[] = {{RelayStatsVersion, 0, false, 4},
                        {RelayStatsVersion, 1, true, 1},
                        {RelayStatsVersion, 4, true, 4},
                        {1, 0, true, 0}};
    for (const Row& row : rows) {
        RelayStats view = WorkingRelay();
        view.version = row.version;
        view.sequence = 7;
        copiedView = &view;
        pausesUntilStable = row.pausesUntilStable;
        pausesTaken = 0;
        std::vector<std::uint8_t> bytes;
        std::string refusal;
        EXPECT_EQ(CopyRelayStats(&view, sizeof view, bytes, &refusal, PauseForTheWriter),
                  row.copied)
            << row.pausesUntilStable;
        EXPECT_EQ(pausesTaken, row.pausesTaken) << row.pausesUntilStable;
        EXPECT_EQ(refusal, row.copied ? ""
                                      : "the block changed during every one of 5 reads (a "
                                        "Skyrelay that stopped while writing it leaves it so)");
    }
    // A view too short for the word is copied once as it is, and never read past its end.
    const std::vector<std::uint8_t> whole = Bytes(WorkingRelay());
    const std::vector<std::uint8_t> shortView(whole.begin(), whole.begin() + 100);
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(CopyRelayStats(shortView.data(), shortView.size(), bytes, nullptr));
    EXPECT_EQ(bytes, shortView);
}

} // namespace
