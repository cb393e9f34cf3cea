// An icon in the desktop's notification area, its mouse actions as events, a menu popped up at the
// icon, an icon cycle, and a program kept off the task bar.
//
// The desktop tells us about the icon through QSystemTrayIcon, which reports clicks, double clicks
// and context requests rather than button downs and ups; each is turned into the mouse messages a
// notification callback gets (left down then up for a click, and so on) and handled by
// HandleTrayMessage, which tests call directly.
#pragma once
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace zn::ptf {

QIcon ProgramIcon();

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    // The mouse messages of the notification callback.
    static constexpr int WM_MOUSEMOVE = 512, WM_LBUTTONDOWN = 513, WM_LBUTTONUP = 514, WM_LBUTTONDBLCLK = 515,
                         WM_RBUTTONDOWN = 516, WM_RBUTTONUP = 517, WM_MBUTTONDOWN = 519, WM_MBUTTONUP = 520;
    // The tip holds 64 bytes with its terminating zero.
    static constexpr int kTipLength = 63;

    explicit TTrayIcon(QWidget* owner);
    ~TTrayIcon() override;

    // After the owner form is made: hides the program when StartMinimized, then shows or hides the
    // icon as IconVisible says.
    void Loaded();

    void SetHint(const QString& hint);
    const QString& Hint() const { return hint_; }
    void SetShowHint(bool show);
    bool ShowHint() const { return showHint_; }
    void SetIcon(const QIcon& icon);
    const QIcon& Icon() const { return icon_; }
    void SetIconVisible(bool visible);
    bool IconVisible() const { return iconVisible_; }
    void SetIconList(std::vector<QIcon> icons) { iconList_ = std::move(icons); }
    void SetCycleIcons(bool cycle);
    bool CycleIcons() const { return cycleIcons_; }
    void SetCycleInterval(unsigned ms);
    unsigned CycleInterval() const { return cycleInterval_; }
    bool Enabled = true;
    QMenu* PopupMenu = nullptr;
    bool LeftPopup = false;
    bool StartMinimized = false;
    bool MinimizeToTray = false;

    std::function<void(TTrayIcon&)> OnClick;
    std::function<void(TTrayIcon&)> OnDblClick;
    std::function<void(TTrayIcon&, TMouseButton, Qt::KeyboardModifiers, int x, int y)> OnMouseDown;
    std::function<void(TTrayIcon&, TMouseButton, Qt::KeyboardModifiers, int x, int y)> OnMouseUp;
    std::function<void(TTrayIcon&, Qt::KeyboardModifiers, int x, int y)> OnMouseMove;
    std::function<void(TTrayIcon&, int current)> OnCycle;

    // The tip the desktop shows: Hint cut to 63 characters while ShowHint, else empty.
    QString TipText() const;
    // One message of the notification callback, at the cursor's position.
    void HandleTrayMessage(int mouseMessage);
    // The cycle timer's tick.
    void CycleTick();
    // Where the menu pops up; tests replace it to see the pop-up without a modal menu loop.
    std::function<void(QMenu*, QPoint)> PopupAt;
    // The desktop's icon, for tests (null when the desktop has no notification area).
    QSystemTrayIcon* SystemTrayIcon() const { return tray_.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ModifyIcon();
    void PopupTheMenu();
    void DoMinimizeToTray();

    QWidget* owner_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QTimer cycleTimer_;
    QString hint_;
    bool showHint_ = false;
    QIcon icon_;
    bool iconVisible_ = true;
    std::vector<QIcon> iconList_;
    bool cycleIcons_ = false;
    unsigned cycleInterval_ = 0;
    int cyclePosition_ = 0;
    bool leftDown_ = false;
};

} // namespace zn::ptf
