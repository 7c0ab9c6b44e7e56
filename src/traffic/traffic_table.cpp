#include "traffic/traffic_table.h"

#include "traffic/relay_stats.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

TrafficTable trafficTable{};

namespace {

// A float into a 16-bit field: truncated toward zero, keeping the low 16 bits. Values that are not
// finite have no integer part to keep and store 0.
std::uint16_t TruncateToLow16(float value) {
    if (!std::isfinite(value))
        return 0;
    double whole = std::fmod(std::trunc(static_cast<double>(value)), 65536.0);
    return static_cast<std::uint16_t>(static_cast<std::int64_t>(whole) & 0xFFFF);
}

// The name as stored: cut to what the entry's name field holds, so that the lookup, the name slot
// and the entry all agree on one spelling.
void StoredName(const char* shortName, char (&out)[EntryNameSize]) {
    std::memset(out, 0, sizeof out);
    if (shortName != nullptr)
        std::strncpy(out, shortName, EntryNameSize - 1);
}

void WriteEntry(TrafficEntry& entry, const char (&name)[EntryNameSize], std::int32_t playerId,
                float latitude, float longitude, float altitude, std::uint16_t heading,
                float groundSpeed, float verticalSpeed) {
    std::memcpy(entry.name, name, EntryNameSize);
    std::int64_t absoluteId = std::llabs(static_cast<std::int64_t>(playerId));
    entry.id = static_cast<std::uint32_t>(absoluteId & 0xFFFF);
    entry.latitude = latitude;
    entry.longitude = longitude;
    entry.altitude = altitude;
    entry.heading = heading;
    entry.groundSpeed = TruncateToLow16(groundSpeed);
    entry.verticalSpeed = static_cast<std::int16_t>(TruncateToLow16(verticalSpeed));
}

} // namespace

void RecordTraffic(const char* shortName, std::int32_t playerId, float latitude, float longitude,
                   float altitude, std::uint16_t heading, float groundSpeed, float verticalSpeed) {
    char name[EntryNameSize];
    StoredName(shortName, name);

    // Every slot is compared, in use or not: an empty name therefore meets the first free slot.
    for (std::size_t i = 0; i < MaxTraffic; ++i) {
        if (std::strcmp(trafficTable.names[i], name) == 0) {
            WriteEntry(trafficTable.entries[i], name, playerId, latitude, longitude, altitude,
                       heading, groundSpeed, verticalSpeed);
            ++relayStats.positionsRecorded;
            return;
        }
    }

    // A further aircraft once all 30 entries are taken is dropped until the next emptying.
    if (trafficTable.count >= MaxTraffic) {
        ++relayStats.droppedTableFull;
        return;
    }
    std::size_t index = trafficTable.count;
    std::memcpy(trafficTable.names[index], name, EntryNameSize);
    WriteEntry(trafficTable.entries[index], name, playerId, latitude, longitude, altitude, heading,
               groundSpeed, verticalSpeed);
    ++trafficTable.count;
    ++relayStats.positionsRecorded;
}

void ResetTrafficTable() {
    trafficTable.count = 0;
    std::memset(trafficTable.entries, 0, sizeof trafficTable.entries);
    std::memset(trafficTable.names, 0, sizeof trafficTable.names);
}
