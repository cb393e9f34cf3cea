#include "foundation/gui/zoom_panel.h"

#include "faxdoc/gui/mono_image.h"
#include "faxdoc/mono_transform.h"

#include <QCoreApplication>
#include <QPainter>

#include <cmath>

namespace zn::foundation::gui {

TGZoomPanel::TGZoomPanel(QWidget* parent) : QWidget(parent)
{
    // Arrow and tab keys go to the panel (the viewer pages with them).
    setFocusPolicy(Qt::StrongFocus);
}

void TGZoomPanel::SetPicture(const QImage& picture)
{
    picture_ = picture.convertToFormat(QImage::Format_RGB32);
    mono_ = picture.depth() == 1 ? picture : QImage();
    scaled_ = QImage();
    update();
}

void TGZoomPanel::Zoom(float factor)
{
    if (factor == zoomFactor_)
        return;
    zooming_ = true;
    float current = zoomFactor_;
    if (int(current * 10) == 0) // a factor that rounds to nothing would blow the size up
        current = 1.0f;
    const double ratio = double(factor) / current;
    resize(int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
    zoomFactor_ = factor;
    QCoreApplication::processEvents();
    zooming_ = false;
    update();
}

void TGZoomPanel::paintEvent(QPaintEvent*)
{
    if (zooming_)
        return;
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!mono_.isNull()) {
        // A fax page: plain stretching drops thin black lines, so shrink it keeping black.
        if (scaled_.size() != size())
            scaled_ = faxdoc::ToImage(faxdoc::ScaleKeepingBlack(faxdoc::FromImage(mono_), width(), height()));
        p.drawImage(0, 0, scaled_);
    } else if (!picture_.isNull()) {
        p.drawImage(rect(), picture_, picture_.rect());
    }
    p.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TGZoomPanel::mouseDoubleClickEvent(QMouseEvent*) { emit OnDblClick(); }

} // namespace zn::foundation::gui
