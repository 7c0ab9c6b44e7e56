// Reads "AIFile" every millisecond for a while and tells how long the peers' messages took to
// reach it. skyrelay-session --stamp puts the moment of sending (steady clock, ms mod 32768) into
// the vertical speed, which the relay publishes as it is. At each new picture, a record whose
// stamp moved on shows its newest message and stands for every message its peer sent since the
// record's previous stamp, one every PERIOD ms: each of them reached "AIFile" now. Prints the
// pictures seen, the messages accounted for with the median and maximum delay from sending to
// "AIFile", and the median and maximum age of the newest message in a picture, all in ms.
// Usage: skyrelay-aifile-delay SHM-NAME SECONDS PERIOD  (SHM-NAME as in /dev/shm, "/pAIFile")
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t HeaderBytes = 8;
constexpr std::size_t RecordBytes = 56;
constexpr std::size_t Records = 30;
constexpr std::size_t WatchedBytes = HeaderBytes + Records * RecordBytes;
constexpr std::size_t VerticalSpeedOffset = 20;

std::int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Milliseconds from stamp `from` to stamp `to` (both mod 32768), negative when `to` is earlier.
std::int64_t Since(std::int64_t from, std::int64_t to) {
    std::int64_t difference = ((to - from) % 32768 + 32768) % 32768;
    return difference >= 16384 ? difference - 32768 : difference;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: skyrelay-aifile-delay SHM-NAME SECONDS PERIOD\n");
        return 2;
    }
    double seconds = std::atof(argv[2]);
    std::int64_t period = std::atoi(argv[3]);
    if (period <= 0)
        period = 100;
    std::int64_t end = NowMs() + static_cast<std::int64_t>(seconds * 1000);
    const std::uint8_t* block = nullptr;
    while (block == nullptr && NowMs() < end) {
        int fd = shm_open(argv[1], O_RDONLY, 0);
        if (fd >= 0) {
            void* view = mmap(nullptr, WatchedBytes, PROT_READ, MAP_SHARED, fd, 0);
            close(fd);
            if (view != MAP_FAILED)
                block = static_cast<const std::uint8_t*>(view);
        }
        if (block == nullptr)
            usleep(100000);
    }
    if (block == nullptr) {
        std::fprintf(stderr, "skyrelay-aifile-delay: no %s\n", argv[1]);
        return 1;
    }

    std::uint8_t last[WatchedBytes] = {};
    std::uint8_t now[WatchedBytes];
    std::vector<int> delays; // every message, sending to "AIFile"
    std::vector<int> ages;   // the newest message of each record, sending to "AIFile"
    std::int64_t previous[Records];
    std::fill(previous, previous + Records, -1);
    long pictures = 0;
    while (NowMs() < end) {
        usleep(1000);
        std::memcpy(now, block, WatchedBytes);
        if (std::memcmp(now, last, WatchedBytes) == 0)
            continue;
        std::memcpy(last, now, WatchedBytes);
        std::int32_t state;
        std::int32_t count;
        std::memcpy(&state, now, 4);
        std::memcpy(&count, now + 4, 4);
        if (state != 2 || count <= 0)
            continue;
        ++pictures;
        std::int64_t at = NowMs() % 32768;
        for (std::size_t i = 0; i < static_cast<std::size_t>(count) && i < Records; ++i) {
            float stamp;
            std::memcpy(&stamp, now + HeaderBytes + i * RecordBytes + VerticalSpeedOffset, 4);
            auto sent = static_cast<std::int64_t>(stamp);
            ages.push_back(static_cast<int>(Since(sent, at)));
            std::int64_t before = previous[i];
            previous[i] = sent;
            if (before < 0 || before == sent)
                continue;
            // The messages after the previous stamp, newest first; the sender's schedule may
            // jitter by less than half a period.
            for (std::int64_t t = sent; Since(before, t) > period / 2; t -= period)
                delays.push_back(static_cast<int>(Since(t, at)));
        }
    }
    auto report = [](const char* what, std::vector<int>& values) {
        if (values.empty()) {
            std::printf(" %s 0 median_ms - max_ms -", what);
            return;
        }
        std::sort(values.begin(), values.end());
        std::printf(" %s %zu median_ms %d max_ms %d", what, values.size(),
                    values[values.size() / 2], values.back());
    };
    std::printf("pictures %ld", pictures);
    report("messages", delays);
    report("newest", ages);
    std::printf("\n");
    return 0;
}
