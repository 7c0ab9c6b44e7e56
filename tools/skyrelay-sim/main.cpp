// skyrelay-sim: stands in for the simulator's IPC module on Linux. It offers a window of class
// "UIPCMAIN" (or another with --class), answers the registered message "FsasmLib:IPC" by carrying
// out the records of the request area the atom names, prints each traffic record written at 0x1F80
// and, with --log, one line per record carried out.
#include "platform/posix/window_messages.h"
#include "platform/shared_memory.h"
#include "skyrelay-sim/module.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* RequestMessageName = "FsasmLib:IPC";
constexpr unsigned ReceiveTimeoutMs = 2000;

struct Options {
    std::string className = "UIPCMAIN";
    std::uint32_t moduleVersion = simmodule::DefaultModuleVersion;
    std::uint32_t simVersion = simmodule::DefaultSimVersion;
    std::string logPath;
    bool silent = false;
    bool garble = false;
    std::uint64_t reply = 1;
};

const char* Usage =
    "usage: skyrelay-sim [--class NAME] [--module-version N] [--sim-version N] [--log FILE]\n"
    "                    [--silent] [--reply N] [--garble]\n";

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    int saved = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool ParseOptions(int argc, char** argv, Options* options) {
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
                return false;
            }
        } else if (arg == "--module-version") {
            if (!number(0xFFFFFFFF, &n))
                return false;
            options->moduleVersion = static_cast<std::uint32_t>(n);
        } else if (arg == "--sim-version") {
            if (!number(0xFFFFFFFF, &n))
                return false;
            options->simVersion = static_cast<std::uint32_t>(n);
        } else if (arg == "--log") {
            if (!value(&options->logPath))
                return false;
        } else if (arg == "--reply") {
            if (!number(UINT64_MAX, &options->reply))
                return false;
        } else if (arg == "--silent") {
            options->silent = true;
        } else if (arg == "--garble") {
            options->garble = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "skyrelay-sim: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

class Sim {
  public:
    Sim(const Options& options, std::FILE* log)
        : options_(options), module_(options.moduleVersion, options.simVersion), log_(log) {}

    // Answers one message: the module's reply value, or 0 for a message it does not handle.
    std::uint64_t Answer(const posix::WindowMessage& message) {
        if (message.messageName != RequestMessageName)
            return 0;
        plat::Mapping mapping = plat::OpenNamedMapping(message.atomName.c_str());
        if (mapping == nullptr) {
            std::fprintf(stderr, "skyrelay-sim: no request area named \"%s\"\n",
                         message.atomName.c_str());
            return 0;
        }
        std::size_t size = 0;
        auto* view = static_cast<std::uint8_t*>(plat::MapWholeView(mapping, &size));
        if (view == nullptr) {
            plat::CloseMapping(mapping);
            std::fprintf(stderr, "skyrelay-sim: cannot map \"%s\"\n", message.atomName.c_str());
            return 0;
        }
        std::span<std::uint8_t> area(view, size);
        module_.CarryOut(area, [this](const simmodule::CarriedRecord& record) {
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
        if (options_.garble)
            simmodule::Garble(area);
        plat::UnmapView(view);
        plat::CloseMapping(mapping);
        return options_.reply;
    }

    // Serves until SIGINT or SIGTERM.
    void Serve(int listener) {
        std::vector<int> held; // --silent: connections kept open, never answered
        for (;;) {
            std::vector<pollfd> entries{{signalPipe[0], POLLIN, 0}, {listener, POLLIN, 0}};
            for (int fd : held)
                entries.push_back({fd, POLLIN, 0});
            if (poll(entries.data(), entries.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                std::perror("skyrelay-sim: poll");
                break;
            }
            if (entries[0].revents != 0)
                break;
            // A held sender that hung up (its time-out passed) is let go.
            for (std::size_t i = 2; i < entries.size(); ++i)
                if (entries[i].revents != 0) {
                    close(entries[i].fd);
                    std::erase(held, entries[i].fd);
                }
            if ((entries[1].revents & POLLIN) == 0)
                continue;
            int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            posix::WindowMessage message;
            // A probe for the window (a connection that sends nothing) ends here.
            if (!posix::ReceiveWindowMessage(connection, ReceiveTimeoutMs, &message)) {
                close(connection);
                continue;
            }
            if (options_.silent) {
                held.push_back(connection);
                continue;
            }
            posix::SendWindowReply(connection, Answer(message));
            close(connection);
        }
        for (int fd : held)
            close(fd);
    }

  private:
    const Options& options_;
    simmodule::Module module_;
    std::FILE* log_;
};

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    std::FILE* log = nullptr;
    if (!options.logPath.empty()) {
        log = std::fopen(options.logPath.c_str(), "a");
        if (log == nullptr) {
            std::fprintf(stderr, "skyrelay-sim: cannot open log %s: %s\n", options.logPath.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("skyrelay-sim: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::string error;
    int listener = posix::ListenAsWindow(options.className, &error);
    if (listener < 0) {
        std::fprintf(stderr, "skyrelay-sim: %s\n", error.c_str());
        return 1;
    }
    std::string path = posix::WindowSocketPath(options.className);
    std::fprintf(stderr,
                 "skyrelay-sim: window \"%s\" ready at %s (module version 0x%08X, simulator "
                 "version 0x%08X)%s%s\n",
                 options.className.c_str(), path.c_str(), options.moduleVersion, options.simVersion,
                 options.silent ? ", silent" : "", options.garble ? ", garbling" : "");

    Sim sim(options, log);
    sim.Serve(listener);

    close(listener);
    unlink(path.c_str());
    if (log != nullptr)
        std::fclose(log);
    std::fprintf(stderr, "skyrelay-sim: stopped\n");
    return 0;
}
