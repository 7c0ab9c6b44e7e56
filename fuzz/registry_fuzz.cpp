// The registry file stand-in over any file contents: the keys the relay looks for are opened and
// their values read into small and large buffers, never past them.
#include "platform/settings_store.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string registryPath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/skyrelay-registry-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        std::abort();
    setenv("SKYRELAY_CONFIG_DIR", folder, 1);
    registryPath = std::string(folder) + "/registry.reg";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(registryPath.c_str(), "wb");
    if (file == nullptr)
        std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    const char* keys[] = {"SOFTWARE\\Microsoft\\Microsoft Games\\Flight Simulator\\8.0",
                          "SOFTWARE\\Microsoft\\Microsoft Games\\Flight Simulator\\7.0",
                          "SOFTWARE\\Microsoft\\Games\\Flight Simulator\\6.0", "SOFTWARE"};
    const char* names[] = {"EXE Path", "Path", "InstalledTo", ""};
    for (const char* subKey : keys) {
        plat::RegistryKey key = nullptr;
        if (plat::RegistryOpenKey(subKey, plat::KeyRead, &key) != plat::RegistrySuccess)
            continue;
        for (const char* name : names) {
            for (std::uint32_t capacity : {0u, 3u, 260u}) {
                std::vector<std::uint8_t> buffer(capacity + 8, 0xA5);
                std::uint32_t type = 0;
                std::uint32_t stored = capacity;
                plat::RegistryQueryValue(key, name, &type, buffer.data(), &stored);
                for (std::size_t i = capacity; i < buffer.size(); ++i)
                    if (buffer[i] != 0xA5)
                        std::abort();
            }
        }
        plat::RegistryCloseKey(key);
    }
    return 0;
}
