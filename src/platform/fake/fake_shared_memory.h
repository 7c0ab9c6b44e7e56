// Controls of the fake named shared memory: mappings live in the test process's memory, by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fake {

// Another program's mapping of that name and size, zero filled (or holding the given bytes).
void AddExistingMapping(const std::string& name, std::size_t size,
                        const std::vector<std::uint8_t>& contents = {});
// The current bytes of a mapping, or empty if no mapping of that name exists.
std::vector<std::uint8_t> MappingBytes(const std::string& name);
bool MappingExists(const std::string& name);
// The live bytes of a mapping, for a fake that plays the program on the other side; empty if no
// mapping of that name exists.
std::span<std::uint8_t> MappingSpan(const std::string& name);
// Open handles and mapped views, to check that everything acquired was released.
int LiveMappingHandles();
int LiveViews();

// The counter block and the monotonic clock stay out of the call log and the call counts, so that
// tests counting the Nth mapping call see only the calls they count.
// Makes every OpenCounterBlock fail (true) or succeed again (false).
void FailCounterBlock(bool fail);
// A counter block of that name that a relay which is gone left behind, holding these bytes.
void LeaveCounterBlock(const std::string& name, const std::vector<std::uint8_t>& bytes);
// The bytes of the counter block of that name (kept after its close, as a reader holding it sees
// them), or empty if none was ever opened.
std::vector<std::uint8_t> CounterBlockBytes(const std::string& name);
// Counter blocks opened and not closed.
int LiveCounterBlocks();
// The value MonotonicMilliseconds returns from now on (1000 after a reset).
void SetMonotonicMilliseconds(std::uint64_t milliseconds);

} // namespace fake
