// A scroll box that reports every scroll before it happens; dragging a thumb scrolls at once.
#pragma once
#include <QScrollArea>

namespace zn::foundation::gui {

class TRSScrollBox : public QScrollArea {
    Q_OBJECT
public:
    explicit TRSScrollBox(QWidget* parent = nullptr);

signals:
    void OnScroll();
};

} // namespace zn::foundation::gui
