// Session messages of any size and content, from any sender with any name (none, null, empty,
// very long, not terminated inside its record), through the drain, the decoder and the table.
#include "platform/fake/fake.h"
#include "platform/fake/fake_directplay.h"
#include "state/relay_state.h"
#include "traffic/session_messages.h"
#include "traffic/traffic_table.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    fake::ResetAll();
    ResetRelayState();
    ResetTrafficTable();
    ResetDrainState();
    mainDialog = fake::MainWindow();
    std::string user = input.ConsumeRandomLengthString(PlayerNameSize - 1);
    std::strncpy(playerName, user.c_str(), PlayerNameSize - 1);
    relayState.usingSquawkBox = input.ConsumeIntegralInRange<std::int32_t>(0, 2);
    if (plat::CreateDirectPlay(&sessionObject) != dp::Ok)
        std::abort();
    relayState.searching = 0;

    int messages = input.ConsumeIntegralInRange(0, 80);
    for (int i = 0; i < messages && input.remaining_bytes() > 0; ++i) {
        // A few senders (so names repeat and the table fills) or any id at all.
        auto sender = input.ConsumeBool() ? input.ConsumeIntegralInRange<dp::DPID>(0, 40)
                                          : input.ConsumeIntegral<dp::DPID>();
        switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0: // unknown player: GetPlayerName fails
            break;
        case 1:
            fake::SetPlayerName(sender, std::nullopt, "long name only");
            break;
        case 2:
            fake::SetPlayerName(sender, std::string{});
            break;
        case 3:
            fake::SetPlayerName(sender, input.ConsumeRandomLengthString(3000));
            break;
        case 4:
            fake::SetPlayerName(sender, std::string(static_cast<std::size_t>(1000 + i),
                                                    static_cast<char>('A' + i % 26)));
            break;
        default: {
            std::string tail = input.ConsumeRandomLengthString(80);
            fake::SetRawPlayerName(sender, std::vector<std::uint8_t>(tail.begin(), tail.end()),
                                   input.ConsumeIntegralInRange<std::size_t>(0, 90));
        }
        }
        std::string bytes = input.ConsumeRandomLengthString(300);
        // Most messages are position messages, so the decoder sees them.
        if (bytes.size() >= 4 && input.ConsumeBool()) {
            bytes[0] = static_cast<char>(PositionMessageType & 0xFF);
            bytes[1] = static_cast<char>(PositionMessageType >> 8);
            bytes[2] = bytes[3] = 0;
        }
        fake::QueueMessage(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), sender);
        if (input.ConsumeIntegralInRange(0, 7) == 0)
            DrainSessionMessages();
    }
    DrainSessionMessages();

    if (trafficTable.count > MaxTraffic)
        std::abort();
    for (std::size_t i = 0; i < MaxTraffic; ++i)
        if (std::memchr(trafficTable.names[i], 0, NameSlotSize) == nullptr ||
            std::memchr(trafficTable.entries[i].name, 0, sizeof trafficTable.entries[i].name) ==
                nullptr)
            std::abort();

    if (sessionObject != nullptr)
        sessionObject->Release();
    sessionObject = nullptr;
    ResetDrainState();
    return 0;
}
