#include "foundation/gui/scroll_box.h"

#include <QScrollBar>

namespace zn::foundation::gui {

TRSScrollBox::TRSScrollBox(QWidget* parent) : QScrollArea(parent)
{
    for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
        bar->setTracking(true);
        // actionTriggered comes before the bar moves, so OnScroll fires first.
        connect(bar, &QScrollBar::actionTriggered, this, [this](int) { emit OnScroll(); });
    }
}

} // namespace zn::foundation::gui
