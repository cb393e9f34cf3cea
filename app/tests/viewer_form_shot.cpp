// Test tool: opens a fax viewer window on a fax made of ITU charts (normal resolution, as most
// received faxes are) and keeps it up, or saves a picture of it.
//   viewer_form_shot regular|alternate [OUT.png] [zoom 25|50|75|100] [FAX.APF]
//   viewer_form_shot print|status OUT.png     (the print dialog, the printer's status window)
// Without OUT.png the window stays until closed (for a screenshot of the whole screen under Xvfb).
#include "app/alt_fax_viewer_form.h"
#include "app/fax_viewer_form.h"
#include "app/pre_print_form.h"
#include "faxdoc/apf_file.h"
#include "faxdoc/gui/tests/view_test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QTimer>

#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    zn::faxdoc::test::TTempDir dir;
    const std::string what = argv[1];
    if ((what == "print" || what == "status") && argc > 2) {
        std::unique_ptr<QWidget> window;
        zn::faxdoc::TFxFaxPrinter printer;
        zn::faxdoc::TFxFaxPrinterStatus status;
        if (what == "print") {
            auto form = std::make_unique<zn::app::TPrePrintForm>();
            form->ToPage->setValue(3);
            form->PrintFooter->setChecked(true);
            window = std::move(form);
        } else {
            zn::faxdoc::test::MakeChartFax(dir, "FAX0001.APF", {1, 2, 4}, 0);
            printer.SetFileName(dir.Path("FAX0001.APF"));
            printer.SetStatusDisplay(&status);
            status.UpdateDisplay(true, false);
            printer.DoStatus(zn::faxdoc::ppRendering);
            status.UpdateDisplay(false, false);
        }
        QWidget* shown = window ? window.get() : status.Display();
        shown->show();
        QTimer::singleShot(300, [&] {
            shown->grab().save(argv[2]);
            app.quit();
        });
        return app.exec();
    }
    std::string file = argc > 4 ? argv[4] : "";
    if (file.empty()) {
        zn::faxdoc::test::MakeChartFax(dir, "FAX0001.APF", {1, 2, 4}, 0);
        file = dir.Path("FAX0001.APF");
    }
    std::unique_ptr<zn::app::TViewerFormBase> form;
    if (std::string(argv[1]) == "alternate")
        form = std::make_unique<zn::app::TAltFaxViewer>(file, "Received from +1 555 0100", "Tarvel");
    else
        form = std::make_unique<zn::app::TFaxViewer>(file, "Received from +1 555 0100", "Tarvel");
    form->move(40, 30); // at the window's own size
    form->show();
    if (argc > 3 && argv[3][0]) {
        const QString item = QString("N%1PercentItem").arg(argv[3]);
        if (auto* action = form->findChild<QAction*>(item))
            action->trigger();
    }
    if (argc > 2 && argv[2][0]) {
        const QString out = argv[2];
        QTimer::singleShot(500, [&app, &form, out] {
            form->grab().save(out);
            app.quit();
        });
    }
    return app.exec();
}
