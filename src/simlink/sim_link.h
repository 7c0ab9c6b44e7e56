// The simulator link: the client side of the simulator IPC module's protocol. The link finds the
// module's window, owns a named request area in which reads and writes of simulator values are
// queued as records, hands a whole batch to the module with one window message, and copies the
// values read back to the places the caller named.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

// What every link operation stores through its result argument; 0 is success.
enum class SimLinkResult : std::int32_t {
    Ok = 0,
    AlreadyOpen = 1,
    NoModuleWindow = 2,
    NoRequestMessage = 3,
    NoAtom = 4,
    NoMapping = 5,
    NoView = 6,
    BadHandshake = 7,
    WrongSimulator = 8,
    NotOpen = 9,
    NothingQueued = 10,
    NoAnswer = 11,
    SendError = 12,
    BadReply = 13,
    BadHandshakeOldWindow = 14,
    AreaFull = 15,
};
static_assert(sizeof(SimLinkResult) == 4);

// The code's name ("Ok", "AreaFull", ...), or "unknown" for a value outside 0 to 15.
const char* SimLinkResultName(SimLinkResult code);

// Module window classes, searched in this order.
inline constexpr const char* ModuleWindowClass = "UIPCMAIN";
inline constexpr const char* OldModuleWindowClass = "FS98MAIN";
// The registered window message that hands a batch to the module.
inline constexpr const char* RequestMessageName = "FsasmLib:IPC";
// Mapping names: the process id, then the serial, in upper-case hexadecimal.
inline constexpr const char* MappingNameFormat = "FsasmLib:IPC:%X:%X";

inline constexpr std::uint32_t RequestAreaSize = 0x8000;  // bytes in the mapping
inline constexpr std::uint32_t RequestAreaLimit = 0x7F00; // queued records plus terminator, at most
inline constexpr std::uint32_t MinModuleVersion = 0x19980005;
inline constexpr std::uint16_t HandshakeMarker = 0xFADE; // high half of the simulator version
inline constexpr std::uint16_t HandshakeWord = 1004;     // written at 0x330A in the first pass
inline constexpr unsigned HandshakePasses = 5;
inline constexpr unsigned HandshakePauseMs = 100;

inline constexpr std::uint32_t ModuleVersionOffset = 0x3304;
inline constexpr std::uint32_t SimVersionOffset = 0x3308;
inline constexpr std::uint32_t HandshakeWordOffset = 0x330A;

// Request records in the area: type word, offset, size, (destination,) data.
inline constexpr std::uint32_t ReadRecordType = 1;
inline constexpr std::uint32_t WriteRecordType = 2;
inline constexpr std::uint32_t ReadHeaderSize = 16;
inline constexpr std::uint32_t WriteHeaderSize = 12;
inline constexpr std::uint32_t TerminatorSize = 4;

// The exchange: nine sends of up to 2000 ms each, 100 ms apart after each one that failed.
inline constexpr unsigned SendAttempts = 9;
inline constexpr unsigned SendTimeoutMs = 2000;
inline constexpr unsigned SendRetryPauseMs = 100;

// Reads that fit into the area at most (each record takes at least 16 bytes).
inline constexpr std::size_t MaxQueuedReads = RequestAreaLimit / ReadHeaderSize;

// One queued read as the client keeps it: where its record lies and where its value goes. The
// value is delivered from this list, never from the area's 4-byte destination field.
struct QueuedRead {
    std::uint32_t position; // bytes from areaBase to the record's type word
    std::uint32_t size;     // bytes to deliver
    void* destination;      // the caller's storage, null to drop the value
};

// The link's process-wide state; all zero or null in a fresh process.
struct SimLinkState {
    plat::Window moduleWindow;    // module window found by the last open; cleared by SimLinkClose
    std::uint32_t requestMessage; // id of "FsasmLib:IPC"; set by SimLinkOpen, 0 after close
    std::uint16_t requestAtom;    // global atom naming the mapping; 0 when there is none
    plat::Mapping mappingHandle;  // the request area's mapping; null when there is none
    std::uint8_t* areaBase;       // start of the mapped area; non-null exactly while open
    std::uint8_t* cursor;         // next free byte of the area; SimLinkRead/Write/Process
    std::uint32_t mappingSerial;  // numbers mapping names in this process; advanced by the open
    std::uint32_t moduleVersion;  // 32-bit value read at 0x3304 by the handshake
    std::uint32_t simVersion;     // value read at 0x3308; low 16 bits only after a good open
    std::uint32_t readCount;      // entries of reads in use; SimLinkRead adds, Process empties
    std::uint32_t lastSendError;  // LastError() after the last batch's sends all failed, 0 when
                                  // it was answered; SimLinkProcess
    QueuedRead reads[MaxQueuedReads]; // the queued reads in the order queued; SimLinkRead
};

extern SimLinkState simLink;

// Opens the link: finds the module window, creates the request area and runs the version
// handshake. requestedVersion 0 accepts any simulator. Returns 1 when open (Ok), else 0.
int SimLinkOpen(std::uint32_t requestedVersion, SimLinkResult* result);

// Releases what the open acquired; harmless on a closed link.
void SimLinkClose();

// True while the link is open (between a successful SimLinkOpen and SimLinkClose).
inline bool SimLinkIsOpen() {
    return simLink.areaBase != nullptr;
}

// Queues a read of size bytes at a simulator offset; the value reaches destination (which may be
// null to drop it) when a later SimLinkProcess succeeds.
int SimLinkRead(std::uint32_t offset, std::uint32_t size, void* destination, SimLinkResult* result);

// Queues a write of size bytes at a simulator offset; the bytes are copied now.
int SimLinkWrite(std::uint32_t offset, std::uint32_t size, const void* source,
                 SimLinkResult* result);

// Sends the queued batch to the module and delivers the values read. The queue is empty after it
// returns, whatever the outcome.
int SimLinkProcess(SimLinkResult* result);

// The system error behind a failed step's result: the last batch's send error when its sends
// failed or went unanswered, 0 for any other result (nothing was sent, or the module answered).
std::uint32_t SimLinkSystemError(SimLinkResult result);

// One more link failure: the first three only count; from the fourth on, every one empties the
// main dialog's status line and stops the detection timer.
void CountLinkFailure();

// Back to the state of a fresh process, mappingSerial included. Releases nothing.
void ResetSimLinkState();
