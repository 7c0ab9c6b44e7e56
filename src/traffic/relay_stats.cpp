#include "traffic/relay_stats.h"

#include "platform/app.h"
#include "platform/messaging.h"
#include "platform/shared_memory.h"
#include "state/relay_state.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <atomic>
#include <cstring>

RelayStats relayStats{};

namespace {

// The view of "SkyrelayStats", null when there is none.
void* statsView = nullptr;

// Timer 7's identifier while it runs, 0 otherwise.
plat::TimerId counterBlockTimerId = 0;

// The counters as the last update saw them, to stamp the time of what changed since.
struct SeenCounts {
    std::uint64_t messages;     // all session messages received
    std::uint32_t positions;    // relayStats.positionMessages
    std::uint32_t publications; // relayStats.publications
    std::uint32_t exchangesOk;  // relayStats.exchangesOk
    std::uint32_t joins;        // relayStats.joins
};
SeenCounts seen{};

// The totals at the last publication, for the counts of the next one.
struct PublishedCounts {
    std::uint32_t accepted;
    std::uint32_t slow;
    std::uint32_t tableFull;
    std::uint32_t other;
};
PublishedCounts atLastPublication{};

// The session's state before the running attempt, for an attempt that fails.
std::uint8_t sessionBeforeAttempt = RelaySessionNone;
std::uint64_t sessionSinceBeforeAttempt = 0;

std::uint32_t DroppedOther() {
    return relayStats.droppedTooShort + relayStats.droppedNoName + relayStats.droppedOwnName;
}

// Names heard, as 32-bit FNV-1a hashes in an open-addressed table; 0 marks a free slot. Once it is
// three-quarters full no further name is counted, so a lookup always ends.
constexpr std::size_t NameSlots = 1024;
constexpr std::uint32_t NameLimit = NameSlots * 3 / 4;
std::uint32_t nameHashes[NameSlots] = {};

std::uint64_t MessagesReceived() {
    return static_cast<std::uint64_t>(relayStats.positionMessages) +
           relayStats.sessionLostMessages + relayStats.hostMessages +
           relayStats.simulatorEndMessages + relayStats.refusedMessages + relayStats.otherMessages;
}

// The view's sequence word, stored as one 32-bit word.
volatile std::uint32_t* SequenceWord(void* view) {
    return reinterpret_cast<volatile std::uint32_t*>(static_cast<std::uint8_t*>(view) +
                                                     offsetof(RelayStats, sequence));
}

// Opens the block into statsView. A block taken over keeps its sequence word counting up from
// where the relay before left it, so that a reader copying it across the take-over sees the word
// change.
bool TakeCounterBlock() {
    statsView = plat::OpenCounterBlock(RelayStatsBlockName, RelayStatsSize);
    if (statsView == nullptr)
        return false;
    std::uint32_t left = *SequenceWord(statsView);
    relayStats.sequence = left + (left & 1u);
    return true;
}

} // namespace

void WriteRelayStatsView(void* view, RelayStats& record) {
    auto* bytes = static_cast<std::uint8_t*>(view);
    const auto* from = reinterpret_cast<const std::uint8_t*>(&record);
    constexpr std::size_t word = offsetof(RelayStats, sequence);
    constexpr std::size_t after = word + sizeof record.sequence;
    *SequenceWord(view) = record.sequence + 1;
    std::atomic_thread_fence(std::memory_order_release);
    std::memcpy(bytes, from, word);
    std::memcpy(bytes + after, from + after, sizeof record - after);
    // The fields must be in the view before the even word says they are complete: without this
    // fence the compiler (or the processor) may store the word before the copies, and a reader
    // would accept a copy that mixes two updates.
    std::atomic_thread_fence(std::memory_order_release);
    record.sequence += 2;
    *SequenceWord(view) = record.sequence;
}

void OpenRelayStats() {
    relayStats.magic = RelayStatsMagic;
    relayStats.version = RelayStatsVersion;
    relayStats.size = static_cast<std::uint32_t>(RelayStatsSize);
    relayStats.processId = plat::ProcessId();
    relayStats.startMs = plat::MonotonicMilliseconds();
    relayStats.running = 1;
    if (!TakeCounterBlock() && mainDialog != nullptr)
        counterBlockTimerId = plat::StartTimer(mainDialog, CounterBlockTimer, CounterBlockRetryMs,
                                               OnCounterBlockTimer);
    PublishRelayStats();
}

void OnCounterBlockTimer() {
    if (statsView != nullptr || !TakeCounterBlock())
        return;
    plat::StopTimer(mainDialog, counterBlockTimerId);
    counterBlockTimerId = 0;
    PublishRelayStats();
}

void PublishRelayStats() {
    std::uint64_t now = plat::MonotonicMilliseconds();
    relayStats.lastUpdateMs = now;
    std::uint64_t messages = MessagesReceived();
    if (messages != seen.messages)
        relayStats.lastMessageMs = now;
    if (relayStats.publications != seen.publications)
        relayStats.lastPublishMs = now;
    if (relayStats.exchangesOk != seen.exchangesOk)
        relayStats.lastExchangeMs = now;
    if (relayStats.joins != seen.joins)
        relayStats.lastJoinMs = now;
    if (relayStats.positionMessages != seen.positions)
        relayStats.lastPositionMs = now;
    seen = SeenCounts{messages, relayStats.positionMessages, relayStats.publications,
                      relayStats.exchangesOk, relayStats.joins};

    relayStats.simDetected = relayState.simDetected != 0 ? 1 : 0;
    relayStats.connected = relayState.connected != 0 ? 1 : 0;
    relayStats.searching = relayState.searching != 0 ? 1 : 0;
    relayStats.inSession = sessionObject != nullptr && relayState.searching == 0 &&
                                   relayState.connected != 0 && relayState.sessionEnded == 0
                               ? 1
                               : 0;
    relayStats.usingSquawkBox = relayState.usingSquawkBox != 0 ? 1 : 0;
    relayStats.manualConnectOnly = relayState.manualConnectOnly != 0 ? 1 : 0;
    relayStats.useIpx = relayState.useIpx != 0 ? 1 : 0;
    relayStats.linkFailureCount = relayState.linkFailureCount;
    relayStats.aircraftInTable = trafficTable.count;
    relayStats.usingSquawkBoxRaw = relayState.usingSquawkBox;
    relayStats.manualConnectOnlyRaw = relayState.manualConnectOnly;
    relayStats.aifileView = sharedView != nullptr ? 1 : 0;
    if (statsView != nullptr)
        WriteRelayStatsView(statsView, relayStats);
}

void ReleaseRelayStats() {
    if (counterBlockTimerId != 0)
        plat::StopTimer(mainDialog, counterBlockTimerId);
    counterBlockTimerId = 0;
    PublishRelayStats();
    relayStats.running = 0;
    if (statsView != nullptr) {
        WriteRelayStatsView(statsView, relayStats);
        plat::CloseCounterBlock(statsView);
    }
    statsView = nullptr;
}

void NoteTimer(unsigned timerId, bool running) {
    std::uint8_t bit = timerId == DetectTimer        ? RelayTimerDetection
                       : timerId == AutoConnectTimer ? RelayTimerAutoConnect
                       : timerId == PumpTimer        ? RelayTimerPump
                                                     : 0;
    if (running)
        relayStats.timersRunning |= bit;
    else
        relayStats.timersRunning &= static_cast<std::uint8_t>(~bit);
}

namespace {

void SetLinkState(std::uint8_t state) {
    if (relayStats.linkState == state)
        return;
    relayStats.linkState = state;
    relayStats.linkSinceMs = plat::MonotonicMilliseconds();
}

} // namespace

void NoteLinkFound() {
    SetLinkState(RelayLinkOpen);
}

void NoteLinkFailure(std::int32_t result, std::uint32_t systemError, bool exchange) {
    relayStats.linkLastResult = result;
    relayStats.linkLastSystemError = systemError;
    relayStats.linkLastFailureMs = plat::MonotonicMilliseconds();
    if (!exchange)
        return;
    relayStats.lastSendError = systemError;
    SetLinkState(RelayLinkFailing);
}

void NoteLinkStopped() {
    if (relayStats.linkState == RelayLinkNeverFound)
        SetLinkState(RelayLinkStopped);
}

void NoteExchangeOk() {
    relayStats.lastExchangeOkMs = plat::MonotonicMilliseconds();
    SetLinkState(RelayLinkOpen);
}

void NoteExchangeStarting(std::uint16_t aircraft, std::uint16_t of) {
    relayStats.waitSinceMs = plat::MonotonicMilliseconds();
    relayStats.waitAircraft = aircraft;
    relayStats.waitOf = of;
    PublishRelayStats();
}

void NoteExchangeEnded() {
    relayStats.waitSinceMs = 0;
    relayStats.waitAircraft = 0;
    relayStats.waitOf = 0;
}

void NoteAttemptStarting() {
    sessionBeforeAttempt = relayStats.sessionState;
    sessionSinceBeforeAttempt = relayStats.sessionSinceMs;
    relayStats.sessionState = RelaySessionAttempting;
    relayStats.sessionSinceMs = plat::MonotonicMilliseconds();
    PublishRelayStats();
}

void NoteAttemptEnded(bool joined) {
    if (joined) {
        // The next publication counts what this session brought, not the last one's rest.
        atLastPublication = PublishedCounts{relayStats.positionsRecorded, relayStats.droppedSlow,
                                            relayStats.droppedTableFull, DroppedOther()};
        relayStats.sessionState = RelaySessionJoined;
        relayStats.sessionSinceMs = plat::MonotonicMilliseconds();
        relayStats.sessionEnding = 0;
    } else if (sessionBeforeAttempt == RelaySessionJoined) {
        // Every attempt releases the object of the session it was in: a failed one leaves it.
        relayStats.sessionState = RelaySessionNone;
        relayStats.sessionSinceMs = plat::MonotonicMilliseconds();
    } else {
        relayStats.sessionState = sessionBeforeAttempt;
        relayStats.sessionSinceMs = sessionSinceBeforeAttempt;
    }
}

void NoteSessionEnded(std::uint32_t type) {
    relayStats.sessionState = RelaySessionEnded;
    relayStats.sessionSinceMs = plat::MonotonicMilliseconds();
    relayStats.sessionEnding = type;
}

void NotePublication(std::uint32_t aircraft) {
    for (std::size_t i = RelayRecentPublications - 1; i > 0; --i)
        relayStats.recent[i] = relayStats.recent[i - 1];
    PublishedCounts now{relayStats.positionsRecorded, relayStats.droppedSlow,
                        relayStats.droppedTableFull, DroppedOther()};
    relayStats.recent[0] = RelayPublication{plat::MonotonicMilliseconds(),
                                            aircraft,
                                            now.accepted - atLastPublication.accepted,
                                            now.slow - atLastPublication.slow,
                                            now.tableFull - atLastPublication.tableFull,
                                            now.other - atLastPublication.other};
    atLastPublication = now;
    if (relayStats.recentPublications < RelayRecentPublications)
        ++relayStats.recentPublications;
}

void CountNameHeard(const char* shortName) {
    std::uint32_t hash = 2166136261u;
    for (const char* c = shortName; *c != '\0'; ++c)
        hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    if (hash == 0)
        hash = 1; // 0 marks a free slot
    for (std::size_t slot = hash % NameSlots;; slot = (slot + 1) % NameSlots) {
        if (nameHashes[slot] == hash)
            return;
        if (nameHashes[slot] == 0) {
            if (relayStats.namesHeard >= NameLimit)
                return;
            nameHashes[slot] = hash;
            ++relayStats.namesHeard;
            return;
        }
    }
}

void ResetRelayStats() {
    relayStats = RelayStats{};
    statsView = nullptr;
    counterBlockTimerId = 0;
    seen = SeenCounts{};
    atLastPublication = PublishedCounts{};
    sessionBeforeAttempt = RelaySessionNone;
    sessionSinceBeforeAttempt = 0;
    std::memset(nameHashes, 0, sizeof nameHashes);
}
