// Reading the counter block back as another program does, and telling a user in one plain sentence
// the first thing in the chain from the relay to the simulator that is wrong: the relay, the
// simulator, the session, the messages, the simulator's answers. Nothing past the given bytes is
// ever read.
#pragma once

#include "traffic/relay_stats.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

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

// How many copies a reader takes of a block the relay keeps changing before it gives up.
inline constexpr int RelayStatsCopyAttempts = 5;

// Copies a live block (a view of viewSize bytes) into `bytes`, at most RelayStatsSize of them, so
// that the copy holds one update: the sequence word is read before and after each copy, and a copy
// is kept only when the word was even and the same both times. Up to RelayStatsCopyAttempts
// copies are taken, with `pause` (when given) between them; when every one saw the word change or
// odd, returns false with *refusal saying so. A view too small to hold the word is copied once as
// it is (ReadRelayStats refuses it).
bool CopyRelayStats(const void* view, std::size_t viewSize, std::vector<std::uint8_t>& bytes,
                    std::string* refusal, void (*pause)() = nullptr);

// What a reader knows besides the block.
struct RelayStatsContext {
    const RelayStats* stats = nullptr; // null when there is no block
    bool processRunning = false;       // the block's process still exists
    std::uint64_t nowMs = 0;           // the reader's monotonic clock, the relay's time base
};

// The sentence naming the first thing wrong now, in the order a user would check: the relay runs,
// the simulator is found, the relay is in a session, it hears position messages, it keeps some of
// them, the simulator takes them; or all is well.
std::string DiagnoseRelay(const RelayStatsContext& context);

// A line on trouble that has passed (link failures, failed exchanges, while the exchanges
// succeed now), or "" when there is none or the sentence is about it.
std::string DiagnosisDetail(const RelayStatsContext& context);

// The counters, one topic per line, times as "N s ago".
std::string RenderRelayStats(const RelayStats& stats, std::uint64_t nowMs);

// One JSON object on one line, without a line end: the sentence and the counters (null when there
// is no block).
std::string RenderRelayStatsJson(const RelayStatsContext& context);

// One kind of sentence the diagnosis gives: a stable id and a piece of plain text that every
// sentence of that kind contains, and no sentence of another kind does.
struct DiagnosisKind {
    const char* id;
    const char* phrase;
};

// Every kind of sentence, in the order of the chain the diagnosis follows.
std::span<const DiagnosisKind> DiagnosisKinds();
