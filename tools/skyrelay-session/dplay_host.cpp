#include "dplay_host.h"

#include "platform/posix/session_endpoints.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace session_host {
namespace {

constexpr std::size_t MaxConnections = 32;
constexpr std::size_t MaxSessionPlayers = 256;
// Ids handed out to one client and not yet used; a client asks for two.
constexpr std::size_t MaxIssuedIds = 16;

std::string AddressText(std::uint32_t address, std::uint16_t port) {
    char text[INET_ADDRSTRLEN] = "?";
    in_addr inet{};
    inet.s_addr = address;
    inet_ntop(AF_INET, &inet, text, sizeof text);
    return std::string(text) + ":" + std::to_string(port);
}

void SetTimeouts(int fd) {
    timeval timeout{};
    timeout.tv_sec = 1;
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

int BoundSocket(int type, std::uint16_t port, std::string& error) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    int yes = 1;
    sockaddr_in inet{};
    inet.sin_family = AF_INET;
    inet.sin_port = htons(port);
    inet.sin_addr.s_addr = htonl(INADDR_ANY);
    // A listener may reuse its port at once; a UDP port is never shared, so that a second host
    // fails here rather than taking the first one's datagrams.
    if (fd < 0 ||
        (type == SOCK_STREAM && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0) ||
        bind(fd, reinterpret_cast<const sockaddr*>(&inet), sizeof inet) != 0 ||
        (type == SOCK_STREAM && listen(fd, 16) != 0)) {
        error = std::string("cannot ") + (type == SOCK_STREAM ? "listen on TCP " : "bind UDP ") +
                std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

} // namespace

DirectPlayHost::DirectPlayHost(DirectPlayHostOptions options)
    : options_(std::move(options)), instance_(RandomGuid()),
      peers_(options_.aircraft, options_.speedEncoding, std::move(options_.script), options_.rate,
             options_.stamp) {
    systemPlayer_ = nextPlayerId_++;
}

DirectPlayHost::~DirectPlayHost() {
    for (auto& [key, client] : clients_)
        if (client.fd >= 0)
            close(client.fd);
    for (auto& [fd, connection] : inbound_)
        close(fd);
    for (int fd : {tcpListener_, enumSocket_, udpSocket_})
        if (fd >= 0)
            close(fd);
}

bool DirectPlayHost::Listen(std::string& error) {
    tcpListener_ = BoundSocket(SOCK_STREAM, options_.tcpPort, error);
    if (tcpListener_ < 0)
        return false;
    enumSocket_ = BoundSocket(SOCK_DGRAM, options_.enumerationPort, error);
    if (enumSocket_ < 0)
        return false;
    udpSocket_ = BoundSocket(SOCK_DGRAM, options_.udpPort, error);
    return udpSocket_ >= 0;
}

int DirectPlayHost::Run(const volatile std::sig_atomic_t& stop) {
    Say("hosting \"%s\" over DirectPlay TCP/IP: TCP %u, UDP %u, enumeration on UDP %u "
        "(%s client layouts)",
        SessionName, static_cast<unsigned>(options_.tcpPort),
        static_cast<unsigned>(options_.udpPort), static_cast<unsigned>(options_.enumerationPort),
        options_.layout == dplay::Layout::Client64 ? "64-bit" : "32-bit");
    peers_.Start(*this, Clock::now());

    while (stop == 0) {
        std::vector<pollfd> watched{
            {tcpListener_, POLLIN, 0}, {enumSocket_, POLLIN, 0}, {udpSocket_, POLLIN, 0}};
        for (const auto& [fd, connection] : inbound_)
            watched.push_back({fd, POLLIN, 0});
        std::map<int, ClientKey> clientFds;
        for (const auto& [key, client] : clients_)
            if (client.fd >= 0) {
                watched.push_back({client.fd, POLLIN, 0});
                clientFds[client.fd] = key;
            }
        // A short period keeps the peers' cadence and notices a stop request soon.
        int ready = poll(watched.data(), watched.size(), 20);
        if (ready < 0 && errno != EINTR) {
            Say("poll failed: %s", std::strerror(errno));
            return 1;
        }
        for (const pollfd& entry : ready > 0 ? watched : std::vector<pollfd>{}) {
            if (entry.revents == 0)
                continue;
            if (entry.fd == tcpListener_)
                AcceptInbound();
            else if (entry.fd == enumSocket_ || entry.fd == udpSocket_)
                ReadDatagram(entry.fd);
            else if (inbound_.count(entry.fd) != 0)
                ReadInbound(entry.fd);
            else if (auto found = clientFds.find(entry.fd); found != clientFds.end())
                ReadClientConnection(found->second, entry.fd);
        }
        if (!peers_.Tick(*this, Clock::now()))
            return 0;
    }
    Say("stopped: %llu messages sent", static_cast<unsigned long long>(messagesSent_));
    return 0;
}

void DirectPlayHost::AcceptInbound() {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    int fd = accept4(tcpListener_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    if (inbound_.size() >= MaxConnections || peer.sin_family != AF_INET) {
        close(fd);
        return;
    }
    inbound_[fd] = Inbound{peer.sin_addr.s_addr, {}};
}

void DirectPlayHost::ReadInbound(int fd) {
    std::uint8_t chunk[4096];
    ssize_t received = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (received < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (received <= 0) {
        DropInbound(fd);
        return;
    }
    Inbound& connection = inbound_[fd];
    connection.input.insert(connection.input.end(), chunk, chunk + received);
    std::size_t offset = 0;
    const char* error = nullptr;
    for (;;) {
        dplay::StreamCut cut =
            dplay::NextMessage(dplay::ByteView(connection.input).subspan(offset));
        if (cut.status == dplay::StreamCut::Status::NeedMore)
            break;
        if (cut.status == dplay::StreamCut::Status::Invalid) {
            error = cut.error;
            break;
        }
        dplay::ParseResult parsed =
            dplay::ParseMessage(dplay::ByteView(connection.input).subspan(offset, cut.size));
        offset += cut.size;
        if (!parsed.message) {
            error = parsed.error;
            break;
        }
        // Handling may drop clients, never this connection: its address is copied first.
        std::uint32_t address = connection.address;
        if (!Handle(*parsed.message, address, error)) {
            if (error == nullptr)
                error = "request refused";
            break;
        }
    }
    if (error != nullptr) {
        Say("dropped a client: %s", error);
        DropInbound(fd);
        return;
    }
    connection.input.erase(connection.input.begin(),
                           connection.input.begin() + static_cast<std::ptrdiff_t>(offset));
}

void DirectPlayHost::ReadDatagram(int fd) {
    std::uint8_t datagram[2048];
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    ssize_t received = recvfrom(fd, datagram, sizeof datagram, MSG_DONTWAIT,
                                reinterpret_cast<sockaddr*>(&peer), &size);
    if (received <= 0 || peer.sin_family != AF_INET)
        return;
    // Only enumeration requests matter here; pings' replies and unguaranteed game messages
    // from the clients are read and let go.
    if (fd != enumSocket_)
        return;
    dplay::ParseResult parsed =
        dplay::ParseDatagram(dplay::ByteView(datagram, static_cast<std::size_t>(received)));
    if (!parsed.message || !parsed.message->senderPort)
        return;
    if (const auto* request = std::get_if<dplay::EnumSessionsRequest>(&parsed.message->body))
        OnEnumSessions(*request, ClientKey{peer.sin_addr.s_addr, *parsed.message->senderPort});
}

void DirectPlayHost::ReadClientConnection(const ClientKey& key, int fd) {
    // Clients send nothing on the host's connection; what arrives is read and let go, and the
    // end of it means the client is gone.
    auto found = clients_.find(key);
    if (found == clients_.end() || found->second.fd != fd)
        return; // dropped earlier in this round
    std::uint8_t chunk[4096];
    ssize_t received = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (received < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (received <= 0)
        DropClient(key);
}

bool DirectPlayHost::Handle(const dplay::Message& message, std::uint32_t address,
                            const char*& error) {
    if (!message.senderPort) {
        error = "message without a header";
        return false;
    }
    ClientKey key{address, *message.senderPort};
    if (const auto* request = std::get_if<dplay::EnumSessionsRequest>(&message.body))
        return OnEnumSessions(*request, key);
    if (const auto* request = std::get_if<dplay::PlayerIdRequest>(&message.body))
        return OnPlayerIdRequest(*request, key);
    if (const auto* request = std::get_if<dplay::AddForwardRequest>(&message.body))
        return OnAddForward(*request, key, error);
    if (const auto* create = std::get_if<dplay::CreatePlayerMessage>(&message.body))
        return OnCreatePlayer(*create, key, error);
    if (const auto* remove = std::get_if<dplay::DeletePlayerMessage>(&message.body))
        OnDeletePlayer(*remove, key);
    // Game messages to the peers, pings and the rest need nothing from the host.
    return true;
}

bool DirectPlayHost::OnEnumSessions(const dplay::EnumSessionsRequest& request,
                                    const ClientKey& key) {
    if (!(request.application == dp::GuidNull) && !(request.application == ApplicationGuid))
        return true;
    if (request.password && !request.password->empty())
        return true;
    if (clients_.count(key) == 0 && clients_.size() >= MaxConnections)
        return true;
    Client& client = clients_[key];
    if (!Connect(client, key))
        return true;
    SendTo(key,
           dplay::BuildEnumSessionsReply(options_.layout, options_.tcpPort, Desc(), SessionName));
    return true;
}

bool DirectPlayHost::OnPlayerIdRequest(const dplay::PlayerIdRequest&, const ClientKey& key) {
    if (clients_.count(key) == 0 && clients_.size() >= MaxConnections)
        return false;
    Client& client = clients_[key];
    if (client.issuedIds.size() >= MaxIssuedIds || !Connect(client, key))
        return false;
    dp::DPID id = nextPlayerId_++;
    client.issuedIds.insert(id);
    SendTo(key, dplay::BuildRequestPlayerReply(options_.layout, options_.tcpPort, id, 0));
    return true;
}

bool DirectPlayHost::OnAddForward(const dplay::AddForwardRequest& request, const ClientKey& key,
                                  const char*& error) {
    auto found = clients_.find(key);
    if (found == clients_.end() || found->second.issuedIds.count(request.playerId) == 0) {
        error = "add-forward request for a player id the host did not give";
        return false;
    }
    Client& client = found->second;
    client.issuedIds.erase(request.playerId);
    client.systemPlayer = request.playerId;
    client.spData = *request.player.spData;
    // The host's system player, the client's own (which it skips) and the peers played here.
    std::vector<dplay::PlayerRecord> records{
        {dplay::playerflag::SystemPlayer | dplay::playerflag::NameServer |
             dplay::playerflag::InGroup | dplay::playerflag::Local,
         systemPlayer_, systemPlayer_, std::nullopt, std::nullopt, HostSpData()},
        {dplay::playerflag::SystemPlayer, client.systemPlayer, client.systemPlayer, std::nullopt,
         std::nullopt, client.spData}};
    for (const auto& [id, player] : players_)
        if (!player.owner)
            records.push_back(PeerRecord(id, player));
    client.knowsPlayers = true;
    SendTo(key, dplay::BuildSuperEnumPlayersReply(options_.layout, options_.tcpPort, Desc(),
                                                  SessionName, records));
    return true;
}

bool DirectPlayHost::OnCreatePlayer(const dplay::CreatePlayerMessage& create, const ClientKey& key,
                                    const char*& error) {
    auto found = clients_.find(key);
    if (found == clients_.end() || !found->second.knowsPlayers ||
        found->second.issuedIds.count(create.playerId) == 0) {
        error = "player created with an id the host did not give";
        return false;
    }
    if (players_.size() >= MaxSessionPlayers) {
        error = "session full";
        return false;
    }
    found->second.issuedIds.erase(create.playerId);
    bool first = !AnyRemotePlayer();
    players_[create.playerId] = Player{create.player.shortName, create.player.longName, key};
    Say("joined: %s (player %u, remote)", DisplayName(create.playerId).c_str(), create.playerId);
    if (first)
        peers_.FirstRemotePlayerJoined(Clock::now());
    return true;
}

void DirectPlayHost::OnDeletePlayer(const dplay::DeletePlayerMessage& remove,
                                    const ClientKey& key) {
    auto found = players_.find(remove.playerId);
    if (found == players_.end() || found->second.owner != key)
        return;
    Say("left: %s (player %u)", DisplayName(remove.playerId).c_str(), remove.playerId);
    players_.erase(found);
}

bool DirectPlayHost::Connect(Client& client, const ClientKey& key) {
    if (client.fd >= 0)
        return true;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    SetTimeouts(fd); // bounds the connect too
    sockaddr_in inet{};
    inet.sin_family = AF_INET;
    inet.sin_port = htons(key.port);
    inet.sin_addr.s_addr = key.address;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&inet), sizeof inet) != 0) {
        Say("cannot reach the client at %s: %s", AddressText(key.address, key.port).c_str(),
            std::strerror(errno));
        close(fd);
        return false;
    }
    client.fd = fd;
    return true;
}

void DirectPlayHost::SendTo(const ClientKey& key, const dplay::Bytes& message) {
    auto found = clients_.find(key);
    if (found == clients_.end() || found->second.fd < 0)
        return;
    if (!posix::SendAll(found->second.fd, message.data(), message.size()))
        DropClient(key);
}

void DirectPlayHost::DropClient(const ClientKey& key) {
    auto found = clients_.find(key);
    if (found == clients_.end())
        return;
    if (found->second.fd >= 0)
        close(found->second.fd);
    clients_.erase(found);
    for (auto player = players_.begin(); player != players_.end();) {
        if (player->second.owner == key) {
            Say("left: %s (player %u)", DisplayName(player->first).c_str(), player->first);
            player = players_.erase(player);
        } else {
            ++player;
        }
    }
}

void DirectPlayHost::DropInbound(int fd) {
    inbound_.erase(fd);
    close(fd);
}

dplay::SessionDesc DirectPlayHost::Desc() const {
    dplay::SessionDesc desc;
    desc.instance = instance_;
    desc.application = ApplicationGuid;
    desc.maxPlayers = static_cast<std::uint32_t>(MaxSessionPlayers);
    desc.currentPlayers = static_cast<std::uint32_t>(players_.size());
    return desc;
}

dplay::PlayerRecord DirectPlayHost::PeerRecord(dp::DPID id, const Player& player) const {
    return dplay::PlayerRecord{
        dplay::playerflag::Local, id,          systemPlayer_, player.shortName,
        player.longName,          HostSpData()};
}

dplay::SpPlayerData DirectPlayHost::HostSpData() const {
    return dplay::MakeSpPlayerData(options_.tcpPort, options_.udpPort);
}

std::string DirectPlayHost::DisplayName(dp::DPID id) const {
    auto found = players_.find(id);
    if (found == players_.end() || !found->second.shortName)
        return "(no name)";
    return *found->second.shortName;
}

bool DirectPlayHost::AnyRemotePlayer() const {
    for (const auto& [id, player] : players_)
        if (player.owner)
            return true;
    return false;
}

dp::DPID DirectPlayHost::AddPeer(const std::string& shortName,
                                 const std::optional<std::string>& longName) {
    dp::DPID id = nextPlayerId_++;
    players_[id] = Player{shortName, longName, std::nullopt};
    dplay::Bytes announcement =
        dplay::BuildCreatePlayer(options_.tcpPort, PeerRecord(id, players_[id]));
    std::vector<ClientKey> told;
    for (const auto& [key, client] : clients_)
        if (client.knowsPlayers)
            told.push_back(key);
    for (const ClientKey& key : told)
        SendTo(key, announcement);
    Say("joined: %s (player %u, peer)", DisplayName(id).c_str(), id);
    return id;
}

void DirectPlayHost::RemovePeer(dp::DPID id) {
    auto found = players_.find(id);
    if (found == players_.end())
        return;
    Say("left: %s (player %u)", DisplayName(id).c_str(), id);
    players_.erase(found);
    dplay::Bytes removal = dplay::BuildDeletePlayer(options_.tcpPort, id);
    std::vector<ClientKey> told;
    for (const auto& [key, client] : clients_)
        if (client.knowsPlayers)
            told.push_back(key);
    for (const ClientKey& key : told)
        SendTo(key, removal);
}

void DirectPlayHost::RenamePeer(dp::DPID id, const std::string& shortName) {
    // Clients are not told: the host does not speak DirectPlay's name change (main refuses a
    // script that renames in this mode), so only its own record and log follow.
    auto found = players_.find(id);
    if (found == players_.end())
        return;
    found->second.shortName = shortName;
    Say("renamed: player %u is now %s", id, DisplayName(id).c_str());
}

int DirectPlayHost::SendToRemotePlayers(dp::DPID from, const std::vector<std::uint8_t>& data) {
    std::vector<std::pair<ClientKey, dp::DPID>> targets;
    for (const auto& [id, player] : players_)
        if (player.owner && id != from)
            targets.emplace_back(*player.owner, id);
    int delivered = 0;
    for (const auto& [key, id] : targets) {
        if (clients_.count(key) == 0)
            continue; // dropped by an earlier send
        SendTo(key, dplay::BuildGameMessage(options_.tcpPort, from, id, data));
        ++delivered;
        ++messagesSent_;
    }
    return delivered;
}

void DirectPlayHost::CloseSession() {
    // A DirectPlay client reports nothing when its host goes away, so it is told first.
    const std::vector<std::uint8_t> sessionLost{static_cast<std::uint8_t>(dp::SysSessionLost), 0, 0,
                                                0};
    std::vector<std::pair<ClientKey, dp::DPID>> targets;
    for (const auto& [id, player] : players_)
        if (player.owner)
            targets.emplace_back(*player.owner, id);
    for (const auto& [key, id] : targets)
        SendTo(key, dplay::BuildGameMessage(options_.tcpPort, dp::SystemPlayerId, id, sessionLost));
    Say("session closed: %llu messages sent", static_cast<unsigned long long>(messagesSent_));
    std::vector<ClientKey> keys;
    for (const auto& [key, client] : clients_)
        keys.push_back(key);
    for (const ClientKey& key : keys)
        DropClient(key);
    std::vector<int> fds;
    for (const auto& [fd, connection] : inbound_)
        fds.push_back(fd);
    for (int fd : fds)
        DropInbound(fd);
}

std::uint64_t DirectPlayHost::MessagesSent() const {
    return messagesSent_;
}

} // namespace session_host
