// The INI rules both settings backends share: what a read finds and what a write leaves behind.
#include "platform/ini_format.h"
#include "unit/ini_read_cases.h"

#include <gtest/gtest.h>

namespace {

TEST(IniFormat, ReadsLikeTheProfileFunctions) {
    for (const auto& c : IniReadCases()) {
        SCOPED_TRACE(c.what);
        char buffer[256];
        std::memset(buffer, 'Z', sizeof buffer);
        std::uint32_t n = ini::CopyResult(ini::FindValue(c.text, "Skyrelay", "FSPath"),
                                          c.defaultValue, buffer, c.capacity);
        EXPECT_EQ(std::string(buffer), c.expected);
        EXPECT_EQ(n, c.expected.size());
    }
    char one = 'Z';
    EXPECT_EQ(ini::CopyResult(std::string("abc"), "", &one, 1), 0u);
    EXPECT_EQ(one, '\0');
    EXPECT_EQ(ini::CopyResult(std::string("abc"), "", &one, 0), 0u);
}

TEST(IniFormat, WritesCreateSectionAndKeyAndEndEveryLineInCrLf) {
    for (const auto& c : IniWriteCases()) {
        SCOPED_TRACE(c.what);
        std::string text = ini::SetValue(c.before, "Skyrelay", c.key, c.value);
        EXPECT_EQ(text, c.after);
        EXPECT_EQ(ini::FindValue(text, "Skyrelay", c.key), std::string(ini::Trim(c.value)));
    }
}

TEST(IniFormat, RefusesWritesThatWouldChangeTheFileStructure) {
    EXPECT_TRUE(ini::CanStore("Skyrelay", "FSPath", "C:\\a = [b]"));
    EXPECT_FALSE(ini::CanStore("Skyrelay", "FSPath", "C:\\a\r\n[Skyrelay]\r\nUsingSB=1"));
    EXPECT_FALSE(ini::CanStore("Skyrelay", "FSPath", "a\rb"));
    EXPECT_FALSE(ini::CanStore("Sky]relay", "FSPath", "v"));
    EXPECT_FALSE(ini::CanStore("Skyrelay", "FS=Path", "v"));
    EXPECT_FALSE(ini::CanStore(" ", "FSPath", "v"));
    EXPECT_FALSE(ini::CanStore("Skyrelay", " [FSPath", "v")); // would read back as a section
    // Outer blanks of the names are not part of them, on the way in as on the way out.
    std::string written = ini::SetValue("[Skyrelay]\r\n", "\tSkyrelay ", " FSPath", "v");
    EXPECT_EQ(written, "[Skyrelay]\r\nFSPath=v\r\n");
    EXPECT_EQ(ini::FindValue(written, " Skyrelay\t", "FSPath "), "v");
}

} // namespace
