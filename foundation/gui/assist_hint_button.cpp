#include "foundation/gui/assist_hint_button.h"

#include "foundation/gui/assistant_help.h"

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

TAssistShowHintSpeedbutton* MakeTipButton(QWidget* parent, const char* name, const QStringList& lines,
                                          const QString& boxCaption, const QString& text)
{
    auto* tip = new TAssistShowHintSpeedbutton(parent);
    tip->setObjectName(name);
    tip->setText(text);
    tip->SetAssistLines(lines);
    QObject::connect(tip, &QToolButton::clicked, tip, [tip, boxCaption] {
        if (!tip->AssistLines().isEmpty())
            ShowAssistantHelpText(tip->AssistLines(), boxCaption);
    });
    return tip;
}

} // namespace zn::foundation::gui
