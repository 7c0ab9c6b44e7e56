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

} // namespace fake
