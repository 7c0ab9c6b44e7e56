// The INI rules both settings backends share: what a read finds and what a write leaves behind.
#include "platform/ini_format.h"

#include <gtest/gtest.h>

namespace {

struct ReadCase {
    const char* what;
    std::string text;
    const char* defaultValue;
    std::uint32_t capacity;
    std::string expected;
};

TEST(IniFormat, ReadsLikeTheProfileFunctions) {
    const std::vector<ReadCase> cases = {
        {"names ignore case", "[sKyReLaY]\nfspath=C:\\X\n", "", 200, "C:\\X"},
        {"blanks around name and value", "  [ Skyrelay ]  \n\t FSPath \t=  C:\\X  \n", "", 200,
         "C:\\X"},
        {"double quotes go", "[Skyrelay]\nFSPath=\"  C:\\X  \"\n", "", 200, "  C:\\X  "},
        {"a lone quote stays", "[Skyrelay]\nFSPath=\"\n", "", 200, "\""},
        {"cut to capacity - 1", "[Skyrelay]\nFSPath=abcdef\n", "", 4, "abc"},
        {"missing key: default without trailing blanks", "[Skyrelay]\n", "d e \t ", 200, "d e"},
        {"default is cut too", "", "default", 3, "de"},
        {"a line without = is not a key", "[Skyrelay]\nFSPath\nFSPath=second\n", "", 200, "second"},
        {"the first of two keys wins", "[Skyrelay]\nFSPath=1\nFSPath=2\n", "", 200, "1"},
        {"a later section of the same name is searched",
         "[Skyrelay]\nX=1\n[Other]\nFSPath=no\n[SKYRELAY]\nFSPath=yes", "", 200, "yes"},
        {"CR line ends", "[Skyrelay]\rA=1\rFSPath=cr\r", "", 200, "cr"},
        {"CRLF and no end at the last line", "[Skyrelay]\r\nFSPath=crlf", "", 200, "crlf"},
        {"value up to a NUL", std::string("[Skyrelay]\nFSPath=ab\0cd\n", 24), "", 200, "ab"},
        {"empty value is a value", "[Skyrelay]\nFSPath=\n", "def", 200, ""},
    };
    for (const auto& c : cases) {
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
    std::string text = ini::SetValue("", "Skyrelay", "UsingSB", "1");
    EXPECT_EQ(text, "[Skyrelay]\r\nUsingSB=1\r\n");
    // Replaced in place, names matched without regard to case.
    text = ini::SetValue("; note\n[skyrelay]\nusingsb = 0\rOther=x", "Skyrelay", "UsingSB", "1");
    EXPECT_EQ(text, "; note\r\n[skyrelay]\r\nUsingSB=1\r\nOther=x\r\n");
    // A new key goes after the section's last line in use, before the blank separator.
    text = ini::SetValue("[Skyrelay]\nA=1\n\n[Next]\nB=2\n", "Skyrelay", "FSPath", "C:\\");
    EXPECT_EQ(text, "[Skyrelay]\r\nA=1\r\nFSPath=C:\\\r\n\r\n[Next]\r\nB=2\r\n");
    // A new section goes at the end, even after a last line without an end.
    text = ini::SetValue("[Next]\nB=2", "Skyrelay", "FSPath", "v");
    EXPECT_EQ(text, "[Next]\r\nB=2\r\n[Skyrelay]\r\nFSPath=v\r\n");
    EXPECT_EQ(ini::FindValue(text, "Skyrelay", "FSPath"), "v");
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
