#include "platform/window_title.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QWidget>

#include <algorithm>

namespace zn::platform {

namespace {

// The window menu icon and the three title bar buttons, with the bar's margins around them.
constexpr int kTitleBarControls = 110;
// Title bar fonts run a little larger than dialog text.
constexpr double kTitleFontScale = 1.1;

} // namespace

int WidthForTitle(const QString& title)
{
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * kTitleFontScale);
    return QFontMetrics(font).horizontalAdvance(title) + kTitleBarControls;
}

void MakeRoomForTitle(QWidget& window)
{
    if (window.windowTitle().isEmpty())
        return;
    const int needed = WidthForTitle(window.windowTitle());
    // An explicit least width replaces the layout's, so it is set only above what the contents
    // already need.
    if (needed > std::max(window.minimumWidth(), window.minimumSizeHint().width()))
        window.setMinimumWidth(needed);
}

} // namespace zn::platform
