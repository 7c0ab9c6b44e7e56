// The peers a host plays itself: synthetic ones flying circles (--aircraft N) or the ones of a
// replayed script (--scenario FILE). Each hosting mode puts them into its session through a
// PeerSink; their schedule and the lines printed about them are the same in every mode.
#pragma once

#include "platform/directplay.h"
#include "scenario.h"
#include "synthetic.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace session_host {

// The session every hosting mode offers.
inline constexpr const char* SessionName = "Skyrelay session";
inline constexpr dp::GUID ApplicationGuid{
    0x5A1E0F40, 0x3C2B, 0x4E77, {0x9B, 0x14, 0x46, 0x53, 0x32, 0x30, 0x30, 0x32}};
// A new session instance.
dp::GUID RandomGuid();

// One line on stdout per event, flushed at once so that a reader on a pipe sees it.
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What a hosting mode does for the peers played here.
class PeerSink {
  public:
    virtual ~PeerSink() = default;
    // Adds a peer to the session and announces it; its player id.
    virtual dp::DPID AddPeer(const std::string& shortName,
                             const std::optional<std::string>& longName) = 0;
    virtual void RemovePeer(dp::DPID id) = 0;
    // Gives a peer a new short name (its long name stays) and announces the change.
    virtual void RenamePeer(dp::DPID id, const std::string& shortName) = 0;
    // Sends a message from a peer (from id 0: a system message) to every remote player; returns
    // how many got it.
    virtual int SendToRemotePlayers(dp::DPID from, const std::vector<std::uint8_t>& data) = 0;
    // Ends the session for every client.
    virtual void CloseSession() = 0;
    virtual std::uint64_t MessagesSent() const = 0;
};

// Position messages a second from each synthetic peer, unless told otherwise.
inline constexpr int DefaultPositionRate = 5;

// A raw vertical speed that a relay decodes to the whole number `milliseconds` mod 32768, so that
// a reader of what the relay publishes can tell when the message left (steady clock, in ms).
std::uint32_t StampedVerticalSpeed(std::int64_t milliseconds);

class PeerSchedule {
  public:
    using Clock = std::chrono::steady_clock;

    // rate: position messages a second from each synthetic peer. stamp: their vertical speed
    // carries the moment of sending instead (see StampedVerticalSpeed).
    PeerSchedule(int aircraft, SpeedEncoding encoding, std::optional<Scenario> script,
                 int rate = DefaultPositionRate, bool stamp = false);

    // Adds the synthetic peers; their flight starts now.
    void Start(PeerSink& sink, Clock::time_point now);
    // The first remote player has joined: the script starts.
    void FirstRemotePlayerJoined(Clock::time_point now);
    // Flies the synthetic peers and runs the script's commands that are due; false once the
    // script has ended the session.
    bool Tick(PeerSink& sink, Clock::time_point now);

  private:
    void TickSynthetic(PeerSink& sink, Clock::time_point now);
    bool StepScript(PeerSink& sink, Clock::time_point now);

    int aircraft_;
    SpeedEncoding speedEncoding_;
    Clock::duration positionPeriod_;
    bool stamp_;
    std::optional<Scenario> script_;

    std::vector<SyntheticPeer> synthetic_;
    std::vector<dp::DPID> syntheticIds_;
    Clock::time_point flightStart_;
    Clock::time_point nextPositions_;
    Clock::time_point nextCountReport_;
    std::uint64_t reportedCount_ = 0;

    std::size_t scriptCursor_ = 0;
    bool scriptStarted_ = false;
    bool scriptFinished_ = false;
    Clock::time_point scriptDue_;
    std::map<std::string, dp::DPID> scriptPeers_;
};

} // namespace session_host
