// The relay's counters: what happened to every message and every exchange, and the relay's state,
// in a second named shared block, "SkyrelayStats", so that another program can tell a user why no
// aircraft show. The counters are plain fields of one process-wide record that the deciding code
// increments; the record is the block's working copy and reaches the shared view at the same
// points as "AIFile" does, and whenever the relay's state changes. Nothing here shows anything:
// when the block cannot be had, the relay runs on without it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "the counter block is little-endian");

inline constexpr char RelayStatsBlockName[] = "SkyrelayStats";
inline constexpr std::uint32_t RelayStatsMagic = 0x54534B53; // the bytes "SKST"
inline constexpr std::uint32_t RelayStatsVersion = 3;
inline constexpr std::size_t RelayStatsSize = 432;        // bytes in layout version 3
inline constexpr std::size_t RelayStatsResultCodes = 16;  // simulator link result codes 0 to 15
inline constexpr std::size_t RelayRecentPublications = 4; // publications whose counts are kept

// The simulator link as the relay knows it (RelayStats::linkState).
inline constexpr std::uint8_t RelayLinkNeverFound = 0; // not found since the start; looking
inline constexpr std::uint8_t RelayLinkOpen = 1;       // found; the last exchange succeeded
inline constexpr std::uint8_t RelayLinkFailing = 2;    // found; the exchanges fail since then
inline constexpr std::uint8_t RelayLinkStopped = 3;    // never found, and no longer looked for

// The relay's place in a session (RelayStats::sessionState).
inline constexpr std::uint8_t RelaySessionNone = 0;       // never joined since the start
inline constexpr std::uint8_t RelaySessionAttempting = 1; // a join attempt is running
inline constexpr std::uint8_t RelaySessionJoined = 2;     // joined, no ending heard
inline constexpr std::uint8_t RelaySessionEnded = 3;      // a session-ending message arrived

// The main dialog's timers (bits of RelayStats::timersRunning).
inline constexpr std::uint8_t RelayTimerDetection = 1;   // timer 1, every 2 s
inline constexpr std::uint8_t RelayTimerAutoConnect = 2; // timer 5, every 6 s
inline constexpr std::uint8_t RelayTimerPump = 4;        // timer 2, every 330 ms

#pragma pack(push, 1)
// What one publication of the table saw since the one before it (or since the join).
struct RelayPublication {
    std::uint64_t atMs;             // ms, when it was published
    std::uint32_t aircraft;         // aircraft in the published picture
    std::uint32_t accepted;         // positions stored in the table since the publication before
    std::uint32_t droppedSlow;      // positions dropped at 30 knots or less since then
    std::uint32_t droppedTableFull; // positions of a 31st aircraft since then
    std::uint32_t droppedOther;     // too short, no sender name or the user's own name, since then
};
static_assert(sizeof(RelayPublication) == 28);

// The block, 432 bytes. Times are the system's monotonic clock in milliseconds (CLOCK_MONOTONIC
// on Linux, the performance counter on Windows), 0 when the event has not happened.
struct RelayStats {
    std::uint32_t magic;            // RelayStatsMagic; written by OpenRelayStats
    std::uint32_t version;          // RelayStatsVersion; written by OpenRelayStats
    std::uint32_t size;             // RelayStatsSize; written by OpenRelayStats
    std::uint32_t processId;        // the relay's process id; written by OpenRelayStats
    std::uint64_t startMs;          // ms, when the block was opened; written by OpenRelayStats
    std::uint64_t lastUpdateMs;     // ms, the last PublishRelayStats
    std::uint64_t lastMessageMs;    // ms, the first update after a session message arrived
    std::uint64_t lastPublishMs;    // ms, the first update after a publication
    std::uint64_t lastExchangeMs;   // ms, the first update after a successful exchange
    std::uint64_t lastJoinMs;       // ms, the first update after a join succeeded
    std::uint8_t running;           // 1 while the relay runs, 0 after its exit; PublishRelayStats
    std::uint8_t simDetected;       // relayState.simDetected at the last update
    std::uint8_t connected;         // relayState.connected at the last update
    std::uint8_t inSession;         // 1 while joined and no session-ending message has arrived
    std::uint8_t searching;         // relayState.searching at the last update
    std::uint8_t usingSquawkBox;    // option "Using SquawkBox" at the last update
    std::uint8_t manualConnectOnly; // option "Manual connect only" at the last update
    std::uint8_t useIpx;            // transport of the last attempt: 0 TCP/IP, 1 IPX/SPX
    std::uint16_t linkFailureCount; // relayState.linkFailureCount at the last update, 0 to 3
    std::uint16_t aircraftInTable;  // trafficTable.count at the last update, 0 to 30
    std::uint32_t lastEnding;       // type of the last session-ending message, 0 for none
    std::uint32_t attemptsTcp;      // join attempts over TCP/IP; counted by the scheduler
    std::uint32_t attemptsIpx;      // join attempts over IPX/SPX; counted by the scheduler
    std::uint32_t attemptsFailed;   // attempts that created no player; counted by the scheduler
    std::uint32_t joins;            // attempts that joined; counted by the scheduler
    std::uint32_t positionMessages; // type 4121 received; counted by the drain
    std::uint32_t sessionLostMessages;  // type 49 received; counted by the drain
    std::uint32_t hostMessages;         // type 257 received; counted by the drain
    std::uint32_t simulatorEndMessages; // type 4118 received; counted by the drain
    std::uint32_t refusedMessages;      // type 4102 received; counted by the drain
    std::uint32_t otherMessages;        // any other type, or under 4 bytes; counted by the drain
    std::uint64_t bytesReceived;        // bytes of all received messages; counted by the drain
    std::uint32_t droppedTooShort;      // under 58 bytes (or no session to ask); the decoder
    std::uint32_t droppedNoName;        // senders without a usable short name; the decoder
    std::uint32_t droppedOwnName;       // senders named like the user; the decoder
    std::uint32_t droppedSlow;          // 30 knots or less; the decoder
    std::uint32_t droppedTableFull;     // a 31st aircraft; the traffic table
    std::uint32_t positionsRecorded;    // positions stored in the table; the traffic table
    std::uint32_t namesHeard;           // distinct other pilots' names since start; the decoder
    std::uint32_t publications;         // publications; counted by the pump
    std::uint32_t exchangesOk;          // exchanges with the simulator that succeeded; the pump
    std::uint32_t exchangesFailed[RelayStatsResultCodes]; // failed exchanges by result code
    std::int32_t lastExchangeResult; // result code of the last exchange, 0 for Ok
    std::uint32_t sequence;          // odd while the relay writes the block, even between writes
    std::uint32_t lastSendError;     // system error of the last failed send to the simulator, or 0
    // The facts of layout 3, each with the relay-clock time it became true.
    std::uint8_t linkState;      // RelayLink*; NoteLinkFound/Failure/Stopped, NoteExchange*
    std::uint8_t aifileView;     // 1 while the relay has a view of "AIFile"; PublishRelayStats
    std::uint8_t timersRunning;  // RelayTimer* bits of the timers running; NoteTimer
    std::uint8_t sessionState;   // RelaySession*; NoteAttempt*, NoteSessionEnded
    std::uint64_t linkSinceMs;   // ms, when linkState became what it is
    std::int32_t linkLastResult; // result of the last failed link operation, 0 for none
    std::uint32_t linkLastSystemError; // system error of that failure's send, 0 for none
    std::uint64_t linkLastFailureMs;   // ms, when that failure happened
    std::uint64_t lastExchangeOkMs;    // ms, the last exchange that succeeded
    std::uint64_t waitSinceMs;         // ms, when the exchange running now began; 0 when none
    std::uint16_t waitAircraft;        // that exchange's aircraft, 1 to waitOf; 0 for the handshake
    std::uint16_t waitOf;              // aircraft in that publication; 0 for the handshake
    std::int32_t usingSquawkBoxRaw;    // option UsingSB as the relay holds it, any value
    std::int32_t manualConnectOnlyRaw; // option ManualConnect as the relay holds it, any value
    std::uint64_t sessionSinceMs;      // ms, when sessionState became what it is
    std::uint32_t sessionEnding;       // the ending message's type when sessionState is Ended
    std::uint32_t recentPublications;  // entries of recent in use, 0 to 4
    std::uint64_t lastPositionMs;      // ms, the first update after a position message arrived
    RelayPublication recent[RelayRecentPublications]; // the latest publication first
};
#pragma pack(pop)

static_assert(sizeof(RelayStats) == RelayStatsSize);
static_assert(offsetof(RelayStats, magic) == 0);
static_assert(offsetof(RelayStats, version) == 4);
static_assert(offsetof(RelayStats, size) == 8);
static_assert(offsetof(RelayStats, processId) == 12);
static_assert(offsetof(RelayStats, startMs) == 16);
static_assert(offsetof(RelayStats, lastUpdateMs) == 24);
static_assert(offsetof(RelayStats, lastMessageMs) == 32);
static_assert(offsetof(RelayStats, lastPublishMs) == 40);
static_assert(offsetof(RelayStats, lastExchangeMs) == 48);
static_assert(offsetof(RelayStats, lastJoinMs) == 56);
static_assert(offsetof(RelayStats, running) == 64);
static_assert(offsetof(RelayStats, simDetected) == 65);
static_assert(offsetof(RelayStats, connected) == 66);
static_assert(offsetof(RelayStats, inSession) == 67);
static_assert(offsetof(RelayStats, searching) == 68);
static_assert(offsetof(RelayStats, usingSquawkBox) == 69);
static_assert(offsetof(RelayStats, manualConnectOnly) == 70);
static_assert(offsetof(RelayStats, useIpx) == 71);
static_assert(offsetof(RelayStats, linkFailureCount) == 72);
static_assert(offsetof(RelayStats, aircraftInTable) == 74);
static_assert(offsetof(RelayStats, lastEnding) == 76);
static_assert(offsetof(RelayStats, attemptsTcp) == 80);
static_assert(offsetof(RelayStats, attemptsIpx) == 84);
static_assert(offsetof(RelayStats, attemptsFailed) == 88);
static_assert(offsetof(RelayStats, joins) == 92);
static_assert(offsetof(RelayStats, positionMessages) == 96);
static_assert(offsetof(RelayStats, sessionLostMessages) == 100);
static_assert(offsetof(RelayStats, hostMessages) == 104);
static_assert(offsetof(RelayStats, simulatorEndMessages) == 108);
static_assert(offsetof(RelayStats, refusedMessages) == 112);
static_assert(offsetof(RelayStats, otherMessages) == 116);
static_assert(offsetof(RelayStats, bytesReceived) == 120);
static_assert(offsetof(RelayStats, droppedTooShort) == 128);
static_assert(offsetof(RelayStats, droppedNoName) == 132);
static_assert(offsetof(RelayStats, droppedOwnName) == 136);
static_assert(offsetof(RelayStats, droppedSlow) == 140);
static_assert(offsetof(RelayStats, droppedTableFull) == 144);
static_assert(offsetof(RelayStats, positionsRecorded) == 148);
static_assert(offsetof(RelayStats, namesHeard) == 152);
static_assert(offsetof(RelayStats, publications) == 156);
static_assert(offsetof(RelayStats, exchangesOk) == 160);
static_assert(offsetof(RelayStats, exchangesFailed) == 164);
static_assert(offsetof(RelayStats, lastExchangeResult) == 228);
static_assert(offsetof(RelayStats, sequence) == 232);
static_assert(offsetof(RelayStats, lastSendError) == 236);
static_assert(offsetof(RelayStats, linkState) == 240);
static_assert(offsetof(RelayStats, aifileView) == 241);
static_assert(offsetof(RelayStats, timersRunning) == 242);
static_assert(offsetof(RelayStats, sessionState) == 243);
static_assert(offsetof(RelayStats, linkSinceMs) == 244);
static_assert(offsetof(RelayStats, linkLastResult) == 252);
static_assert(offsetof(RelayStats, linkLastSystemError) == 256);
static_assert(offsetof(RelayStats, linkLastFailureMs) == 260);
static_assert(offsetof(RelayStats, lastExchangeOkMs) == 268);
static_assert(offsetof(RelayStats, waitSinceMs) == 276);
static_assert(offsetof(RelayStats, waitAircraft) == 284);
static_assert(offsetof(RelayStats, waitOf) == 286);
static_assert(offsetof(RelayStats, usingSquawkBoxRaw) == 288);
static_assert(offsetof(RelayStats, manualConnectOnlyRaw) == 292);
static_assert(offsetof(RelayStats, sessionSinceMs) == 296);
static_assert(offsetof(RelayStats, sessionEnding) == 304);
static_assert(offsetof(RelayStats, recentPublications) == 308);
static_assert(offsetof(RelayStats, lastPositionMs) == 312);
static_assert(offsetof(RelayStats, recent) == 320);

// The working copy: the counters are incremented here; PublishRelayStats copies it into the view.
extern RelayStats relayStats;

// While the relay has no counter block, timer 7 tries every 2000 ms to take it over, so that a
// relay started while another one held the block gets it once that one has gone.
inline constexpr unsigned CounterBlockTimer = 7;
inline constexpr unsigned CounterBlockRetryMs = 2000;

// Opens (or creates) "SkyrelayStats", fills the header, the process id and the start time, and
// writes the fresh record at once, so that a block left by a relay that died shows none of its
// state as this relay's. Shows nothing: without a block (none to be had, or one that another
// running relay holds) the counters are kept, and timer 7 (when the main dialog exists) tries
// again.
void OpenRelayStats();

// Timer 7: one more try at the block; once it is had, the timer stops and the block gets the
// relay's state at once.
void OnCounterBlockTimer();

// Copies a record into a view of the block so that a reader can tell a copy taken mid-write: the
// sequence word becomes odd (record.sequence + 1), the other bytes follow, then the word becomes
// even (record.sequence + 2). Each store of the word is a single 32-bit store. Advances
// record.sequence by 2.
void WriteRelayStatsView(void* view, RelayStats& record);

// Completes the working copy from the relay's state (its flags, the table's count, the times of
// what changed since the last update) and copies it into the view, if there is one. Called at the
// end of every pump tick and whenever the relay's state changes.
void PublishRelayStats();

// At exit: marks the relay as no longer running, copies the record once more and releases the
// block; stops timer 7.
void ReleaseRelayStats();

// The facts of layout 3. Each takes the time from the relay's clock; none publishes unless it says
// so.

// A timer of the main dialog started (running true, when SetTimer gave an id) or stopped.
void NoteTimer(unsigned timerId, bool running);

// The link opened: it is open and nothing waits for it.
void NoteLinkFound();

// A link operation failed with `result` (a SimLinkResult) and the send's system error (0 when
// none was sent or it was answered). An exchange of traffic (`exchange`) makes the link failing
// and is the exchanges' last send error; a failed open while looking for the simulator only
// records the failure.
void NoteLinkFailure(std::int32_t result, std::uint32_t systemError, bool exchange);

// The relay stopped looking for the simulator after a failure; it counts only while the link was
// never found.
void NoteLinkStopped();

// An exchange of traffic succeeded.
void NoteExchangeOk();

// An exchange that can block for seconds begins (aircraft `aircraft` of `of`; 0 of 0 for the
// handshake's): published at once, so that a reader sees what the relay waits for. And its end.
void NoteExchangeStarting(std::uint16_t aircraft, std::uint16_t of);
void NoteExchangeEnded();

// A join attempt begins (published at once) and ends, with its outcome.
void NoteAttemptStarting();
void NoteAttemptEnded(bool joined);

// A session-ending message of that type arrived.
void NoteSessionEnded(std::uint32_t type);

// The table was published with `aircraft` aircraft: what was stored and dropped since the
// publication before becomes the latest of the recent publications.
void NotePublication(std::uint32_t aircraft);

// Counts one more name heard from another pilot if it has not been heard before.
void CountNameHeard(const char* shortName);

// Back to the state of a freshly loaded process: every counter zero, no view. Releases nothing.
void ResetRelayStats();
