// skyrelay-sim: stands in for the simulator's IPC module on Linux. It offers a window of class
// "UIPCMAIN" (or another with --class), answers the registered message "FsasmLib:IPC" by carrying
// out the records of the request area the atom names, prints each traffic record written at 0x1F80
// and, with --log, one line per record carried out.
#include "platform/posix/window_messages.h"
#include "skyrelay-sim/program.h"

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

using simprogram::Options;

constexpr unsigned ReceiveTimeoutMs = 2000;

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    int saved = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(signalPipe[1], &byte, 1);
    errno = saved;
}

class Sim {
  public:
    Sim(const Options& options, std::FILE* log) : responder_(options, log) {}

    // Answers one message: the module's reply value, or 0 for a message it does not handle.
    std::uint64_t Answer(const posix::WindowMessage& message) {
        if (message.messageName != simprogram::RequestMessageName)
            return 0;
        return responder_.Answer(message.atomName);
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
            if (responder_.Holds()) {
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
    simprogram::Responder responder_;
};

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::FILE* log = nullptr;
    if (int status = simprogram::Begin(argc, argv, &options, &log); status >= 0)
        return status;
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
    std::fprintf(stderr, "%s\n", simprogram::ReadyLine(options, path).c_str());

    Sim sim(options, log);
    sim.Serve(listener);

    close(listener);
    unlink(path.c_str());
    if (log != nullptr)
        std::fclose(log);
    std::fprintf(stderr, "skyrelay-sim: stopped\n");
    return 0;
}
