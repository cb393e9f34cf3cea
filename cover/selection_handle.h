// The selection of the design surface: the selected items, the handle's rectangle around them
// (2 pixels out on the left and top, 3 on the right and bottom), and the rules that turn presses,
// drags, releases and arrow keys into moves and resizes of the whole selection, snapped to a grid.
// Plain logic over the items' 100% geometry: the surface draws the handle and the outlines and feeds
// it the mouse in surface coordinates; tests drive it with their own clock.
#pragma once

#include "cover/cover_items.h"

#include <QRect>

#include <cstdint>
#include <functional>
#include <vector>

namespace zn::cover {

enum THandleZone : uint8_t {
    hzMove = 0,
    hzTopLeft = 1,
    hzTopRight = 2,
    hzBottomLeft = 3,
    hzBottomRight = 4,
    hzTop = 5,
    hzLeft = 6,
    hzBottom = 7,
    hzRight = 8,
};

enum THandleCursor { hcDefault, hcGrab, hcSizeNWSE, hcSizeNESW, hcSizeNS, hcSizeWE, hcNoDrop };
enum THandleKey { hkLeft, hkUp, hkRight, hkDown };

class TFaxHandle {
public:
    using TClock = std::function<int64_t()>; // milliseconds
    // A drag starts when the pointer moves more than this long after a press; a release sooner than
    // the other after the press moves nothing.
    static constexpr int64_t kDragDelayMs = 10;
    static constexpr int64_t kClickMs = 150;

    explicit TFaxHandle(TClock clock = nullptr);

    // The surface's size at 100% (drags keep the pointer inside it).
    void SetSurfaceSize(int width, int height) { surfaceWidth_ = width, surfaceHeight_ = height; }

    void Select(TFaxGraphicControl* item);
    void Deselect(TFaxGraphicControl* item);
    void ClearSelection();
    int IndexOf(const TFaxGraphicControl* item) const;
    int Count() const { return static_cast<int>(selection_.size()); }
    bool HasSelection() const { return !selection_.empty(); }
    TFaxGraphicControl* Items(int i) const;
    const std::vector<TFaxGraphicControl*>& Selection() const { return selection_; }
    // Fits the handle around the selection again (4 pixels out on the right and bottom).
    void Refit();

    // The handle's rectangle (left, top, width, height); while nothing is selected 24 x 24 and hidden.
    const QRect& Bounds() const { return bounds_; }
    bool Visible() const { return !selection_.empty(); }
    // Sets the handle's bounds from a drag or keys: every selected item that is not locked moves and
    // resizes with it.
    void SetBounds(const QRect& bounds);

    bool Locked = false;
    bool SnapToGrid() const { return gridX_ > 1 || gridY_ > 1; }
    void SetSnapToGrid(bool on);
    int GridX() const { return gridX_; }
    int GridY() const { return gridY_; }
    void SetGridX(int step);
    void SetGridY(int step);

    // The zone under a handle-relative point (resizing only with one item selected).
    THandleZone ZoneAt(int x, int y, THandleCursor* cursor = nullptr) const;
    // The handle's bounds for a drag from the drag start to the handle-relative point (x, y).
    QRect DragBounds(THandleZone zone, int x, int y) const;

    // The mouse, handle-relative; `pointing` is the surface's pointing mode.
    void Press(int x, int y, bool pointing);
    THandleCursor Move(int x, int y, bool leftDown, bool pointing);
    void Release(int x, int y);
    void DoubleClick() { doubleClicked_ = true; }
    bool IsDragging() const { return dragging_; }
    THandleZone Zone() const { return zone_; }
    // The outline shown during a drag (empty when none).
    QRect BandRect() const { return band_; }

    void KeyDown(THandleKey key, bool shift);
    void KeyUp();
    bool KeyMoving() const { return keyMoving_; }
    QRect KeyRect() const { return keyRect_; }

private:
    int64_t Now() const { return clock_ ? clock_() : 0; }
    void ClampToSurface(int& x, int& y) const;

    TClock clock_;
    std::vector<TFaxGraphicControl*> selection_;
    QRect bounds_{0, 0, 24, 24};
    int surfaceWidth_ = 816, surfaceHeight_ = 1056;
    int gridX_ = 1, gridY_ = 1;
    int gridXSetting_ = 8, gridYSetting_ = 8;
    int64_t pressTick_ = 0;
    int dragStartX_ = 0, dragStartY_ = 0;
    THandleZone zone_ = hzMove;
    bool dragging_ = false;
    bool doubleClicked_ = false;
    bool keyMoving_ = false;
    QRect keyRect_;
    QRect band_;
};

} // namespace zn::cover
