#include "foundation/zoom_panel.h"

#include "faxdoc/gui/mono_image.h"
#include "faxdoc/mono_transform.h"

#include <QCoreApplication>
#include <QPainter>

#include <cmath>

namespace zn::foundation {

TGZoomPanel::TGZoomPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName("ZoomPanel");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

void TGZoomPanel::SetPicture(const QImage& picture)
{
    picture_ = picture;
    scaled_ = QImage();
    update();
}

void TGZoomPanel::Zoom(float factor)
{
    if (factor == zoom_)
        return;
    zooming_ = true;
    const float current = static_cast<int>(zoom_ * 10) == 0 ? 1.0f : zoom_;
    const float ratio = factor / current;
    resize(static_cast<int>(std::lround(width() * ratio)), static_cast<int>(std::lround(height() * ratio)));
    zoom_ = factor;
    QCoreApplication::processEvents();
    zooming_ = false;
    update();
}

void TGZoomPanel::paintEvent(QPaintEvent*)
{
    if (zooming_)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!picture_.isNull()) {
        if (picture_.depth() == 1) {
            if (scaled_.size() != size()) {
                const faxdoc::TMonoBitmap page = faxdoc::FromImage(picture_);
                scaled_ = faxdoc::ToImage(faxdoc::ScaleKeepingBlack(page, width(), height()));
            }
            painter.drawImage(0, 0, scaled_);
        } else {
            painter.drawImage(rect(), picture_);
        }
    }
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace zn::foundation
