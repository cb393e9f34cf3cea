// TFxMeter: the block progress bar of the fax status window. Position between Min and Max is shown
// as blocks of Step pixels (a 2-pixel gap each) inside a 1-pixel bevel; the last block is cut to
// what is left of the width.
#pragma once

#include <QColor>
#include <QWidget>

#include <functional>

namespace zn::comms {

enum TBevelStyle { bsLowered, bsRaised };

class TFxMeter : public QWidget {
public:
    explicit TFxMeter(QWidget* parent = nullptr);

    QColor BarColor() const { return barColor_; }
    void SetBarColor(const QColor& c);
    QColor BevelColor1() const { return bevelColor1_; }
    void SetBevelColor1(const QColor& c);
    QColor BevelColor2() const { return bevelColor2_; }
    void SetBevelColor2(const QColor& c);
    int BevelStyle() const { return bevelStyle_; }
    void SetBevelStyle(int style);
    int Max() const { return max_; }
    void SetMax(int v);
    int Min() const { return min_; }
    void SetMin(int v);
    int Position() const { return position_; }
    void SetPosition(int v);
    int Step() const { return step_; }
    void SetStep(int v);

    // Fired when the number of whole blocks or the partial block changes.
    std::function<void(TFxMeter&)> OnPosChange;

    int Blocks() const { return blocks_; }
    bool PartialBlock() const { return partial_; }
    int PartialWidth() const { return partialWidth_; }

    QSize sizeHint() const override { return {150, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Recomputes the blocks; repaints when they changed or when forced.
    void Recalculate(bool forceRepaint);

    QColor barColor_;
    QColor bevelColor1_;
    QColor bevelColor2_;
    int bevelStyle_ = bsLowered;
    int max_ = 100;
    int min_ = 0;
    int position_ = 0;
    int step_ = 8;
    int blocks_ = 0;
    bool partial_ = false;
    int partialWidth_ = 0;
};

} // namespace zn::comms
