#include "faxdoc/gui/viewer_window.h"

#include "faxdoc/apf_file.h"
#include "faxdoc/fax_errors.h"
#include "faxdoc/gui/mono_image.h"
#include "faxdoc/mono_transform.h"
#include "platform/folders.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace zn::faxdoc {

bool TViewerWindow::pageChanging_ = false;

using comms::ecNoImageBlockMarked;
using comms::ecNoImageLoaded;

namespace {

constexpr int kAutoScrollMs = 50;
constexpr int kFarOutside = 20;

// The busy cursor for as long as a page decodes.
class TBusyCursor {
public:
    explicit TBusyCursor(const QCursor& cursor) { QGuiApplication::setOverrideCursor(cursor); }
    ~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// Clears a flag on the way out of a scope.
class TFlagGuard {
public:
    explicit TFlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~TFlagGuard() { flag_ = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& flag_;
};

int Scaled(int value, uint32_t mult, uint32_t div)
{
    return static_cast<int>(static_cast<int64_t>(value) * mult / div);
}

// Display coordinates back to page coordinates, rounded up.
int Unscaled(int value, uint32_t mult, uint32_t div)
{
    return static_cast<int>((static_cast<int64_t>(value) * div + mult - 1) / mult);
}

} // namespace

TViewerWindow::TViewerWindow(QWidget* parent) : QAbstractScrollArea(parent)
{
    setObjectName("fxViewer");
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    engine_.SetUnpackerFlags(kUnpackDoubleHeight);
    autoScroll_.setInterval(kAutoScrollMs);
    connect(&autoScroll_, &QTimer::timeout, this, [this] { vAutoScroll(lastMouse_); });
}

TViewerWindow::~TViewerWindow() { vStopTimer(); }

void TViewerWindow::Notify(int code)
{
    if (OnViewerError)
        OnViewerError(code);
}

int TViewerWindow::DecodedPages() const
{
    return static_cast<int>(
        std::count_if(pages_.begin(), pages_.end(), [](const TPage& p) { return p.bitmap.has_value(); }));
}

void TViewerWindow::vDisposeFax()
{
    pages_.clear();
    currentPage_ = 0;
    display_ = QImage();
    displayWidth_ = displayHeight_ = 0;
    hasMark_ = false;
    if (marking_) {
        marking_ = false;
        vStopTimer();
    }
}

int TViewerWindow::vDecodePage(int page, TMonoBitmap& out)
{
    TBusyCursor busy(busyCursor_);
    return engine_.UnpackPageToMemBitmap(platform::ResolvePath(fileName_), static_cast<unsigned>(page), true, out);
}

int TViewerWindow::apwViewSetFile(const std::string& fileName)
{
    if (fileName.empty()) {
        fileName_.clear();
        vDisposeFax();
        vInitScrollbars();
        viewport()->update();
        return ecOK;
    }
    const std::string path = platform::ResolvePath(fileName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return ecFileNotFound;
    if (!IsApfFile(path))
        return ecFaxBadFormat;
    vDisposeFax();
    fileName_ = fileName;
    viewport()->update();
    TApfFileHeader header;
    if (int rc = ReadApfHeader(path, header); rc < 0) {
        fileName_.clear();
        return rc;
    }
    pages_.resize(header.pageCount);
    const int first = 1, last = loadWholeFax_ ? header.pageCount : 1;
    for (int p = first; p <= last && p <= static_cast<int>(pages_.size()); ++p) {
        TMonoBitmap bm;
        if (int rc = vDecodePage(p, bm); rc < 0) {
            vDisposeFax();
            fileName_.clear();
            vInitScrollbars();
            return rc;
        }
        pages_[static_cast<size_t>(p - 1)] = {bm.width, bm.height, std::move(bm)};
    }
    currentPage_ = 1;
    rotation_ = 0;
    scale_ = {};
    vInitPage();
    return ecOK;
}

void TViewerWindow::vInitPage()
{
    if (pageChanging_ || pages_.empty())
        return;
    {
        TFlagGuard changing(pageChanging_);
        TPage& page = pages_[static_cast<size_t>(currentPage_ - 1)];
        if (!page.bitmap) {
            if (!loadWholeFax_)
                for (TPage& p : pages_)
                    p.bitmap.reset();
            TMonoBitmap bm;
            if (int rc = vDecodePage(currentPage_, bm); rc < 0) {
                vDisposeFax();
                fileName_.clear();
                vInitScrollbars();
                viewport()->update();
                Notify(rc);
                return;
            }
            if (rotation_)
                bm = RotateQuarterTurns(bm, rotation_);
            page = {bm.width, bm.height, std::move(bm)};
        }
        horizontalScrollBar()->setValue(0);
        verticalScrollBar()->setValue(0);
        displayWidth_ = Scaled(page.width, scale_.horizMult, scale_.horizDiv);
        displayHeight_ = Scaled(page.height, scale_.vertMult, scale_.vertDiv);
        hasMark_ = false;
        if (marking_) {
            marking_ = false;
            vStopTimer();
        }
        vRebuildDisplay();
        vInitScrollbars();
        viewport()->update();
    }
    if (OnPageChange)
        OnPageChange(currentPage_);
}

void TViewerWindow::vRebuildDisplay()
{
    display_ = QImage();
    if (pages_.empty() || currentPage_ < 1)
        return;
    const TPage& page = pages_[static_cast<size_t>(currentPage_ - 1)];
    if (!page.bitmap)
        return;
    if (displayWidth_ == page.width && displayHeight_ == page.height)
        display_ = ToImage(*page.bitmap, fg_, bg_);
    else
        display_ = ToImage(ScaleKeepingBlack(*page.bitmap, displayWidth_, displayHeight_), fg_, bg_);
}

int TViewerWindow::HorizPos() const { return horizontalScrollBar()->value(); }
int TViewerWindow::VertPos() const { return verticalScrollBar()->value(); }

void TViewerWindow::vInitScrollbars()
{
    const int clientW = viewport()->width(), clientH = viewport()->height();
    if (pages_.empty()) {
        maxH_ = maxV_ = 0;
    } else {
        maxH_ = displayWidth_ > clientW ? displayWidth_ - clientW : HorizPos();
        maxV_ = displayHeight_ > clientH ? displayHeight_ - clientH : VertPos();
    }
    horizontalScrollBar()->setRange(0, maxH_);
    horizontalScrollBar()->setPageStep(std::max(1, clientW));
    horizontalScrollBar()->setSingleStep(hStep_);
    verticalScrollBar()->setRange(0, maxV_);
    verticalScrollBar()->setPageStep(std::max(1, clientH));
    verticalScrollBar()->setSingleStep(vStep_);
}

void TViewerWindow::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    vInitScrollbars();
}

void TViewerWindow::scrollContentsBy(int dx, int dy)
{
    if (std::abs(dx) > viewport()->width() || std::abs(dy) > viewport()->height())
        viewport()->update();
    else
        viewport()->scroll(dx, dy);
}

void TViewerWindow::vScrollUpPrim(int n)
{
    if (pages_.empty())
        return;
    verticalScrollBar()->setValue(VertPos() - std::min(n, VertPos()));
    if (VertPos() == 0)
        vInitScrollbars();
}

void TViewerWindow::vScrollDownPrim(int n)
{
    if (pages_.empty())
        return;
    verticalScrollBar()->setValue(VertPos() + std::min(n, maxV_ - VertPos()));
}

void TViewerWindow::vScrollLeftPrim(int n)
{
    if (pages_.empty())
        return;
    horizontalScrollBar()->setValue(HorizPos() - std::min(n, HorizPos()));
    if (HorizPos() == 0)
        vInitScrollbars();
}

void TViewerWindow::vScrollRightPrim(int n)
{
    if (pages_.empty())
        return;
    horizontalScrollBar()->setValue(HorizPos() + std::min(n, maxH_ - HorizPos()));
}

void TViewerWindow::vHomeVertical() { vScrollUpPrim(VertPos()); }
void TViewerWindow::vEndVertical()
{
    if (displayHeight_ <= viewport()->height())
        vHomeVertical();
    else
        vScrollDownPrim(maxV_ - VertPos());
}
void TViewerWindow::vHomeHorizontal() { vScrollLeftPrim(HorizPos()); }
void TViewerWindow::vEndHorizontal()
{
    if (displayWidth_ <= viewport()->width())
        vHomeHorizontal();
    else
        vScrollRightPrim(maxH_ - HorizPos());
}

void TViewerWindow::vPageUp()
{
    if (currentPage_ > 1)
        apwViewGotoPage(currentPage_ - 1);
}

void TViewerWindow::vPageDown()
{
    if (currentPage_ < apwViewGetNumPages())
        apwViewGotoPage(currentPage_ + 1);
}

void TViewerWindow::vFirstPage()
{
    if (pages_.empty())
        return;
    if (currentPage_ == 1) {
        vHomeVertical();
        vHomeHorizontal();
    } else {
        apwViewGotoPage(1);
    }
}

void TViewerWindow::vLastPage()
{
    if (pages_.empty())
        return;
    if (currentPage_ == apwViewGetNumPages()) {
        vHomeVertical();
        vHomeHorizontal();
    } else {
        apwViewGotoPage(apwViewGetNumPages());
    }
}

int TViewerWindow::apwViewGotoPage(int page)
{
    if (pageChanging_)
        return 0;
    if (page < 1 || page > apwViewGetNumPages())
        return ecBadArgument;
    currentPage_ = page;
    vInitPage();
    return ecOK;
}

void TViewerWindow::apwViewSetFG(QColor color)
{
    fg_ = color;
    vRebuildDisplay();
    viewport()->update();
}

void TViewerWindow::apwViewSetBG(QColor color)
{
    bg_ = color;
    vRebuildDisplay();
    viewport()->update();
}

void TViewerWindow::apwViewSetScale(TViewerScale scale)
{
    if (scale.horizMult == 0 || scale.horizDiv == 0 || scale.horizMult == scale.horizDiv)
        scale.horizMult = scale.horizDiv = 1;
    if (scale.vertMult == 0 || scale.vertDiv == 0 || scale.vertMult == scale.vertDiv)
        scale.vertMult = scale.vertDiv = 1;
    scale_ = scale;
    if (!updateSuspended_)
        vInitPage();
}

void TViewerWindow::apwViewEndUpdate()
{
    updateSuspended_ = false;
    vInitPage();
}

int TViewerWindow::apwViewSetWhitespace(uint32_t from, uint32_t to)
{
    return engine_.SetWhitespaceCompression(from, to);
}

void TViewerWindow::apwViewSetScroll(int horizontal, int vertical)
{
    if (horizontal > 0)
        hStep_ = horizontal;
    if (vertical > 0)
        vStep_ = vertical;
    vInitScrollbars();
}

void TViewerWindow::apwViewSetAutoScale(uint16_t flags)
{
    engine_.ClearUnpackerFlags(kUnpackDoubleHeight | kUnpackHalfWidth);
    if (flags & (kUnpackDoubleHeight | kUnpackHalfWidth))
        engine_.SetUnpackerFlags(flags & (kUnpackDoubleHeight | kUnpackHalfWidth));
}

QRect TViewerWindow::apwViewGetPageDim() const
{
    if (pages_.empty())
        return QRect(QPoint(0, 0), QPoint(0, 0));
    const TPage& page = pages_[static_cast<size_t>(currentPage_ - 1)];
    return QRect(QPoint(0, 0), QPoint(page.width - 1, page.height - 1));
}

uint16_t TViewerWindow::apwViewGetPageFlags() const
{
    if (pages_.empty())
        return 0;
    TApfPageHeader header;
    if (ReadApfPageHeader(platform::ResolvePath(fileName_), static_cast<unsigned>(currentPage_), header) < 0)
        return 0;
    return header.flags;
}

int TViewerWindow::apwViewSetLoadWholeFax(bool on)
{
    loadWholeFax_ = on;
    if (pages_.empty())
        return ecOK;
    if (on) {
        for (size_t i = 0; i < pages_.size(); ++i) {
            if (pages_[i].bitmap)
                continue;
            TMonoBitmap bm;
            if (int rc = vDecodePage(static_cast<int>(i) + 1, bm); rc < 0) {
                for (TPage& p : pages_)
                    p.bitmap.reset();
                return rc;
            }
            if (rotation_)
                bm = RotateQuarterTurns(bm, rotation_);
            pages_[i] = {bm.width, bm.height, std::move(bm)};
        }
    } else {
        for (size_t i = 0; i < pages_.size(); ++i)
            if (static_cast<int>(i) + 1 != currentPage_)
                pages_[i].bitmap.reset();
    }
    return ecOK;
}

std::optional<TMonoBitmap> TViewerWindow::apwViewGetBitmap(int page)
{
    if (page < 1 || page > apwViewGetNumPages())
        return std::nullopt;
    const TPage& p = pages_[static_cast<size_t>(page - 1)];
    if (p.bitmap)
        return p.bitmap;
    TMonoBitmap bm;
    if (int rc = vDecodePage(page, bm); rc < 0) {
        Notify(rc);
        return std::nullopt;
    }
    return bm;
}

void TViewerWindow::apwViewSetDesignMode(const std::string& text)
{
    designMode_ = true;
    designText_ = text;
    viewport()->update();
}

int TViewerWindow::apwViewSetRotation(int rotation)
{
    rotation = ((rotation % 4) + 4) % 4;
    int code = ecOK;
    vRotatePage(rotation, code);
    return code;
}

void TViewerWindow::vRotatePage(int rotation, int& code)
{
    const int step = ((rotation - rotation_) % 4 + 4) % 4;
    if (step != 0 && !pages_.empty()) {
        try {
            for (size_t i = 0; i < pages_.size(); ++i) {
                TPage& p = pages_[i];
                if (!p.bitmap || (!loadWholeFax_ && static_cast<int>(i) + 1 != currentPage_))
                    continue;
                TMonoBitmap turned = RotateQuarterTurns(*p.bitmap, step);
                p = {turned.width, turned.height, std::move(turned)};
            }
        } catch (const std::bad_alloc&) {
            code = ecOutOfMemory;
            return;
        }
    }
    rotation_ = rotation;
    vInitPage();
}

// ---- The mark -----------------------------------------------------------------------------------

QRect TViewerWindow::MarkClientRect(const TViewerMark& mark) const
{
    return QRect(QPoint(mark.left - HorizPos(), mark.top - VertPos()),
                 QPoint(mark.right - HorizPos(), mark.bottom - VertPos()));
}

void TViewerWindow::vRemoveMark()
{
    if (!hasMark_)
        return;
    hasMark_ = false;
    viewport()->update(MarkClientRect(mark_));
}

int TViewerWindow::apwViewSelectAll()
{
    if (pages_.empty())
        return ecNoImageLoaded;
    return apwViewSelect({0, 0, displayWidth_ - 1, displayHeight_ - 1});
}

int TViewerWindow::apwViewSelect(TViewerMark mark)
{
    if (pages_.empty())
        return ecNoImageLoaded;
    vRemoveMark();
    if (mark.left > mark.right)
        std::swap(mark.left, mark.right);
    if (mark.top > mark.bottom)
        std::swap(mark.top, mark.bottom);
    mark.left = std::clamp(mark.left, 0, displayWidth_ - 1);
    mark.right = std::clamp(mark.right, 0, displayWidth_ - 1);
    mark.top = std::clamp(mark.top, 0, displayHeight_ - 1);
    mark.bottom = std::clamp(mark.bottom, 0, displayHeight_ - 1);
    mark_ = mark;
    hasMark_ = true;
    viewport()->update(MarkClientRect(mark_));
    return ecOK;
}

void TViewerWindow::vUpdateMarkRect(int x, int y)
{
    const TViewerMark old = mark_;
    switch (corner_) {
    case 1:
        mark_.right = x;
        mark_.bottom = y;
        break;
    case 2:
        mark_.left = x;
        mark_.bottom = y;
        break;
    case 3:
        mark_.left = x;
        mark_.top = y;
        break;
    default:
        mark_.right = x;
        mark_.top = y;
        break;
    }
    // Normalised, the dragged corner may have become another one.
    bool right = corner_ == 1 || corner_ == 4, bottom = corner_ == 1 || corner_ == 2;
    if (mark_.left > mark_.right) {
        std::swap(mark_.left, mark_.right);
        right = !right;
    }
    if (mark_.top > mark_.bottom) {
        std::swap(mark_.top, mark_.bottom);
        bottom = !bottom;
    }
    corner_ = right ? (bottom ? 1 : 4) : (bottom ? 2 : 3);
    mark_.left = std::clamp(mark_.left, 0, std::max(0, displayWidth_ - 1));
    mark_.right = std::clamp(mark_.right, 0, std::max(0, displayWidth_ - 1));
    mark_.top = std::clamp(mark_.top, 0, std::max(0, displayHeight_ - 1));
    mark_.bottom = std::clamp(mark_.bottom, 0, std::max(0, displayHeight_ - 1));
    viewport()->update(MarkClientRect(old).united(MarkClientRect(mark_)).intersected(viewport()->rect()));
}

void TViewerWindow::vStopTimer() { autoScroll_.stop(); }

void TViewerWindow::vAutoScroll(QPoint client)
{
    const int w = viewport()->width(), h = viewport()->height();
    if (client.x() < 0)
        vScrollLeftPrim(client.x() < -kFarOutside ? 2 * hStep_ : hStep_);
    else if (client.x() >= w)
        vScrollRightPrim(client.x() - w > kFarOutside ? 2 * hStep_ : hStep_);
    if (client.y() < 0)
        vScrollUpPrim(client.y() < -kFarOutside ? 2 * vStep_ : vStep_);
    else if (client.y() >= h)
        vScrollDownPrim(client.y() - h > kFarOutside ? 2 * vStep_ : vStep_);
    const int x = std::clamp(client.x(), 0, std::max(0, w - 1));
    const int y = std::clamp(client.y(), 0, std::max(0, h - 1));
    vUpdateMarkRect(x + HorizPos(), y + VertPos());
}

void TViewerWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || pages_.empty() || marking_)
        return QAbstractScrollArea::mousePressEvent(event);
    vRemoveMark();
    const QPoint p = event->position().toPoint();
    const int x = std::clamp(p.x() + HorizPos(), 0, std::max(0, displayWidth_ - 1));
    const int y = std::clamp(p.y() + VertPos(), 0, std::max(0, displayHeight_ - 1));
    mark_ = {x, y, x, y};
    corner_ = 1;
    hasMark_ = true;
    marking_ = true;
    lastMouse_ = p;
}

void TViewerWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!marking_)
        return QAbstractScrollArea::mouseMoveEvent(event);
    const QPoint p = event->position().toPoint();
    lastMouse_ = p;
    // Taken unsigned, a point left of or above the window is beyond its right or bottom edge too.
    const bool outside = static_cast<unsigned>(p.x()) >= static_cast<unsigned>(viewport()->width())
                         || static_cast<unsigned>(p.y()) >= static_cast<unsigned>(viewport()->height());
    if (outside) {
        if (!autoScroll_.isActive()) {
            vAutoScroll(p);
            autoScroll_.start();
        }
        return;
    }
    vStopTimer();
    vUpdateMarkRect(p.x() + HorizPos(), p.y() + VertPos());
}

void TViewerWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (!marking_ || event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    marking_ = false;
    vStopTimer();
    if (mark_.left == mark_.right && mark_.top == mark_.bottom)
        vRemoveMark();
}

int TViewerWindow::apwViewCopy()
{
    if (pages_.empty())
        return ecNoImageLoaded;
    if (!hasMark_)
        return ecNoImageBlockMarked;
    const TPage& page = pages_[static_cast<size_t>(currentPage_ - 1)];
    if (!page.bitmap)
        return ecNoImageLoaded;
    const int w = mark_.right - mark_.left + 1, h = mark_.bottom - mark_.top + 1;
    const int sx = Unscaled(mark_.left, scale_.horizMult, scale_.horizDiv);
    const int sy = Unscaled(mark_.top, scale_.vertMult, scale_.vertDiv);
    const int sw = Unscaled(w, scale_.horizMult, scale_.horizDiv);
    const int sh = Unscaled(h, scale_.vertMult, scale_.vertDiv);
    QCoreApplication::processEvents();
    const TMonoBitmap part = ScalePartKeepingBlack(*page.bitmap, sx, sy, sw, sh, w, h);
    QGuiApplication::clipboard()->setImage(ToImage(part));
    QCoreApplication::processEvents();
    return ecOK;
}

// ---- Keys, painting and dropped files -------------------------------------------------------

void TViewerWindow::keyPressEvent(QKeyEvent* event)
{
    if (marking_)
        return;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_PageUp: ctrl ? vHomeVertical() : vPageUp(); break;
    case Qt::Key_PageDown: ctrl ? vEndVertical() : vPageDown(); break;
    case Qt::Key_Home: ctrl ? vFirstPage() : vHomeHorizontal(); break;
    case Qt::Key_End: ctrl ? vLastPage() : vEndHorizontal(); break;
    case Qt::Key_Up: ctrl ? vJumpUp() : vScrollUp(); break;
    case Qt::Key_Down: ctrl ? vJumpDown() : vScrollDown(); break;
    case Qt::Key_Left: ctrl ? vJumpLeft() : vScrollLeft(); break;
    case Qt::Key_Right: ctrl ? vJumpRight() : vScrollRight(); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    event->accept();
}

void TViewerWindow::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, bg_);
    if (designMode_) {
        painter.setPen(fg_);
        painter.drawText(QPoint(3, 3 + painter.fontMetrics().ascent()), QString::fromStdString(designText_));
        return;
    }
    if (display_.isNull())
        return;
    const QRect source = area.translated(HorizPos(), VertPos()).intersected(display_.rect());
    if (!source.isEmpty())
        painter.drawImage(source.topLeft() - QPoint(HorizPos(), VertPos()), display_, source);
    if (hasMark_) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(MarkClientRect(mark_).intersected(area), Qt::white);
    }
}

void TViewerWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TViewerWindow::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TViewerWindow::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile())
        return;
    const std::string name = urls.front().toLocalFile().left(255).toStdString();
    event->acceptProposedAction();
    if (int rc = apwViewSetFile(name); rc < 0) {
        Notify(rc);
        return;
    }
    if (OnDropFile)
        OnDropFile(name);
}

} // namespace zn::faxdoc
