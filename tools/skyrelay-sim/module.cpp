#include "skyrelay-sim/module.h"

#include "traffic/traffic_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace simmodule {
namespace {

std::uint32_t GetU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void PutU32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::size_t HeaderSize(std::uint32_t type) {
    return type == 1 ? 16 : type == 2 ? 12 : 0;
}

// Positions of the well-formed records from the start of the area, up to the first that is not.
std::vector<std::size_t> RecordPositions(std::span<const std::uint8_t> area) {
    std::vector<std::size_t> positions;
    std::size_t position = 0;
    while (area.size() - position >= 4) {
        std::size_t header = HeaderSize(GetU32(area.data() + position));
        if (header == 0 || area.size() - position < header)
            break;
        std::uint32_t size = GetU32(area.data() + position + 8);
        if (size > area.size() - position - header)
            break;
        positions.push_back(position);
        position += header + size;
    }
    return positions;
}

// The version values at 0x3304 to 0x330B belong to the module; client writes do not change them.
bool Presented(std::uint64_t offset) {
    return offset >= ModuleVersionOffset && offset < SimVersionOffset + 4;
}

} // namespace

Module::Module(std::uint32_t moduleVersion, std::uint32_t simVersion) : space_(OffsetSpaceSize, 0) {
    PutU32(&space_[ModuleVersionOffset], moduleVersion);
    PutU32(&space_[SimVersionOffset], simVersion);
}

void Module::Read(std::uint32_t offset, std::span<std::uint8_t> out) const {
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::uint64_t at = std::uint64_t{offset} + i;
        out[i] = at < space_.size() ? space_[static_cast<std::size_t>(at)] : 0;
    }
}

void Module::Write(std::uint32_t offset, std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::uint64_t at = std::uint64_t{offset} + i;
        if (at == HandshakeWordOffset)
            handshakeWord_ = static_cast<std::uint16_t>((handshakeWord_ & 0xFF00) | data[i]);
        else if (at == HandshakeWordOffset + 1)
            handshakeWord_ = static_cast<std::uint16_t>((handshakeWord_ & 0x00FF) | data[i] << 8);
        if (at < space_.size() && !Presented(at))
            space_[static_cast<std::size_t>(at)] = data[i];
    }
}

std::size_t Module::CarryOut(std::span<std::uint8_t> area,
                             const std::function<void(const CarriedRecord&)>& carried) {
    std::vector<std::size_t> positions = RecordPositions(area);
    for (std::size_t position : positions) {
        std::uint8_t* record = area.data() + position;
        std::uint32_t type = GetU32(record);
        CarriedRecord done{type == 2, GetU32(record + 4), GetU32(record + 8),
                           record + HeaderSize(type)};
        std::span<std::uint8_t> data(record + HeaderSize(type), done.size);
        if (done.write)
            Write(done.offset, data);
        else
            Read(done.offset, data);
        if (carried)
            carried(done);
    }
    return positions.size();
}

std::size_t Garble(std::span<std::uint8_t> area) {
    std::vector<std::size_t> positions = RecordPositions(area);
    for (std::size_t k = 0; k < positions.size(); ++k) {
        std::uint8_t* record = area.data() + positions[k];
        switch (k % 3) {
        case 0:
            PutU32(record, GetU32(record) ^ 3u); // 1 <-> 2
            break;
        case 1:
            PutU32(record + 8, 0xFFFFFFF0u);
            break;
        default:
            PutU32(record, 0x42524147u); // "GARB"
            break;
        }
    }
    return positions.size();
}

std::string LogLine(const CarriedRecord& record) {
    char head[48];
    std::snprintf(head, sizeof head, "%s 0x%X %u", record.write ? "write" : "read", record.offset,
                  record.size);
    std::string line = head;
    if (record.write) {
        line += ' ';
        char two[3];
        for (std::uint32_t i = 0; i < record.size; ++i) {
            std::snprintf(two, sizeof two, "%02x", record.data[i]);
            line += two;
        }
    }
    return line;
}

std::string TrafficLine(std::span<const std::uint8_t> record) {
    if (record.size() != sizeof(TrafficEntry))
        return "traffic record of " + std::to_string(record.size()) + " bytes";
    TrafficEntry entry;
    std::memcpy(&entry, record.data(), sizeof entry);
    std::string name;
    for (char c : entry.name) {
        if (c == '\0')
            break;
        name += c >= 0x20 && c < 0x7F ? c : '?';
    }
    char line[256];
    std::snprintf(line, sizeof line,
                  "aircraft %u \"%s\" lat %.6f lon %.6f alt %.0f ft hdg %.1f gs %u kt vs %d",
                  entry.id, name.c_str(), static_cast<double>(entry.latitude),
                  static_cast<double>(entry.longitude), static_cast<double>(entry.altitude),
                  entry.heading * 360.0 / 65536.0, unsigned{entry.groundSpeed},
                  int{entry.verticalSpeed});
    return line;
}

bool ParseNumber(const std::string& text, std::uint64_t maximum, std::uint64_t* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    char* end = nullptr;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    unsigned long long parsed = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (end == nullptr || *end != '\0' || parsed > maximum)
        return false;
    *value = parsed;
    return true;
}

} // namespace simmodule
