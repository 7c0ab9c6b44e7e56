// Fake monotonic clock: the time the test sets, neither logged nor counted with the other fake
// calls. Kept apart from the fake counter block, so that a test program can link a real block.
#include "platform/app.h"
#include "platform/fake/fake.h"
#include "platform/fake/fake_shared_memory.h"

namespace fake {
namespace {

constexpr std::uint64_t StartMilliseconds = 1000;
std::uint64_t now = StartMilliseconds;

void ResetClock() {
    now = StartMilliseconds;
}
ResetHook clockReset(&ResetClock);

} // namespace

void SetMonotonicMilliseconds(std::uint64_t milliseconds) {
    now = milliseconds;
}

} // namespace fake

namespace plat {

std::uint64_t MonotonicMilliseconds() {
    return fake::now;
}

} // namespace plat
