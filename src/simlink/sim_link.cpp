#include "simlink/sim_link.h"

#include "state/relay_state.h"
#include "traffic/relay_stats.h"

#include <bit>
#include <cstdio>
#include <cstring>

SimLinkState simLink{};

namespace {

void Store(SimLinkResult* result, SimLinkResult code) {
    if (result != nullptr)
        *result = code;
}

// The area's words are little-endian whatever the machine. On a little-endian one each is one
// 32-bit store: the reply walk reads the same words back at once, and a word written in pieces
// cannot be forwarded to that read.
void PutU32(std::uint8_t* at, std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, &value, sizeof value);
    } else {
        at[0] = static_cast<std::uint8_t>(value);
        at[1] = static_cast<std::uint8_t>(value >> 8);
        at[2] = static_cast<std::uint8_t>(value >> 16);
        at[3] = static_cast<std::uint8_t>(value >> 24);
    }
}

std::uint32_t GetU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// Stores a failure that counts towards the link's failure limit, and returns 0.
int CountedFailure(SimLinkResult* result, SimLinkResult code) {
    Store(result, code);
    CountLinkFailure();
    return 0;
}

std::uint32_t QueuedBytes() {
    return static_cast<std::uint32_t>(simLink.cursor - simLink.areaBase);
}

// True when a record of header + size bytes and the terminator after it stay within the limit.
// The sum is taken in 64 bits, so no size can wrap it.
bool Fits(std::uint32_t header, std::uint32_t size) {
    std::uint64_t end = std::uint64_t{QueuedBytes()} + size + header + TerminatorSize;
    return end <= RequestAreaLimit;
}

// The low 32 bits of the caller's address: all the area's destination field can hold. The value
// itself is delivered from the client's own list.
std::uint32_t AddressField(const void* destination) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(destination));
}

// Walks the replied batch from the start of the area up to the terminator's position (`end`).
// Records whose size would cross `end` end the walk; a read is delivered only where a queued read
// of ours starts, with our destination and size.
void WalkReply(std::uint32_t end, std::uint32_t readCount) {
    std::uint8_t* base = simLink.areaBase;
    std::uint32_t position = 0;
    std::uint32_t nextRead = 0;
    while (position < end) {
        std::uint32_t type = GetU32(base + position);
        if (type == 0)
            return;
        std::uint32_t header = type == ReadRecordType    ? ReadHeaderSize
                               : type == WriteRecordType ? WriteHeaderSize
                                                         : 0;
        if (header == 0) {
            PutU32(base + position, 0);
            return;
        }
        if (end - position < header)
            return;
        std::uint32_t size = GetU32(base + position + 8);
        if (size > end - position - header)
            return;
        while (nextRead < readCount && simLink.reads[nextRead].position < position)
            ++nextRead;
        if (type == ReadRecordType && nextRead < readCount &&
            simLink.reads[nextRead].position == position) {
            const QueuedRead& read = simLink.reads[nextRead];
            if (read.destination != nullptr && read.size != 0)
                std::memcpy(read.destination, base + position + ReadHeaderSize, read.size);
        }
        position += header + size;
    }
}

} // namespace

void CountLinkFailure() {
    if (relayState.linkFailureCount == 3) {
        plat::SetControlText(mainDialog, StatusLineControl, "");
        plat::StopTimer(mainDialog, relayState.detectTimerId);
        NoteTimer(DetectTimer, false);
        NoteLinkStopped();
        return;
    }
    ++relayState.linkFailureCount;
}

int SimLinkRead(std::uint32_t offset, std::uint32_t size, void* destination,
                SimLinkResult* result) {
    if (simLink.areaBase == nullptr) {
        return CountedFailure(result, SimLinkResult::NotOpen);
    }
    if (!Fits(ReadHeaderSize, size) || simLink.readCount >= MaxQueuedReads) {
        return CountedFailure(result, SimLinkResult::AreaFull);
    }
    std::uint8_t* record = simLink.cursor;
    PutU32(record, ReadRecordType);
    PutU32(record + 4, offset);
    PutU32(record + 8, size);
    PutU32(record + 12, AddressField(destination));
    if (size != 0)
        std::memset(record + ReadHeaderSize, 0, size);
    simLink.reads[simLink.readCount++] = QueuedRead{QueuedBytes(), size, destination};
    simLink.cursor += ReadHeaderSize + size;
    Store(result, SimLinkResult::Ok);
    return 1;
}

int SimLinkWrite(std::uint32_t offset, std::uint32_t size, const void* source,
                 SimLinkResult* result) {
    if (simLink.areaBase == nullptr) {
        return CountedFailure(result, SimLinkResult::NotOpen);
    }
    if (!Fits(WriteHeaderSize, size)) {
        return CountedFailure(result, SimLinkResult::AreaFull);
    }
    std::uint8_t* record = simLink.cursor;
    PutU32(record, WriteRecordType);
    PutU32(record + 4, offset);
    PutU32(record + 8, size);
    if (size != 0)
        std::memcpy(record + WriteHeaderSize, source, size);
    simLink.cursor += WriteHeaderSize + size;
    Store(result, SimLinkResult::Ok);
    return 1;
}

int SimLinkProcess(SimLinkResult* result) {
    if (simLink.areaBase == nullptr) {
        return CountedFailure(result, SimLinkResult::NotOpen);
    }
    if (simLink.cursor == simLink.areaBase) {
        return CountedFailure(result, SimLinkResult::NothingQueued);
    }
    // From here on the batch leaves the queue, whatever the outcome. The list of reads stays in
    // place until the walk has used it.
    std::uint32_t end = QueuedBytes();
    PutU32(simLink.cursor, 0);
    simLink.cursor = simLink.areaBase;
    std::uint32_t readCount = simLink.readCount;
    simLink.readCount = 0;

    std::uintptr_t reply = 0;
    bool answered = false;
    for (unsigned attempt = 0; attempt < SendAttempts && !answered; ++attempt) {
        answered =
            plat::SendWithTimeout(simLink.moduleWindow, simLink.requestMessage, simLink.requestAtom,
                                  0, plat::SendBlock, SendTimeoutMs, &reply) != 0;
        if (!answered)
            plat::SleepMs(SendRetryPauseMs);
    }
    // Kept for every batch sent, 0 when it was answered: an error of an earlier batch is never
    // taken for the cause of a later bad reply.
    simLink.lastSendError = answered ? 0 : plat::LastError();
    if (!answered)
        return CountedFailure(result, simLink.lastSendError == 0 ? SimLinkResult::NoAnswer
                                                                 : SimLinkResult::SendError);
    if (reply != 1) {
        Store(result, SimLinkResult::BadReply);
        return 0;
    }
    WalkReply(end < RequestAreaLimit ? end : RequestAreaLimit, readCount);
    Store(result, SimLinkResult::Ok);
    return 1;
}

std::uint32_t SimLinkSystemError(SimLinkResult result) {
    return result == SimLinkResult::SendError || result == SimLinkResult::NoAnswer
               ? simLink.lastSendError
               : 0;
}

void SimLinkClose() {
    simLink.moduleWindow = nullptr;
    simLink.requestMessage = 0;
    if (simLink.requestAtom != 0) {
        plat::DeleteGlobalAtom(simLink.requestAtom);
        simLink.requestAtom = 0;
    }
    if (simLink.areaBase != nullptr) {
        plat::UnmapView(simLink.areaBase);
        simLink.areaBase = nullptr;
    }
    if (simLink.mappingHandle != nullptr) {
        plat::CloseMapping(simLink.mappingHandle);
        simLink.mappingHandle = nullptr;
    }
}

namespace {

// Closes what the open acquired and reports the failure.
int FailOpen(SimLinkResult* result, SimLinkResult code) {
    Store(result, code);
    SimLinkClose();
    return 0;
}

// Up to five passes: read both versions (and, in the first pass, write the handshake word), then
// exchange and pause. Returns Ok or the code of the operation that failed.
SimLinkResult RunHandshake() {
    static constexpr std::uint8_t word[2] = {static_cast<std::uint8_t>(HandshakeWord & 0xFF),
                                             static_cast<std::uint8_t>(HandshakeWord >> 8)};
    SimLinkResult code = SimLinkResult::Ok;
    for (unsigned pass = 0; pass < HandshakePasses; ++pass) {
        if (simLink.moduleVersion != 0 && simLink.simVersion != 0)
            break;
        if (!SimLinkRead(ModuleVersionOffset, 4, &simLink.moduleVersion, &code) ||
            !SimLinkRead(SimVersionOffset, 4, &simLink.simVersion, &code))
            return code;
        if (pass == 0 && !SimLinkWrite(HandshakeWordOffset, sizeof word, word, &code))
            return code;
        NoteExchangeStarting(0, 0);
        bool answered = SimLinkProcess(&code) != 0;
        NoteExchangeEnded();
        if (!answered)
            return code;
        plat::SleepMs(HandshakePauseMs);
    }
    return SimLinkResult::Ok;
}

} // namespace

int SimLinkOpen(std::uint32_t requestedVersion, SimLinkResult* result) {
    if (simLink.areaBase != nullptr) {
        Store(result, SimLinkResult::AlreadyOpen);
        return 0;
    }
    simLink.moduleVersion = 0;
    simLink.simVersion = 0;

    bool oldWindow = false;
    simLink.moduleWindow = plat::FindWindowByClass(ModuleWindowClass);
    if (simLink.moduleWindow == nullptr) {
        simLink.moduleWindow = plat::FindWindowByClass(OldModuleWindowClass);
        oldWindow = true;
    }
    if (simLink.moduleWindow == nullptr) {
        Store(result, SimLinkResult::NoModuleWindow);
        return 0;
    }
    simLink.requestMessage = plat::RegisterMessage(RequestMessageName);
    if (simLink.requestMessage == 0) {
        Store(result, SimLinkResult::NoRequestMessage);
        return 0;
    }

    ++simLink.mappingSerial;
    char name[64];
    std::snprintf(name, sizeof name, MappingNameFormat, plat::ProcessId(), simLink.mappingSerial);
    simLink.requestAtom = plat::AddGlobalAtom(name);
    if (simLink.requestAtom == 0)
        return FailOpen(result, SimLinkResult::NoAtom);
    bool alreadyExisted = false;
    simLink.mappingHandle = plat::CreateNamedMapping(name, RequestAreaSize, &alreadyExisted);
    if (simLink.mappingHandle == nullptr || alreadyExisted)
        return FailOpen(result, SimLinkResult::NoMapping);
    std::size_t viewSize = 0;
    simLink.areaBase =
        static_cast<std::uint8_t*>(plat::MapWholeView(simLink.mappingHandle, &viewSize));
    // A view smaller than the area would let the records run past its end.
    if (simLink.areaBase == nullptr || viewSize < RequestAreaSize)
        return FailOpen(result, SimLinkResult::NoView);
    simLink.cursor = simLink.areaBase;
    simLink.readCount = 0;

    SimLinkResult code = RunHandshake();
    if (code != SimLinkResult::Ok)
        return FailOpen(result, code);
    if (simLink.moduleVersion < MinModuleVersion || (simLink.simVersion >> 16) != HandshakeMarker)
        return FailOpen(result, oldWindow ? SimLinkResult::BadHandshakeOldWindow
                                          : SimLinkResult::BadHandshake);
    simLink.simVersion &= 0xFFFF;
    if (requestedVersion != 0 && requestedVersion != simLink.simVersion)
        return FailOpen(result, SimLinkResult::WrongSimulator);
    Store(result, SimLinkResult::Ok);
    return 1;
}

void ResetSimLinkState() {
    simLink = SimLinkState{};
}
