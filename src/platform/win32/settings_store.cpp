// The profile functions, the registry (HKEY_LOCAL_MACHINE, read only) and the shell's folder
// browser. A bare settings file name lands in the Windows folder, as the profile functions place
// it.
#include "platform/settings_store.h"
#include "platform/win32/win32_backend.h"

#include <shlobj.h>

#include <string>

namespace plat {

std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                char* buffer, std::uint32_t capacity, const char* file) {
    return GetPrivateProfileStringA(section, key, defaultValue, buffer, capacity, file);
}

namespace {

// The system error code of the last failed write.
DWORD writeError = ERROR_SUCCESS;

} // namespace

int WriteProfileString(const char* section, const char* key, const char* value, const char* file) {
    if (WritePrivateProfileStringA(section, key, value, file))
        return 1;
    writeError = GetLastError();
    return 0;
}

std::string ProfileWriteError() {
    if (writeError == ERROR_SUCCESS)
        return "";
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, writeError, 0, text, sizeof text, nullptr);
    std::string words(text, length);
    // The system's texts end with a line end; any inside become spaces, for a one-line reason.
    while (!words.empty() && (words.back() == '\r' || words.back() == '\n' || words.back() == ' '))
        words.pop_back();
    for (char& c : words)
        if (c == '\r' || c == '\n')
            c = ' ';
    if (words.empty())
        words = "system error " + std::to_string(writeError);
    return words;
}

std::string ProfileFilePath(const char* file) {
    std::string name = file != nullptr ? file : "";
    // A bare name: the Windows folder, where the profile functions keep it.
    if (name.find_first_of("\\/:") == std::string::npos) {
        char folder[MAX_PATH] = {};
        UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return name;
        std::string path(folder, length);
        if (path.back() != '\\')
            path += '\\';
        return path + name;
    }
    char full[MAX_PATH] = {};
    DWORD length = GetFullPathNameA(name.c_str(), MAX_PATH, full, nullptr);
    return length == 0 || length >= MAX_PATH ? name : std::string(full, length);
}

long RegistryOpenKey(const char* subKey, std::uint32_t access, RegistryKey* key) {
    HKEY opened = nullptr;
    // FS2002 is a 32-bit program: its keys live in the 32-bit view, which a 64-bit build must ask
    // for (a 32-bit build sees that view anyway).
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access | KEY_WOW64_32KEY, &opened);
    if (key != nullptr)
        *key = result == ERROR_SUCCESS ? win32::FromHkey(opened) : nullptr;
    return result;
}

long RegistryQueryValue(RegistryKey key, const char* name, std::uint32_t* type,
                        std::uint8_t* buffer, std::uint32_t* size) {
    DWORD valueType = 0;
    DWORD valueSize = size != nullptr ? *size : 0;
    LONG result = RegQueryValueExA(win32::ToHkey(key), name, nullptr, &valueType, buffer,
                                   size != nullptr ? &valueSize : nullptr);
    if (type != nullptr)
        *type = valueType;
    if (size != nullptr)
        *size = valueSize;
    return result;
}

long RegistryCloseKey(RegistryKey key) {
    return RegCloseKey(win32::ToHkey(key));
}

bool BrowseForFolder(const char* title, std::uint32_t flags, std::string* path) {
    char displayName[MAX_PATH] = {};
    BROWSEINFOA info{};
    info.hwndOwner = nullptr;
    info.pidlRoot = nullptr; // the desktop
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = flags;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info);
    if (chosen == nullptr)
        return false; // cancelled
    char folder[MAX_PATH] = {};
    BOOL converted = SHGetPathFromIDListA(chosen, folder);
    CoTaskMemFree(chosen);
    // An item without a file-system path (a virtual folder) counts as no choice.
    if (!converted || path == nullptr)
        return false;
    *path = folder;
    return true;
}

} // namespace plat
