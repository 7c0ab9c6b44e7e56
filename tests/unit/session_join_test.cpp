// Joining a session and the automatic and menu attempts, against the fake DirectPlay.
#include "platform/fake/fake.h"
#include "platform/fake/fake_directplay.h"
#include "platform/fake/fake_messaging.h"
#include "session/scheduler.h"
#include "session/session_join.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/pump.h"
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

dp::GUID SessionGuid(std::uint32_t n) {
    return dp::GUID{n, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
}

class SessionJoin : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::ResetAll();
        ResetRelayState();
        ResetJoinState();
        ResetSchedulerState();
        ResetSimLinkState();
        ResetPumpState();
        mainDialog = fake::MainWindow();
        sessionEvent = plat::CreateSessionEvent();
        std::strcpy(playerName, "Pilot");
    }
    void TearDown() override {
        if (sessionObject != nullptr)
            sessionObject->Release();
        sessionObject = nullptr;
        plat::CloseSessionEvent(sessionEvent);
    }

    static void OfferSessions(int n) {
        for (int i = 1; i <= n; ++i)
            fake::Sessions().push_back({SessionGuid(static_cast<std::uint32_t>(i)), "FS2002"});
    }

    // The connections each InitializeConnection was given, in order.
    static std::vector<std::string> Initialized() {
        std::vector<std::string> out;
        for (const auto& line : fake::CallsOf("InitializeConnection"))
            out.push_back(line.substr(line.find(' ', line.find('#')) + 1));
        return out;
    }
};

constexpr char TcpAddress[] = "\"address:127.0.0.1\"";
constexpr char Ipx[] = "\"IPX Connection For DirectPlay\"";
constexpr char Tcp[] = "\"Internet TCP/IP Connection For DirectPlay\"";
constexpr char Modem[] = "\"Modem Connection For DirectPlay\"";

TEST_F(SessionJoin, AutomaticAttemptsStartWithTcpIpAndAlternate) {
    for (int i = 0; i < 4; ++i)
        OnAutoConnectTimer();
    EXPECT_EQ(Initialized(), (std::vector<std::string>{TcpAddress, Ipx, TcpAddress, Ipx}));
    // The lobby built the address from "127.0.0.1" with its terminator: size first, then data.
    EXPECT_EQ(fake::CallsOf("CreateAddress"),
              (std::vector<std::string>{
                  "CreateAddress \"127.0.0.1\" 10 null", "CreateAddress \"127.0.0.1\" 10 buffer",
                  "CreateAddress \"127.0.0.1\" 10 null", "CreateAddress \"127.0.0.1\" 10 buffer"}));
    EXPECT_EQ(relayState.searching, 1);
    EXPECT_EQ(fake::MessageBoxes().size(), 0u); // no session is not an error in automatic mode
}

TEST_F(SessionJoin, AutomaticSuccessStartsThePump) {
    OfferSessions(1);
    relayState.autoConnectTimerId =
        plat::StartTimer(mainDialog, AutoConnectTimer, AutoConnectPeriodMs, OnAutoConnectTimer);
    fake::SetNextPlayerId(4242);
    OnAutoConnectTimer();
    EXPECT_EQ(relayState.searching, 0);
    EXPECT_EQ(relayState.connected, 1);
    EXPECT_EQ(relayPlayerId, 4242u);
    EXPECT_EQ(fake::CreatedPlayerName(), "Pilotai");
    EXPECT_EQ(fake::CreatedPlayerEvent(), sessionEvent);
    EXPECT_EQ(fake::CallsOf("Open"), std::vector<std::string>{"Open #1 1 1"});
    EXPECT_EQ(fake::CallCount("EnumPlayers"), 1);
    EXPECT_FALSE(fake::TimerRunning(AutoConnectTimer));
    ASSERT_TRUE(fake::TimerRunning(PumpTimer));
    EXPECT_EQ(fake::Timer(PumpTimer)->periodMs, PumpPeriodMs);
    EXPECT_EQ(fake::Timer(PumpTimer)->callback, &OnPumpTimer);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "Connected to a session");
    EXPECT_EQ(fake::LiveDirectPlayObjects(), 1);
    EXPECT_EQ(fake::LiveLobbyObjects(), 0);
}

TEST_F(SessionJoin, ConnectionNamesMatchCaseSensitively) {
    fake::Connections() = {{"internet tcp/ip", {'t', 0}}, {"ipx (lower: IPX)", {'i', 0}}};
    OnAutoConnectTimer(); // TCP/IP: nothing matches "TCP"
    EXPECT_TRUE(Initialized().empty());
    OnAutoConnectTimer(); // IPX/SPX: the second name contains "IPX"
    EXPECT_EQ(Initialized(), std::vector<std::string>{"\"ipx (lower: IPX)\""});
}

TEST_F(SessionJoin, MenuAttemptInitialisesEveryConnectionAndReleasesWhatItDoesNotUse) {
    ConnectFromMenu(TcpIpCommand);
    // Each offered connection gets an object of its own, initialised as offered.
    EXPECT_EQ(Initialized(), (std::vector<std::string>{Tcp, Ipx, Modem}));
    EXPECT_EQ(fake::DirectPlayObjectsCreated(), 4);
    // No session: the box, the items back, no timer; only the TCP/IP object is kept.
    EXPECT_EQ(fake::MessageBoxTexts(),
              std::vector<std::string>{"Couldn't find a Multiplayer session. "});
    EXPECT_TRUE(fake::MessageBoxes()[0].owned);
    EXPECT_FALSE(fake::MenuItem(TcpIpCommand).grayed);
    EXPECT_FALSE(fake::MenuItem(IpxSpxCommand).grayed);
    EXPECT_FALSE(fake::TimerRunning(PumpTimer));
    EXPECT_EQ(relayState.manualRequest, 1);
    EXPECT_EQ(fake::LiveDirectPlayObjects(), 1);
    EXPECT_EQ(fake::CallsOf("EnumSessions").size(), 1u);

    // The next attempt releases that object before it makes its own.
    ConnectFromMenu(IpxSpxCommand);
    EXPECT_EQ(fake::LiveDirectPlayObjects(), 1);
    EXPECT_EQ(fake::CallsOf("EnumSessions").back().substr(0, 15), "EnumSessions #7");
}

TEST_F(SessionJoin, MenuSuccessKeepsItemsGrayedAndMakesNoEnumPlayers) {
    OfferSessions(1);
    relayState.simDetected = 1;
    relayState.detectTimerId =
        plat::StartTimer(mainDialog, DetectTimer, DetectPeriodMs, OnDetectTimer);
    ConnectFromMenu(IpxSpxCommand);
    EXPECT_EQ(relayState.searching, 0);
    EXPECT_EQ(relayState.connected, 1);
    EXPECT_TRUE(fake::MenuItem(TcpIpCommand).grayed);
    EXPECT_TRUE(fake::MenuItem(IpxSpxCommand).grayed);
    EXPECT_EQ(fake::CallCount("EnumPlayers"), 0);
    EXPECT_FALSE(fake::TimerRunning(DetectTimer));
    EXPECT_TRUE(fake::TimerRunning(PumpTimer));
    // The enumerating object and the unused ones are gone; the joined one is sessionObject.
    EXPECT_EQ(fake::LiveDirectPlayObjects(), 1);
    EXPECT_EQ(fake::CallsOf("Open").size(), 1u);
}

TEST_F(SessionJoin, ANewJoinAfterAnEndedSessionIsDrainedAgain) {
    OfferSessions(1);
    ConnectFromMenu(TcpIpCommand);
    fake::QueueMessage({0x31, 0, 0, 0}, 0); // DPSYS_SESSIONLOST
    EXPECT_EQ(DrainSessionMessages(), dp::Ok);
    ASSERT_EQ(relayState.sessionEnded, 1);
    ASSERT_EQ(sessionObject, nullptr);

    ConnectFromMenu(TcpIpCommand);
    ASSERT_TRUE(fake::TimerRunning(PumpTimer));
    std::vector<std::uint8_t> position(58, 0);
    position[0] = 0x19; // 4121
    position[1] = 0x10;
    position[30] = 0x64; // 100 knots
    fake::SetPlayerName(5, "Peer");
    fake::QueueMessage(position, 5);
    EXPECT_EQ(DrainSessionMessages(), dp::Ok);
    EXPECT_EQ(trafficTable.count, 1);
}

TEST_F(SessionJoin, SessionEnumerationOpensTheFirstSessionThatTakesAPlayer) {
    // The final DPESC_TIMEDOUT call opens nothing.
    OnAutoConnectTimer();
    EXPECT_EQ(fake::CallCount("Open"), 0);

    // The time-out is its bit, whatever other bits come with it, even with a session given.
    ASSERT_NE(sessionObject, nullptr); // the failed attempt's object, kept for the next one
    dp::DPSESSIONDESC2 offered{};
    for (std::uint32_t flags : {0x1u, 0x3u, 0x80000001u})
        EXPECT_EQ(EnumSessionsCallback(&offered, nullptr, flags, nullptr), dp::False) << flags;
    EXPECT_EQ(fake::CallCount("Open"), 0);
    EXPECT_EQ(EnumSessionsCallback(&offered, nullptr, 0x2u, nullptr), dp::False);
    EXPECT_EQ(fake::CallCount("Open"), 1);

    // A failed Open stops the enumeration at once.
    TearDown();
    SetUp();
    OfferSessions(2);
    fake::FailCall("Open", 1, dp::ErrGeneric);
    OnAutoConnectTimer();
    EXPECT_EQ(fake::CallCount("Open"), 1);
    EXPECT_EQ(fake::MessageBoxTexts(), std::vector<std::string>{"Join FS2002 error. "});
    EXPECT_EQ(relayState.searching, 1);
    TearDown();

    // A failed CreatePlayer goes on to the next session.
    SetUp();
    OfferSessions(2);
    fake::FailCall("CreatePlayer", 1, dp::ErrGeneric);
    OnAutoConnectTimer();
    EXPECT_EQ(fake::CallsOf("Open"), (std::vector<std::string>{"Open #1 1 1", "Open #1 2 1"}));
    EXPECT_EQ(fake::MessageBoxTexts(), std::vector<std::string>{"Can't Create a player."});
    EXPECT_EQ(relayState.searching, 0);
    EXPECT_FALSE(fake::MessageBoxes()[0].owned);
    EXPECT_EQ(fake::MessageBoxes()[0].style, plat::BoxIconError);
}

TEST_F(SessionJoin, RelayPlayerNameIsBuiltOnlyWithoutSquawkBoxAndNeverOverflows) {
    struct Case {
        const char* userName;
        std::int32_t usingSquawkBox;
        const char* expected;
    };
    const Case cases[] = {
        {"Pilot", 0, "Pilotai"},
        {"", 0, "ai"},
        {"ABCDEFGHIJKLM", 0, "ABCDEFGHIJKLMai"},
        {"ABCDEFGHIJKLMNOP", 0, "ABCDEFGHIJKLMNO"},
        {"Pilot", 1, "Skyrelay"},
        {"Pilot", 2, "Skyrelay"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        std::memset(playerName, 'Z', sizeof playerName);
        playerName[PlayerNameSize - 1] = 0;
        std::strcpy(playerName, c.userName);
        relayState.usingSquawkBox = c.usingSquawkBox;
        OfferSessions(1);
        OnAutoConnectTimer();
        EXPECT_EQ(fake::CreatedPlayerName(), c.expected) << c.userName;
        EXPECT_STREQ(relayPlayerName, c.expected);
    }
}

TEST_F(SessionJoin, FailedInitialisationReleasesTheObjectOnlyAfterItsEnumeration) {
    fake::FailCall("InitializeConnection", 1, dp::ErrGeneric);
    OnAutoConnectTimer();
    EXPECT_EQ(sessionObject, nullptr);
    EXPECT_EQ(relayState.searching, 1);
    EXPECT_EQ(fake::MessageBoxTexts(), std::vector<std::string>{"Choose connection error. "});
    EXPECT_EQ(fake::LiveDirectPlayObjects(), 0);
    const auto& calls = fake::Calls();
    auto end = std::find(calls.begin(), calls.end(), "EnumConnectionsEnd #1");
    auto release = std::find(calls.begin(), calls.end(), "Release #1");
    EXPECT_LT(end, release);
    EXPECT_NE(release, calls.end());
}

TEST_F(SessionJoin, HundredFailedAttemptsLeaveNoObjectsBehind) {
    for (bool menu : {false, true}) {
        TearDown();
        SetUp();
        for (int i = 0; i < 100; ++i) {
            // A menu attempt initialises every connection, each on an object of its own.
            if (menu || i % 3 == 0)
                fake::FailCall("InitializeConnection",
                               fake::CallCount("InitializeConnection") + 1 + (menu ? i % 3 : 0),
                               dp::ErrGeneric);
            if (i % 5 == 0)
                fake::FailCall("EnumConnections", fake::CallCount("EnumConnections") + 1,
                               dp::ErrGeneric);
            if (menu)
                ConnectFromMenu(i % 2 == 0 ? TcpIpCommand : IpxSpxCommand);
            else
                OnAutoConnectTimer();
            EXPECT_LE(fake::LiveDirectPlayObjects(), 1) << menu << " " << i;
            EXPECT_EQ(fake::LiveLobbyObjects(), 0) << menu << " " << i;
        }
        if (!menu) {
            EXPECT_EQ(fake::DirectPlayObjectsCreated(), 100);
        }
    }
}

TEST_F(SessionJoin, LaterMatchingConnectionsAreSkippedOnceJoined) {
    fake::Connections().push_back({"Second TCP/IP Connection", {'2', 0}});
    OfferSessions(1);
    relayState.useIpx = 1; // the automatic toggle makes this TCP/IP
    OnAutoConnectTimer();
    EXPECT_EQ(Initialized(), std::vector<std::string>{TcpAddress});
    EXPECT_EQ(fake::CallCount("CreatePlayer"), 1);

    TearDown();
    SetUp();
    fake::Connections().push_back({"Second TCP/IP Connection", {'2', 0}});
    OfferSessions(1);
    ConnectFromMenu(TcpIpCommand);
    EXPECT_EQ(Initialized(), std::vector<std::string>{Tcp}); // nothing after the join
    EXPECT_EQ(fake::LiveDirectPlayObjects(), 1);
}

TEST_F(SessionJoin, FailedObjectCreationFailsTheAttemptWithoutCallingIt) {
    fake::FailCall("CreateDirectPlay", 1, hresult::NoInterface);
    relayState.autoConnectTimerId =
        plat::StartTimer(mainDialog, AutoConnectTimer, AutoConnectPeriodMs, OnAutoConnectTimer);
    OnAutoConnectTimer();
    EXPECT_EQ(fake::CallCount("EnumConnections"), 0);
    EXPECT_EQ(relayState.searching, 1);
    EXPECT_TRUE(fake::TimerRunning(AutoConnectTimer));
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    EXPECT_EQ(fake::MessageBoxes()[0].text, "This application requires DirectPlay 6 or later. ");
    EXPECT_FALSE(fake::MessageBoxes()[0].owned);

    fake::FailCall("CreateDirectPlay", 2, hresult::NoInterface);
    ConnectFromMenu(TcpIpCommand);
    EXPECT_EQ(fake::CallCount("EnumConnections"), 0);
    EXPECT_EQ(fake::MessageBoxTexts(),
              (std::vector<std::string>{"This application requires DirectPlay 6 or later. ",
                                        "This application requires DirectPlay 6 or later. ",
                                        "Couldn't find a Multiplayer session. "}));
    EXPECT_TRUE(fake::MessageBoxes()[1].owned);
    EXPECT_FALSE(fake::MenuItem(TcpIpCommand).grayed);

    // Another failure shows no box of its own.
    fake::FailCall("CreateDirectPlay", 3, dp::ErrGeneric);
    OnAutoConnectTimer();
    EXPECT_EQ(fake::MessageBoxes().size(), 3u);
}

TEST_F(SessionJoin, NoSecondAttemptStartsWhileOneIsRunning) {
    fake::FailCall("Open", 1, dp::ErrGeneric);
    OfferSessions(1);
    int boxes = 0;
    fake::WhileMessageBoxOpen([&](const fake::MessageBoxRecord&) {
        ++boxes;
        OnAutoConnectTimer();
        ConnectFromMenu(IpxSpxCommand);
        OnDetectTimer(); // detection ticks on, but leaves the attempt's mode alone
    });
    relayState.simDetected = 1;
    ConnectFromMenu(TcpIpCommand);
    EXPECT_EQ(fake::CallCount("CreateDirectPlay"), 4); // one attempt: 1 + 3 connections
    EXPECT_EQ(relayState.manualRequest, 1);
    EXPECT_EQ(boxes, 2); // "Join FS2002 error. ", then "Couldn't find a Multiplayer session. "
}

TEST_F(SessionJoin, MenuAttemptWhileConnectedClosesTheJoinedObjectFirst) {
    OfferSessions(1);
    ConnectFromMenu(TcpIpCommand);
    ASSERT_EQ(relayState.searching, 0);
    dp::IDirectPlay4A* joined = sessionObject;
    ASSERT_NE(joined, nullptr);
    fake::ClearCalls();
    ConnectFromMenu(IpxSpxCommand);
    EXPECT_EQ(fake::Calls().at(4), "Close #2");
    EXPECT_EQ(fake::Calls().at(5), "Release #2");
    EXPECT_EQ(fake::LiveDirectPlayObjects(), 1);
    EXPECT_EQ(relayState.searching, 0);
}

// ---- detection and the hand-over to automatic attempts -----------------------------------------

class Scheduler : public SessionJoin {
  protected:
    void SetUp() override {
        SessionJoin::SetUp();
        relayState.detectTimerId =
            plat::StartTimer(mainDialog, DetectTimer, DetectPeriodMs, OnDetectTimer);
    }
    void TearDown() override {
        SimLinkClose();
        SessionJoin::TearDown();
    }
    static void SimulatorAppears() {
        fake::AddWindow("UIPCMAIN");
        fake::SetModuleU32(0x3304, 0x19980005);
        fake::SetModuleU32(0x3308, 0xFADE0000);
    }
};

TEST_F(Scheduler, DetectionHandsOverToAutomaticAttemptsOnTheSameTick) {
    relayState.usingSquawkBox = 1;
    OnDetectTimer(); // no simulator yet
    EXPECT_EQ(relayState.simDetected, 0);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "");
    EXPECT_TRUE(fake::TimerRunning(DetectTimer));

    SimulatorAppears();
    OnDetectTimer();
    EXPECT_EQ(relayState.simDetected, 1);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "FS Detected");
    EXPECT_FALSE(fake::TimerRunning(DetectTimer));
    ASSERT_TRUE(fake::TimerRunning(AutoConnectTimer));
    EXPECT_EQ(fake::Timer(AutoConnectTimer)->periodMs, AutoConnectPeriodMs);
    EXPECT_EQ(fake::CallCount("CreateDirectPlay"), 0); // the first attempt comes 6 s later

    // "Manual connect only" turned on meanwhile does not stop the automatic attempts.
    relayState.manualConnectOnly = 1;
    EXPECT_TRUE(fake::FireTimer(AutoConnectTimer));
    EXPECT_EQ(Initialized(), std::vector<std::string>{TcpAddress});
}

TEST_F(Scheduler, OnlyAnOptionOfExactlyOneConnectsByItself) {
    struct Case {
        std::int32_t usingSquawkBox;
        std::int32_t manualConnectOnly;
        bool automatic;
    };
    for (const Case& c : {Case{1, 0, true}, Case{2, 0, false}, Case{0, 0, false}, Case{1, 1, false},
                          Case{1, 2, false}}) {
        TearDown();
        SetUp();
        SimulatorAppears();
        relayState.usingSquawkBox = c.usingSquawkBox;
        relayState.manualConnectOnly = c.manualConnectOnly;
        relayState.manualRequest = 1;
        OnDetectTimer();
        OnDetectTimer();
        EXPECT_EQ(fake::TimerRunning(AutoConnectTimer), c.automatic) << c.usingSquawkBox;
        EXPECT_EQ(fake::TimerRunning(DetectTimer), !c.automatic) << c.usingSquawkBox;
        EXPECT_EQ(relayState.manualRequest, 0);
        EXPECT_EQ(fake::CallsOf("SendWithTimeout").size(), 1u); // the link opened once
    }
}

TEST_F(Scheduler, MenuConnectionBeforeDetectionKeepsDetectionGoing) {
    OfferSessions(1);
    ConnectFromMenu(TcpIpCommand);
    ASSERT_EQ(relayState.connected, 1);
    EXPECT_TRUE(fake::TimerRunning(DetectTimer));
    EXPECT_EQ(fake::ControlText(StatusLineControl), "Connected to a session");

    // An aircraft heard on every tick: "AIFile" gets it, the closed link is never called, so no
    // failure is counted and detection goes on.
    std::vector<std::uint8_t> position(58, 0);
    position[0] = PositionMessageType & 0xFF;
    position[1] = PositionMessageType >> 8;
    position[30] = 100; // ground speed well above 30
    fake::SetPlayerName(9, "PEER");
    ResetTrafficTable();
    ResetDrainState();
    ResetSharedTrafficBlock();
    fake::ClearCalls();
    for (int tick = 0; tick < 24; ++tick) {
        fake::QueueMessage(position, 9);
        OnPumpTimer();
    }
    EXPECT_TRUE(fake::CallsOf("SendWithTimeout").empty());
    EXPECT_EQ(relayState.linkFailureCount, 0);
    EXPECT_EQ(lastExchangeResult, SimLinkResult::Ok);
    EXPECT_TRUE(fake::TimerRunning(DetectTimer));
    EXPECT_EQ(workingBlock.recordCount, 1);
    EXPECT_EQ(workingBlock.records[0].groundSpeed,
              MakeSharedRecord(trafficTable.entries[0]).groundSpeed);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "Connected to a session");

    SimulatorAppears();
    EXPECT_TRUE(fake::FireTimer(DetectTimer));
    EXPECT_EQ(relayState.simDetected, 1);
    EXPECT_EQ(fake::ControlText(StatusLineControl), "Connected to a session");
    EXPECT_NE(simLink.areaBase, nullptr);

    // The next publication writes the aircraft with one exchange.
    int exchanges = fake::ModuleMessages();
    for (int tick = 0; tick < 4; ++tick) {
        fake::QueueMessage(position, 9);
        OnPumpTimer();
    }
    EXPECT_EQ(fake::ModuleMessages(), exchanges + 1);
    std::string hex;
    for (std::size_t i = 0; i < sizeof(TrafficEntry); ++i) {
        static const char digits[] = "0123456789abcdef";
        auto byte = reinterpret_cast<const std::uint8_t*>(&trafficTable.entries[0])[i];
        hex += {digits[byte >> 4], digits[byte & 15]};
    }
    EXPECT_EQ(fake::ModuleLog().back(), "write 0x1F80 40 " + hex);

    // Once detected, a menu command stops detection as before.
    ConnectFromMenu(IpxSpxCommand);
    EXPECT_FALSE(fake::TimerRunning(DetectTimer));
}

} // namespace
