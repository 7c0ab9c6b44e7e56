// Profile (INI) functions, registry reads and the folder browser.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <string>

namespace plat {

// GetPrivateProfileStringA(section, key, default, buffer, capacity, file): the value, or the
// default when the file, section or key is missing, cut to capacity - 1 characters and always
// terminated. Returns the number of characters copied. A bare file name lives in the platform's
// settings directory.
std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                char* buffer, std::uint32_t capacity, const char* file);

// WritePrivateProfileStringA(section, key, value, file): non-zero on success.
int WriteProfileString(const char* section, const char* key, const char* value, const char* file);

// Why the last WriteProfileString of this thread that failed did, in the system's own words (the
// text of its error code on Windows, of errno on Linux), without line ends; "" before any failure.
std::string ProfileWriteError();

// The full path of the file the profile functions keep under `file`: a bare name lives in the
// platform's settings folder (the Windows folder on Windows).
std::string ProfileFilePath(const char* file);

// Registry, HKEY_LOCAL_MACHINE only, read only. Zero means success (ERROR_SUCCESS).
inline constexpr std::uint32_t KeyQueryValue = 0x0001; // KEY_QUERY_VALUE
inline constexpr std::uint32_t KeyRead = 0x20019;      // KEY_READ
inline constexpr long RegistrySuccess = 0;
inline constexpr long RegistryNotFound = 2;                  // ERROR_FILE_NOT_FOUND
inline constexpr long RegistryMoreData = 234;                // ERROR_MORE_DATA
inline constexpr std::uint32_t RegistryTypeString = 1;       // REG_SZ
inline constexpr std::uint32_t RegistryTypeExpandString = 2; // REG_EXPAND_SZ
inline constexpr std::uint32_t RegistryTypeBinary = 3;       // REG_BINARY
inline constexpr std::uint32_t RegistryTypeDword = 4;        // REG_DWORD

// RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, key).
long RegistryOpenKey(const char* subKey, std::uint32_t access, RegistryKey* key);
// RegQueryValueExA(key, name, null, type, buffer, size): *size in = capacity, out = bytes stored
// (or needed, with RegistryMoreData).
long RegistryQueryValue(RegistryKey key, const char* name, std::uint32_t* type,
                        std::uint8_t* buffer, std::uint32_t* size);
// RegCloseKey.
long RegistryCloseKey(RegistryKey key);

// The folder browser (SHBrowseForFolderA then SHGetPathFromIDListA), no owner window, starting at
// the desktop, with the given title and BIF_ flags. Returns false when the user cancelled; on
// success *path holds the chosen folder's file-system path (up to 260 characters on Windows).
bool BrowseForFolder(const char* title, std::uint32_t flags, std::string* path);

} // namespace plat
