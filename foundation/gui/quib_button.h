// A flat button with rounded corners that lights up under the mouse (the tips window's buttons).
// Glyphs are drawn with their top-left pixel's colour as the transparent colour.
#pragma once
#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

namespace zn::foundation::gui {

enum class THighlightStyle { qbhEllipse, qbhUnderline, qbhNone };

class TQuibButton : public QWidget {
    Q_OBJECT
public:
    explicit TQuibButton(QWidget* parent = nullptr);

    QColor BorderColor = Qt::black;
    bool showing = true;
    QColor ShadowColor{0x80, 0x80, 0x80};
    int CaptionX = 25;
    int GlyphPosition = 10;
    int Space = 10; // stored only
    int RoundedCornerSize = 20;
    THighlightStyle HighlightStyle = THighlightStyle::qbhEllipse;
    QColor Color; // the face; the parent's colour at creation

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    const QImage& BitmapOn() const { return bitmapOn_; }
    void SetBitmapOn(const QImage& image);
    const QImage& BitmapOff() const { return bitmapOff_; }
    void SetBitmapOff(const QImage& image);
    const QImage& BitmapDisabled() const { return bitmapDisabled_; }
    void SetBitmapDisabled(const QImage& image);
    // The glyph greyed from BitmapOn when no disabled bitmap is given.
    const QImage& GeneratedDisabledGlyph() const { return disabledGlyph_; }

    bool Hovering() const { return hover_; }
    bool Down() const { return down_; }
    // The rectangle the caption goes in, and whether it wraps onto several lines.
    QRect CaptionRect() const;
    bool CaptionWraps() const;

    // The glyph with its transparent colour made transparent.
    static QImage Transparent(const QImage& glyph);
    // The grey version of a glyph by the brightness of each pixel.
    static QImage MakeDisabledGlyph(const QImage& glyph, const QPalette& palette);

    QSize sizeHint() const override;

signals:
    void OnClick();
    void OnDblClick();
    void OnMouseEnter();
    void OnMouseLeave();

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void changeEvent(QEvent*) override;

private:
    void DrawTheText(QPainter& p, const QRect& r);
    void MakeDisabledGlyph();
    int Offset() const { return down_ ? 1 : 0; }

    QString caption_ = "Quib Button";
    QImage bitmapOn_, bitmapOff_, bitmapDisabled_, disabledGlyph_;
    bool hover_ = false;
    bool down_ = false;
};

} // namespace zn::foundation::gui
