#include "foundation/single_instance.h"

#include "platform/runtime_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zn::foundation {
namespace {

constexpr int kWaitMs = 20000; // an upper bound for a loaded machine, not a speed test

// One started probe, with its standard output on a pipe; killed when the test ends.
class Probe {
public:
    explicit Probe(const std::vector<std::string>& args)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<char*> argv;
        std::string path = PROBE_PATH;
        argv.push_back(path.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
        if (rc != 0)
            throw std::runtime_error("spawn");
    }
    ~Probe()
    {
        if (running_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
    }
    // Reads output until it holds the text; false after kWaitMs or at end of output.
    bool WaitForOutput(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (output_.find(text) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buffer[256];
            const ssize_t got = ::read(out_, buffer, sizeof buffer);
            if (got <= 0)
                return false;
            output_.append(buffer, static_cast<size_t>(got));
        }
        return true;
    }
    // Exit code once it has ended by itself; -1 when it still runs after kWaitMs or was killed.
    int WaitForExit()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::optional<int> code = Exited())
                return *code;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    // Exit code when it has ended, else nothing.
    std::optional<int> Exited()
    {
        if (!running_)
            return code_;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_)
            return std::nullopt;
        running_ = false;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return code_;
    }
    const std::string& Output() const { return output_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool running_ = true;
    int code_ = -1;
    std::string output_;
};

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "zn-runtime-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        runtime_ = pattern;
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    void TearDown() override { std::filesystem::remove_all(runtime_); }
    std::string runtime_;
};

TEST(TitleRuleTest, TitleIsTheUpperCaseNameLessExe)
{
    EXPECT_EQ(TPreviousInstance::SetTitleFromFileName("ZN.EXE"), "ZN");
    EXPECT_EQ(TPreviousInstance::SetTitleFromFileName("ZNPTF.EXE"), "ZNPTF");
    EXPECT_EQ(TPreviousInstance::SetTitleFromFileName("zn.exe"), "");
    EXPECT_EQ(TPreviousInstance::SetTitleFromFileName("zn"), "");
    EXPECT_EQ(TPreviousInstance::SetTitleFromFileName("ZN.EXE.OLD"), "ZN.EXE");
}

TEST_F(SingleInstanceTest, SecondStartRestoresTheMinimizedFirstAndExitsZero)
{
    Probe first({"ZN.EXE", "--minimized"});
    ASSERT_TRUE(first.WaitForOutput("first\n"));
    Probe second({"ZN.EXE"});
    EXPECT_EQ(second.WaitForExit(), 0);
    EXPECT_TRUE(first.WaitForOutput("restored 1 0 title=ZN\n")) << first.Output(); // never renamed
    EXPECT_EQ(second.Output(), "");
    EXPECT_FALSE(first.Exited());
}

TEST_F(SingleInstanceTest, SecondStartRaisesAWindowThatIsNotMinimized)
{
    Probe first({"/opt/tarvel/ZN.EXE"});
    ASSERT_TRUE(first.WaitForOutput("first\n"));
    Probe second({"/elsewhere/ZN.EXE"}); // the folder does not matter, the file name does
    EXPECT_EQ(second.WaitForExit(), 0);
    EXPECT_TRUE(first.WaitForOutput("restored 0 0 title=ZN\n")) << first.Output();
}

TEST_F(SingleInstanceTest, TwoSimultaneousStartsLeaveExactlyOneRunning)
{
    Probe a({"ZN.EXE"});
    Probe b({"ZN.EXE"});
    // The one that lost ends with 0; the other has become the first instance and keeps running.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!a.Exited() && !b.Exited() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Probe& ended = a.Exited() ? a : b;
    Probe& running = a.Exited() ? b : a;
    ASSERT_TRUE(ended.Exited()) << "neither start ended";
    EXPECT_EQ(*ended.Exited(), 0);
    EXPECT_TRUE(running.WaitForOutput("restored")) << running.Output();
    EXPECT_FALSE(running.Exited());
}

TEST_F(SingleInstanceTest, BothProgramsRunSideBySide)
{
    Probe zn({"ZN.EXE"});
    Probe ptf({"ZNPTF.EXE"});
    EXPECT_TRUE(zn.WaitForOutput("first\n"));
    EXPECT_TRUE(ptf.WaitForOutput("first\n"));
}

TEST_F(SingleInstanceTest, LowerCaseNameStillEndsTheSecondWithoutTouchingTheFirst)
{
    Probe first({"zn.exe", "--minimized"});
    ASSERT_TRUE(first.WaitForOutput("first\n"));
    Probe second({"zn.exe"});
    EXPECT_EQ(second.WaitForExit(), 0);
    Probe third({"ZN.EXE"}); // a separate lock: runs
    EXPECT_TRUE(third.WaitForOutput("first\n"));
    EXPECT_EQ(first.Output(), "first\n");
}

TEST_F(SingleInstanceTest, InstanceThatDiedLeavesNoLock)
{
    {
        Probe first({"ZN.EXE"});
        ASSERT_TRUE(first.WaitForOutput("first\n"));
    } // killed, its socket file stays behind
    Probe next({"ZN.EXE"});
    EXPECT_TRUE(next.WaitForOutput("first\n"));
    Probe second({"ZN.EXE"});
    EXPECT_EQ(second.WaitForExit(), 0);
    EXPECT_TRUE(next.WaitForOutput("restored")) << next.Output();
}

} // namespace
} // namespace zn::foundation

namespace zn::foundation {
namespace {

TEST_F(SingleInstanceTest, WithoutARuntimeFolderTheLockGoesToTheUsersHomeNotToAFolderOthersCanMakeFirst)
{
    // Another user may make /tmp/zn-runtime-<uid> before us (here: one that others can write to);
    // without a runtime folder the lock goes to the private folder in the user's own home.
    const std::string planted = "/tmp/zn-runtime-" + std::to_string(::getuid());
    ::mkdir(planted.c_str(), 0700);
    struct stat before {};
    ASSERT_EQ(::lstat(planted.c_str(), &before), 0);
    ASSERT_TRUE(S_ISDIR(before.st_mode));
    ASSERT_EQ(::chmod(planted.c_str(), 0777), 0);
    const std::string home = runtime_ + "/home";
    ::mkdir(home.c_str(), 0700);
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("ZN_HOME", home.c_str(), 1);
    const std::string fallback = platform::FallbackRuntimeFolder(::getuid(), true);
    ASSERT_FALSE(fallback.empty());
    EXPECT_EQ(fallback, std::string(::getpwuid(::getuid())->pw_dir) + "/.cache/zn-runtime");
    {
        Probe first({"ZNTEST.EXE"});
        EXPECT_TRUE(first.WaitForOutput("first\n"));
        struct stat lock {};
        EXPECT_EQ(::stat((fallback + "/ZNTEST.EXE.lock").c_str(), &lock), 0);
        EXPECT_NE(::stat((planted + "/ZNTEST.EXE.lock").c_str(), &lock), 0);
        EXPECT_NE(::stat((home + "/ZNTEST.EXE.lock").c_str(), &lock), 0);
        // A second instance finds the first there.
        Probe second({"ZNTEST.EXE"});
        EXPECT_EQ(second.WaitForExit(), 0);
        EXPECT_TRUE(first.WaitForOutput("restored")) << first.Output();
    }
    ::chmod(planted.c_str(), before.st_mode & 07777);
    ::unsetenv("ZN_HOME");
}

} // namespace
} // namespace zn::foundation
