// Controls of the fake profile, registry and folder browser: settings files are texts in memory by
// name (read and written with the same INI rules as the posix backend), registry keys and values
// live in memory, and the folder browser hands back scripted answers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fake {

// ---- profile files ---------------------------------------------------------------------------

// Puts a file's text in place under exactly this name (as the program passes it).
void SetProfileFile(const std::string& name, const std::string& text);
// A file's current text, nullopt while it does not exist.
std::optional<std::string> ProfileFile(const std::string& name);

// ---- registry (HKEY_LOCAL_MACHINE) -----------------------------------------------------------

// Creates a key without values. Key and value names are compared without regard to case.
void AddRegistryKey(const std::string& key);
// Stores a value (creating the key) with exactly these bytes and this type.
void SetRegistryValue(const std::string& key, const std::string& name, std::uint32_t type,
                      const std::vector<std::uint8_t>& data);
// Stores a REG_SZ value: the text and its terminator.
void SetRegistryString(const std::string& key, const std::string& name, const std::string& text);
// Makes every open of this key fail with the given result, even if the key exists.
void FailRegistryOpen(const std::string& key, long result);
// Keys opened and not yet closed.
int LiveRegistryKeys();

// ---- folder browser
// ------------------------------------------------------------------------------

// Queues the next browse's answer: a folder path, or nullopt for a cancel. With nothing queued a
// browse is cancelled.
void ScriptBrowse(std::optional<std::string> path);

} // namespace fake
