// Controls of the fake module-window messaging: windows by class, registered messages and global
// atoms as tables, and a scriptable simulator IPC module behind every window. The module finds the
// request area by the atom's name in the fake shared memory, carries out its records against a
// 64 KiB offset space and answers; a test can make it answer another value, stay silent, or do
// anything to the area before it answers. Sleeps and time-outs are recorded, never waited.
// fake::FailCall("SendWithTimeout", n, e) makes the nth send fail at once with the last error e.
#pragma once

#include "platform/messaging.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace fake {

// Windows error values the fake messaging reports.
inline constexpr std::uint32_t ErrorInvalidWindowHandle = 1400; // ERROR_INVALID_WINDOW_HANDLE
inline constexpr std::uint32_t ErrorTimeout = 1460;             // ERROR_TIMEOUT
inline constexpr std::uint32_t ErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE

// A top-level window of that class appears; the module answers messages sent to it. A window
// removed keeps its handle dead: a later window of the class gets another.
plat::Window AddWindow(const std::string& className);
void RemoveWindow(const std::string& className);

// The module's offset space (offsets 0 to 0xFFFF; reads beyond give zeros, writes beyond are
// dropped). Starts all zero. The values at 0x3304 to 0x330B are presented by the module: writes
// there are carried out and logged but leave them as they are.
void SetModuleBytes(std::uint32_t offset, const std::vector<std::uint8_t>& bytes);
void SetModuleU32(std::uint32_t offset, std::uint32_t value);
std::vector<std::uint8_t> ModuleBytes(std::uint32_t offset, std::size_t size);

// One line per record the module carried out: "read 0x3304 4", "write 0x1F80 40 <hex bytes>".
const std::vector<std::string>& ModuleLog();
// Messages that reached the module ("FsasmLib:IPC" sends it handled).
int ModuleMessages();

// The value the module answers with after carrying out a batch (1 unless set).
void SetModuleReply(std::uintptr_t reply);
// The next `count` sends (every send for -1) get no answer: the send's full time-out is recorded
// as waited and it fails with lastError.
void SilenceModule(int count, std::uint32_t lastError = ErrorTimeout);
// Runs on the whole request area after the module carried out the records, before it answers.
void WhileModuleAnswers(std::function<void(std::span<std::uint8_t> area)> action);
// Runs at the start of every send, whatever its outcome: the moment the sender waits.
void WhileSending(std::function<void()> action);

// What a real system would have waited: each SleepMs, and the time-out of each unanswered send.
const std::vector<unsigned>& Sleeps();
const std::vector<unsigned>& SendTimeoutsWaited();

// The value LastError reports until a fake operation sets another. Closing a handle that is not
// open (a null mapping, say) sets ErrorInvalidHandle, as CloseHandle does.
void SetLastError(std::uint32_t error);

// The process id ProcessId reports (0x1A2B unless set).
void SetProcessId(std::uint32_t id);

// Global atoms alive and their names ("" for an unknown atom).
int LiveAtoms();
std::string AtomName(std::uint16_t atom);

} // namespace fake
