// Screenshots for looking at: the image browser with a photo in it, and a rendered cover preview.
//   cover_screens OUTPUT_FOLDER [PHOTO.JPG]
// Run under Xvfb (xvfb-run -a) to see the real window; PNGs go to OUTPUT_FOLDER.
#include "cover/cover_renderer.h"
#include "cover/gui/cover_dialogs.h"
#include "cover/tests/sample_template.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTimer>

#include <cstdio>

using namespace zn::cover;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: cover_screens OUTPUT_FOLDER [PHOTO.JPG]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out + "/pictures");
    QString photo = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (photo.isEmpty()) {
        photo = out + "/pictures/photo.jpg";
        test::SamplePhoto(640, 480).save(photo, "JPG", 85);
    } else {
        QFile::copy(photo, out + "/pictures/" + QFileInfo(photo).fileName());
        photo = out + "/pictures/" + QFileInfo(photo).fileName();
    }
    gui::TFaxImageBrowser browser;
    browser.SetDirectory(out + "/pictures");
    browser.SelectFile(QFileInfo(photo).fileName());
    browser.show();
    QTimer::singleShot(500, [&] {
        browser.grab().save(out + "/image_browser.png");
        // The preview of the sample template with the photo as its picture.
        const TItemList items = test::SampleTemplate(QImage(photo));
        const std::string fct = (out + "/SAMPLE.FCT").toStdString();
        WriteFileAtomically(fct, test::RenderFileOf(items));
        const std::string bmp = RenderCoverPreview(fct);
        QImage(QString::fromStdString(bmp)).save(out + "/cover_preview.png");
        app.quit();
    });
    return app.exec();
}
