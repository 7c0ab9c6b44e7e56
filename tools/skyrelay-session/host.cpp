#include "host.h"

#include "platform/posix/session_endpoints.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace session_host {
namespace {

namespace wire = posix::wire;

constexpr std::size_t MaxClients = 32;
constexpr std::size_t MaxSessionPlayers = 256;

void SetSendTimeout(int fd) {
    timeval timeout{};
    timeout.tv_sec = 1;
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

} // namespace

Host::Host(HostOptions options)
    : options_(std::move(options)), instance_(RandomGuid()),
      peers_(options_.aircraft, options_.speedEncoding, std::move(options_.script), options_.rate,
             options_.stamp) {}

Host::~Host() {
    for (auto& [fd, client] : clients_)
        close(fd);
    if (tcpListener_ >= 0)
        close(tcpListener_);
    if (unixListener_ >= 0)
        close(unixListener_);
    if (ownsSocketPath_)
        unlink(options_.socketPath.c_str());
}

bool Host::Listen(std::string& error) {
    tcpListener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(tcpListener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in inet{};
    inet.sin_family = AF_INET;
    inet.sin_port = htons(options_.port);
    inet.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (tcpListener_ < 0 ||
        bind(tcpListener_, reinterpret_cast<const sockaddr*>(&inet), sizeof inet) != 0 ||
        listen(tcpListener_, 16) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(options_.port) + ": " +
                std::strerror(errno);
        return false;
    }

    sockaddr_un local{};
    if (options_.socketPath.size() >= sizeof local.sun_path) {
        error = "socket path too long: " + options_.socketPath;
        return false;
    }
    // A socket file left by a host that is gone is replaced; a live host keeps its own.
    int probe = posix::ConnectUnix(options_.socketPath);
    if (probe >= 0) {
        close(probe);
        error = "another session host is listening on " + options_.socketPath;
        return false;
    }
    unlink(options_.socketPath.c_str());
    local.sun_family = AF_UNIX;
    std::memcpy(local.sun_path, options_.socketPath.c_str(), options_.socketPath.size() + 1);
    unixListener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (unixListener_ < 0 ||
        bind(unixListener_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        listen(unixListener_, 16) != 0) {
        error = "cannot listen on " + options_.socketPath + ": " + std::strerror(errno);
        return false;
    }
    ownsSocketPath_ = true;
    return true;
}

int Host::Run(const volatile std::sig_atomic_t& stop, volatile std::sig_atomic_t& report) {
    Say("hosting \"%s\" on 127.0.0.1:%u (TCP/IP) and %s (IPX)", SessionName,
        static_cast<unsigned>(options_.port), options_.socketPath.c_str());
    Clock::time_point now = Clock::now();
    peers_.Start(*this, now);

    while (stop == 0) {
        std::vector<pollfd> watched;
        watched.push_back({tcpListener_, POLLIN, 0});
        watched.push_back({unixListener_, POLLIN, 0});
        for (auto& [fd, client] : clients_)
            watched.push_back({fd, POLLIN, 0});
        // A short period keeps the peers' cadence and notices a stop request soon.
        int ready = poll(watched.data(), watched.size(), 20);
        if (ready < 0 && errno != EINTR) {
            Say("poll failed: %s", std::strerror(errno));
            return 1;
        }
        if (ready > 0) {
            for (const pollfd& entry : watched) {
                if (entry.revents == 0)
                    continue;
                if (entry.fd == tcpListener_ || entry.fd == unixListener_)
                    Accept(entry.fd);
                else if (clients_.count(entry.fd) != 0)
                    ReadClient(entry.fd);
            }
        }
        if (report != 0) {
            report = 0;
            ReportStatus();
        }
        now = Clock::now();
        if (!peers_.Tick(*this, now))
            return 0;
    }
    Say("stopped: %llu messages sent", static_cast<unsigned long long>(messagesSent_));
    return 0;
}

void Host::Accept(int listener) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    if (clients_.size() >= MaxClients) {
        close(fd);
        return;
    }
    SetSendTimeout(fd);
    clients_[fd] = Client{fd, {}, false};
}

void Host::ReadClient(int fd) {
    std::uint8_t chunk[4096];
    ssize_t received = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (received < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (received <= 0) {
        DropClient(fd);
        return;
    }
    Client& client = clients_[fd];
    client.input.insert(client.input.end(), chunk, chunk + received);
    std::size_t offset = 0;
    for (;;) {
        wire::ParseResult parsed = wire::ParseFrame(std::span(client.input).subspan(offset));
        if (parsed.status == wire::ParseStatus::NeedMore)
            break;
        if (parsed.status == wire::ParseStatus::Invalid) {
            Say("dropped a client: %s", parsed.error);
            DropClient(fd);
            return;
        }
        offset += parsed.consumed;
        if (!HandleFrame(client, parsed.frame)) {
            DropClient(fd);
            return;
        }
    }
    client.input.erase(client.input.begin(),
                       client.input.begin() + static_cast<std::ptrdiff_t>(offset));
}

bool Host::HandleFrame(Client& client, const wire::Frame& frame) {
    switch (frame.kind) {
    case wire::FrameKind::EnumSessionsRequest: {
        std::optional<wire::EnumSessionsRequest> request =
            wire::DecodeEnumSessionsRequest(frame.body);
        if (!request)
            return false;
        wire::SessionInfo session{instance_,
                                  ApplicationGuid,
                                  0,
                                  static_cast<std::uint32_t>(MaxSessionPlayers),
                                  static_cast<std::uint32_t>(players_.size()),
                                  SessionName};
        Send(client.fd, wire::Encode(wire::SessionList{request->requestId, {session}}));
        return true;
    }
    case wire::FrameKind::JoinRequest: {
        std::optional<wire::JoinRequest> request = wire::DecodeJoinRequest(frame.body);
        if (!request)
            return false;
        if (!(request->instance == instance_)) {
            Send(client.fd, wire::Encode(wire::JoinReply{request->requestId, dp::ErrNoSessions}));
            return true;
        }
        // The players already there come first, so the joiner knows them when Open returns.
        if (!client.joined)
            for (const auto& [id, player] : players_)
                Send(client.fd, wire::Encode(wire::PlayerAdded{id, 0, player.name}));
        client.joined = true;
        Send(client.fd, wire::Encode(wire::JoinReply{request->requestId, dp::Ok}));
        return true;
    }
    case wire::FrameKind::CreatePlayerRequest: {
        std::optional<wire::CreatePlayerRequest> request =
            wire::DecodeCreatePlayerRequest(frame.body);
        if (!request)
            return false;
        if (!client.joined || players_.size() >= MaxSessionPlayers) {
            HRESULT refusal = client.joined ? hresult::Fail : dp::ErrNoConnection;
            Send(client.fd, wire::Encode(wire::CreatePlayerReply{request->requestId, refusal, 0}));
            return true;
        }
        bool first = !AnyRemotePlayer();
        dp::DPID id = nextPlayerId_++;
        players_[id] = Player{request->name, client.fd};
        Send(client.fd, wire::Encode(wire::CreatePlayerReply{request->requestId, dp::Ok, id}));
        Broadcast(wire::Encode(wire::PlayerAdded{id, 0, request->name}), client.fd);
        Say("joined: %s (player %u, remote)", DisplayName(id).c_str(), id);
        if (first)
            peers_.FirstRemotePlayerJoined(Clock::now());
        return true;
    }
    case wire::FrameKind::DestroyPlayer: {
        std::optional<wire::DestroyPlayer> destroy = wire::DecodeDestroyPlayer(frame.body);
        if (!destroy)
            return false;
        auto found = players_.find(destroy->player);
        if (found != players_.end() && found->second.clientFd == client.fd)
            RemovePlayer(destroy->player);
        return true;
    }
    case wire::FrameKind::Goodbye:
        return false;
    default:
        Say("dropped a client: unexpected frame kind %u", static_cast<unsigned>(frame.kind));
        return false;
    }
}

void Host::DropClient(int fd) {
    std::vector<dp::DPID> owned;
    for (const auto& [id, player] : players_)
        if (player.clientFd == fd)
            owned.push_back(id);
    clients_.erase(fd);
    close(fd);
    for (dp::DPID id : owned)
        RemovePlayer(id);
}

void Host::Send(int fd, const wire::Bytes& frame) {
    // A client that does not take its frames within the send time-out is dropped later, when
    // its socket reports the error.
    if (!posix::SendAll(fd, frame.data(), frame.size()))
        shutdown(fd, SHUT_RDWR);
}

void Host::Broadcast(const wire::Bytes& frame, int exceptFd) {
    for (auto& [fd, client] : clients_)
        if (client.joined && fd != exceptFd)
            Send(fd, frame);
}

dp::DPID Host::AddPlayer(wire::PlayerName name, int clientFd) {
    dp::DPID id = nextPlayerId_++;
    players_[id] = Player{name, clientFd};
    Broadcast(wire::Encode(wire::PlayerAdded{id, 0, std::move(name)}), -1);
    Say("joined: %s (player %u, peer)", DisplayName(id).c_str(), id);
    return id;
}

void Host::RemovePlayer(dp::DPID id) {
    auto found = players_.find(id);
    if (found == players_.end())
        return;
    Say("left: %s (player %u)", DisplayName(id).c_str(), id);
    players_.erase(found);
    Broadcast(wire::Encode(wire::PlayerRemoved{id}), -1);
}

int Host::SendToRemotePlayers(dp::DPID from, const std::vector<std::uint8_t>& data) {
    int delivered = 0;
    for (const auto& [id, player] : players_) {
        if (player.clientFd < 0 || id == from)
            continue;
        Send(player.clientFd, wire::Encode(wire::Message{from, id, data}));
        ++delivered;
        ++messagesSent_;
    }
    return delivered;
}

bool Host::AnyRemotePlayer() const {
    for (const auto& [id, player] : players_)
        if (player.clientFd >= 0)
            return true;
    return false;
}

dp::DPID Host::AddPeer(const std::string& shortName, const std::optional<std::string>& longName) {
    return AddPlayer(wire::PlayerName{shortName, longName}, -1);
}

void Host::RemovePeer(dp::DPID id) {
    RemovePlayer(id);
}

void Host::RenamePeer(dp::DPID id, const std::string& shortName) {
    auto found = players_.find(id);
    if (found == players_.end())
        return;
    found->second.name.shortName = shortName;
    Broadcast(wire::Encode(wire::PlayerRenamed{id, found->second.name}), -1);
    Say("renamed: player %u is now %s", id, DisplayName(id).c_str());
}

void Host::ReportStatus() const {
    std::size_t unread = 0;
    std::size_t unsent = 0;
    for (const auto& [fd, client] : clients_) {
        unread += client.input.size();
        int queued = 0;
        if (ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0)
            unsent += static_cast<std::size_t>(queued);
    }
    Say("status: %zu clients, %zu players, %llu messages sent, %zu bytes unsent, %zu bytes "
        "unparsed",
        clients_.size(), players_.size(), static_cast<unsigned long long>(messagesSent_), unsent,
        unread);
}

std::uint64_t Host::MessagesSent() const {
    return messagesSent_;
}

void Host::CloseSession() {
    Broadcast(wire::EncodeSessionClosed(), -1);
    Say("session closed: %llu messages sent", static_cast<unsigned long long>(messagesSent_));
    std::vector<int> fds;
    for (const auto& [fd, client] : clients_)
        fds.push_back(fd);
    for (int fd : fds)
        DropClient(fd);
}

std::string Host::DisplayName(dp::DPID id) const {
    auto found = players_.find(id);
    if (found == players_.end() || !found->second.name.shortName)
        return "(no name)";
    return *found->second.name.shortName;
}

} // namespace session_host
