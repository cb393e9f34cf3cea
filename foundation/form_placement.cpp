#include "foundation/form_placement.h"

#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "foundation/text_values.h"
#include "platform/ini_file.h"
#include "platform/window_title.h"

#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace zn::foundation {

namespace {

QPointer<QWidget>& MainFormPointer()
{
    static QPointer<QWidget> form;
    return form;
}

constexpr int kSmallestPlacement = 100;

// A form's rectangle as Windows keeps it: right and bottom are exclusive.
PlacementRect RectOf(const QRect& r) { return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }

void SetBounds(QWidget& form, const PlacementRect& r)
{
    form.setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// The rectangle of a form that is not maximised.
QRect NormalRect(const QWidget& form)
{
    if (form.isMaximized() || form.isMinimized()) {
        const QRect normal = form.normalGeometry();
        if (normal.isValid())
            return normal;
    }
    return form.geometry();
}

} // namespace

void SetMainForm(QWidget* form) { MainFormPointer() = form; }

QWidget* MainForm() { return MainFormPointer().data(); }

std::string FormClassName(const QWidget& form)
{
    std::string name = form.metaObject()->className();
    const auto colons = name.rfind("::");
    return colons == std::string::npos ? name : name.substr(colons + 2);
}

ScreenMetrics PrimaryScreen()
{
    ScreenMetrics metrics;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        metrics.width = screen->geometry().width();
        metrics.height = screen->geometry().height();
        metrics.pixelsPerInch = static_cast<int>(std::lround(screen->logicalDotsPerInch()));
    }
    return metrics;
}

void CenterForm(QWidget& form) { CenterForm(form, PrimaryScreen()); }

void CenterForm(QWidget& form, const ScreenMetrics& screen)
{
    const std::string upper = UpperCase(FormClassName(form));
    const QWidget* mainForm = MainForm();
    platform::MakeRoomForTitle(form); // before the size it is placed by is taken
    // A form that nobody sized takes its layout's size only when it is first shown; place it by
    // that size, not by the toolkit's default one.
    if (!form.isVisible() && !form.testAttribute(Qt::WA_Resized))
        form.adjustSize();
    const int width = form.width();
    const int height = form.height();
    if (upper == "TMAINSCREEN" || !mainForm || mainForm == &form || mainForm->isMaximized()) {
        form.move((screen.width - width) / 2, (screen.height - height) / 2);
    } else {
        form.move(mainForm->x() + (mainForm->width() - width) / 2, mainForm->y() + (mainForm->height() - height) / 2);
    }
    if (form.windowFlags() & Qt::WindowMaximizeButtonHint)
        form.setWindowFlags(form.windowFlags() | Qt::WindowSystemMenuHint);
}

std::string PlacementSectionName(const std::string& className, int pixelsPerInch)
{
    std::string section = className + "_Placement";
    if (pixelsPerInch > 96)
        section += std::to_string(pixelsPerInch);
    return section;
}

bool PlacementFitsScreen(const PlacementRect& r, const ScreenMetrics& screen)
{
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    auto within = [](int value, int limit) { return value >= 0 && value <= limit; };
    return r.left <= r.right && r.top <= r.bottom && width >= kSmallestPlacement && height >= kSmallestPlacement
           && width <= screen.width && height <= screen.height && within(r.left, screen.width)
           && within(r.right, screen.width) && within(r.top, screen.height) && within(r.bottom, screen.height);
}

void LoadFormPlacement(QWidget& form) { LoadFormPlacement(form, PrimaryScreen()); }

void LoadFormPlacement(QWidget& form, const ScreenMetrics& screen)
{
    const std::string section = PlacementSectionName(FormClassName(form), screen.pixelsPerInch);
    const bool maximizedNow = form.isMaximized();
    const platform::IniFile ini(GetIniFileName());
    PlacementRect r;
    r.left = ini.ReadInteger(section, "Left", 0);
    r.top = ini.ReadInteger(section, "Top", 0);
    r.right = ini.ReadInteger(section, "Right", 0);
    r.bottom = ini.ReadInteger(section, "Bottom", 0);
    if (ini.ReadBool(section, "Maximized", maximizedNow)) {
        form.setWindowState(form.windowState() | Qt::WindowMaximized);
        return;
    }
    if (r.bottom == 0) { // nothing stored yet
        CenterForm(form, screen);
        r = RectOf(form.geometry());
    }
    if (PlacementFitsScreen(r, screen)) {
        SetBounds(form, r);
    } else {
        CenterForm(form, screen);
        SetBounds(form, RectOf(form.geometry()));
    }
}

void SaveFormPlacement(QWidget& form) { SaveFormPlacement(form, PrimaryScreen()); }

void SaveFormPlacement(QWidget& form, const ScreenMetrics& screen)
{
    const std::string section = PlacementSectionName(FormClassName(form), screen.pixelsPerInch);
    const PlacementRect r = RectOf(NormalRect(form));
    platform::IniFile ini(GetIniFileName());
    const bool written = ini.WriteInteger(section, "Left", r.left) && ini.WriteInteger(section, "Top", r.top)
                         && ini.WriteInteger(section, "Right", r.right) && ini.WriteInteger(section, "Bottom", r.bottom)
                         && ini.WriteBool(section, "Maximized", form.isMaximized());
    if (!written)
        throw IniFileError(ini.Path());
}

void PopupMenuBelowButton(QWidget& button, QMenu& menu) { menu.popup(button.mapToGlobal(QPoint(0, button.height()))); }

} // namespace zn::foundation
