// Named shared memory: the "AIFile" block, the simulator link's request areas and the relay's
// counter block.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>

namespace plat {

// OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, not inheritable, name): the existing mapping of
// that name, or null when there is none.
Mapping OpenNamedMapping(const char* name);

// CreateFileMappingA(INVALID_HANDLE_VALUE, no security, PAGE_READWRITE, 0, size, name): a new
// mapping of that size filled with zeros, or null. When a mapping of that name already existed,
// *alreadyExisted is set (GetLastError() == ERROR_ALREADY_EXISTS right after the call) and the
// handle, if any, refers to the existing mapping.
Mapping CreateNamedMapping(const char* name, std::uint32_t size, bool* alreadyExisted);

// MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0): a writable view of the whole mapping, or null.
// *viewSize receives the size of the view in bytes (the mapping's size).
void* MapWholeView(Mapping mapping, std::size_t* viewSize);

// UnmapViewOfFile.
void UnmapView(void* view);

// CloseHandle on a mapping: non-zero on success, 0 on failure (a null handle fails).
int CloseMapping(Mapping mapping);

// The relay's counter block: the named mapping `name` of `size` bytes, created zero filled with its
// storage reserved, and mapped writable; null when either fails. A block that another running
// relay uses is left alone: null. A block left by a relay that has exited or died (on Windows,
// still there while a reader holds its mapping) is taken over. On Linux a null result is explained
// in one line on stderr. Kept apart from the calls above: it has its own handle and touches no
// last-error value.
void* OpenCounterBlock(const char* name, std::size_t size);

// Unmaps a view OpenCounterBlock returned and closes its mapping.
void CloseCounterBlock(void* view);

} // namespace plat
