#include "comms/gui/fax_meter.h"

#include <QPainter>
#include <QPalette>

namespace zn::comms {

TFxMeter::TFxMeter(QWidget* parent) : QWidget(parent)
{
    barColor_ = palette().color(QPalette::Highlight);
    bevelColor1_ = palette().color(QPalette::Light);
    bevelColor2_ = palette().color(QPalette::Dark);
    resize(150, 16);
}

void TFxMeter::SetBarColor(const QColor& c)
{
    if (c != barColor_) {
        barColor_ = c;
        update();
    }
}

void TFxMeter::SetBevelColor1(const QColor& c)
{
    if (c != bevelColor1_) {
        bevelColor1_ = c;
        update();
    }
}

void TFxMeter::SetBevelColor2(const QColor& c)
{
    if (c != bevelColor2_) {
        bevelColor2_ = c;
        update();
    }
}

void TFxMeter::SetBevelStyle(int style)
{
    if (style != bevelStyle_) {
        bevelStyle_ = style;
        update();
    }
}

void TFxMeter::SetMax(int v)
{
    if (v != max_) {
        max_ = v;
        Recalculate(true);
    }
}

void TFxMeter::SetMin(int v)
{
    if (v != min_) {
        min_ = v;
        Recalculate(true);
    }
}

void TFxMeter::SetPosition(int v)
{
    if (v != position_) {
        position_ = v;
        Recalculate(false);
    }
}

void TFxMeter::SetStep(int v)
{
    if (v != step_ && v > 0) {
        step_ = v;
        Recalculate(true);
    }
}

void TFxMeter::Recalculate(bool forceRepaint)
{
    const int w = width();
    int blocks = 0;
    bool partial = false;
    int partialWidth = 0;
    if (position_ > min_ && max_ > min_ && step_ > 0)
        blocks = int(int64_t(position_ - min_) * ((w - 3) / step_) / (max_ - min_)) + 1;
    if (step_ > 0 && blocks * step_ > w - 4) {
        blocks = std::max(w - 4, 0) / step_;
        partial = true;
        partialWidth = std::max(w - 4, 0) % step_;
    }
    bool changed = blocks != blocks_ || partial != partial_;
    blocks_ = blocks;
    partial_ = partial;
    partialWidth_ = partialWidth;
    if (changed || forceRepaint)
        update();
    if (changed && OnPosChange)
        OnPosChange(*this);
}

void TFxMeter::resizeEvent(QResizeEvent*) { Recalculate(true); }

void TFxMeter::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int w = width(), h = height();
    if (bevelStyle_ == bsLowered || bevelStyle_ == bsRaised) {
        QColor topLeft = bevelStyle_ == bsLowered ? bevelColor2_ : bevelColor1_;
        QColor bottomRight = bevelStyle_ == bsLowered ? bevelColor1_ : bevelColor2_;
        p.fillRect(0, 0, w, 1, topLeft);
        p.fillRect(0, 0, 1, h, topLeft);
        p.fillRect(0, h - 1, w, 1, bottomRight);
        p.fillRect(w - 1, 0, 1, h, bottomRight);
    }
    // Block i covers x = i * Step + 2 up to (i + 1) * Step, rows 2 up to Height - 2.
    for (int i = 0; i < blocks_; ++i)
        p.fillRect(i * step_ + 2, 2, step_ - 2, h - 4, barColor_);
    if (partial_ && partialWidth_ > 0)
        p.fillRect(blocks_ * step_ + 2, 2, partialWidth_, h - 4, barColor_);
}

} // namespace zn::comms
