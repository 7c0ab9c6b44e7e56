// skyrelay-aifile: prints the "AIFile" shared traffic block that Skyrelay publishes. It opens the
// block read-only, as any other program on the machine would, and never writes it.
#include "skyrelay-aifile/block_reader.h"
#include "traffic/shared_block_text.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const usageHead =
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
    "\n";
const char* const usageTail =
    "Exit status: 0 after a read, 1 when there is no block or it cannot be read, 2 for a wrong\n"
    "option.\n";

void PrintUsage(std::FILE* out) {
    std::fputs(usageHead, out);
    std::fputs(aifile::BlockWhere, out);
    std::fputs(usageTail, out);
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
            PrintUsage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "skyrelay-aifile: unknown option %s\n\n", option.c_str());
            PrintUsage(stderr);
            return 2;
        }
    }

    const std::string name = aifile::BlockName();
    const std::string noBlock = "skyrelay-aifile: there is no \"AIFile\" block (" + name +
                                "): Skyrelay is not running, or has not opened it yet";

    aifile::CatchInterrupt();
    const bool redraw = watch && !json && aifile::OutputRedraws();

    std::vector<std::uint8_t> bytes;
    do {
        std::string error;
        aifile::Outcome outcome = aifile::ReadBlockBytes(name, bytes, error);
        std::string text;
        if (outcome == aifile::Outcome::Read) {
            SharedBlockReading reading = ReadSharedBlock(bytes.data(), bytes.size());
            text = json ? RenderSharedBlockJson(reading) + "\n"
                        : RenderSharedBlockTable(reading, name);
        } else {
            std::string message =
                outcome == aifile::Outcome::NoBlock
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
            aifile::SleepOneSecond();
    } while (watch && !aifile::Interrupted());
    return 0;
}
