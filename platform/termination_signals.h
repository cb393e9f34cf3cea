// SIGTERM and SIGINT (a logout, a service stop, Ctrl+C) as an orderly end: the handler only notes
// the signal and wakes the event loop, and the program's own callback then runs on the thread of
// the event loop, where it may cancel a call, delete an unfinished file and close its port (which
// removes the port's lock files) before it quits. A second signal while that runs ends the process
// at once, as the signal normally would, once the files that go with the process are removed
// (platform/end_removals.h).
#pragma once

#include <functional>

namespace zn::platform {

// Needs a QCoreApplication; the callback runs on its thread. Installing again replaces the callback.
void WatchTerminationSignals(std::function<void(int signal)> onSignal);

// The signal that asked the program to end, or 0.
int TerminationSignal();

// Ends the process as `signal` would have ended it, so that the shell or the service manager sees
// the usual status. For use after the orderly end, once the program has let go of everything.
[[noreturn]] void EndAsSignalled(int signal);

} // namespace zn::platform
