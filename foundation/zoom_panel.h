// TGZoomPanel: a panel that shows a picture stretched over its whole area, framed by a one-pixel
// border, and whose size follows a zoom factor relative to its size at factor 1.
#pragma once

#include <QImage>
#include <QWidget>

namespace zn::foundation {

class TGZoomPanel : public QWidget {
public:
    explicit TGZoomPanel(QWidget* parent = nullptr);

    // Copies the picture. A 1-bit picture is shrunk keeping its black pixels, as fax pages need.
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }
    float ZoomFactor() const { return zoom_; }
    // Nothing when equal to the current factor; otherwise width and height are multiplied by
    // new / current (a current factor below 0.1 counts as 1) and rounded.
    void Zoom(float factor);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    QImage scaled_; // the picture at the panel's size, made when first painted at that size
    float zoom_ = 1.0f;
    bool zooming_ = false;
};

} // namespace zn::foundation
