// Placing forms: centring before they are shown, and their placements kept in ZN.INI.
#pragma once
#include <string>

class QMenu;
class QWidget;

namespace zn::foundation {

// The application's main form, which other forms centre on (none: the screen).
void SetMainForm(QWidget* form);
QWidget* MainForm();

// A form's class name without its namespace ("TMainScreen"); forms declare Q_OBJECT so that it is
// their own.
std::string FormClassName(const QWidget& form);

struct ScreenMetrics {
    int width = 0;
    int height = 0;
    int pixelsPerInch = 96;
};
ScreenMetrics PrimaryScreen();

// The main window (class TMainScreen) and any form while the main form is maximised are centred on
// the screen; other forms on the main form. A form with a maximise button also gets the system menu.
void CenterForm(QWidget& form);
void CenterForm(QWidget& form, const ScreenMetrics& screen);

// [<class>_Placement], or [<class>_Placement<ppi>] above 96 pixels per inch.
std::string PlacementSectionName(const std::string& className, int pixelsPerInch);

struct PlacementRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};
// A stored rectangle is used only when it is at least 100 x 100, no larger than the screen and lies
// wholly on it.
bool PlacementFitsScreen(const PlacementRect& rect, const ScreenMetrics& screen);

void LoadFormPlacement(QWidget& form);
void LoadFormPlacement(QWidget& form, const ScreenMetrics& screen);
// Throws IniFileError when a write fails.
void SaveFormPlacement(QWidget& form);
void SaveFormPlacement(QWidget& form, const ScreenMetrics& screen);

// Pops the menu up at the button's bottom-left corner.
void PopupMenuBelowButton(QWidget& button, QMenu& menu);

} // namespace zn::foundation
