#include "skyrelay-sim/program.h"

#include "platform/shared_memory.h"

#include <cerrno>
#include <cstring>
#include <span>

namespace simprogram {

const char* const Usage =
    "usage: skyrelay-sim [--class NAME] [--module-version N] [--sim-version N] [--log FILE]\n"
    "                    [--silent] [--reply N] [--garble] [--after N] [--other-rights]\n"
    "                    [--deny-area]\n"
    "  --other-rights  refuse every message, as the system refuses a send to a window of another\n"
    "                  integrity level: the sender's send fails with system error 5 (Linux only;\n"
    "                  on Windows, start the program with other rights than the sender instead)\n"
    "  --deny-area     open no request area, as a simulator may not open one a program run as\n"
    "                  administrator made: every message is answered 0 (none with --silent)\n";

Start ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "skyrelay-sim: %s needs a value\n", arg.c_str());
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto number = [&](std::uint64_t maximum, std::uint64_t* out) {
            std::string text;
            if (!value(&text))
                return false;
            if (!simmodule::ParseNumber(text, maximum, out)) {
                std::fprintf(stderr, "skyrelay-sim: %s: not a number: %s\n", arg.c_str(),
                             text.c_str());
                return false;
            }
            return true;
        };
        std::uint64_t n = 0;
        if (arg == "--class") {
            if (!value(&options->className) || options->className.empty() ||
                options->className.find('/') != std::string::npos) {
                std::fprintf(stderr, "skyrelay-sim: --class needs a plain name\n");
                return Start::Wrong;
            }
        } else if (arg == "--module-version") {
            if (!number(0xFFFFFFFF, &n))
                return Start::Wrong;
            options->moduleVersion = static_cast<std::uint32_t>(n);
        } else if (arg == "--sim-version") {
            if (!number(0xFFFFFFFF, &n))
                return Start::Wrong;
            options->simVersion = static_cast<std::uint32_t>(n);
        } else if (arg == "--log") {
            if (!value(&options->logPath))
                return Start::Wrong;
        } else if (arg == "--reply") {
            if (!number(UINT64_MAX, &options->reply))
                return Start::Wrong;
        } else if (arg == "--after") {
            if (!number(UINT64_MAX, &options->after))
                return Start::Wrong;
        } else if (arg == "--silent") {
            options->silent = true;
        } else if (arg == "--garble") {
            options->garble = true;
        } else if (arg == "--other-rights") {
            options->otherRights = true;
        } else if (arg == "--deny-area") {
            options->denyArea = true;
        } else if (arg == "--help" || arg == "-h") {
            return Start::Help;
        } else {
            std::fprintf(stderr, "skyrelay-sim: unknown option %s\n", arg.c_str());
            return Start::Wrong;
        }
    }
    return Start::Run;
}

std::FILE* OpenLog(const Options& options, bool* failed) {
    *failed = false;
    if (options.logPath.empty())
        return nullptr;
    std::FILE* log = std::fopen(options.logPath.c_str(), "a");
    if (log == nullptr) {
        std::fprintf(stderr, "skyrelay-sim: cannot open log %s: %s\n", options.logPath.c_str(),
                     std::strerror(errno));
        *failed = true;
    }
    return log;
}

std::string ReadyLine(const Options& options, const std::string& where) {
    char versions[96];
    std::snprintf(versions, sizeof versions, "(module version 0x%08X, simulator version 0x%08X)",
                  static_cast<unsigned>(options.moduleVersion),
                  static_cast<unsigned>(options.simVersion));
    return "skyrelay-sim: window \"" + options.className + "\" ready at " + where + " " + versions +
           (options.silent ? ", silent" : "") + (options.garble ? ", garbling" : "") +
           (options.otherRights ? ", refusing senders of other rights" : "") +
           (options.denyArea ? ", opening no request area" : "");
}

Responder::Responder(const Options& options, std::FILE* log)
    : options_(options), module_(options.moduleVersion, options.simVersion), log_(log) {}

void ReleaseArea(KeptArea* area) {
    if (area->view != nullptr)
        plat::UnmapView(area->view);
    *area = KeptArea{};
}

std::uint64_t Responder::Answer(const std::string& areaName, KeptArea* kept) {
    KeptArea fresh;
    KeptArea* area = kept != nullptr ? kept : &fresh;
    if (options_.denyArea && answered_ >= options_.after) {
        std::fprintf(stderr, "skyrelay-sim: may not open request area \"%s\": access denied\n",
                     areaName.c_str());
        ++answered_;
        return 0;
    }
    if (area->view == nullptr || area->name != areaName) {
        ReleaseArea(area);
        plat::Mapping mapping = plat::OpenNamedMapping(areaName.c_str());
        if (mapping == nullptr) {
            std::fprintf(stderr, "skyrelay-sim: no request area named \"%s\"\n", areaName.c_str());
            return 0;
        }
        area->view = static_cast<std::uint8_t*>(plat::MapWholeView(mapping, &area->size));
        plat::CloseMapping(mapping);
        if (area->view == nullptr) {
            std::fprintf(stderr, "skyrelay-sim: cannot map \"%s\"\n", areaName.c_str());
            return 0;
        }
        area->name = areaName;
    }
    std::span<std::uint8_t> bytes(area->view, area->size);
    bool hostile = answered_++ >= options_.after;
    module_.CarryOut(bytes, [this](const simmodule::CarriedRecord& record) {
        if (log_ != nullptr) {
            std::fprintf(log_, "%s\n", simmodule::LogLine(record).c_str());
            std::fflush(log_);
        }
        if (record.write && record.offset == simmodule::TrafficOffset &&
            record.size == simmodule::TrafficRecordSize) {
            std::printf("%s\n",
                        simmodule::TrafficLine(std::span(record.data, record.size)).c_str());
            std::fflush(stdout);
        }
    });
    if (options_.garble && hostile)
        simmodule::Garble(bytes);
    if (kept == nullptr)
        ReleaseArea(area);
    return hostile ? options_.reply : 1;
}

int Begin(int argc, char** argv, Options* options, std::FILE** log) {
    switch (ParseOptions(argc, argv, options)) {
    case Start::Run:
        break;
    case Start::Help:
        std::fputs(Usage, stdout);
        return 0;
    case Start::Wrong:
        std::fputs(Usage, stderr);
        return 2;
    }
    bool logFailed = false;
    *log = OpenLog(*options, &logFailed);
    return logFailed ? 2 : -1;
}

} // namespace simprogram
