#include "traffic/shared_block_text.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// A block of exactly `size` bytes on the heap, so that a read past its end is caught. Slot i holds
// latitude i + 1.
std::vector<std::uint8_t> Block(std::size_t size, std::int32_t state, std::int32_t recordCount) {
    SharedTrafficBlock block{};
    block.state = state;
    block.recordCount = recordCount;
    for (std::size_t i = 0; i < SharedRecordSlots; ++i)
        block.records[i].latitude = static_cast<float>(i + 1);
    // Bytes past the block's own size stand for the rest of a larger mapping.
    std::vector<std::uint8_t> bytes(size, 0xAB);
    if (size > 0)
        std::memcpy(bytes.data(), &block, std::min(size, sizeof block));
    return bytes;
}

bool Mentions(const std::vector<std::string>& warnings, const std::string& part) {
    for (const std::string& warning : warnings)
        if (warning.find(part) != std::string::npos)
            return true;
    return false;
}

} // namespace

// What the reader takes from blocks it did not write: never past the bytes it was given, never
// past the 512 slots, and every oddity said plainly.
TEST(SharedBlockReading, TakesOnlyTheFirstRecordCountRecordsThatExist) {
    struct Case {
        const char* what;
        std::size_t size;
        std::int32_t state;
        std::int32_t recordCount;
        bool hasHeader;
        std::size_t shown;
        std::vector<std::string> warnings; // a part of each expected warning
    };
    const std::size_t full = SharedBlockSize;
    const Case cases[] = {
        {"three aircraft", full, 2, 3, true, 3, {}},
        {"empty picture", full, 2, 0, true, 0, {}},
        {"after exit", full, 0, 0, true, 0, {}},
        {"negative count", full, 2, -1, true, 0, {"negative"}},
        {"exactly 30", full, 2, 30, true, 30, {}},
        {"more than 30", full, 2, 31, true, 31, {"more than the 30"}},
        {"exactly 512", full, 2, 512, true, 512, {"more than the 30"}},
        {"more than 512", full, 2, 600, true, 512, {"more than the 30", "512 record slots"}},
        {"huge count", full, 2, 0x7FFFFFFF, true, 512, {"more than the 30", "512 record slots"}},
        {"unknown state", full, 7, 1, true, 1, {"state 7"}},
        {"cut inside record 2", 8 + 2 * 56 + 10, 2, 5, true, 2, {"smaller than 28680", "2 of 5"}},
        {"header only", 8, 2, 1, true, 0, {"8 bytes", "0 of 1"}},
        {"no header", 7, 0, 0, false, 0, {"7 bytes"}},
        {"nothing", 0, 0, 0, false, 0, {"0 bytes"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto bytes = Block(c.size, c.state, c.recordCount);
        const SharedBlockReading reading = ReadSharedBlock(bytes.data(), bytes.size());
        EXPECT_EQ(reading.hasHeader, c.hasHeader);
        if (c.hasHeader) {
            EXPECT_EQ(reading.state, c.state);
            EXPECT_EQ(reading.recordCount, c.recordCount);
        }
        ASSERT_EQ(reading.records.size(), c.shown);
        for (std::size_t i = 0; i < c.shown; ++i)
            ASSERT_EQ(reading.records[i].latitude, static_cast<float>(i + 1));
        EXPECT_EQ(reading.warnings.size(), c.warnings.size());
        for (const std::string& part : c.warnings)
            EXPECT_TRUE(Mentions(reading.warnings, part)) << part;
    }
}

TEST(SharedBlockReading, RendersAnAlignedTableAndOneJsonLine) {
    SharedTrafficBlock block{};
    block.state = 2;
    block.recordCount = 2;
    block.records[0] = {47.25f, -122.5f, 1250.0f, 180.00274658203125f, 194.0f, -600.0f, {}};
    block.records[1] = {std::numeric_limits<float>::quiet_NaN(), 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, {}};
    block.records[2].latitude = 99.0f; // older picture, not shown
    std::vector<std::uint8_t> bytes(SharedBlockSize);
    std::memcpy(bytes.data(), &block, sizeof block);
    const SharedBlockReading reading = ReadSharedBlock(bytes.data(), bytes.size());

    EXPECT_EQ(
        RenderSharedBlockTable(reading, "/AIFile"),
        "\"/AIFile\": state 2, recordCount 2\n"
        "   #    latitude    longitude  altitude ft  heading deg  ground speed  vertical speed\n"
        "   0   47.250000  -122.500000       1250.0       180.00         194.0          -600.0\n"
        "   1         nan     1.000000          2.0         3.00           4.0             5.0\n");
    EXPECT_EQ(RenderSharedBlockJson(reading),
              "{\"state\":2,\"recordCount\":2,\"records\":["
              "{\"latitude\":47.25,\"longitude\":-122.5,\"altitude\":1250,"
              "\"headingDegrees\":180.00275,\"groundSpeed\":194,\"verticalSpeed\":-600},"
              "{\"latitude\":null,\"longitude\":1,\"altitude\":2,\"headingDegrees\":3,"
              "\"groundSpeed\":4,\"verticalSpeed\":5}],\"warnings\":[]}");

    const SharedBlockReading cut = ReadSharedBlock(bytes.data(), 4);
    EXPECT_EQ(RenderSharedBlockJson(cut),
              "{\"state\":null,\"recordCount\":null,\"records\":[],\"warnings\":[\"the block is 4 "
              "bytes, smaller than 28680; only what it holds is shown\"]}");
    EXPECT_EQ(RenderSharedBlockTable(cut, "/AIFile").find("\"/AIFile\": no header\n"), 0u);
}
