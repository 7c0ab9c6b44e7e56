// The system's monotonic clock in milliseconds, 64 bits wide, for the relay and for the programs
// that read the times the relay leaves in its counter block.
//
// Those times are compared across processes: skyrelay-aifile subtracts the relay's time of an event
// from its own reading of the same clock. So the clock must be one the whole machine shares, and
// it must start on Windows XP, which has no GetTickCount64. GetTickCount is shared but wraps after
// 49.7 days, and a wrap extender on top of it counts wraps per process: a process started before
// a wrap and one started after it would disagree by 49.7 days. The performance counter is shared
// by every process, 64 bits wide (it wraps after decades even at processor speed), and from XP on
// neither it nor its frequency fails. Its ticks are turned into milliseconds in two parts, whole
// seconds and the rest, so that no product overflows. Where the counter is each processor's own
// (some old multi-processor machines), one process may read a little behind another; the reader
// counts a time from the future as 0 s ago.
#pragma once

#include "platform/types.h" // HRESULT, which the system headers take from the seam

#include <windows.h>

#include <cstdint>

namespace win32 {

inline std::uint64_t MonotonicMilliseconds() {
    // Fixed at boot; asked once per process.
    static const LONGLONG frequency = [] {
        LARGE_INTEGER perSecond{};
        return QueryPerformanceFrequency(&perSecond) ? perSecond.QuadPart : 0;
    }();
    LARGE_INTEGER now{};
    if (frequency <= 0 || !QueryPerformanceCounter(&now) || now.QuadPart < 0)
        return GetTickCount(); // no counter: the 32-bit clock, still the same in every process
    const auto ticks = static_cast<std::uint64_t>(now.QuadPart);
    const auto perSecond = static_cast<std::uint64_t>(frequency);
    return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

} // namespace win32
