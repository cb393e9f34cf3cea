// A small message layer: objects that live on the GUI thread receive messages posted or sent to them
// from any thread. Stands in for window handles, PostMessage and SendMessageTimeout.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zn::platform {

using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;

// A message target. Create it on the GUI thread; its handler runs there. Destroying it (on the GUI
// thread) drops every message still queued for it and makes pending sends return false.
class MessageWindow {
public:
    using Handler = std::function<LResult(uint32_t msg, WParam, LParam)>;
    MessageWindow(std::string title, Handler handler);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    const std::string& Title() const;
    uint32_t Handle() const; // non-zero, unique within the process

    struct Impl;
private:
    std::shared_ptr<Impl> impl_;
};

// Queues the message for the window's thread. False when the window no longer exists.
bool PostMessageTo(uint32_t window, uint32_t msg, WParam w, LParam l);
// Runs the handler on the window's thread and waits up to timeoutMs for its result. From the GUI
// thread itself the handler runs at once. False on time-out or when the window is gone; a call that
// timed out is abandoned and never runs later.
bool SendMessageTimeout(uint32_t window, uint32_t msg, WParam w, LParam l, int timeoutMs, LResult* result);

// Message number of a quit request.
constexpr uint32_t WM_QUIT_MSG = 18;

// Processes at most one pending event of the calling thread's Qt event loop. A quit request
// (QCoreApplication::quit / exit) is not consumed: it stays pending so that the main loop still ends.
// Returns 0 when nothing was pending, 18 when a quit request is pending, else the message number
// (low 16 bits) + window handle (low 16 bits) x 65536 of what was dispatched (non-zero).
uint32_t PumpOneMessage();
// True once a quit request was made on the GUI thread's loop.
bool QuitRequested();

} // namespace zn::platform
