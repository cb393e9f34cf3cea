#include "platform/user_clicks.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace zn::platform {

namespace {

// X11 protocol event codes (the first byte of every event, its top bit marking a sent event).
constexpr uint8_t kX11ButtonPress = 4;
constexpr uint8_t kX11FocusIn = 9;
// A busy window manager may restack the windows a while after the click.
constexpr int kWindowManagerDelaysMs[] = {150, 500};

class ClickFilter : public QAbstractNativeEventFilter {
public:
    struct Watch {
        QPointer<QObject> context;
        std::function<void()> then;
    };
    std::vector<Watch> watches;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const uint8_t type = *static_cast<const uint8_t*>(message) & 0x7f;
        if (type != kX11ButtonPress && type != kX11FocusIn)
            return false;
        watches.erase(std::remove_if(watches.begin(), watches.end(), [](const Watch& w) { return w.context.isNull(); }),
                      watches.end());
        for (const Watch& w : watches) {
            // After the toolkit has dealt with the event, and again once the window manager has.
            QTimer::singleShot(0, w.context, w.then);
            for (int delay : kWindowManagerDelaysMs)
                QTimer::singleShot(delay, w.context, w.then);
        }
        return false;
    }
};

ClickFilter& Filter()
{
    static ClickFilter* filter = [] {
        auto* f = new ClickFilter; // lives as long as the application that holds it
        QCoreApplication::instance()->installNativeEventFilter(f);
        return f;
    }();
    return *filter;
}

} // namespace

void WatchUserClicks(QObject* context, std::function<void()> then)
{
    if (!QCoreApplication::instance())
        return;
    Filter().watches.push_back({context, std::move(then)});
}

} // namespace zn::platform
