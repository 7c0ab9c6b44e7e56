// skyrelay-session's DirectPlay host: the same peers and scripts as the stand-in host, served as
// one DirectPlay 4 session over TCP/IP that a real DirectPlay client can find and join.
// Enumeration requests arrive by UDP broadcast on port 47624; the host answers each client over
// a TCP connection of its own to the client's listen port and sends everything else on it;
// the client's requests arrive on the connections it opens to the host. One thread, one poll loop.
#pragma once

#include "dplay_wire.h"
#include "peers.h"

#include <chrono>
#include <compare>
#include <csignal>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace session_host {

struct DirectPlayHostOptions {
    std::uint16_t tcpPort = 2300; // the host's TCP listen port
    std::uint16_t udpPort = 2350; // the host's UDP port (clients' pings and unguaranteed sends)
    // Where the clients' enumeration broadcasts arrive; DirectPlay clients always use 47624.
    std::uint16_t enumerationPort = dplay::EnumerationPort;
    dplay::Layout layout = dplay::Layout::Client64;
    int aircraft = 0;
    SpeedEncoding speedEncoding = SpeedEncoding::MetresPerSecond;
    int rate = DefaultPositionRate; // position messages a second from each synthetic peer
    bool stamp = false;             // synthetic vertical speeds carry the moment of sending
    std::optional<Scenario> script;
};

class DirectPlayHost : private PeerSink {
  public:
    explicit DirectPlayHost(DirectPlayHostOptions options);
    ~DirectPlayHost() override;
    DirectPlayHost(const DirectPlayHost&) = delete;
    DirectPlayHost& operator=(const DirectPlayHost&) = delete;

    // Opens the listening sockets; false with a message if one fails.
    bool Listen(std::string& error);
    // Serves until stop becomes non-zero or a script's `end`; returns the exit status.
    int Run(const volatile std::sig_atomic_t& stop);

  private:
    using Clock = std::chrono::steady_clock;

    // A client's DirectPlay object: its IPv4 address and TCP listen port.
    struct ClientKey {
        std::uint32_t address = 0; // network byte order
        std::uint16_t port = 0;
        auto operator<=>(const ClientKey&) const = default;
    };
    struct Client {
        int fd = -1;                  // the host's connection to it; -1 until needed
        std::set<dp::DPID> issuedIds; // ids given to it and not yet used by a player
        dp::DPID systemPlayer = 0;    // from its add-forward request
        dplay::SpPlayerData spData{}; // ditto
        bool knowsPlayers = false;    // the players' reply went out: later joins follow it
    };
    // A connection a client opened to the host; its requests arrive here.
    struct Inbound {
        std::uint32_t address = 0; // the client's, network byte order
        std::vector<std::uint8_t> input;
    };
    struct Player {
        std::optional<std::string> shortName;
        std::optional<std::string> longName;
        std::optional<ClientKey> owner; // the client that created it; none for a peer played here
    };

    void AcceptInbound();
    void ReadInbound(int fd);
    void ReadDatagram(int fd);
    void ReadClientConnection(const ClientKey& key, int fd);
    // Handles one message of a client; false if it is refused (the connection is then closed).
    bool Handle(const dplay::Message& message, std::uint32_t address, const char*& error);
    bool OnEnumSessions(const dplay::EnumSessionsRequest& request, const ClientKey& key);
    bool OnPlayerIdRequest(const dplay::PlayerIdRequest& request, const ClientKey& key);
    bool OnAddForward(const dplay::AddForwardRequest& request, const ClientKey& key,
                      const char*& error);
    bool OnCreatePlayer(const dplay::CreatePlayerMessage& create, const ClientKey& key,
                        const char*& error);
    void OnDeletePlayer(const dplay::DeletePlayerMessage& remove, const ClientKey& key);

    // The host's connection to the client, opened when missing; false if it cannot be opened.
    bool Connect(Client& client, const ClientKey& key);
    // Sends a message to a client; a client that cannot take it is dropped.
    void SendTo(const ClientKey& key, const dplay::Bytes& message);
    void DropClient(const ClientKey& key);
    void DropInbound(int fd);

    dplay::SessionDesc Desc() const;
    dplay::PlayerRecord PeerRecord(dp::DPID id, const Player& player) const;
    dplay::SpPlayerData HostSpData() const;
    std::string DisplayName(dp::DPID id) const;
    bool AnyRemotePlayer() const;

    // PeerSink
    dp::DPID AddPeer(const std::string& shortName,
                     const std::optional<std::string>& longName) override;
    void RemovePeer(dp::DPID id) override;
    void RenamePeer(dp::DPID id, const std::string& shortName) override;
    int SendToRemotePlayers(dp::DPID from, const std::vector<std::uint8_t>& data) override;
    void CloseSession() override;
    std::uint64_t MessagesSent() const override;

    DirectPlayHostOptions options_;
    int tcpListener_ = -1;
    int enumSocket_ = -1; // UDP options_.enumerationPort
    int udpSocket_ = -1;  // UDP options_.udpPort
    dp::GUID instance_{};
    dp::DPID nextPlayerId_ = 0x00A00001;
    dp::DPID systemPlayer_ = 0; // the host's own system player, the session's name server
    std::map<ClientKey, Client> clients_;
    std::map<int, Inbound> inbound_;
    std::map<dp::DPID, Player> players_;
    std::uint64_t messagesSent_ = 0;
    PeerSchedule peers_;
};

} // namespace session_host
