// TFxFaxViewer: the control the viewer forms place to show fax files. It wraps one viewer window;
// its properties set the window's state, failures raise the library's exceptions, and the window's
// notices become the events OnPageChange, OnViewerError and OnDropFile.
#pragma once

#include "comms/base/fx_misc.h"
#include "faxdoc/fax_unpacker.h"
#include "faxdoc/gui/viewer_window.h"

#include <QColor>
#include <QCursor>
#include <QFrame>

#include <functional>
#include <string>

namespace zn::faxdoc {

enum TBorderStyle { bsNone, bsSingle };

class TFxCustomFaxViewer : public QFrame, public comms::TFxBaseWinControl {
public:
    using TViewerFileDropEvent = std::function<void(TFxCustomFaxViewer&, const std::string&)>;
    using TNotifyEvent = std::function<void(TFxCustomFaxViewer&)>;
    using TViewerErrorEvent = std::function<void(TFxCustomFaxViewer&, int code)>;

    explicit TFxCustomFaxViewer(QWidget* parent = nullptr);

    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle style);
    QColor FGColor() const { return fg_; }
    void SetFGColor(QColor color);
    QColor BGColor() const { return bg_; }
    void SetBGColor(QColor color);
    bool Scaling() const { return scaling_; }
    void SetScaling(bool on);
    uint32_t HorizMult() const { return scale_.horizMult; }
    void SetHorizMult(uint32_t v);
    uint32_t HorizDiv() const { return scale_.horizDiv; }
    void SetHorizDiv(uint32_t v);
    uint32_t VertMult() const { return scale_.vertMult; }
    void SetVertMult(uint32_t v);
    uint32_t VertDiv() const { return scale_.vertDiv; }
    void SetVertDiv(uint32_t v);
    TAutoScaleMode AutoScaleMode() const { return autoScaleMode_; }
    void SetAutoScaleMode(TAutoScaleMode mode);
    bool WhitespaceCompression() const { return whitespace_; }
    void SetWhitespaceCompression(bool on);
    uint32_t WhitespaceFrom() const { return whitespaceFrom_; }
    void SetWhitespaceFrom(uint32_t v);
    uint32_t WhitespaceTo() const { return whitespaceTo_; }
    void SetWhitespaceTo(uint32_t v);
    uint32_t HorizScroll() const { return hScroll_; }
    void SetHorizScroll(uint32_t v);
    uint32_t VertScroll() const { return vScroll_; }
    void SetVertScroll(uint32_t v);
    // Switches drop acceptance of the window.
    bool AcceptDragged() const { return acceptDragged_; }
    void SetAcceptDragged(bool on);
    bool LoadWholeFax() const { return loadWholeFax_; }
    void SetLoadWholeFax(bool on);
    Qt::CursorShape BusyCursor() const { return busyCursor_; }
    void SetBusyCursor(Qt::CursorShape cursor);
    const std::string& FileName() const { return fileName_; }
    // Shows the file (nothing when it is the same text); a missing file raises the exception of -2,
    // a file that is no fax file that of -8001. Afterwards no rotation and no display scaling.
    void SetFileName(const std::string& name);

    TViewerFileDropEvent OnDropFile;
    TNotifyEvent OnPageChange;
    TViewerErrorEvent OnViewerError;

    int Rotation() const { return rotation_; }
    void SetRotation(int rotation);
    int CurrentPage() const { return window_->apwViewGetCurPage(); }
    void SetCurrentPage(int page);
    int NumPages() const { return window_->apwViewGetNumPages(); }
    int PageWidth() const { return window_->apwViewGetPageDim().right() + 1; }

    void BeginUpdate() { window_->apwViewStartUpdate(); }
    void EndUpdate() { window_->apwViewEndUpdate(); }
    void FirstPage();
    void LastPage();
    void NextPage();
    void PrevPage();

    TViewerWindow& Window() { return *window_; }

protected:
    virtual void DoDropFile();

private:
    void SendScale();

    TViewerWindow* window_;
    TBorderStyle borderStyle_ = bsSingle;
    QColor fg_{Qt::black}, bg_{Qt::white};
    bool scaling_ = false;
    TViewerScale scale_;
    TAutoScaleMode autoScaleMode_ = asDoubleHeight;
    bool whitespace_ = false;
    uint32_t whitespaceFrom_ = 0, whitespaceTo_ = 0;
    uint32_t hScroll_ = 8, vScroll_ = 8;
    bool acceptDragged_ = true;
    bool loadWholeFax_ = false;
    Qt::CursorShape busyCursor_ = Qt::ArrowCursor;
    std::string fileName_;
    int rotation_ = 0;
};

class TFxFaxViewer : public TFxCustomFaxViewer {
public:
    using TFxCustomFaxViewer::TFxCustomFaxViewer;
};

} // namespace zn::faxdoc
