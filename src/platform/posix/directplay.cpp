// The DirectPlay stand-in: a session provider that joins skyrelay-session over loopback TCP (the
// TCP/IP connection) or a unix socket in the runtime directory (the IPX connection). Calls come
// from the user-interface thread; a reader thread of the object's own takes the host's frames off
// the socket, keeps the player list, queues the messages for local players and signals their
// events. The reader never calls into the core.
#include "platform/directplay.h"
#include "platform/app.h"
#include "platform/posix/session_endpoints.h"
#include "platform/posix/session_wire.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace wire = posix::wire;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Service provider GUIDs of the stand-in's other connections (TCP/IP uses DirectPlay's own).
constexpr dp::GUID SpGuidIpx{
    0x5A1E0F31, 0x3C2B, 0x4E77, {0x9B, 0x14, 0x53, 0x52, 0x49, 0x50, 0x58, 0x01}};
constexpr dp::GUID SpGuidModem{
    0x5A1E0F32, 0x3C2B, 0x4E77, {0x9B, 0x14, 0x53, 0x52, 0x4D, 0x4F, 0x44, 0x01}};
constexpr dp::GUID SpGuidSerial{
    0x5A1E0F33, 0x3C2B, 0x4E77, {0x9B, 0x14, 0x53, 0x52, 0x53, 0x45, 0x52, 0x01}};

struct OfferedConnection {
    const char* name;
    dp::GUID serviceProvider;
    wire::Transport transport;
};

// What EnumConnections offers, in order. Modem and serial are never reachable here.
constexpr OfferedConnection offeredConnections[] = {
    {"Internet TCP/IP Connection For DirectPlay", dp::SpGuidTcpIp, wire::Transport::TcpIp},
    {"IPX Connection For DirectPlay", SpGuidIpx, wire::Transport::Ipx},
    {"Modem Connection For DirectPlay", SpGuidModem, wire::Transport::Modem},
    {"Serial Connection For DirectPlay", SpGuidSerial, wire::Transport::Serial},
};

constexpr std::uint32_t OpenCreate = 0x00000002;       // DPOPEN_CREATE
constexpr std::uint32_t PlayerTypePlayer = 0x00000001; // DPPLAYERTYPE_PLAYER
// A host that floods the queue loses its newest messages beyond this many; system messages are
// always queued.
constexpr std::size_t MaxQueuedMessages = 10000;
// Players the stand-in keeps track of; more announcements are ignored.
constexpr std::size_t MaxPlayers = 1024;
constexpr auto DefaultEnumTimeout = 2000ms;
constexpr auto MaxEnumTimeout = 10000ms;
constexpr auto RequestTimeout = 5000ms;

struct QueuedMessage {
    dp::DPID from = 0;
    dp::DPID to = 0;
    wire::Bytes data;
};

struct PlayerEntry {
    wire::PlayerName name;
    std::uint32_t flags = 0;
    bool local = false;          // created through this object
    plat::Event event = nullptr; // a local player's message event
};

struct PendingCreate {
    std::uint32_t requestId = 0;
    wire::PlayerName name;
    plat::Event event = nullptr;
};

// The TCP/IP connection reaches only this machine: an empty host, "localhost" or 127.x.x.x.
bool IsLoopbackHost(const std::string& host) {
    if (host.empty() || host == "localhost")
        return true;
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1)
        return false;
    return (ntohl(address.s_addr) >> 24) == 127;
}

wire::PlayerName NameFrom(const dp::DPNAME* name) {
    wire::PlayerName result;
    if (name == nullptr)
        return result;
    if (name->lpszShortNameA != nullptr)
        result.shortName = std::string(name->lpszShortNameA);
    if (name->lpszLongNameA != nullptr)
        result.longName = std::string(name->lpszLongNameA);
    return result;
}

bool NameFits(const wire::PlayerName& name) {
    return (!name.shortName || name.shortName->size() <= wire::MaxNameLength) &&
           (!name.longName || name.longName->size() <= wire::MaxNameLength);
}

class DirectPlayStandIn final : public dp::IDirectPlay4A {
  public:
    DirectPlayStandIn() = default;
    DirectPlayStandIn(const DirectPlayStandIn&) = delete;
    DirectPlayStandIn& operator=(const DirectPlayStandIn&) = delete;
    ~DirectPlayStandIn() { StopLink(); }

    std::uint32_t AddRef() override { return ++references_; }

    std::uint32_t Release() override {
        std::uint32_t left = --references_;
        if (left == 0) {
            Close();
            delete this;
        }
        return left;
    }

    HRESULT EnumConnections(const dp::GUID* /*application*/, dp::EnumConnectionsCallback callback,
                            void* context, std::uint32_t /*flags*/) override {
        if (callback == nullptr)
            return dp::ErrInvalidParams;
        // The callback may release this object; it stays alive until the enumeration is over.
        Hold hold(this);
        for (const OfferedConnection& offered : offeredConnections) {
            wire::Bytes data = wire::EncodeConnection({offered.transport, ""});
            std::string shortName = offered.name;
            dp::DPNAME name{sizeof(dp::DPNAME), 0, shortName.data(), nullptr};
            dp::GUID serviceProvider = offered.serviceProvider;
            if (!callback(&serviceProvider, data.data(), static_cast<std::uint32_t>(data.size()),
                          &name, 0, context))
                break;
        }
        return dp::Ok;
    }

    HRESULT InitializeConnection(void* connection, std::uint32_t flags) override {
        if (connection == nullptr || flags != 0)
            return dp::ErrInvalidParams;
        if (connection_)
            return dp::ErrAlreadyInitialized;
        // The size is not passed: look at the magic first, then the header, then the whole.
        const auto* bytes = static_cast<const std::uint8_t*>(connection);
        if (std::memcmp(bytes, "SRCN", 4) != 0)
            return dp::ErrInvalidParams;
        std::optional<std::size_t> size =
            wire::ConnectionSize(std::span(bytes, wire::ConnectionHeaderSize));
        if (!size)
            return dp::ErrInvalidParams;
        std::optional<wire::Connection> decoded = wire::DecodeConnection(std::span(bytes, *size));
        if (!decoded)
            return dp::ErrInvalidParams;
        connection_ = *decoded;
        return dp::Ok;
    }

    HRESULT EnumSessions(dp::DPSESSIONDESC2* description, std::uint32_t timeout,
                         dp::EnumSessionsCallback2 callback, void* context,
                         std::uint32_t /*flags*/) override {
        if (description == nullptr || description->dwSize != sizeof(dp::DPSESSIONDESC2) ||
            callback == nullptr)
            return dp::ErrInvalidParams;
        if (!connection_)
            return dp::ErrUninitialized;
        Hold hold(this);
        std::vector<wire::SessionInfo> sessions;
        if (ConnectLink()) {
            auto wait = timeout == 0 ? DefaultEnumTimeout
                                     : std::min<std::chrono::milliseconds>(
                                           std::chrono::milliseconds(timeout), MaxEnumTimeout);
            std::uint32_t requestId = nextRequestId_++;
            std::optional<wire::Frame> reply =
                Request(wire::Encode(wire::EnumSessionsRequest{requestId}),
                        wire::FrameKind::SessionList, requestId, wait);
            if (reply) {
                std::optional<wire::SessionList> list = wire::DecodeSessionList(reply->body);
                if (list)
                    sessions = std::move(list->sessions);
            }
        }
        // A host that cannot be reached has no sessions: only the last, timed-out call is made.
        std::uint32_t callbackTimeout = timeout;
        for (wire::SessionInfo& session : sessions) {
            if (!(description->guidApplication == dp::GuidNull) &&
                !(description->guidApplication == session.application))
                continue;
            dp::DPSESSIONDESC2 offered{};
            offered.dwSize = sizeof offered;
            offered.dwFlags = session.flags;
            offered.guidInstance = session.instance;
            offered.guidApplication = session.application;
            offered.dwMaxPlayers = session.maxPlayers;
            offered.dwCurrentPlayers = session.currentPlayers;
            offered.lpszSessionNameA = session.name.data();
            if (!callback(&offered, &callbackTimeout, 0, context))
                return dp::Ok;
        }
        callback(nullptr, &callbackTimeout, dp::EnumSessionsTimedOut, context);
        return dp::Ok;
    }

    HRESULT Open(dp::DPSESSIONDESC2* description, std::uint32_t flags) override {
        if (description == nullptr || description->dwSize != sizeof(dp::DPSESSIONDESC2))
            return dp::ErrInvalidParams;
        // Hosting is skyrelay-session's job; the stand-in only joins.
        if ((flags & OpenCreate) != 0)
            return hresult::NotImpl;
        if ((flags & dp::OpenJoin) == 0)
            return dp::ErrInvalidParams;
        if (!connection_)
            return dp::ErrUninitialized;
        {
            std::lock_guard lock(mutex_);
            if (joined_)
                return dp::ErrAlreadyInitialized;
        }
        if (!ConnectLink())
            return dp::ErrNoConnection;
        std::uint32_t requestId = nextRequestId_++;
        std::optional<wire::Frame> reply =
            Request(wire::Encode(wire::JoinRequest{requestId, description->guidInstance}),
                    wire::FrameKind::JoinReply, requestId, RequestTimeout);
        std::optional<wire::JoinReply> joined =
            reply ? wire::DecodeJoinReply(reply->body) : std::nullopt;
        if (!joined)
            return dp::ErrNoConnection;
        if (!Failed(joined->result)) {
            std::lock_guard lock(mutex_);
            joined_ = true;
        }
        return joined->result;
    }

    HRESULT CreatePlayer(dp::DPID* player, dp::DPNAME* name, plat::Event event, void* data,
                         std::uint32_t dataSize, std::uint32_t flags) override {
        if (player == nullptr || (name != nullptr && name->dwSize != sizeof(dp::DPNAME)) ||
            (data == nullptr && dataSize != 0) || flags != 0)
            return dp::ErrInvalidParams;
        wire::PlayerName playerName = NameFrom(name);
        if (!NameFits(playerName))
            return dp::ErrInvalidParams;
        std::uint32_t requestId = nextRequestId_++;
        {
            std::lock_guard lock(mutex_);
            if (!joined_ || !linkAlive_)
                return dp::ErrNoConnection;
            // The reader enters the player as soon as the reply arrives, so that no message
            // that follows the reply finds the player missing.
            pendingCreate_ = PendingCreate{requestId, playerName, event};
        }
        std::optional<wire::Frame> reply =
            Request(wire::Encode(wire::CreatePlayerRequest{requestId, 0, playerName}),
                    wire::FrameKind::CreatePlayerReply, requestId, RequestTimeout);
        {
            std::lock_guard lock(mutex_);
            pendingCreate_.reset();
        }
        if (!reply)
            return dp::ErrNoConnection;
        wire::CreatePlayerReply created{};
        if (auto decoded = wire::DecodeCreatePlayerReply(reply->body))
            created = *decoded;
        else
            return dp::ErrNoConnection;
        if (Failed(created.result))
            return created.result;
        *player = created.player;
        return dp::Ok;
    }

    HRESULT EnumPlayers(dp::GUID* instance, dp::EnumPlayersCallback2 callback, void* context,
                        std::uint32_t /*flags*/) override {
        // Only the joined session's players can be listed.
        if (instance != nullptr || callback == nullptr)
            return dp::ErrInvalidParams;
        std::vector<std::pair<dp::DPID, PlayerEntry>> players;
        {
            std::lock_guard lock(mutex_);
            if (!joined_)
                return dp::ErrNoConnection;
            players.assign(players_.begin(), players_.end());
        }
        Hold hold(this);
        for (auto& [id, entry] : players) {
            dp::DPNAME name{sizeof(dp::DPNAME), 0,
                            entry.name.shortName ? entry.name.shortName->data() : nullptr,
                            entry.name.longName ? entry.name.longName->data() : nullptr};
            if (!callback(id, PlayerTypePlayer, &name, 0, context))
                break;
        }
        return dp::Ok;
    }

    HRESULT Receive(dp::DPID* from, dp::DPID* to, std::uint32_t flags, void* data,
                    std::uint32_t* dataSize) override {
        // Only the whole queue can be received from (flags 0 or DPRECEIVE_ALL).
        if (from == nullptr || to == nullptr || dataSize == nullptr ||
            (flags & ~dp::ReceiveAll) != 0)
            return dp::ErrInvalidParams;
        std::lock_guard lock(mutex_);
        if (queue_.empty())
            return dp::ErrNoMessages;
        QueuedMessage& next = queue_.front();
        auto size = static_cast<std::uint32_t>(next.data.size());
        if (data == nullptr || *dataSize < size) {
            *dataSize = size;
            return dp::ErrBufferTooSmall;
        }
        std::memcpy(data, next.data.data(), size);
        *dataSize = size;
        *from = next.from;
        *to = next.to;
        queue_.pop_front();
        return dp::Ok;
    }

    HRESULT GetPlayerName(dp::DPID player, void* data, std::uint32_t* dataSize) override {
        if (dataSize == nullptr)
            return dp::ErrInvalidParams;
        std::lock_guard lock(mutex_);
        auto found = players_.find(player);
        if (found == players_.end())
            return dp::ErrInvalidPlayer;
        const wire::PlayerName& name = found->second.name;
        std::size_t needed = sizeof(dp::DPNAME) +
                             (name.shortName ? name.shortName->size() + 1 : 0) +
                             (name.longName ? name.longName->size() + 1 : 0);
        if (data == nullptr || *dataSize < needed) {
            *dataSize = static_cast<std::uint32_t>(needed);
            return dp::ErrBufferTooSmall;
        }
        // The strings follow the DPNAME in the caller's buffer, which need not be aligned.
        auto* bytes = static_cast<std::uint8_t*>(data);
        std::uint8_t* cursor = bytes + sizeof(dp::DPNAME);
        dp::DPNAME header{sizeof(dp::DPNAME), 0, nullptr, nullptr};
        auto place = [&cursor](const std::string& text) {
            std::memcpy(cursor, text.c_str(), text.size() + 1);
            char* placed = reinterpret_cast<char*>(cursor);
            cursor += text.size() + 1;
            return placed;
        };
        if (name.shortName)
            header.lpszShortNameA = place(*name.shortName);
        if (name.longName)
            header.lpszLongNameA = place(*name.longName);
        std::memcpy(bytes, &header, sizeof header);
        *dataSize = static_cast<std::uint32_t>(needed);
        return dp::Ok;
    }

    HRESULT DestroyPlayer(dp::DPID player) override {
        bool alive = false;
        {
            std::lock_guard lock(mutex_);
            auto found = players_.find(player);
            if (found == players_.end() || !found->second.local)
                return dp::ErrInvalidPlayer;
            players_.erase(found);
            std::erase_if(queue_, [player](const QueuedMessage& m) { return m.to == player; });
            alive = linkAlive_;
        }
        if (alive) {
            wire::Bytes frame = wire::Encode(wire::DestroyPlayer{player});
            posix::SendAll(fd_, frame.data(), frame.size());
        }
        return dp::Ok;
    }

    HRESULT Close() override {
        StopLink();
        std::lock_guard lock(mutex_);
        joined_ = false;
        queue_.clear();
        players_.clear();
        reply_.reset();
        pendingCreate_.reset();
        return dp::Ok;
    }

  private:
    // Keeps the object alive for the length of a call that runs callbacks.
    class Hold {
      public:
        explicit Hold(DirectPlayStandIn* object) : object_(object) { object_->AddRef(); }
        ~Hold() { object_->Release(); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

      private:
        DirectPlayStandIn* object_;
    };

    // Makes sure a live link to the host exists; starts the reader thread for a new one.
    bool ConnectLink() {
        {
            std::lock_guard lock(mutex_);
            if (linkAlive_)
                return true;
        }
        StopLink();
        int fd = -1;
        if (connection_->transport == wire::Transport::TcpIp) {
            if (IsLoopbackHost(connection_->host))
                fd = posix::ConnectLoopback(posix::SessionPort());
        } else if (connection_->transport == wire::Transport::Ipx) {
            fd = posix::ConnectUnix(posix::IpxSocketPath());
        }
        if (fd < 0)
            return false;
        {
            std::lock_guard lock(mutex_);
            fd_ = fd;
            linkAlive_ = true;
            closing_ = false;
            reply_.reset();
        }
        reader_ = std::thread([this, fd] { ReadLink(fd); });
        return true;
    }

    // Ends the link and waits for the reader; no session-lost message is queued for this.
    void StopLink() {
        if (fd_ < 0)
            return;
        bool alive = false;
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            alive = linkAlive_;
        }
        if (alive) {
            wire::Bytes goodbye = wire::EncodeGoodbye();
            posix::SendAll(fd_, goodbye.data(), goodbye.size());
        }
        shutdown(fd_, SHUT_RDWR);
        if (reader_.joinable())
            reader_.join();
        close(fd_);
        std::lock_guard lock(mutex_);
        fd_ = -1;
        linkAlive_ = false;
    }

    // Sends a request and waits for the reply of that kind and id, or for the link to end.
    std::optional<wire::Frame> Request(const wire::Bytes& frame, wire::FrameKind replyKind,
                                       std::uint32_t requestId, Clock::duration timeout) {
        {
            std::lock_guard lock(mutex_);
            reply_.reset();
            if (!linkAlive_)
                return std::nullopt;
        }
        if (!posix::SendAll(fd_, frame.data(), frame.size()))
            return std::nullopt;
        Clock::time_point deadline = Clock::now() + timeout;
        std::unique_lock lock(mutex_);
        for (;;) {
            if (!replies_.wait_until(lock, deadline, [this] { return reply_ || !linkAlive_; }))
                return std::nullopt;
            if (!reply_)
                return std::nullopt;
            wire::Frame reply = std::move(*reply_);
            reply_.reset();
            // Every reply body starts with the request id; a late reply to an earlier request
            // that timed out is skipped.
            if (reply.kind == replyKind && RequestIdOf(reply) == requestId)
                return reply;
        }
    }

    // The reader thread: parses frames until the link ends or a frame is malformed.
    void ReadLink(int fd) {
        std::vector<std::uint8_t> pending;
        std::uint8_t chunk[4096];
        bool keepGoing = true;
        while (keepGoing) {
            ssize_t received = recv(fd, chunk, sizeof chunk, 0);
            if (received < 0 && errno == EINTR)
                continue;
            if (received <= 0)
                break;
            pending.insert(pending.end(), chunk, chunk + received);
            std::size_t offset = 0;
            while (keepGoing) {
                wire::ParseResult parsed = wire::ParseFrame(std::span(pending).subspan(offset));
                if (parsed.status == wire::ParseStatus::NeedMore)
                    break;
                if (parsed.status == wire::ParseStatus::Invalid) {
                    keepGoing = false;
                    break;
                }
                offset += parsed.consumed;
                keepGoing = HandleFrame(parsed.frame);
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(offset));
        }
        // A malformed frame ends the link as a lost connection does; shutting the socket down
        // tells the host at once.
        shutdown(fd, SHUT_RDWR);
        LinkLost();
    }

    // One frame from the host; false ends the link.
    bool HandleFrame(const wire::Frame& frame) {
        switch (frame.kind) {
        case wire::FrameKind::SessionList:
        case wire::FrameKind::JoinReply:
        case wire::FrameKind::CreatePlayerReply:
            return HandleReply(frame);
        case wire::FrameKind::PlayerAdded: {
            std::optional<wire::PlayerAdded> added = wire::DecodePlayerAdded(frame.body);
            if (!added)
                return false;
            std::lock_guard lock(mutex_);
            auto found = players_.find(added->player);
            if (found != players_.end() && found->second.local)
                return true;
            if (found == players_.end() && players_.size() >= MaxPlayers)
                return true;
            players_[added->player] = PlayerEntry{added->name, added->flags, false, nullptr};
            return true;
        }
        case wire::FrameKind::PlayerRemoved: {
            std::optional<wire::PlayerRemoved> removed = wire::DecodePlayerRemoved(frame.body);
            if (!removed)
                return false;
            std::lock_guard lock(mutex_);
            auto found = players_.find(removed->player);
            if (found != players_.end() && !found->second.local)
                players_.erase(found);
            return true;
        }
        case wire::FrameKind::PlayerRenamed: {
            std::optional<wire::PlayerRenamed> renamed = wire::DecodePlayerRenamed(frame.body);
            if (!renamed)
                return false;
            // Messages already queued are named by the sender's name at the time of Receive,
            // as DirectPlay's own GetPlayerName answers with the current name.
            std::lock_guard lock(mutex_);
            auto found = players_.find(renamed->player);
            if (found != players_.end() && !found->second.local)
                found->second.name = std::move(renamed->name);
            return true;
        }
        case wire::FrameKind::Message: {
            std::optional<wire::Message> message = wire::DecodeMessage(frame.body);
            if (!message)
                return false;
            std::lock_guard lock(mutex_);
            auto target = players_.find(message->to);
            if (target == players_.end() || !target->second.local)
                return true;
            if (queue_.size() >= MaxQueuedMessages && message->from != dp::SystemPlayerId)
                return true;
            queue_.push_back({message->from, message->to, std::move(message->data)});
            plat::SignalSessionEvent(target->second.event);
            return true;
        }
        case wire::FrameKind::SessionClosed:
            return false;
        default:
            // A client's frame coming from the host is a protocol error.
            return false;
        }
    }

    bool HandleReply(const wire::Frame& frame) {
        std::lock_guard lock(mutex_);
        if (frame.kind == wire::FrameKind::CreatePlayerReply) {
            std::optional<wire::CreatePlayerReply> created =
                wire::DecodeCreatePlayerReply(frame.body);
            if (!created)
                return false;
            if (pendingCreate_ && pendingCreate_->requestId == created->requestId &&
                !Failed(created->result)) {
                players_[created->player] =
                    PlayerEntry{pendingCreate_->name, 0, true, pendingCreate_->event};
                pendingCreate_.reset();
            }
        }
        reply_ = frame;
        replies_.notify_all();
        return true;
    }

    // The link has ended. Unless this object ended it, a joined session is lost: each local
    // player gets DPSYS_SESSIONLOST from the system player.
    void LinkLost() {
        std::lock_guard lock(mutex_);
        linkAlive_ = false;
        if (!closing_ && joined_) {
            bool anyLocal = false;
            for (auto& [id, entry] : players_) {
                if (!entry.local)
                    continue;
                anyLocal = true;
                queue_.push_back({dp::SystemPlayerId, id, SystemMessage(dp::SysSessionLost)});
                plat::SignalSessionEvent(entry.event);
            }
            if (!anyLocal)
                queue_.push_back({dp::SystemPlayerId, 0, SystemMessage(dp::SysSessionLost)});
        }
        replies_.notify_all();
    }

    static std::optional<std::uint32_t> RequestIdOf(const wire::Frame& reply) {
        if (reply.body.size() < 4)
            return std::nullopt;
        std::uint32_t id = 0;
        for (int i = 3; i >= 0; --i)
            id = (id << 8) | reply.body[static_cast<std::size_t>(i)];
        return id;
    }

    static wire::Bytes SystemMessage(std::uint32_t type) {
        return {static_cast<std::uint8_t>(type & 0xFFu), static_cast<std::uint8_t>(type >> 8),
                static_cast<std::uint8_t>(type >> 16), static_cast<std::uint8_t>(type >> 24)};
    }

    std::atomic<std::uint32_t> references_{1};
    // Only the calling thread touches these.
    std::optional<wire::Connection> connection_; // set by InitializeConnection
    std::uint32_t nextRequestId_ = 1;
    int fd_ = -1; // the link's socket; the reader has its own copy
    std::thread reader_;
    // Shared with the reader thread, guarded by mutex_.
    std::mutex mutex_;
    std::condition_variable replies_;
    bool linkAlive_ = false; // the socket is connected and the reader runs
    bool closing_ = false;   // this object is ending the link
    bool joined_ = false;    // Open succeeded
    std::deque<QueuedMessage> queue_;
    std::map<dp::DPID, PlayerEntry> players_;
    std::optional<wire::Frame> reply_; // the latest reply frame, taken by Request
    std::optional<PendingCreate> pendingCreate_;
};

} // namespace

namespace plat {

HRESULT CreateDirectPlay(dp::IDirectPlay4A** object) {
    if (object == nullptr)
        return dp::ErrInvalidParams;
    *object = new DirectPlayStandIn();
    return hresult::Ok;
}

} // namespace plat
