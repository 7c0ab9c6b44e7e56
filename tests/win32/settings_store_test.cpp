// The profile functions and the registry as Windows has them, against the cases the Linux
// stand-ins are tested with: where they agree, the stand-ins behave as the real functions do.
#include "integration/other_process.h"
#include "integration/registry_cases.h"
#include "platform/settings_store.h"
#include "unit/ini_read_cases.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Deletes a key and everything under it, in the registry view its parent was opened in (what
// Vista's RegDeleteTreeA does); false when something is left.
bool DeleteTree(HKEY parent, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    char child[256];
    DWORD size = sizeof child;
    bool emptied = true;
    while (emptied && RegEnumKeyExA(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) ==
                          ERROR_SUCCESS) {
        emptied = DeleteTree(key, child);
        size = sizeof child;
    }
    RegCloseKey(key);
    return emptied && RegDeleteKeyA(parent, name) == ERROR_SUCCESS;
}

class SettingsStore : public ::testing::Test {
  protected:
    void SetUp() override { dir = other::MakeTempDir("skyrelay-settings-"); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // A fresh file for each case: the profile functions keep files they have read.
    std::string NewFile() const {
        static int counter = 0;
        return (std::filesystem::path(dir) / ("case" + std::to_string(++counter) + ".ini"))
            .string();
    }
    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Read(const char* file, const char* key = "FSPath") {
        char buffer[64];
        plat::ReadProfileString("Skyrelay", key, "dflt ", buffer, sizeof buffer, file);
        return buffer;
    }
    std::string dir;
};

TEST_F(SettingsStore, ProfileReadsAndWritesAreThoseOfTheStandIns) {
    for (const ReadCase& c : IniReadCases()) {
        SCOPED_TRACE(c.what);
        std::string file = NewFile();
        Put(file, c.text);
        char buffer[256];
        std::memset(buffer, 'Z', sizeof buffer);
        std::uint32_t n = plat::ReadProfileString("Skyrelay", "FSPath", c.defaultValue, buffer,
                                                  c.capacity, file.c_str());
        EXPECT_EQ(std::string(buffer), c.expected);
        EXPECT_EQ(n, c.expected.size());
    }
    for (const WriteCase& c : IniWriteCases()) {
        SCOPED_TRACE(c.what);
        std::string file = NewFile();
        if (!c.before.empty())
            Put(file, c.before);
        EXPECT_EQ(plat::WriteProfileString("Skyrelay", c.key, c.value, file.c_str()), 1);
        EXPECT_EQ(other::ReadFile(file), c.afterUnderWine != nullptr ? c.afterUnderWine : c.after);
    }
    // A missing file, section or key gives the default without its trailing blanks.
    std::string file = NewFile();
    EXPECT_EQ(Read(file.c_str()), "dflt");
    Put(file, "[Other]\r\nFSPath=x\r\n");
    EXPECT_EQ(Read(file.c_str()), "dflt");
    EXPECT_EQ(plat::WriteProfileString("Skyrelay", "UsingSB", "0", file.c_str()), 1);
    EXPECT_EQ(Read(file.c_str()), "dflt");
}

TEST_F(SettingsStore, ABareFileNameLivesInTheWindowsFolder) {
    std::string name = "skyrelay-test-" + std::to_string(GetCurrentProcessId()) + ".ini";
    char windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
    std::string path = std::string(windows) + "\\" + name;
    ASSERT_EQ(plat::WriteProfileString("Skyrelay", "FSPath", "C:\\FS2002", name.c_str()), 1);
    EXPECT_EQ(other::ReadFile(path), "[Skyrelay]\r\nFSPath=C:\\FS2002\r\n");
    EXPECT_EQ(Read(name.c_str()), "C:\\FS2002");
    DeleteFileA(path.c_str());
}

TEST_F(SettingsStore, RegistryReadsAreThoseOfTheStandIn) {
    HKEY key = nullptr;
    // In the 32-bit view, where the simulator's installer writes.
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, registry_cases::SimKey, 0, nullptr, 0,
                              KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const auto& value : registry_cases::SimKeyValues())
        RegSetValueExA(key, value.name, 0, value.type,
                       reinterpret_cast<const BYTE*>(value.data.data()),
                       static_cast<DWORD>(value.data.size()));
    RegCloseKey(key);
    registry_cases::ExpectSimKeyReads();
    HKEY microsoft = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                  &microsoft);
    EXPECT_TRUE(DeleteTree(microsoft, "Microsoft Games"));
    RegCloseKey(microsoft);
}

} // namespace
