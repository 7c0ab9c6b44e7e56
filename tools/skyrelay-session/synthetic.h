// The synthetic peers of `--aircraft N`: each flies a level circle near one point at a speed and
// altitude of its own. Portable code.
#pragma once

#include "scenario.h"

#include <string>
#include <vector>

namespace session_host {

struct SyntheticPeer {
    std::string name;       // short name, distinct for each peer
    double centreLatitude;  // degrees
    double centreLongitude; // degrees
    double radiusMetres;    // of the circle
    double speedKnots;      // ground speed
    double altitudeMetres;  // above sea level
    double startAngle;      // radians, clockwise from north, at time 0
};

// Peers 1..count. Every fifth (the 4th, 9th, ...) flies below 30 knots, so the relay never
// shows it.
std::vector<SyntheticPeer> MakeSyntheticPeers(int count);

// How a peer's simulator puts its ground speed into the message: metres per second with 16
// fractional bits, or the scale of SquawkBox peers (what the relay decodes with "Using SquawkBox").
enum class SpeedEncoding { MetresPerSecond, SquawkBox };

// The peer's position message fields after `seconds` of flight.
PositionFields SyntheticPosition(const SyntheticPeer& peer, double seconds,
                                 SpeedEncoding encoding = SpeedEncoding::MetresPerSecond);

} // namespace session_host
