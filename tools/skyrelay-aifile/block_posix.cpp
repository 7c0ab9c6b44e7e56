// The "AIFile" block on Linux: the POSIX shared memory object "/" + $SKYRELAY_SHM_PREFIX +
// "AIFile".
#include "skyrelay-aifile/block_reader.h"
#include "traffic/shared_block.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace aifile {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

} // namespace

const char* const BlockWhere =
    "The block is the POSIX shared memory object \"/\" + $SKYRELAY_SHM_PREFIX + \"AIFile\".\n";

std::string BlockName(const char* base) {
    const char* prefix = std::getenv("SKYRELAY_SHM_PREFIX");
    return "/" + std::string(prefix != nullptr ? prefix : "") + base;
}

Outcome ReadBlockBytes(const std::string& name, std::size_t maxSize,
                       std::vector<std::uint8_t>& bytes, std::string& error, CopyBlock copy) {
    bytes.clear();
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0) {
        if (errno == ENOENT)
            return Outcome::NoBlock;
        error = std::strerror(errno);
        return Outcome::Failed;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = std::strerror(errno);
        close(fd);
        return Outcome::Failed;
    }
    std::size_t size = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
    if (size > 0) {
        void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        if (view == MAP_FAILED) {
            error = std::strerror(errno);
            close(fd);
            return Outcome::Failed;
        }
        const auto* first = static_cast<const std::uint8_t*>(view);
        bool copied = true;
        if (copy != nullptr)
            copied = copy(view, size, bytes, &error);
        else
            bytes.assign(first, first + std::min(size, maxSize));
        munmap(view, size);
        if (!copied) {
            close(fd);
            return Outcome::Failed;
        }
    }
    close(fd);
    return Outcome::Read;
}

std::uint64_t MonotonicNow() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

bool ProcessRunning(std::uint32_t processId) {
    // Signal 0 checks only that the process exists; EPERM means it does, as another user's.
    return processId != 0 && (kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM);
}

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
    return interrupted != 0;
}

void SleepOneSecond() {
    // Slept in short steps so that Ctrl-C ends the wait at once.
    for (int step = 0; step < 10 && !interrupted; ++step) {
        struct timespec tenth {
            0, 100'000'000
        };
        nanosleep(&tenth, nullptr);
    }
}

void PauseBriefly() {
    struct timespec pause {
        0, 1'000'000
    };
    nanosleep(&pause, nullptr);
}

bool OutputRedraws() {
    return isatty(STDOUT_FILENO) == 1;
}

bool ConsoleIsOwn() {
    return false; // a terminal stays open after its program ends
}

void WaitForKey() {}

} // namespace aifile
