#include "ptf/tray_icon.h"

#include <QPainter>
#include <QPixmap>

namespace zn::ptf {

// The program's icon: a sheet with lines of text coming out of a fax machine.
QIcon ProgramIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(8, 2, 16, 18);
    for (int y = 6; y <= 14; y += 4)
        painter.drawLine(11, y, 21, y);
    painter.setBrush(QColor(0x2a, 0x5d, 0xb0));
    painter.drawRoundedRect(3, 16, 26, 13, 3, 3);
    painter.setBrush(Qt::white);
    painter.drawRect(8, 19, 16, 3);
    return QIcon(pixmap);
}

} // namespace zn::ptf
