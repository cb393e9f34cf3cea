// An edit box in which Enter moves on to the next box to fill in instead of closing the dialog.
#pragma once
#include <QLineEdit>

namespace zn::foundation::gui {

class TEnterEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEnterEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    // The next control in tab order that takes typed text, before the order wraps round to the
    // window's first control; none when there is no such box after this one.
    QWidget* NextBox() const;
};

} // namespace zn::foundation::gui
