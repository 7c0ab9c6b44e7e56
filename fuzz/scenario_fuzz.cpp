// skyrelay-session's script parser over any text: it either reports a line inside the text or
// gives commands whose lines ascend and whose peers are within the name limit.
#include "skyrelay-session/scenario.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    session_host::Scenario scenario = session_host::ParseScenario(text);
    auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (scenario.error && (scenario.error->line < 1 || scenario.error->line > lines))
        std::abort();
    int last = 0;
    for (const session_host::Command& command : scenario.commands) {
        if (command.line <= last || command.line > lines)
            std::abort();
        last = command.line;
        if (command.name.size() > session_host::MaxPeerNameLength ||
            command.newName.size() > session_host::MaxPeerNameLength ||
            command.name.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos ||
            command.count > session_host::MaxBurstCount ||
            command.bytes.size() > session_host::MaxSendSize)
            std::abort();
    }
    return 0;
}
