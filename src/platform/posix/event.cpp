// The session event: an eventfd in non-blocking mode, readable while signalled. Reading it resets
// it, as an auto-reset event is reset by the wait that it ends.
#include "platform/app.h"
#include "platform/posix/posix_backend.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

struct plat::EventObject {
    int fd = -1;
};

namespace posix {

int EventDescriptor(plat::Event event) {
    return event != nullptr ? event->fd : -1;
}

} // namespace posix

namespace plat {

Event CreateSessionEvent() {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return new EventObject{fd};
}

void SignalSessionEvent(Event event) {
    if (event == nullptr)
        return;
    std::uint64_t one = 1;
    // A full counter (it never is) or an interrupted write only loses a redundant signal.
    [[maybe_unused]] ssize_t written = write(event->fd, &one, sizeof one);
}

int CloseSessionEvent(Event event) {
    if (event == nullptr)
        return 0;
    int result = close(event->fd) == 0 ? 1 : 0;
    delete event;
    return result;
}

std::uint64_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace plat
