// Helpers for the session tests: a private runtime directory and port per test, a skyrelay-session
// child process whose stdout is read line by line, and a relay-side client that joins through the
// DirectPlay interface of the posix backend.
#pragma once

#include "platform/platform.h"
#include "platform/posix/posix_backend.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace session_test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A port that was free a moment ago on loopback.
inline std::uint16_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

// Gives the test process (and the children it starts) a runtime directory and a port of its own.
class PrivateEndpoints {
  public:
    PrivateEndpoints() {
        char pattern[] = "/tmp/skyrelay-session-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        directory_ = made != nullptr ? made : "";
        port_ = FreePort();
        setenv("SKYRELAY_RUNTIME_DIR", directory_.c_str(), 1);
        setenv("SKYRELAY_SESSION_PORT", std::to_string(port_).c_str(), 1);
    }
    ~PrivateEndpoints() {
        std::string command = "rm -rf '" + directory_ + "'";
        [[maybe_unused]] int status = std::system(command.c_str());
    }
    PrivateEndpoints(const PrivateEndpoints&) = delete;
    PrivateEndpoints& operator=(const PrivateEndpoints&) = delete;

    const std::string& directory() const { return directory_; }
    std::uint16_t port() const { return port_; }

  private:
    std::string directory_;
    std::uint16_t port_ = 0;
};

// A child program with its stdout (and stderr) on a pipe. Killed and reaped when destroyed.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& arguments) {
        int output[2];
        if (pipe2(output, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(output[1], 1);
            dup2(output[1], 2);
            std::vector<char*> argv;
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(output[1]);
        output_ = output[0];
    }
    ~ChildProcess() {
        Kill(SIGKILL);
        if (output_ >= 0)
            close(output_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Sends a signal and reaps the child; its exit status, or -1 if it did not end in time.
    int Kill(int signal) {
        if (pid_ <= 0)
            return exitStatus_;
        kill(pid_, signal);
        return Wait(5s);
    }

    // Waits for the child to end on its own; its exit status (128 + signal when killed), -1 on
    // time-out (the child is then killed).
    int Wait(Clock::duration timeout) {
        if (pid_ <= 0)
            return exitStatus_;
        Clock::time_point deadline = Clock::now() + timeout;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                pid_ = -1;
                exitStatus_ = -1;
                return exitStatus_;
            }
            usleep(10000);
        }
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exitStatus_;
    }

    // The next output line that starts with prefix (earlier lines are kept in `seen`), or
    // nothing when the time-out passes or the output ends.
    std::optional<std::string> WaitForLine(const std::string& prefix,
                                           Clock::duration timeout = 10s) {
        Clock::time_point deadline = Clock::now() + timeout;
        for (;;) {
            std::size_t newline;
            while ((newline = buffer_.find('\n')) != std::string::npos) {
                std::string line = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                seen.push_back(line);
                if (line.rfind(prefix, 0) == 0)
                    return line;
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || output_ < 0)
                return std::nullopt;
            pollfd entry{output_, POLLIN, 0};
            if (poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char chunk[1024];
            ssize_t count = read(output_, chunk, sizeof chunk);
            if (count <= 0)
                return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

    // Everything the child printed until it ended (or the time-out passed).
    std::string RestOfOutput(Clock::duration timeout = 10s) {
        while (WaitForLine("\x01", timeout)) {
        }
        std::string all;
        for (const std::string& line : seen)
            all += line + "\n";
        return all + buffer_;
    }

    std::vector<std::string> seen;

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    int exitStatus_ = -1;
    std::string buffer_;
};

inline std::string SessionProgram() {
    return std::string(SKYRELAY_BIN_DIR) + "/skyrelay-session";
}

// Writes a scenario file into the test's directory and returns its path.
inline std::string WriteScenario(const PrivateEndpoints& endpoints, const std::string& text) {
    std::string path = endpoints.directory() + "/scenario.txt";
    FILE* file = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), file);
    std::fclose(file);
    return path;
}

// Starts skyrelay-session and waits until it listens.
inline void StartHost(ChildProcess& host) {
    ASSERT_TRUE(host.WaitForLine("hosting ")) << "skyrelay-session did not start";
}

// ---- the relay's side -----------------------------------------------------------------------

enum class Route {
    TcpAddress, // the lobby's address for 127.0.0.1, as the automatic join does
    TcpOffered, // the TCP/IP connection as offered, as the menu does
    Ipx,        // the IPX connection as offered
};

struct OfferedConnection {
    std::string name;
    std::vector<std::uint8_t> data;
};

inline std::vector<OfferedConnection> Connections(dp::IDirectPlay4A* object) {
    std::vector<OfferedConnection> connections;
    object->EnumConnections(
        nullptr,
        [](const dp::GUID*, void* connection, std::uint32_t size, const dp::DPNAME* name,
           std::uint32_t, void* context) -> dp::BOOL {
            auto* list = static_cast<std::vector<OfferedConnection>*>(context);
            const auto* bytes = static_cast<const std::uint8_t*>(connection);
            list->push_back({name->lpszShortNameA, {bytes, bytes + size}});
            return dp::True;
        },
        &connections, 0);
    return connections;
}

inline std::vector<std::uint8_t> LoopbackAddress() {
    dp::IDirectPlayLobby3A* lobby = nullptr;
    if (Failed(plat::CreateDirectPlayLobby(&lobby)))
        return {};
    std::uint32_t size = 0;
    lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, "127.0.0.1", 10, nullptr, &size);
    std::vector<std::uint8_t> address(size, 0);
    lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, "127.0.0.1", 10, address.data(), &size);
    lobby->Release();
    return address;
}

// Initialises the connection of that route on a new object.
inline dp::IDirectPlay4A* ConnectedObject(Route route) {
    dp::IDirectPlay4A* object = nullptr;
    if (Failed(plat::CreateDirectPlay(&object)))
        return nullptr;
    std::vector<std::uint8_t> data;
    if (route == Route::TcpAddress) {
        data = LoopbackAddress();
    } else {
        const char* wanted = route == Route::Ipx ? "IPX" : "TCP";
        for (OfferedConnection& offered : Connections(object))
            if (offered.name.find(wanted) != std::string::npos)
                data = offered.data;
    }
    if (data.empty() || Failed(object->InitializeConnection(data.data(), 0))) {
        object->Release();
        return nullptr;
    }
    return object;
}

struct FoundSessions {
    std::vector<dp::GUID> instances;
    int timedOutCalls = 0;
};

inline HRESULT EnumerateSessions(dp::IDirectPlay4A* object, FoundSessions& found) {
    dp::DPSESSIONDESC2 description{};
    description.dwSize = sizeof description;
    return object->EnumSessions(
        &description, 0,
        [](const dp::DPSESSIONDESC2* session, std::uint32_t*, std::uint32_t flags,
           void* context) -> dp::BOOL {
            auto* result = static_cast<FoundSessions*>(context);
            if ((flags & dp::EnumSessionsTimedOut) != 0) {
                ++result->timedOutCalls;
                return dp::False;
            }
            result->instances.push_back(session->guidInstance);
            return dp::True;
        },
        &found, dp::EnumSessionsAll);
}

// The relay's membership: the object, its player and the player's event.
struct Member {
    dp::IDirectPlay4A* object = nullptr;
    dp::DPID player = 0;
    plat::Event event = nullptr;

    Member() = default;
    Member(const Member&) = delete;
    Member& operator=(const Member&) = delete;
    ~Member() {
        if (object != nullptr) {
            object->Close();
            object->Release();
        }
        if (event != nullptr)
            plat::CloseSessionEvent(event);
    }
};

// Joins the first session over the route and creates a player with that short name.
inline void Join(Route route, const char* shortName, Member& member) {
    member.object = ConnectedObject(route);
    ASSERT_NE(member.object, nullptr);
    FoundSessions found;
    ASSERT_EQ(EnumerateSessions(member.object, found), dp::Ok);
    ASSERT_EQ(found.instances.size(), 1u);
    dp::DPSESSIONDESC2 open{};
    open.dwSize = sizeof open;
    open.guidInstance = found.instances[0];
    ASSERT_EQ(member.object->Open(&open, dp::OpenJoin), dp::Ok);
    member.event = plat::CreateSessionEvent();
    std::string text = shortName;
    dp::DPNAME name{sizeof(dp::DPNAME), 0, text.data(), nullptr};
    ASSERT_EQ(member.object->CreatePlayer(&member.player, &name, member.event, nullptr, 0, 0),
              dp::Ok);
}

// True when the event is signalled within the time-out (the signal is consumed).
inline bool WaitForEvent(plat::Event event, Clock::duration timeout) {
    pollfd entry{posix::EventDescriptor(event), POLLIN, 0};
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
    if (poll(&entry, 1, static_cast<int>(ms)) != 1)
        return false;
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(entry.fd, &count, sizeof count);
    return true;
}

struct Received {
    dp::DPID from = 0;
    dp::DPID to = 0;
    std::vector<std::uint8_t> data;
};

// The next message, waiting on the event as the relay does; nothing after the time-out.
inline std::optional<Received> NextMessage(Member& member, Clock::duration timeout = 10s) {
    Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        Received message;
        std::uint32_t size = 0;
        HRESULT result =
            member.object->Receive(&message.from, &message.to, dp::ReceiveAll, nullptr, &size);
        if (result == dp::ErrBufferTooSmall) {
            message.data.resize(size);
            result = member.object->Receive(&message.from, &message.to, dp::ReceiveAll,
                                            message.data.data(), &size);
            if (result == dp::Ok)
                return message;
        }
        if (result != dp::ErrNoMessages || Clock::now() > deadline)
            return std::nullopt;
        WaitForEvent(member.event, 100ms);
    }
}

// The sender's short name through GetPlayerName, as the relay asks for it.
inline std::optional<std::string> ShortName(dp::IDirectPlay4A* object, dp::DPID player) {
    std::uint32_t size = 0;
    HRESULT result = object->GetPlayerName(player, nullptr, &size);
    if (result != dp::ErrBufferTooSmall)
        return std::nullopt;
    std::vector<std::uint8_t> buffer(size);
    if (object->GetPlayerName(player, buffer.data(), &size) != dp::Ok)
        return std::nullopt;
    dp::DPNAME name{};
    std::memcpy(&name, buffer.data(), sizeof name);
    if (name.lpszShortNameA == nullptr)
        return std::nullopt;
    return std::string(name.lpszShortNameA);
}

inline std::uint32_t TypeOf(const std::vector<std::uint8_t>& data) {
    std::uint32_t type = 0;
    if (data.size() >= 4)
        std::memcpy(&type, data.data(), 4);
    return type;
}

} // namespace session_test
