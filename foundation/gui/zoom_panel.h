// A picture panel whose size follows a zoom factor; the picture is stretched over the whole panel
// with a one-pixel frame around it.
#pragma once
#include <QImage>
#include <QWidget>

namespace zn::foundation::gui {

class TGZoomPanel : public QWidget {
    Q_OBJECT
public:
    explicit TGZoomPanel(QWidget* parent = nullptr);

    const QImage& Picture() const { return picture_; }
    void SetPicture(const QImage& picture);
    float ZoomFactor() const { return zoomFactor_; }
    // Scales the panel relative to its size at factor 1; the same factor again does nothing.
    void Zoom(float factor);

signals:
    void OnDblClick();

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

private:
    QImage picture_;
    QImage mono_;   // a 1-bit picture as given, shrunk keeping its black pixels
    QImage scaled_; // mono_ at the panel's size, made when first painted at that size
    float zoomFactor_ = 1.0f;
    bool zooming_ = false;
};

} // namespace zn::foundation::gui
