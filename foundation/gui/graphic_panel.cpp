#include "foundation/gui/graphic_panel.h"

#include <QMouseEvent>
#include <QPainter>

namespace zn::foundation::gui {

namespace {

// Draws `width` nested one-pixel frames, top-left in one colour and bottom-right in the other, and
// shrinks the rectangle by them.
void Frame3D(QPainter& p, QRect& r, const QColor& topLeft, const QColor& bottomRight, int width)
{
    for (int i = 0; i < width && r.width() > 0 && r.height() > 0; ++i) {
        p.setPen(topLeft);
        p.drawLine(r.left(), r.top(), r.right(), r.top());
        p.drawLine(r.left(), r.top(), r.left(), r.bottom());
        p.setPen(bottomRight);
        p.drawLine(r.right(), r.top(), r.right(), r.bottom());
        p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        r.adjust(1, 1, -1, -1);
    }
}

void Bevel(QPainter& p, QRect& r, TBevelCut cut, int width, const QPalette& pal)
{
    if (cut == TBevelCut::bvNone)
        return;
    const QColor light = pal.color(QPalette::Light);
    const QColor shadow = pal.color(QPalette::Dark);
    if (cut == TBevelCut::bvRaised)
        Frame3D(p, r, light, shadow, width);
    else
        Frame3D(p, r, shadow, light, width);
}

} // namespace

TGraphicPanel::TGraphicPanel(QWidget* parent) : QWidget(parent), color_(palette().color(QPalette::Button))
{
    resize(185, 41);
    setFocusPolicy(Qt::NoFocus);
}

void TGraphicPanel::SetAlignment(Qt::Alignment a)
{
    alignment_ = a;
    update();
}
void TGraphicPanel::SetBevelInner(TBevelCut b)
{
    bevelInner_ = b;
    update();
}
void TGraphicPanel::SetBevelOuter(TBevelCut b)
{
    bevelOuter_ = b;
    update();
}
void TGraphicPanel::SetBevelWidth(int w)
{
    bevelWidth_ = w;
    update();
}
void TGraphicPanel::SetBorderWidth(int w)
{
    borderWidth_ = w;
    update();
}
void TGraphicPanel::SetBorderStyle(TBorderStyle s)
{
    borderStyle_ = s;
    update();
}
void TGraphicPanel::SetColor(const QColor& c)
{
    color_ = c;
    update();
}
void TGraphicPanel::SetCaption(const QString& text)
{
    caption_ = text;
    update();
}

void TGraphicPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QRect r = rect();
    if (borderStyle_ == TBorderStyle::bsSingle) {
        p.setPen(Qt::black);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
    Bevel(p, r, bevelOuter_, bevelWidth_, palette());
    Frame3D(p, r, color_, color_, borderWidth_);
    Bevel(p, r, bevelInner_, bevelWidth_, palette());
    p.fillRect(r, color_);
    if (caption_.isEmpty())
        return;
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.setFont(font());
    // One line, centred vertically on the height of a capital letter line.
    const int lineHeight = p.fontMetrics().height();
    QRect textRect(r.left(), r.top() + (r.height() - lineHeight) / 2, r.width(), lineHeight);
    QString text = caption_;
    text.replace('\t', "        ");
    p.drawText(textRect, int(alignment_ | Qt::AlignVCenter) | Qt::TextSingleLine, text);
}

void TGraphicPanel::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (OnResize && e->oldSize().isValid()) // not the first layout
        OnResize();
}

void TGraphicPanel::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit OnClick();
}

void TGraphicPanel::mouseDoubleClickEvent(QMouseEvent*) { emit OnDblClick(); }

} // namespace zn::foundation::gui
