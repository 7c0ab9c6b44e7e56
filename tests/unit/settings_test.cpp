// The settings file, the search for the simulator's folder, the player name, the options and the
// FS Path command, against the fake profile, registry and folder browser.
#include "platform/fake/fake.h"
#include "platform/fake/fake_settings_store.h"
#include "shell/settings.h"
#include "state/relay_state.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

namespace {

const std::string Key8 = "SOFTWARE\\Microsoft\\Microsoft Games\\Flight Simulator\\8.0";
const std::string Key7 = "SOFTWARE\\Microsoft\\Microsoft Games\\Flight Simulator\\7.0";
const std::string Key6 = "SOFTWARE\\Microsoft\\Games\\Flight Simulator\\6.0";

class Settings : public ::testing::Test {
  protected:
    void SetUp() override { Start(); }
    // A fresh process: the fake's files and registry stay, as on disk between two runs.
    void Restart() {
        ResetSettings();
        ResetRelayState();
        fake::ClearCalls();
        Start();
    }
    void Start() {
        mainDialog = fake::MainWindow();
        fake::SetInitialControlText(PathLineControl, "Static");
    }
    ~Settings() override {
        ResetSettings();
        ResetRelayState();
        fake::ResetAll();
    }
};

struct DiscoveryCase {
    const char* what;
    std::function<void()> setup;
    std::string folder;              // simFolder after FindSimFolder
    std::vector<std::string> opened; // keys asked for, in order
};

TEST_F(Settings, FindSimFolderTakesTheStoredPathOrTheFirstKeyThatOpens) {
    std::string longest(199, 'x');
    const std::vector<DiscoveryCase> cases = {
        {"stored path wins, registry untouched",
         [] {
             fake::SetProfileFile("Skyrelay.ini", "[Skyrelay]\r\nFSPath=D:\\FS2002\r\n");
             fake::SetRegistryString(Key8, "EXE Path", "C:\\Other");
         },
         "D:\\FS2002",
         {}},
        {"key 1 opens without values: key 2 is never opened",
         [] {
             fake::AddRegistryKey(Key8);
             fake::SetRegistryString(Key7, "EXE Path", "C:\\FS2002");
         },
         "Not found",
         {Key8}},
        {"\"EXE Path\" missing, \"Path\" present",
         [] {
             fake::SetRegistryString(Key8, "Path", "C:\\P");
             fake::SetRegistryString(Key8, "InstalledTo", "C:\\I");
         },
         "C:\\P",
         {Key8}},
        {"keys that do not open are passed over",
         [] {
             fake::FailRegistryOpen(Key8, 5);
             fake::SetRegistryString(Key6, "InstalledTo", "C:\\FS6");
         },
         "C:\\FS6",
         {Key8, Key7, Key6}},
        {"no key opens", [] {}, "Not found", {Key8, Key7, Key6}},
        {"199 characters fit",
         [&] { fake::SetRegistryString(Key8, "EXE Path", longest); },
         longest,
         {Key8}},
        {"200 characters do not fit: next name",
         [] {
             fake::SetRegistryString(Key8, "EXE Path", std::string(200, 'y'));
             fake::SetRegistryString(Key8, "path", "C:\\lower");
         },
         "C:\\lower",
         {Key8}},
        {"200 bytes without a terminator: next name",
         [] {
             fake::SetRegistryValue(Key8, "EXE Path", plat::RegistryTypeString,
                                    std::vector<std::uint8_t>(200, 'z'));
             fake::SetRegistryString(Key8, "Path", "C:\\P");
         },
         "C:\\P",
         {Key8}},
        {"not text: next name; REG_EXPAND_SZ is text",
         [] {
             fake::SetRegistryValue(Key8, "EXE Path", plat::RegistryTypeDword, {1, 0, 0, 0});
             fake::SetRegistryValue(Key8, "Path", plat::RegistryTypeBinary, {'C', ':', 0});
             fake::SetRegistryValue(Key8, "InstalledTo", plat::RegistryTypeExpandString,
                                    {'E', ':', 0});
         },
         "E:",
         {Key8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::ResetAll();
        ResetSettings();
        Start();
        c.setup();
        FindSimFolder();
        EXPECT_EQ(simFolder, c.folder);
        std::vector<std::string> opened;
        for (const auto& line : fake::CallsOf("RegistryOpenKey"))
            opened.push_back(line.substr(line.find('"') + 1, line.rfind('"') - line.find('"') - 1));
        EXPECT_EQ(opened, c.opened);
        EXPECT_EQ(fake::LiveRegistryKeys(), 0);
        bool notFound = c.folder == "Not found";
        EXPECT_EQ(fake::ControlText(PathLineControl), notFound ? "Static" : c.folder);
        EXPECT_EQ(fake::MessageBoxTexts(), notFound
                                               ? std::vector<std::string>{"Can't find FS2002 PAth"}
                                               : std::vector<std::string>{});
        if (notFound) {
            EXPECT_EQ(fake::MessageBoxes()[0].style, plat::BoxIconExclamation);
        }
    }
}

TEST_F(Settings, KeysAreOpenedWithTheirOwnAccessAndTheOpenedKeyIsClosed) {
    fake::AddRegistryKey(Key6);
    FindSimFolder();
    EXPECT_EQ(fake::CallsOf("RegistryOpenKey"),
              (std::vector<std::string>{"RegistryOpenKey \"" + Key8 + "\" 0x1",
                                        "RegistryOpenKey \"" + Key7 + "\" 0x20019",
                                        "RegistryOpenKey \"" + Key6 + "\" 0x20019"}));
    EXPECT_EQ(fake::CallCount("RegistryQueryValue"), 4);
    EXPECT_EQ(fake::CallCount("RegistryCloseKey"), 1);
    // None of the values read: FSPath is read a second time.
    EXPECT_EQ(fake::CallCount("ReadProfileString"), 2);
}

TEST_F(Settings, ReadPlayerNameAppendsTheConfigurationFileByPlainConcatenation) {
    fake::SetRegistryString(Key8, "EXE Path", "C:\\FS2002\\");
    fake::SetProfileFile("C:\\FS2002\\\\FS2002.cfg",
                         "[main]\r\n[Multiplayer]\r\nplayer_name = \"Jane Doe\"  \r\n");
    FindSimFolder();
    ReadPlayerName();
    EXPECT_STREQ(simFolder, "C:\\FS2002\\\\FS2002.cfg");
    EXPECT_STREQ(playerName, "Jane Doe");
}

TEST_F(Settings, WithoutAFolderTheNameComesFromTheRelativeNotFoundFileOrIsA) {
    FindSimFolder();
    ReadPlayerName();
    EXPECT_STREQ(simFolder, "Not found\\FS2002.cfg");
    EXPECT_STREQ(playerName, "a");

    fake::SetProfileFile("Not found\\FS2002.cfg", "[MULTIPLAYER]\nPLAYER_NAME=Local\n");
    Restart();
    FindSimFolder();
    ReadPlayerName();
    EXPECT_STREQ(playerName, "Local");
}

TEST_F(Settings, ConfigurationFilesThatMakeNoSenseGiveTheDefaultName) {
    static const char Garbage[] = "\0\xff\x01[MULTI\0PLAYER]\r\r\n=\n\xfe=\xfe\r\nPLAYER_NAME=x";
    std::string hugeName(5000, 'n');
    const std::vector<std::pair<std::string, std::string>> files = {
        {std::string(Garbage, sizeof Garbage - 1), "a"},
        {"[MULTIPLAYER]\nPLAYER_NAME", "a"},           // no '=': not a key
        {"PLAYER_NAME=Outside\n[MULTIPLAYER]\n", "a"}, // before any section
        {"[MULTIPLAYER]\r" + std::string(1 << 20, '#') + "\rPLAYER_NAME=Far", "Far"},
        {"[MULTIPLAYER]\nPLAYER_NAME=" + hugeName, hugeName.substr(0, 199)},
    };
    for (const auto& [text, expected] : files) {
        fake::ResetAll();
        ResetSettings();
        Start();
        fake::SetProfileFile("Skyrelay.ini", "[Skyrelay]\nFSPath=F:");
        fake::SetProfileFile("F:\\FS2002.cfg", text);
        FindSimFolder();
        ReadPlayerName();
        EXPECT_EQ(playerName, expected);
    }
}

TEST_F(Settings, AFolderTooLongForTheAppendedNameKeepsTheFolderAndStillReadsTheName) {
    std::string folder(190, 'f');
    fake::SetProfileFile("Skyrelay.ini", "[Skyrelay]\nFSPath=" + folder + "\n");
    fake::SetProfileFile(folder + "\\FS2002.cfg", "[MULTIPLAYER]\nPLAYER_NAME=Long\n");
    FindSimFolder();
    ReadPlayerName();
    EXPECT_EQ(simFolder, folder);
    EXPECT_STREQ(playerName, "Long");
}

TEST_F(Settings, LoadOptionsUsesTheDecimalConversion) {
    const std::vector<std::pair<std::string, std::int32_t>> cases = {
        {"2", 2},
        {"x1", 0},
        {" 1abc", 1},
        {"\t-7", -7},
        {"+3", 3},
        {"\"1\"", 1},
        {"", 0},
        {"-", 0},
        {"99999999999", INT32_MAX},
        {"-99999999999", INT32_MIN},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        fake::SetProfileFile("Skyrelay.ini", "[Skyrelay]\r\nUsingSB=" + text +
                                                 "\r\nManualConnect=" + text + "\r\n");
        LoadOptions();
        EXPECT_EQ(relayState.usingSquawkBox, expected);
        EXPECT_EQ(relayState.manualConnectOnly, expected);
    }
    fake::SetProfileFile("Skyrelay.ini", "[Other]\nUsingSB=1\n");
    relayState.usingSquawkBox = 5;
    LoadOptions();
    EXPECT_EQ(relayState.usingSquawkBox, 0);
}

TEST_F(Settings, SaveOptionWritesAtOnceAndKeepsTheOtherKeys) {
    fake::SetProfileFile("Skyrelay.ini", "[Skyrelay]\nFSPath=C:\\FS\n");
    SaveOption("UsingSB", 1);
    SaveOption("ManualConnect", 0);
    EXPECT_EQ(fake::ProfileFile("Skyrelay.ini"),
              "[Skyrelay]\r\nFSPath=C:\\FS\r\nUsingSB=1\r\nManualConnect=0\r\n");
    SaveOption("UsingSB", 0);
    LoadOptions();
    EXPECT_EQ(relayState.usingSquawkBox, 0);
    EXPECT_EQ(fake::CallsOf("WriteProfileString").back(),
              "WriteProfileString \"Skyrelay\" \"UsingSB\" \"0\" \"Skyrelay.ini\"");
}

TEST_F(Settings, AFailedSaveIsSaidOnceAndTheChangesHoldForTheRun) {
    fake::FailCall("WriteProfileString", 0, 5); // every write: ERROR_ACCESS_DENIED
    SaveOption("UsingSB", 1);
    fake::ScriptBrowse("E:\\FS2002");
    OnFsPath();
    SaveOption("ManualConnect", 1);
    EXPECT_EQ(fake::CallCount("WriteProfileString"), 3);
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    const fake::MessageBoxRecord& box = fake::MessageBoxes()[0];
    EXPECT_EQ(box.text, "Skyrelay could not save its settings to C:\\WINDOWS\\Skyrelay.ini: system "
                        "error 5. The change holds until Skyrelay exits.");
    EXPECT_EQ(box.caption, "Skyrelay");
    EXPECT_EQ(box.style, plat::BoxIconExclamation);
    EXPECT_TRUE(box.owned);
    EXPECT_FALSE(box.appBox);
    EXPECT_STREQ(simFolder, "E:\\FS2002");
    EXPECT_EQ(fake::ControlText(PathLineControl), "E:\\FS2002");

    Restart(); // the next run says it again
    SaveOption("UsingSB", 0);
    EXPECT_EQ(fake::MessageBoxes().size(), 2u);
}

TEST_F(Settings, FsPathStoresTheChosenFolderForTheNextStart) {
    fake::SetRegistryString(Key8, "EXE Path", "C:\\Registry");
    FindSimFolder();
    ReadPlayerName();
    fake::ScriptBrowse("E:\\Games\\FS2002");
    OnFsPath();
    EXPECT_EQ(fake::CallsOf("BrowseForFolder"),
              std::vector<std::string>{"BrowseForFolder \"FS Directory\" 0x250"});
    EXPECT_STREQ(simFolder, "E:\\Games\\FS2002");
    EXPECT_EQ(fake::ControlText(PathLineControl), "E:\\Games\\FS2002");

    Restart();
    FindSimFolder();
    EXPECT_STREQ(simFolder, "E:\\Games\\FS2002");
    EXPECT_EQ(fake::CallCount("RegistryOpenKey"), 1); // only the first start's
}

TEST_F(Settings, FsPathChangesNothingOnCancelEmptyOrTooLongPath) {
    fake::SetProfileFile("Skyrelay.ini", "[Skyrelay]\r\nFSPath=C:\\Old\r\n");
    FindSimFolder();
    const std::vector<std::optional<std::string>> answers = {std::nullopt, std::string(),
                                                             std::string(200, 'L')};
    for (const auto& answer : answers) {
        fake::ScriptBrowse(answer);
        OnFsPath();
        EXPECT_STREQ(simFolder, "C:\\Old");
        EXPECT_EQ(fake::ProfileFile("Skyrelay.ini"), "[Skyrelay]\r\nFSPath=C:\\Old\r\n");
        EXPECT_EQ(fake::ControlTextHistory(PathLineControl),
                  (std::vector<std::string>{"Static", "C:\\Old"}));
    }
    EXPECT_EQ(fake::MessageBoxTexts(), std::vector<std::string>{FsPathTooLongMessage});
    EXPECT_EQ(fake::CallCount("WriteProfileString"), 0);

    fake::ScriptBrowse(std::string(199, 'L'));
    OnFsPath();
    EXPECT_EQ(simFolder, std::string(199, 'L'));
}

} // namespace
