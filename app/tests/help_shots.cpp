// Tool: makes the pictures of the help pages (resources/help/images/) from zn's own windows, filled as
// a user would see them, reduced in size and colours to keep them small; and pictures of the help
// window at a few topics, for looking at. Usage (with ZN_HOME set to a scratch folder):
//     app_help_shots IMAGES_FOLDER [HELP_WINDOW_PICTURES_FOLDER]
#include "app/fax_viewer_form.h"
#include "app/main_screen.h"
#include "app/preferences.h"
#include "app/quick_fax.h"
#include "app/send_fax_form.h"
#include "cover/gui/designer_window.h"
#include "cover/template_files.h"
#include "cover/tests/sample_template.h"
#include "foundation/gui/enter_edit.h"
#include "foundation/help_contexts.h"
#include "foundation/help_window.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "platform/folders.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>

namespace {

// At most this wide on the page; fewer colours than a screen shot needs.
constexpr int kPictureWidth = 520;

QImage Picture(QWidget& w)
{
    w.show();
    QApplication::processEvents();
    QImage image = w.grab().toImage();
    w.hide();
    if (image.width() > kPictureWidth)
        image = image.scaledToWidth(kPictureWidth, Qt::SmoothTransformation);
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
}

void Save(QWidget& w, const QString& folder, const char* name)
{
    Picture(w).save(folder + "/" + name + ".png", nullptr, 9);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString images = argv[1];
    zn::foundation::CreateDataFolders();
    zn::foundation::LoadSettings();
    zn::foundation::Settings().ProgramVersion = zn::app::kProgramVersion;

    // A short fax for the rows and the viewer.
    const std::string text = zn::foundation::GetProgramFolder() + "letter.txt";
    {
        QFile f(QString::fromStdString(text));
        f.open(QIODevice::WriteOnly);
        f.write("Dear Ann,\n\nHere are the quarterly figures you asked for.\n\nBest regards,\nBob\n");
    }
    const QString znfax = QCoreApplication::applicationDirPath() + "/../../tools/znfax/znfax";
    const std::string doc = zn::foundation::GetSendFolder() + "DOC00001.APF";
    QProcess::execute(znfax, {"convert", QString::fromStdString(text), QString::fromStdString(doc)});

    zn::platform::EnsureFolderCI(zn::foundation::GetCoversFolder());
    const zn::cover::TItemList items = zn::cover::test::SampleTemplate(zn::cover::test::SamplePhoto(300, 300));
    std::vector<const zn::cover::TFaxGraphicControl*> pointers;
    for (const auto& item : items)
        pointers.push_back(item.get());
    const std::string cover = zn::foundation::GetCoversFolder() + "business.fcs";
    zn::cover::SaveTemplate(pointers, cover, "Business cover");
    zn::app::TMainScreen screen;
    screen.FormActivate();
    const struct {
        const char* recipient;
        const char* subject;
        const char* phone;
        const char* result;
    } rows[] = {{"Ann Example", "Quarterly figures", "555-0100", "Sent"},
                {"Head Office", "Order 1187", "555-0142", ""},
                {"Carol Printer", "Letter printed to fax", "555-0177", "Called fax number was busy"}};
    for (const auto& r : rows) {
        screen.FaxTable.Append();
        screen.FaxTable.FieldByName("RECIPIENT").SetAsString(r.recipient);
        screen.FaxTable.FieldByName("SUBJECT").SetAsString(r.subject);
        screen.FaxTable.FieldByName("PHONE").SetAsString(r.phone);
        screen.FaxTable.FieldByName("FAXDOC").SetAsString("DOC00001.APF");
        screen.FaxTable.FieldByName("LASTRESULT").SetAsString(r.result);
        if (*r.result == 'S') {
            screen.FaxTable.FieldByName("DATESENT").SetAsDate(QDate(2026, 11, 20));
            screen.FaxTable.FieldByName("TIMESENT").SetAsString("10:12");
        }
        screen.FaxTable.Post();
    }
    screen.SetButtons();
    screen.resize(760, 420);
    Save(screen, images, "main_window");

    zn::app::TSendFaxForm send(&screen);
    send.ToLabel->setText("Ann Example");
    send.Subjectlabel->setText("Quarterly figures");
    send.sfDialPrefix->setText("9,");
    send.HandedNumber = "555-0100";
    Save(send, images, "send_fax");

    zn::app::TPreferences preferences(&screen);
    preferences.LoadFromSettings(); // as the wizard opens from the Tools menu
    preferences.SetPage(2);
    Save(preferences, images, "preferences");

    zn::app::TCreateEditQuickFax quick(&screen);
    quick.TemplateName = "business.fct";
    quick.Recipient->setText("Head Office");
    quick.RecipientFax->setText("555-0142");
    quick.Regarding->setText("Order 1187");
    quick.FaxMessage->setPlainText("Please confirm the delivery date.");
    Save(quick, images, "quick_fax");

    zn::app::TFaxViewer viewer(doc, "Fax Viewer", "", &screen);
    viewer.resize(620, 480);
    Save(viewer, images, "viewer");

    zn::cover::gui::TCoverDesMainScreen designer(&screen);
    designer.resize(760, 560);
    designer.show(); // the designer's first showing starts it on an empty page
    QApplication::processEvents();
    designer.OpenLabelFile(zn::platform::ResolvePath(cover));
    Save(designer, images, "cover_designer");

    // The help window itself, at three topics.
    if (argc > 2) {
        const QString out = argv[2];
        for (const auto& [context, name] : {std::pair{zn::foundation::kContentsHelpContext, "help_contents"},
                                            std::pair{zn::foundation::kSendFaxHelpContext, "help_send_fax"},
                                            std::pair{zn::foundation::kGeneralHelpContext, "help_problem_solver"}}) {
            zn::foundation::THelpWindow* help = zn::foundation::OpenHelp(context);
            QApplication::processEvents();
            help->grab().save(out + "/" + name + ".png");
        }
        zn::foundation::THelpWindow* help = zn::foundation::OpenHelpWindow();
        help->Search("busy");
        QApplication::processEvents();
        help->grab().save(out + "/help_search.png");
    }
    return 0;
}
