#include "clock.h"

#include <atomic>
#include <ctime>

namespace zn::platform {
namespace {

int64_t RawMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t StartMs()
{
    static const int64_t start = RawMs();
    return start;
}

// Fixes the start when the program starts, not at the first reading.
const int64_t startAtLoad = StartMs();

std::atomic<int64_t> offsetMs{0};

} // namespace

uint64_t MonotonicMs() { return uint64_t(RawMs() - StartMs() + offsetMs.load(std::memory_order_relaxed)); }

void SetClockOffsetForTest(int64_t offset)
{
    (void)startAtLoad;
    offsetMs.store(offset, std::memory_order_relaxed);
}

} // namespace zn::platform
