#include "shell/settings.h"

#include "platform/dialog.h"
#include "platform/settings_store.h"
#include "state/relay_state.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

char simFolder[SimFolderSize] = "";

namespace {

// Whether this process has said that the settings file cannot be written: said once, not at every
// change.
bool settingsNotSavedShown = false;

struct SimulatorKey {
    const char* name;
    std::uint32_t access;
};

// Searched in this order; only the first that opens is read.
constexpr std::array<SimulatorKey, 3> SimulatorKeys{{
    {"SOFTWARE\\Microsoft\\Microsoft Games\\Flight Simulator\\8.0", plat::KeyQueryValue},
    {"SOFTWARE\\Microsoft\\Microsoft Games\\Flight Simulator\\7.0", plat::KeyRead},
    {"SOFTWARE\\Microsoft\\Games\\Flight Simulator\\6.0", plat::KeyRead},
}};

// Tried in this order in the opened key ("Path" and "path" are two tries).
constexpr std::array<const char*, 4> FolderValueNames{"EXE Path", "Path", "path", "InstalledTo"};

void SetText(char* target, std::size_t capacity, const char* text) {
    std::size_t length = std::min(std::strlen(text), capacity - 1);
    std::memcpy(target, text, length);
    std::memset(target + length, 0, capacity - length);
}

// Reads one registry value into simFolder. Only a text value (REG_SZ or REG_EXPAND_SZ) that ends
// within the 200 bytes counts as read; anything else leaves simFolder alone.
bool ReadFolderValue(plat::RegistryKey key, const char* name) {
    std::array<std::uint8_t, SimFolderSize> value{};
    std::uint32_t type = 0;
    std::uint32_t size = static_cast<std::uint32_t>(value.size());
    if (plat::RegistryQueryValue(key, name, &type, value.data(), &size) != plat::RegistrySuccess)
        return false;
    if (type != plat::RegistryTypeString && type != plat::RegistryTypeExpandString)
        return false;
    if (std::memchr(value.data(), 0, value.size()) == nullptr)
        return false;
    SetText(simFolder, sizeof simFolder, reinterpret_cast<const char*>(value.data()));
    return true;
}

void ReadStoredFolder() {
    plat::ReadProfileString(SettingsSection, FsPathKey, "", simFolder,
                            static_cast<std::uint32_t>(sizeof simFolder), SettingsFile);
}

// The C library's decimal conversion (leading white space, an optional sign, digits up to the
// first non-digit, 0 without digits), saturating at the 32-bit limits instead of overflowing.
std::int32_t DecimalValue(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT32_MIN) : INT32_MAX;
    for (; *p >= '0' && *p <= '9'; ++p)
        magnitude = std::min(limit, magnitude * 10 + (*p - '0'));
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::int32_t ReadOption(const char* key) {
    char text[OptionTextSize] = {};
    plat::ReadProfileString(SettingsSection, key, "0", text,
                            static_cast<std::uint32_t>(sizeof text), SettingsFile);
    return DecimalValue(text);
}

// The text of the box for a settings file that cannot be written.
std::string SettingsNotSavedText(const std::string& path, std::string reason) {
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ' ||
                               reason.back() == '\r' || reason.back() == '\n'))
        reason.pop_back();
    std::string text(std::strlen(SettingsNotSavedFormat) + path.size() + reason.size(), '\0');
    int length = std::snprintf(text.data(), text.size() + 1, SettingsNotSavedFormat, path.c_str(),
                               reason.c_str());
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return text;
}

// Writes one key of the settings file at once. The first write that fails is said in a box owned
// by the main dialog; the change itself holds for this run either way.
void WriteSetting(const char* key, const char* value) {
    if (plat::WriteProfileString(SettingsSection, key, value, SettingsFile) != 0 ||
        settingsNotSavedShown)
        return;
    settingsNotSavedShown = true;
    std::string text =
        SettingsNotSavedText(plat::ProfileFilePath(SettingsFile), plat::ProfileWriteError());
    plat::ShowMessageBox(mainDialog, text.c_str(), SettingsNotSavedCaption,
                         plat::BoxIconExclamation);
}

} // namespace

void FindSimFolder() {
    ReadStoredFolder();
    if (simFolder[0] == '\0') {
        plat::RegistryKey key = nullptr;
        bool opened = false;
        for (const SimulatorKey& candidate : SimulatorKeys) {
            if (plat::RegistryOpenKey(candidate.name, candidate.access, &key) ==
                plat::RegistrySuccess) {
                opened = true;
                break;
            }
        }
        if (!opened) {
            SetText(simFolder, sizeof simFolder, "");
        } else {
            bool found = false;
            for (const char* name : FolderValueNames) {
                if (ReadFolderValue(key, name)) {
                    found = true;
                    break;
                }
            }
            if (!found)
                ReadStoredFolder();
            plat::RegistryCloseKey(key);
        }
    }
    if (simFolder[0] != '\0') {
        plat::SetControlText(mainDialog, PathLineControl, simFolder);
    } else {
        SetText(simFolder, sizeof simFolder, "Not found");
        plat::ShowAppMessageBox(SimFolderNotFoundMessage, plat::BoxIconExclamation);
    }
}

void ReadPlayerName() {
    // The configuration file's path may not fit in simFolder; the name is still read from the
    // whole path, and simFolder keeps the folder rather than a cut-off path.
    std::string configPath = std::string(simFolder) + "\\FS2002.cfg";
    if (configPath.size() < sizeof simFolder)
        SetText(simFolder, sizeof simFolder, configPath.c_str());
    plat::ReadProfileString("MULTIPLAYER", "PLAYER_NAME", "a", playerName,
                            static_cast<std::uint32_t>(PlayerNameSize), configPath.c_str());
}

void LoadOptions() {
    relayState.usingSquawkBox = ReadOption(UsingSbKey);
    relayState.manualConnectOnly = ReadOption(ManualConnectKey);
}

void SaveOption(const char* key, int value) {
    WriteSetting(key, value == 0 ? "0" : "1");
}

void OnFsPath() {
    std::string chosen;
    if (!plat::BrowseForFolder(FsPathBrowseTitle, FsPathBrowseFlags, &chosen) || chosen.empty())
        return;
    if (chosen.size() >= sizeof simFolder) {
        plat::ShowAppMessageBox(FsPathTooLongMessage, plat::BoxIconExclamation);
        return;
    }
    SetText(simFolder, sizeof simFolder, chosen.c_str());
    WriteSetting(FsPathKey, simFolder);
    plat::SetControlText(mainDialog, PathLineControl, simFolder);
}

void ResetSettings() {
    std::memset(simFolder, 0, sizeof simFolder);
    settingsNotSavedShown = false;
}
