#include "faxdoc/gui/fax_printer.h"

#include "comms/base/exceptions.h"
#include "faxdoc/margin_tags.h"
#include "platform/date_format.h"
#include "platform/folders.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPaintDevice>
#include <QPrintDialog>
#include <QPrinter>

#include <algorithm>

namespace zn::faxdoc {

namespace {

void ProcessMessages() { QCoreApplication::processEvents(); }

// The rule under a header and over a footer and the gap beside it: a pixel on a screen-like
// device, proportionally more on a printer, so that the rule stays visible on paper.
int RuleUnit(QPainter& canvas)
{
    const int ppi = canvas.device() ? canvas.device()->logicalDpiY() : 100;
    return std::max(1, ppi / 100);
}

std::string NowText() { return platform::FormatDateTime("c", platform::Now()); }

} // namespace

const char* PrintProgressWord(int code)
{
    static const char* const kWords[] = {"Idle", "Composing", "Rendering", "Submitting", "Converting"};
    return code >= 0 && code <= 4 ? kWords[code] : "";
}

TFxFaxPrinterMargin::TFxFaxPrinterMargin() : font_(QStringLiteral("DejaVu Sans"), 10) {}

void TFxFaxPrinterLog::UpdateLog(TFaxPLCode code)
{
    if (!printer_ || LogFileName.empty())
        return;
    const std::string path = platform::ResolvePath(LogFileName);
    comms::CheckErrorCode(printer_, AppendPrintLog(path, printer_->FileName(), code, NowText()));
}

TFxCustomFaxPrinter::TFxCustomFaxPrinter()
{
    header_.Caption = "FILE: $F";
    header_.Enabled = true;
    footer_.Caption = "PAGE: $P of $N";
    footer_.Enabled = true;
    SetCaption("Tarvel Fax Printer");
}

TFxCustomFaxPrinter::~TFxCustomFaxPrinter()
{
    if (status_)
        status_->SetFaxPrinter(nullptr);
    if (log_)
        log_->SetFaxPrinter(nullptr);
}

QPrinter& TFxCustomFaxPrinter::Printer()
{
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer_->setDocName(QString::fromStdString(caption_));
    }
    return *printer_;
}

TPageTarget& TFxCustomFaxPrinter::PageTarget()
{
    if (target_)
        return *target_;
    if (!printerTarget_)
        printerTarget_ = std::make_unique<TPrinterPageTarget>(Printer());
    return *printerTarget_;
}

std::string TFxCustomFaxPrinter::Caption() const { return printer_ ? printer_->docName().toStdString() : caption_; }

void TFxCustomFaxPrinter::SetCaption(const std::string& caption)
{
    caption_ = caption;
    if (printer_)
        printer_->setDocName(QString::fromStdString(caption));
}

void TFxCustomFaxPrinter::SetStatusDisplay(TFxAbstractFaxPrinterStatus* status)
{
    status_ = status;
    if (status_)
        status_->SetFaxPrinter(this);
}

void TFxCustomFaxPrinter::SetFaxPrinterLog(TFxFaxPrinterLog* log)
{
    log_ = log;
    if (log_)
        log_->SetFaxPrinter(this);
}

void TFxCustomFaxPrinter::SetFileName(const std::string& name)
{
    if (name == fileName_)
        return;
    fileName_ = name;
    totalPages_ = 0;
    firstPage_ = lastPage_ = 0;
    unpacker_.SetInFileName(name);
    try {
        totalPages_ = unpacker_.GetNumPages();
        faxResolution_ = unpacker_.GetFaxResolution();
        faxWidth_ = unpacker_.GetFaxWidth();
    } catch (...) {
        // A file that could not be read is read again when named next time (it may be mended by
        // then), instead of being taken for the one already loaded.
        fileName_.clear();
        totalPages_ = 0;
        throw;
    }
    firstPage_ = totalPages_ > 0 ? 1 : 0;
    lastPage_ = static_cast<unsigned>(totalPages_);
    Printer().setPrintRange(QPrinter::AllPages);
    Printer().setFromTo(static_cast<int>(firstPage_), static_cast<int>(lastPage_));
}

bool TFxCustomFaxPrinter::PrintSetup(QWidget* parent)
{
    QPrintDialog dialog(&Printer(), parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setMinMax(totalPages_ > 0 ? 1 : 0, totalPages_);
    Printer().setFromTo(static_cast<int>(firstPage_), static_cast<int>(lastPage_));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    if (Printer().printRange() == QPrinter::PageRange) {
        firstPage_ = static_cast<unsigned>(Printer().fromPage());
        lastPage_ = static_cast<unsigned>(Printer().toPage());
    } else {
        firstPage_ = totalPages_ > 0 ? 1 : 0;
        lastPage_ = static_cast<unsigned>(totalPages_);
    }
    return true;
}

std::string TFxCustomFaxPrinter::ReplaceMarginTags(const std::string& caption, unsigned page) const
{
    TMarginTagValues v;
    v.date = platform::FormatDateTime(platform::ShortDateFormat(), platform::Now());
    v.time = platform::FormatDateTime(platform::LongTimeFormat(), platform::Now());
    v.fileName = fileName_;
    v.totalPages = totalPages_;
    v.page = static_cast<int>(page);
    return faxdoc::ReplaceMarginTags(caption, v);
}

QFont TFxCustomFaxPrinter::MarginFont(const TFxFaxPrinterMargin& margin, QPainter& canvas) const
{
    QFont font(margin.Font(), canvas.device());
    if (MultiPage) {
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() / 2);
        else
            font.setPixelSize(std::max(1, font.pixelSize() / 2));
    }
    return font;
}

void TFxCustomFaxPrinter::PrintHeader(QPainter& canvas, unsigned page, TPrintRect& rect)
{
    const QString text = QString::fromStdString(ReplaceMarginTags(header_.Caption, page));
    canvas.setFont(MarginFont(header_, canvas));
    const int h = QFontMetrics(canvas.font(), canvas.device()).height();
    header_.SetFontHeight(h);
    canvas.save();
    canvas.setPen(Qt::black);
    const QRect box(rect.left, rect.top, rect.Width(), h);
    canvas.setClipRect(box);
    canvas.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    canvas.restore();
    const int k = RuleUnit(canvas);
    rect.top += h + 2 * k;
    canvas.fillRect(rect.left, rect.top, rect.Width(), k, Qt::black);
    // A gap as wide as the rule keeps the page from covering it where the device rounds.
    rect.top += k + (k > 1 ? k : 0);
}

void TFxCustomFaxPrinter::PrintFooter(QPainter& canvas, unsigned page, TPrintRect& rect)
{
    const QString text = QString::fromStdString(ReplaceMarginTags(footer_.Caption, page));
    canvas.setFont(MarginFont(footer_, canvas));
    const int h = QFontMetrics(canvas.font(), canvas.device()).height();
    footer_.SetFontHeight(h);
    canvas.save();
    canvas.setPen(Qt::black);
    const QRect box(rect.left, rect.bottom - h, rect.Width(), h);
    canvas.setClipRect(box);
    canvas.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    canvas.restore();
    const int k = RuleUnit(canvas);
    rect.bottom -= h + 2 * k;
    canvas.fillRect(rect.left, rect.bottom - k + 1, rect.Width(), k, Qt::black);
    rect.bottom -= k + (k > 1 ? k : 0);
}

void TFxCustomFaxPrinter::DoStatus(int code)
{
    if (code != lastStatus_) {
        lastStatus_ = code;
        if (OnFaxPrintStatus)
            OnFaxPrintStatus(*this, code);
        if (status_ && status_->DisplayVisible()) {
            try {
                status_->UpdateDisplay(false, false);
            } catch (...) {
            }
        }
    }
    ProcessMessages();
}

void TFxCustomFaxPrinter::DoLog(TFaxPLCode code)
{
    if (OnFaxPrintLog)
        OnFaxPrintLog(*this, code);
    if (log_)
        log_->UpdateLog(code);
}

void TFxCustomFaxPrinter::PrintFax()
{
    if (totalPages_ == 0)
        return;
    TPageTarget& target = PageTarget();
    aborted_ = false;
    unpacker_.SetOptions(unpacker_.Options() & ~UnpackOption(uoAbort));
    lastStatus_ = 0;
    if (status_)
        status_->UpdateDisplay(true, false);
    DoLog(lcStart);
    if (!target.BeginDoc(Caption())) {
        EndJob(target, true);
        throw comms::EFXException::CreateWithMessage("The printer cannot start the print job");
    }
    try {
        PrintPages(target);
    } catch (...) {
        // An abort stops the page being unpacked; it was logged as such and is no failure.
        if (aborted_) {
            EndJob(target, false);
            return;
        }
        EndJob(target, true);
        throw;
    }
    ProcessMessages();
    bool failed = false;
    if (target.Printing()) {
        failed = !target.EndDoc();
        if (!failed)
            DoLog(lcFinish);
    }
    EndJob(target, failed);
    if (failed)
        throw comms::EFXException::CreateWithMessage("The printer could not complete the print job");
}

void TFxCustomFaxPrinter::PrintPages(TPageTarget& target)
{
    for (unsigned page = firstPage_; page <= lastPage_ && page > 0; ++page) {
        currentPage_ = page;
        ProcessMessages();
        if (target.Printing() && StartsNewSheet(page, firstPage_, MultiPage, target.Landscape()))
            target.NewPage();
        ProcessMessages();
        if (!target.Printing())
            return;
        if (OnNextPage)
            OnNextPage(*this, currentPage_, static_cast<unsigned>(totalPages_));
        DoStatus(ppConverting);
        TMonoBitmap bitmap = unpacker_.UnpackPageToBitmap(page);
        ProcessMessages();
        if (!target.Printing())
            return;
        DoStatus(ppComposing);
        TPrintRect rect =
            PageSlot(target.PageWidth(), target.PageHeight(), page, firstPage_, MultiPage, target.Landscape());
        ProcessMessages();
        if (target.Printing() && header_.Enabled)
            PrintHeader(target.Canvas(), currentPage_, rect);
        ProcessMessages();
        if (target.Printing() && footer_.Enabled)
            PrintFooter(target.Canvas(), currentPage_, rect);
        const TPrintSize size =
            PrintedPageSize(rect, bitmap.width, bitmap.height, PrintScale == psFitToPage, target.PixelsPerInch());
        DoStatus(ppRendering);
        if (target.Printing())
            target.DrawPage(bitmap, rect.left, rect.top, size);
        DoStatus(ppSubmitting);
    }
}

void TFxCustomFaxPrinter::EndJob(TPageTarget& target, bool failed)
{
    if (failed) {
        target.Abort();
        try {
            DoLog(lcFailed);
        } catch (...) {
        }
    }
    currentPage_ = 0;
    lastStatus_ = 0;
    if (status_)
        status_->UpdateDisplay(false, true);
}

void TFxCustomFaxPrinter::AbortPrint()
{
    lastStatus_ = 0;
    TPageTarget& target = PageTarget();
    if (target.Printing()) {
        aborted_ = true;
        unpacker_.SetOptions(unpacker_.Options() | UnpackOption(uoAbort));
        target.Abort();
        currentPage_ = 0;
        DoLog(lcAborted);
        if (status_)
            status_->UpdateDisplay(false, true);
    }
    ProcessMessages();
}

} // namespace zn::faxdoc
