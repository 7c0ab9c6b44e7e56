#include "dplay_wire.h"

#include "platform/byte_writer.h"

namespace dplay {
namespace {

constexpr std::uint32_t HeaderToken = 0xFAB00000u;
constexpr std::uint32_t MaxHeaderSize = 0xFFFFFu; // the low 20 bits of the header's first word
constexpr std::uint16_t AfInet = 2;
constexpr std::uint32_t PackedPlayerFixedSize = 48;
constexpr std::uint8_t PlayMagic[4] = {'p', 'l', 'a', 'y'};

// Little-endian reads that fail rather than run past the end.
std::optional<std::uint16_t> ReadU16(ByteView bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::optional<std::uint32_t> ReadU32(ByteView bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 4)
        return std::nullopt;
    return static_cast<std::uint32_t>(bytes[offset]) |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

dp::GUID ReadGuid(ByteView bytes, std::size_t offset) {
    dp::GUID guid{};
    guid.data1 = *ReadU32(bytes, offset);
    guid.data2 = *ReadU16(bytes, offset + 4);
    guid.data3 = *ReadU16(bytes, offset + 6);
    for (std::size_t i = 0; i < 8; ++i)
        guid.data4[i] = bytes[offset + 8 + i];
    return guid;
}

class Writer : public ByteWriter {
  public:
    // Starts a message: the SP header, its size filled in by Finish.
    void Header(std::uint16_t port) {
        U32(0);
        U16(AfInet);
        U16BigEndian(port);
        Zeros(12);
    }
    void Envelope(std::uint16_t commandId) {
        Raw(PlayMagic);
        U16(commandId);
        U16(HostVersion);
    }
    // The message with its size in the header; empty if it is too long for the header.
    Bytes Finish() {
        if (bytes_.size() > MaxHeaderSize)
            return {};
        std::uint32_t mixed = HeaderToken | static_cast<std::uint32_t>(bytes_.size());
        for (std::size_t i = 0; i < 4; ++i)
            bytes_[i] = static_cast<std::uint8_t>((mixed >> (8 * i)) & 0xFFu);
        return std::move(bytes_);
    }
};

std::uint32_t Size32(std::size_t size) {
    return static_cast<std::uint32_t>(size);
}

void WriteSessionDesc(Writer& out, Layout layout, const SessionDesc& desc) {
    std::size_t pointerSize = layout == Layout::Client64 ? 8 : 4;
    out.U32(Size32(SessionDescSize(layout)));
    out.U32(desc.flags);
    out.Guid(desc.instance);
    out.Guid(desc.application);
    out.U32(desc.maxPlayers);
    out.U32(desc.currentPlayers);
    out.Zeros(2 * pointerSize); // lpszSessionName, lpszPassword
    out.U32(desc.reserved1);
    out.U32(desc.reserved2);
    for (std::uint32_t user : desc.user)
        out.U32(user);
}

// A UTF-16 name of `length` bytes at `offset`, which must end in a NUL character.
bool ReadName(ByteView body, std::size_t offset, std::uint32_t length,
              std::optional<std::string>& name, const char*& error) {
    if (length == 0)
        return true;
    if (length % 2 != 0 || offset > body.size() || body.size() - offset < length) {
        error = "player name outside the message";
        return false;
    }
    if (body[offset + length - 2] != 0 || body[offset + length - 1] != 0) {
        error = "player name without its terminating zero";
        return false;
    }
    std::string text;
    for (std::size_t i = 0; i + 2 < length; i += 2) {
        std::uint32_t unit = body[offset + i] | static_cast<std::uint32_t>(body[offset + i + 1])
                                                    << 8;
        std::uint32_t code = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 4 < length) {
            std::uint32_t low =
                body[offset + i + 2] | static_cast<std::uint32_t>(body[offset + i + 3]) << 8;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | code >> 6);
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | code >> 12);
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | code >> 18);
            text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    name = std::move(text);
    return true;
}

// A NUL-terminated UTF-16 string starting at `offset`; `end` is set past its NUL.
bool ReadTerminatedName(ByteView body, std::size_t offset, std::optional<std::string>& name,
                        std::size_t& end, const char*& error) {
    for (std::size_t i = offset; i <= body.size() && body.size() - i >= 2; i += 2) {
        if (body[i] == 0 && body[i + 1] == 0) {
            end = i + 2;
            return ReadName(body, offset, Size32(end - offset), name, error);
        }
    }
    error = "string without its terminating zero";
    return false;
}

// A packed player at `offset` of the body.
bool ReadPackedPlayer(ByteView body, std::size_t offset, PackedPlayer& player, const char*& error) {
    if (offset > body.size() || body.size() - offset < PackedPlayerFixedSize) {
        error = "packed player outside the message";
        return false;
    }
    player.flags = *ReadU32(body, offset + 4);
    player.id = *ReadU32(body, offset + 8);
    std::uint32_t shortLength = *ReadU32(body, offset + 12);
    std::uint32_t longLength = *ReadU32(body, offset + 16);
    std::uint32_t spLength = *ReadU32(body, offset + 20);
    std::uint32_t dataLength = *ReadU32(body, offset + 24);
    std::uint32_t playerCount = *ReadU32(body, offset + 28);
    player.systemPlayer = *ReadU32(body, offset + 32);
    std::uint32_t fixedSize = *ReadU32(body, offset + 36);
    if (fixedSize < PackedPlayerFixedSize || fixedSize > body.size() - offset) {
        error = "packed player with a bad fixed size";
        return false;
    }
    std::size_t position = offset + fixedSize;
    if (!ReadName(body, position, shortLength, player.shortName, error))
        return false;
    position += shortLength;
    if (!ReadName(body, position, longLength, player.longName, error))
        return false;
    position += longLength;
    std::size_t left = body.size() - position;
    if (spLength != 0 && spLength != SpPlayerDataSize) {
        error = "SP player data that is not 32 bytes";
        return false;
    }
    if (spLength > left) {
        error = "SP player data outside the message";
        return false;
    }
    if (spLength != 0) {
        player.spData.emplace();
        for (std::size_t i = 0; i < SpPlayerDataSize; ++i)
            (*player.spData)[i] = body[position + i];
    }
    position += spLength;
    left -= spLength;
    if (dataLength > left) {
        error = "player data outside the message";
        return false;
    }
    player.playerData.assign(body.begin() + static_cast<std::ptrdiff_t>(position),
                             body.begin() + static_cast<std::ptrdiff_t>(position + dataLength));
    left -= dataLength;
    if (playerCount > left / 4) {
        error = "player list outside the message";
        return false;
    }
    return true;
}

ParseResult Refuse(const char* error) {
    return ParseResult{std::nullopt, error};
}

ParseResult ParseSystemMessage(ByteView body, std::optional<std::uint16_t> port) {
    if (body.size() < EnvelopeSize)
        return Refuse("system message shorter than its envelope");
    std::uint16_t commandId = *ReadU16(body, 4);
    const char* error = nullptr;
    switch (commandId) {
    case command::EnumSessions: {
        if (body.size() < 32)
            return Refuse("short enumeration request");
        EnumSessionsRequest request;
        request.application = ReadGuid(body, 8);
        std::uint32_t passwordOffset = *ReadU32(body, 24);
        request.flags = *ReadU32(body, 28);
        if (passwordOffset != 0) {
            std::size_t end = 0;
            if (passwordOffset < 32 ||
                !ReadTerminatedName(body, passwordOffset, request.password, end, error))
                return Refuse(error != nullptr ? error : "password inside the request's fields");
        }
        return ParseResult{Message{port, request}, nullptr};
    }
    case command::RequestPlayerId: {
        if (body.size() < 12)
            return Refuse("short player id request");
        return ParseResult{Message{port, PlayerIdRequest{*ReadU32(body, 8)}}, nullptr};
    }
    case command::AddForwardRequest:
    case command::CreatePlayer: {
        if (body.size() < 28)
            return Refuse("short player message");
        dp::DPID playerId = *ReadU32(body, 12);
        std::uint32_t createOffset = *ReadU32(body, 20);
        std::uint32_t passwordOffset = *ReadU32(body, 24);
        if (createOffset < 28)
            return Refuse("packed player inside the message's fields");
        PackedPlayer player;
        if (!ReadPackedPlayer(body, createOffset, player, error))
            return Refuse(error);
        if (commandId == command::CreatePlayer)
            return ParseResult{Message{port, CreatePlayerMessage{playerId, std::move(player)}},
                               nullptr};
        if (!player.spData)
            return Refuse("add-forward request without SP player data");
        // The session's dwReserved1 follows the password, which follows the packed player.
        std::size_t end = 0;
        std::optional<std::string> password;
        if (passwordOffset < 28 || !ReadTerminatedName(body, passwordOffset, password, end, error))
            return Refuse(error != nullptr ? error : "password inside the message's fields");
        std::optional<std::uint32_t> reserved1 = ReadU32(body, end);
        if (!reserved1)
            return Refuse("add-forward request without the session's reserved word");
        return ParseResult{
            Message{port, AddForwardRequest{playerId, std::move(player), *reserved1}}, nullptr};
    }
    case command::DeletePlayer: {
        if (body.size() < 20)
            return Refuse("short delete-player message");
        return ParseResult{Message{port, DeletePlayerMessage{*ReadU32(body, 12)}}, nullptr};
    }
    case command::Ping:
    case command::PingReply: {
        if (body.size() < 16)
            return Refuse("short ping");
        return ParseResult{
            Message{port, PingMessage{commandId, *ReadU32(body, 8), *ReadU32(body, 12)}}, nullptr};
    }
    default:
        return ParseResult{Message{port, OtherSystemMessage{commandId}}, nullptr};
    }
}

bool IsSystemMessage(ByteView body) {
    return body.size() >= 4 && body[0] == PlayMagic[0] && body[1] == PlayMagic[1] &&
           body[2] == PlayMagic[2] && body[3] == PlayMagic[3];
}

ParseResult ParseBody(ByteView body, std::optional<std::uint16_t> port) {
    if (IsSystemMessage(body))
        return ParseSystemMessage(body, port);
    if (body.size() < 8)
        return Refuse("game message shorter than its ids");
    GameMessage game{*ReadU32(body, 0), *ReadU32(body, 4), Bytes(body.begin() + 8, body.end())};
    return ParseResult{Message{port, std::move(game)}, nullptr};
}

std::uint16_t HeaderPort(ByteView message) {
    return static_cast<std::uint16_t>(message[6] << 8 | message[7]);
}

} // namespace

std::size_t SessionDescSize(Layout layout) {
    return layout == Layout::Client64 ? 88 : 80;
}

SpPlayerData MakeSpPlayerData(std::uint16_t tcpPort, std::uint16_t udpPort) {
    SpPlayerData data{};
    data[0] = AfInet;
    data[2] = static_cast<std::uint8_t>(tcpPort >> 8);
    data[3] = static_cast<std::uint8_t>(tcpPort & 0xFFu);
    data[16] = AfInet;
    data[18] = static_cast<std::uint8_t>(udpPort >> 8);
    data[19] = static_cast<std::uint8_t>(udpPort & 0xFFu);
    return data;
}

std::uint16_t SpDataTcpPort(const SpPlayerData& data) {
    return static_cast<std::uint16_t>(data[2] << 8 | data[3]);
}

std::uint16_t SpDataUdpPort(const SpPlayerData& data) {
    return static_cast<std::uint16_t>(data[18] << 8 | data[19]);
}

StreamCut NextMessage(ByteView stream) {
    std::optional<std::uint32_t> mixed = ReadU32(stream, 0);
    if (!mixed)
        return {};
    std::size_t size = *mixed & MaxHeaderSize;
    if (size < SpHeaderSize)
        return StreamCut{StreamCut::Status::Invalid, 0, "message shorter than its header"};
    if (size > MaxClientMessageSize)
        return StreamCut{StreamCut::Status::Invalid, 0, "message too long"};
    if (stream.size() < size)
        return {};
    return StreamCut{StreamCut::Status::Whole, size, nullptr};
}

ParseResult ParseMessage(ByteView message) {
    StreamCut cut = NextMessage(message);
    if (cut.status == StreamCut::Status::Invalid)
        return Refuse(cut.error);
    if (cut.status == StreamCut::Status::NeedMore || cut.size != message.size())
        return Refuse("message size differs from its header");
    return ParseBody(message.subspan(SpHeaderSize), HeaderPort(message));
}

ParseResult ParseDatagram(ByteView datagram) {
    if (datagram.size() >= SpHeaderSize + 4 && IsSystemMessage(datagram.subspan(SpHeaderSize)))
        return ParseMessage(datagram);
    return ParseBody(datagram, std::nullopt);
}

Bytes BuildEnumSessionsReply(Layout layout, std::uint16_t port, const SessionDesc& desc,
                             std::string_view name) {
    Writer out;
    out.Header(port);
    out.Envelope(command::EnumSessionsReply);
    WriteSessionDesc(out, layout, desc);
    out.U32(Size32(EnvelopeSize + SessionDescSize(layout) + 4)); // where the name starts
    out.Raw(EncodeName(name));
    return out.Finish();
}

Bytes BuildRequestPlayerReply(Layout layout, std::uint16_t port, dp::DPID id,
                              std::uint32_t result) {
    Writer out;
    out.Header(port);
    out.Envelope(command::RequestPlayerReply);
    out.U32(id);
    out.Zeros(layout == Layout::Client64 ? 32 : 24); // DPSECURITYDESC
    out.U32(0);                                      // SSPI provider offset
    out.U32(0);                                      // CAPI provider offset
    out.U32(result);
    return out.Finish();
}

Bytes BuildSuperEnumPlayersReply(Layout layout, std::uint16_t port, const SessionDesc& desc,
                                 std::string_view name, std::span<const PlayerRecord> players) {
    Bytes encodedName = EncodeName(name);
    std::size_t descOffset = EnvelopeSize + 28;
    std::size_t nameOffset = descOffset + SessionDescSize(layout);
    std::size_t packedOffset = nameOffset + encodedName.size();
    Writer out;
    out.Header(port);
    out.Envelope(command::SuperEnumPlayersReply);
    out.U32(Size32(players.size()));
    out.U32(0); // groups
    out.U32(Size32(packedOffset));
    out.U32(0); // shortcuts
    out.U32(Size32(descOffset));
    out.U32(Size32(nameOffset));
    out.U32(0); // password
    WriteSessionDesc(out, layout, desc);
    out.Raw(encodedName);
    for (const PlayerRecord& player : players) {
        bool system = (player.flags & playerflag::SystemPlayer) != 0;
        std::uint32_t mask = 0x1u * player.shortName.has_value() +
                             0x2u * player.longName.has_value() + (1u << 2); // 1-byte SP size
        out.U32(16);
        out.U32(player.flags);
        out.U32(player.id);
        out.U32(mask);
        out.U32(system ? HostVersion : player.systemPlayer);
        if (player.shortName)
            out.Raw(EncodeName(*player.shortName));
        if (player.longName)
            out.Raw(EncodeName(*player.longName));
        out.U8(static_cast<std::uint8_t>(SpPlayerDataSize));
        out.Raw(player.spData);
    }
    return out.Finish();
}

Bytes BuildCreatePlayer(std::uint16_t port, const PlayerRecord& player) {
    Bytes shortName = player.shortName ? EncodeName(*player.shortName) : Bytes{};
    Bytes longName = player.longName ? EncodeName(*player.longName) : Bytes{};
    Writer out;
    out.Header(port);
    out.Envelope(command::CreatePlayer);
    out.U32(0); // to
    out.U32(player.id);
    out.U32(0);  // group
    out.U32(28); // where the packed player starts
    out.U32(0);  // password
    out.U32(Size32(PackedPlayerFixedSize + shortName.size() + longName.size() + SpPlayerDataSize));
    out.U32(player.flags);
    out.U32(player.id);
    out.U32(Size32(shortName.size()));
    out.U32(Size32(longName.size()));
    out.U32(Size32(SpPlayerDataSize));
    out.U32(0); // player data
    out.U32(0); // players in it (a group's)
    out.U32(player.systemPlayer);
    out.U32(PackedPlayerFixedSize);
    out.U32(HostVersion);
    out.U32(0); // parent
    out.Raw(shortName);
    out.Raw(longName);
    out.Raw(player.spData);
    out.Zeros(6); // the trailing WORD and DWORD the client requires
    return out.Finish();
}

Bytes BuildDeletePlayer(std::uint16_t port, dp::DPID id) {
    Writer out;
    out.Header(port);
    out.Envelope(command::DeletePlayer);
    out.U32(0);
    out.U32(id);
    out.Zeros(12); // group, create offset, password offset
    return out.Finish();
}

Bytes BuildGameMessage(std::uint16_t port, dp::DPID from, dp::DPID to, ByteView payload) {
    Writer out;
    out.Header(port);
    out.U32(from);
    out.U32(to);
    out.Raw(payload);
    return out.Finish();
}

Bytes EncodeName(std::string_view name) {
    Bytes out;
    auto unit = [&out](std::uint32_t value) {
        out.push_back(static_cast<std::uint8_t>(value & 0xFFu));
        out.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFFu));
    };
    std::size_t i = 0;
    while (i < name.size()) {
        auto byte = [&name](std::size_t at) { return static_cast<std::uint8_t>(name[at]); };
        std::uint32_t lead = byte(i);
        // Continuation bytes a lead byte announces; 0 for a byte that cannot lead.
        std::size_t extra = lead >= 0xF5   ? 0
                            : lead >= 0xF0 ? 3
                            : lead >= 0xE0 ? 2
                            : lead >= 0xC2 ? 1
                                           : 0;
        std::uint32_t code = lead;
        bool valid = lead < 0x80 || (extra > 0 && name.size() - i > extra);
        if (lead >= 0x80 && valid) {
            code = lead & (0x3Fu >> extra);
            for (std::size_t k = 1; k <= extra && valid; ++k) {
                std::uint32_t next = byte(i + k);
                valid = (next & 0xC0u) == 0x80u;
                code = code << 6 | (next & 0x3Fu);
            }
            std::uint32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
            valid =
                valid && code >= minimum && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        }
        if (!valid) {
            unit(lead); // Latin-1
            ++i;
            continue;
        }
        i += lead < 0x80 ? 1 : extra + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            unit(0xD800 + (code >> 10));
            unit(0xDC00 + (code & 0x3FF));
        } else {
            unit(code);
        }
    }
    unit(0);
    return out;
}

} // namespace dplay
