// The designer window on its own, for tests that drive it from outside like a user (xdotool under
// Xvfb). It stands at the screen's top-left corner; once it is up, the screen rectangles of its
// tool buttons and of the page are written to POSITIONS_FILE, one "name x y width height" a line.
//   designer_launcher POSITIONS_FILE
// The program folder is $ZN_HOME, as for zn.
#include "cover/gui/designer_window.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

using namespace zn::cover::gui;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: designer_launcher POSITIONS_FILE\n");
        return 2;
    }
    const QString positions = QString::fromLocal8Bit(argv[1]);
    TCoverDesMainScreen window;
    window.move(0, 0);
    window.resize(1000, 760);
    QTimer::singleShot(0, &window, [&window, positions] {
        QFile out(positions + ".part");
        if (!out.open(QIODevice::WriteOnly))
            return;
        for (QWidget* w :
             {static_cast<QWidget*>(window.Pointerbutton), static_cast<QWidget*>(window.DrawRectanglebutton),
              static_cast<QWidget*>(window.DrawLabelButton), static_cast<QWidget*>(window.FieldBoxButton),
              static_cast<QWidget*>(window.LabelPanel)}) {
            const QPoint at = w->mapToGlobal(QPoint(0, 0));
            out.write(QString("%1 %2 %3 %4 %5\n")
                          .arg(w->objectName())
                          .arg(at.x())
                          .arg(at.y())
                          .arg(w->width())
                          .arg(w->height())
                          .toUtf8());
        }
        out.close();
        QFile::rename(positions + ".part", positions); // the driver never reads half a file
    });
    window.exec();
    return 0;
}
