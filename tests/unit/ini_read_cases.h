// The profile cases shared by the INI rules' unit test and the Windows backend's test under
// Wine, which shows that the stand-ins' rules are those of the real functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ReadCase {
    const char* what;
    std::string text;
    const char* defaultValue;
    std::uint32_t capacity;
    std::string expected;
};

// What GetPrivateProfileStringA(section "Skyrelay", key "FSPath", default, buffer, capacity, file)
// gives for a file holding `text`.
inline const std::vector<ReadCase>& IniReadCases() {
    static const std::vector<ReadCase> cases = {
        {"names ignore case", "[sKyReLaY]\nfspath=C:\\X\n", "", 200, "C:\\X"},
        {"blanks around name and value", "  [ Skyrelay ]  \n\t FSPath \t=  C:\\X  \n", "", 200,
         "C:\\X"},
        {"double quotes go", "[Skyrelay]\nFSPath=\"  C:\\X  \"\n", "", 200, "  C:\\X  "},
        {"a lone quote stays", "[Skyrelay]\nFSPath=\"\n", "", 200, "\""},
        {"cut to capacity - 1", "[Skyrelay]\nFSPath=abcdef\n", "", 4, "abc"},
        {"missing key: default without trailing spaces, a tab stays", "[Skyrelay]\n", "d e \t  ",
         200, "d e \t"},
        {"default is cut too", "", "default", 3, "de"},
        {"a line without = is a key without a value: the default", "[Skyrelay]\nFSPath\nFSPath=2\n",
         "d", 200, "d"},
        {"a section needs its ]", "[Skyrelay\nFSPath=x\n", "d", 200, "d"},
        {"single quotes go too", "[Skyrelay]\nFSPath='ab'\n", "", 200, "ab"},
        {"the first of two keys wins", "[Skyrelay]\nFSPath=1\nFSPath=2\n", "", 200, "1"},
        {"only the first section of a name counts",
         "[Skyrelay]\nX=1\n[Other]\nFSPath=no\n[SKYRELAY]\nFSPath=yes", "d", 200, "d"},
        {"CR line ends", "[Skyrelay]\rA=1\rFSPath=cr\r", "", 200, "cr"},
        {"CRLF and no end at the last line", "[Skyrelay]\r\nFSPath=crlf", "", 200, "crlf"},
        {"value up to a NUL", std::string("[Skyrelay]\nFSPath=ab\0cd\n", 24), "", 200, "ab"},
        {"empty value is a value", "[Skyrelay]\nFSPath=\n", "def", 200, ""},
    };
    return cases;
}

struct WriteCase {
    const char* what;
    std::string before;
    const char* key;
    const char* value;
    std::string after;
    // Wine's functions write the whole file anew, without its blank lines; Windows, and the
    // stand-ins, keep them.
    const char* afterUnderWine = nullptr;
};

// What WritePrivateProfileStringA("Skyrelay", key, value, file) leaves in a file holding `before`.
inline const std::vector<WriteCase>& IniWriteCases() {
    static const std::vector<WriteCase> cases = {
        {"a new file", "", "UsingSB", "1", "[Skyrelay]\r\nUsingSB=1\r\n"},
        {"replaced in place, names matched without regard to case and kept as they were",
         "; note\n[skyrelay]\nusingsb = 0\rOther=x", "UsingSB", "1",
         "; note\r\n[skyrelay]\r\nusingsb=1\r\nOther=x\r\n"},
        {"a key without a value gets one", "[Skyrelay]\nFSPath\nB=1\n", "FSPath", "v",
         "[Skyrelay]\r\nFSPath=v\r\nB=1\r\n"},
        {"the value loses its leading blanks", "", "FSPath", "  v  ",
         "[Skyrelay]\r\nFSPath=v  \r\n"},
        {"a new key goes after the section's last line in use, before the blank separator",
         "[Skyrelay]\nA=1\n\n[Next]\nB=2\n", "FSPath", "C:\\",
         "[Skyrelay]\r\nA=1\r\nFSPath=C:\\\r\n\r\n[Next]\r\nB=2\r\n",
         "[Skyrelay]\r\nA=1\r\nFSPath=C:\\\r\n[Next]\r\nB=2\r\n"},
        {"a new section goes at the end, even after a last line without an end", "[Next]\nB=2",
         "FSPath", "v", "[Next]\r\nB=2\r\n[Skyrelay]\r\nFSPath=v\r\n"},
    };
    return cases;
}
