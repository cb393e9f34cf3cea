// An edit box in which Enter moves on to the next control instead of closing the dialog.
#pragma once
#include <QLineEdit>

namespace zn::foundation::gui {

class TEnterEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEnterEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

protected:
    void keyPressEvent(QKeyEvent* e) override;
};

} // namespace zn::foundation::gui
