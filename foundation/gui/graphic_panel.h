// A flat panel that draws the standard bevelled panel look and a one-line caption; it takes no
// focus and no keys (the window-less panel of the main window and the status areas).
#pragma once
#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>

namespace zn::foundation::gui {

enum class TBevelCut { bvNone, bvLowered, bvRaised };
enum class TBorderStyle { bsNone, bsSingle };

class TGraphicPanel : public QWidget {
    Q_OBJECT
public:
    explicit TGraphicPanel(QWidget* parent = nullptr);

    Qt::Alignment Alignment() const { return alignment_; }
    void SetAlignment(Qt::Alignment a);
    TBevelCut BevelInner() const { return bevelInner_; }
    void SetBevelInner(TBevelCut b);
    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut b);
    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int w);
    int BorderWidth() const { return borderWidth_; }
    void SetBorderWidth(int w);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle s);
    QColor Color() const { return color_; }
    void SetColor(const QColor& c);
    QString Caption() const { return caption_; }
    void SetCaption(const QString& text);
    bool Locked = false; // stored only

    // Fires on a resize once the panel has been shown (not while it is being laid out).
    std::function<void()> OnResize;

signals:
    void OnClick();
    void OnDblClick();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

private:
    Qt::Alignment alignment_ = Qt::AlignHCenter;
    TBevelCut bevelInner_ = TBevelCut::bvNone;
    TBevelCut bevelOuter_ = TBevelCut::bvRaised;
    int bevelWidth_ = 1;
    int borderWidth_ = 0;
    TBorderStyle borderStyle_ = TBorderStyle::bsNone;
    QColor color_;
    QString caption_;
};

} // namespace zn::foundation::gui
