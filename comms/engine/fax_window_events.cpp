// The engine messages as window messages to the fax component's hidden window.
#include "fax_session_glue.h"

#include "platform/messages.h"

namespace zn::comms {

namespace {
bool Send(uint32_t window, uint32_t msg, uintptr_t w, FaxSession& s, int timeoutMs, intptr_t* answer)
{
    platform::LResult r = 0;
    bool ok = platform::SendMessageTimeout(window, msg, w, reinterpret_cast<platform::LParam>(&s), timeoutMs, &r);
    if (answer)
        *answer = ok ? r : 0; // a call that timed out counts as "no entry" / "refused"
    return ok;
}
} // namespace

bool WindowFaxEvents::FaxNext(FaxSession& s)
{
    intptr_t a = 0;
    Send(window_, fmFaxNext, 0, s, 2000, &a);
    return a != 0;
}

void WindowFaxEvents::FaxStatus(FaxSession& s, bool first, bool last)
{
    Send(window_, fmFaxStatus, first ? 1 : last ? 2 : 0, s, 1000, nullptr);
}

void WindowFaxEvents::FaxLog(FaxSession& s, int code) { Send(window_, fmFaxLog, uintptr_t(code), s, 1000, nullptr); }
void WindowFaxEvents::FaxName(FaxSession& s) { Send(window_, fmFaxName, 0, s, 1000, nullptr); }

bool WindowFaxEvents::FaxAccept(FaxSession& s)
{
    intptr_t a = 0;
    Send(window_, fmFaxAccept, 0, s, 1000, &a);
    return a != 0;
}

void WindowFaxEvents::FaxError(FaxSession& s, int code)
{
    Send(window_, fmFaxError, uintptr_t(intptr_t(code)), s, 1000, nullptr);
}

void WindowFaxEvents::FaxFinish(FaxSession& s, int code)
{
    platform::PostMessageTo(window_, fmFaxFinish, uintptr_t(code) & 0xFFFF, reinterpret_cast<platform::LParam>(&s));
}

} // namespace zn::comms
