#include "synthetic.h"

#include <cmath>
#include <numbers>

namespace session_host {
namespace {

constexpr double CentreLatitude = 47.4502;    // degrees north
constexpr double CentreLongitude = -122.3088; // degrees east
constexpr double MetresPerDegree = 111320.0;
constexpr double KnotsPerMetrePerSecond = 1.9438461717893492;
constexpr double SquawkBoxSpeedDivisor = 127391.90271438679; // the relay's: raw / this x 1.1
constexpr double SquawkBoxSpeedFactor = 1.1;
constexpr double LatitudeUnitsPerCircle = 40007000.0;
constexpr double LongitudeUnitsPerCircle = 4294967296.0;

std::uint32_t Signed(double value) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(value)));
}

} // namespace

std::vector<SyntheticPeer> MakeSyntheticPeers(int count) {
    std::vector<SyntheticPeer> peers;
    for (int i = 0; i < count; ++i) {
        SyntheticPeer peer;
        peer.name = "SR" + std::to_string(i + 1);
        bool slow = i % 5 == 3;
        peer.speedKnots = slow ? 8.0 + (i % 3) * 6.0 : 60.0 + (i * 37) % 240;
        peer.altitudeMetres = slow ? 130.0 : 300.0 + (i * 457) % 3300;
        peer.centreLatitude = CentreLatitude + (i % 7 - 3) * 0.03;
        peer.centreLongitude = CentreLongitude + (i % 5 - 2) * 0.04;
        // A full circle takes about two minutes, whatever the speed.
        double metresPerSecond = peer.speedKnots / KnotsPerMetrePerSecond;
        peer.radiusMetres = metresPerSecond * 120.0 / (2.0 * std::numbers::pi);
        peer.startAngle = i * 0.7;
        peers.push_back(peer);
    }
    return peers;
}

PositionFields SyntheticPosition(const SyntheticPeer& peer, double seconds,
                                 SpeedEncoding encoding) {
    double metresPerSecond = peer.speedKnots / KnotsPerMetrePerSecond;
    double angle = peer.startAngle + metresPerSecond * seconds / peer.radiusMetres;
    double north = peer.radiusMetres * std::cos(angle);
    double east = peer.radiusMetres * std::sin(angle);
    double latitude = peer.centreLatitude + north / MetresPerDegree;
    double longitude =
        peer.centreLongitude +
        east / (MetresPerDegree * std::cos(peer.centreLatitude * std::numbers::pi / 180.0));
    // Flying clockwise, the track is a quarter turn ahead of the angle from the centre.
    double heading = std::fmod(angle * 180.0 / std::numbers::pi + 90.0, 360.0);
    if (heading < 0)
        heading += 360.0;

    PositionFields fields;
    double rawSpeed = encoding == SpeedEncoding::SquawkBox
                          ? peer.speedKnots * SquawkBoxSpeedDivisor / SquawkBoxSpeedFactor
                          : metresPerSecond * 65536.0;
    fields.groundSpeed = static_cast<std::uint32_t>(std::lround(rawSpeed));
    fields.verticalSpeed = 0;
    fields.headingWord = (static_cast<std::uint32_t>(heading / 360.0 * 1024.0) & 0x3FFu) << 2;
    fields.latitude = Signed(latitude * LatitudeUnitsPerCircle / 360.0);
    fields.longitude = Signed(longitude * LongitudeUnitsPerCircle / 360.0);
    double whole = std::floor(peer.altitudeMetres);
    fields.altitudeMetres = Signed(whole);
    fields.altitudeFraction = static_cast<std::uint16_t>((peer.altitudeMetres - whole) * 65536.0);
    return fields;
}

} // namespace session_host
