// A small tip button beside a control: its click shows the tip text it carries.
#pragma once
#include <QStringList>
#include <QToolButton>

namespace zn::foundation::gui {

class TAssistShowHintSpeedbutton : public QToolButton {
    Q_OBJECT
public:
    explicit TAssistShowHintSpeedbutton(QWidget* parent = nullptr);

    const QStringList& AssistLines() const { return assistLines_; }
    void SetAssistLines(const QStringList& lines) { assistLines_ = lines; }
    QWidget* HintControl = nullptr; // the control the tip is about
    bool AlignTop = true;

    // Once the form is laid out: lines the button up with the top of its control.
    void Loaded();

private:
    QStringList assistLines_;
};

// A tip button with its lines, captioned `text`: a click shows the lines in the help-text box under
// `boxCaption` (nothing when there are none).
TAssistShowHintSpeedbutton* MakeTipButton(QWidget* parent, const char* name, const QStringList& lines,
                                          const QString& boxCaption, const QString& text = "?");

} // namespace zn::foundation::gui
