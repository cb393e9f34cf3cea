#include "foundation/gui/enter_edit.h"

#include <QKeyEvent>

namespace zn::foundation::gui {

void TEnterEdit::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        // The key is eaten here, so it neither reaches the dialog's default button nor the text.
        focusNextPrevChild(true);
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

} // namespace zn::foundation::gui
