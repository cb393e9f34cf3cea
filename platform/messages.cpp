#include "messages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace zn::platform {
namespace {

std::atomic<bool> quitRequested{false};

// Sees QCoreApplication's quit event, and whether the application accepted it (a window may refuse
// to close).
class QuitWatch : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        if (event->type() != QEvent::Quit || target != QCoreApplication::instance())
            return false;
        event->accept();
        static_cast<QObject*>(target)->event(event);
        if (event->isAccepted())
            quitRequested = true;
        return true;
    }
};

void InstallQuitWatch()
{
    static std::atomic<QCoreApplication*> watched{nullptr};
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread() || watched.exchange(app) == app)
        return;
    app->installEventFilter(new QuitWatch(app));
}
Q_COREAPP_STARTUP_FUNCTION(InstallQuitWatch)

// The state of one SendMessageTimeout, shared by the sender and the window's thread.
struct SendState {
    enum Stage { Pending, Running, Done, Dropped };
    std::mutex mutex;
    std::condition_variable changed;
    Stage stage = Pending;
    bool abandoned = false; // the sender gave up before the handler started
    LResult result = 0;

    void Finish(Stage last, LResult value = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        stage = last;
        result = value;
        changed.notify_all();
    }
};

struct Item {
    std::weak_ptr<MessageWindow::Impl> window;
    uint32_t handle;
    uint32_t msg;
    WParam w;
    LParam l;
    std::shared_ptr<SendState> send; // null for a posted message
};

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// The messages waiting for the windows of one thread. Each queued message posts one wake event, so
// that whatever loop the thread runs delivers it; PumpOneMessage may take it first.
class ThreadQueue : public QObject {
public:
    void Push(Item item)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            items_.push_back(std::move(item));
        }
        QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
    }

    bool Take(Item& item)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (items_.empty())
            return false;
        item = std::move(items_.front());
        items_.pop_front();
        return true;
    }

    void DropFor(uint32_t handle)
    {
        std::deque<Item> dropped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto it = items_.begin(); it != items_.end();) {
                if (it->handle == handle) {
                    dropped.push_back(std::move(*it));
                    it = items_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& item : dropped) {
            if (item.send)
                item.send->Finish(SendState::Dropped);
        }
    }

protected:
    bool event(QEvent* e) override;

private:
    std::mutex mutex_;
    std::deque<Item> items_;
};

std::shared_ptr<ThreadQueue> CurrentThreadQueue(bool create)
{
    thread_local std::shared_ptr<ThreadQueue> queue;
    if (!queue && create)
        queue = std::make_shared<ThreadQueue>();
    return queue;
}

} // namespace

struct MessageWindow::Impl {
    std::string title;
    Handler handler;
    uint32_t handle;
    QThread* thread;
    std::shared_ptr<ThreadQueue> queue;
    std::atomic<bool> alive{true};
};

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<uint32_t, std::weak_ptr<MessageWindow::Impl>> windows;
    uint32_t lastHandle = 0;
};

Registry& Windows()
{
    static Registry registry;
    return registry;
}

std::shared_ptr<MessageWindow::Impl> FindWindow(uint32_t handle)
{
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(handle);
    if (it == r.windows.end())
        return nullptr;
    auto impl = it->second.lock();
    return impl && impl->alive ? impl : nullptr;
}

LResult CallHandler(MessageWindow::Impl& impl, uint32_t msg, WParam w, LParam l)
{
    // No exception may leave through Qt's event loop.
    try {
        return impl.handler(msg, w, l);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zn: message %u to window \"%s\" failed: %s\n", msg, impl.title.c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "zn: message %u to window \"%s\" failed\n", msg, impl.title.c_str());
    }
    return 0;
}

// Runs one queued message. False when there was nothing to run (window gone, send abandoned).
bool Dispatch(const Item& item)
{
    auto impl = item.window.lock();
    if (!impl || !impl->alive) {
        if (item.send)
            item.send->Finish(SendState::Dropped);
        return false;
    }
    if (!item.send) {
        CallHandler(*impl, item.msg, item.w, item.l);
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(item.send->mutex);
        if (item.send->abandoned)
            return false;
        item.send->stage = SendState::Running;
    }
    const LResult result = CallHandler(*impl, item.msg, item.w, item.l);
    item.send->Finish(SendState::Done, result);
    return true;
}

bool ThreadQueue::event(QEvent* e)
{
    if (e->type() != kWakeEvent)
        return QObject::event(e);
    Item item;
    while (Take(item) && !Dispatch(item)) {}
    return true;
}

void PushTo(MessageWindow::Impl& impl, Item item)
{
    impl.queue->Push(std::move(item));
    // The window may have gone after it was found and before the push: its destructor's sweep
    // then missed this message, so sweep again.
    if (!impl.alive)
        impl.queue->DropFor(impl.handle);
}

bool Enqueue(uint32_t window, uint32_t msg, WParam w, LParam l, std::shared_ptr<SendState> send)
{
    auto impl = FindWindow(window);
    if (!impl)
        return false;
    PushTo(*impl, Item{impl, window, msg, w, l, std::move(send)});
    return true;
}

} // namespace

MessageWindow::MessageWindow(std::string title, Handler handler) : impl_(std::make_shared<Impl>())
{
    InstallQuitWatch();
    impl_->title = std::move(title);
    impl_->handler = std::move(handler);
    impl_->thread = QThread::currentThread();
    impl_->queue = CurrentThreadQueue(true);
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    do {
        ++r.lastHandle;
    } while (r.lastHandle == 0 || r.windows.count(r.lastHandle));
    impl_->handle = r.lastHandle;
    r.windows[impl_->handle] = impl_;
}

MessageWindow::~MessageWindow()
{
    impl_->alive = false;
    {
        Registry& r = Windows();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.windows.erase(impl_->handle);
    }
    impl_->queue->DropFor(impl_->handle);
}

const std::string& MessageWindow::Title() const { return impl_->title; }

uint32_t MessageWindow::Handle() const { return impl_->handle; }

bool PostMessageTo(uint32_t window, uint32_t msg, WParam w, LParam l) { return Enqueue(window, msg, w, l, nullptr); }

bool SendMessageTimeout(uint32_t window, uint32_t msg, WParam w, LParam l, int timeoutMs, LResult* result)
{
    auto impl = FindWindow(window);
    if (!impl)
        return false;
    if (impl->thread == QThread::currentThread()) {
        const LResult r = CallHandler(*impl, msg, w, l);
        if (result)
            *result = r;
        return true;
    }
    auto send = std::make_shared<SendState>();
    PushTo(*impl, Item{impl, window, msg, w, l, send});
    impl.reset(); // the window may go while we wait

    std::unique_lock<std::mutex> lock(send->mutex);
    send->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                           [&] { return send->stage == SendState::Done || send->stage == SendState::Dropped; });
    if (send->stage == SendState::Done) {
        if (result)
            *result = send->result;
        return true;
    }
    if (send->stage == SendState::Pending)
        send->abandoned = true;
    return false;
}

// A quit request belongs to the GUI thread's queue, as WM_QUIT to the thread it was posted to.
bool QuitPendingHere()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return quitRequested && app && app->thread() == QThread::currentThread();
}

uint32_t PumpOneMessage()
{
    InstallQuitWatch();
    if (QuitPendingHere())
        return WM_QUIT_MSG;
    if (auto queue = CurrentThreadQueue(false)) {
        Item item;
        while (queue->Take(item)) {
            if (Dispatch(item))
                return (item.msg & 0xFFFF) | ((item.handle & 0xFFFF) << 16);
        }
    }
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    if (!dispatcher)
        return 0;
    const bool any = dispatcher->processEvents(QEventLoop::AllEvents);
    if (QuitPendingHere())
        return WM_QUIT_MSG;
    return any ? QT_EVENTS_MSG : 0;
}

bool QuitRequested() { return quitRequested; }

void PostQuitMessage(int exitCode)
{
    quitRequested = true;
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [exitCode] { QCoreApplication::exit(exitCode); }, Qt::AutoConnection);
}

void ClearQuitRequest() { quitRequested = false; }

} // namespace zn::platform
