// Controls as zn's forms place them: named after their component, with their hint and limits.
#pragma once
#include "foundation/form_controls.h"

#include <QApplication>
#include <QString>

namespace zn::app {

using foundation::ButtonRow;
using foundation::MakeButton;
using foundation::MakeEdit;

} // namespace zn::app

namespace zn::app {

// A text of the system as a label shows it: a carriage return starts a new line.
inline QString ShownText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// The hourglass cursor while a form talks to the modem.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace zn::app
