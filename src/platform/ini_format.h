// The INI text behind the profile functions, kept by the backends that store settings files of
// their own (posix on disk, fake in memory) so that both behave alike. Text handling only: no file
// access. Header-only because each program links exactly one backend.
//
// Behaviour kept from the platform's profile functions: section and key names are compared without
// regard to case; blanks around names and values are dropped; a value in double or single quotes
// loses them; only the first section of a name counts; a line without '=' is a key without a value,
// which reads as the default; CR, LF and CRLF all end a line; the first matching key wins.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ini {

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

inline std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

inline char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

// The lines of a text without their ends; CR, LF and CRLF each end a line.
inline std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

// One line as the reader sees it.
struct Line {
    enum class Kind { Other, Section, Key };
    Kind kind = Kind::Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // a key's value, trimmed, quotes kept
    bool hasValue = false;  // a key line with '='
};

// A blank line is nothing; "[name]" (anything after the ']' ignored) is a section; any other line
// is a key, "[name" without its ']' included.
inline Line ParseLine(std::string_view text) {
    std::string_view body = Trim(text);
    if (body.empty())
        return {};
    std::size_t close = body.find(']');
    if (body.front() == '[' && close != std::string_view::npos)
        return {Line::Kind::Section, Trim(body.substr(1, close - 1)), {}, false};
    std::size_t equals = body.find('=');
    if (equals == std::string_view::npos)
        return {Line::Kind::Key, body, {}, false};
    return {Line::Kind::Key, Trim(body.substr(0, equals)), Trim(body.substr(equals + 1)), true};
}

// The value of a key in the first section of that name, quotes removed; nullopt when the section or
// the key is missing, or the key has no value.
inline std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    // Names are matched without their outer blanks, as the file's own names are read.
    section = Trim(section);
    key = Trim(key);
    bool inSection = false;
    bool seen = false;
    for (std::string_view raw : SplitLines(text)) {
        Line line = ParseLine(raw);
        if (line.kind == Line::Kind::Section) {
            if (inSection)
                return std::nullopt; // the first section of the name has ended
            inSection = !seen && SameName(line.name, section);
            seen = seen || inSection;
        } else if (inSection && line.kind == Line::Kind::Key && SameName(line.name, key)) {
            if (!line.hasValue)
                return std::nullopt;
            std::string_view value = line.value;
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            return std::string(value);
        }
    }
    return std::nullopt;
}

// Whether a write keeps the file's structure: a line break in any part, a ']' in the section name,
// an '=' in the key or a key starting with '[' would make other sections or keys out of the value.
inline bool CanStore(std::string_view section, std::string_view key, std::string_view value) {
    auto hasBreak = [](std::string_view s) {
        return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
    };
    return !hasBreak(section) && !hasBreak(key) && !hasBreak(value) &&
           section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
           !Trim(section).empty() && !Trim(key).empty() && Trim(key).front() != '[';
}

// The text with key set to value in section: an existing key's line is replaced, keeping the name
// as the file spells it; a new key goes after the last non-blank line of the section's first
// occurrence; a new section is appended at the end. The value loses its leading blanks. Every line
// of the result ends in CRLF.
inline std::string SetValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    std::vector<std::string_view> lines = SplitLines(text);
    while (!value.empty() && IsBlank(value.front()))
        value.remove_prefix(1);
    std::string entry = std::string(key) + "=" + std::string(value);
    std::string header = "[" + std::string(section) + "]";

    std::optional<std::size_t> replace;
    std::optional<std::size_t> insertAt;
    for (std::size_t i = 0; i < lines.size() && !insertAt; ++i) {
        Line line = ParseLine(lines[i]);
        if (line.kind != Line::Kind::Section || !SameName(line.name, section))
            continue;
        std::size_t lastUsed = i;
        std::size_t j = i + 1;
        for (; j < lines.size(); ++j) {
            Line inner = ParseLine(lines[j]);
            if (inner.kind == Line::Kind::Section)
                break;
            if (inner.kind == Line::Kind::Key && SameName(inner.name, key)) {
                replace = j;
                entry = std::string(inner.name) + "=" + std::string(value);
                break;
            }
            if (!Trim(lines[j]).empty())
                lastUsed = j;
        }
        insertAt = lastUsed + 1;
    }

    std::string out;
    out.reserve(text.size() + entry.size() + header.size() + 8);
    auto emit = [&out](std::string_view line) {
        out.append(line);
        out.append("\r\n");
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!replace && insertAt && *insertAt == i)
            emit(entry);
        emit(replace && *replace == i ? std::string_view(entry) : lines[i]);
    }
    if (!replace && insertAt && *insertAt == lines.size())
        emit(entry);
    if (!insertAt) {
        emit(header);
        emit(entry);
    }
    return out;
}

// What GetPrivateProfileString hands back: the value, or else the default with its trailing spaces
// (not tabs) removed, cut at a NUL and at capacity - 1 characters, always terminated. Returns the
// number of characters copied.
inline std::uint32_t CopyResult(const std::optional<std::string>& value, const char* defaultValue,
                                char* buffer, std::uint32_t capacity) {
    if (buffer == nullptr || capacity == 0)
        return 0;
    std::string_view source;
    if (value) {
        source = *value;
    } else if (defaultValue != nullptr) {
        source = defaultValue;
        while (!source.empty() && source.back() == ' ')
            source.remove_suffix(1);
    }
    source = source.substr(0, std::min(source.find('\0'), source.size()));
    std::size_t count = std::min<std::size_t>(source.size(), capacity - 1);
    std::memcpy(buffer, source.data(), count);
    buffer[count] = '\0';
    return static_cast<std::uint32_t>(count);
}

} // namespace ini
