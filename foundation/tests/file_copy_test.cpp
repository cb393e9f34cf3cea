#include "foundation/file_copy.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

namespace zn::foundation {
namespace {

using test::ReadFile;
using test::TempHome;
using test::WriteFile;

std::string Pattern(size_t size)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(i * 7 + i / 256);
    return data;
}

class FileCopyTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return home_.Path() + "/" + name; }
    TempHome home_;
};

struct BlockCase {
    size_t size;
    std::vector<size_t> blocks;
};

class FileCopyBlockTest : public FileCopyTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(FileCopyBlockTest, CopiesInBlocksOf2048)
{
    const std::string data = Pattern(GetParam().size);
    WriteFile(Path("a.apf"), data);
    std::vector<size_t> blocks;
    ASSERT_TRUE(CopyFileBlocks(Path("a.apf"), Path("b.apf"), [&](size_t n) { blocks.push_back(n); }));
    EXPECT_EQ(blocks, GetParam().blocks);
    EXPECT_EQ(ReadFile(Path("b.apf")), data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileCopyBlockTest,
                         ::testing::Values(BlockCase{5000, {2048, 2048, 904}}, BlockCase{0, {}},
                                           BlockCase{2048, {2048}}, BlockCase{1, {1}}),
                         [](const ::testing::TestParamInfo<BlockCase>& info) { return std::to_string(info.param.size) + "Bytes"; });

TEST_F(FileCopyTest, ReplacesAnExistingDestination)
{
    WriteFile(Path("a.apf"), "new");
    WriteFile(Path("b.apf"), "an older and longer content");
    ASSERT_TRUE(CopyFileBlocks(Path("a.apf"), Path("b.apf")));
    EXPECT_EQ(ReadFile(Path("b.apf")), "new");
}

TEST_F(FileCopyTest, CopyOntoItselfFailsAndLeavesTheFile)
{
    const std::string data = Pattern(5000);
    WriteFile(Path("a.apf"), data);
    std::filesystem::create_hard_link(Path("a.apf"), Path("hard.apf"));
    std::filesystem::create_symlink(Path("a.apf"), Path("soft.apf"));
    EXPECT_FALSE(CopyFileBlocks(Path("a.apf"), Path("a.apf")));
    EXPECT_FALSE(CopyFileBlocks(Path("a.apf"), Path("A.APF"))); // the same file, found without regard to case
    EXPECT_FALSE(CopyFileBlocks(Path("a.apf"), Path("hard.apf")));
    EXPECT_FALSE(CopyFileBlocks(Path("soft.apf"), Path("a.apf")));
    EXPECT_EQ(ReadFile(Path("a.apf")), data);
}

TEST_F(FileCopyTest, MissingSourceOrUncreatableDestinationFails)
{
    EXPECT_FALSE(CopyFileBlocks(Path("none.apf"), Path("b.apf")));
    EXPECT_FALSE(std::filesystem::exists(Path("b.apf")));
    WriteFile(Path("a.apf"), "x");
    EXPECT_FALSE(CopyFileBlocks(Path("a.apf"), Path("no/such/folder/b.apf")));
}

// A full disk: the write of the second block fails. The copy reports it and leaves no truncated fax.
TEST_F(FileCopyTest, WriteFailureDeletesThePartialCopy)
{
    WriteFile(Path("a.apf"), Pattern(5000));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{3000, 3000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool copied = CopyFileBlocks(Path("a.apf"), Path("b.apf"));
        ::_exit(copied ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a failed write was reported as a copy";
    EXPECT_FALSE(std::filesystem::exists(Path("b.apf")));
}

TEST_F(FileCopyTest, DeviceDestinationIsNotDeletedOnFailure)
{
    WriteFile(Path("a.apf"), Pattern(100));
    EXPECT_FALSE(CopyFileBlocks(Path("a.apf"), "/dev/full"));
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

// The source shrinks while it is copied: the read that finds no data ends the copy as a failure.
TEST_F(FileCopyTest, SourceEndingEarlyEndsTheCopy)
{
    WriteFile(Path("a.apf"), Pattern(5000));
    int blocks = 0;
    const bool copied = CopyFileBlocks(Path("a.apf"), Path("b.apf"), [&](size_t) {
        if (++blocks == 1)
            std::filesystem::resize_file(Path("a.apf"), 2048);
    });
    EXPECT_FALSE(copied);
    EXPECT_EQ(blocks, 1);
    EXPECT_FALSE(std::filesystem::exists(Path("b.apf")));
}

// A link planted under the destination's name is replaced by the copy, never written through.
TEST_F(FileCopyTest, ALinkAtTheDestinationIsReplacedNotWrittenThrough)
{
    WriteFile(Path("a.apf"), Pattern(3000));
    WriteFile(Path("victim"), "precious");
    ASSERT_EQ(::symlink(Path("victim").c_str(), Path("b.apf").c_str()), 0);
    ASSERT_TRUE(CopyFileBlocks(Path("a.apf"), Path("b.apf")));
    EXPECT_EQ(ReadFile(Path("victim")), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(Path("b.apf")));
    EXPECT_EQ(ReadFile(Path("b.apf")), Pattern(3000));
}

// A FIFO as the source is refused at once instead of waiting for a writer. The copy runs in a child
// that is killed after ten seconds, so that a copy that waits fails the test instead of hanging it.
TEST_F(FileCopyTest, AFifoAsTheSourceIsRefusedWithoutWaiting)
{
    ASSERT_EQ(::mkfifo(Path("pipe.apf").c_str(), 0600), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);
        ::_exit(CopyFileBlocks(Path("pipe.apf"), Path("b.apf")) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the copy waited on the FIFO or succeeded";
    EXPECT_FALSE(std::filesystem::exists(Path("b.apf")));
}

} // namespace
} // namespace zn::foundation
