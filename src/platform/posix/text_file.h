// Whole-file reads and atomic replacement for the backend's settings files.
#pragma once

#include <string>

namespace posix {

enum class FileRead { Ok, Missing, Unreadable };

// Settings files larger than this are refused rather than read into memory.
inline constexpr std::size_t MaxSettingsFileSize = 16u * 1024u * 1024u;

// Reads a regular file of at most MaxSettingsFileSize bytes into *text. Unreadable leaves the
// reason in errno (EISDIR for a folder, EFBIG for a file too large).
FileRead ReadTextFile(const std::string& path, std::string* text);

// Replaces (or creates) a file with the text through a temporary file in the same folder and a
// rename, so a crash leaves either the old file or the new one. A symbolic link is followed and its
// target replaced; an existing file keeps its permission bits, a new one gets 0644. A failure
// leaves its reason in errno.
bool ReplaceFile(const std::string& path, const std::string& text);

// A settings file name as the program hands it to the profile functions: '\' separates folders, a
// name starting with '/' is used as it stands, any other is relative to ConfigDir().
std::string SettingsPath(const std::string& name);

} // namespace posix
