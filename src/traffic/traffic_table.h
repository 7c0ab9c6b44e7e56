// The traffic table: the latest state of up to 30 other aircraft, keyed by their players' short
// names. The decoder fills it; the publication writes each entry into the simulator and into the
// shared block, and empties it after every fourth publication.
#pragma once

#include <cstddef>
#include <cstdint>

// One aircraft, 40 bytes, packed, little-endian. The same bytes are the record written into the
// simulator at offset 0x1F80, so the layout is a wire format.
#pragma pack(push, 1)
struct TrafficEntry {
    std::uint32_t id;           // |DirectPlay player id|, low 16 bits, zero-extended
    float latitude;             // degrees
    float longitude;            // degrees
    float altitude;             // feet
    std::uint16_t heading;      // full circle 65536; low 6 bits always zero
    std::uint16_t groundSpeed;  // knots, truncated toward zero, low 16 bits
    std::int16_t verticalSpeed; // truncated toward zero, low 16 bits read as signed
    char name[18];              // short name, NUL-terminated, zero filled after the terminator
};
#pragma pack(pop)

static_assert(sizeof(TrafficEntry) == 40);
static_assert(offsetof(TrafficEntry, id) == 0);
static_assert(offsetof(TrafficEntry, latitude) == 4);
static_assert(offsetof(TrafficEntry, longitude) == 8);
static_assert(offsetof(TrafficEntry, altitude) == 12);
static_assert(offsetof(TrafficEntry, heading) == 16);
static_assert(offsetof(TrafficEntry, groundSpeed) == 18);
static_assert(offsetof(TrafficEntry, verticalSpeed) == 20);
static_assert(offsetof(TrafficEntry, name) == 22);

inline constexpr std::size_t MaxTraffic = 30;   // entries and name slots
inline constexpr std::size_t NameSlotSize = 50; // bytes per name slot, terminator included
inline constexpr std::size_t EntryNameSize = sizeof(TrafficEntry::name);

struct TrafficTable {
    TrafficEntry entries[MaxTraffic]; // entries 0 to count - 1 are in use; written by RecordTraffic
    char names[MaxTraffic][NameSlotSize]; // slot i: the name of entry i, for lookups
    std::uint16_t count;                  // entries in use, 0 to 30
};

extern TrafficTable trafficTable;

// Stores one aircraft: updates the entry with that short name, or appends a new one.
void RecordTraffic(const char* shortName, std::int32_t playerId, float latitude, float longitude,
                   float altitude, std::uint16_t heading, float groundSpeed, float verticalSpeed);

// Empties the table: count 0, every entry and name slot zero.
void ResetTrafficTable();
