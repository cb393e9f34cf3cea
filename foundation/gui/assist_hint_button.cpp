#include "foundation/gui/assist_hint_button.h"

namespace zn::foundation::gui {

TAssistShowHintSpeedbutton::TAssistShowHintSpeedbutton(QWidget* parent) : QToolButton(parent)
{
    setText("?");
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
}

void TAssistShowHintSpeedbutton::Loaded()
{
    if (!HintControl || !AlignTop || !parentWidget())
        return;
    const int controlTop = parentWidget()->mapFromGlobal(HintControl->mapToGlobal(QPoint(0, 0))).y();
    if (controlTop != y())
        move(x(), controlTop);
}

} // namespace zn::foundation::gui
