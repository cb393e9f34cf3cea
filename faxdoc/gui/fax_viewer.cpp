#include "faxdoc/gui/fax_viewer.h"

#include "comms/base/exceptions.h"
#include "faxdoc/fax_errors.h"

#include <QVBoxLayout>

namespace zn::faxdoc {

TFxCustomFaxViewer::TFxCustomFaxViewer(QWidget* parent) : QFrame(parent)
{
    setObjectName("FaxViewer");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    window_ = new TViewerWindow(this);
    window_->setFrameShape(QFrame::NoFrame);
    layout->addWidget(window_);
    setFocusProxy(window_);
    resize(100, 50);
    SetBorderStyle(bsSingle);
    window_->apwViewSetFG(fg_);
    window_->apwViewSetBG(bg_);
    window_->apwViewSetScroll(static_cast<int>(hScroll_), static_cast<int>(vScroll_));
    SetAutoScaleMode(autoScaleMode_);
    window_->OnPageChange = [this](int) {
        if (OnPageChange)
            OnPageChange(*this);
    };
    window_->OnViewerError = [this](int code) {
        if (OnViewerError)
            OnViewerError(*this, code);
    };
    window_->OnDropFile = [this](const std::string&) { DoDropFile(); };
}

void TFxCustomFaxViewer::SetBorderStyle(TBorderStyle style)
{
    borderStyle_ = style;
    setFrameStyle(style == bsSingle ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
    setLineWidth(1);
}

void TFxCustomFaxViewer::SetFGColor(QColor color)
{
    fg_ = color;
    window_->apwViewSetFG(color);
}

void TFxCustomFaxViewer::SetBGColor(QColor color)
{
    bg_ = color;
    window_->apwViewSetBG(color);
}

void TFxCustomFaxViewer::SendScale() { window_->apwViewSetScale(scaling_ ? scale_ : TViewerScale{}); }

void TFxCustomFaxViewer::SetScaling(bool on)
{
    scaling_ = on;
    SendScale();
}

void TFxCustomFaxViewer::SetHorizMult(uint32_t v)
{
    if (v == 0)
        return;
    scale_.horizMult = v;
    if (scaling_)
        SendScale();
}

void TFxCustomFaxViewer::SetHorizDiv(uint32_t v)
{
    if (v == 0)
        return;
    scale_.horizDiv = v;
    if (scaling_)
        SendScale();
}

void TFxCustomFaxViewer::SetVertMult(uint32_t v)
{
    if (v == 0)
        return;
    scale_.vertMult = v;
    if (scaling_)
        SendScale();
}

void TFxCustomFaxViewer::SetVertDiv(uint32_t v)
{
    if (v == 0)
        return;
    scale_.vertDiv = v;
    if (scaling_)
        SendScale();
}

void TFxCustomFaxViewer::SetAutoScaleMode(TAutoScaleMode mode)
{
    autoScaleMode_ = mode;
    window_->apwViewSetAutoScale(mode == asDoubleHeight ? kUnpackDoubleHeight
                                 : mode == asHalfWidth  ? kUnpackHalfWidth
                                                        : 0);
}

void TFxCustomFaxViewer::SetWhitespaceCompression(bool on)
{
    whitespace_ = on;
    comms::CheckErrorCode(this, on ? window_->apwViewSetWhitespace(whitespaceFrom_, whitespaceTo_)
                                   : window_->apwViewSetWhitespace(0, 0));
}

void TFxCustomFaxViewer::SetWhitespaceFrom(uint32_t v)
{
    whitespaceFrom_ = v;
    if (whitespace_)
        comms::CheckErrorCode(this, window_->apwViewSetWhitespace(whitespaceFrom_, whitespaceTo_));
}

void TFxCustomFaxViewer::SetWhitespaceTo(uint32_t v)
{
    whitespaceTo_ = v;
    if (whitespace_)
        comms::CheckErrorCode(this, window_->apwViewSetWhitespace(whitespaceFrom_, whitespaceTo_));
}

void TFxCustomFaxViewer::SetHorizScroll(uint32_t v)
{
    hScroll_ = v;
    window_->apwViewSetScroll(static_cast<int>(hScroll_), static_cast<int>(vScroll_));
}

void TFxCustomFaxViewer::SetVertScroll(uint32_t v)
{
    vScroll_ = v;
    window_->apwViewSetScroll(static_cast<int>(hScroll_), static_cast<int>(vScroll_));
}

void TFxCustomFaxViewer::SetAcceptDragged(bool on)
{
    acceptDragged_ = on;
    window_->setAcceptDrops(on);
    window_->viewport()->setAcceptDrops(on);
}

void TFxCustomFaxViewer::SetLoadWholeFax(bool on)
{
    loadWholeFax_ = on;
    comms::CheckErrorCode(this, window_->apwViewSetLoadWholeFax(on));
}

void TFxCustomFaxViewer::SetBusyCursor(Qt::CursorShape cursor)
{
    busyCursor_ = cursor;
    window_->apwViewSetBusyCursor(QCursor(cursor));
}

void TFxCustomFaxViewer::SetFileName(const std::string& name)
{
    if (name == fileName_)
        return;
    fileName_ = name;
    comms::CheckErrorCode(this, window_->apwViewSetFile(name));
    rotation_ = 0;
    scale_ = {};
}

void TFxCustomFaxViewer::SetRotation(int rotation)
{
    if (rotation == rotation_)
        return;
    comms::CheckErrorCode(this, window_->apwViewSetRotation(rotation));
    rotation_ = rotation;
}

void TFxCustomFaxViewer::SetCurrentPage(int page)
{
    if (fileName_.empty() || page == CurrentPage())
        return;
    if (page < 1 || page > NumPages())
        comms::CheckErrorCode(this, ecBadArgument);
    comms::CheckErrorCode(this, window_->apwViewGotoPage(page));
}

void TFxCustomFaxViewer::FirstPage()
{
    if (!fileName_.empty())
        SetCurrentPage(1);
}

void TFxCustomFaxViewer::LastPage()
{
    if (!fileName_.empty())
        SetCurrentPage(NumPages());
}

void TFxCustomFaxViewer::NextPage()
{
    if (!fileName_.empty() && CurrentPage() < NumPages())
        SetCurrentPage(CurrentPage() + 1);
}

void TFxCustomFaxViewer::PrevPage()
{
    if (!fileName_.empty() && CurrentPage() > 1)
        SetCurrentPage(CurrentPage() - 1);
}

void TFxCustomFaxViewer::DoDropFile()
{
    fileName_ = window_->FileName();
    if (OnDropFile)
        OnDropFile(*this, fileName_);
}

} // namespace zn::faxdoc
