// Room for a window's title. A window manager draws the title in its own, usually bold, font
// beside the window menu icon and three buttons, and cuts it short ("Save...ences") when the window
// is narrower; the toolkit sizes small dialogs by their contents alone.
#pragma once
#include <QString>

class QWidget;

namespace zn::platform {

// The width a window needs for its whole title to show in a usual title bar.
int WidthForTitle(const QString& title);
// Makes the window at least that wide.
void MakeRoomForTitle(QWidget& window);

} // namespace zn::platform
