#include "traffic/shared_block_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr std::size_t HeaderSize = offsetof(SharedTrafficBlock, records);
constexpr std::size_t RecordSize = sizeof(SharedTrafficRecord);

std::string Fixed(double value, int decimals) {
    char text[512];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// The shortest text that reads back as the same float; null for NaN and the infinities, which
// JSON cannot carry.
std::string JsonNumber(float value) {
    if (!std::isfinite(value))
        return "null";
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace

SharedBlockReading ReadSharedBlock(const std::uint8_t* bytes, std::size_t size) {
    SharedBlockReading reading;
    if (bytes == nullptr)
        size = 0;
    if (size < SharedBlockSize)
        reading.warnings.push_back("the block is " + std::to_string(size) +
                                   " bytes, smaller than " + std::to_string(SharedBlockSize) +
                                   "; only what it holds is shown");
    if (size < HeaderSize)
        return reading;

    reading.hasHeader = true;
    std::memcpy(&reading.state, bytes + offsetof(SharedTrafficBlock, state), sizeof reading.state);
    std::memcpy(&reading.recordCount, bytes + offsetof(SharedTrafficBlock, recordCount),
                sizeof reading.recordCount);
    if (reading.state != SharedStateNoPicture && reading.state != SharedStatePublished)
        reading.warnings.push_back("state " + std::to_string(reading.state) +
                                   " is neither 0 nor 2");

    std::size_t wanted = 0;
    if (reading.recordCount < 0) {
        reading.warnings.push_back("recordCount " + std::to_string(reading.recordCount) +
                                   " is negative; no records shown");
    } else {
        wanted = static_cast<std::size_t>(reading.recordCount);
        if (wanted > MaxTraffic)
            reading.warnings.push_back("recordCount " + std::to_string(wanted) +
                                       " is more than the " + std::to_string(MaxTraffic) +
                                       " aircraft the relay publishes");
        if (wanted > SharedRecordSlots) {
            reading.warnings.push_back("only the " + std::to_string(SharedRecordSlots) +
                                       " record slots are shown");
            wanted = SharedRecordSlots;
        }
    }
    std::size_t inside = (std::min(size, SharedBlockSize) - HeaderSize) / RecordSize;
    if (wanted > inside) {
        reading.warnings.push_back("only " + std::to_string(inside) + " of " +
                                   std::to_string(wanted) + " records lie inside the block");
        wanted = inside;
    }
    reading.records.resize(wanted);
    if (wanted > 0)
        std::memcpy(reading.records.data(), bytes + HeaderSize, wanted * RecordSize);
    return reading;
}

std::string RenderSharedBlockTable(const SharedBlockReading& reading, const std::string& name) {
    std::string out = "\"" + name + "\": ";
    if (reading.hasHeader)
        out += "state " + std::to_string(reading.state) + ", recordCount " +
               std::to_string(reading.recordCount) + "\n";
    else
        out += "no header\n";

    const std::size_t widths[] = {4, 12, 13, 13, 13, 14, 16};
    const char* titles[] = {"#",           "latitude",     "longitude",     "altitude ft",
                            "heading deg", "ground speed", "vertical speed"};
    for (std::size_t column = 0; column < std::size(widths); ++column)
        out += PadLeft(titles[column], widths[column]);
    out += "\n";
    for (std::size_t i = 0; i < reading.records.size(); ++i) {
        const SharedTrafficRecord& record = reading.records[i];
        out += PadLeft(std::to_string(i), widths[0]);
        out += PadLeft(Fixed(record.latitude, 6), widths[1]);
        out += PadLeft(Fixed(record.longitude, 6), widths[2]);
        out += PadLeft(Fixed(record.altitude, 1), widths[3]);
        out += PadLeft(Fixed(record.headingDegrees, 2), widths[4]);
        out += PadLeft(Fixed(record.groundSpeed, 1), widths[5]);
        out += PadLeft(Fixed(record.verticalSpeed, 1), widths[6]);
        out += "\n";
    }
    if (reading.records.empty())
        out += "(no records)\n";
    for (const std::string& warning : reading.warnings)
        out += "warning: " + warning + "\n";
    return out;
}

std::string RenderSharedBlockJson(const SharedBlockReading& reading) {
    std::string out = "{\"state\":";
    out += reading.hasHeader ? std::to_string(reading.state) : "null";
    out += ",\"recordCount\":";
    out += reading.hasHeader ? std::to_string(reading.recordCount) : "null";
    out += ",\"records\":[";
    for (std::size_t i = 0; i < reading.records.size(); ++i) {
        const SharedTrafficRecord& record = reading.records[i];
        if (i > 0)
            out += ",";
        out += "{\"latitude\":" + JsonNumber(record.latitude) +
               ",\"longitude\":" + JsonNumber(record.longitude) +
               ",\"altitude\":" + JsonNumber(record.altitude) +
               ",\"headingDegrees\":" + JsonNumber(record.headingDegrees) +
               ",\"groundSpeed\":" + JsonNumber(record.groundSpeed) +
               ",\"verticalSpeed\":" + JsonNumber(record.verticalSpeed) + "}";
    }
    out += "],\"warnings\":[";
    for (std::size_t i = 0; i < reading.warnings.size(); ++i) {
        if (i > 0)
            out += ",";
        out += JsonString(reading.warnings[i]);
    }
    return out + "]}";
}
