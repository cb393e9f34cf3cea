// A small message layer: objects that live on the GUI thread receive messages posted or sent to them
// from any thread. Stands in for window handles, PostMessage and SendMessageTimeout.
//
// Messages travel through a queue per thread, woken through Qt's event loop: the thread's loop
// (exec, a modal dialog, or PumpOneMessage) delivers them in the order they were posted or sent.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zn::platform {

using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;

// A message target. Create it on a thread with a Qt event loop (the GUI thread); its handler runs
// there. Destroying it (on that thread) drops every message still queued for it and makes pending
// sends return false at once.
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
// Runs the handler on the window's thread and waits up to timeoutMs for its result. From the
// window's own thread the handler runs at once. False on time-out or when the window is gone; a call
// that timed out before its handler started is abandoned and never runs later (one that had already
// started finishes, and its result is dropped).
bool SendMessageTimeout(uint32_t window, uint32_t msg, WParam w, LParam l, int timeoutMs, LResult* result);

// Message number of a quit request.
constexpr uint32_t WM_QUIT_MSG = 18;
// What PumpOneMessage returns after delivering a batch of Qt's own events (input, paint, timers),
// which carry no message number.
constexpr uint32_t QT_EVENTS_MSG = 0xFFFF;

// Processes at most one pending message of the calling thread: the next message queued for a
// MessageWindow of this thread, or else one batch of Qt's own pending events. Never waits.
// A quit request (QCoreApplication::quit, the last window closing, PostQuitMessage) is not
// consumed: the loop that runs the program still ends.
// Returns 0 when nothing was pending, 18 on the GUI thread while a quit request is pending (other
// threads never see it), else the message number
// (low 16 bits) + window handle (low 16 bits) x 65536 of what was dispatched, or QT_EVENTS_MSG.
uint32_t PumpOneMessage();
// True once a quit request was made on the GUI thread's loop.
bool QuitRequested();
// Asks the GUI thread's loop to end with exitCode (QCoreApplication::exit) and marks the request.
void PostQuitMessage(int exitCode);
// Forgets a quit request, for a program (or test) that runs its loop again.
void ClearQuitRequest();

} // namespace zn::platform
