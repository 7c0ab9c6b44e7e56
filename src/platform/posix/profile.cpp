// The profile (INI) functions over files on disk, with the platform's behaviour (see
// platform/ini_format.h). Bare file names live in the configuration folder.
#include "platform/ini_format.h"
#include "platform/posix/posix_backend.h"
#include "platform/posix/text_file.h"
#include "platform/settings_store.h"

namespace plat {

std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                char* buffer, std::uint32_t capacity, const char* file) {
    std::optional<std::string> value;
    std::string text;
    if (section != nullptr && key != nullptr && file != nullptr &&
        posix::ReadTextFile(posix::SettingsPath(file), &text) == posix::FileRead::Ok)
        value = ini::FindValue(text, section, key);
    return ini::CopyResult(value, defaultValue, buffer, capacity);
}

int WriteProfileString(const char* section, const char* key, const char* value, const char* file) {
    if (section == nullptr || key == nullptr || value == nullptr || file == nullptr ||
        !ini::CanStore(section, key, value))
        return 0;
    std::string path = posix::SettingsPath(file);
    std::string text;
    switch (posix::ReadTextFile(path, &text)) {
    case posix::FileRead::Ok:
        break;
    case posix::FileRead::Missing:
        text.clear();
        break;
    case posix::FileRead::Unreadable:
        return 0; // never replace a file that could not be read: its other keys would be lost
    }
    std::string name(file);
    bool bare = name.empty() || (name.front() != '/' && name.front() != '\\');
    if (bare && !posix::MakeDirs(posix::ConfigDir()))
        return 0;
    return posix::ReplaceFile(path, ini::SetValue(text, section, key, value)) ? 1 : 0;
}

} // namespace plat
