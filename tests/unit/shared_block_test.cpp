#include "platform/fake/fake.h"
#include "platform/fake/fake_shared_memory.h"
#include "traffic/shared_block.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

namespace {

class SharedBlock : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::ResetAll();
        ResetSharedTrafficBlock();
    }
    void TearDown() override {
        ResetSharedTrafficBlock();
        fake::ResetAll();
    }
};

std::vector<std::uint8_t> Bytes(const void* data, std::size_t size) {
    const auto* first = static_cast<const std::uint8_t*>(data);
    return {first, first + size};
}

std::vector<std::uint8_t> FromHex(const char* hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

TrafficEntry Entry(float latitude, float longitude, float altitude, std::uint16_t heading,
                   std::uint16_t groundSpeed, std::int16_t verticalSpeed) {
    TrafficEntry entry{};
    entry.id = 77;
    entry.latitude = latitude;
    entry.longitude = longitude;
    entry.altitude = altitude;
    entry.heading = heading;
    entry.groundSpeed = groundSpeed;
    entry.verticalSpeed = verticalSpeed;
    std::strcpy(entry.name, "PEER");
    return entry;
}

// Every byte of the working copy set, so that untouched bytes are told apart from zeros.
void FillWorkingBlock(std::uint8_t value) {
    std::memset(&workingBlock, value, sizeof workingBlock);
}

} // namespace

TEST(SharedRecord, IsByteExact) {
    SharedTrafficRecord record =
        MakeSharedRecord(Entry(47.25f, -122.5f, 1000.0f, 32768, 194, -600));
    EXPECT_EQ(Bytes(&record, sizeof record),
              FromHex("00003d420000f5c200007a44b400344300004243000016c4"
                      "0000000000000000000000000000000000000000000000000000000000000000"));
}

TEST(SharedRecord, ConvertsHeadingAndSpeeds) {
    struct Case {
        std::uint16_t heading;
        std::uint16_t groundSpeed;
        std::int16_t verticalSpeed;
        float headingDegrees;
        float groundSpeedOut;
        float verticalSpeedOut;
    };
    const Case cases[] = {
        {32768, 194, -600, 180.00274658203125f, 194.0f, -600.0f},
        {65472, 0, 0, 359.6539306640625f, 0.0f, 0.0f},
        {64, 65535, -32768, 0.3515678644180298f, 65535.0f, -32768.0f}, // unsigned, signed extremes
        {65535, 31, 32767, 360.0f, 31.0f, 32767.0f}, // a full circle is 65535, not 65536
        {0, 1, -1, 0.0f, 1.0f, -1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.heading);
        SharedTrafficRecord record =
            MakeSharedRecord(Entry(0, 0, 0, c.heading, c.groundSpeed, c.verticalSpeed));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(record.headingDegrees),
                  std::bit_cast<std::uint32_t>(c.headingDegrees));
        EXPECT_EQ(record.groundSpeed, c.groundSpeedOut);
        EXPECT_EQ(record.verticalSpeed, c.verticalSpeedOut);
    }
}

TEST(SharedRecord, CopiesThePositionBitForBit) {
    const float quietNan = std::bit_cast<float>(0x7FC01234u);
    const float values[][3] = {
        {quietNan, -0.0f, std::numeric_limits<float>::denorm_min()},
        {-90.0f, 180.0f, std::numeric_limits<float>::infinity()},
    };
    for (const auto& v : values) {
        SharedTrafficRecord record = MakeSharedRecord(Entry(v[0], v[1], v[2], 0, 0, 0));
        EXPECT_EQ(Bytes(&record, 12), Bytes(v, 12));
    }
}

TEST_F(SharedBlock, EmptyPictureWritesSlotZeroAndTheHeaderOnly) {
    FillWorkingBlock(0xEE);
    EmptyPicture();
    const std::vector<std::uint8_t> expected =
        FromHex("0200000000000000" // state 2, recordCount 0
                "0000b2420000803f0000803f0000803f0000803f0000803f"
                "0000000000000000000000000000000000000000000000000000000000000000");
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&workingBlock);
    EXPECT_EQ(Bytes(bytes, expected.size()), expected);
    EXPECT_EQ(Bytes(bytes + expected.size(), 56), std::vector<std::uint8_t>(56, 0xEE));
}

// Each state "AIFile" can be found in: what the relay opens or creates, the message when it cannot
// use the block, and that it never writes a block it refused.
TEST_F(SharedBlock, OpensCreatesOrRefusesTheBlock) {
    struct Case {
        const char* what;
        std::size_t existingSize; // 0: no mapping exists
        const char* failing;      // operation made to fail, or null
        const char* message;      // null: the block is usable
        int closeResult;
    };
    const Case cases[] = {
        {"none exists", 0, nullptr, nullptr, 1},
        {"cannot create", 0, "CreateNamedMapping", "No comunication file Mapping", 0},
        {"cannot map", SharedBlockSize, "MapWholeView", "No comunication file view", 1},
        {"header only", 8, nullptr, "No comunication file view", 1},
        {"one byte short", SharedBlockSize - 1, nullptr, "No comunication file view", 1},
        {"exact size", SharedBlockSize, nullptr, nullptr, 1},
        {"larger", SharedBlockSize + 4000, nullptr, nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::ResetAll();
        ResetSharedTrafficBlock();
        std::vector<std::uint8_t> original(c.existingSize, 0xC3);
        if (c.existingSize > 0)
            fake::AddExistingMapping("AIFile", c.existingSize, original);
        else if (c.failing == nullptr)
            original.assign(SharedBlockSize, 0); // the relay creates a zero-filled block
        if (c.failing != nullptr)
            fake::FailCall(c.failing, 0, 0);

        OpenSharedTrafficBlock();
        EXPECT_EQ(fake::CallsOf("OpenNamedMapping"),
                  std::vector<std::string>{"OpenNamedMapping AIFile"});
        EXPECT_EQ(fake::CallsOf("CreateNamedMapping"),
                  c.existingSize > 0 ? std::vector<std::string>{}
                                     : std::vector<std::string>{"CreateNamedMapping AIFile 28680"});
        EXPECT_EQ(fake::MappingBytes("AIFile"), original); // opening writes nothing
        FillWorkingBlock(0x11);
        CopyToSharedView();

        if (c.message == nullptr) {
            EXPECT_TRUE(fake::MessageBoxes().empty());
            std::fill(original.begin(), original.begin() + SharedBlockSize, 0x11);
            EXPECT_EQ(fake::MappingBytes("AIFile"), original);
        } else {
            ASSERT_EQ(fake::MessageBoxes().size(), 1u);
            EXPECT_EQ(fake::MessageBoxes()[0].text, c.message);
            EXPECT_EQ(fake::MessageBoxes()[0].style, 0x30u);
            EXPECT_TRUE(fake::MessageBoxes()[0].appBox);
            EXPECT_EQ(sharedView, nullptr);
            EXPECT_EQ(fake::LiveViews(), 0);
            EXPECT_EQ(fake::MappingBytes("AIFile"), original);
        }
        if (sharedMapping == nullptr) {
            EXPECT_EQ(fake::CallCount("MapWholeView"), 0);
        }

        EXPECT_EQ(ReleaseSharedTrafficBlock(), c.closeResult);
        if (c.message != nullptr) {
            EXPECT_EQ(fake::MappingBytes("AIFile"), original);
        }
        EXPECT_EQ(fake::LiveViews(), 0);
        EXPECT_EQ(fake::LiveMappingHandles(), 0);
    }
}

TEST_F(SharedBlock, AShrinkingPictureKeepsOlderSlotsAndReleaseZeroesOnlyTheHeader) {
    fake::AddExistingMapping("AIFile", SharedBlockSize);
    OpenSharedTrafficBlock();
    // A publication of 5 aircraft, then, after an emptying, one of 2, as the pump writes them.
    for (std::uint16_t i = 0; i < 5; ++i)
        workingBlock.records[i] = MakeSharedRecord(Entry(10.0f + i, 0, 0, 0, 100, 0));
    workingBlock.state = SharedStatePublished;
    workingBlock.recordCount = 5;
    CopyToSharedView();
    for (std::uint16_t i = 0; i < 2; ++i)
        workingBlock.records[i] = MakeSharedRecord(Entry(20.0f + i, 0, 0, 0, 100, 0));
    workingBlock.recordCount = 2;
    CopyToSharedView();

    auto view = fake::MappingBytes("AIFile");
    SharedTrafficBlock seen{};
    std::memcpy(&seen, view.data(), sizeof seen);
    EXPECT_EQ(seen.recordCount, 2);
    EXPECT_EQ(seen.records[1].latitude, 21.0f);
    EXPECT_EQ(seen.records[2].latitude, 12.0f);
    EXPECT_EQ(seen.records[4].latitude, 14.0f);

    fake::ClearCalls();
    EXPECT_EQ(ReleaseSharedTrafficBlock(), 1);
    EXPECT_EQ(fake::Calls(), (std::vector<std::string>{"UnmapView", "CloseMapping handle"}));
    view = fake::MappingBytes("AIFile");
    std::memcpy(&seen, view.data(), sizeof seen);
    EXPECT_EQ(seen.state, 0);
    EXPECT_EQ(seen.recordCount, 0);
    EXPECT_EQ(seen.records[4].latitude, 14.0f);
    EXPECT_EQ(sharedView, nullptr);
    EXPECT_EQ(sharedMapping, nullptr);
}

TEST_F(SharedBlock, ReleaseReturnsTheCloseResult) {
    fake::AddExistingMapping("AIFile", SharedBlockSize);
    OpenSharedTrafficBlock();
    fake::FailCall("CloseMapping", 1, 0);
    EXPECT_EQ(ReleaseSharedTrafficBlock(), 0);

    // With nothing opened, the close of the absent mapping fails and nothing is unmapped.
    ResetSharedTrafficBlock();
    fake::ResetAll();
    EXPECT_EQ(ReleaseSharedTrafficBlock(), 0);
    EXPECT_EQ(fake::Calls(), std::vector<std::string>{"CloseMapping null"});
}
