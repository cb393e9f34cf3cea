#include "message_box.h"
#include "window_title.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace zn::platform {
namespace {

std::mutex hookMutex;
MessageBoxHook hook;

struct ButtonSet {
    std::vector<std::pair<QMessageBox::StandardButton, int>> buttons; // in Windows' order
};

// The buttons of each MB_ type, left to right, with their answers.
ButtonSet ButtonsFor(unsigned flags)
{
    using B = QMessageBox;
    switch (flags & 0xF) {
    case MB_OKCANCEL: return {{{B::Ok, IDOK}, {B::Cancel, IDCANCEL}}};
    case MB_ABORTRETRYIGNORE: return {{{B::Abort, IDABORT}, {B::Retry, IDRETRY}, {B::Ignore, IDIGNORE}}};
    case MB_YESNOCANCEL: return {{{B::Yes, IDYES}, {B::No, IDNO}, {B::Cancel, IDCANCEL}}};
    case MB_YESNO: return {{{B::Yes, IDYES}, {B::No, IDNO}}};
    case MB_RETRYCANCEL: return {{{B::Retry, IDRETRY}, {B::Cancel, IDCANCEL}}};
    default: return {{{B::Ok, IDOK}}};
    }
}

QMessageBox::Icon IconFor(unsigned flags)
{
    switch (flags & 0xF0) {
    case MB_ICONHAND: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONASTERISK: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

size_t DefaultIndex(unsigned flags, size_t count)
{
    const size_t index = (flags >> 8) & 0x3;
    return index < count ? index : 0;
}

// The answer of a box closed without a button: Esc, or the window closed.
int DismissAnswer(const ButtonSet& set)
{
    for (const auto& [button, id] : set.buttons) {
        if (id == IDCANCEL)
            return IDCANCEL;
    }
    if (set.buttons.size() == 1)
        return set.buttons.front().second;
    return (set.buttons.front().second == IDYES) ? IDNO : IDCANCEL;
}

QString DisplayText(const std::string& text)
{
    QString s = QString::fromStdString(text);
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

int ShowOnThisThread(const std::string& text, const std::string& caption, unsigned flags)
{
    const ButtonSet set = ButtonsFor(flags);
    QMessageBox box(IconFor(flags), QString::fromStdString(caption), DisplayText(text), QMessageBox::NoButton,
                    QApplication::activeWindow());
    // The box sizes itself by its text (and a title bar font's guess) whenever it lays itself out;
    // its text label is what holds it open for a caption longer than the text ("Save changes?"
    // under "Save Preferences"). A least width set on the label stands in the layout for the
    // width of its text, so it is set only where the caption needs more than the text: below
    // that it would cut the text ("Please enter a recipient fax num").
    if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) {
        const int caption = WidthForTitle(box.windowTitle());
        if (caption > label->minimumSizeHint().width())
            label->setMinimumWidth(caption);
    }
    std::vector<std::pair<QAbstractButton*, int>> made;
    QAbstractButton* cancel = nullptr;
    for (const auto& [standard, id] : set.buttons) {
        QAbstractButton* b = box.addButton(standard);
        made.emplace_back(b, id);
        if (id == IDCANCEL || (set.buttons.size() == 1 && id == IDOK))
            cancel = b;
    }
    box.setDefaultButton(static_cast<QPushButton*>(made[DefaultIndex(flags, made.size())].first));
    if (cancel)
        box.setEscapeButton(cancel);
    box.exec();
    for (const auto& [button, id] : made) {
        if (box.clickedButton() == button)
            return id;
    }
    return DismissAnswer(set);
}

} // namespace

int MessageBoxShow(const std::string& text, const std::string& caption, unsigned flags)
{
    MessageBoxHook current;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        current = hook;
    }
    if (current)
        return current(text, caption, flags);

    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), DisplayText(text).toLocal8Bit().constData());
        const ButtonSet set = ButtonsFor(flags);
        return set.buttons[DefaultIndex(flags, set.buttons.size())].second;
    }
    if (QThread::currentThread() == app->thread())
        return ShowOnThisThread(text, caption, flags);
    int answer = IDCANCEL;
    QMetaObject::invokeMethod(
        app, [&] { answer = ShowOnThisThread(text, caption, flags); }, Qt::BlockingQueuedConnection);
    return answer;
}

void SetMessageBoxHook(MessageBoxHook newHook)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    hook = std::move(newHook);
}

} // namespace zn::platform
