// Tests on a real desktop (tests/desktop/openbox_session.sh: Xvfb with openbox): the user's mouse
// and keys go through the X server and the window manager (xdotool), and what the user sees is read
// back from the window manager (the stacking order) and the screen (a screenshot).
#pragma once
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>

class QWidget;

namespace zn::foundation::test {

// Whether the program runs on X11 with a window manager; the tests skip themselves otherwise.
bool OnDesktop();
// Runs a desktop tool to its end and returns what it printed; the program's windows keep working
// meanwhile.
QString RunTool(const QString& program, const QStringList& arguments);
// A click of the user's mouse at a point of the widget (its centre by default).
void UserClick(QWidget* widget, QPoint at = QPoint(-1, -1));
// Keys the user types into the window that has the focus, in xdotool's names ("Escape", "alt+h").
void UserKeys(const QString& keys);
// Whether window `upper` lies above window `lower` in the window manager's stacking order.
bool StackedAbove(const QWidget* upper, const QWidget* lower);
// Whether each window of `upper` lies above each window of `lower` once the windows have settled
// after a click (within two seconds).
bool SettlesAbove(std::initializer_list<const QWidget*> upper, std::initializer_list<const QWidget*> lower);
// The window with its frame, as the window manager placed it on the screen.
QRect FrameOnScreen(const QWidget* window);
// Processes events until `done` or `ms` milliseconds have passed; whether it was done.
bool WaitUntil(const std::function<bool()>& done, int ms);
// A picture of the whole screen as ZN_SHOT_DIR/<name>.png, when ZN_SHOT_DIR is set.
void Screenshot(const QString& name);

} // namespace zn::foundation::test
