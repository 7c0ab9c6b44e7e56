// Read-only registry over "registry.reg" in the configuration folder, a regedit export (REGEDIT4 or
// "Windows Registry Editor Version 5.00", ANSI, UTF-8 or UTF-16LE). Only HKEY_LOCAL_MACHINE is
// kept. Key and value names are compared without regard to case. A missing or unreadable file means
// that no key opens; a line that cannot be understood is reported once on stderr and skipped.
#include "platform/ini_format.h"
#include "platform/posix/posix_backend.h"
#include "platform/posix/text_file.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace {

struct RegistryValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

using ValueMap = std::map<std::string, RegistryValue>; // by lower-case value name
using KeyMap = std::map<std::string, ValueMap>;        // by lower-case key below the hive

constexpr long InvalidHandle = 6;     // ERROR_INVALID_HANDLE
constexpr long InvalidParameter = 87; // ERROR_INVALID_PARAMETER

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = ini::AsciiLower(c);
    return out;
}

// A key name as stored: lower case, no leading or trailing separators.
std::string KeyName(std::string_view name) {
    while (!name.empty() && name.front() == '\\')
        name.remove_prefix(1);
    while (!name.empty() && name.back() == '\\')
        name.remove_suffix(1);
    return Lower(name);
}

// UTF-16LE to single bytes: characters above 0xFF become '?'. An odd last byte is dropped.
std::string Narrow(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        unsigned unit = static_cast<unsigned char>(bytes[i]) |
                        static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = ini::AsciiLower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && ini::SameName(text.substr(0, prefix.size()), prefix);
}

// A quoted text with \\ and \" escapes, starting at text[0] == '"'. On success *rest is what
// follows the closing quote.
std::optional<std::string> QuotedText(std::string_view text, std::string_view* rest) {
    if (text.empty() || text.front() != '"')
        return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            *rest = text.substr(i + 1);
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"'))
                return std::nullopt;
            c = text[++i];
        }
        out.push_back(c);
    }
    return std::nullopt;
}

// Comma-separated two-digit hex bytes; an empty list is no bytes.
std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view text) {
    std::vector<std::uint8_t> out;
    text = ini::Trim(text);
    if (text.empty())
        return out;
    for (;;) {
        std::size_t comma = text.find(',');
        std::string_view item = ini::Trim(text.substr(0, comma));
        if (item.empty() || item.size() > 2)
            return std::nullopt;
        int value = 0;
        for (char c : item) {
            int digit = HexDigit(c);
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + digit;
        }
        out.push_back(static_cast<std::uint8_t>(value));
        if (comma == std::string_view::npos)
            return out;
        text = text.substr(comma + 1);
    }
}

// The data after "name=": a string, dword:, hex: or hex(type):. nullopt when it is malformed.
std::optional<RegistryValue> ValueData(std::string_view text, bool unicodeFile) {
    text = ini::Trim(text);
    if (!text.empty() && text.front() == '"') {
        std::string_view rest;
        auto value = QuotedText(text, &rest);
        if (!value || !ini::Trim(rest).empty())
            return std::nullopt;
        RegistryValue out{plat::RegistryTypeString, {value->begin(), value->end()}};
        out.data.push_back(0);
        return out;
    }
    if (StartsWithNoCase(text, "dword:")) {
        std::string_view digits = ini::Trim(text.substr(6));
        if (digits.empty() || digits.size() > 8)
            return std::nullopt;
        std::uint32_t number = 0;
        for (char c : digits) {
            int digit = HexDigit(c);
            if (digit < 0)
                return std::nullopt;
            number = number << 4 | static_cast<std::uint32_t>(digit);
        }
        return RegistryValue{
            plat::RegistryTypeDword,
            {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
             static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)}};
    }
    if (!StartsWithNoCase(text, "hex"))
        return std::nullopt;
    text.remove_prefix(3);
    std::uint32_t type = plat::RegistryTypeBinary;
    if (!text.empty() && text.front() == '(') {
        std::size_t close = text.find(')');
        std::string_view digits = text.substr(1, close == std::string_view::npos ? 0 : close - 1);
        if (close == std::string_view::npos || digits.empty() || digits.size() > 8)
            return std::nullopt;
        type = 0;
        for (char c : digits) {
            int digit = HexDigit(c);
            if (digit < 0)
                return std::nullopt;
            type = type << 4 | static_cast<std::uint32_t>(digit);
        }
        text = text.substr(close + 1);
    }
    if (text.empty() || text.front() != ':')
        return std::nullopt;
    auto bytes = HexBytes(text.substr(1));
    if (!bytes)
        return std::nullopt;
    // Version 5 exports store text types as UTF-16LE.
    if (unicodeFile &&
        (type == plat::RegistryTypeString || type == plat::RegistryTypeExpandString)) {
        std::string narrow =
            Narrow(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        bytes->assign(narrow.begin(), narrow.end());
    }
    return RegistryValue{type, std::move(*bytes)};
}

// Each malformed line is reported once per process, however often the file is read.
void ReportMalformed(const std::string& path, std::size_t lineNumber, std::string_view line,
                     const char* what) {
    static std::mutex lock;
    static std::set<std::string> reported;
    std::string id = path + '\n' + std::to_string(lineNumber) + '\n' +
                     std::to_string(std::hash<std::string_view>{}(line));
    std::lock_guard<std::mutex> guard(lock);
    if (!reported.insert(id).second)
        return;
    std::fprintf(stderr, "%s:%zu: %s; line ignored\n", path.c_str(), lineNumber, what);
}

KeyMap Parse(std::string text, const std::string& path) {
    bool unicodeFile = false;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE)
        text = Narrow(std::string_view(text).substr(2));
    else if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);

    KeyMap keys;
    std::vector<std::string_view> lines = ini::SplitLines(text);
    std::size_t i = 0;
    while (i < lines.size() && ini::Trim(lines[i]).empty())
        ++i;
    std::string_view header = i < lines.size() ? ini::Trim(lines[i]) : std::string_view();
    if (header == "Windows Registry Editor Version 5.00") {
        unicodeFile = true;
    } else if (header != "REGEDIT4") {
        ReportMalformed(path, i + 1, header, "not a registry export (no REGEDIT4 header)");
        return keys;
    }

    ValueMap* current = nullptr;
    for (++i; i < lines.size(); ++i) {
        std::size_t lineNumber = i + 1;
        std::string_view first = ini::Trim(lines[i]);
        if (first.empty() || first.front() == ';')
            continue;
        if (first.front() == '[') {
            current = nullptr;
            if (first.back() != ']') {
                ReportMalformed(path, lineNumber, first, "key header without ']'");
                continue;
            }
            std::string_view name = first.substr(1, first.size() - 2);
            if (!name.empty() && name.front() == '-')
                continue; // a deletion; nothing to keep
            constexpr std::string_view Hive = "HKEY_LOCAL_MACHINE";
            if (StartsWithNoCase(name, Hive) &&
                (name.size() == Hive.size() || name[Hive.size()] == '\\'))
                current = &keys[KeyName(name.substr(Hive.size()))];
            continue;
        }
        // A value; hex data may go on over several lines, each but the last ending in '\'.
        std::string line(first);
        bool hexData = line.find("=hex") != std::string::npos;
        while (hexData && line.back() == '\\' && i + 1 < lines.size()) {
            line.pop_back();
            line.append(ini::Trim(lines[++i]));
        }
        std::string_view rest;
        std::optional<std::string> name;
        if (line.front() == '@') {
            name = std::string();
            rest = std::string_view(line).substr(1);
        } else {
            name = QuotedText(line, &rest);
        }
        rest = ini::Trim(rest);
        if (!name || rest.empty() || rest.front() != '=') {
            ReportMalformed(path, lineNumber, line, "not a \"name\"=value line");
            continue;
        }
        rest = ini::Trim(rest.substr(1));
        if (rest == "-")
            continue; // a deletion
        auto value = ValueData(rest, unicodeFile);
        if (!value) {
            ReportMalformed(path, lineNumber, line, "value not understood");
            continue;
        }
        if (current != nullptr)
            (*current)[Lower(*name)] = std::move(*value);
    }
    return keys;
}

// The registry as the file holds it now; a missing or unreadable file holds nothing.
std::optional<KeyMap> LoadRegistry() {
    std::string path = posix::ConfigDir() + "/registry.reg";
    std::string text;
    if (posix::ReadTextFile(path, &text) != posix::FileRead::Ok)
        return std::nullopt;
    return Parse(std::move(text), path);
}

} // namespace

struct plat::RegistryKeyObject {
    ValueMap values; // the key's values as read when it was opened
};

namespace plat {

long RegistryOpenKey(const char* subKey, std::uint32_t, RegistryKey* key) {
    if (subKey == nullptr || key == nullptr)
        return InvalidParameter;
    std::optional<KeyMap> registry = LoadRegistry();
    if (!registry)
        return RegistryNotFound;
    std::string name = KeyName(subKey);
    auto it = registry->find(name);
    if (it != registry->end()) {
        *key = new RegistryKeyObject{std::move(it->second)};
        return RegistrySuccess;
    }
    // A key that only has subkeys in the file exists too, without values.
    std::string below = name + "\\";
    auto sub = registry->lower_bound(below);
    if (!name.empty() && sub != registry->end() &&
        sub->first.compare(0, below.size(), below) == 0) {
        *key = new RegistryKeyObject{};
        return RegistrySuccess;
    }
    return RegistryNotFound;
}

long RegistryQueryValue(RegistryKey key, const char* name, std::uint32_t* type,
                        std::uint8_t* buffer, std::uint32_t* size) {
    if (key == nullptr)
        return InvalidHandle;
    auto it = key->values.find(Lower(name != nullptr ? name : ""));
    if (it == key->values.end())
        return RegistryNotFound;
    if (buffer != nullptr && size == nullptr)
        return InvalidParameter;
    const std::vector<std::uint8_t>& data = it->second.data;
    auto needed = static_cast<std::uint32_t>(data.size());
    if (type != nullptr)
        *type = it->second.type;
    if (buffer != nullptr && *size < needed) {
        *size = needed;
        return RegistryMoreData;
    }
    if (buffer != nullptr)
        std::copy(data.begin(), data.end(), buffer);
    if (size != nullptr)
        *size = needed;
    return RegistrySuccess;
}

long RegistryCloseKey(RegistryKey key) {
    if (key == nullptr)
        return InvalidHandle;
    delete key;
    return RegistrySuccess;
}

} // namespace plat
