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

// What a send to the simulator's window fails with, as the system reports it.
inline constexpr std::uint32_t SendErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t SendErrorInvalidWindowHandle = 1400; // ERROR_INVALID_WINDOW_HANDLE

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

// One kind of sentence the diagnosis gives: a stable id and a piece of plain text that every
// sentence of that kind contains, and no sentence of another kind does.
struct DiagnosisKind {
    const char* id;
    const char* phrase;
};

// Every kind of sentence, in the order of the chain the diagnosis follows.
std::span<const DiagnosisKind> DiagnosisKinds();

// What the reader sees of the world itself: whether a simulator window is there now.
enum class SimulatorWindow { Unknown, Present, Absent };

// What a reader knows besides the block.
struct RelayStatsContext {
    const RelayStats* stats = nullptr; // null when there is no block
    bool processRunning = false;       // the block's relay is live (its process, its lock)
    std::uint64_t nowMs = 0;           // the reader's monotonic clock, the relay's time base
    SimulatorWindow simulatorWindow = SimulatorWindow::Unknown;
};

// One thing a sentence states as true now; the numbers are the claim's own.
enum class ClaimKind {
    RelayNotRunning,        // no live relay
    SimulatorNotFound,      // the link has never opened
    LookingForSimulator,    // the detection timer runs
    NotLookingForSimulator, // it does not
    RightsDiffer,           // the simulator refuses Skyrelay's messages for its rights
    WindowGone,             // the window the link found is gone
    SimulatorWindowNow,     // a: 1 a simulator window is there now, 0 none
    WaitingForSimulator,    // in an exchange now: a the aircraft, b of how many (0 of 0: handshake)
    SimulatorNotAnswering,  // the last exchange with it got no answer
    SimulatorRefuses,       // the last exchange with it got a wrong answer
    SimulatorTakesTraffic,  // the last exchange with it succeeded (or none was made)
    AttemptRunning,         // a join attempt runs now
    AutomaticAttempts,      // a timer runs that makes join attempts
    NoAutomaticAttempts,    // none does
    NotInSession,           // the relay has no player in a session
    SessionEnded,           // a: the type of the message that ended the last session
    InSession,              // joined, and no ending heard
    SilentFor,              // a: seconds without a position message, up to the block's update
    HeardLately,            // a position message arrived in the last 10 s, up to the update
    NoneShown,              // none kept lately; a: 0 slow, 1 table full, 2 other; b: 1 all so
    NoPictureView,          // the relay has no view of "AIFile"
    Published,              // a: aircraft in the last picture
    TimersRunning,          // (detail) a: the timers that run, RelayTimer* bits
    Options,                // (detail) a: UsingSB's value, b: ManualConnect's value
};

struct Claim {
    ClaimKind kind;
    std::int64_t a = 0;
    std::int64_t b = 0;
};

struct Diagnosis {
    const DiagnosisKind* kind = nullptr; // one of DiagnosisKinds()
    std::string sentence;                // plain words, no codes
    std::string detail;                  // the facts behind it, codes included
    std::vector<Claim> claims;           // what the sentence states
};

// The first broken link of the chain simulator -> session -> messages -> aircraft -> publication,
// from the block's facts alone, the age of its lastUpdateMs on the reader's clock (the only use of
// that clock) and what the reader sees of the simulator's window. `live`: the block's relay runs.
Diagnosis Diagnose(const RelayStats* stats, bool live, std::uint64_t updateAgeMs,
                   SimulatorWindow window);
Diagnosis Diagnose(const RelayStatsContext& context);

// The sentence for a counter block that could not be read, with the reason.
std::string RefusedSentence(const std::string& refusal);

// Diagnose(context).sentence and .detail.
std::string DiagnoseRelay(const RelayStatsContext& context);
std::string DiagnosisDetail(const RelayStatsContext& context);

// The counters, one topic per line, times as "N s ago".
std::string RenderRelayStats(const RelayStats& stats, std::uint64_t nowMs);

// One JSON object on one line, without a line end: the sentence and the counters (null when there
// is no block).
std::string RenderRelayStatsJson(const RelayStatsContext& context);
