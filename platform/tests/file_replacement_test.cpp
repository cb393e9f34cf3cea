#include "platform/file_replacement.h"

#include "temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

using zn::platform::FileReplacement;
using zn::platform::IsReplacementTemporary;
using zn::platform::RemoveStaleTemporaries;
using zn::platform::testing::TempFolder;

namespace {

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

int Temporaries(const std::string& folder)
{
    int n = 0;
    for (const std::string& name : Names(folder))
        n += IsReplacementTemporary(name) ? 1 : 0;
    return n;
}

bool WriteAll(int fd, const std::string& data)
{
    return write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
}

// Runs body in a child process that stops at its end without any clean-up of its own; returns
// the child's pid, already stopped when stopAtEnd (so that it is alive while the parent looks).
pid_t Child(const std::function<void()>& body, int readyPipe)
{
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        const char one = 1;
        (void)!write(readyPipe, &one, 1);
        for (;;)
            pause();
    }
    return pid;
}

} // namespace

TEST(FileReplacement, CommitPutsTheNewDataInPlaceAndKeepsTheMode)
{
    TempFolder dir;
    dir.WriteFile("T.DBF", "old");
    chmod((dir / "T.DBF").c_str(), 0640);
    FileReplacement out(dir / "T.DBF");
    ASSERT_EQ(out.Open(), 0);
    ASSERT_TRUE(WriteAll(out.Descriptor(), "new data"));
    EXPECT_EQ(dir.ReadFile("T.DBF"), "old") << "the target is untouched until the commit";
    ASSERT_EQ(out.Commit(), 0);
    EXPECT_EQ(dir.ReadFile("T.DBF"), "new data");
    struct stat st {};
    ASSERT_EQ(stat((dir / "T.DBF").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"T.DBF"});
}

TEST(FileReplacement, AWriterNotCommittedLeavesNothing)
{
    TempFolder dir;
    dir.WriteFile("T.DBF", "old");
    {
        FileReplacement out(dir / "T.DBF");
        ASSERT_EQ(out.Open(), 0);
        ASSERT_TRUE(WriteAll(out.Descriptor(), "half"));
        EXPECT_EQ(Temporaries(dir.Path()), 1);
    }
    EXPECT_EQ(dir.ReadFile("T.DBF"), "old");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"T.DBF"});
}

TEST(FileReplacement, PlantedLinksAtTheTemporaryNamesAreNeverFollowed)
{
    TempFolder dir;
    dir.MakeFolder("elsewhere");
    dir.WriteFile("elsewhere/victim", "precious");
    dir.WriteFile("T.DBF", "old");
    // Links under the names a writer of this process would try first, and under the old fixed name.
    std::vector<std::string> planted{"T.DBF.new"};
    for (int serial = 0; serial < 60; ++serial)
        planted.push_back("T.DBF.~zn" + std::to_string(getpid()) + "-" + std::to_string(serial) + ".tmp");
    for (const std::string& name : planted)
        ASSERT_EQ(symlink((dir / "elsewhere/victim").c_str(), (dir / name).c_str()), 0);
    for (int round = 0; round < 3; ++round) {
        FileReplacement out(dir / "T.DBF");
        ASSERT_EQ(out.Open(), 0);
        ASSERT_TRUE(WriteAll(out.Descriptor(), "new " + std::to_string(round)));
        ASSERT_EQ(out.Commit(), 0);
    }
    EXPECT_EQ(dir.ReadFile("elsewhere/victim"), "precious");
    struct stat st {};
    ASSERT_EQ(lstat((dir / "T.DBF").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the table did not become a planted link";
    EXPECT_EQ(dir.ReadFile("T.DBF"), "new 2");
}

TEST(FileReplacement, AFailedCommitLeavesTheTargetAndNoTemporary)
{
    TempFolder dir;
    dir.MakeFolder("T.DBF"); // a folder in the way: the rename fails
    FileReplacement out(dir / "T.DBF");
    ASSERT_EQ(out.Open(), 0);
    ASSERT_TRUE(WriteAll(out.Descriptor(), "data"));
    EXPECT_NE(out.Commit(), 0);
    EXPECT_EQ(Temporaries(dir.Path()), 0);
    struct stat st {};
    ASSERT_EQ(stat((dir / "T.DBF").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(FileReplacement, OpenInAFolderThatDoesNotExistNamesTheError)
{
    TempFolder dir;
    FileReplacement out(dir / "missing/T.DBF");
    EXPECT_EQ(out.Open(), ENOENT);
}

TEST(FileReplacement, TemporariesOfDeadWritersAreRemovedThoseOfLiveOnesKept)
{
    TempFolder dir;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    auto writeAside = [&](const std::string& name) {
        return [&dir, name] {
            static FileReplacement out(dir / name); // never destroyed: the child is killed
            if (out.Open() == 0)
                (void)WriteAll(out.Descriptor(), "partial");
        };
    };
    const pid_t dead = Child(writeAside("A.APF"), pipeFds[1]);
    const pid_t alive = Child(writeAside("B.APF"), pipeFds[1]);
    char c;
    ASSERT_EQ(read(pipeFds[0], &c, 1), 1);
    ASSERT_EQ(read(pipeFds[0], &c, 1), 1);
    kill(dead, SIGKILL); // no handler runs: its temporary stays behind
    waitpid(dead, nullptr, 0);
    EXPECT_EQ(Temporaries(dir.Path()), 2);
    dir.WriteFile("user.tmp", "a file of the user's that merely ends the same way");
    dir.WriteFile("x.~zn12ab-1.tmp", "not a temporary's name either");

    FileReplacement next(dir / "C.APF");
    ASSERT_EQ(next.Open(), 0);
    next.Discard();
    std::vector<std::string> left = Names(dir.Path());
    EXPECT_EQ(Temporaries(dir.Path()), 1) << "the live writer's temporary is kept";
    bool liveKept = false;
    for (const std::string& name : left)
        liveKept |= name.rfind("B.APF.~zn" + std::to_string(alive) + "-", 0) == 0;
    EXPECT_TRUE(liveKept);
    EXPECT_EQ(dir.ReadFile("user.tmp"), "a file of the user's that merely ends the same way");
    EXPECT_EQ(dir.ReadFile("x.~zn12ab-1.tmp"), "not a temporary's name either");

    kill(alive, SIGKILL);
    waitpid(alive, nullptr, 0);
    EXPECT_EQ(RemoveStaleTemporaries(dir.Path()), 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

TEST(FileReplacement, SigtermAndSigintRemoveTheTemporariesAndStillEndTheProcess)
{
    for (int signal : {SIGTERM, SIGINT}) {
        TempFolder dir;
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t pid = Child(
            [&dir] {
                static FileReplacement first(dir / "OUT.APF");
                static FileReplacement second(dir / "T.CDX");
                if (first.Open() == 0 && second.Open() == 0)
                    (void)WriteAll(first.Descriptor(), std::string(100000, 'x'));
            },
            pipeFds[1]);
        char c;
        ASSERT_EQ(read(pipeFds[0], &c, 1), 1);
        EXPECT_EQ(Temporaries(dir.Path()), 2);
        kill(pid, signal);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "the process ends by the signal as before";
        EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{});
        close(pipeFds[0]);
        close(pipeFds[1]);
    }
}

TEST(FileReplacement, CommitNewNeverReplacesAFileThatAppearedMeanwhile)
{
    TempFolder dir;
    FileReplacement first(dir / "T.CDX");
    ASSERT_EQ(first.Open(), 0);
    ASSERT_TRUE(WriteAll(first.Descriptor(), "mine"));
    dir.WriteFile("T.CDX", "theirs");
    EXPECT_EQ(first.CommitNew(), EEXIST);
    EXPECT_EQ(dir.ReadFile("T.CDX"), "theirs");
    EXPECT_EQ(Temporaries(dir.Path()), 0);

    FileReplacement second(dir / "NEW.CDX");
    ASSERT_EQ(second.Open(), 0);
    ASSERT_TRUE(WriteAll(second.Descriptor(), "whole"));
    ASSERT_EQ(second.CommitNew(), 0);
    EXPECT_EQ(dir.ReadFile("NEW.CDX"), "whole");
}
