// skyrelay-sim's module over an arbitrary request area: records are carried out only inside the
// area, the damage of --garble stays inside it too, and a second pass over the damaged area is
// just as safe.
#include "skyrelay-sim/module.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static simmodule::Module module(simmodule::DefaultModuleVersion, simmodule::DefaultSimVersion);
    // The area sits inside a larger buffer whose edges must stay untouched.
    std::vector<std::uint8_t> buffer(size + 64, 0xA5);
    std::copy(data, data + size, buffer.begin() + 32);
    std::span<std::uint8_t> area(buffer.data() + 32, size);
    module.CarryOut(area, [&](const simmodule::CarriedRecord& record) {
        if (record.data < area.data() || record.data + record.size > area.data() + area.size())
            std::abort();
        (void)simmodule::LogLine(record);
    });
    simmodule::Garble(area);
    module.CarryOut(area);
    for (std::size_t i = 0; i < 32; ++i)
        if (buffer[i] != 0xA5 || buffer[buffer.size() - 1 - i] != 0xA5)
            std::abort();
    return 0;
}
