// The traffic pump: the drain gate, the publication cadence, the writes to the simulator and the
// shared block, against the fake DirectPlay, module and shared memory.
#include "platform/fake/fake.h"
#include "platform/fake/fake_directplay.h"
#include "platform/fake/fake_messaging.h"
#include "platform/fake/fake_shared_memory.h"
#include "relay_process.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/pump.h"
#include "traffic/relay_stats.h"
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Position(std::uint32_t rawGroundSpeed = 6553600) {
    return PositionAtSpeed(rawGroundSpeed);
}

std::string Hex(const void* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    auto bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

class Pump : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::ResetAll();
        ResetRelayState();
        ResetTrafficTable();
        ResetDrainState();
        ResetSimLinkState();
        ResetSharedTrafficBlock();
        ResetPumpState();
        ResetRelayStats();
        mainDialog = fake::MainWindow();
        sessionEvent = plat::CreateSessionEvent();
        std::strcpy(playerName, "Me");

        // The simulator's module, the shared block and a joined session.
        fake::AddWindow("UIPCMAIN");
        fake::SetModuleU32(0x3304, 0x19980005);
        fake::SetModuleU32(0x3308, 0xFADE0000);
        SimLinkResult result = SimLinkResult::Ok;
        ASSERT_EQ(SimLinkOpen(0, &result), 1);
        OpenSharedTrafficBlock();
        ASSERT_NE(sharedView, nullptr);
        ASSERT_EQ(plat::CreateDirectPlay(&sessionObject), dp::Ok);
        relayState.searching = 0;
        relayState.pumpTimerId = plat::StartTimer(mainDialog, PumpTimer, PumpPeriodMs, OnPumpTimer);
        for (dp::DPID id = 1; id <= 40; ++id)
            fake::SetPlayerName(id, "P" + std::to_string(id));
        handshakeMessages = fake::ModuleMessages();
        fake::ClearCalls();
    }
    void TearDown() override {
        if (sessionObject != nullptr)
            sessionObject->Release();
        sessionObject = nullptr;
        SimLinkClose();
        ReleaseSharedTrafficBlock();
        ResetDrainState();
        plat::CloseSessionEvent(sessionEvent);
    }

    // Runs `ticks` pump ticks and returns the ticks (1-based) on which traffic went to the module.
    static std::vector<int> TicksThatPublished(int ticks, int firstTick = 1) {
        std::vector<int> published;
        for (int tick = firstTick; tick < firstTick + ticks; ++tick) {
            int before = fake::ModuleMessages();
            OnPumpTimer();
            if (fake::ModuleMessages() != before)
                published.push_back(tick);
        }
        return published;
    }

    int handshakeMessages = 0;

    static std::vector<std::string> TrafficWrites() {
        std::vector<std::string> writes;
        for (const auto& line : fake::ModuleLog())
            if (line.rfind("write 0x1F80 ", 0) == 0)
                writes.push_back(line);
        return writes;
    }
};

TEST_F(Pump, PublishesOnItsCadenceAndEmptiesTheTableEveryFourthTime) {
    struct Case {
        std::int32_t usingSquawkBox;
        std::vector<int> publications;
    };
    const Case cases[] = {
        {0, {4, 8, 12, 16, 20}},
        {1, {12, 24, 36, 48, 60}},
        {2, {4, 8, 12, 16, 20}}, // any value other than 1 publishes every 4th tick
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        relayState.usingSquawkBox = c.usingSquawkBox;
        // One aircraft heard before every tick; the table is emptied after each 4th publication.
        std::vector<int> published;
        std::vector<int> emptiedAfter;
        for (int tick = 1; tick <= c.publications.back(); ++tick) {
            fake::QueueMessage(Position(), 7);
            int before = fake::ModuleMessages();
            OnPumpTimer();
            if (fake::ModuleMessages() != before)
                published.push_back(tick);
            if (trafficTable.count == 0)
                emptiedAfter.push_back(tick);
        }
        EXPECT_EQ(published, c.publications) << c.usingSquawkBox;
        EXPECT_EQ(emptiedAfter, std::vector<int>{c.publications[3]}) << c.usingSquawkBox;
    }
    // The decoder follows the option with its own test: 2 means the SquawkBox speed formula.
    EXPECT_EQ(trafficTable.entries[0].groundSpeed, 56); // 6553600 / 127391.9 x 1.1
}

TEST_F(Pump, OptionSwitchedOffMidCountPublishesAtTheNextTick) {
    relayState.usingSquawkBox = 1;
    fake::QueueMessage(Position(), 7);
    EXPECT_TRUE(TicksThatPublished(7).empty()); // pumpTickCount now 7
    relayState.usingSquawkBox = 0;
    EXPECT_EQ(TicksThatPublished(5, 8), (std::vector<int>{8, 12}));

    // Switching on only delays the next publication until the count reaches 11.
    relayState.usingSquawkBox = 1;
    EXPECT_EQ(TicksThatPublished(12, 13), std::vector<int>{24});
}

TEST_F(Pump, EachAircraftIsOneExactWriteAndOneExchangeInTableOrder) {
    fake::QueueMessage(Position(), 3);
    fake::QueueMessage(Position(6553600 * 2), 1);
    fake::QueueMessage(Position(), 2);
    TicksThatPublished(4);
    ASSERT_EQ(trafficTable.count, 3);
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i)
        expected.push_back("write 0x1F80 40 " + Hex(&trafficTable.entries[i], 40));
    EXPECT_EQ(TrafficWrites(), expected);
    EXPECT_EQ(fake::ModuleMessages() - handshakeMessages, 3);
    EXPECT_STREQ(trafficTable.entries[0].name, "P3");
    EXPECT_EQ(workingBlock.state, 2);
    EXPECT_EQ(workingBlock.recordCount, 3);
    for (int i = 0; i < 3; ++i) {
        SharedTrafficRecord record = MakeSharedRecord(trafficTable.entries[i]);
        EXPECT_EQ(std::memcmp(&workingBlock.records[i], &record, sizeof record), 0);
    }
    EXPECT_EQ(lastExchangeResult, SimLinkResult::Ok);
}

TEST_F(Pump, EmptyTablePublishesTheEmptyPictureWithoutTouchingTheLink) {
    TicksThatPublished(4);
    EXPECT_EQ(fake::ModuleMessages(), handshakeMessages);
    EXPECT_TRUE(fake::CallsOf("SendWithTimeout").empty());
    EXPECT_EQ(workingBlock.state, 2);
    EXPECT_EQ(workingBlock.recordCount, 0);
    EXPECT_EQ(workingBlock.records[0].latitude, 89.0f);
    EXPECT_EQ(workingBlock.records[0].verticalSpeed, 1.0f);
}

TEST_F(Pump, FailedExchangesHoldTheDrainUntilTheSimulatorIsBack) {
    fake::QueueMessage(Position(), 7);
    TicksThatPublished(3); // heard on tick 1
    fake::SilenceModule(-1);
    TicksThatPublished(1, 4); // the publication of tick 4 fails
    EXPECT_EQ(lastExchangeResult, SimLinkResult::SendError);
    EXPECT_EQ(relayStats.lastSendError, fake::ErrorTimeout); // kept for the diagnosis

    // Meanwhile nothing is taken from the session; the same entry is retried at each publication.
    fake::QueueMessage(Position(), 8);
    int receives = fake::CallCount("Receive");
    TicksThatPublished(8, 5); // publications on ticks 8 and 12 fail too
    EXPECT_EQ(fake::CallCount("Receive"), receives);
    EXPECT_EQ(trafficTable.count, 1);

    // Tick 16 empties the table after its (failed) publication; the next publication has nothing
    // to exchange, so the drain runs again and the new aircraft reaches the simulator.
    TicksThatPublished(4, 13);
    EXPECT_EQ(trafficTable.count, 0);
    EXPECT_EQ(lastExchangeResult, SimLinkResult::SendError);
    fake::SilenceModule(0);
    TicksThatPublished(4, 17); // tick 20: empty publication, gate opens
    EXPECT_EQ(lastExchangeResult, SimLinkResult::Ok);
    EXPECT_EQ(fake::CallCount("Receive"), receives);
    int before = fake::ModuleMessages();
    TicksThatPublished(4, 21);
    EXPECT_GT(fake::CallCount("Receive"), receives);
    EXPECT_EQ(fake::ModuleMessages(), before + 1);
    EXPECT_STREQ(trafficTable.entries[0].name, "P8");
}

TEST_F(Pump, CountsEachMessageByKindAndDropReasonAndEachExchangeByResult) {
    ResetRelayStats();
    fake::SetMonotonicMilliseconds(5000);
    OpenRelayStats();
    fake::SetPlayerName(42, "Me");
    std::vector<std::uint8_t> shortPosition = Position();
    shortPosition.pop_back();
    fake::QueueMessage(Position(0), 8);    // 30 knots or less
    fake::QueueMessage(shortPosition, 9);  // 57 bytes
    fake::QueueMessage(Position(), 41);    // a sender without a name
    fake::QueueMessage(Position(), 42);    // the user's own name
    fake::QueueMessage({1, 0, 0, 0}, 0);   // a type the relay does not handle
    fake::QueueMessage({0x19, 0x10}, 10);  // too short to have a type
    for (dp::DPID id = 10; id <= 40; ++id) // 31 aircraft: the last finds the table full
        fake::QueueMessage(Position(), id);
    fake::QueueMessage(Position(), 10); // an update of a stored aircraft
    fake::SetMonotonicMilliseconds(7000);
    TicksThatPublished(4); // the 4th tick publishes the 30 aircraft
    fake::SetModuleReply(0);
    fake::SetMonotonicMilliseconds(9000);
    TicksThatPublished(4, 5); // the simulator refuses all 30 at the next publication

    RelayStats seen{};
    std::vector<std::uint8_t> block = fake::CounterBlockBytes(RelayStatsBlockName);
    ASSERT_EQ(block.size(), sizeof seen);
    std::memcpy(&seen, block.data(), sizeof seen);
    EXPECT_EQ(seen.positionMessages, 36u);
    EXPECT_EQ(seen.otherMessages, 2u);
    EXPECT_EQ(seen.bytesReceived, 35u * 58 + 57 + 4 + 2);
    EXPECT_EQ(seen.droppedTooShort, 1u);
    EXPECT_EQ(seen.droppedNoName, 1u);
    EXPECT_EQ(seen.droppedOwnName, 1u);
    EXPECT_EQ(seen.droppedSlow, 1u);
    EXPECT_EQ(seen.droppedTableFull, 1u);
    EXPECT_EQ(seen.positionsRecorded, 31u);
    EXPECT_EQ(seen.namesHeard, 32u); // P8 and P10 to P40
    EXPECT_EQ(seen.aircraftInTable, 30u);
    EXPECT_EQ(seen.publications, 2u);
    EXPECT_EQ(seen.exchangesOk, 30u);
    EXPECT_EQ(seen.exchangesFailed[static_cast<int>(SimLinkResult::BadReply)], 30u);
    EXPECT_EQ(seen.lastExchangeResult, static_cast<std::int32_t>(SimLinkResult::BadReply));
    EXPECT_EQ(seen.startMs, 5000u);
    EXPECT_EQ(seen.lastMessageMs, 7000u);
    EXPECT_EQ(seen.lastPublishMs, 9000u);
    EXPECT_EQ(seen.lastExchangeMs, 7000u);
    EXPECT_EQ(seen.lastUpdateMs, 9000u);
}

TEST_F(Pump, TheViewIsRewrittenOnEveryTick) {
    for (int tick = 1; tick <= 5; ++tick) {
        // Another program scribbles on the block; the next tick restores the working copy.
        std::memset(sharedView, 0xEE, SharedBlockSize);
        OnPumpTimer();
        EXPECT_EQ(std::memcmp(sharedView, &workingBlock, SharedBlockSize), 0) << tick;
    }
}

TEST_F(Pump, AnAircraftHeardOnceIsPublishedUntilTheNextEmptying) {
    TicksThatPublished(16); // four empty publications: the table was just emptied
    fake::QueueMessage(Position(), 9);
    EXPECT_EQ(TicksThatPublished(20, 17), (std::vector<int>{20, 24, 28, 32}));
    EXPECT_EQ(trafficTable.count, 0);
    EXPECT_EQ(TrafficWrites().size(), 4u);
}

TEST_F(Pump, WaitsForTheSessionEventOnEveryTick) {
    int drainedInWait = 0;
    fake::WhileWaiting([&] {
        fake::QueueMessage(Position(), 5);
        ++drainedInWait;
    });
    TicksThatPublished(4);
    EXPECT_EQ(fake::CallCount("WaitForEventOrInput"), 4);
    EXPECT_EQ(drainedInWait, 4);
    EXPECT_EQ(fake::QueuedMessages(), 0u); // each message was drained in the tick it arrived
}

} // namespace

// One hour of pump ticks with 30 aircraft in the air at any time, five of them replaced by new
// players every minute: nothing the relay holds grows, the table never passes 30, and the last
// publication carries exactly the 30 aircraft flying then.
TEST_F(Pump, AnHourOfAircraftComingAndGoingLeavesNothingBehind) {
    constexpr int TicksPerMinute = 60000 / PumpPeriodMs;
    std::vector<dp::DPID> flying;
    dp::DPID nextId = 100;
    auto join = [&] {
        fake::SetPlayerName(nextId, "A" + std::to_string(nextId));
        flying.push_back(nextId++);
    };
    for (int i = 0; i < 30; ++i)
        join();
    struct Held {
        int objects, events, mappings, views, atoms;
        std::uint32_t receiveBuffer;
        bool operator==(const Held&) const = default;
    };
    auto held = [] {
        return Held{fake::LiveDirectPlayObjects(),
                    fake::LiveEvents(),
                    fake::LiveMappingHandles(),
                    fake::LiveViews(),
                    fake::LiveAtoms(),
                    drainState.receiveBufferSize};
    };
    Held afterFirstMinute{};
    for (int minute = 0; minute < 60; ++minute) {
        for (int tick = 0; tick < TicksPerMinute; ++tick) {
            for (dp::DPID id : flying)
                if (tick % 3 == 0) // about once a second
                    fake::QueueMessage(Position(), id);
            OnPumpTimer();
            ASSERT_LE(trafficTable.count, MaxTraffic);
        }
        ASSERT_EQ(fake::QueuedMessages(), 0u);
        if (minute == 0)
            afterFirstMinute = held();
        flying.erase(flying.begin(), flying.begin() + 5);
        for (int i = 0; i < 5; ++i)
            join();
        fake::ClearCalls();
    }
    // Half a minute more, for the newest five to be in the table after an emptying.
    std::size_t writesBefore = TrafficWrites().size();
    for (int tick = 0; tick < TicksPerMinute / 2; ++tick) {
        for (dp::DPID id : flying)
            if (tick % 3 == 0)
                fake::QueueMessage(Position(), id);
        OnPumpTimer();
    }
    EXPECT_EQ(held(), afterFirstMinute);
    std::vector<std::string> writes = TrafficWrites();
    ASSERT_GE(writes.size(), writesBefore + 30);
    std::set<std::string> lastNames;
    for (std::size_t i = writes.size() - 30; i < writes.size(); ++i)
        lastNames.insert(writes[i].substr(writes[i].size() - 36));
    std::set<std::string> flyingNames;
    for (dp::DPID id : flying) {
        char field[18] = {};
        std::snprintf(field, sizeof field, "A%u", id);
        flyingNames.insert(Hex(field, sizeof field));
    }
    EXPECT_EQ(lastNames, flyingNames);
    EXPECT_EQ(workingBlock.recordCount, 30);
}
