// The reply walk after an exchange, over whatever the module left in the request area: a batch of
// reads and writes is queued, the module overwrites the area with arbitrary bytes while it
// answers, and the client delivers the values. Each read's destination sits between guard bytes:
// nothing may be written outside what was queued.
#include "platform/fake/fake.h"
#include "platform/fake/fake_messaging.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint8_t Guard = 0xA5;

struct Destination {
    std::vector<std::uint8_t> bytes; // guard, value, guard
    std::uint32_t size;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    fake::ResetAll();
    ResetRelayState();
    ResetSimLinkState();
    mainDialog = fake::MainWindow();
    fake::AddWindow("UIPCMAIN");
    fake::SetModuleU32(0x3304, 0x19980005);
    fake::SetModuleU32(0x3308, 0xFADE0000);
    SimLinkResult result = SimLinkResult::Ok;
    if (SimLinkOpen(0, &result) != 1)
        std::abort();

    std::vector<Destination> reads;
    int records = input.ConsumeIntegralInRange(0, 40);
    reads.reserve(static_cast<std::size_t>(records));
    for (int i = 0; i < records; ++i) {
        auto offset = input.ConsumeIntegralInRange<std::uint32_t>(0, 0xFFFF);
        auto length = input.ConsumeIntegralInRange<std::uint32_t>(0, 600);
        if (input.ConsumeBool()) {
            reads.push_back({std::vector<std::uint8_t>(length + 16, Guard), length});
            SimLinkRead(offset, length, reads.back().bytes.data() + 8, &result);
        } else {
            std::vector<std::uint8_t> bytes(length, 0x5A);
            SimLinkWrite(offset, length, bytes.data(), &result);
        }
    }

    std::vector<std::uint8_t> damage = input.ConsumeRemainingBytes<std::uint8_t>();
    fake::WhileModuleAnswers([&](std::span<std::uint8_t> area) {
        if (!damage.empty())
            std::memcpy(area.data(), damage.data(), std::min(area.size(), damage.size()));
    });
    SimLinkProcess(&result);

    for (const Destination& read : reads)
        for (std::size_t i = 0; i < 8; ++i)
            if (read.bytes[i] != Guard || read.bytes[read.bytes.size() - 1 - i] != Guard)
                std::abort();
    SimLinkClose();
    return 0;
}
