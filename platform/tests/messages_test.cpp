#include "platform/messages.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace zn::platform {
namespace {

using namespace std::chrono_literals;

// Pumps until the condition holds; gives up after ten seconds so that a fault fails instead of hanging.
template <typename Condition>
bool PumpUntil(Condition done)
{
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        if (PumpOneMessage() == 0)
            std::this_thread::sleep_for(1ms);
    }
    return true;
}

void PumpUntilIdle()
{
    while (PumpOneMessage() != 0) {}
}

class MessagesTest : public ::testing::Test {
protected:
    struct Received {
        uint32_t msg;
        WParam w;
        LParam l;
        std::thread::id thread;
    };
    std::vector<Received> received_;
    MessageWindow window_{"fxFaxHandler", [this](uint32_t msg, WParam w, LParam l) -> LResult {
                              received_.push_back({msg, w, l, std::this_thread::get_id()});
                              return LResult(w) * 2;
                          }};

    void SetUp() override { PumpUntilIdle(); }
    void TearDown() override { ClearQuitRequest(); }
};

TEST_F(MessagesTest, PostedMessagesRunOnTheWindowThreadInOrder)
{
    const uint32_t handle = window_.Handle();
    std::thread poster([handle] {
        for (WParam i = 1; i <= 3; ++i)
            PostMessageTo(handle, 0x7E00 + uint32_t(i), i, -LParam(i));
    });
    poster.join();
    const uint32_t first = PumpOneMessage();
    EXPECT_EQ(first, 0x7E01u | ((handle & 0xFFFF) << 16)) << "message number + handle x 65536";
    ASSERT_TRUE(PumpUntil([&] { return received_.size() == 3; }));
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(received_[i].msg, 0x7E01u + i);
        EXPECT_EQ(received_[i].w, i + 1);
        EXPECT_EQ(received_[i].l, -LParam(i + 1));
        EXPECT_EQ(received_[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(window_.Title(), "fxFaxHandler");
}

TEST_F(MessagesTest, QtsOwnLoopDeliversPostedMessagesToo)
{
    std::thread([h = window_.Handle()] { PostMessageTo(h, 0x42B, 0, 0); }).join();
    QCoreApplication::processEvents();
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].msg, 0x42Bu);
}

TEST_F(MessagesTest, SendFromAnotherThreadWaitsForTheResult)
{
    std::atomic<bool> done{false};
    bool ok = false;
    LResult result = 0;
    std::thread sender([&, h = window_.Handle()] {
        ok = SendMessageTimeout(h, 0x7E01, 21, 0, 10000, &result);
        done = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    sender.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(result, 42);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].thread, std::this_thread::get_id());
}

TEST_F(MessagesTest, SendFromTheWindowThreadRunsAtOnce)
{
    LResult result = 0;
    EXPECT_TRUE(SendMessageTimeout(window_.Handle(), 0x7E02, 5, 0, 0, &result));
    EXPECT_EQ(result, 10);
    EXPECT_EQ(received_.size(), 1u);
}

TEST_F(MessagesTest, TimedOutSendIsAbandonedAndNeverRunsLater)
{
    bool ok = true;
    // The window's thread is busy (joining) and pumps nothing until the send has timed out.
    std::thread([&, h = window_.Handle()] { ok = SendMessageTimeout(h, 0x7E03, 1, 0, 20, nullptr); }).join();
    EXPECT_FALSE(ok);
    PumpUntilIdle();
    QCoreApplication::processEvents();
    EXPECT_TRUE(received_.empty()) << "the abandoned call must not run";

    PostMessageTo(window_.Handle(), 0x7E04, 0, 0);
    PumpUntilIdle();
    ASSERT_EQ(received_.size(), 1u) << "later messages still arrive";
    EXPECT_EQ(received_[0].msg, 0x7E04u);
}

TEST_F(MessagesTest, DestroyingTheWindowDropsItsMessagesAndFailsPendingSends)
{
    int calls = 0;
    auto doomed = std::make_unique<MessageWindow>("doomed", [&](uint32_t, WParam, LParam) -> LResult {
        ++calls;
        return 1;
    });
    const uint32_t handle = doomed->Handle();
    PostMessageTo(handle, 0x7E05, 0, 0);
    std::atomic<bool> sent{false};
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    std::thread sender([&] {
        sent = true;
        ok = SendMessageTimeout(handle, 0x7E06, 0, 0, 30000, nullptr);
    });
    while (!sent)
        std::this_thread::yield();
    std::this_thread::sleep_for(10ms);
    doomed.reset();
    sender.join();
    EXPECT_FALSE(ok);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << "the sender is released, not left to time out";
    PumpUntilIdle();
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(PostMessageTo(handle, 0x7E07, 0, 0));
    EXPECT_FALSE(SendMessageTimeout(handle, 0x7E07, 0, 0, 0, nullptr));
}

TEST_F(MessagesTest, HandlesAreUniqueAndNonZero)
{
    MessageWindow other("other", [](uint32_t, WParam, LParam) -> LResult { return 0; });
    EXPECT_NE(other.Handle(), 0u);
    EXPECT_NE(other.Handle(), window_.Handle());
}

TEST_F(MessagesTest, PumpReturnsZeroWhenNothingIsPending) { EXPECT_EQ(PumpOneMessage(), 0u); }

// Runs body from inside the application's main loop, as the program's handlers do, and returns the
// loop's exit code.
int RunInsideMainLoop(const std::function<void()>& body)
{
    QTimer::singleShot(0, body);
    // A fault would leave the loop running: end it after ten seconds with a code the tests reject.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-99); });
    guard.start(10000);
    return QCoreApplication::exec();
}

TEST_F(MessagesTest, QuitWhilePumpingReturns18AndTheMainLoopStillEnds)
{
    std::vector<uint32_t> results;
    const int code = RunInsideMainLoop([&] {
        QTimer::singleShot(20, [] { QCoreApplication::quit(); });
        uint32_t r;
        while ((r = PumpOneMessage()) != WM_QUIT_MSG) {}
        results.push_back(r);
        results.push_back(PumpOneMessage());                              // still pending: not consumed
        std::thread([&] { results.push_back(PumpOneMessage()); }).join(); // not another thread's
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(results, (std::vector<uint32_t>{WM_QUIT_MSG, WM_QUIT_MSG, 0}));
    EXPECT_TRUE(QuitRequested());
}

TEST_F(MessagesTest, QuitFromAnotherThreadIsSeenByThePump)
{
    uint32_t last = 0;
    std::thread quitter;
    const int code = RunInsideMainLoop([&] {
        quitter = std::thread([] { QCoreApplication::quit(); });
        while ((last = PumpOneMessage()) != WM_QUIT_MSG) {}
    });
    quitter.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(last, WM_QUIT_MSG);
}

TEST_F(MessagesTest, PostQuitMessageEndsTheLoopWithItsCode)
{
    uint32_t seen = 0;
    const int code = RunInsideMainLoop([&] {
        PostQuitMessage(3);
        seen = PumpOneMessage();
    });
    EXPECT_EQ(code, 3);
    EXPECT_EQ(seen, WM_QUIT_MSG);
}

TEST_F(MessagesTest, MessagesPostedFromAThreadReachTheMainLoop)
{
    WParam got = 0;
    MessageWindow mainWindow("Tarvel", [&](uint32_t msg, WParam w, LParam) -> LResult {
        if (msg == 0x42A) {
            got = w;
            QCoreApplication::quit();
        }
        return 0;
    });
    std::thread poster;
    const int code =
        RunInsideMainLoop([&] { poster = std::thread([h = mainWindow.Handle()] { PostMessageTo(h, 0x42A, 7, 0); }); });
    poster.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(got, 7u);
}

} // namespace
} // namespace zn::platform

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
