// The viewer window: one page of a fax file at a time, decoded into a monochrome bitmap (1 = white)
// by its own unpacker engine, scrolled, scaled for display with the black-keeping scaler, turned by
// quarter turns, with a rectangle marked by the mouse (scrolling on its own when the mouse leaves the
// window) that can be copied to the clipboard, keyboard paging and files dropped from the desktop.
//
// Operations answer the library's result codes (0 success, negative failure); the owner hears of
// page changes and of decoding failures through OnPageChange and OnViewerError. Scroll positions
// and the mark are in display pixels (page pixels x Mult / Div).
#pragma once

#include "faxdoc/mono_bitmap.h"
#include "faxdoc/unpacker.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QCursor>
#include <QImage>
#include <QRect>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zn::faxdoc {

struct TViewerScale {
    uint32_t horizMult = 1, horizDiv = 1, vertMult = 1, vertDiv = 1;
};

// The mark's corners in display pixels, both ends included.
struct TViewerMark {
    int left = 0, top = 0, right = 0, bottom = 0;
};

class TViewerWindow : public QAbstractScrollArea {
public:
    explicit TViewerWindow(QWidget* parent = nullptr);
    ~TViewerWindow() override;

    std::function<void(int page)> OnPageChange;
    std::function<void(int code)> OnViewerError;
    std::function<void(const std::string& fileName)> OnDropFile;

    // Empty: close the file. -2 no such file, -8001 not a fax file, or the decoder's code.
    int apwViewSetFile(const std::string& fileName);
    void apwViewSetFG(QColor color);
    void apwViewSetBG(QColor color);
    void apwViewSetScale(TViewerScale scale);
    int apwViewSetWhitespace(uint32_t from, uint32_t to);
    void apwViewSetScroll(int horizontal, int vertical); // 0 keeps a step
    int apwViewSelectAll();
    int apwViewSelect(TViewerMark mark);
    int apwViewCopy();
    // The page's bitmap (1 = white); nullopt for a page past the count or a failed decode.
    std::optional<TMonoBitmap> apwViewGetBitmap(int page);
    int apwViewGetNumPages() const { return static_cast<int>(pages_.size()); }
    void apwViewStartUpdate() { updateSuspended_ = true; }
    void apwViewEndUpdate();
    int apwViewGotoPage(int page);
    int apwViewGetCurPage() const { return pages_.empty() ? 0 : currentPage_; }
    void apwViewSetDesignMode(const std::string& text);
    int apwViewSetRotation(int rotation);
    void apwViewSetAutoScale(uint16_t flags);
    QRect apwViewGetPageDim() const; // (0, 0, width - 1, height - 1) of the current page
    int apwViewSetLoadWholeFax(bool on);
    void apwViewSetBusyCursor(const QCursor& cursor) { busyCursor_ = cursor; }
    uint16_t apwViewGetPageFlags() const;
    const std::string& FileName() const { return fileName_; }

    // Scrolling by steps, jumps (ten steps) and to the ends, and the page keys.
    void vScrollUp() { vScrollUpPrim(vStep_); }
    void vScrollDown() { vScrollDownPrim(vStep_); }
    void vScrollLeft() { vScrollLeftPrim(hStep_); }
    void vScrollRight() { vScrollRightPrim(hStep_); }
    void vJumpUp() { vScrollUpPrim(10 * vStep_); }
    void vJumpDown() { vScrollDownPrim(10 * vStep_); }
    void vJumpLeft() { vScrollLeftPrim(10 * hStep_); }
    void vJumpRight() { vScrollRightPrim(10 * hStep_); }
    void vHomeVertical();
    void vEndVertical();
    void vHomeHorizontal();
    void vEndHorizontal();
    void vPageUp();
    void vPageDown();
    void vFirstPage();
    void vLastPage();

    int HorizPos() const;
    int VertPos() const;
    int MaxHorizPos() const { return maxH_; }
    int MaxVertPos() const { return maxV_; }
    bool HasMark() const { return hasMark_; }
    TViewerMark Mark() const { return mark_; }
    int Rotation() const { return rotation_; }
    TViewerScale Scale() const { return scale_; }
    QSize DisplaySize() const { return {displayWidth_, displayHeight_}; }
    bool LoadWholeFax() const { return loadWholeFax_; }
    // The current page as shown (scaled and in the display colours).
    const QImage& DisplayImage() const { return display_; }
    int DecodedPages() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct TPage {
        int width = 0, height = 0;
        std::optional<TMonoBitmap> bitmap;
    };

    void vDisposeFax();
    int vDecodePage(int page, TMonoBitmap& out);
    void vInitPage();
    void vRebuildDisplay();
    void vInitScrollbars();
    void vScrollUpPrim(int n);
    void vScrollDownPrim(int n);
    void vScrollLeftPrim(int n);
    void vScrollRightPrim(int n);
    void vRotatePage(int rotation, int& code);
    void vUpdateMarkRect(int x, int y);
    void vRemoveMark();
    void vAutoScroll(QPoint client);
    void vStopTimer();
    QRect MarkClientRect(const TViewerMark& mark) const;
    void Notify(int code);

    UnpackerState engine_;
    std::vector<TPage> pages_;
    bool loadWholeFax_ = false;
    QCursor busyCursor_{Qt::ArrowCursor};
    QColor fg_{Qt::black}, bg_{Qt::white};
    int displayWidth_ = 0, displayHeight_ = 0;
    int hStep_ = 8, vStep_ = 8;
    int currentPage_ = 0;
    int maxH_ = 0, maxV_ = 0;
    TViewerScale scale_;
    int rotation_ = 0;
    bool hasMark_ = false;
    int corner_ = 1; // 1 right-bottom, 2 left-bottom, 3 left-top, 4 right-top
    TViewerMark mark_;
    bool marking_ = false;
    QPoint lastMouse_;
    QTimer autoScroll_;
    std::string fileName_;
    std::string designText_;
    bool designMode_ = false;
    bool updateSuspended_ = false;
    QImage display_;

    static bool pageChanging_; // one page change at a time across all viewers
};

} // namespace zn::faxdoc
