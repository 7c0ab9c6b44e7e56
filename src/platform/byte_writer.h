// Little-endian appending to a byte buffer, shared by the wire formats of the session stand-in and
// of DirectPlay. Portable: no operating-system header.
#pragma once

#include "platform/directplay.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class ByteWriter {
  public:
    void U8(std::uint8_t value) { bytes_.push_back(value); }
    void U16(std::uint16_t value) {
        U8(static_cast<std::uint8_t>(value & 0xFFu));
        U8(static_cast<std::uint8_t>(value >> 8));
    }
    void U16BigEndian(std::uint16_t value) {
        U8(static_cast<std::uint8_t>(value >> 8));
        U8(static_cast<std::uint8_t>(value & 0xFFu));
    }
    void U32(std::uint32_t value) {
        U16(static_cast<std::uint16_t>(value & 0xFFFFu));
        U16(static_cast<std::uint16_t>(value >> 16));
    }
    void I32(std::int32_t value) { U32(static_cast<std::uint32_t>(value)); }
    void Guid(const dp::GUID& guid) {
        U32(guid.data1);
        U16(guid.data2);
        U16(guid.data3);
        Raw(guid.data4);
    }
    void Zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void Raw(std::span<const std::uint8_t> data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }
    std::size_t Size() const { return bytes_.size(); }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

  protected:
    std::vector<std::uint8_t> bytes_;
};
