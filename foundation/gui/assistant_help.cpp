#include "foundation/gui/assistant_help.h"

#include "foundation/dialogs.h"
#include "foundation/form_placement.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace zn::foundation::gui {

namespace {

constexpr int kDesignedLines = 14; // the lines the memo shows at the dialog's designed height
constexpr int kMinimumLines = 4;

TShowAssistantHelpForm::PrintDialogHook& PrintHook()
{
    static TShowAssistantHelpForm::PrintDialogHook hook;
    return hook;
}

// Word-wraps one line to the width in the font, as a memo of that width would.
QStringList WrapLine(const QString& line, const QFont& font, const QPaintDevice* device, qreal width)
{
    if (line.isEmpty())
        return {QString()};
    QStringList out;
    QTextLayout layout(line, font, const_cast<QPaintDevice*>(device));
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine tl = layout.createLine(); tl.isValid(); tl = layout.createLine()) {
        tl.setLineWidth(width);
        out << line.mid(tl.textStart(), tl.textLength());
    }
    layout.endLayout();
    return out;
}

} // namespace

void TShowAssistantHelpForm::SetPrintDialogHookForTest(PrintDialogHook hook) { PrintHook() = std::move(hook); }

TShowAssistantHelpForm::TShowAssistantHelpForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("TShowAssistantHelpForm");
    setWindowTitle("Assistance");
    QFont arial("Arial", 9);
    setFont(arial);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    QPalette pal = Memo1->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
    Memo1->setPalette(pal);
    // A text that does not fit, 15 lines included, gets its scroll bar.
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    CopyPasteMemo = new QPlainTextEdit(this);
    CopyPasteMemo->setObjectName("CopyPasteMemo");
    CopyPasteMemo->setVisible(false);

    Button1 = new QPushButton("Copy to Clipboard", this);
    Button1->setObjectName("Button1");
    Button3 = new QPushButton("Print", this);
    Button3->setObjectName("Button3");
    okbutton = new QPushButton("OK", this);
    okbutton->setObjectName("okbutton");
    okbutton->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button3);
    buttons->addStretch();
    buttons->addWidget(okbutton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo1, 1);
    layout->addLayout(buttons);

    // Designed so that the memo shows 14 lines.
    const QFontMetrics memoMetrics(Memo1->font());
    const int memoHeight = kDesignedLines * memoMetrics.lineSpacing() + 2 * Memo1->frameWidth()
                           + 2 * int(Memo1->document()->documentMargin()) + 2;
    const int chrome = layout->contentsMargins().top() + layout->contentsMargins().bottom() + layout->spacing()
                       + okbutton->sizeHint().height();
    designedHeight_ = memoHeight + chrome; // about 327 pixels at 96 dpi
    resize(427, designedHeight_);

    connect(okbutton, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
}

int TShowAssistantHelpForm::LineHeight() const { return QFontMetrics(Memo1->font()).lineSpacing(); }

int TShowAssistantHelpForm::FindLongestLine(const QStringList& lines) const
{
    const QFontMetrics fm(font());
    int longest = 150;
    for (const QString& l : lines)
        longest = std::max(longest, fm.horizontalAdvance(l));
    return longest;
}

void TShowAssistantHelpForm::SetLines(const QStringList& lines)
{
    Memo1->setPlainText(lines.join('\n'));
    const int n = std::max<int>(kMinimumLines, int(lines.size()));
    if (n < kDesignedLines)
        resize(width(), designedHeight_ - (kDesignedLines - n) * LineHeight());
    else
        resize(width(), designedHeight_);
}

void TShowAssistantHelpForm::Button1Click()
{
    CopyPasteMemo->setPlainText(Memo1->toPlainText());
    CopyPasteMemo->selectAll();
    CopyPasteMemo->copy();
    ShowInformation("Information copied to Windows clipboard");
}

void TShowAssistantHelpForm::Button3Click()
{
    CopyPasteMemo->setPlainText(Memo1->toPlainText());
    QFont f = Memo1->font();
    f.setFamily("Arial");
    CopyPasteMemo->setFont(f);
    QPrinter printer(QPrinter::HighResolution);
    const bool confirmed =
        PrintHook() ? PrintHook()(printer) : QPrintDialog(&printer, this).exec() == QDialog::Accepted;
    if (!confirmed)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int pages = PrintHelpLines(CopyPasteMemo->toPlainText().split('\n'), f, printer);
    QApplication::restoreOverrideCursor();
    if (pages > 0)
        ShowInformation("The information has been printed.");
}

int PrintHelpLines(const QStringList& lines, const QFont& font, QPrinter& printer)
{
    QPainter p;
    if (!p.begin(&printer))
        return 0;
    const int dpiX = printer.logicalDpiX();
    const int dpiY = printer.logicalDpiY();
    const QRect page = printer.pageLayout().fullRectPixels(printer.resolution());
    // Three quarters of an inch at the top and bottom, 0.5625 inch at the sides.
    const int top = int(std::lround(0.75 * dpiY));
    const int bottomLimit = page.height() - top;
    const int left = int(std::lround(0.75 * (dpiX * 3 / 4)));
    const int rightLimit = page.width() - left;
    QFont printFont(font);
    printFont.setPointSize(11);
    p.setFont(printFont);
    const int lineHeight = p.fontMetrics().height();
    int y = top;
    int pages = 1;
    for (const QString& line : lines) {
        for (const QString& wrapped : WrapLine(line, printFont, &printer, rightLimit - left)) {
            if (y + lineHeight > bottomLimit) {
                printer.newPage();
                ++pages;
                y = top;
            }
            p.drawText(left, y + p.fontMetrics().ascent(), wrapped);
            y += lineHeight;
        }
    }
    p.end();
    return pages;
}

void ShowAssistantHelpText(const QStringList& lines, const QString& caption)
{
    TShowAssistantHelpForm form(QApplication::activeWindow());
    form.setWindowTitle(caption);
    form.SetLines(lines);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        form.move(screen->geometry().center() - form.rect().center());
    form.exec();
}

} // namespace zn::foundation::gui
