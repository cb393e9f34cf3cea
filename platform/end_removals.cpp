#include "platform/end_removals.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <mutex>
#include <unistd.h>

namespace zn::platform {

namespace {

// A signal handler may only read plain memory, so the paths live in fixed slots: a slot's path and
// owner are complete before its flag is raised.
constexpr int kSlots = 64;
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<bool> ready{false};
    pid_t owner = 0;
    char path[PATH_MAX] = {};
};
// Every member initialised: the slots are set up at compile time, and a program start does not
// touch the pages of all of them.
Slot slots[kSlots];

extern "C" void RemoveFilesAndEnd(int signal)
{
    RemoveFilesAtEnd();
    std::signal(signal, SIG_DFL);
    ::raise(signal); // delivered once the handler returns; a crash recurs with the default action
}

extern "C" void RemoveFilesAtExit() { RemoveFilesAtEnd(); }

// Only where nobody has taken the signal for himself: the process still ends as before. A signal
// the program ignores (SIGHUP under nohup) stays ignored.
void InstallRemoval()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ,
                           SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL
                || (current.sa_flags & SA_SIGINFO))
                continue;
            struct sigaction mine {};
            mine.sa_handler = RemoveFilesAndEnd;
            sigemptyset(&mine.sa_mask);
            mine.sa_flags = SA_RESETHAND;
            ::sigaction(signal, &mine, nullptr);
        }
        std::atexit(RemoveFilesAtExit);
    });
}

} // namespace

int RemoveAtEnd(const std::string& path)
{
    if (path.size() >= PATH_MAX)
        return -1;
    InstallRemoval();
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (slots[i].used.compare_exchange_strong(expected, true)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].owner = ::getpid();
            slots[i].ready.store(true);
            return i;
        }
    }
    return -1;
}

void KeepAtEnd(int& slot)
{
    if (slot < 0 || slot >= kSlots)
        return;
    slots[slot].ready.store(false);
    slots[slot].used.store(false);
    slot = -1;
}

void RemoveFilesAtEnd()
{
    const pid_t self = ::getpid();
    for (Slot& s : slots)
        if (s.ready.load() && s.owner == self)
            ::unlink(s.path);
}

} // namespace zn::platform
