#include "platform/fake/fake.h"
#include "platform/fake/fake_messaging.h"
#include "platform/fake/fake_shared_memory.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

constexpr const char* FirstAreaName = "FsasmLib:IPC:1A2B:1";

class SimLink : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::ResetAll();
        ResetRelayState();
        ResetSimLinkState();
        mainDialog = fake::MainWindow();
        relayState.detectTimerId =
            plat::StartTimer(mainDialog, DetectTimer, DetectPeriodMs, nullptr);
        fake::SetInitialControlText(StatusLineControl, "FS Detected");
    }
    void TearDown() override { SimLinkClose(); }

    // A module that passes the handshake, under the given class.
    static void Module(const char* className = "UIPCMAIN", std::uint32_t moduleVersion = 0x19980005,
                       std::uint32_t simVersion = 0xFADE0000) {
        fake::AddWindow(className);
        fake::SetModuleU32(0x3304, moduleVersion);
        fake::SetModuleU32(0x3308, simVersion);
    }

    static SimLinkResult Open(std::uint32_t requested = 0) {
        SimLinkResult result = SimLinkResult::Ok;
        int opened = SimLinkOpen(requested, &result);
        EXPECT_EQ(opened, result == SimLinkResult::Ok ? 1 : 0);
        return result;
    }

    static SimLinkResult OpenModule() {
        Module();
        SimLinkResult result = Open();
        fake::ClearCalls();
        return result;
    }

    static SimLinkResult Process() {
        SimLinkResult result = SimLinkResult::Ok;
        SimLinkProcess(&result);
        return result;
    }

    static bool NothingHeld() {
        return fake::LiveAtoms() == 0 && fake::LiveMappingHandles() == 0 && fake::LiveViews() == 0;
    }
};

// ---- open and handshake ---------------------------------------------------------------------

TEST_F(SimLink, HandshakeOutcomesByVersionsClassAndRequest) {
    struct Case {
        const char* className;
        std::uint32_t moduleVersion, simVersion, requested;
        SimLinkResult expected;
        int passes;
        std::uint32_t simVersionAfter;
    };
    const Case cases[] = {
        {"UIPCMAIN", 0x19980005, 0xFADE0000, 0, SimLinkResult::Ok, 1, 0},
        {"FS98MAIN", 0x19980005, 0xFADE0000, 0, SimLinkResult::Ok, 1, 0},
        {"UIPCMAIN", 0x19980004, 0xFADE0000, 0, SimLinkResult::BadHandshake, 1, 0xFADE0000},
        {"FS98MAIN", 0x19980004, 0xFADE0000, 0, SimLinkResult::BadHandshakeOldWindow, 1,
         0xFADE0000},
        {"UIPCMAIN", 0xFFFFFFFF, 0xFADF0001, 0, SimLinkResult::BadHandshake, 1, 0xFADF0001},
        {"UIPCMAIN", 0x19980005, 0xFADE0000, 1, SimLinkResult::WrongSimulator, 1, 0},
        {"UIPCMAIN", 0x19980005, 0xFADE0007, 7, SimLinkResult::Ok, 1, 7},
        {"UIPCMAIN", 0x19980005, 0xFADE0007, 0x10007, SimLinkResult::WrongSimulator, 1, 7},
        {"UIPCMAIN", 0, 0, 0, SimLinkResult::BadHandshake, 5, 0},
        {"FS98MAIN", 0, 0, 0, SimLinkResult::BadHandshakeOldWindow, 5, 0},
        {"UIPCMAIN", 0x19980005, 0, 0, SimLinkResult::BadHandshake, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.className) + " " + std::to_string(c.moduleVersion) + " " +
                     std::to_string(c.simVersion) + " " + std::to_string(c.requested));
        SetUp();
        Module(c.className, c.moduleVersion, c.simVersion);
        EXPECT_EQ(Open(c.requested), c.expected);
        EXPECT_EQ(fake::ModuleMessages(), c.passes);
        EXPECT_EQ(fake::Sleeps(), std::vector<unsigned>(static_cast<std::size_t>(c.passes), 100));
        EXPECT_EQ(simLink.simVersion, c.simVersionAfter);
        EXPECT_EQ(simLink.areaBase != nullptr, c.expected == SimLinkResult::Ok);
        EXPECT_EQ(NothingHeld(), c.expected != SimLinkResult::Ok);
        // Both reads, then the handshake word once, in the first batch only.
        const auto& log = fake::ModuleLog();
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log[0], "read 0x3304 4");
        EXPECT_EQ(log[1], "read 0x3308 4");
        EXPECT_EQ(log[2], "write 0x330A 2 ec03");
        EXPECT_EQ(log.size(), static_cast<std::size_t>(2 * c.passes + 1));
        EXPECT_EQ(relayState.linkFailureCount, 0);
        SimLinkClose();
    }
}

TEST_F(SimLink, HandshakeStopsAtThePassThatSeesBothValues) {
    fake::AddWindow("UIPCMAIN");
    int passes = 0;
    fake::WhileModuleAnswers([&](std::span<std::uint8_t>) {
        // The module's values appear after the second pass was carried out.
        if (++passes == 2) {
            fake::SetModuleU32(0x3304, 0x19980005);
            fake::SetModuleU32(0x3308, 0xFADE0002);
        }
    });
    EXPECT_EQ(Open(), SimLinkResult::Ok);
    EXPECT_EQ(passes, 3);
    EXPECT_EQ(simLink.moduleVersion, 0x19980005u);
    EXPECT_EQ(simLink.simVersion, 2u);
}

TEST_F(SimLink, AlreadyOpenAndNoWindowChangeNothing) {
    EXPECT_EQ(Open(), SimLinkResult::NoModuleWindow);
    EXPECT_EQ(
        fake::CallsOf("FindWindowByClass"),
        (std::vector<std::string>{"FindWindowByClass UIPCMAIN", "FindWindowByClass FS98MAIN"}));
    EXPECT_EQ(simLink.mappingSerial, 0u);
    EXPECT_EQ(fake::CallCount("AddGlobalAtom"), 0);

    ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
    std::uint8_t* area = simLink.areaBase;
    EXPECT_EQ(Open(), SimLinkResult::AlreadyOpen);
    EXPECT_EQ(simLink.areaBase, area);
    EXPECT_EQ(simLink.mappingSerial, 1u);
    EXPECT_TRUE(fake::Calls().empty());

    SimLinkClose();
    SimLinkClose();
    EXPECT_TRUE(NothingHeld());
    EXPECT_EQ(simLink.areaBase, nullptr);
}

TEST_F(SimLink, FailedStepsReleaseEverythingAndAdvanceTheSerial) {
    struct Case {
        const char* operation;
        SimLinkResult expected;
        std::uint32_t serialAfter;
    };
    const Case cases[] = {
        {"RegisterMessage", SimLinkResult::NoRequestMessage, 0},
        {"AddGlobalAtom", SimLinkResult::NoAtom, 1},
        {"CreateNamedMapping", SimLinkResult::NoMapping, 1},
        {"MapWholeView", SimLinkResult::NoView, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        SetUp();
        Module();
        fake::FailCall(c.operation, 1, 0);
        EXPECT_EQ(Open(), c.expected);
        EXPECT_EQ(simLink.mappingSerial, c.serialAfter);
        EXPECT_TRUE(NothingHeld());
        EXPECT_EQ(fake::CallCount("SendWithTimeout"), 0);
        // The next attempt gets a fresh name and succeeds.
        EXPECT_EQ(Open(), SimLinkResult::Ok);
        EXPECT_EQ(simLink.mappingSerial, c.serialAfter + 1);
        SimLinkClose();
    }
}

TEST_F(SimLink, MappingNamesCarryProcessIdAndSerialInUpperHex) {
    Module();
    fake::SetProcessId(0xABC);
    fake::FailCall("AddGlobalAtom", 1, 0);
    fake::FailCall("MapWholeView", 1, 0);
    EXPECT_EQ(Open(), SimLinkResult::NoAtom);
    EXPECT_EQ(Open(), SimLinkResult::NoView);
    EXPECT_EQ(Open(), SimLinkResult::Ok);
    EXPECT_EQ(fake::CallsOf("CreateNamedMapping"),
              (std::vector<std::string>{"CreateNamedMapping FsasmLib:IPC:ABC:2 32768",
                                        "CreateNamedMapping FsasmLib:IPC:ABC:3 32768"}));
    EXPECT_EQ(fake::AtomName(simLink.requestAtom), "FsasmLib:IPC:ABC:3");
}

TEST_F(SimLink, ExistingMappingOfTheNameGivesNoMapping) {
    Module();
    fake::AddExistingMapping(FirstAreaName, RequestAreaSize);
    EXPECT_EQ(Open(), SimLinkResult::NoMapping);
    EXPECT_TRUE(NothingHeld());
    EXPECT_EQ(fake::CallCount("SendWithTimeout"), 0);
}

TEST_F(SimLink, SilentModuleFailsAfterNineSendsAndIsCounted) {
    Module();
    fake::SilenceModule(-1, 0);
    EXPECT_EQ(Open(), SimLinkResult::NoAnswer);
    EXPECT_EQ(fake::SendTimeoutsWaited(), std::vector<unsigned>(9, 2000));
    EXPECT_EQ(fake::Sleeps(), std::vector<unsigned>(9, 100));
    EXPECT_EQ(fake::CallsOf("SendWithTimeout")[0], "SendWithTimeout 49152 49152 1 2000");
    EXPECT_TRUE(NothingHeld());
    EXPECT_EQ(relayState.linkFailureCount, 1);

    fake::SilenceModule(-1, fake::ErrorTimeout);
    EXPECT_EQ(Open(), SimLinkResult::SendError);
    EXPECT_EQ(Open(), SimLinkResult::SendError);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "FS Detected");
    EXPECT_TRUE(fake::TimerRunning(DetectTimer));
    EXPECT_EQ(Open(), SimLinkResult::SendError);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "");
    EXPECT_FALSE(fake::TimerRunning(DetectTimer));

    // An answer on the ninth send is still an answer.
    fake::SilenceModule(8);
    EXPECT_EQ(Open(), SimLinkResult::Ok);
}

// ---- queuing ------------------------------------------------------------------------------------

TEST_F(SimLink, RecordsAreBuiltInPlaceByteForByte) {
    ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
    std::memset(simLink.areaBase, 0xCC, 64); // leftovers of an earlier batch
    std::uint32_t value = 0;
    const std::uint8_t source[3] = {0xA1, 0xB2, 0xC3};
    SimLinkResult result = SimLinkResult::AreaFull;
    EXPECT_EQ(SimLinkRead(0x3304, 4, &value, &result), 1);
    EXPECT_EQ(result, SimLinkResult::Ok);
    EXPECT_EQ(SimLinkWrite(0x1F80, 3, source, &result), 1);
    EXPECT_EQ(simLink.cursor - simLink.areaBase, 20 + 15);

    auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&value));
    std::vector<std::uint8_t> expected = {1,
                                          0,
                                          0,
                                          0,
                                          0x04,
                                          0x33,
                                          0,
                                          0,
                                          4,
                                          0,
                                          0,
                                          0,
                                          static_cast<std::uint8_t>(address),
                                          static_cast<std::uint8_t>(address >> 8),
                                          static_cast<std::uint8_t>(address >> 16),
                                          static_cast<std::uint8_t>(address >> 24),
                                          0,
                                          0,
                                          0,
                                          0,
                                          2,
                                          0,
                                          0,
                                          0,
                                          0x80,
                                          0x1F,
                                          0,
                                          0,
                                          3,
                                          0,
                                          0,
                                          0,
                                          0xA1,
                                          0xB2,
                                          0xC3,
                                          0xCC}; // no terminator until the batch is sent
    EXPECT_EQ(std::vector<std::uint8_t>(simLink.areaBase, simLink.areaBase + expected.size()),
              expected);

    fake::SetModuleU32(0x3304, 0x12345678);
    EXPECT_EQ(Process(), SimLinkResult::Ok);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(fake::ModuleBytes(0x1F80, 3), std::vector<std::uint8_t>(source, source + 3));
    EXPECT_EQ(simLink.cursor, simLink.areaBase);
}

TEST_F(SimLink, AreaFullAtTheExactLimitsAndForHugeSizes) {
    struct Case {
        bool read;
        std::uint32_t queuedFirst; // size of a write queued before, 0 for none
        std::uint32_t size;
        SimLinkResult expected;
    };
    const Case cases[] = {
        {true, 0, 32492, SimLinkResult::Ok},
        {true, 0, 32493, SimLinkResult::AreaFull},
        {false, 0, 32496, SimLinkResult::Ok},
        {false, 0, 32497, SimLinkResult::AreaFull},
        {true, 88, 32492 - 100, SimLinkResult::Ok},
        {true, 88, 32493 - 100, SimLinkResult::AreaFull},
        {true, 0, 0xFFFFFFFF, SimLinkResult::AreaFull},
        {false, 0, 0xFFFFFFFF, SimLinkResult::AreaFull},
        {true, 0, 0xFFFFFFEC, SimLinkResult::AreaFull},
        {false, 88, 0xFFFFFF90, SimLinkResult::AreaFull},
    };
    static std::uint8_t buffer[RequestAreaSize];
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.queuedFirst) + " + " + std::to_string(c.size));
        SetUp();
        ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
        SimLinkResult result = SimLinkResult::Ok;
        if (c.queuedFirst != 0) {
            ASSERT_EQ(SimLinkWrite(0x100, c.queuedFirst, buffer, &result), 1);
        }
        std::uint8_t* before = simLink.cursor;
        if (c.read)
            SimLinkRead(0x200, c.size, buffer, &result);
        else
            SimLinkWrite(0x200, c.size, buffer, &result);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(relayState.linkFailureCount, c.expected == SimLinkResult::Ok ? 0 : 1);
        if (c.expected == SimLinkResult::AreaFull) {
            EXPECT_EQ(simLink.cursor, before);
            if (c.queuedFirst != 0) {
                // The earlier record still goes out.
                EXPECT_EQ(Process(), SimLinkResult::Ok);
                EXPECT_EQ(fake::ModuleLog().back().substr(0, 14), "write 0x100 88");
            }
        }
        SimLinkClose();
    }
}

TEST_F(SimLink, NotOpenAndNothingQueuedAreCounted) {
    std::uint32_t value = 0;
    SimLinkResult result = SimLinkResult::Ok;
    EXPECT_EQ(SimLinkRead(0x3304, 4, &value, &result), 0);
    EXPECT_EQ(result, SimLinkResult::NotOpen);
    EXPECT_EQ(SimLinkWrite(0x3304, 4, &value, &result), 0);
    EXPECT_EQ(result, SimLinkResult::NotOpen);
    EXPECT_EQ(Process(), SimLinkResult::NotOpen);
    EXPECT_EQ(relayState.linkFailureCount, 3);

    ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
    EXPECT_EQ(Process(), SimLinkResult::NothingQueued);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "");
    EXPECT_TRUE(fake::CallsOf("SendWithTimeout").empty());
}

TEST_F(SimLink, FailedExchangesDropTheBatch) {
    ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
    fake::SetModuleU32(0x3304, 77);
    std::uint32_t value = 5;
    SimLinkResult result = SimLinkResult::Ok;

    fake::SetModuleReply(0);
    SimLinkRead(0x3304, 4, &value, &result);
    EXPECT_EQ(Process(), SimLinkResult::BadReply);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(relayState.linkFailureCount, 0);
    EXPECT_EQ(Process(), SimLinkResult::NothingQueued);
    EXPECT_EQ(relayState.linkFailureCount, 1);

    fake::SetModuleReply(1);
    fake::FailCall("SendWithTimeout", 0, 5);
    SimLinkRead(0x3304, 4, &value, &result);
    EXPECT_EQ(Process(), SimLinkResult::SendError);
    EXPECT_EQ(fake::CallsOf("SendWithTimeout").size(), 1u + 9u);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(Process(), SimLinkResult::NothingQueued);
    EXPECT_EQ(relayState.linkFailureCount, 3);
}

// ---- reply walk ---------------------------------------------------------------------------------

TEST_F(SimLink, ReplyWalkDeliversQueuedReadsInOrder) {
    ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
    fake::SetModuleU32(0x100, 0x11111111);
    fake::SetModuleU32(0x200, 0x22222222);
    std::uint32_t same = 0, empty = 0xEEEEEEEE;
    SimLinkResult result = SimLinkResult::Ok;
    SimLinkRead(0x100, 4, &same, &result);
    SimLinkRead(0x200, 4, &same, &result);
    SimLinkRead(0x100, 0, &empty, &result);
    SimLinkRead(0x200, 4, nullptr, &result);
    EXPECT_EQ(simLink.cursor - simLink.areaBase, 20 + 20 + 16 + 20);
    const std::size_t carriedBefore = fake::ModuleLog().size();
    EXPECT_EQ(Process(), SimLinkResult::Ok);
    EXPECT_EQ(same, 0x22222222u);
    EXPECT_EQ(empty, 0xEEEEEEEEu);
    EXPECT_EQ(fake::ModuleLog().size(), carriedBefore + 4);
}

TEST_F(SimLink, UnknownTypeEndsTheWalkAndIsCleared) {
    ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
    fake::SetModuleU32(0x100, 0x11111111);
    std::uint32_t first = 0, second = 0;
    SimLinkResult result = SimLinkResult::Ok;
    SimLinkRead(0x100, 4, &first, &result);
    SimLinkWrite(0x300, 2, "ab", &result);
    SimLinkRead(0x100, 4, &second, &result);
    fake::WhileModuleAnswers([](std::span<std::uint8_t> area) { area[20] = 9; });
    EXPECT_EQ(Process(), SimLinkResult::Ok);
    EXPECT_EQ(first, 0x11111111u);
    EXPECT_EQ(second, 0u);
    EXPECT_EQ(simLink.areaBase[20], 0);
}

// A module that damages the area cannot make the client write anywhere it did not queue, nor
// more bytes than it queued, nor read past the batch.
TEST_F(SimLink, DamagedRepliesStayWithinQueuedDestinations) {
    ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
    struct Guarded {
        std::uint8_t before[8];
        std::uint8_t value[6];
        std::uint8_t after[8];
    };
    std::mt19937 random(4);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        Guarded targets[3];
        std::memset(targets, 0x5A, sizeof targets);
        SimLinkResult result = SimLinkResult::Ok;
        SimLinkWrite(0x300, 6, "abcdef", &result);
        for (auto& target : targets)
            SimLinkRead(0x100, static_cast<std::uint32_t>(sizeof target.value), target.value,
                        &result);
        fake::WhileModuleAnswers([&](std::span<std::uint8_t> area) {
            // Damage a few header words or the terminator (batch: 18 + 3 * 22 bytes).
            for (int hit = 0; hit < 2; ++hit) {
                std::size_t at = random() % 88;
                std::uint32_t values[] = {
                    0, 1, 2, 3, 0xFFFFFFFF, 0x7F00, 4, 22, static_cast<std::uint32_t>(random())};
                std::uint32_t word = values[random() % std::size(values)];
                std::memcpy(&area[at], &word, 4);
            }
        });
        EXPECT_EQ(Process(), SimLinkResult::Ok);
        for (const auto& target : targets)
            for (int i = 0; i < 8; ++i) {
                ASSERT_EQ(target.before[i], 0x5A);
                ASSERT_EQ(target.after[i], 0x5A);
            }
    }
}

TEST_F(SimLink, WalkStopsAtTheTerminatorPositionAndAtCrossingRecords) {
    ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
    fake::SetModuleU32(0x100, 0x11111111);
    std::uint32_t value = 0;
    SimLinkResult result = SimLinkResult::Ok;

    // The module replaced the terminator: the walk ends where the terminator was written.
    SimLinkRead(0x100, 4, &value, &result);
    fake::WhileModuleAnswers([](std::span<std::uint8_t> area) { area[20] = 9; });
    EXPECT_EQ(Process(), SimLinkResult::Ok);
    EXPECT_EQ(value, 0x11111111u);
    EXPECT_EQ(simLink.areaBase[20], 9);

    // The module grew the record's size past the terminator: nothing is delivered.
    value = 0;
    SimLinkRead(0x100, 4, &value, &result);
    fake::WhileModuleAnswers([](std::span<std::uint8_t> area) { area[8] = 8; });
    EXPECT_EQ(Process(), SimLinkResult::Ok);
    EXPECT_EQ(value, 0u);
}

// ---- failure counting ---------------------------------------------------------------------------

TEST_F(SimLink, FourthCountedFailureAndEveryLaterOneStopDetection) {
    ASSERT_EQ(OpenModule(), SimLinkResult::Ok);
    const std::size_t textsAtStart = fake::ControlTextHistory(StatusLineControl).size();
    for (int failure = 1; failure <= 3; ++failure) {
        EXPECT_EQ(Process(), SimLinkResult::NothingQueued);
        EXPECT_EQ(relayState.linkFailureCount, failure);
        EXPECT_TRUE(fake::TimerRunning(DetectTimer));
        // Successes in between undo nothing.
        std::uint32_t value = 0;
        SimLinkResult result = SimLinkResult::Ok;
        SimLinkRead(0x3304, 4, &value, &result);
        EXPECT_EQ(Process(), SimLinkResult::Ok);
    }
    EXPECT_EQ(fake::ControlTextHistory(StatusLineControl).size(), textsAtStart);
    EXPECT_EQ(Process(), SimLinkResult::NothingQueued);
    EXPECT_EQ(relayState.linkFailureCount, 3);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "");
    EXPECT_FALSE(fake::TimerRunning(DetectTimer));

    // The link stays open and usable; a later failure acts again.
    relayState.detectTimerId = plat::StartTimer(mainDialog, DetectTimer, DetectPeriodMs, nullptr);
    plat::SetControlText(mainDialog, StatusLineControl, "FS Detected");
    EXPECT_NE(simLink.areaBase, nullptr);
    EXPECT_EQ(Process(), SimLinkResult::NothingQueued);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "");
    EXPECT_FALSE(fake::TimerRunning(DetectTimer));
}

TEST(SimLinkResultNames, EveryCodeHasItsName) {
    EXPECT_STREQ(SimLinkResultName(SimLinkResult::Ok), "Ok");
    EXPECT_STREQ(SimLinkResultName(SimLinkResult::BadHandshakeOldWindow), "BadHandshakeOldWindow");
    EXPECT_STREQ(SimLinkResultName(SimLinkResult::AreaFull), "AreaFull");
    EXPECT_STREQ(SimLinkResultName(static_cast<SimLinkResult>(16)), "unknown");
    EXPECT_STREQ(SimLinkResultName(static_cast<SimLinkResult>(-1)), "unknown");
}

} // namespace
