// skyrelay-aifile: prints the "AIFile" shared traffic block that Skyrelay publishes. It opens the
// block read-only, as any other program on the machine would, and never writes it.
#include "traffic/shared_block_text.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

const char* const usage =
    "Usage: skyrelay-aifile [--watch] [--json]\n"
    "\n"
    "Prints the \"AIFile\" shared traffic block that Skyrelay publishes: its state, its\n"
    "recordCount and the first recordCount records as a table (latitude, longitude, altitude in\n"
    "feet, heading in degrees, ground speed, vertical speed).\n"
    "\n"
    "Only the first recordCount records are read: the slots after them may still hold aircraft of\n"
    "earlier pictures and are not part of the current one. The block is opened read-only and "
    "never\n"
    "written.\n"
    "\n"
    "  --watch   read and print the block again every second until interrupted (Ctrl-C); while\n"
    "            there is no block it says so and keeps waiting\n"
    "  --json    print each read as one JSON object on one line: state, recordCount, records,\n"
    "            warnings\n"
    "  --help    print this help\n"
    "\n"
    "The block is the POSIX shared memory object \"/\" + $SKYRELAY_SHM_PREFIX + \"AIFile\".\n"
    "Exit status: 0 after a read, 1 when there is no block or it cannot be read, 2 for a wrong\n"
    "option.\n";

enum class Outcome { Read, NoBlock, Failed };

// Copies the block's bytes (at most one block's worth) out of a read-only view.
Outcome ReadBlockBytes(const std::string& name, std::vector<std::uint8_t>& bytes,
                       std::string& error) {
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
        bytes.assign(first, first + std::min(size, SharedBlockSize));
        munmap(view, size);
    }
    close(fd);
    return Outcome::Read;
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

} // namespace

int main(int argc, char** argv) {
    bool watch = false;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--watch") {
            watch = true;
        } else if (option == "--json") {
            json = true;
        } else if (option == "--help" || option == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "skyrelay-aifile: unknown option %s\n\n%s", option.c_str(), usage);
            return 2;
        }
    }

    const char* prefix = std::getenv("SKYRELAY_SHM_PREFIX");
    const std::string name = "/" + std::string(prefix != nullptr ? prefix : "") + SharedBlockName;
    const std::string noBlock = "skyrelay-aifile: there is no \"AIFile\" block (" + name +
                                "): Skyrelay is not running, or has not opened it yet";

    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const bool redraw = watch && !json && isatty(STDOUT_FILENO) == 1;

    std::vector<std::uint8_t> bytes;
    do {
        std::string error;
        Outcome outcome = ReadBlockBytes(name, bytes, error);
        std::string text;
        if (outcome == Outcome::Read) {
            SharedBlockReading reading = ReadSharedBlock(bytes.data(), bytes.size());
            text = json ? RenderSharedBlockJson(reading) + "\n"
                        : RenderSharedBlockTable(reading, name);
        } else {
            std::string message =
                outcome == Outcome::NoBlock
                    ? noBlock
                    : "skyrelay-aifile: cannot read \"AIFile\" (" + name + "): " + error;
            if (!watch) {
                std::fprintf(stderr, "%s\n", message.c_str());
                return 1;
            }
            // While watching, JSON output stays pure: the message goes to stderr.
            if (json)
                std::fprintf(stderr, "%s\n", message.c_str());
            else
                text = message + "\n";
        }
        if (redraw)
            std::fputs("\x1b[H\x1b[2J", stdout);
        else if (watch && !json && !text.empty())
            text += "\n";
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        if (watch)
            SleepOneSecond();
    } while (watch && !interrupted);
    return 0;
}
