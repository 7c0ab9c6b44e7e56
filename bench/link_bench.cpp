// The Linux transport against its lower bounds: one exchange with skyrelay-sim (one 40-byte write
// at 0x1F80, as each aircraft of a publication makes) against a bare round trip of the same bytes
// on a connected unix stream socket to another process; and the copy of the working block into a
// real "AIFile" view against a plain memcpy of 28680 bytes.
#include "bench/variants.h"

#include "platform/messaging.h"
#include "platform/posix/window_messages.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/pump.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// skyrelay-sim, started once, in a runtime folder and a shared memory namespace of this run.
struct World {
    pid_t sim = -1;
    std::string folder;
    bool ready = false;
};

World& TheWorld() {
    static World world;
    return world;
}

std::string ProgramFolder() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string text = path;
    return text.substr(0, text.rfind('/'));
}

void StopWorld() {
    World& world = TheWorld();
    if (world.folder.empty())
        return;
    SimLinkClose();
    ReleaseSharedTrafficBlock();
    if (world.sim > 0) {
        kill(world.sim, SIGTERM);
        waitpid(world.sim, nullptr, 0);
        world.sim = -1;
    }
    std::string socket = posix::WindowSocketPath(ModuleWindowClass);
    unlink(socket.c_str());
    rmdir(world.folder.c_str());
}

// Starts skyrelay-sim (its traffic lines go to /dev/null), opens the link and "AIFile".
bool StartWorld() {
    World& world = TheWorld();
    if (world.ready)
        return true;
    char folder[] = "/tmp/skyrelay-bench.XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return false;
    world.folder = folder;
    setenv("SKYRELAY_RUNTIME_DIR", folder, 1);
    std::string prefix = "skyrelay-bench-" + std::to_string(getpid()) + "-";
    setenv("SKYRELAY_SHM_PREFIX", prefix.c_str(), 1);
    std::string sim = ProgramFolder() + "/skyrelay-sim";
    world.sim = fork();
    if (world.sim == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execl(sim.c_str(), sim.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ResetRelayState();
    ResetSimLinkState();
    ResetSharedTrafficBlock();
    SimLinkResult result = SimLinkResult::NoModuleWindow;
    for (int attempt = 0; attempt < 100 && result != SimLinkResult::Ok; ++attempt) {
        usleep(50000);
        SimLinkOpen(0, &result);
    }
    if (result != SimLinkResult::Ok)
        return false;
    OpenSharedTrafficBlock();
    world.ready = sharedView != nullptr;
    return world.ready;
}

// What one aircraft's write carries.
TrafficEntry Aircraft() {
    TrafficEntry entry{};
    entry.id = 17;
    entry.latitude = 50.0333f;
    entry.longitude = 8.5706f;
    entry.altitude = 3500.0f;
    entry.heading = 64 * 700;
    entry.groundSpeed = 180;
    entry.verticalSpeed = -700;
    std::strcpy(entry.name, "DLH4AB");
    return entry;
}

void Exchange(benchmark::State& state, const bench::Variant& variant) {
    if (!StartWorld()) {
        state.SkipWithError("skyrelay-sim did not answer");
        return;
    }
    bench::Scope scope(variant);
    TrafficEntry entry = Aircraft();
    for (auto _ : state) {
        SimLinkResult result = SimLinkResult::Ok;
        SimLinkWrite(TrafficOffset, sizeof entry, &entry, &result);
        SimLinkProcess(&result);
        if (result != SimLinkResult::Ok) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}

// The bytes one exchange puts on the socket: the window message with both names.
std::size_t MessageBytes() {
    char area[64];
    std::snprintf(area, sizeof area, MappingNameFormat, plat::ProcessId(), 1u);
    posix::WindowMessage message;
    message.message = 0xC000;
    message.wParam = 0xC000;
    message.messageName = RequestMessageName;
    message.atomName = area;
    return posix::EncodeWindowMessage(message).size();
}

bool ReadFully(int fd, std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        ssize_t got = read(fd, bytes, size);
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Another process that answers every message of `size` bytes with a reply's 12 bytes, until end
// of stream.
[[noreturn]] void Echo(int fd, std::size_t size) {
    std::uint8_t bytes[1024];
    std::uint8_t reply[12] = {0, 0, 0, 0, 1};
    while (ReadFully(fd, bytes, size))
        if (write(fd, reply, sizeof reply) != static_cast<ssize_t>(sizeof reply))
            break;
    _exit(0);
}

void ExchangeKernel(benchmark::State& state) {
    std::size_t size = MessageBytes();
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        state.SkipWithError("socketpair");
        return;
    }
    pid_t echo = fork();
    if (echo == 0) {
        close(pair[0]);
        Echo(pair[1], size);
    }
    close(pair[1]);
    std::uint8_t bytes[1024] = {'S', 'K', 'W', 'M'};
    std::uint8_t reply[12];
    for (auto _ : state) {
        if (write(pair[0], bytes, size) != static_cast<ssize_t>(size) ||
            !ReadFully(pair[0], reply, sizeof reply)) {
            state.SkipWithError("round trip failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
    close(pair[0]);
    waitpid(echo, nullptr, 0);
    state.counters["bytes"] = static_cast<double>(size);
}

void ViewCopy(benchmark::State& state, const bench::Variant& variant) {
    if (!StartWorld()) {
        state.SkipWithError("no AIFile view");
        return;
    }
    bench::Scope scope(variant);
    for (auto _ : state) {
        CopyToSharedView();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(SharedBlockSize));
}

void ViewCopyKernel(benchmark::State& state) {
    if (!StartWorld()) {
        state.SkipWithError("no AIFile view");
        return;
    }
    for (auto _ : state) {
        std::memcpy(sharedView, &workingBlock, SharedBlockSize);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(SharedBlockSize));
}

void Register() {
    for (const bench::Variant& variant : bench::Variants()) {
        std::string suffix = variant.suffix;
        benchmark::RegisterBenchmark(("exchange" + suffix).c_str(), Exchange, variant)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("view-copy" + suffix).c_str(), ViewCopy, variant);
    }
    benchmark::RegisterBenchmark("kernel/exchange", ExchangeKernel)->UseRealTime();
    benchmark::RegisterBenchmark("kernel/view-copy", ViewCopyKernel);
}

} // namespace

int main(int argc, char** argv) {
    Register();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    StopWorld();
    return 0;
}
