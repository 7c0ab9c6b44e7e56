// Reading the counter block back as another program does, and telling a user in one plain sentence
// the first thing in the chain from the relay to the simulator that is wrong: the relay, the
// simulator, the session, the messages, the simulator's answers. Nothing past the given bytes is
// ever read.
#pragma once

#include "traffic/relay_stats.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct RelayStatsReading {
    bool valid = false;  // the bytes hold a block of this layout
    std::string refusal; // why they do not, when not valid
    RelayStats stats{};  // the counters, when valid
};

// Decodes a counter block. Refuses fewer bytes than the header, another magic number, a layout
// version before this one, a size field below this layout's size and fewer bytes than it. A later
// version or a larger size is read: its first RelayStatsSize bytes hold the fields known here.
// Copies at most RelayStatsSize bytes.
RelayStatsReading ReadRelayStats(const std::uint8_t* bytes, std::size_t size);

// What a reader knows besides the block.
struct RelayStatsContext {
    const RelayStats* stats = nullptr; // null when there is no block
    bool processRunning = false;       // the block's process still exists
    std::uint64_t nowMs = 0;           // the reader's monotonic clock, the relay's time base
};

// The sentence naming the first broken link, or saying all is well.
std::string DiagnoseRelay(const RelayStatsContext& context);

// The counters, one topic per line, times as "N s ago".
std::string RenderRelayStats(const RelayStats& stats, std::uint64_t nowMs);

// One JSON object on one line, without a line end: the sentence and the counters (null when there
// is no block).
std::string RenderRelayStatsJson(const RelayStatsContext& context);
