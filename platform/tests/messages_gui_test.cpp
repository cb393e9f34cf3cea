// Quit requests as a widget application makes them: a main window may refuse to close.
#include "platform/messages.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace zn::platform {
namespace {

class MainWindow : public QWidget {
public:
    bool refuseClose = false;

protected:
    void closeEvent(QCloseEvent* e) override { refuseClose ? e->ignore() : e->accept(); }
};

TEST(QuitWithWindowsTest, AQuitThatAWindowRefusesIsNoQuitRequest)
{
    MainWindow window;
    window.refuseClose = true;
    window.show();
    uint32_t refused = 0, accepted = 0;
    bool requestedAfterRefusal = true;
    QTimer::singleShot(0, [&] {
        QCoreApplication::quit();
        refused = PumpOneMessage();
        requestedAfterRefusal = QuitRequested();
        window.refuseClose = false;
        QCoreApplication::quit();
        accepted = PumpOneMessage();
    });
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-99); });
    guard.start(10000);
    EXPECT_EQ(QApplication::exec(), 0) << "the main loop ends after the accepted quit";
    EXPECT_NE(refused, WM_QUIT_MSG);
    EXPECT_FALSE(requestedAfterRefusal);
    EXPECT_EQ(accepted, WM_QUIT_MSG);
    EXPECT_TRUE(QuitRequested());
}

TEST(QuitWithWindowsTest, ClosingTheLastWindowIsAQuitRequest)
{
    ClearQuitRequest();
    MainWindow window;
    window.show();
    uint32_t seen = 0;
    QTimer::singleShot(0, [&] {
        window.close();
        for (int i = 0; i < 100 && seen != WM_QUIT_MSG; ++i)
            seen = PumpOneMessage();
    });
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-99); });
    guard.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(seen, WM_QUIT_MSG);
}

} // namespace
} // namespace zn::platform
