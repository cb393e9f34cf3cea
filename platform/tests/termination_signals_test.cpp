// SIGTERM and SIGINT reach the program's callback on its event loop, and the process then ends as
// the signal would have ended it; a second signal while the callback works ends it at once.
#include "platform/termination_signals.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Ending {
    int signal;
    bool slowCallback; // the callback is still at work when a second signal comes
};

class TerminationSignals : public ::testing::TestWithParam<Ending> {};

TEST_P(TerminationSignals, EndTheProgramThroughItsCallback)
{
    const Ending e = GetParam();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        int argc = 1;
        char name[] = "child";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        zn::platform::WatchTerminationSignals([&](int signal) {
            // What the program does on the way out: here, tell the parent which signal came.
            const char c = char(signal);
            [[maybe_unused]] ssize_t n = ::write(ready[1], &c, 1);
            if (e.slowCallback)
                ::pause(); // the second signal ends the process here
            QCoreApplication::exit(0);
        });
        QTimer::singleShot(0, [&] { [[maybe_unused]] ssize_t n = ::write(ready[1], "r", 1); });
        app.exec();
        if (const int signal = zn::platform::TerminationSignal())
            zn::platform::EndAsSignalled(signal);
        ::_exit(0);
    }
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'r') << "the child's event loop runs";
    ::kill(pid, e.signal);
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(int(c), e.signal) << "the callback ran with the signal";
    if (e.slowCallback)
        ::kill(pid, e.signal);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), e.signal);
    ::close(ready[0]);
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationSignals,
                         ::testing::Values(Ending{SIGTERM, false}, Ending{SIGINT, false}, Ending{SIGTERM, true}),
                         [](const auto& info) {
                             return std::string(info.param.signal == SIGTERM ? "Term" : "Int")
                                    + (info.param.slowCallback ? "Twice" : "Once");
                         });

} // namespace
