// The registry reads shared by the Linux stand-in's test (values from a registry.reg export) and
// the Windows backend's test under Wine (the same values made with the registry functions), which
// shows that the stand-in answers as the real functions do.
#pragma once

#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace registry_cases {

inline constexpr const char* SimKey = "SOFTWARE\\Microsoft\\Microsoft Games\\Flight Simulator\\8.0";

// The values of SimKey the cases read, as type and bytes.
struct Value {
    const char* name; // "" for the key's default value
    std::uint32_t type;
    std::string data;
};
inline const std::vector<Value>& SimKeyValues() {
    static const std::vector<Value> values = {
        {"EXE Path", plat::RegistryTypeString, std::string("C:\\Program Files\\FS \"2002\"\0", 27)},
        {"Count", plat::RegistryTypeDword, std::string("*\0\0\0", 4)},
        {"Blob", plat::RegistryTypeBinary, "ABC"},
        {"", plat::RegistryTypeString, std::string("default\0", 8)},
    };
    return values;
}

// The value's type and bytes, or the registry's result when the key or value cannot be read.
inline std::string Query(const char* key, const char* name, std::uint32_t capacity = 64) {
    plat::RegistryKey handle = nullptr;
    long opened = plat::RegistryOpenKey(key, plat::KeyRead, &handle);
    if (opened != plat::RegistrySuccess)
        return "open " + std::to_string(opened);
    std::vector<std::uint8_t> data(capacity, 0);
    std::uint32_t type = 0, size = capacity;
    long result = plat::RegistryQueryValue(handle, name, &type, data.data(), &size);
    EXPECT_EQ(plat::RegistryCloseKey(handle), plat::RegistrySuccess);
    if (result != plat::RegistrySuccess)
        return "query " + std::to_string(result) + " size " + std::to_string(size);
    return std::to_string(type) + ":" +
           std::string(reinterpret_cast<const char*>(data.data()), size);
}

// Key and value names in any case, each type, the default value, a buffer too small, missing
// values and keys.
inline void ExpectSimKeyReads() {
    const char* key = "software\\MICROSOFT\\microsoft games\\flight simulator\\8.0";
    EXPECT_EQ(Query(key, "exe path"), std::string("1:C:\\Program Files\\FS \"2002\"\0", 29));
    EXPECT_EQ(Query(key, "Count"), std::string("4:*\0\0\0", 6));
    EXPECT_EQ(Query(key, "Blob"), "3:ABC");
    EXPECT_EQ(Query(key, nullptr), std::string("1:default\0", 10));
    EXPECT_EQ(Query(key, "EXE Path", 10), "query 234 size 27"); // ERROR_MORE_DATA, size needed
    EXPECT_EQ(Query(key, "Path"), "query 2 size 64");
    EXPECT_EQ(Query("SOFTWARE\\Microsoft", "x"), "query 2 size 64"); // a parent key exists
    EXPECT_EQ(Query("SOFTWARE\\Elsewhere", "X"), "open 2");
    EXPECT_EQ(Query("SOFTWARE\\Microsoft\\Microsoft Games\\Flight Simulator\\7.0", "x"), "open 2");
}

} // namespace registry_cases
