// The profile (INI) reader and writer over any file contents, section, key and value: no read
// past the text, the value cut to the capacity and terminated, and whatever the writer stores is
// what the reader then finds.
#include "platform/ini_format.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::string section = input.ConsumeRandomLengthString(40);
    std::string key = input.ConsumeRandomLengthString(40);
    std::string value = input.ConsumeRandomLengthString(300);
    auto capacity = input.ConsumeIntegralInRange<std::uint32_t>(0, 300);
    std::string text = input.ConsumeRemainingBytesAsString();

    std::optional<std::string> found = ini::FindValue(text, section, key);
    std::vector<char> buffer(capacity + 1, 'X');
    std::uint32_t copied = ini::CopyResult(found, "default ", buffer.data(), capacity);
    if (capacity > 0 && (copied >= capacity || buffer[copied] != '\0'))
        std::abort();
    if (buffer[capacity] != 'X')
        std::abort();

    if (ini::CanStore(section, key, value)) {
        std::string written = ini::SetValue(text, section, key, value);
        std::optional<std::string> again = ini::FindValue(written, section, key);
        std::string_view expected = ini::Trim(value);
        if (expected.size() >= 2 && (expected.front() == '"' || expected.front() == '\'') &&
            expected.back() == expected.front())
            expected = expected.substr(1, expected.size() - 2);
        if (!again || *again != expected)
            std::abort();
    }
    return 0;
}
