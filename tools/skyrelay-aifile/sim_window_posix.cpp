// On Linux a module window is a unix socket per window class in the relay's runtime directory; a
// window is there when its socket takes a connection.
#include "skyrelay-aifile/sim_window.h"

#include "platform/posix/window_messages.h"

#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace aifile {
namespace {

bool ClassWindowThere(const char* className) {
    std::string path = posix::WindowSocketPath(className);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool there = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return there;
}

} // namespace

bool SimulatorWindowThere() {
    return ClassWindowThere("UIPCMAIN") || ClassWindowThere("FS98MAIN");
}

} // namespace aifile
