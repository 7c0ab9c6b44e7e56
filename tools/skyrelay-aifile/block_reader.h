// What skyrelay-aifile does differently on each system: opening and copying the "AIFile" and
// "SkyrelayStats" blocks, the clock, whether a process runs, the wait between reads and the
// interruption by Ctrl-C. The rest of the program is shared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace aifile {

enum class Outcome { Read, NoBlock, Failed };

// A block's name as this system knows it ("AIFile" by default), for opening and for the messages.
std::string BlockName(const char* base = "AIFile");

// Where the block lives, one line of the help text.
extern const char* const BlockWhere;

// How a block's bytes are copied out of its view (viewSize bytes): false, with *error set, when
// the copy cannot be used.
using CopyBlock = bool (*)(const void* view, std::size_t viewSize, std::vector<std::uint8_t>& bytes,
                           std::string* error);

// Copies the block's bytes (at most maxSize, or as `copy` does) out of a read-only view; on
// failure *error says why.
Outcome ReadBlockBytes(const std::string& name, std::size_t maxSize,
                       std::vector<std::uint8_t>& bytes, std::string& error,
                       CopyBlock copy = nullptr);

// Whether the program has a console window of its own, made for it when it was started from
// Explorer, which closes the moment the program ends (never so on Linux).
bool ConsoleIsOwn();

// Says "Press any key to close this window." and waits for a key.
void WaitForKey();

// The system's monotonic clock in milliseconds, the time base of the counter block.
std::uint64_t MonotonicNow();

// Whether a process with that id exists.
bool ProcessRunning(std::uint32_t processId);

// Ctrl-C (and a request to terminate) sets Interrupted() instead of ending the program.
void CatchInterrupt();
bool Interrupted();

// Waits one second, or less when interrupted.
void SleepOneSecond();

// Waits about a millisecond: between copies of a block that was being written.
void PauseBriefly();

// Whether the output goes to a terminal that takes the escape sequences that clear it.
bool OutputRedraws();

} // namespace aifile
