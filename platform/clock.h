// Monotonic millisecond clock, counted from program start.
#pragma once
#include <cstdint>

namespace zn::platform {

// Milliseconds since the program started (CLOCK_MONOTONIC), 64-bit: never wraps.
uint64_t MonotonicMs();

// Tests move the clock to just before a wrap: every later reading is shifted by offsetMs.
void SetClockOffsetForTest(int64_t offsetMs);

} // namespace zn::platform
