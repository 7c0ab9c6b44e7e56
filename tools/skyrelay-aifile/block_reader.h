// What skyrelay-aifile does differently on each system: opening and copying the "AIFile" block,
// the wait between reads and the interruption by Ctrl-C. The rest of the program is shared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace aifile {

enum class Outcome { Read, NoBlock, Failed };

// The block's name as this system knows it, for the messages.
std::string BlockName();

// Where the block lives, one line of the help text.
extern const char* const BlockWhere;

// Copies the block's bytes (at most one block's worth) out of a read-only view; on failure *error
// says why.
Outcome ReadBlockBytes(const std::string& name, std::vector<std::uint8_t>& bytes,
                       std::string& error);

// Ctrl-C (and a request to terminate) sets Interrupted() instead of ending the program.
void CatchInterrupt();
bool Interrupted();

// Waits one second, or less when interrupted.
void SleepOneSecond();

// Whether the output goes to a terminal that takes the escape sequences that clear it.
bool OutputRedraws();

} // namespace aifile
