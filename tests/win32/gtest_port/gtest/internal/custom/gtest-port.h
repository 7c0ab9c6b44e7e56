// GoogleTest's hook for a port's own pieces, found before its own empty one in the Windows build.
// The compiler's Windows threads model has no std::mutex or std::condition_variable, on which
// GoogleTest builds its Notification; this one waits on a flag instead. GoogleTest uses it only
// to start threads of its own tests, never in ours.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
  public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

  private:
    std::atomic<bool> notified_{false};
};

} // namespace testing::internal
