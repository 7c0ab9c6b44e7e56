// The profile (INI) functions over files on disk, with the platform's behaviour (see
// platform/ini_format.h). Bare file names live in the configuration folder.
#include "platform/ini_format.h"
#include "platform/posix/posix_backend.h"
#include "platform/posix/text_file.h"
#include "platform/settings_store.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <unistd.h>

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

namespace {

// The words of the last failed write, as the system gives them for errno.
thread_local std::string writeError;

int WriteFailed(int error) {
    writeError = std::strerror(error);
    return 0;
}

} // namespace

int WriteProfileString(const char* section, const char* key, const char* value, const char* file) {
    if (section == nullptr || key == nullptr || value == nullptr || file == nullptr ||
        !ini::CanStore(section, key, value))
        return WriteFailed(EINVAL);
    std::string path = posix::SettingsPath(file);
    std::string text;
    switch (posix::ReadTextFile(path, &text)) {
    case posix::FileRead::Ok:
        break;
    case posix::FileRead::Missing:
        text.clear();
        break;
    case posix::FileRead::Unreadable:
        // Never replace a file that could not be read: its other keys would be lost.
        return WriteFailed(errno);
    }
    std::string name(file);
    bool bare = name.empty() || (name.front() != '/' && name.front() != '\\');
    if (bare && !posix::MakeDirs(posix::ConfigDir()))
        return WriteFailed(errno);
    if (!posix::ReplaceFile(path, ini::SetValue(text, section, key, value)))
        return WriteFailed(errno);
    return 1;
}

std::string ProfileWriteError() {
    return writeError;
}

std::string ProfileFilePath(const char* file) {
    std::string path = posix::SettingsPath(file != nullptr ? file : "");
    if (!path.empty() && path.front() == '/')
        return path;
    char here[PATH_MAX];
    if (getcwd(here, sizeof here) == nullptr)
        return path;
    return std::string(here) + "/" + path;
}

} // namespace plat
