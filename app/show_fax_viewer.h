// Opening a fax file in a viewer window: the regular or the alternate one as the setting
// UseAlternateFaxViewer says, shown modally; when the user switches viewers from the menu, the other
// one opens on the same file. The main window's view commands call this.
#pragma once

#include <string>

class QWidget;

namespace zn::app {

void ShowFaxViewer(const std::string& fileName, const std::string& title, const std::string& headerText,
                   QWidget* parent = nullptr);

} // namespace zn::app
