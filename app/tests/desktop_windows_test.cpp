// The configuration report on a real X11 desktop (Xvfb): another program's window is listed with its
// class, and the report's own windows are not. Run by ctest through desktop_windows_run.sh, beside
// xmessage, with a window manager and without one.
#include "app/config_report.h"
#include "foundation/tests/test_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <algorithm>

#include <gtest/gtest.h>

namespace zn::app {
namespace {

bool Listed(const std::vector<std::string>& lines, const std::string& entry)
{
    return std::find(lines.begin(), lines.end(), entry) != lines.end();
}

TEST(DesktopWindows, AnotherProgramsWindowIsListedWithItsClass)
{
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "no X11 desktop (platform " << QGuiApplication::platformName().toStdString() << ")";
    foundation::test::TempHome home;
    TConfigurationInfo form;
    form.setWindowTitle("Configuration Information");
    form.show();
    // xmessage starts beside this program; wait (bounded) until the desktop lists its window.
    std::vector<std::string> lines;
    QElapsedTimer waited;
    waited.start();
    do {
        QCoreApplication::processEvents();
        QThread::msleep(20);
        lines = OtherApplications(GatherSystemFacts().windows);
    } while (!Listed(lines, "Some Other Program  (Xmessage)") && waited.elapsed() < 20000);
    EXPECT_TRUE(Listed(lines, "Some Other Program  (Xmessage)"));
    for (const std::string& line : lines)
        EXPECT_EQ(line.find("TConfigurationInfo"), std::string::npos) << line;
}

} // namespace
} // namespace zn::app
