// Fake profile files, registry and folder browser.
#include "platform/fake/fake_settings_store.h"
#include "platform/fake/fake.h"
#include "platform/ini_format.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>

struct plat::RegistryKeyObject {
    std::string key; // lower-case key name
};

namespace fake {
namespace {

struct RegistryValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

struct RegistryEntry {
    std::map<std::string, RegistryValue> values; // by lower-case name
    std::optional<long> openFailure;
    bool exists = false; // false for a key that only carries an open failure
};

struct SettingsStoreState {
    std::map<std::string, std::string> files;
    std::map<std::string, RegistryEntry> registry; // by lower-case key name
    std::set<std::unique_ptr<plat::RegistryKeyObject>> openKeys;
    std::deque<std::optional<std::string>> browseAnswers;
    std::string writeError; // the words of the last failed write
};

SettingsStoreState& State() {
    static SettingsStoreState state;
    return state;
}

void ResetSettingsStore() {
    State() = SettingsStoreState{};
}
ResetHook settingsStoreReset(&ResetSettingsStore);

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = ini::AsciiLower(c);
    return out;
}

std::string Quote(const char* text) {
    return text ? std::string("\"") + text + "\"" : "null";
}

std::string Hex(std::uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + out;
}

} // namespace

void SetProfileFile(const std::string& name, const std::string& text) {
    State().files[name] = text;
}

std::optional<std::string> ProfileFile(const std::string& name) {
    auto it = State().files.find(name);
    if (it == State().files.end())
        return std::nullopt;
    return it->second;
}

void AddRegistryKey(const std::string& key) {
    State().registry[Lower(key)].exists = true;
}

void SetRegistryValue(const std::string& key, const std::string& name, std::uint32_t type,
                      const std::vector<std::uint8_t>& data) {
    RegistryEntry& entry = State().registry[Lower(key)];
    entry.exists = true;
    entry.values[Lower(name)] = RegistryValue{type, data};
}

void SetRegistryString(const std::string& key, const std::string& name, const std::string& text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    SetRegistryValue(key, name, plat::RegistryTypeString, data);
}

void FailRegistryOpen(const std::string& key, long result) {
    State().registry[Lower(key)].openFailure = result;
}

int LiveRegistryKeys() {
    return static_cast<int>(State().openKeys.size());
}

void ScriptBrowse(std::optional<std::string> path) {
    State().browseAnswers.push_back(std::move(path));
}

} // namespace fake

namespace plat {

using fake::Enter;
using fake::Quote;
using fake::State;

std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                char* buffer, std::uint32_t capacity, const char* file) {
    auto failure =
        Enter("ReadProfileString", Quote(section) + " " + Quote(key) + " " + Quote(defaultValue) +
                                       " " + std::to_string(capacity) + " " + Quote(file));
    std::optional<std::string> value;
    if (!failure && section != nullptr && key != nullptr && file != nullptr) {
        auto it = State().files.find(file);
        if (it != State().files.end())
            value = ini::FindValue(it->second, section, key);
    }
    return ini::CopyResult(value, defaultValue, buffer, capacity);
}

// A failure injected into a write is its system error code, whose words are "system error N.".
int WriteProfileString(const char* section, const char* key, const char* value, const char* file) {
    if (auto failure = Enter("WriteProfileString", Quote(section) + " " + Quote(key) + " " +
                                                       Quote(value) + " " + Quote(file))) {
        State().writeError = "system error " + std::to_string(*failure) + ".";
        return 0;
    }
    if (section == nullptr || key == nullptr || value == nullptr || file == nullptr ||
        !ini::CanStore(section, key, value)) {
        State().writeError = "The parameter is incorrect.";
        return 0;
    }
    std::string& text = State().files[file];
    text = ini::SetValue(text, section, key, value);
    return 1;
}

std::string ProfileWriteError() {
    return State().writeError;
}

// Bare names live in the Windows folder, as on Windows.
std::string ProfileFilePath(const char* file) {
    std::string name = file != nullptr ? file : "";
    if (name.find_first_of("\\/:") != std::string::npos)
        return name;
    return "C:\\WINDOWS\\" + name;
}

long RegistryOpenKey(const char* subKey, std::uint32_t access, RegistryKey* key) {
    if (auto failure = Enter("RegistryOpenKey", Quote(subKey) + " " + fake::Hex(access)))
        return *failure;
    if (subKey == nullptr || key == nullptr)
        return 87; // ERROR_INVALID_PARAMETER
    auto it = State().registry.find(fake::Lower(subKey));
    if (it == State().registry.end())
        return RegistryNotFound;
    if (it->second.openFailure)
        return *it->second.openFailure;
    if (!it->second.exists)
        return RegistryNotFound;
    auto handle = std::make_unique<RegistryKeyObject>(RegistryKeyObject{it->first});
    *key = handle.get();
    State().openKeys.insert(std::move(handle));
    return RegistrySuccess;
}

long RegistryQueryValue(RegistryKey key, const char* name, std::uint32_t* type,
                        std::uint8_t* buffer, std::uint32_t* size) {
    if (auto failure = Enter("RegistryQueryValue",
                             Quote(name) + " " + (size ? std::to_string(*size) : "null")))
        return *failure;
    if (key == nullptr)
        return 6; // ERROR_INVALID_HANDLE
    auto entry = State().registry.find(key->key);
    if (entry == State().registry.end())
        return RegistryNotFound;
    auto value = entry->second.values.find(fake::Lower(name ? name : ""));
    if (value == entry->second.values.end())
        return RegistryNotFound;
    const std::vector<std::uint8_t>& data = value->second.data;
    if (type != nullptr)
        *type = value->second.type;
    if (buffer != nullptr && size == nullptr)
        return 87;
    auto needed = static_cast<std::uint32_t>(data.size());
    if (buffer != nullptr && *size < needed) {
        *size = needed;
        return RegistryMoreData;
    }
    if (buffer != nullptr && !data.empty())
        std::copy(data.begin(), data.end(), buffer);
    if (size != nullptr)
        *size = needed;
    return RegistrySuccess;
}

long RegistryCloseKey(RegistryKey key) {
    if (auto failure = Enter("RegistryCloseKey"))
        return *failure;
    auto& keys = State().openKeys;
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        if (it->get() == key) {
            keys.erase(it);
            return RegistrySuccess;
        }
    }
    return 6; // ERROR_INVALID_HANDLE
}

bool BrowseForFolder(const char* title, std::uint32_t flags, std::string* path) {
    auto failure = Enter("BrowseForFolder", Quote(title) + " " + fake::Hex(flags));
    auto& answers = State().browseAnswers;
    std::optional<std::string> answer;
    if (!answers.empty()) {
        answer = std::move(answers.front());
        answers.pop_front();
    }
    if (failure || !answer || path == nullptr)
        return false;
    *path = *answer;
    return true;
}

} // namespace plat
