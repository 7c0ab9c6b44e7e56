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

// Copies the block's bytes (at most maxSize) out of a read-only view; on failure *error says why.
Outcome ReadBlockBytes(const std::string& name, std::size_t maxSize,
                       std::vector<std::uint8_t>& bytes, std::string& error);

// The system's monotonic clock in milliseconds, the time base of the counter block.
std::uint64_t MonotonicNow();

// Whether a process with that id exists.
bool ProcessRunning(std::uint32_t processId);

// Ctrl-C (and a request to terminate) sets Interrupted() instead of ending the program.
void CatchInterrupt();
bool Interrupted();

// Waits one second, or less when interrupted.
void SleepOneSecond();

// Whether the output goes to a terminal that takes the escape sequences that clear it.
bool OutputRedraws();

} // namespace aifile
