#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace zn::platform {
namespace {

class ClockTest : public ::testing::Test {
protected:
    void TearDown() override { SetClockOffsetForTest(0); }
};

TEST_F(ClockTest, CountsFromProgramStartAndAdvances)
{
    const uint64_t first = MonotonicMs();
    EXPECT_LT(first, 60u * 1000u) << "counted from program start";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint64_t second = MonotonicMs();
    EXPECT_GE(second - first, 20u);
}

TEST_F(ClockTest, OffsetMovesEveryReadingPastThe32BitWrap)
{
    const uint64_t base = MonotonicMs();
    SetClockOffsetForTest(int64_t(0xFFFFFFFFu) - int64_t(base) - 10);
    const uint64_t beforeWrap = MonotonicMs();
    EXPECT_GE(beforeWrap, 0xFFFFFFFFu - 10);
    EXPECT_LE(beforeWrap, 0xFFFFFFFFull + 1000u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint64_t afterWrap = MonotonicMs();
    EXPECT_GT(afterWrap, 0xFFFFFFFFull) << "64-bit reading keeps counting";
    EXPECT_LT(uint32_t(afterWrap), uint32_t(beforeWrap)) << "the 32-bit view has wrapped";
}

TEST_F(ClockTest, ResettingTheOffsetRestoresTheRealReading)
{
    SetClockOffsetForTest(1'000'000'000);
    EXPECT_GE(MonotonicMs(), 1'000'000'000u);
    SetClockOffsetForTest(0);
    EXPECT_LT(MonotonicMs(), 1'000'000'000u);
}

} // namespace
} // namespace zn::platform
