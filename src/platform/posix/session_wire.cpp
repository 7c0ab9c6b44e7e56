#include "platform/posix/session_wire.h"

#include "platform/byte_writer.h"

#include <algorithm>

namespace posix::wire {
namespace {

// Appends little-endian values to a body.
class Writer : public ByteWriter {
  public:
    // A length-prefixed text (16-bit length); the caller keeps it within the bounds.
    void Text(const std::string& text) {
        U16(static_cast<std::uint16_t>(text.size()));
        Raw(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    void Name(const PlayerName& name) {
        U8(static_cast<std::uint8_t>((name.shortName ? 1u : 0u) | (name.longName ? 2u : 0u)));
        Text(name.shortName.value_or(std::string()));
        Text(name.longName.value_or(std::string()));
    }
};

// Reads little-endian values from a body; once a read fails every later read fails too, so a
// decoder checks `ok()` once at the end.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint8_t U8() {
        if (!Have(1))
            return 0;
        return bytes_[position_++];
    }
    std::uint16_t U16() {
        std::uint16_t low = U8();
        std::uint16_t high = U8();
        return static_cast<std::uint16_t>(low | (high << 8));
    }
    std::uint32_t U32() {
        std::uint32_t low = U16();
        std::uint32_t high = U16();
        return low | (high << 16);
    }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    dp::GUID Guid() {
        dp::GUID guid{};
        guid.data1 = U32();
        guid.data2 = U16();
        guid.data3 = U16();
        for (std::uint8_t& byte : guid.data4)
            byte = U8();
        return guid;
    }
    std::span<const std::uint8_t> Raw(std::size_t count) {
        if (!Have(count))
            return {};
        std::span<const std::uint8_t> raw = bytes_.subspan(position_, count);
        position_ += count;
        return raw;
    }
    // A length-prefixed text of at most MaxNameLength bytes with no zero byte in it.
    std::string Text() {
        std::size_t length = U16();
        if (length > MaxNameLength) {
            failed_ = true;
            return {};
        }
        std::span<const std::uint8_t> raw = Raw(length);
        if (std::find(raw.begin(), raw.end(), std::uint8_t{0}) != raw.end()) {
            failed_ = true;
            return {};
        }
        return std::string(raw.begin(), raw.end());
    }
    PlayerName Name() {
        std::uint8_t present = U8();
        if ((present & ~3u) != 0)
            failed_ = true;
        PlayerName name;
        std::string shortName = Text();
        std::string longName = Text();
        // An absent name carries no bytes.
        if ((present & 1u) == 0 && !shortName.empty())
            failed_ = true;
        if ((present & 2u) == 0 && !longName.empty())
            failed_ = true;
        if ((present & 1u) != 0)
            name.shortName = std::move(shortName);
        if ((present & 2u) != 0)
            name.longName = std::move(longName);
        return name;
    }
    void Fail() { failed_ = true; }
    std::size_t Remaining() const { return failed_ ? 0 : bytes_.size() - position_; }
    // True when every read succeeded and the body has been used up exactly.
    bool ok() const { return !failed_ && position_ == bytes_.size(); }

  private:
    bool Have(std::size_t count) {
        if (failed_ || bytes_.size() - position_ < count) {
            failed_ = true;
            return false;
        }
        return true;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

template <typename T> std::optional<T> Finish(const Reader& reader, T value) {
    if (!reader.ok())
        return std::nullopt;
    return value;
}

bool NameFits(const PlayerName& name) {
    auto fits = [](const std::optional<std::string>& text) {
        return !text || (text->size() <= MaxNameLength && text->find('\0') == std::string::npos);
    };
    return fits(name.shortName) && fits(name.longName);
}

// A name that does not fit is sent as absent rather than as a frame the other side must refuse.
PlayerName Bounded(const PlayerName& name) {
    return NameFits(name) ? name : PlayerName{};
}

std::string BoundedText(const std::string& text) {
    std::string bounded = text.substr(0, std::min(text.find('\0'), MaxNameLength));
    return bounded;
}

} // namespace

ParseResult ParseFrame(std::span<const std::uint8_t> bytes) {
    ParseResult result;
    // Check what is there of the header as early as it arrives, so that a stream of garbage ends
    // the connection at once instead of waiting for more.
    if (!bytes.empty() && bytes[0] != FrameMagic0) {
        result.status = ParseStatus::Invalid;
        result.error = "bad magic";
        return result;
    }
    if (bytes.size() >= 2 && bytes[1] != FrameMagic1) {
        result.status = ParseStatus::Invalid;
        result.error = "bad magic";
        return result;
    }
    if (bytes.size() >= 3 && bytes[2] != FrameVersion) {
        result.status = ParseStatus::Invalid;
        result.error = "unsupported version";
        return result;
    }
    if (bytes.size() >= 4 &&
        (bytes[3] < static_cast<std::uint8_t>(FrameKind::EnumSessionsRequest) ||
         bytes[3] > static_cast<std::uint8_t>(FrameKind::PlayerRenamed))) {
        result.status = ParseStatus::Invalid;
        result.error = "unknown frame kind";
        return result;
    }
    if (bytes.size() < FrameHeaderSize)
        return result;
    Reader header(bytes.subspan(4, 4));
    std::uint32_t bodySize = header.U32();
    if (bodySize > MaxBodySize) {
        result.status = ParseStatus::Invalid;
        result.error = "frame body too large";
        return result;
    }
    if (bytes.size() - FrameHeaderSize < bodySize)
        return result;
    result.status = ParseStatus::Complete;
    result.consumed = FrameHeaderSize + bodySize;
    result.frame.kind = static_cast<FrameKind>(bytes[3]);
    std::span<const std::uint8_t> body = bytes.subspan(FrameHeaderSize, bodySize);
    result.frame.body.assign(body.begin(), body.end());
    return result;
}

Bytes EncodeFrame(FrameKind kind, std::span<const std::uint8_t> body) {
    Writer writer;
    writer.U8(FrameMagic0);
    writer.U8(FrameMagic1);
    writer.U8(FrameVersion);
    writer.U8(static_cast<std::uint8_t>(kind));
    writer.U32(static_cast<std::uint32_t>(body.size()));
    writer.Raw(body);
    return std::move(writer.bytes());
}

Bytes Encode(const EnumSessionsRequest& body) {
    Writer writer;
    writer.U32(body.requestId);
    return EncodeFrame(FrameKind::EnumSessionsRequest, writer.bytes());
}

Bytes Encode(const SessionList& body) {
    Writer writer;
    writer.U32(body.requestId);
    std::size_t count = std::min(body.sessions.size(), MaxSessions);
    writer.U16(static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const SessionInfo& session = body.sessions[i];
        writer.Guid(session.instance);
        writer.Guid(session.application);
        writer.U32(session.flags);
        writer.U32(session.maxPlayers);
        writer.U32(session.currentPlayers);
        writer.Text(BoundedText(session.name));
    }
    return EncodeFrame(FrameKind::SessionList, writer.bytes());
}

Bytes Encode(const JoinRequest& body) {
    Writer writer;
    writer.U32(body.requestId);
    writer.Guid(body.instance);
    return EncodeFrame(FrameKind::JoinRequest, writer.bytes());
}

Bytes Encode(const JoinReply& body) {
    Writer writer;
    writer.U32(body.requestId);
    writer.I32(body.result);
    return EncodeFrame(FrameKind::JoinReply, writer.bytes());
}

Bytes Encode(const CreatePlayerRequest& body) {
    Writer writer;
    writer.U32(body.requestId);
    writer.U32(body.flags);
    writer.Name(Bounded(body.name));
    return EncodeFrame(FrameKind::CreatePlayerRequest, writer.bytes());
}

Bytes Encode(const CreatePlayerReply& body) {
    Writer writer;
    writer.U32(body.requestId);
    writer.I32(body.result);
    writer.U32(body.player);
    return EncodeFrame(FrameKind::CreatePlayerReply, writer.bytes());
}

Bytes Encode(const DestroyPlayer& body) {
    Writer writer;
    writer.U32(body.player);
    return EncodeFrame(FrameKind::DestroyPlayer, writer.bytes());
}

Bytes Encode(const PlayerAdded& body) {
    Writer writer;
    writer.U32(body.player);
    writer.U32(body.flags);
    writer.Name(Bounded(body.name));
    return EncodeFrame(FrameKind::PlayerAdded, writer.bytes());
}

Bytes Encode(const PlayerRemoved& body) {
    Writer writer;
    writer.U32(body.player);
    return EncodeFrame(FrameKind::PlayerRemoved, writer.bytes());
}

Bytes Encode(const PlayerRenamed& body) {
    Writer writer;
    writer.U32(body.player);
    writer.Name(Bounded(body.name));
    return EncodeFrame(FrameKind::PlayerRenamed, writer.bytes());
}

Bytes Encode(const Message& body) {
    Writer writer;
    writer.U32(body.from);
    writer.U32(body.to);
    std::size_t size = std::min<std::size_t>(body.data.size(), MaxMessageSize);
    writer.U32(static_cast<std::uint32_t>(size));
    writer.Raw(std::span(body.data).first(size));
    return EncodeFrame(FrameKind::Message, writer.bytes());
}

Bytes EncodeSessionClosed() {
    return EncodeFrame(FrameKind::SessionClosed, {});
}

Bytes EncodeGoodbye() {
    return EncodeFrame(FrameKind::Goodbye, {});
}

std::optional<EnumSessionsRequest> DecodeEnumSessionsRequest(std::span<const std::uint8_t> body) {
    Reader reader(body);
    EnumSessionsRequest request;
    request.requestId = reader.U32();
    return Finish(reader, request);
}

std::optional<SessionList> DecodeSessionList(std::span<const std::uint8_t> body) {
    Reader reader(body);
    SessionList list;
    list.requestId = reader.U32();
    std::size_t count = reader.U16();
    if (count > MaxSessions)
        return std::nullopt;
    for (std::size_t i = 0; i < count && reader.Remaining() > 0; ++i) {
        SessionInfo session;
        session.instance = reader.Guid();
        session.application = reader.Guid();
        session.flags = reader.U32();
        session.maxPlayers = reader.U32();
        session.currentPlayers = reader.U32();
        session.name = reader.Text();
        list.sessions.push_back(std::move(session));
    }
    if (list.sessions.size() != count)
        reader.Fail();
    return Finish(reader, std::move(list));
}

std::optional<JoinRequest> DecodeJoinRequest(std::span<const std::uint8_t> body) {
    Reader reader(body);
    JoinRequest request;
    request.requestId = reader.U32();
    request.instance = reader.Guid();
    return Finish(reader, request);
}

std::optional<JoinReply> DecodeJoinReply(std::span<const std::uint8_t> body) {
    Reader reader(body);
    JoinReply reply;
    reply.requestId = reader.U32();
    reply.result = reader.I32();
    return Finish(reader, reply);
}

std::optional<CreatePlayerRequest> DecodeCreatePlayerRequest(std::span<const std::uint8_t> body) {
    Reader reader(body);
    CreatePlayerRequest request;
    request.requestId = reader.U32();
    request.flags = reader.U32();
    request.name = reader.Name();
    return Finish(reader, std::move(request));
}

std::optional<CreatePlayerReply> DecodeCreatePlayerReply(std::span<const std::uint8_t> body) {
    Reader reader(body);
    CreatePlayerReply reply;
    reply.requestId = reader.U32();
    reply.result = reader.I32();
    reply.player = reader.U32();
    return Finish(reader, reply);
}

std::optional<DestroyPlayer> DecodeDestroyPlayer(std::span<const std::uint8_t> body) {
    Reader reader(body);
    DestroyPlayer destroy;
    destroy.player = reader.U32();
    return Finish(reader, destroy);
}

std::optional<PlayerAdded> DecodePlayerAdded(std::span<const std::uint8_t> body) {
    Reader reader(body);
    PlayerAdded added;
    added.player = reader.U32();
    added.flags = reader.U32();
    added.name = reader.Name();
    return Finish(reader, std::move(added));
}

std::optional<PlayerRemoved> DecodePlayerRemoved(std::span<const std::uint8_t> body) {
    Reader reader(body);
    PlayerRemoved removed;
    removed.player = reader.U32();
    return Finish(reader, removed);
}

std::optional<PlayerRenamed> DecodePlayerRenamed(std::span<const std::uint8_t> body) {
    Reader reader(body);
    PlayerRenamed renamed;
    renamed.player = reader.U32();
    renamed.name = reader.Name();
    return Finish(reader, std::move(renamed));
}

std::optional<Message> DecodeMessage(std::span<const std::uint8_t> body) {
    Reader reader(body);
    Message message;
    message.from = reader.U32();
    message.to = reader.U32();
    std::uint32_t size = reader.U32();
    if (size == 0 || size > MaxMessageSize)
        return std::nullopt;
    std::span<const std::uint8_t> data = reader.Raw(size);
    message.data.assign(data.begin(), data.end());
    return Finish(reader, std::move(message));
}

Bytes EncodeConnection(const Connection& connection) {
    std::string host =
        connection.host.substr(0, std::min(connection.host.find('\0'), MaxHostLength));
    Writer writer;
    writer.Raw(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("SRCN"), 4));
    writer.U16(ConnectionVersion);
    writer.U16(static_cast<std::uint16_t>(connection.transport));
    writer.U32(static_cast<std::uint32_t>(ConnectionHeaderSize + host.size() + 1));
    writer.U16(static_cast<std::uint16_t>(host.size()));
    writer.U16(0);
    writer.Raw(std::span(reinterpret_cast<const std::uint8_t*>(host.data()), host.size()));
    writer.U8(0);
    return std::move(writer.bytes());
}

std::optional<std::size_t> ConnectionSize(std::span<const std::uint8_t> header) {
    if (header.size() < ConnectionHeaderSize)
        return std::nullopt;
    Reader reader(header.first(ConnectionHeaderSize));
    std::span<const std::uint8_t> magic = reader.Raw(4);
    if (magic[0] != 'S' || magic[1] != 'R' || magic[2] != 'C' || magic[3] != 'N')
        return std::nullopt;
    if (reader.U16() != ConnectionVersion)
        return std::nullopt;
    reader.U16();
    std::uint32_t total = reader.U32();
    if (total < ConnectionHeaderSize + 1 || total > MaxConnectionSize)
        return std::nullopt;
    return total;
}

std::optional<Connection> DecodeConnection(std::span<const std::uint8_t> data) {
    std::optional<std::size_t> total = ConnectionSize(data);
    if (!total || *total != data.size())
        return std::nullopt;
    Reader reader(data);
    reader.Raw(6);
    std::uint16_t transport = reader.U16();
    if (transport < static_cast<std::uint16_t>(Transport::TcpIp) ||
        transport > static_cast<std::uint16_t>(Transport::Serial))
        return std::nullopt;
    reader.U32();
    std::size_t hostLength = reader.U16();
    if (reader.U16() != 0 || ConnectionHeaderSize + hostLength + 1 != *total)
        return std::nullopt;
    std::span<const std::uint8_t> host = reader.Raw(hostLength);
    if (reader.U8() != 0)
        return std::nullopt;
    // Host texts are plain printable characters: no zero, no blank, no control byte.
    for (std::uint8_t byte : host)
        if (byte <= 0x20 || byte >= 0x7F)
            return std::nullopt;
    Connection connection;
    connection.transport = static_cast<Transport>(transport);
    connection.host.assign(host.begin(), host.end());
    return Finish(reader, std::move(connection));
}

} // namespace posix::wire
