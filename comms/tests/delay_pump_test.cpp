// DelayTicks with pumping, inside a running main loop.
#include "comms/base/fx_misc.h"

#include "platform/messages.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace zn::comms;

namespace {

// Runs body from inside the application's main loop and returns the loop's exit code; a loop left
// running by a fault ends after ten seconds with -99.
int RunInsideMainLoop(const std::function<void()>& body)
{
    QTimer::singleShot(0, body);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-99); });
    guard.start(10000);
    const int code = QCoreApplication::exec();
    zn::platform::ClearQuitRequest();
    return code;
}

} // namespace

TEST(DelayTicksPumping, QuitRequestEndsTheDelayAndStaysPending)
{
    uint32_t result = 0;
    uint32_t afterwards = 0;
    int32_t waited = 0;
    const int code = RunInsideMainLoop([&] {
        QTimer::singleShot(20, [] { QCoreApplication::quit(); });
        EventTimer timer;
        StartTimer(timer, 0);
        result = DelayTicks(SecondsToTicks(60), true);
        waited = ElapsedTicks(timer);
        afterwards = PumpOneMessage();
    });
    EXPECT_EQ(result, QuitMessage);
    EXPECT_LT(waited, SecondsToTicks(60)) << "the delay ended early";
    EXPECT_EQ(afterwards, QuitMessage) << "the quit request is still pending";
    EXPECT_EQ(code, 0) << "the main loop ended through the quit request";
}

TEST(DelayTicksPumping, MessagesRunDuringTheDelay)
{
    int handled = 0;
    zn::platform::MessageWindow window("delay", [&](uint32_t msg, zn::platform::WParam, zn::platform::LParam) {
        if (msg == 0x7EA2)
            ++handled;
        return zn::platform::LResult{0};
    });
    const int code = RunInsideMainLoop([&] {
        zn::platform::PostMessageTo(window.Handle(), 0x7EA2, 0, 0);
        DelayTicks(2, true);
        QCoreApplication::exit(0);
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(handled, 1);
}

TEST(DelayTicksPumping, WithoutPumpingMessagesWait)
{
    int handled = 0;
    zn::platform::MessageWindow window("delay", [&](uint32_t, zn::platform::WParam, zn::platform::LParam) {
        ++handled;
        return zn::platform::LResult{0};
    });
    const int code = RunInsideMainLoop([&] {
        zn::platform::PostMessageTo(window.Handle(), 0x7EA2, 0, 0);
        EXPECT_EQ(DelayTicks(1, false), 0u);
        EXPECT_EQ(handled, 0);
        QCoreApplication::exit(0);
    });
    EXPECT_EQ(code, 0);
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
