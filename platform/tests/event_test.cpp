#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace zn::platform {
namespace {

TEST(EventTest, AutoResetEventIsResetByTheWaitThatSawIt)
{
    Event e;
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Set(); // a second Set is not remembered as a second signal
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.IsSet());
    EXPECT_FALSE(e.Wait(0));
}

TEST(EventTest, ManualResetEventStaysSetUntilReset)
{
    Event e(true, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Consume());
    e.Reset();
    EXPECT_FALSE(e.IsSet());
    EXPECT_FALSE(e.Wait(0));
}

TEST(EventTest, WaitReturnsWhenAnotherThreadSetsIt)
{
    Event e;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        e.Set();
    });
    EXPECT_TRUE(e.Wait(-1));
    setter.join();
}

TEST(EventTest, WaitTimesOutWhenNothingSetsIt)
{
    Event e;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.Wait(30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(EventTest, PollSeesTheEventTogetherWithAnotherDescriptor)
{
    Event e;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pollfd fds[2] = {{pipeFds[0], POLLIN, 0}, {e.Fd(), POLLIN, 0}};
    EXPECT_EQ(poll(fds, 2, 0), 0);
    e.Set();
    ASSERT_EQ(poll(fds, 2, 0), 1);
    EXPECT_TRUE(fds[1].revents & POLLIN);
    EXPECT_TRUE(e.Consume());
    EXPECT_FALSE(e.Consume()) << "an auto-reset event is consumed once";
    close(pipeFds[0]);
    close(pipeFds[1]);
}

TEST(EventTest, WaitForAnyGivesTheFirstSetAndConsumesOnlyThatOne)
{
    Event a, b, c;
    b.Set();
    c.Set();
    EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 1);
    EXPECT_FALSE(b.IsSet());
    EXPECT_TRUE(c.IsSet());
    EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 2);
    EXPECT_EQ(WaitForAny({&a, &b, &c}, 10), -1);
    EXPECT_EQ(WaitForAny({}, -1), -1);
}

TEST(EventTest, OnlyOneOfTwoWaitersTakesAnAutoResetSignal)
{
    Event e;
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (e.Wait(200))
            ++woken;
    };
    std::thread t1(waiter), t2(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    e.Set();
    t1.join();
    t2.join();
    EXPECT_EQ(woken.load(), 1);
}

} // namespace
} // namespace zn::platform
