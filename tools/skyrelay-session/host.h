// skyrelay-session's host: one session offered over loopback TCP and over the unix socket that
// stands for IPX, the remote players who join it, and the peers it plays itself (synthetic or
// scripted). One thread, one poll loop.
#pragma once

#include "peers.h"
#include "platform/posix/session_wire.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace session_host {

struct HostOptions {
    std::uint16_t port = 0; // loopback TCP port
    std::string socketPath; // unix socket path (the IPX connection)
    int aircraft = 0;       // synthetic peers
    SpeedEncoding speedEncoding = SpeedEncoding::MetresPerSecond; // of the synthetic peers
    std::optional<Scenario> script; // replayed instead of synthetic peers
    int rate = DefaultPositionRate; // position messages a second from each synthetic peer
    bool stamp = false;             // synthetic vertical speeds carry the moment of sending
};

class Host : private PeerSink {
  public:
    explicit Host(HostOptions options);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Opens both listening sockets; false with a message if either fails.
    bool Listen(std::string& error);
    // Serves until stop becomes non-zero or a script's `end`; returns the exit status. Each time
    // `report` is non-zero it prints a status line and sets it back to zero.
    int Run(const volatile std::sig_atomic_t& stop, volatile std::sig_atomic_t& report);

  private:
    using Clock = std::chrono::steady_clock;

    struct Client {
        int fd = -1;
        std::vector<std::uint8_t> input;
        bool joined = false;
    };
    struct Player {
        posix::wire::PlayerName name;
        int clientFd = -1; // the remote client that created it; -1 for a peer played here
    };

    void Accept(int listener);
    void ReadClient(int fd);
    bool HandleFrame(Client& client, const posix::wire::Frame& frame);
    void DropClient(int fd);
    void Send(int fd, const posix::wire::Bytes& frame);
    void Broadcast(const posix::wire::Bytes& frame, int exceptFd);

    dp::DPID AddPlayer(posix::wire::PlayerName name, int clientFd);
    void RemovePlayer(dp::DPID id);
    bool AnyRemotePlayer() const;

    // PeerSink
    dp::DPID AddPeer(const std::string& shortName,
                     const std::optional<std::string>& longName) override;
    void RemovePeer(dp::DPID id) override;
    void RenamePeer(dp::DPID id, const std::string& shortName) override;
    int SendToRemotePlayers(dp::DPID from, const std::vector<std::uint8_t>& data) override;
    void CloseSession() override;
    std::uint64_t MessagesSent() const override;

    std::string DisplayName(dp::DPID id) const;
    // One line: clients, players, messages sent, and the bytes that wait in this host's buffers
    // and its sockets' send queues, unread by the clients.
    void ReportStatus() const;

    HostOptions options_;
    int tcpListener_ = -1;
    int unixListener_ = -1;
    bool ownsSocketPath_ = false;
    dp::GUID instance_{};
    std::map<int, Client> clients_;
    std::map<dp::DPID, Player> players_;
    dp::DPID nextPlayerId_ = 0x00A00001;
    std::uint64_t messagesSent_ = 0;
    PeerSchedule peers_;
};

} // namespace session_host
