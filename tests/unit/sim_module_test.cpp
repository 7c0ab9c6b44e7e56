#include "skyrelay-sim/module.h"
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using simmodule::CarriedRecord;
using simmodule::Module;

// A request area as a client builds it.
struct Area {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(0x8000, 0);
    std::size_t end = 0;

    void Word(std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[end++] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    std::size_t Read(std::uint32_t offset, std::uint32_t size) {
        std::size_t at = end;
        Word(1), Word(offset), Word(size), Word(0xDE57);
        end += size;
        return at;
    }
    std::size_t Write(std::uint32_t offset, const std::vector<std::uint8_t>& data) {
        std::size_t at = end;
        Word(2), Word(offset), Word(static_cast<std::uint32_t>(data.size()));
        std::memcpy(&bytes[end], data.data(), data.size());
        end += data.size();
        return at;
    }
    std::vector<std::uint8_t> At(std::size_t at, std::size_t size) const {
        return {bytes.begin() + static_cast<std::ptrdiff_t>(at),
                bytes.begin() + static_cast<std::ptrdiff_t>(at + size)};
    }
};

std::vector<std::string> CarryOut(Module& module, std::span<std::uint8_t> area) {
    std::vector<std::string> lines;
    module.CarryOut(area, [&](const CarriedRecord& r) { lines.push_back(simmodule::LogLine(r)); });
    return lines;
}

TEST(SimModule, HandshakeBatchIsCarriedOutInOrderLeavingHeadersAlone) {
    Module module(0x19980005, 0xFADE0002);
    Area area;
    std::size_t first = area.Read(0x3304, 4);
    std::size_t second = area.Read(0x3308, 4);
    area.Write(0x330A, {0xEC, 0x03});
    std::size_t third = area.Read(0x3308, 4);
    area.Word(0);
    std::vector<std::uint8_t> before = area.bytes;

    EXPECT_EQ(CarryOut(module, area.bytes),
              (std::vector<std::string>{"read 0x3304 4", "read 0x3308 4", "write 0x330A 2 ec03",
                                        "read 0x3308 4"}));
    EXPECT_EQ(area.At(first + 16, 4), (std::vector<std::uint8_t>{0x05, 0x00, 0x98, 0x19}));
    // The handshake word is taken, but the presented version stays as it was.
    EXPECT_EQ(area.At(second + 16, 4), (std::vector<std::uint8_t>{0x02, 0x00, 0xDE, 0xFA}));
    EXPECT_EQ(area.At(third + 16, 4), (std::vector<std::uint8_t>{0x02, 0x00, 0xDE, 0xFA}));
    EXPECT_EQ(module.HandshakeWord(), 1004);
    auto filled = [&](std::size_t i) {
        for (std::size_t at : {first, second, third})
            if (i >= at + 16 && i < at + 20)
                return true;
        return false;
    };
    for (std::size_t i = 0; i < area.bytes.size(); ++i) {
        if (!filled(i)) {
            ASSERT_EQ(area.bytes[i], before[i]) << "byte " << i;
        }
    }
}

TEST(SimModule, WritesAreReadBackAndOffsetsPastTheSpaceAreHarmless) {
    Module module(1, 2);
    Area area;
    area.Write(0x1F80, {1, 2, 3});
    area.Write(0xFFFE, {7, 8, 9, 10});
    std::size_t back = area.Read(0x1F80, 3);
    std::size_t edge = area.Read(0xFFFE, 4);
    std::size_t far = area.Read(0xFFFFFFFE, 4);
    area.Word(0);
    EXPECT_EQ(CarryOut(module, area.bytes).size(), 5u);
    EXPECT_EQ(area.At(back + 16, 3), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(area.At(edge + 16, 4), (std::vector<std::uint8_t>{7, 8, 0, 0}));
    EXPECT_EQ(area.At(far + 16, 4), (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

// A client can send anything: the module stops at whatever does not fit the area.
TEST(SimModule, MalformedAreasStopTheWalkInsideTheArea) {
    struct Case {
        const char* what;
        std::vector<std::uint32_t> words;
        std::size_t areaSize;
        std::size_t carried;
    };
    const Case cases[] = {
        {"size past the end", {2, 0x100, 0xFFFFFFF0}, 64, 0},
        {"size to the last byte", {2, 0x100, 52}, 64, 1},
        {"size one byte past", {2, 0x100, 53}, 64, 0},
        {"read header cut off", {2, 0, 0, 1, 0}, 24, 1},
        {"unknown type", {2, 0, 0, 7, 0, 0}, 64, 1},
        {"no terminator, area full", {2, 0, 4, 0}, 16, 1},
        {"area shorter than a word", {}, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Module module(1, 2);
        std::vector<std::uint8_t> area(c.areaSize, 0);
        for (std::size_t i = 0; i < c.words.size() && 4 * i + 4 <= area.size(); ++i)
            std::memcpy(&area[4 * i], &c.words[i], 4);
        EXPECT_EQ(module.CarryOut(area), c.carried);
    }
}

TEST(SimModule, GarbleDamagesTypesAndSizesInTurn) {
    Area area;
    std::size_t a = area.Read(0x3304, 4);
    std::size_t b = area.Read(0x3308, 4);
    std::size_t c = area.Write(0x330A, {0xEC, 0x03});
    std::size_t d = area.Read(0x100, 2);
    area.Word(0);
    EXPECT_EQ(simmodule::Garble(area.bytes), 4u);
    auto word = [&](std::size_t at) {
        std::uint32_t value;
        std::memcpy(&value, &area.bytes[at], 4);
        return value;
    };
    EXPECT_EQ(word(a), 2u);
    EXPECT_EQ(word(b + 8), 0xFFFFFFF0u);
    EXPECT_EQ(word(c), 0x42524147u);
    EXPECT_EQ(word(d), 2u);
}

TEST(SimModule, TrafficRecordAsOneLine) {
    TrafficEntry entry{};
    entry.id = 4242;
    entry.latitude = 47.5f;
    entry.longitude = -122.25f;
    entry.altitude = 1500.4f;
    entry.heading = 16384;
    entry.groundSpeed = 250;
    entry.verticalSpeed = -500;
    std::memcpy(entry.name, "N123\x01", 5);
    std::uint8_t bytes[40];
    std::memcpy(bytes, &entry, sizeof bytes);
    EXPECT_EQ(simmodule::TrafficLine(bytes),
              "aircraft 4242 \"N123?\" lat 47.500000 lon -122.250000 alt 1500 ft hdg 90.0 gs "
              "250 kt vs -500");
    EXPECT_EQ(simmodule::TrafficLine(std::span(bytes, 12)), "traffic record of 12 bytes");
}

TEST(SimModule, NumbersInDecimalOrHex) {
    std::uint64_t value = 0;
    EXPECT_TRUE(simmodule::ParseNumber("0x19980004", 0xFFFFFFFF, &value));
    EXPECT_EQ(value, 0x19980004u);
    EXPECT_TRUE(simmodule::ParseNumber("13", 0xFFFFFFFF, &value));
    EXPECT_EQ(value, 13u);
    for (const char* bad : {"", "0x", "12z", "-1", "0x100000000", " 1"})
        EXPECT_FALSE(simmodule::ParseNumber(bad, 0xFFFFFFFF, &value)) << bad;
}

} // namespace
