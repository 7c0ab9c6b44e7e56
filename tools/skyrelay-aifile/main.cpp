// skyrelay-aifile: prints the "AIFile" shared traffic block that Skyrelay publishes. It opens the
// block read-only, as any other program on the machine would, and never writes it. With --stats it
// reads Skyrelay's counter block instead and says in one sentence why no aircraft show.
#include "skyrelay-aifile/block_reader.h"
#include "skyrelay-aifile/sim_window.h"
#include "traffic/relay_stats_text.h"
#include "traffic/shared_block_text.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const usageHead =
    "Usage: skyrelay-aifile [--stats] [--watch] [--json]\n"
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
    "  --stats   print Skyrelay's counters (the \"SkyrelayStats\" block) instead, under one\n"
    "            sentence that names the first thing wrong when no aircraft show\n"
    "  --watch   read and print the block again every second until interrupted (Ctrl-C); while\n"
    "            there is no block it says so and keeps waiting. Without --json the sentence\n"
    "            of --stats follows the traffic table\n"
    "  --json    print each read as one JSON object on one line: state, recordCount, records,\n"
    "            warnings (with --stats: diagnosis and stats)\n"
    "  --help    print this help\n"
    "\n"
    "Started in a console window of its own (from Explorer), it prints what --stats prints and\n"
    "waits for a key before the window closes.\n"
    "\n";
const char* const usageTail =
    "Exit status: 0 after a read, 1 when there is no block or it cannot be read, 2 for a wrong\n"
    "option.\n";

void PrintUsage(std::FILE* out) {
    std::fputs(usageHead, out);
    std::fputs(aifile::BlockWhere, out);
    std::fputs(usageTail, out);
}

// The counter block as the relay left it, and what it says.
struct StatsRead {
    aifile::Outcome outcome = aifile::Outcome::NoBlock;
    std::string error;         // why it could not be read or was refused
    RelayStatsReading reading; // the counters, when read and valid
    RelayStatsContext context; // the diagnosis's input
};

// The counter block is copied whole from one update, with a short pause between tries.
bool CopyStats(const void* view, std::size_t viewSize, std::vector<std::uint8_t>& bytes,
               std::string* error) {
    return CopyRelayStats(view, viewSize, bytes, error, aifile::PauseBriefly);
}

StatsRead ReadStats(const std::string& name) {
    StatsRead read;
    std::vector<std::uint8_t> bytes;
    read.outcome = aifile::ReadBlockBytes(name, RelayStatsSize, bytes, read.error, CopyStats);
    read.context.nowMs = aifile::MonotonicNow();
    if (read.outcome != aifile::Outcome::Read)
        return read;
    read.reading = ReadRelayStats(bytes.data(), bytes.size());
    if (!read.reading.valid) {
        read.outcome = aifile::Outcome::Failed;
        read.error = read.reading.refusal;
        return read;
    }
    read.context.stats = &read.reading.stats;
    read.context.processRunning = aifile::ProcessRunning(read.reading.stats.processId);
    // The window the relay found is gone: whether another is there tells a simulator started
    // again from one that was closed or crashed.
    const RelayStats& stats = read.reading.stats;
    if (stats.linkState == RelayLinkFailing &&
        stats.linkLastSystemError == SendErrorInvalidWindowHandle)
        read.context.simulatorWindow =
            aifile::SimulatorWindowThere() ? SimulatorWindow::Present : SimulatorWindow::Absent;
    return read;
}

// One --stats read as text or JSON; *status is 1 when the block could not be read.
std::string StatsText(const std::string& name, bool json, int* status) {
    StatsRead read = ReadStats(name);
    *status = read.outcome == aifile::Outcome::Read ? 0 : 1;
    if (read.outcome == aifile::Outcome::Failed) {
        std::fprintf(stderr, "skyrelay-aifile: cannot read \"SkyrelayStats\" (%s): %s\n",
                     name.c_str(), read.error.c_str());
        return "";
    }
    if (json)
        return RenderRelayStatsJson(read.context) + "\n";
    std::string text = DiagnoseRelay(read.context) + "\n";
    if (std::string detail = DiagnosisDetail(read.context); !detail.empty())
        text += detail + "\n";
    if (read.context.stats != nullptr)
        text += "\n" + RenderRelayStats(*read.context.stats, read.context.nowMs);
    return text;
}

int Run(int argc, char** argv, bool ownConsole) {
    bool watch = false;
    bool json = false;
    bool stats = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--watch") {
            watch = true;
        } else if (option == "--stats") {
            stats = true;
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

    // Started from Explorer, with no one to give options: what a user there wants to know.
    if (ownConsole && argc == 1)
        stats = true;

    const std::string name = aifile::BlockName();
    const std::string statsName = aifile::BlockName(RelayStatsBlockName);
    const std::string noBlock = "skyrelay-aifile: there is no \"AIFile\" block (" + name +
                                "): Skyrelay is not running, or has not opened it yet";

    aifile::CatchInterrupt();
    const bool redraw = watch && !json && aifile::OutputRedraws();

    std::vector<std::uint8_t> bytes;
    do {
        if (stats) {
            int status = 0;
            std::string text = StatsText(statsName, json, &status);
            if (!watch && status != 0) {
                std::fputs(text.c_str(), stdout);
                return 1;
            }
            if (redraw)
                std::fputs("\x1b[H\x1b[2J", stdout);
            else if (watch && !json)
                text += "\n";
            std::fputs(text.c_str(), stdout);
            std::fflush(stdout);
            if (watch)
                aifile::SleepOneSecond();
            continue;
        }
        std::string error;
        aifile::Outcome outcome = aifile::ReadBlockBytes(name, SharedBlockSize, bytes, error);
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
        // Under the table, the sentence that says why it may be empty, or why it cannot be said.
        if (watch && !json) {
            StatsRead read = ReadStats(statsName);
            text += "\n" +
                    (read.outcome == aifile::Outcome::Failed ? RefusedSentence(read.error)
                                                             : DiagnoseRelay(read.context)) +
                    "\n";
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

} // namespace

int main(int argc, char** argv) {
    const bool ownConsole = aifile::ConsoleIsOwn();
    int status = Run(argc, argv, ownConsole);
    // Its window would close before the output could be read.
    if (ownConsole)
        aifile::WaitForKey();
    return status;
}
