#include "event.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace zn::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Milliseconds left until deadline for poll(): -1 waits for ever.
int PollTimeout(bool forever, SteadyClock::time_point deadline)
{
    if (forever)
        return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left > 0 ? int(left) : 0;
}

// poll() that restarts after a signal. Returns the poll() result (0 on time-out).
int PollRestarting(pollfd* fds, size_t count, int timeoutMs)
{
    const bool forever = timeoutMs < 0;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    for (;;) {
        int n = poll(fds, count, PollTimeout(forever, deadline));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

} // namespace

Event::Event(bool manualReset, bool initiallySet)
    : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), manualReset_(manualReset)
{
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    if (initiallySet)
        Set();
}

Event::~Event() { close(fd_); }

void Event::Set()
{
    // The counter only ever says "set": several Set() calls still need one Reset().
    const uint64_t one = 1;
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {}
}

void Event::Reset()
{
    uint64_t count = 0;
    while (read(fd_, &count, sizeof count) < 0 && errno == EINTR) {}
}

bool Event::IsSet() const
{
    pollfd p{fd_, POLLIN, 0};
    return PollRestarting(&p, 1, 0) > 0;
}

bool Event::Consume()
{
    if (manualReset_)
        return IsSet();
    uint64_t count = 0;
    for (;;) {
        if (read(fd_, &count, sizeof count) == sizeof count)
            return count > 0;
        if (errno != EINTR)
            return false; // EAGAIN: another waiter took it first
    }
}

bool Event::Wait(int timeoutMs)
{
    Event* self = this;
    return WaitForAny({self}, timeoutMs) == 0;
}

int WaitForAny(const std::vector<Event*>& events, int timeoutMs)
{
    if (events.empty())
        return -1; // nothing could ever end a wait for ever
    std::vector<pollfd> fds(events.size());
    for (size_t i = 0; i < events.size(); ++i)
        fds[i] = pollfd{events[i]->Fd(), POLLIN, 0};
    const bool forever = timeoutMs < 0;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    for (;;) {
        int n = PollRestarting(fds.data(), fds.size(), PollTimeout(forever, deadline));
        if (n < 0)
            return -1;
        for (size_t i = 0; n > 0 && i < fds.size(); ++i) {
            // Another thread may have consumed an auto-reset event between poll() and here.
            if ((fds[i].revents & POLLIN) && events[i]->Consume())
                return int(i);
        }
        if (!forever && SteadyClock::now() >= deadline)
            return -1;
    }
}

} // namespace zn::platform
