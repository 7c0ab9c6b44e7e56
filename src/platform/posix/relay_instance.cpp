// One relay per shared memory prefix: the relay holds a write lock on the object
// "/" + prefix + "SkyrelayInstance" for its whole life. The kernel drops the lock when the process
// ends however it ends, so a relay that was killed leaves only the empty object, which the next
// relay locks again. A relay that ends normally removes the name while it still holds the lock.
#include "platform/app.h"
#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char InstanceName[] = "SkyrelayInstance";

// The claim this process holds: removed by name, then let go, when the program ends normally.
struct HeldClaim {
    int fd = -1;
    std::string name;
    ~HeldClaim() {
        if (fd < 0)
            return;
        shm_unlink(name.c_str());
        close(fd);
    }
};
HeldClaim held;

struct flock WholeFileLock() {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

} // namespace

namespace plat {

bool ClaimRelayInstance(std::uint32_t* runningRelay) {
    if (runningRelay != nullptr)
        *runningRelay = 0;
    if (held.fd >= 0)
        return true;
    const std::string name = posix::SharedMemoryName(InstanceName);
    // A few rounds at most: each retry follows a relay that let go between two steps.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return true;
        struct flock lock = WholeFileLock();
        if (fcntl(fd, F_SETLK, &lock) == 0) {
            // A relay on its way out removes the name before it lets go: a lock on an object that
            // has lost its name claims nothing, and the next round makes the object anew.
            struct stat info {};
            if (fstat(fd, &info) == 0 && info.st_nlink > 0) {
                held.fd = fd;
                held.name = name;
                return true;
            }
            close(fd);
            continue;
        }
        if (errno != EACCES && errno != EAGAIN) {
            close(fd);
            return true;
        }
        struct flock holder = WholeFileLock();
        bool known = fcntl(fd, F_GETLK, &holder) == 0;
        close(fd);
        if (!known)
            return true;
        if (holder.l_type != F_UNLCK) {
            if (runningRelay != nullptr && holder.l_pid > 0)
                *runningRelay = static_cast<std::uint32_t>(holder.l_pid);
            return false;
        }
    }
    return true;
}

void ShowRunningRelay(const char* line) {
    std::fprintf(stderr, "%s\n", line != nullptr ? line : "");
    std::fflush(stderr);
}

} // namespace plat
