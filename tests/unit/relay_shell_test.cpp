// The main dialog and the application object against the fake backend: the initialisation's
// order, the menu rule and the two options, the system menu's About item, the ways out of the
// dialog, the minimized paint, the shutdown order and its cases, and a failed COM start.
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
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr char Settings[] = "Skyrelay.ini";
constexpr char SimConfig[] = "C:\\FS2002\\FS2002.cfg";

// The operation name of a logged call line.
std::string Operation(const std::string& line) {
    return line.substr(0, line.find(' '));
}

// The logged calls of these operations, in order.
std::vector<std::string> CallsAmong(const std::set<std::string>& operations) {
    std::vector<std::string> out;
    for (const auto& line : fake::Calls())
        if (operations.count(Operation(line)) != 0)
            out.push_back(line);
    return out;
}

std::string SettingsText(const char* usingSb, const char* manualConnect) {
    std::string text = "[Skyrelay]\r\nFSPath=C:\\FS2002\r\n";
    if (usingSb != nullptr)
        text += std::string("UsingSB=") + usingSb + "\r\n";
    if (manualConnect != nullptr)
        text += std::string("ManualConnect=") + manualConnect + "\r\n";
    return text;
}

// A value of the settings file as the program would read it back ("" when missing).
std::string StoredOption(const char* key) {
    char value[100] = {};
    plat::ReadProfileString(SettingsSection, key, "", value, sizeof value, Settings);
    return value;
}

class RelayShell : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRelayProcess();
        fake::SetProfileFile(Settings, SettingsText("0", "0"));
        fake::SetProfileFile(SimConfig, "[MULTIPLAYER]\r\nPLAYER_NAME=Pilot\r\n");
    }

    void TearDown() override {
        // What a test left acquired (the fakes free their own handles at the next reset).
        if (sessionObject != nullptr)
            sessionObject->Release();
        sessionObject = nullptr;
        fake::WhileMainDialogRuns(nullptr);
    }

    // Runs the main dialog modally; `during` runs inside the modal run, after OnInitDialog.
    static int RunDialog(std::function<void(CRelayDlg&)> during = {}) {
        CRelayDlg dialog;
        fake::WhileMainDialogRuns([&](plat::Window, plat::DialogHandler&) {
            if (during)
                during(dialog);
        });
        return dialog.DoModal();
    }
};

TEST_F(RelayShell, InitDialogRunsItsStepsInOrder) {
    std::memset(&workingBlock, 0xAB, sizeof workingBlock);
    fake::SetProfileFile(Settings, SettingsText("1", "0"));
    CRelayDlg dialog;
    fake::ClearCalls();
    EXPECT_EQ(dialog.OnInitDialog(fake::MainWindow()), 1);

    EXPECT_EQ(
        CallsAmong({"ReadProfileString", "OpenNamedMapping", "CreateNamedMapping", "MapWholeView",
                    "StartTimer", "GetWindowMenu", "GetWindowSystemMenu", "LoadResourceString",
                    "AppendMenuCommand", "SetWindowIcon", "CheckMenuCommand", "EnableMenuCommand"}),
        (std::vector<std::string>{
            "ReadProfileString \"Skyrelay\" \"FSPath\" \"\" 200 \"Skyrelay.ini\"",
            "ReadProfileString \"MULTIPLAYER\" \"PLAYER_NAME\" \"a\" 200 "
            "\"C:\\FS2002\\FS2002.cfg\"",
            "OpenNamedMapping AIFile",
            "CreateNamedMapping AIFile 28680",
            "MapWholeView",
            "StartTimer 1 2000",
            "GetWindowMenu",
            "GetWindowSystemMenu",
            "LoadResourceString 101",
            "AppendMenuCommand 2048 0 null",
            "AppendMenuCommand 0 16 \"&About Skyrelay\"",
            "SetWindowIcon 1",
            "SetWindowIcon 0",
            "ReadProfileString \"Skyrelay\" \"UsingSB\" \"0\" 100 \"Skyrelay.ini\"",
            "ReadProfileString \"Skyrelay\" \"ManualConnect\" \"0\" 100 \"Skyrelay.ini\"",
            "CheckMenuCommand 156 8",
            "CheckMenuCommand 157 0",
            "EnableMenuCommand 154 1",
            "EnableMenuCommand 155 1",
        }));

    // What those calls left behind.
    ASSERT_TRUE(fake::Timer(DetectTimer).has_value());
    EXPECT_EQ(fake::Timer(DetectTimer)->callback, &OnDetectTimer);
    EXPECT_EQ(relayState.detectTimerId, plat::TimerId{DetectTimer});
    EXPECT_EQ(mainMenu, fake::MainMenu());
    EXPECT_EQ(mainDialog, fake::MainWindow());
    EXPECT_EQ(fake::WindowIcon(fake::MainWindow(), plat::IconBig), fake::AppIcon());
    EXPECT_EQ(fake::WindowIcon(fake::MainWindow(), plat::IconSmall), fake::AppIcon());
    EXPECT_EQ(dialog.OnQueryDragIcon(), fake::AppIcon());
    EXPECT_EQ(fake::ControlText(PathLineControl), "C:\\FS2002");
    EXPECT_STREQ(playerName, "Pilot");
    EXPECT_NE(sharedView, nullptr);
    // The working copy is zeroed last, whatever it held.
    std::vector<std::uint8_t> zero(sizeof workingBlock, 0);
    EXPECT_EQ(std::memcmp(&workingBlock, zero.data(), zero.size()), 0);
}

TEST_F(RelayShell, SystemMenuGetsAboutOnlyWithAMenuAndANonEmptyString101) {
    struct Case {
        bool hasSystemMenu;
        std::string string101;
        bool aboutAdded;
    };
    for (const Case& c : {Case{true, "&About Skyrelay", true}, Case{true, "", false},
                          Case{false, "&About Skyrelay", false}}) {
        SetUp();
        fake::SetHasSystemMenu(c.hasSystemMenu);
        fake::SetResourceString(AboutMenuStringId, c.string101);
        RunDialog();
        std::vector<fake::AppendedMenuItem> items = fake::AppendedItems(fake::MainSystemMenu());
        SCOPED_TRACE(c.string101 + (c.hasSystemMenu ? " with" : " without") + " system menu");
        if (c.aboutAdded) {
            ASSERT_EQ(items.size(), 2u);
            EXPECT_EQ(items[0].flags, plat::MenuSeparator);
            EXPECT_EQ(items[1].flags, plat::MenuString);
            EXPECT_EQ(items[1].commandId, 0x0010u);
            EXPECT_EQ(items[1].text, "&About Skyrelay");
        } else {
            EXPECT_TRUE(items.empty());
        }
        // No system menu: the string is not even loaded.
        EXPECT_EQ(fake::CallCount("LoadResourceString"), c.hasSystemMenu ? 1 : 0);
        // The rest of the initialisation goes on.
        EXPECT_EQ(fake::CallCount("SetWindowIcon"), 2);
    }
}

TEST_F(RelayShell, OptionsSetCheckMarksForZeroAndOneAndGrayTheItemsInAutomaticMode) {
    struct Case {
        const char* usingSb; // nullptr: no key
        const char* manualConnect;
        std::vector<std::string> checks;
        bool grayed;
    };
    const Case cases[] = {
        {nullptr, nullptr, {"CheckMenuCommand 156 0", "CheckMenuCommand 157 0"}, false},
        {"1", "0", {"CheckMenuCommand 156 8", "CheckMenuCommand 157 0"}, true},
        {"1", "1", {"CheckMenuCommand 156 8", "CheckMenuCommand 157 8"}, false},
        {"0", "1", {"CheckMenuCommand 156 0", "CheckMenuCommand 157 8"}, false},
        // Any non-zero value counts as on for the menu rule, but only 0 and 1 touch the mark.
        {"2", "0", {"CheckMenuCommand 157 0"}, true},
        {"-1", "0", {"CheckMenuCommand 157 0"}, true},
        {"1", "2", {"CheckMenuCommand 156 8"}, false},
        {"0", "2", {"CheckMenuCommand 156 0"}, false},
    };
    for (const Case& c : cases) {
        SetUp();
        fake::SetProfileFile(Settings, SettingsText(c.usingSb, c.manualConnect));
        RunDialog();
        SCOPED_TRACE(std::string("UsingSB=") + (c.usingSb ? c.usingSb : "(none)") +
                     " ManualConnect=" + (c.manualConnect ? c.manualConnect : "(none)"));
        EXPECT_EQ(fake::CallsOf("CheckMenuCommand"), c.checks);
        std::string flag = c.grayed ? "1" : "0";
        EXPECT_EQ(fake::CallsOf("EnableMenuCommand"),
                  (std::vector<std::string>{"EnableMenuCommand 154 " + flag,
                                            "EnableMenuCommand 155 " + flag}));
        EXPECT_EQ(fake::MenuItem(TcpIpCommand).grayed, c.grayed);
        EXPECT_EQ(fake::MenuItem(IpxSpxCommand).grayed, c.grayed);
    }
}

TEST_F(RelayShell, TogglesFlipTheOptionSaveItAtOnceAndReapplyTheMenuRule) {
    struct Case {
        unsigned command;
        const char* key;
        const char* usingSb;
        const char* manualConnect;
        // After the first and the second toggle: stored value, check mark, items grayed.
        const char* stored[2];
        bool checked[2];
        bool grayed[2];
    };
    const Case cases[] = {
        {UsingSquawkBoxCommand, UsingSbKey, "0", "0", {"1", "0"}, {true, false}, {true, false}},
        // Stored as 2: no mark at start, counted as on; the first toggle turns it off.
        {UsingSquawkBoxCommand, UsingSbKey, "2", "0", {"0", "1"}, {false, true}, {false, true}},
        {ManualConnectOnlyCommand,
         ManualConnectKey,
         "1",
         "0",
         {"1", "0"},
         {true, false},
         {false, true}},
        {ManualConnectOnlyCommand,
         ManualConnectKey,
         "1",
         "2",
         {"0", "1"},
         {false, true},
         {true, false}},
    };
    for (const Case& c : cases) {
        SetUp();
        fake::SetProfileFile(Settings, SettingsText(c.usingSb, c.manualConnect));
        std::vector<std::string> stored;
        std::vector<bool> checked;
        std::vector<bool> grayed;
        RunDialog([&](CRelayDlg& dialog) {
            for (int i = 0; i < 2; ++i) {
                dialog.OnCommand(c.command);
                stored.push_back(StoredOption(c.key));
                checked.push_back(fake::MenuItem(c.command).checked);
                grayed.push_back(fake::MenuItem(TcpIpCommand).grayed);
                EXPECT_EQ(fake::MenuItem(IpxSpxCommand).grayed, grayed.back());
            }
        });
        SCOPED_TRACE(std::string(c.key) + " from UsingSB=" + c.usingSb +
                     " ManualConnect=" + c.manualConnect);
        EXPECT_EQ(stored, (std::vector<std::string>{c.stored[0], c.stored[1]}));
        EXPECT_EQ(checked, (std::vector<bool>{c.checked[0], c.checked[1]}));
        EXPECT_EQ(grayed, (std::vector<bool>{c.grayed[0], c.grayed[1]}));
        // The toggles start and stop no timer.
        EXPECT_EQ(fake::CallCount("StartTimer"), 1);
        EXPECT_EQ(fake::CallCount("StopTimer"), 0);
    }
}

TEST_F(RelayShell, ManualConnectOnWhileConnectedEnablesItemsGrayedByTheMenuConnection) {
    fake::Sessions().push_back({dp::GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, "FS2002"});
    std::vector<bool> grayedAfter;
    RunDialog([&](CRelayDlg& dialog) {
        dialog.OnCommand(TcpIpCommand);
        EXPECT_EQ(fake::ControlText(StatusLineControl), "Connected to a session");
        grayedAfter.push_back(fake::MenuItem(TcpIpCommand).grayed);
        dialog.OnCommand(ManualConnectOnlyCommand);
        grayedAfter.push_back(fake::MenuItem(TcpIpCommand).grayed);
        grayedAfter.push_back(fake::MenuItem(IpxSpxCommand).grayed);
    });
    EXPECT_EQ(relayState.connected, 1);
    EXPECT_EQ(grayedAfter, (std::vector<bool>{true, false, false}));
    EXPECT_TRUE(fake::TimerRunning(PumpTimer)); // the session goes on
}

TEST_F(RelayShell, SystemCommandsOfTheAboutItemOpenTheAboutBoxAndOthersGoToTheDefault) {
    std::vector<unsigned> handled;
    int aboutRuns = 0;
    RunDialog([&](CRelayDlg& dialog) {
        for (unsigned id : {0x0000u, 0x000Fu, 0x0010u, 0x0013u, 0x001Fu, 0x0020u, 0x0110u, 0xF020u,
                            0xF060u, 0xF100u}) {
            int before = fake::CallCount("RunModalDialog");
            if (dialog.OnSysCommand(id))
                handled.push_back(id);
            aboutRuns += fake::CallCount("RunModalDialog") - before;
        }
        // The About command opens the same box; Exit is what ends the program, not About.
        dialog.OnCommand(AppAboutCommand);
    });
    EXPECT_EQ(handled, (std::vector<unsigned>{0x0010, 0x0013, 0x001F}));
    EXPECT_EQ(aboutRuns, 3);
    EXPECT_EQ(fake::CallsOf("RunModalDialog"),
              (std::vector<std::string>{"RunModalDialog 102", "RunModalDialog ABOUTBOX",
                                        "RunModalDialog ABOUTBOX", "RunModalDialog ABOUTBOX",
                                        "RunModalDialog ABOUTBOX"}));
    EXPECT_EQ(fake::CallCount("EndModalDialog"), 0);
}

TEST_F(RelayShell, EnterEscapeAndExitEndTheDialog) {
    struct Case {
        unsigned command;
        int result;
    };
    for (const Case& c :
         {Case{AppExitCommand, 1}, Case{plat::CommandOk, 1}, Case{plat::CommandCancel, 2}}) {
        SetUp();
        int result = RunDialog([&](CRelayDlg& dialog) { dialog.OnCommand(c.command); });
        SCOPED_TRACE(c.command);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(fake::CallsOf("EndModalDialog"),
                  std::vector<std::string>{"EndModalDialog " + std::to_string(c.result)});
    }
    // Any other command leaves it running (the fake then ends the run with its default).
    SetUp();
    RunDialog([&](CRelayDlg& dialog) { dialog.OnCommand(0x1234); });
    EXPECT_EQ(fake::CallCount("EndModalDialog"), 0);
}

TEST_F(RelayShell, MinimizedPaintCentresTheIconInTheClientArea) {
    struct Case {
        plat::Extent client;
        int x;
        int y;
    };
    // (client - 32 + 1) / 2, truncated toward zero, also when the area is smaller than the icon.
    for (const Case& c : {Case{{202, 60}, 85, 14}, Case{{33, 32}, 1, 0}, Case{{32, 31}, 0, 0},
                          Case{{20, 1}, -5, -15}}) {
        SetUp();
        fake::SetClientAreaSize(c.client);
        fake::SetMinimized(true);
        bool painted = false;
        RunDialog([&](CRelayDlg& dialog) { painted = dialog.OnPaint(); });
        SCOPED_TRACE(std::to_string(c.client.width) + "x" + std::to_string(c.client.height));
        EXPECT_TRUE(painted);
        ASSERT_EQ(fake::IconPaints().size(), 1u);
        EXPECT_EQ(fake::IconPaints()[0].icon, fake::AppIcon());
        EXPECT_EQ(fake::IconPaints()[0].x, c.x);
        EXPECT_EQ(fake::IconPaints()[0].y, c.y);
    }
    // Not minimized: the default painting.
    SetUp();
    bool painted = true;
    RunDialog([&](CRelayDlg& dialog) { painted = dialog.OnPaint(); });
    EXPECT_FALSE(painted);
    EXPECT_TRUE(fake::IconPaints().empty());
}

// The shutdown's calls, as the application object makes them after the dialog has closed.
const std::set<std::string> ShutdownOperations = {
    "DeleteGlobalAtom", "UnmapView",       "CloseMapping",     "DestroyPlayer", "Close",
    "Release",          "ComUninitialize", "CloseSessionEvent"};

TEST_F(RelayShell, ShutdownReleasesInOrderLinkBlockSessionComEvent) {
    enum class Session { None, Joined, FailedAttempt };
    struct Case {
        const char* name;
        Session session;
        bool aifile; // "AIFile" could be opened
        std::vector<std::string> calls;
        int result;
        int liveObjects;
    };
    const Case cases[] = {
        {"in a session",
         Session::Joined,
         true,
         {"DeleteGlobalAtom 49152", "UnmapView", "CloseMapping handle", "UnmapView",
          "CloseMapping handle", "Close #1", "Release #1", "ComUninitialize", "CloseSessionEvent"},
         1,
         0},
        {"after a failed attempt",
         Session::FailedAttempt,
         true,
         {"DeleteGlobalAtom 49152", "UnmapView", "CloseMapping handle", "UnmapView",
          "CloseMapping handle", "ComUninitialize", "CloseSessionEvent"},
         1,
         1},
        {"before any attempt",
         Session::None,
         true,
         {"DeleteGlobalAtom 49152", "UnmapView", "CloseMapping handle", "UnmapView",
          "CloseMapping handle", "ComUninitialize", "CloseSessionEvent"},
         1,
         0},
        // The close of the absent mapping fails; everything after it is released all the same,
        // and the failure is still the result: ERROR_INVALID_HANDLE as an HRESULT.
        {"without AIFile",
         Session::Joined,
         false,
         {"DeleteGlobalAtom 49152", "UnmapView", "CloseMapping handle", "CloseMapping null",
          "Close #1", "Release #1", "ComUninitialize", "CloseSessionEvent"},
         static_cast<int>(0x80070006u),
         0},
    };
    for (const Case& c : cases) {
        SetUp();
        SCOPED_TRACE(c.name);
        fake::AddExistingMapping("AIFile", SharedBlockSize);
        if (!c.aifile) {
            fake::FailCall("OpenNamedMapping", 1, 0);
            fake::FailCall("CreateNamedMapping", 1, 0);
        }
        fake::AddWindow("UIPCMAIN");
        fake::SetModuleU32(0x3304, 0x19980005);
        fake::SetModuleU32(0x3308, 0xFADE0000);

        CRelayApp app;
        ASSERT_TRUE(app.Started());
        fake::WhileMainDialogRuns([&](plat::Window, plat::DialogHandler&) {
            SimLinkResult linkResult = SimLinkResult::Ok;
            ASSERT_EQ(SimLinkOpen(0, &linkResult), 1);
            if (c.session != Session::None) {
                ASSERT_EQ(plat::CreateDirectPlay(&sessionObject), dp::Ok);
                relayState.searching = c.session == Session::Joined ? 0 : 1;
            }
            // The picture the pump last published.
            workingBlock.state = SharedStatePublished;
            workingBlock.recordCount = 1;
            workingBlock.records[0].latitude = 47.5f;
            workingBlock.records[1].latitude = 12.25f; // an older record beyond the count
            // Once the dialog has closed, the block's final copy is in place before the session
            // object is closed.
            if (c.aifile)
                fake::WhileInCall("Close", [] {
                    std::vector<std::uint8_t> block = fake::MappingBytes("AIFile");
                    EXPECT_EQ(block[0] | block[4], 0);
                    float latitude = 0;
                    std::memcpy(&latitude, block.data() + 8, sizeof latitude);
                    EXPECT_EQ(latitude, 47.5f);
                });
            fake::ClearCalls();
        });
        int result = app.InitInstance();

        EXPECT_EQ(CallsAmong(ShutdownOperations), c.calls);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(fake::LiveDirectPlayObjects(), c.liveObjects);
        EXPECT_EQ(sessionObject != nullptr, c.session == Session::FailedAttempt);
        EXPECT_FALSE(fake::ComInitialized());
        EXPECT_EQ(fake::LiveEvents(), 0);
        EXPECT_EQ(fake::LiveAtoms(), 0);
        EXPECT_EQ(fake::LiveViews(), 0);
        EXPECT_EQ(fake::LiveMappingHandles(), 0);
        if (c.aifile) {
            // A reader that still holds the block: both header words 0, the records kept.
            SharedTrafficBlock block;
            std::vector<std::uint8_t> bytes = fake::MappingBytes("AIFile");
            ASSERT_EQ(bytes.size(), sizeof block);
            std::memcpy(&block, bytes.data(), sizeof block);
            EXPECT_EQ(block.state, 0);
            EXPECT_EQ(block.recordCount, 0);
            EXPECT_EQ(block.records[0].latitude, 47.5f);
            EXPECT_EQ(block.records[1].latitude, 12.25f);
        } else {
            EXPECT_EQ(fake::MessageBoxTexts(),
                      std::vector<std::string>{"No comunication file Mapping"});
        }
        // The failed attempt's object is the test's to release.
        if (sessionObject != nullptr)
            sessionObject->Release();
        sessionObject = nullptr;
    }
}

TEST_F(RelayShell, TheProgramsStatusForARunAFailedComStartAndASecondRelay) {
    // A normal run: the claim first, then the dialog shows and the whole shutdown follows.
    EXPECT_EQ(RunRelayApplication(), 0);
    EXPECT_EQ(fake::Calls().front(), "ClaimRelayInstance");
    EXPECT_EQ(fake::CallsOf("RunModalDialog"), std::vector<std::string>{"RunModalDialog 102"});
    EXPECT_EQ(fake::CallCount("ComUninitialize"), 1);
    EXPECT_EQ(fake::LiveEvents(), 0);

    // COM fails: its box, a failure status, no dialog; the event is not left open.
    SetUp();
    fake::FailCall("ComInitialize", 1, static_cast<long>(hresult::Fail));
    EXPECT_NE(RunRelayApplication(), 0);
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    const fake::MessageBoxRecord& box = fake::MessageBoxes()[0];
    EXPECT_EQ(box.text, "Co initialize error. Skyrelay will quit.");
    EXPECT_EQ(box.caption, "Skyrelay");
    EXPECT_EQ(box.style, plat::BoxIconError);
    EXPECT_FALSE(box.owned);
    EXPECT_FALSE(box.appBox);
    EXPECT_EQ(fake::CallCount("RunModalDialog"), 0);
    EXPECT_EQ(fake::CallCount("StartTimer"), 0);
    EXPECT_EQ(fake::LiveEvents(), 0);

    // Another relay runs: this start says so and ends before COM, the event, the dialog or any
    // shared block, with no box.
    SetUp();
    fake::FailCall("ClaimRelayInstance", 1, 4242);
    EXPECT_EQ(RunRelayApplication(), 3);
    EXPECT_EQ(fake::Calls(),
              (std::vector<std::string>{
                  "ClaimRelayInstance",
                  "ShowRunningRelay \"Skyrelay is already running (process 4242)\""}));
}

} // namespace
