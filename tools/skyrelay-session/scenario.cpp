#include "scenario.h"

#include <set>

namespace session_host {
namespace {

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
}

std::vector<std::string_view> Tokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t position = 0;
    while (position < line.size()) {
        while (position < line.size() && (line[position] == ' ' || line[position] == '\t'))
            ++position;
        std::size_t start = position;
        while (position < line.size() && line[position] != ' ' && line[position] != '\t')
            ++position;
        if (position > start)
            tokens.push_back(line.substr(start, position - start));
    }
    return tokens;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A decimal or 0x-hex number within [minimum, maximum]; a minus sign only in decimal.
std::optional<std::int64_t> Number(std::string_view token, std::int64_t minimum,
                                   std::int64_t maximum) {
    bool negative = false;
    int base = 10;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        base = 16;
        token.remove_prefix(2);
    } else if (!token.empty() && token[0] == '-') {
        negative = true;
        token.remove_prefix(1);
    }
    if (token.empty() || token.size() > 20)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : token) {
        int digit = HexDigit(c);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > (std::int64_t{1} << 40))
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

// A 32-bit field given as a signed or an unsigned value; stored as its low 32 bits.
std::optional<std::uint32_t> Field32(std::string_view token) {
    std::optional<std::int64_t> value = Number(token, -2147483648LL, 4294967295LL);
    if (!value)
        return std::nullopt;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(*value) & 0xFFFFFFFFu);
}

// The name a token spells, with its %XX escapes decoded; nothing for a bad or too long name.
std::optional<std::string> PeerName(std::string_view token) {
    std::string name;
    for (std::size_t i = 0; i < token.size(); ++i) {
        auto c = static_cast<unsigned char>(token[i]);
        if (c < 0x21 || c == 0x7F)
            return std::nullopt;
        if (c == '%') {
            if (i + 2 >= token.size())
                return std::nullopt;
            int high = HexDigit(token[i + 1]);
            int low = HexDigit(token[i + 2]);
            c = static_cast<unsigned char>(high * 16 + low);
            if (high < 0 || low < 0 || c == '\0' || c == '\r' || c == '\n')
                return std::nullopt;
            i += 2;
        }
        if (name.size() == MaxPeerNameLength)
            return std::nullopt;
        name.push_back(static_cast<char>(c));
    }
    if (name.empty())
        return std::nullopt;
    return name;
}

class LineParser {
  public:
    LineParser(int line, std::vector<std::string_view> tokens, std::set<std::string>& joined)
        : line_(line), tokens_(std::move(tokens)), joined_(joined) {}

    // The command, or the error in `error`.
    std::optional<Command> Parse(std::string& error) {
        Command command;
        command.line = line_;
        std::string_view verb = tokens_[0];
        if (verb == "wait") {
            if (!Count(2, "wait MS", error))
                return std::nullopt;
            std::optional<std::int64_t> ms = Number(tokens_[1], 0, MaxWaitMilliseconds);
            if (!ms) {
                error = "wait needs milliseconds from 0 to 3600000, not \"" +
                        std::string(tokens_[1]) + "\"";
                return std::nullopt;
            }
            command.kind = CommandKind::Wait;
            command.milliseconds = static_cast<std::uint32_t>(*ms);
        } else if (verb == "join") {
            if (!Count(2, "join NAME", error) || !Name(command, error))
                return std::nullopt;
            if (!joined_.insert(command.name).second) {
                error = "peer \"" + command.name + "\" has already joined";
                return std::nullopt;
            }
            command.kind = CommandKind::Join;
        } else if (verb == "pos") {
            if (!Count(9, "pos NAME VS GS HEADINGWORD LAT LON ALTM ALTFRAC", error) ||
                !Joined(command, error))
                return std::nullopt;
            static const char* const fieldNames[] = {"VS",  "GS",  "HEADINGWORD",
                                                     "LAT", "LON", "ALTM"};
            std::uint32_t* fields[] = {
                &command.position.verticalSpeed, &command.position.groundSpeed,
                &command.position.headingWord,   &command.position.latitude,
                &command.position.longitude,     &command.position.altitudeMetres};
            for (std::size_t i = 0; i < 6; ++i) {
                std::optional<std::uint32_t> value = Field32(tokens_[2 + i]);
                if (!value) {
                    error = std::string(fieldNames[i]) + " is not a 32-bit number: \"" +
                            std::string(tokens_[2 + i]) + "\"";
                    return std::nullopt;
                }
                *fields[i] = *value;
            }
            std::optional<std::int64_t> fraction = Number(tokens_[8], 0, 65535);
            if (!fraction) {
                error = "ALTFRAC must be from 0 to 65535, not \"" + std::string(tokens_[8]) + "\"";
                return std::nullopt;
            }
            command.position.altitudeFraction = static_cast<std::uint16_t>(*fraction);
            command.kind = CommandKind::Position;
        } else if (verb == "send") {
            if (tokens_.size() < 3) {
                error = "expected: send NAME HEXBYTES";
                return std::nullopt;
            }
            if (!Joined(command, error) || !HexBytes(command, error))
                return std::nullopt;
            command.kind = CommandKind::Send;
        } else if (verb == "burst") {
            if (tokens_.size() < 4) {
                error = "expected: burst NAME COUNT HEXBYTES";
                return std::nullopt;
            }
            if (!Joined(command, error))
                return std::nullopt;
            std::optional<std::int64_t> count = Number(tokens_[2], 1, MaxBurstCount);
            if (!count) {
                error =
                    "burst needs a count from 1 to 100000, not \"" + std::string(tokens_[2]) + "\"";
                return std::nullopt;
            }
            if (!HexBytes(command, error, 3))
                return std::nullopt;
            command.count = static_cast<std::uint32_t>(*count);
            command.kind = CommandKind::Burst;
        } else if (verb == "rename") {
            if (!Count(3, "rename NAME NEWNAME", error) || !Joined(command, error) ||
                !Name(command, error, 2))
                return std::nullopt;
            if (!joined_.insert(command.newName).second) {
                error = "peer \"" + command.newName + "\" has already joined";
                return std::nullopt;
            }
            joined_.erase(command.name);
            command.kind = CommandKind::Rename;
        } else if (verb == "system") {
            if (!Count(2, "system sessionlost or system host", error))
                return std::nullopt;
            if (tokens_[1] == "sessionlost") {
                command.system = SystemMessageKind::SessionLost;
            } else if (tokens_[1] == "host") {
                command.system = SystemMessageKind::Host;
            } else {
                error = "unknown system message \"" + std::string(tokens_[1]) +
                        "\" (sessionlost or host)";
                return std::nullopt;
            }
            command.kind = CommandKind::System;
        } else if (verb == "leave") {
            if (!Count(2, "leave NAME", error) || !Joined(command, error))
                return std::nullopt;
            joined_.erase(command.name);
            command.kind = CommandKind::Leave;
        } else if (verb == "end") {
            if (!Count(1, "end", error))
                return std::nullopt;
            command.kind = CommandKind::End;
        } else {
            error = "unknown command \"" + std::string(verb) + "\"";
            return std::nullopt;
        }
        return command;
    }

  private:
    bool Count(std::size_t expected, const char* usage, std::string& error) const {
        if (tokens_.size() == expected)
            return true;
        error = std::string("expected: ") + usage;
        return false;
    }

    bool Name(Command& command, std::string& error, std::size_t index = 1) const {
        std::optional<std::string> name = PeerName(tokens_[index]);
        if (!name) {
            error = "bad peer name \"" + std::string(tokens_[index]) + "\"";
            return false;
        }
        (index == 1 ? command.name : command.newName) = std::move(*name);
        return true;
    }

    bool Joined(Command& command, std::string& error) const {
        if (!Name(command, error))
            return false;
        if (joined_.count(command.name) == 0) {
            error = "peer \"" + command.name + "\" has not joined";
            return false;
        }
        return true;
    }

    // The bytes of every token from `first` on: pairs of hex digits, an optional 0x before each.
    bool HexBytes(Command& command, std::string& error, std::size_t first = 2) const {
        for (std::size_t i = first; i < tokens_.size(); ++i) {
            std::string_view hex = tokens_[i];
            if (hex.size() > 2 && hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X'))
                hex.remove_prefix(2);
            if (hex.size() % 2 != 0) {
                error = "odd number of hex digits in \"" + std::string(tokens_[i]) + "\"";
                return false;
            }
            for (std::size_t j = 0; j < hex.size(); j += 2) {
                int high = HexDigit(hex[j]);
                int low = HexDigit(hex[j + 1]);
                if (high < 0 || low < 0) {
                    error = "not hex: \"" + std::string(tokens_[i]) + "\"";
                    return false;
                }
                if (command.bytes.size() == MaxSendSize) {
                    error = "more than 8192 bytes to send";
                    return false;
                }
                command.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
            }
        }
        if (command.bytes.empty()) {
            error = "nothing to send";
            return false;
        }
        return true;
    }

    int line_;
    std::vector<std::string_view> tokens_;
    std::set<std::string>& joined_;
};

} // namespace

std::vector<std::uint8_t> BuildPositionMessage(const PositionFields& fields) {
    std::vector<std::uint8_t> message(PositionMessageSize, 0);
    PutU32(message, 0, PositionMessageType);
    PutU32(message, 24, fields.verticalSpeed);
    PutU32(message, 28, fields.groundSpeed);
    PutU32(message, 36, fields.headingWord);
    PutU32(message, 40, fields.latitude);
    PutU32(message, 44, fields.longitude);
    PutU32(message, 48, fields.altitudeMetres);
    message[56] = static_cast<std::uint8_t>(fields.altitudeFraction & 0xFFu);
    message[57] = static_cast<std::uint8_t>(fields.altitudeFraction >> 8);
    return message;
}

Scenario ParseScenario(std::string_view text) {
    Scenario scenario;
    std::set<std::string> joined;
    bool ended = false;
    int lineNumber = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(position, end - position);
        position = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::vector<std::string_view> tokens = Tokens(line);
        if (tokens.empty() || tokens[0][0] == '#')
            continue;
        if (line.find('\0') != std::string_view::npos) {
            scenario.error = ScenarioError{lineNumber, "zero byte in the line"};
            return scenario;
        }
        if (ended) {
            scenario.error = ScenarioError{lineNumber, "nothing may follow end"};
            return scenario;
        }
        std::string error;
        std::optional<Command> command =
            LineParser(lineNumber, std::move(tokens), joined).Parse(error);
        if (!command) {
            scenario.error = ScenarioError{lineNumber, error};
            return scenario;
        }
        ended = command->kind == CommandKind::End;
        scenario.commands.push_back(std::move(*command));
    }
    return scenario;
}

} // namespace session_host
