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
    Sim(const Options& options, std::FILE* log) : options_(options), responder_(options, log) {}

    // Serves until SIGINT or SIGTERM. A client may send any number of messages over one
    // connection; its request area stays mapped until the connection ends.
    void Serve(int listener) {
        std::vector<Client> clients;
        for (;;) {
            std::vector<pollfd> entries{{signalPipe[0], POLLIN, 0}, {listener, POLLIN, 0}};
            for (const Client& client : clients)
                entries.push_back({client.fd, POLLIN, 0});
            if (poll(entries.data(), entries.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                std::perror("skyrelay-sim: poll");
                break;
            }
            if (entries[0].revents != 0)
                break;
            std::vector<Client> staying;
            for (std::size_t i = 0; i < clients.size(); ++i) {
                Client& client = clients[i];
                if (entries[i + 2].revents == 0 || Answer(client))
                    staying.push_back(client);
                else
                    Drop(client);
            }
            clients = std::move(staying);
            if ((entries[1].revents & POLLIN) != 0) {
                int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (connection >= 0)
                    clients.push_back(Client{connection, false, {}});
            }
        }
        for (Client& client : clients)
            Drop(client);
    }

  private:
    struct Client {
        int fd;
        bool held; // --silent: a message came and is never answered
        simprogram::KeptArea area;
    };

    // Answers the message waiting on a client's connection; false when the connection is done
    // with (it ended, sent something malformed, or a held one hung up).
    bool Answer(Client& client) {
        if (client.held)
            return false;
        posix::WindowMessage message;
        // A probe for the window (a connection that sends nothing) ends here.
        if (!posix::ReceiveWindowMessage(client.fd, ReceiveTimeoutMs, &message))
            return false;
        if (responder_.Holds()) {
            client.held = true;
            return true;
        }
        // The system refuses the send before the window sees it; the sender drops its
        // connection after a failed send, and so does this side.
        if (options_.otherRights) {
            posix::RefuseWindowMessage(client.fd, simprogram::AccessDenied);
            return false;
        }
        std::uint64_t reply = 0;
        if (message.messageName == simprogram::RequestMessageName)
            reply = responder_.Answer(message.atomName, &client.area);
        return posix::SendWindowReply(client.fd, reply);
    }

    static void Drop(Client& client) {
        close(client.fd);
        simprogram::ReleaseArea(&client.area);
    }
    const Options& options_;
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
