#include "foundation/tests/desktop_session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>

namespace zn::foundation::test {

bool OnDesktop()
{
    return QGuiApplication::platformName() == "xcb"
           && RunTool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
}

QString RunTool(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForStarted(5000))
        return {};
    QElapsedTimer timer;
    timer.start();
    while (!tool.waitForFinished(5) && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (tool.state() != QProcess::NotRunning) {
        tool.kill();
        tool.waitForFinished(1000);
    }
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

void UserClick(QWidget* widget, QPoint at)
{
    if (at == QPoint(-1, -1))
        at = widget->rect().center();
    const QPoint p = widget->mapToGlobal(at);
    RunTool("xdotool", {"mousemove", "--sync", QString::number(p.x()), QString::number(p.y()), "click", "1"});
    WaitUntil([] { return false; }, 300); // the window manager and the program answer the click
}

void UserKeys(const QString& keys)
{
    RunTool("xdotool", QStringList{"key", "--delay", "60"} + keys.split(' ', Qt::SkipEmptyParts));
    WaitUntil([] { return false; }, 200);
}

namespace {

// The client windows bottom first, as the window manager keeps them in _NET_CLIENT_LIST_STACKING.
QList<qulonglong> Stacking()
{
    QList<qulonglong> ids;
    const QString text = RunTool("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
    static const QRegularExpression id("0x[0-9a-fA-F]+");
    for (auto it = id.globalMatch(text); it.hasNext();)
        ids << it.next().captured(0).toULongLong(nullptr, 16);
    return ids;
}

} // namespace

bool StackedAbove(const QWidget* upper, const QWidget* lower)
{
    const QList<qulonglong> ids = Stacking();
    const qsizetype u = ids.indexOf(qulonglong(upper->winId()));
    const qsizetype l = ids.indexOf(qulonglong(lower->winId()));
    return u >= 0 && l >= 0 && u > l;
}

bool SettlesAbove(std::initializer_list<const QWidget*> upper, std::initializer_list<const QWidget*> lower)
{
    return WaitUntil(
        [&] {
            for (const QWidget* u : upper)
                for (const QWidget* l : lower)
                    if (!StackedAbove(u, l))
                        return false;
            return true;
        },
        2000);
}

QRect FrameOnScreen(const QWidget* window)
{
    return window->frameGeometry();
}

bool WaitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

void Screenshot(const QString& name)
{
    const QString folder = qEnvironmentVariable("ZN_SHOT_DIR");
    if (folder.isEmpty())
        return;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        screen->grabWindow(0).save(folder + "/" + name + ".png");
}

} // namespace zn::foundation::test
