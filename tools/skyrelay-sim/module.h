// The stand-in simulator IPC module's logic, free of any operating-system code so that every build
// of skyrelay-sim shares it: a 64 KiB offset space with the presented version values, carrying out
// the records of a client's request area, the damage of --garble, and the text of its output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace simmodule {

inline constexpr std::size_t OffsetSpaceSize = 0x10000;
inline constexpr std::uint32_t ModuleVersionOffset = 0x3304;
inline constexpr std::uint32_t SimVersionOffset = 0x3308;
inline constexpr std::uint32_t HandshakeWordOffset = 0x330A;
inline constexpr std::uint32_t TrafficOffset = 0x1F80;
inline constexpr std::uint32_t TrafficRecordSize = 40;
inline constexpr std::uint32_t DefaultModuleVersion = 0x20000000;
inline constexpr std::uint32_t DefaultSimVersion = 0xFADE0000;

// One record as carried out; data points into the request area.
struct CarriedRecord {
    bool write;
    std::uint32_t offset;
    std::uint32_t size;
    const std::uint8_t* data;
};

class Module {
  public:
    Module(std::uint32_t moduleVersion, std::uint32_t simVersion);

    // Carries out the records from the start of the area in order: reads filled from the offset
    // space, writes stored into it; headers and the terminator stay as they are. Stops at a zero
    // type word, an unknown type or a record that would run past the area. Calls `carried` after
    // each record; returns how many records were carried out.
    std::size_t CarryOut(std::span<std::uint8_t> area,
                         const std::function<void(const CarriedRecord&)>& carried = {});

    // Bytes beyond the offset space read as zero; writes there are dropped.
    void Read(std::uint32_t offset, std::span<std::uint8_t> out) const;
    void Write(std::uint32_t offset, std::span<const std::uint8_t> data);

    // The last word a client wrote at 0x330A (0 until one did).
    std::uint16_t HandshakeWord() const { return handshakeWord_; }

  private:
    std::vector<std::uint8_t> space_;
    std::uint16_t handshakeWord_ = 0;
};

// Damages the types and sizes of the records in the area, as a broken module would after carrying
// them out: by turns a read becomes a write (and back), a size becomes huge, a type becomes
// unknown. Returns how many records were damaged.
std::size_t Garble(std::span<std::uint8_t> area);

// "read 0x3304 4" or "write 0x1F80 40 <the bytes in lower-case hex>".
std::string LogLine(const CarriedRecord& record);

// One readable line for a 40-byte traffic record (id, name, position, heading, speeds).
std::string TrafficLine(std::span<const std::uint8_t> record);

// Parses a number in decimal or with 0x for hexadecimal; false for anything else or a value above
// the maximum.
bool ParseNumber(const std::string& text, std::uint64_t maximum, std::uint64_t* value);

} // namespace simmodule
