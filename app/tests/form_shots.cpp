// Test tool: saves a picture of every window of this folder, filled as a user would see it, so that
// they can be looked at. Usage: app_form_shots OUTPUT_FOLDER (with ZN_HOME set to a scratch folder).
#include "app/error_display_form.h"
#include "app/fax_forms.h"
#include "app/log_cleanup.h"
#include "app/main_screen.h"
#include "app/notice_forms.h"
#include "app/quick_setup.h"
#include "app/small_forms.h"
#include "foundation/gui/assistant_help.h"
#include "foundation/gui/enter_edit.h"
#include "foundation/gui/assistant_pello.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QPlainTextEdit>
#include <QTimer>

namespace {

QString outFolder;

void Save(QWidget& w, const char* name)
{
    w.show();
    QApplication::processEvents();
    w.grab().save(outFolder + "/" + name + ".png");
    w.hide();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    outFolder = argv[1];
    zn::foundation::Settings().ProgramVersion = zn::app::kProgramVersion;

    zn::app::TMainScreen screen;
    screen.FormActivate();
    Save(screen, "main_window");
    screen.mnuShowArchives->trigger();
    Save(screen, "main_window_archived");
    screen.SelectTab(1);
    Save(screen, "main_window_received");
    screen.SelectTab(0);

    for (const char* recipient : {"Ann Example", "Bob Sample"}) {
        screen.FaxTable.Append();
        screen.FaxTable.FieldByName("RECIPIENT").SetAsString(recipient);
        screen.FaxTable.FieldByName("SUBJECT").SetAsString("Quarterly figures");
        screen.FaxTable.FieldByName("PHONE").SetAsString("555-0100");
        screen.FaxTable.FieldByName("FAXDOC").SetAsString(recipient[0] == 'A' ? "DOC00001.APF" : "DOC00002.APF");
        screen.FaxTable.FieldByName("DATESENT").SetAsDate(QDate(2026, 11, 20));
        screen.FaxTable.Post();
    }
    // Received rows naming RCV00001.APF and RCV00002.APF of the Receive folder (the files are the
    // caller's: the rows show whether they exist or not).
    for (int i = 1; i <= 2; ++i) {
        screen.RecTable.Append();
        screen.RecTable.FieldByName("DATEREC").SetAsDate(QDate(2026, 12, i));
        screen.RecTable.FieldByName("TIMEREC").SetAsString(i == 1 ? "09:15" : "16:40");
        screen.RecTable.FieldByName("FROM").SetAsString(i == 1 ? "+1 555 0199" : "REMOTE ONE");
        screen.RecTable.FieldByName("PAGES").SetAsInteger(i);
        screen.RecTable.FieldByName("FAXFILE").SetAsString(
            QString("RCV%1.APF").arg(i, 5, 10, QChar('0')).toStdString());
        screen.RecTable.Post();
    }
    screen.SetButtons();
    {
        zn::app::TDMForm cleanup({&screen.FaxTable, &screen.FaxVeldrane, &screen.FaxDataSource, &screen.RecTable,
                                  &screen.RecVeldrane, &screen.RecDataSource, &screen.VeldraneEnv1,
                                  zn::foundation::GetProgramFolder()});
        Save(cleanup, "log_cleanup");
    }
    zn::app::TDateSelector selector;
    selector.SetDate(QDate(2026, 6, 1));
    Save(selector, "select_date");
    zn::app::TDeleteForConditions conditions;
    conditions.rRecipient->setChecked(true);
    conditions.FaxRECIPIENT->setText("Ann Example");
    Save(conditions, "delete_where");

    zn::app::TStartingFaxForm starting;
    starting.ShowStarting();
    Save(starting, "receive_mode_starting");
    starting.ShowReady();
    Save(starting, "receive_mode_ready");

    zn::app::TSplashform about;
    Save(about, "about");
    zn::app::TGetSenderInfo sender;
    sender.Name->setText("Ann Example");
    sender.FaxNumber->setText("+1 555 0100");
    Save(sender, "sender_information");
    zn::app::TTellUserAboutReceiveLog notice;
    Save(notice, "receive_log_notice");
    zn::app::TDeleteWhat what;
    what.SetItemIndex(2);
    Save(what, "delete_what");
    zn::app::TFaxEditor editor;
    editor.Recipient->setText("Head Office");
    editor.FaxNumber->setText("555-0142");
    editor.Subject->setText("Quarterly report");
    Save(editor, "fax_editor");
    zn::app::TPhoneBook book;
    if (book.Open(false))
        Save(book, "phone_book");
    zn::app::TPhoneBookEditor entry;
    Save(entry, "phone_book_editor");
    zn::app::TEditReceiveNotes notes;
    notes.Descript->setText("From: REMOTE ONE");
    Save(notes, "received_notes");

    zn::app::TShowErrorForm error;
    error.setWindowTitle("Fax Failure");
    error.ContinueButton->setVisible(true);
    error.SetText("The fax was not sent.\r\n\r\nThe error message was:   No answer from the remote fax machine "
                  "(the line rang 10 times).");
    Save(error, "error_window");

    zn::foundation::gui::TShowAssistantHelpForm help;
    help.setWindowTitle("Quick Setup Tip");
    QStringList lines;
    for (int i = 1; i <= 15; ++i)
        lines << QString("Tip line %1: choose the port your modem is connected to.").arg(i);
    help.SetLines(lines);
    Save(help, "help_text_15_lines");

    // The quick configuration analysis, page by page, for settings with something on every page.
    {
        zn::foundation::SettingsValues& v = zn::foundation::Settings();
        v.ToneOrPulse = 1;
        v.MaximumBPS = 14400;
        v.ECM = true;
        v.BlindDial = true;
        v.IgnoreBusy = true;
        v.FaxClass = 0;
        v.ResetString.clear();
        v.InitString.clear();
        zn::app::TQuickSuggest suggest;
        for (int step = 0; step < 16; ++step) {
            const std::string name = "quick_analysis_" + std::to_string(suggest.Notebook1->currentIndex());
            Save(suggest, name.c_str());
            if (!suggest.Nextbutton->isEnabled())
                break;
            suggest.Nextbutton->click();
        }
    }

    QWidget owner;
    owner.resize(300, 300);
    zn::foundation::gui::TAssistantPello tips(&owner);
    for (int i = 1; i <= 7; ++i) {
        tips.Titles << QString("How do I do thing number %1?").arg(i);
        tips.Answers << QString("Answer %1.").arg(i);
    }
    tips.Execute();
    QApplication::processEvents();
    tips.Form()->grab().save(outFolder + "/tips_window.png");
    return 0;
}
