#include "cover/selection_handle.h"

#include <algorithm>
#include <cstdlib>

namespace zn::cover {

namespace {

constexpr int kMinimumSide = 5;

int Snap(int v, int step) { return step * (v / step); } // division truncating toward zero

} // namespace

TFaxHandle::TFaxHandle(TClock clock) : clock_(std::move(clock)) {}

void TFaxHandle::Select(TFaxGraphicControl* item)
{
    if (item && item->Unselectable())
        return;
    pressTick_ = Now();
    if (!item || IndexOf(item) >= 0)
        return;
    if (selection_.empty()) {
        band_ = QRect();
        bounds_ = QRect(item->Left - 2, item->Top - 2, item->Width + 5, item->Height + 5);
    } else {
        const int l = std::min(bounds_.left(), item->Left - 2);
        const int t = std::min(bounds_.top(), item->Top - 2);
        const int r = std::max(bounds_.left() + bounds_.width() - 3, item->Left + item->Width);
        const int b = std::max(bounds_.top() + bounds_.height() - 3, item->Top + item->Height);
        bounds_ = QRect(l, t, r - l + 3, b - t + 3);
    }
    selection_.push_back(item);
    zone_ = hzMove;
}

void TFaxHandle::Deselect(TFaxGraphicControl* item)
{
    const int i = IndexOf(item);
    if (i < 0)
        return;
    selection_.erase(selection_.begin() + i);
    if (selection_.empty()) {
        Locked = false;
        band_ = QRect();
        return;
    }
    int l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
    for (const TFaxGraphicControl* s : selection_) {
        l = std::min(l, s->Left - 2);
        t = std::min(t, s->Top - 2);
        r = std::max(r, s->Left + s->Width + 3);
        b = std::max(b, s->Top + s->Height + 3);
    }
    bounds_ = QRect(l, t, r - l, b - t);
}

void TFaxHandle::ClearSelection()
{
    selection_.clear();
    Locked = false;
    bounds_ = QRect(bounds_.left(), bounds_.top(), 24, 24);
    band_ = QRect();
}

int TFaxHandle::IndexOf(const TFaxGraphicControl* item) const
{
    const auto it = std::find(selection_.begin(), selection_.end(), item);
    return it == selection_.end() ? -1 : static_cast<int>(it - selection_.begin());
}

TFaxGraphicControl* TFaxHandle::Items(int i) const
{
    return i >= 0 && i < Count() ? selection_[static_cast<size_t>(i)] : nullptr;
}

void TFaxHandle::Refit()
{
    if (selection_.empty())
        return;
    int l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
    for (const TFaxGraphicControl* s : selection_) {
        l = std::min(l, s->Left);
        t = std::min(t, s->Top);
        r = std::max(r, s->Left + s->Width);
        b = std::max(b, s->Top + s->Height);
    }
    bounds_ = QRect(l - 2, t - 2, r - l + 6, b - t + 6);
}

void TFaxHandle::SetBounds(const QRect& nb)
{
    for (TFaxGraphicControl* item : selection_)
        if (!item->Locked)
            item->SetBounds(nb.left() + item->Left - bounds_.left(), nb.top() + item->Top - bounds_.top(),
                            nb.width() + item->Width - bounds_.width(), nb.height() + item->Height - bounds_.height());
    bounds_ = nb;
}

void TFaxHandle::SetSnapToGrid(bool on)
{
    gridX_ = on ? gridXSetting_ : 1;
    gridY_ = on ? gridYSetting_ : 1;
}

void TFaxHandle::SetGridX(int step)
{
    step = std::clamp(step, 1, 32);
    gridX_ = gridXSetting_ = step;
}

void TFaxHandle::SetGridY(int step)
{
    step = std::clamp(step, 1, 32);
    gridY_ = gridYSetting_ = step;
}

THandleZone TFaxHandle::ZoneAt(int x, int y, THandleCursor* cursor) const
{
    THandleZone z = hzMove;
    THandleCursor c = hcGrab;
    if (selection_.size() == 1) {
        const int l = 0, t = 0, r = bounds_.width(), b = bounds_.height();
        const int midX = static_cast<int>((r - l) * 0.5), midY = static_cast<int>((b - t) * 0.5);
        // Later hits override earlier ones.
        if (std::abs(x - l) < 8 && std::abs(y - t) < 8)
            z = hzTopLeft, c = hcSizeNWSE;
        if (std::abs(x - r) < 8 && std::abs(y - b) < 8)
            z = hzBottomRight, c = hcSizeNWSE;
        if (std::abs(x - r) < 8 && std::abs(y - t) < 8)
            z = hzTopRight, c = hcSizeNESW;
        if (std::abs(x - l) < 8 && std::abs(y - b) < 8)
            z = hzBottomLeft, c = hcSizeNESW;
        if (std::abs(x - midX) < 6 && std::abs(y - t) < 8)
            z = hzTop, c = hcSizeNS;
        if (std::abs(x - midX) < 6 && std::abs(y - b) < 8)
            z = hzBottom, c = hcSizeNS;
        if (std::abs(y - midY) < 6 && std::abs(x - l) < 8)
            z = hzLeft, c = hcSizeWE;
        if (std::abs(y - midY) < 6 && std::abs(x - r) < 8)
            z = hzRight, c = hcSizeWE;
    }
    if (cursor)
        *cursor = c;
    return z;
}

QRect TFaxHandle::DragBounds(THandleZone zone, int x, int y) const
{
    const int dx = x - dragStartX_, dy = y - dragStartY_;
    const int l = bounds_.left(), t = bounds_.top(), w = bounds_.width(), h = bounds_.height();
    const auto sx = [this](int v) { return Snap(v, gridX_); };
    const auto sy = [this](int v) { return Snap(v, gridY_); };
    int nl = l, nt = t, nw = w, nh = h;
    switch (zone) {
    case hzMove: nl = sx(l + dx), nt = sy(t + dy); break;
    case hzTopLeft: nl = sx(l + dx), nt = sy(t + dy), nw = w + l - nl, nh = h + t - nt; break;
    case hzTopRight: nt = sy(t + dy), nw = sx(w + dx) - 1, nh = h + t - nt; break;
    case hzBottomLeft: nl = sx(l + dx), nw = w + l - nl, nh = sy(h + dy) - 1; break;
    case hzBottomRight: nw = sx(w + dx) - 1, nh = sy(h + dy) - 1; break;
    case hzTop: nt = sy(t + dy), nh = h + t - nt; break;
    case hzLeft: nl = sx(l + dx), nw = w + l - nl; break;
    case hzBottom: nh = sy(h + dy) - 1; break;
    case hzRight: nw = sx(w + dx) - 1; break;
    }
    return QRect(nl, nt, std::max(nw, kMinimumSide), std::max(nh, kMinimumSide));
}

void TFaxHandle::ClampToSurface(int& x, int& y) const
{
    x = std::clamp(bounds_.left() + x, 0, surfaceWidth_) - bounds_.left();
    y = std::clamp(bounds_.top() + y, 0, surfaceHeight_) - bounds_.top();
}

void TFaxHandle::Press(int x, int y, bool pointing)
{
    pressTick_ = Now();
    if (pointing && !selection_.empty() && !Locked) {
        dragStartX_ = x;
        dragStartY_ = y;
        dragging_ = true;
    }
}

THandleCursor TFaxHandle::Move(int x, int y, bool leftDown, bool pointing)
{
    if (doubleClicked_) {
        dragging_ = false;
        doubleClicked_ = false;
    }
    if (!pointing)
        return hcDefault;
    if (leftDown && !dragging_ && !Locked) {
        if (pressTick_ > 0 && Now() - pressTick_ > kDragDelayMs) {
            dragStartX_ = x;
            dragStartY_ = y;
            dragging_ = true;
        }
        return hcGrab;
    }
    THandleCursor cursor = hcGrab;
    const THandleZone z = ZoneAt(x, y, &cursor);
    if (Locked)
        cursor = hcNoDrop;
    if (dragging_) {
        ClampToSurface(x, y);
        const QRect nb = DragBounds(zone_, x, y);
        band_ = QRect(nb.left() + 2, nb.top() + 2, nb.width() - 4, nb.height() - 4);
    } else {
        zone_ = z;
    }
    return cursor;
}

void TFaxHandle::Release(int x, int y)
{
    if (dragging_ && Now() - pressTick_ < kClickMs) {
        // A quick click moves nothing, however the pointer moved meanwhile.
        dragStartX_ = x;
        dragStartY_ = y;
    }
    pressTick_ = 0;
    if (!dragging_)
        return;
    ClampToSurface(x, y);
    if (x != dragStartX_ || y != dragStartY_)
        SetBounds(DragBounds(zone_, x, y));
    band_ = QRect();
    dragging_ = false;
}

void TFaxHandle::KeyDown(THandleKey key, bool shift)
{
    if (selection_.empty())
        return;
    if (!keyMoving_) {
        keyMoving_ = true;
        keyRect_ = QRect(QPoint(bounds_.left() + 2, bounds_.top() + 2),
                         QPoint(bounds_.left() + bounds_.width() - 3, bounds_.top() + bounds_.height() - 3));
    }
    // QRect's right and bottom are the last pixel: the outline's edges.
    const int w = keyRect_.right() - keyRect_.left() + 1;
    const int h = keyRect_.bottom() - keyRect_.top() + 1;
    const bool resize = shift && selection_.size() == 1;
    switch (key) {
    case hkLeft:
        if (resize) {
            if (w > 10)
                keyRect_.setRight(keyRect_.right() - 1);
        } else if (keyRect_.left() > 0) {
            keyRect_.translate(-1, 0);
        }
        break;
    case hkUp:
        if (resize) {
            if (h > 10)
                keyRect_.setBottom(keyRect_.bottom() - 1);
        } else if (keyRect_.top() > 0) {
            keyRect_.translate(0, -1);
        }
        break;
    case hkRight:
        if (surfaceWidth_ >= w + keyRect_.left())
            resize ? keyRect_.setRight(keyRect_.right() + 1) : keyRect_.translate(1, 0);
        break;
    case hkDown:
        if (surfaceHeight_ >= h + keyRect_.top())
            resize ? keyRect_.setBottom(keyRect_.bottom() + 1) : keyRect_.translate(0, 1);
        break;
    }
}

void TFaxHandle::KeyUp()
{
    if (!keyMoving_)
        return;
    keyMoving_ = false;
    SetBounds(QRect(keyRect_.left() - 2, keyRect_.top() - 2, keyRect_.right() - keyRect_.left() + 5,
                    keyRect_.bottom() - keyRect_.top() + 5));
}

} // namespace zn::cover
