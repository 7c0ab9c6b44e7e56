// The Linux profile files and registry.reg, against real files in a configuration folder of the
// test's own.
#include "integration/registry_cases.h"
#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using registry_cases::Query;

class SettingsFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "skyrelay-settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        config = root / "config"; // not there yet: the first write makes it
        setenv("SKYRELAY_CONFIG_DIR", config.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("SKYRELAY_CONFIG_DIR");
        fs::remove_all(root);
    }
    static void Put(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Get(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    static std::string Read(const char* file, const char* section = "Skyrelay",
                            const char* key = "FSPath", std::uint32_t capacity = 200) {
        std::vector<char> buffer(capacity + 1, 'Z');
        plat::ReadProfileString(section, key, "dflt ", buffer.data(), capacity, file);
        return buffer.data();
    }
    fs::path root;
    fs::path config;
};

TEST_F(SettingsFiles, AWriteCreatesTheFolderAndFileAtomicallyWithCrLf) {
    EXPECT_EQ(Read("Skyrelay.ini"), "dflt");
    ASSERT_EQ(plat::WriteProfileString("Skyrelay", "FSPath", "/opt/fs2002", "Skyrelay.ini"), 1);
    ASSERT_EQ(plat::WriteProfileString("Skyrelay", "UsingSB", "1", "Skyrelay.ini"), 1);
    EXPECT_EQ(Get(config / "Skyrelay.ini"), "[Skyrelay]\r\nFSPath=/opt/fs2002\r\nUsingSB=1\r\n");
    EXPECT_EQ(Read("Skyrelay.ini", "SKYRELAY", "fspath"), "/opt/fs2002");
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(config), fs::directory_iterator()), 1);
}

TEST_F(SettingsFiles, BackslashesSeparateFoldersAndAbsolutePathsStandAsTheyAre) {
    Put(config / "Not found" / "FS2002.cfg", "[MULTIPLAYER]\nPLAYER_NAME=Rel\n");
    EXPECT_EQ(Read("Not found\\FS2002.cfg", "MULTIPLAYER", "PLAYER_NAME"), "Rel");
    Put(root / "fs" / "FS2002.cfg", "[MULTIPLAYER]\r\nPLAYER_NAME=Abs");
    std::string absolute = (root / "fs").string() + "\\FS2002.cfg";
    EXPECT_EQ(Read(absolute.c_str(), "MULTIPLAYER", "PLAYER_NAME"), "Abs");
    EXPECT_EQ(Read((root / "fs").c_str()), "dflt"); // a folder is no file
}

TEST_F(SettingsFiles, DamagedOrOversizedFilesGiveDefaultsAndAreNeverOverwritten) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.push_back(static_cast<char>((i * 131) & 0xFF));
    Put(config / "Skyrelay.ini", garbage + std::string(1 << 21, '=') + "\n[Skyrelay]\nFSPath=ok");
    EXPECT_EQ(Read("Skyrelay.ini"), "ok");
    EXPECT_EQ(Read("Skyrelay.ini", "Skyrelay", "UsingSB", 1), "");
    ASSERT_EQ(plat::WriteProfileString("Skyrelay", "UsingSB", "0", "Skyrelay.ini"), 1);
    EXPECT_EQ(Read("Skyrelay.ini", "Skyrelay", "UsingSB"), "0");
    EXPECT_EQ(Read("Skyrelay.ini"), "ok");

    // A file too large to be a settings file is neither read nor replaced.
    fs::path big = config / "big.ini";
    Put(big, "[Skyrelay]\nFSPath=x\n");
    fs::resize_file(big, 17u << 20);
    EXPECT_EQ(Read("big.ini"), "dflt");
    EXPECT_EQ(plat::WriteProfileString("Skyrelay", "FSPath", "y", "big.ini"), 0);
    EXPECT_EQ(plat::ProfileWriteError(), "File too large");
    EXPECT_EQ(fs::file_size(big), 17u << 20);
    EXPECT_EQ(plat::WriteProfileString("Skyrelay", "FSPath", "a\nb", "Skyrelay.ini"), 0);
    EXPECT_EQ(plat::ProfileWriteError(), "Invalid argument");
    // Each failure in the system's words, and the file by its full path.
    fs::create_directory(config / "folder.ini");
    EXPECT_EQ(plat::WriteProfileString("Skyrelay", "FSPath", "y", "folder.ini"), 0);
    EXPECT_EQ(plat::ProfileWriteError(), "Is a directory");
    EXPECT_EQ(plat::ProfileFilePath("folder.ini"), (config / "folder.ini").string());
}

TEST_F(SettingsFiles, RegistryExportIsReadWithItsTypesEscapesAndAnyCase) {
    Put(config / "registry.reg",
        "REGEDIT4\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft Games\\Flight Simulator\\8.0]\r\n"
        "\"EXE Path\"=\"C:\\\\Program Files\\\\FS \\\"2002\\\"\"\r\n"
        "\"Count\"=dword:0000002a\r\n"
        "\"Blob\"=hex:41,42,\\\r\n  43\r\n"
        "@=\"default\"\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Elsewhere]\r\n\"X\"=\"y\"\r\n");
    registry_cases::ExpectSimKeyReads();
}

TEST_F(SettingsFiles, RegistryVersion5InUtf16IsRead) {
    std::string text = "\xFF\xFE";
    auto add = [&text](const std::string& ascii) {
        for (char c : ascii)
            text += std::string{c, '\0'};
    };
    add("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\r\n"
        "\"Path\"=hex(2):43,00,3a,00,00,00\r\n\"Plain\"=\"Z:\\\\fs\"\r\n");
    Put(config / "registry.reg", text);
    EXPECT_EQ(Query("SOFTWARE\\K", "Path"), std::string("2:C:\0", 5));
    EXPECT_EQ(Query("SOFTWARE\\K", "Plain"), std::string("1:Z:\\fs\0", 8));
}

TEST_F(SettingsFiles, RegistryWithoutFileOrHeaderOpensNothing) {
    EXPECT_EQ(Query("SOFTWARE", "x"), "open 2");
    Put(config / "registry.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"x\"=\"1\"\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Query("SOFTWARE", "x"), "open 2");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("registry.reg:1:"), std::string::npos);
}

TEST_F(SettingsFiles, MalformedRegistryLinesAreReportedOnceAndSkipped) {
    std::string garbage(300000, '\x9f');
    garbage[1000] = '\0';
    Put(config / "registry.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n"
                                 "\"Good\"=\"1\"\n" +
                                     garbage +
                                     "\n"
                                     "\"Bad\"=dword:123456789\n"
                                     "\"Unclosed=\"x\"\n"
                                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Broken\n"
                                     "\"Late\"=hex:4a,4b");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Query("SOFTWARE\\K", "Good"), std::string("1:1\0", 4));
    EXPECT_EQ(Query("SOFTWARE\\K", "Bad"), "query 2 size 64");
    std::string firstRead = testing::internal::GetCapturedStderr();
    for (const char* line : {":4:", ":5:", ":6:", ":7:"})
        EXPECT_NE(firstRead.find(std::string("registry.reg") + line), std::string::npos) << line;
    EXPECT_EQ(firstRead.find(":3:"), std::string::npos);
    EXPECT_LT(firstRead.size(), 1000u); // the garbage itself is not echoed
    // The key header on line 7 is broken, so "Late" belongs to no key.
    EXPECT_EQ(Query("SOFTWARE\\Broken", "Late"), "open 2");

    testing::internal::CaptureStderr();
    Query("SOFTWARE\\K", "Good");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

} // namespace
