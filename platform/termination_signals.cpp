#include "platform/termination_signals.h"

#include "platform/end_removals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace zn::platform {

namespace {

std::atomic<int> receivedSignal{0};
int wakePipe[2] = {-1, -1};

std::function<void(int)>& Callback()
{
    static std::function<void(int)> callback;
    return callback;
}

void NoteSignal(int signal)
{
    if (receivedSignal.load() != 0) {
        // A second signal while the program winds down ends it at once, as the signal would, but
        // without leaving its lock files and unfinished temporaries behind.
        RemoveFilesAtEnd();
        std::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    const int savedErrno = errno;
    receivedSignal.store(signal);
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void WatchTerminationSignals(std::function<void(int signal)> onSignal)
{
    Callback() = std::move(onSignal);
    if (wakePipe[0] >= 0)
        return;
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no pipe: the signals keep their usual effect
    auto* notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char bytes[16];
        while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {}
        if (Callback())
            Callback()(receivedSignal.load());
        else
            QCoreApplication::exit(1);
    });
    for (int signal : {SIGTERM, SIGINT}) {
        struct sigaction action {};
        action.sa_handler = NoteSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
}

int TerminationSignal() { return receivedSignal.load(); }

void EndAsSignalled(int signal)
{
    RemoveFilesAtEnd(); // whatever the orderly end could not let go of
    std::signal(signal, SIG_DFL);
    ::raise(signal);
    std::_Exit(128 + signal);
}

} // namespace zn::platform
