// The "AIFile" block: the whole traffic picture in named shared memory for other programs on the
// same machine. The publication writes into a working copy in the process's own memory; every pump
// tick copies the working copy whole into the shared view. The relay never reads the block back.
#pragma once

#include "platform/types.h"
#include "traffic/traffic_table.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

// The block is an external format read by other programs: little-endian IEEE 754 floats and
// integers, stored as this host lays them out.
static_assert(std::endian::native == std::endian::little, "the AIFile block is little-endian");
static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4);

inline constexpr char SharedBlockName[] = "AIFile";
inline constexpr std::size_t SharedBlockSize = 28680;   // bytes: 8-byte header, 512 records
inline constexpr std::size_t SharedRecordSlots = 512;   // record slots in the block
inline constexpr std::size_t SharedRecordReserved = 32; // zero bytes at the end of a record
inline constexpr std::int32_t SharedStateNoPicture = 0; // `state` at start and after exit
inline constexpr std::int32_t SharedStatePublished = 2; // `state` once a picture is published

#pragma pack(push, 1)
// One aircraft as other programs read it, 56 bytes.
struct SharedTrafficRecord {
    float latitude;       // degrees, the entry's latitude bit for bit
    float longitude;      // degrees, the entry's longitude bit for bit
    float altitude;       // feet, the entry's altitude bit for bit
    float headingDegrees; // heading * 360 / 65535, in double precision, rounded once
    float groundSpeed;    // the entry's unsigned 16-bit ground speed
    float verticalSpeed;  // the entry's signed 16-bit vertical speed
    std::uint8_t reserved[SharedRecordReserved]; // zero
};

// The whole block, 28680 bytes.
struct SharedTrafficBlock {
    std::int32_t state;       // 0: no picture; 2: a picture has been published
    std::int32_t recordCount; // valid records at the front of `records`, 0 to 30
    SharedTrafficRecord records[SharedRecordSlots]; // slots 30 to 511 stay zero
};
#pragma pack(pop)

static_assert(sizeof(SharedTrafficRecord) == 56);
static_assert(offsetof(SharedTrafficRecord, latitude) == 0);
static_assert(offsetof(SharedTrafficRecord, longitude) == 4);
static_assert(offsetof(SharedTrafficRecord, altitude) == 8);
static_assert(offsetof(SharedTrafficRecord, headingDegrees) == 12);
static_assert(offsetof(SharedTrafficRecord, groundSpeed) == 16);
static_assert(offsetof(SharedTrafficRecord, verticalSpeed) == 20);
static_assert(offsetof(SharedTrafficRecord, reserved) == 24);
static_assert(sizeof(SharedTrafficBlock) == SharedBlockSize);
static_assert(offsetof(SharedTrafficBlock, state) == 0);
static_assert(offsetof(SharedTrafficBlock, recordCount) == 4);
static_assert(offsetof(SharedTrafficBlock, records) == 8);

// The working copy: all publication writes go here (28680 bytes; written by the publication, by
// EmptyPicture and by ReleaseSharedTrafficBlock; zeroed by ZeroWorkingBlock).
extern SharedTrafficBlock workingBlock;
// Handle of the "AIFile" mapping; null when none was opened or created (OpenSharedTrafficBlock).
extern plat::Mapping sharedMapping;
// Writable view of the whole mapping, at least SharedBlockSize bytes; null when there is none
// (OpenSharedTrafficBlock sets it, ReleaseSharedTrafficBlock clears it).
extern void* sharedView;

// The boxes of OpenSharedTrafficBlock (exclamation icon, the application's caption).
inline constexpr char NoMappingText[] = "No comunication file Mapping";
inline constexpr char NoViewText[] = "No comunication file view";

// Opens the existing "AIFile" mapping or creates a zero-filled one, and maps it. Shows "No
// comunication file Mapping" when there is no mapping and "No comunication file view" when it
// cannot be mapped or is smaller than the block; the relay goes on without a view in either case.
// Writes nothing into the view.
void OpenSharedTrafficBlock();

// Writes the shared record of one traffic entry into a slot, field by field; the reserved bytes
// become zero. (Built in place: a whole record assigned from a temporary costs the publication a
// stall on every slot.)
inline void PutSharedRecord(SharedTrafficRecord& slot, const TrafficEntry& entry) {
    slot.latitude = entry.latitude;
    slot.longitude = entry.longitude;
    slot.altitude = entry.altitude;
    // The scale is 360 / 65535 (not 65536), as the block's readers expect.
    slot.headingDegrees = static_cast<float>(static_cast<double>(entry.heading) * 360.0 / 65535.0);
    slot.groundSpeed = static_cast<float>(entry.groundSpeed);
    slot.verticalSpeed = static_cast<float>(entry.verticalSpeed);
    for (std::uint8_t& byte : slot.reserved)
        byte = 0;
}

// The shared record of one traffic entry; the reserved bytes are zero.
inline SharedTrafficRecord MakeSharedRecord(const TrafficEntry& entry) {
    SharedTrafficRecord record;
    PutSharedRecord(record, entry);
    return record;
}

// Writes the picture of an empty table into workingBlock: slot 0 = {89, 1, 1, 1, 1, 1}, state 2,
// recordCount 0. Slots 1 and above are left as they are.
void EmptyPicture();

// Copies all of workingBlock into the view, if there is one.
void CopyToSharedView();

// At exit: zeroes the header of workingBlock (records stay), copies it into the view, unmaps the
// view and closes the mapping. Returns the close result: non-zero on success, 0 on failure (also
// when no mapping was ever opened).
int ReleaseSharedTrafficBlock();

// Sets all 28680 bytes of workingBlock to zero (the end of the main dialog's initialisation).
void ZeroWorkingBlock();

// Back to the state of a freshly loaded process: workingBlock zero, no mapping, no view. Releases
// nothing.
void ResetSharedTrafficBlock();
