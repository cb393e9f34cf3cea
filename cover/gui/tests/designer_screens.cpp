// Screenshots of the cover sheet designer for looking at: items selected at 100%, 50% and 150%,
// with the grid shown at 150%.
//   designer_screens OUTPUT_FOLDER
// Run under Xvfb (xvfb-run -a) to see the real window; PNGs go to OUTPUT_FOLDER, and the program
// folder of the run is OUTPUT_FOLDER/home.
#include "cover/gui/designer_window.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>

using namespace zn::cover;
using namespace zn::cover::gui;

namespace {

void Place(TFaxBasePanel& surface, std::unique_ptr<TFaxGraphicControl> item, QRect r)
{
    surface.PlaceItem(std::move(item), r);
}

void Shoot(TCoverDesMainScreen& window, const QString& file)
{
    QApplication::processEvents();
    window.grab().save(file);
    std::printf("%s\n", qPrintable(file));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: designer_screens OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out + "/home");
    setenv("ZN_HOME", qPrintable(out + "/home"), 1);

    TCoverDesMainScreen window;
    window.resize(900, 700);
    window.show();
    QApplication::processEvents();
    TFaxCoverPanelX& surface = *window.LabelPanel;
    auto title = std::make_unique<TFaxCoverLabel>();
    title->Caption = "FAX COVER SHEET";
    title->Font.SetSize(24);
    title->Font.bold = true;
    Place(surface, std::move(title), QRect(60, 40, 300, 40));
    auto frame = std::make_unique<TFaxCoverShapes>();
    frame->Shape = stRoundRect;
    frame->Pen.width = 2;
    Place(surface, std::move(frame), QRect(50, 100, 600, 160));
    auto to = std::make_unique<TFaxCoverField>();
    to->ChooseField(1);
    Place(surface, std::move(to), QRect(70, 120, 200, 20));
    auto line = std::make_unique<TFaxCoverLine>();
    Place(surface, std::move(line), QRect(50, 300, 600, 10));
    Place(surface, std::make_unique<TFaxCoverImportance>(), QRect(50, 330, 600, 20));
    Place(surface, std::make_unique<TFaxCoverMessage>(), QRect(50, 380, 600, 20));
    surface.RebindAll();

    const auto selectSome = [&surface] {
        surface.Handle().ClearSelection();
        surface.Handle().Select(surface.Items()[1].get());
        surface.Handle().Select(surface.Items()[2].get());
        surface.update();
    };
    selectSome();
    Shoot(window, out + "/designer_100.png");
    surface.Handle().ClearSelection();
    surface.Handle().Select(surface.Items()[0].get());
    surface.update();
    Shoot(window, out + "/designer_one_selected.png");
    // A drag of two items under way: the outline shows where they will go.
    selectSome();
    const auto send = [&surface](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(at), QPointF(surface.mapToGlobal(at)), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&surface, &e);
    };
    send(QEvent::MouseButtonPress, QPoint(300, 200), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(360, 420), Qt::LeftButton);
    Shoot(window, out + "/designer_dragging.png");
    send(QEvent::MouseButtonRelease, QPoint(360, 420), Qt::NoButton);
    for (int i = 0; i < 5; ++i)
        window.ZoomSpinnerDown->click();
    selectSome();
    Shoot(window, out + "/designer_50.png");
    for (int i = 0; i < 10; ++i)
        window.ZoomSpinnerUp->click();
    window.ShowGrid->click();
    selectSome();
    Shoot(window, out + "/designer_150.png");
    window.SetChangesMade(false);
    window.close();
    return 0;
}
