// Waitable events over eventfd: a thread can poll() one together with a serial descriptor.
#pragma once
#include <cstdint>
#include <vector>

namespace zn::platform {

class Event {
public:
    explicit Event(bool manualReset = false, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Waits up to timeoutMs (-1: for ever). True when the event was set; an auto-reset event is
    // reset by a successful wait.
    bool Wait(int timeoutMs);
    bool IsSet() const;
    int Fd() const { return fd_; } // readable (POLLIN) while set
    // After poll() reported Fd() readable: consume the signal as Wait() would. True if it was set.
    bool Consume();

private:
    int fd_ = -1;
    bool manualReset_;
};

// Waits for any of the events, up to timeoutMs (-1: for ever). Returns the index of the first one
// set (consumed as Wait() would), or -1 on time-out (at once for an empty list).
int WaitForAny(const std::vector<Event*>& events, int timeoutMs);

} // namespace zn::platform
