#include "faxdoc/gui/page_target.h"

#include "faxdoc/gui/mono_image.h"
#include "faxdoc/mono_transform.h"

#include <QPrinter>

namespace zn::faxdoc {

// ---- The toolkit's printer --------------------------------------------------------------------

bool TPrinterPageTarget::BeginDoc(const std::string& title)
{
    printer_.setDocName(QString::fromStdString(title));
    printing_ = painter_.begin(&printer_);
    return printing_;
}

void TPrinterPageTarget::NewPage()
{
    if (printing_)
        printer_.newPage();
}

bool TPrinterPageTarget::EndDoc()
{
    if (!printing_)
        return false;
    printing_ = false;
    return painter_.end() && printer_.printerState() != QPrinter::Error;
}

void TPrinterPageTarget::Abort()
{
    if (!printing_)
        return;
    printing_ = false;
    printer_.abort();
    if (painter_.isActive())
        painter_.end();
}

int TPrinterPageTarget::PageWidth() const
{
    return printer_.pageLayout().paintRectPixels(printer_.resolution()).width();
}

int TPrinterPageTarget::PageHeight() const
{
    return printer_.pageLayout().paintRectPixels(printer_.resolution()).height();
}

int TPrinterPageTarget::PixelsPerInch() const { return printer_.resolution(); }

bool TPrinterPageTarget::Landscape() const { return printer_.pageLayout().orientation() == QPageLayout::Landscape; }

void TPrinterPageTarget::DrawPage(const TMonoBitmap& page, int left, int top, TPrintSize size)
{
    if (!printing_ || size.width <= 0 || size.height <= 0)
        return;
    painter_.drawImage(QRect(left, top, size.width, size.height), ToImage(page));
}

// ---- Sheets as images -------------------------------------------------------------------------

TImagePageTarget::TImagePageTarget(int width, int height, int pixelsPerInch, bool landscape)
    : width_(width), height_(height), ppi_(pixelsPerInch), landscape_(landscape)
{
}

TImagePageTarget::~TImagePageTarget()
{
    if (painter_.isActive())
        painter_.end();
}

void TImagePageTarget::StartSheet()
{
    current_ = QImage(width_, height_, QImage::Format_RGB32);
    const int dotsPerMeter = static_cast<int>(ppi_ / 0.0254 + 0.5);
    current_.setDotsPerMeterX(dotsPerMeter);
    current_.setDotsPerMeterY(dotsPerMeter);
    current_.fill(Qt::white);
    painter_.begin(&current_);
}

void TImagePageTarget::FinishSheet()
{
    painter_.end();
    pending_.push_back(current_);
}

bool TImagePageTarget::BeginDoc(const std::string& title)
{
    if (printing_ || width_ <= 0 || height_ <= 0)
        return false;
    title_ = title;
    pending_.clear();
    printing_ = true;
    StartSheet();
    return true;
}

void TImagePageTarget::NewPage()
{
    if (!printing_)
        return;
    FinishSheet();
    StartSheet();
}

bool TImagePageTarget::EndDoc()
{
    if (!printing_)
        return false;
    FinishSheet();
    printing_ = false;
    sheets_ = std::move(pending_);
    pending_.clear();
    ++jobs_;
    return true;
}

void TImagePageTarget::Abort()
{
    if (!printing_)
        return;
    painter_.end();
    pending_.clear();
    sheets_.clear();
    printing_ = false;
}

void TImagePageTarget::DrawPage(const TMonoBitmap& page, int left, int top, TPrintSize size)
{
    if (!printing_ || size.width <= 0 || size.height <= 0)
        return;
    painter_.drawImage(QPoint(left, top), ToImage(ScaleKeepingBlack(page, size.width, size.height)));
}

} // namespace zn::faxdoc
