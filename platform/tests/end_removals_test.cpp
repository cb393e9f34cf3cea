// Files that go with the process: a child process registers a file and ends in one of the ways a
// program ends; the file is gone afterwards, and the child ended as that way ends a process.
#include "platform/end_removals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "temp_folder.h"

namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void MakeFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
        ::close(fd);
}

enum class Ending { Exit, Hangup, BrokenPipe, Abort, Quit, Kept };

struct EndingCase {
    const char* name;
    Ending ending;
    int wantSignal; // 0: an exit with status 3
    bool removed;
};

class EndRemovals : public ::testing::TestWithParam<EndingCase> {};

TEST_P(EndRemovals, TakeTheFileWithTheProcess)
{
    const EndingCase c = GetParam();
    zn::platform::testing::TempFolder folder;
    const std::string file = folder.Path() + "/LCK..ttyEnd";
    pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGQUIT, SIG_DFL);
        MakeFile(file);
        int slot = zn::platform::RemoveAtEnd(file);
        int pipeEnds[2];
        switch (c.ending) {
        case Ending::Exit: std::exit(3);
        case Ending::Hangup: ::raise(SIGHUP); break;
        case Ending::BrokenPipe:
            if (::pipe(pipeEnds) == 0) {
                ::close(pipeEnds[0]);
                [[maybe_unused]] ssize_t n = ::write(pipeEnds[1], "x", 1);
            }
            break;
        case Ending::Abort: std::abort();
        case Ending::Quit: ::raise(SIGQUIT); break;
        case Ending::Kept:
            zn::platform::KeepAtEnd(slot);
            std::exit(3);
        }
        ::_exit(99);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (c.wantSignal) {
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), c.wantSignal);
    } else {
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 3);
    }
    EXPECT_EQ(Exists(file), !c.removed);
}

INSTANTIATE_TEST_SUITE_P(Endings, EndRemovals,
                         ::testing::Values(EndingCase{"Exit", Ending::Exit, 0, true},
                                           EndingCase{"Hangup", Ending::Hangup, SIGHUP, true},
                                           EndingCase{"BrokenPipe", Ending::BrokenPipe, SIGPIPE, true},
                                           EndingCase{"Abort", Ending::Abort, SIGABRT, true},
                                           EndingCase{"Quit", Ending::Quit, SIGQUIT, true},
                                           EndingCase{"KeptBeforeTheEnd", Ending::Kept, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A child forked from the process (without running another program) ends: its parent's files stay.
TEST(EndRemovalsOfAParent, StayWhenAForkedChildEnds)
{
    zn::platform::testing::TempFolder folder;
    const std::string file = folder.Path() + "/LCK..ttyParent";
    MakeFile(file);
    int slot = zn::platform::RemoveAtEnd(file);
    pid_t child = ::fork();
    if (child == 0) {
        std::exit(0); // runs the exit handlers it inherited
    }
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(Exists(file));
    zn::platform::KeepAtEnd(slot);
    EXPECT_EQ(slot, -1);
    ::unlink(file.c_str());
}

} // namespace
