#include "foundation/gui/quib_button.h"

#include <QMouseEvent>
#include <QPainter>

namespace zn::foundation::gui {

TQuibButton::TQuibButton(QWidget* parent) : QWidget(parent)
{
    resize(100, 25);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    Color = parent ? parent->palette().color(QPalette::Window) : palette().color(QPalette::Button);
}

QSize TQuibButton::sizeHint() const
{
    // The caption on one line, clear of the rounded corner.
    return {CaptionX + fontMetrics().horizontalAdvance(caption_) + RoundedCornerSize / 2 + 4, 25};
}

void TQuibButton::SetCaption(const QString& caption)
{
    caption_ = caption;
    update();
}

void TQuibButton::SetBitmapOn(const QImage& image)
{
    bitmapOn_ = image;
    MakeDisabledGlyph();
    update();
}

void TQuibButton::SetBitmapOff(const QImage& image)
{
    bitmapOff_ = image;
    MakeDisabledGlyph();
    update();
}

void TQuibButton::SetBitmapDisabled(const QImage& image)
{
    bitmapDisabled_ = image;
    update();
}

QImage TQuibButton::Transparent(const QImage& glyph)
{
    if (glyph.isNull())
        return glyph;
    QImage out = glyph.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = out.pixel(0, 0);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if (row[x] == key)
                row[x] = qRgba(0, 0, 0, 0);
    }
    return out;
}

QImage TQuibButton::MakeDisabledGlyph(const QImage& glyph, const QPalette& palette)
{
    QImage out = glyph.convertToFormat(QImage::Format_RGB32);
    const QRgb key = out.pixel(0, 0);
    const QRgb highlight = palette.color(QPalette::Light).rgb();
    const QRgb shadow = palette.color(QPalette::Dark).rgb();
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if (row[x] == key)
                continue;
            const int s = qRed(row[x]) + qGreen(row[x]) + qBlue(row[x]);
            QRgb grey = s >= 206 ? qRgb(255, 255, 255) : s >= 128 ? highlight : s >= 69 ? shadow : qRgb(0, 0, 0);
            if (grey == key) // a grey equal to the key would vanish with it
                grey ^= 0x000001;
            row[x] = grey;
        }
    }
    return out;
}

void TQuibButton::MakeDisabledGlyph()
{
    if (!bitmapOn_.isNull() && bitmapDisabled_.isNull())
        disabledGlyph_ = MakeDisabledGlyph(bitmapOn_, palette());
}

QRect TQuibButton::CaptionRect() const
{
    const int d = (hover_ && !down_) ? 0 : 1;
    return QRect(QPoint(CaptionX + d, d), QPoint(width() + d - RoundedCornerSize / 2, height() + d));
}

bool TQuibButton::CaptionWraps() const { return fontMetrics().horizontalAdvance(caption_) > CaptionRect().width(); }

void TQuibButton::DrawTheText(QPainter& p, const QRect& r)
{
    p.drawText(r, Qt::TextWordWrap | Qt::AlignVCenter | Qt::AlignLeft, caption_);
}

void TQuibButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(rect(), Color);
    if (!showing)
        return;
    const QColor face = palette().color(QPalette::Button);
    const int c = RoundedCornerSize / 2;
    auto roundRect = [&](const QColor& pen, int l, int t, int r, int b, const QColor& brush) {
        p.setPen(pen);
        p.setBrush(brush);
        p.drawRoundedRect(QRect(QPoint(l, t), QPoint(r - 1, b - 1)), c, c);
    };
    if (HighlightStyle == THighlightStyle::qbhEllipse && hover_) {
        const int w = width(), h = height();
        if (down_) {
            roundRect(Color, 0, 0, w - 1, h - 1, Color);
            roundRect(BorderColor, 1, 1, w, h, Color);
            roundRect(face, 2, 2, w - 1, h - 1, Color);
        } else {
            roundRect(ShadowColor, 1, 1, w, h, Color);
            roundRect(BorderColor, 0, 0, w - 1, h - 1, Color);
            roundRect(face, 1, 1, w - 2, h - 2, Color);
        }
    }

    const QImage* glyph = nullptr;
    if (!isEnabled())
        glyph = bitmapDisabled_.isNull() ? &disabledGlyph_ : &bitmapDisabled_;
    else if (hover_)
        glyph = &bitmapOn_;
    else
        glyph = bitmapOff_.isNull() ? &bitmapOn_ : &bitmapOff_;
    if (glyph && !glyph->isNull()) {
        const int shift = hover_ ? 1 : 0;
        const int gx = GlyphPosition + Offset() - shift;
        const int gy = (height() - glyph->height()) / 2 + Offset() - shift;
        p.drawImage(gx, gy, Transparent(*glyph));
    }

    const int d = (hover_ && !down_) ? 0 : 1;
    QFont f = font();
    if (HighlightStyle == THighlightStyle::qbhUnderline && hover_)
        f.setUnderline(true);
    p.setFont(f);
    p.setBrush(Qt::NoBrush);
    const int textHeight = p.fontMetrics().height();
    const int ty = d + (height() - textHeight) / 2;
    if (!isEnabled()) {
        // Embossed: highlight one pixel right and down, the shadow on top.
        p.setPen(palette().color(QPalette::Light));
        p.drawText(QRect(CaptionX + d + 1, ty + 1, width(), textHeight), Qt::AlignLeft | Qt::TextSingleLine, caption_);
        p.setPen(palette().color(QPalette::Dark));
        p.drawText(QRect(CaptionX + d, ty, width(), textHeight), Qt::AlignLeft | Qt::TextSingleLine, caption_);
        return;
    }
    p.setPen(palette().color(QPalette::ButtonText));
    if (CaptionWraps())
        DrawTheText(p, CaptionRect());
    else
        p.drawText(QRect(CaptionX + d, ty, width(), textHeight), Qt::AlignLeft | Qt::TextSingleLine, caption_);
}

void TQuibButton::enterEvent(QEnterEvent*)
{
    if (!isEnabled())
        return;
    hover_ = true;
    update();
    emit OnMouseEnter();
}

void TQuibButton::leaveEvent(QEvent*)
{
    hover_ = false;
    update();
    emit OnMouseLeave();
}

void TQuibButton::mouseMoveEvent(QMouseEvent* e)
{
    if (isEnabled() && !hover_ && rect().contains(e->position().toPoint())) {
        hover_ = true;
        update();
    }
}

void TQuibButton::mousePressEvent(QMouseEvent* e)
{
    if (!isEnabled() || e->button() != Qt::LeftButton)
        return;
    hover_ = true;
    down_ = true;
    update();
}

void TQuibButton::mouseReleaseEvent(QMouseEvent* e)
{
    const bool wasDown = down_;
    down_ = false;
    update();
    if (isEnabled() && wasDown && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit OnClick();
}

void TQuibButton::mouseDoubleClickEvent(QMouseEvent*)
{
    if (isEnabled())
        emit OnDblClick();
}

void TQuibButton::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange && !isEnabled()) {
        hover_ = false;
        down_ = false;
        update();
    }
    QWidget::changeEvent(e);
}

} // namespace zn::foundation::gui
