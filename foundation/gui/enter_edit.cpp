#include "foundation/gui/enter_edit.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace zn::foundation::gui {
namespace {

bool TakesText(const QWidget* w)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(w))
        return !line->isReadOnly();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(w))
        return !plain->isReadOnly();
    if (const auto* rich = qobject_cast<const QTextEdit*>(w))
        return !rich->isReadOnly();
    if (const auto* combo = qobject_cast<const QComboBox*>(w))
        return combo->isEditable();
    return qobject_cast<const QAbstractSpinBox*>(w) != nullptr;
}

} // namespace

QWidget* TEnterEdit::NextBox() const
{
    // The focus chain runs through the window itself where the tab order starts again.
    for (QWidget* w = nextInFocusChain(); w && w != this && w != window(); w = w->nextInFocusChain()) {
        if (w->window() == window() && (w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled()
            && TakesText(w))
            return w;
    }
    return nullptr;
}

void TEnterEdit::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        // The key is eaten here, so it neither reaches the dialog's default button nor the text.
        // It takes the user on to the next box to fill in: buttons on the way (the Phonebook
        // button beside a recipient) are passed over, so what is typed next lands in that box.
        if (QWidget* box = NextBox())
            box->setFocus(Qt::TabFocusReason);
        else
            focusNextPrevChild(true);
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

} // namespace zn::foundation::gui
