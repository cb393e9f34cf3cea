#include "ptf/tray_icon.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace zn::ptf {

TTrayIcon::TTrayIcon(QWidget* owner) : QObject(owner), owner_(owner)
{
    tray_ = std::make_unique<QSystemTrayIcon>();
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        switch (reason) {
        case QSystemTrayIcon::Trigger:
            HandleTrayMessage(WM_LBUTTONDOWN);
            HandleTrayMessage(WM_LBUTTONUP);
            break;
        case QSystemTrayIcon::DoubleClick: HandleTrayMessage(WM_LBUTTONDBLCLK); break;
        case QSystemTrayIcon::Context:
            HandleTrayMessage(WM_RBUTTONDOWN);
            HandleTrayMessage(WM_RBUTTONUP);
            break;
        case QSystemTrayIcon::MiddleClick:
            HandleTrayMessage(WM_MBUTTONDOWN);
            HandleTrayMessage(WM_MBUTTONUP);
            break;
        default: break;
        }
    });
    cycleTimer_.setInterval(0);
    connect(&cycleTimer_, &QTimer::timeout, this, &TTrayIcon::CycleTick);
    PopupAt = [](QMenu* menu, QPoint at) { menu->exec(at); };
    if (owner_)
        owner_->installEventFilter(this);
}

TTrayIcon::~TTrayIcon()
{
    if (owner_)
        owner_->removeEventFilter(this);
    tray_->hide();
}

void TTrayIcon::Loaded()
{
    if (StartMinimized && owner_)
        owner_->hide();
    ModifyIcon();
    SetIconVisible(iconVisible_);
}

QString TTrayIcon::TipText() const { return showHint_ && !hint_.isEmpty() ? hint_.left(kTipLength) : QString(); }

void TTrayIcon::ModifyIcon()
{
    tray_->setIcon(icon_);
    tray_->setToolTip(TipText());
}

void TTrayIcon::SetHint(const QString& hint)
{
    hint_ = hint;
    ModifyIcon();
}

void TTrayIcon::SetShowHint(bool show)
{
    showHint_ = show;
    ModifyIcon();
}

void TTrayIcon::SetIcon(const QIcon& icon)
{
    icon_ = icon;
    ModifyIcon();
}

void TTrayIcon::SetIconVisible(bool visible)
{
    iconVisible_ = visible;
    if (visible)
        tray_->show();
    else
        tray_->hide();
}

void TTrayIcon::SetCycleIcons(bool cycle)
{
    cycleIcons_ = cycle;
    if (cycle)
        cyclePosition_ = 0;
    if (cycle)
        cycleTimer_.start(int(cycleInterval_));
    else
        cycleTimer_.stop();
}

void TTrayIcon::SetCycleInterval(unsigned ms)
{
    cycleInterval_ = ms;
    cycleTimer_.setInterval(int(ms));
}

void TTrayIcon::CycleTick()
{
    if (iconList_.empty())
        return;
    if (cyclePosition_ >= int(iconList_.size()))
        cyclePosition_ = 0;
    icon_ = iconList_[size_t(cyclePosition_)];
    if (OnCycle)
        OnCycle(*this, cyclePosition_);
    ModifyIcon();
    cyclePosition_ = cyclePosition_ + 1 >= int(iconList_.size()) ? 0 : cyclePosition_ + 1;
}

void TTrayIcon::HandleTrayMessage(int mouseMessage)
{
    if (!Enabled)
        return;
    const QPoint at = QCursor::pos();
    const Qt::KeyboardModifiers shift = QApplication::queryKeyboardModifiers();
    switch (mouseMessage) {
    case WM_MOUSEMOVE:
        if (OnMouseMove)
            OnMouseMove(*this, shift, at.x(), at.y());
        break;
    case WM_LBUTTONDOWN:
        if (OnMouseDown)
            OnMouseDown(*this, TMouseButton::mbLeft, shift, at.x(), at.y());
        leftDown_ = true;
        if (LeftPopup)
            PopupTheMenu();
        break;
    case WM_LBUTTONUP:
        if (leftDown_) {
            leftDown_ = false;
            if (OnClick)
                OnClick(*this);
        }
        if (OnMouseUp)
            OnMouseUp(*this, TMouseButton::mbLeft, shift, at.x(), at.y());
        break;
    case WM_LBUTTONDBLCLK:
        if (OnDblClick)
            OnDblClick(*this);
        if (PopupMenu && !LeftPopup) {
            for (QAction* action : PopupMenu->actions()) {
                if (PopupMenu->defaultAction() == action) {
                    action->trigger();
                    break;
                }
            }
        }
        break;
    case WM_RBUTTONDOWN:
        if (OnMouseDown)
            OnMouseDown(*this, TMouseButton::mbRight, shift, at.x(), at.y());
        PopupTheMenu();
        break;
    case WM_RBUTTONUP:
        if (OnMouseUp)
            OnMouseUp(*this, TMouseButton::mbRight, shift, at.x(), at.y());
        break;
    case WM_MBUTTONDOWN:
        if (OnMouseDown)
            OnMouseDown(*this, TMouseButton::mbMiddle, shift, at.x(), at.y());
        break;
    case WM_MBUTTONUP:
        if (OnMouseUp)
            OnMouseUp(*this, TMouseButton::mbMiddle, shift, at.x(), at.y());
        break;
    default: break;
    }
}

void TTrayIcon::PopupTheMenu()
{
    if (!PopupMenu)
        return;
    QApplication::processEvents();
    if (owner_)
        owner_->activateWindow();
    PopupAt(PopupMenu, QCursor::pos());
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == owner_ && event->type() == QEvent::WindowStateChange && MinimizeToTray && owner_->isMinimized())
        DoMinimizeToTray();
    return QObject::eventFilter(watched, event);
}

void TTrayIcon::DoMinimizeToTray()
{
    owner_->hide();
    SetIconVisible(true);
}

} // namespace zn::ptf
