// The tray icon's mouse messages, tip and icon cycle.
#include "ptf/tray_icon.h"

#include <QCoreApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zn::ptf {
namespace {

struct TrayIconEvents : ::testing::Test {
    QWidget owner;
    TTrayIcon tray{&owner};
    std::vector<std::string> events;
    int popups = 0;
    QMenu menu;

    void SetUp() override
    {
        tray.OnMouseDown = [this](TTrayIcon&, TMouseButton b, Qt::KeyboardModifiers, int, int) {
            events.push_back(b == TMouseButton::mbLeft    ? "down left"
                             : b == TMouseButton::mbRight ? "down right"
                                                          : "down middle");
        };
        tray.OnMouseUp = [this](TTrayIcon&, TMouseButton b, Qt::KeyboardModifiers, int, int) {
            events.push_back(b == TMouseButton::mbLeft    ? "up left"
                             : b == TMouseButton::mbRight ? "up right"
                                                          : "up middle");
        };
        tray.OnClick = [this](TTrayIcon&) { events.push_back("click"); };
        tray.OnDblClick = [this](TTrayIcon&) { events.push_back("double click"); };
        tray.PopupAt = [this](QMenu*, QPoint) { ++popups; };
        tray.PopupMenu = &menu;
    }
};

TEST_F(TrayIconEvents, MessagesBecomeEventsInTheirOrder)
{
    using T = TTrayIcon;
    struct Case {
        std::vector<int> messages;
        std::vector<std::string> events;
        int popups;
    } cases[] = {
        {{T::WM_LBUTTONDOWN, T::WM_LBUTTONUP}, {"down left", "click", "up left"}, 0},
        {{T::WM_LBUTTONUP}, {"up left"}, 0}, // no down on the icon: no click
        {{T::WM_RBUTTONDOWN, T::WM_RBUTTONUP}, {"down right", "up right"}, 1},
        {{T::WM_MBUTTONDOWN, T::WM_MBUTTONUP}, {"down middle", "up middle"}, 0},
        {{T::WM_LBUTTONDBLCLK}, {"double click"}, 0},
    };
    for (const Case& c : cases) {
        events.clear();
        popups = 0;
        for (int m : c.messages)
            tray.HandleTrayMessage(m);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(popups, c.popups);
    }
}

TEST_F(TrayIconEvents, LeftPopupAndDisabledIcon)
{
    tray.LeftPopup = true;
    tray.HandleTrayMessage(TTrayIcon::WM_LBUTTONDOWN);
    EXPECT_EQ(popups, 1);
    tray.Enabled = false;
    events.clear();
    for (int m : {TTrayIcon::WM_LBUTTONDOWN, TTrayIcon::WM_LBUTTONUP, TTrayIcon::WM_RBUTTONDOWN})
        tray.HandleTrayMessage(m);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(popups, 1);
}

TEST_F(TrayIconEvents, DoubleClickClicksTheMenusDefaultItem)
{
    QAction* first = menu.addAction("First");
    QAction* chosen = menu.addAction("Chosen");
    menu.setDefaultAction(chosen);
    int triggered = 0;
    QObject::connect(chosen, &QAction::triggered, [&] { ++triggered; });
    QObject::connect(first, &QAction::triggered, [&] { triggered += 100; });
    tray.HandleTrayMessage(TTrayIcon::WM_LBUTTONDBLCLK);
    EXPECT_EQ(triggered, 1);
}

TEST(TrayIcon, TheTipIsTheHintCutTo63CharactersWhileShowHint)
{
    QWidget owner;
    TTrayIcon tray(&owner);
    const QString hint(80, 'h');
    tray.SetHint(hint);
    EXPECT_EQ(tray.TipText(), ""); // ShowHint starts false
    tray.SetShowHint(true);
    EXPECT_EQ(tray.TipText(), hint.left(63));
    EXPECT_EQ(tray.SystemTrayIcon()->toolTip(), hint.left(63));
}

TEST(TrayIcon, CyclingShowsEachIconInTurn)
{
    QWidget owner;
    TTrayIcon tray(&owner);
    std::vector<int> shown;
    tray.OnCycle = [&](TTrayIcon&, int current) { shown.push_back(current); };
    tray.SetIconList({ProgramIcon(), QIcon(), ProgramIcon()});
    tray.SetCycleIcons(true);
    for (int i = 0; i < 4; ++i)
        tray.CycleTick();
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 0}));
}

TEST(TrayIcon, MinimisingTheOwnerHidesItAndKeepsTheIcon)
{
    QWidget owner;
    TTrayIcon tray(&owner);
    tray.MinimizeToTray = true;
    tray.SetIconVisible(false);
    owner.show();
    owner.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_FALSE(owner.isVisible());
    EXPECT_TRUE(tray.IconVisible());
}

} // namespace
} // namespace zn::ptf
