#include "app/notice_forms.h"

#include "app/form_controls.h"
#include "foundation/dialogs.h"
#include "foundation/settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace zn::app {

QString QuickStartText()
{
    return QStringLiteral("TARVEL QUICK-START\n"
                          "\n"
                          "1. SET UP YOUR MODEM FIRST\n"
                          "   Click the Preferences button and let Tarvel find your fax modem. Enter\n"
                          "   your name, company, fax number and voice number as the sender\n"
                          "   information: they appear on your cover sheets and in the fax header.\n"
                          "\n"
                          "2. TO FAX A DOCUMENT, PRINT IT\n"
                          "   Open the document in the program you wrote it with (a word processor,\n"
                          "   a spreadsheet, a browser...). Choose Print from that program's File\n"
                          "   menu and pick the printer named \"Tarvel Fax\". Print as usual.\n"
                          "   Instead of paper, the printer driver makes a fax and hands it to\n"
                          "   Tarvel, which asks for the recipient and the fax number.\n"
                          "   The printer needs Tarvel Print To Fax (znptf) running: it starts with\n"
                          "   your desktop and with Tarvel. If the print job stops with \"Tarvel\n"
                          "   Print To Fax (znptf) is not running\", start Tarvel Print To Fax from\n"
                          "   your desktop's menu (or run znptf), then print the document again.\n"
                          "\n"
                          "3. SEND IT\n"
                          "   The new fax appears in the Outgoing Faxes list. Highlight it and click\n"
                          "   the Send button. Tarvel dials, sends the pages and writes the result\n"
                          "   in the list. A busy line is dialed again as your settings say.\n"
                          "\n"
                          "4. ADD A COVER SHEET (OPTIONAL)\n"
                          "   Highlight the fax and click Add Cover. Choose a template with\n"
                          "   \"Select Fax Cover Template\", type a short message and click Save.\n"
                          "   The cover is sent as the first page.\n"
                          "\n"
                          "5. A QUICK FAX WITHOUT A DOCUMENT\n"
                          "   Click New to write a one-page fax on a cover sheet: recipient, fax\n"
                          "   number, what it is about and a short message. Then send it as above.\n"
                          "\n"
                          "6. RECEIVING FAXES\n"
                          "   Click Receive. Tarvel answers incoming calls and stores each fax in\n"
                          "   the Incoming Faxes list until you click STOP. While Tarvel waits for\n"
                          "   faxes, sending is not possible.\n"
                          "\n"
                          "7. VIEWING AND PRINTING\n"
                          "   Highlight any fax and click View to see it page by page, or Print to\n"
                          "   print it on paper.\n"
                          "\n"
                          "8. KEEPING THE LISTS TIDY\n"
                          "   Archive the faxes you want to keep out of sight, and use Fax Log File\n"
                          "   Cleanup in the Tools menu to delete old faxes and their files.\n"
                          "\n"
                          "If something does not work, click the Technical Help button or choose\n"
                          "Configuration Information in the Tools menu and send that report to\n"
                          "technical support.\n");
}

// --- Quick start ---

TQuickStart::TQuickStart(QWidget* parent) : QDialog(parent)
{
    setObjectName("TQuickStart");
    setWindowTitle("Tarvel Quick-Start");
    setFont(QFont("Arial", 9));
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setFont(QFont("Courier New", 10));
    Memo1->setPlainText(QuickStartText());
    Memo1->setMinimumSize(QFontMetrics(Memo1->font()).horizontalAdvance(QString(78, 'W')) + 24, 420);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    PrintButton = MakeButton(this, "PrintButton", "&Print", "Print these instructions");
    BitBtn2 = MakeButton(this, "BitBtn2", "Copy to Clipboard", "Copy these instructions to the clipboard");
    auto* close = MakeButton(this, "CloseButton", "&Close");
    close->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo1, 1);
    layout->addLayout(ButtonRow({PrintButton, BitBtn2, close}));
    connect(PrintButton, &QPushButton::clicked, this, [this] { PrintButtonClick(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(close, &QPushButton::clicked, this, [this] { done(1); });
    RunPrintDialog = [this](QPrinter& printer) {
        QPrintDialog dialog(&printer, this);
        return dialog.exec() == QDialog::Accepted;
    };
}

bool TQuickStart::PrintLines(QPaintDevice& printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const int dpiX = printer.logicalDpiX();
    const int dpiY = printer.logicalDpiY();
    QFont font("Courier", 10);
    font.setStyleHint(QFont::Courier);
    painter.setFont(QFont(font, &printer));
    const int lineHeight = QFontMetrics(painter.font(), &printer).height();
    const int left = int(std::lround(dpiX * 0.5));
    const int top = int(std::lround(dpiY * 0.5));
    const QStringList lines = Memo1->toPlainText().split('\n');
    for (int i = 0; i < lines.size(); ++i)
        painter.drawText(left, top + i * lineHeight + QFontMetrics(painter.font(), &printer).ascent(), lines[i]);
    return painter.end();
}

void TQuickStart::PrintButtonClick()
{
    QPrinter printer;
    if (!RunPrintDialog || !RunPrintDialog(printer))
        return;
    if (!PrintLines(printer)) {
        foundation::ShowInformation(windowTitle().toStdString() + " could not be printed: the printer did not start.");
        return;
    }
    foundation::ShowInformation(windowTitle().toStdString() + " Printed!");
}

void TQuickStart::BitBtn2Click()
{
    QApplication::clipboard()->setText(Memo1->toPlainText());
    QTextCursor cursor = Memo1->textCursor();
    cursor.clearSelection();
    Memo1->setTextCursor(cursor);
    foundation::ShowInformation(windowTitle().toStdString() + " copied to the clipboard!");
}

// --- The receive-mode notice ---

TStartingFaxForm::TStartingFaxForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("TStartingFaxForm");
    setWindowTitle("Starting Receive mode...");
    setFont(QFont("Arial", 10));
    StartingPanel = new QLabel("Please wait while fax receive mode is started.....", this);
    StartingPanel->setObjectName("StartingPanel");
    StartingPanel->setAlignment(Qt::AlignCenter);
    StartingPanel->setFrameShape(QFrame::Panel);
    StartingPanel->setFrameShadow(QFrame::Raised);
    StartingPanel->setMinimumHeight(60);
    StartingPanel->hide();
    ReadyPanel = new QWidget(this);
    ReadyPanel->setObjectName("ReadyPanel");
    auto* ready = new QVBoxLayout(ReadyPanel);
    for (const char* text : {"Tarvel is in receive mode now", "To end receive mode, press the STOP button",
                             "While in receive mode, sending faxes is not possible"}) {
        auto* line = new QLabel(text, ReadyPanel);
        line->setAlignment(Qt::AlignCenter);
        ready->addWidget(line);
    }
    okbutton = MakeButton(this, "okbutton", "OK");
    okbutton->hide();
    DoNotShow = new QCheckBox("Do not show this again", this);
    DoNotShow->setObjectName("DoNotShow");
    DoNotShow->hide();
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(15000);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StartingPanel);
    layout->addWidget(ReadyPanel);
    auto* row = new QHBoxLayout;
    row->addWidget(DoNotShow);
    row->addStretch();
    row->addWidget(okbutton);
    layout->addLayout(row);
    // One size for both panels, so that switching them in place keeps the notice where it was centred.
    ShowReady();
    const QSize readySize = sizeHint();
    ShowStarting();
    const QSize startingSize = sizeHint();
    setMinimumSize(readySize.expandedTo(startingSize).expandedTo(QSize(420, 0)));
    StartingPanel->hide();
    ReadyPanel->show();
    connect(okbutton, &QPushButton::clicked, this, [this] { close(); });
    connect(DoNotShow, &QCheckBox::clicked, this, [this] { DoNotShowClick(); });
}

void TStartingFaxForm::ShowStarting()
{
    StartingPanel->show();
    ReadyPanel->hide();
    okbutton->hide();
    DoNotShow->hide();
}

void TStartingFaxForm::ShowReady()
{
    StartingPanel->hide();
    ReadyPanel->show();
    okbutton->show();
    DoNotShow->show();
}

void TStartingFaxForm::DoNotShowClick()
{
    // Kept in memory; the main window saves the settings when it closes.
    foundation::Settings().DisableReceivingFaxesNotification = DoNotShow->isChecked();
}

} // namespace zn::app
