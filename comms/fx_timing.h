// Stand-in for fx_misc.h until it lands: the millisecond clock and 55 ms tick timers.
#pragma once
#include "platform/clock.h"
#include <cstdint>

namespace zn::comms {

struct EventTimer {
    int32_t StartTicks = 0;
    int32_t ExpireTicks = 0;
};
constexpr int32_t TickLimit = 39045157;
inline uint32_t MillisecondClock() { return uint32_t(zn::platform::MonotonicMs()); }
inline int32_t TickCount() { return int32_t(zn::platform::MonotonicMs() / 55); }
inline void StartTimer(EventTimer& t, int32_t ticks)
{
    t.StartTicks = TickCount();
    t.ExpireTicks = t.StartTicks + (ticks < TickLimit ? ticks : TickLimit);
}
inline bool TimerExpired(const EventTimer& t) { return TickCount() > t.ExpireTicks; }

} // namespace zn::comms
