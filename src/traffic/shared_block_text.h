// Reading the "AIFile" block back as another program does: the bytes of a block, however many
// there are, become the header, the first `recordCount` records and plain warnings about anything
// the relay never writes, then a table for people or one line of JSON for scripts. Nothing past the
// given bytes is ever read.
#pragma once

#include "traffic/shared_block.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SharedBlockReading {
    bool hasHeader = false;                   // the bytes hold the 8-byte header
    std::int32_t state = 0;                   // the header's state, when present
    std::int32_t recordCount = 0;             // the header's recordCount, when present
    std::vector<SharedTrafficRecord> records; // the records shown: the first recordCount that fit
    std::vector<std::string> warnings;        // what does not look like a block the relay wrote
};

// Decodes a block from its bytes: the header when there are at least 8 bytes, then the first
// recordCount records, never more than the 512 slots and never past the end of the bytes.
SharedBlockReading ReadSharedBlock(const std::uint8_t* bytes, std::size_t size);

// The aligned table: a header line with the block's name, state and recordCount, a column line,
// one line per record, then one "warning: " line per warning.
std::string RenderSharedBlockTable(const SharedBlockReading& reading, const std::string& name);

// One JSON object on one line, without a line end: state, recordCount (null without a header),
// records (latitude, longitude, altitude, headingDegrees, groundSpeed, verticalSpeed; a value that
// is not finite is null) and warnings.
std::string RenderSharedBlockJson(const SharedBlockReading& reading);
