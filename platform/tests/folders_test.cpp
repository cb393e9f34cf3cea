#include "platform/folders.h"

#include "temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cerrno>
#include <cstdlib>

namespace zn::platform {
namespace {

using testing::TempFolder;

class FoldersTest : public ::testing::Test {
protected:
    TempFolder tmp_;
    void SetUp() override
    {
        tmp_.MakeFolder("SEND");
        tmp_.MakeFolder("Covers");
        tmp_.WriteFile("SEND/FAX00001.APF", "a");
        tmp_.WriteFile("SEND/fax00002.apf", "b");
        tmp_.WriteFile("SEND/JOB1.JFD", "c");
        tmp_.WriteFile("SEND/notes.txt", "d");
        tmp_.MakeFolder("SEND/sub.apf");
    }
};

TEST_F(FoldersTest, ResolvesEveryComponentWhateverItsCase)
{
    EXPECT_EQ(ResolvePath(tmp_ / "send/fax00001.apf"), tmp_ / "SEND/FAX00001.APF");
    EXPECT_EQ(ResolvePath(tmp_ / "Send\\FAX00002.APF"), tmp_ / "SEND/fax00002.apf");
}

TEST_F(FoldersTest, BackslashesDrivePrefixAndTrailingSeparator)
{
    // Windows spelling of an absolute path: the drive goes, the separators turn round.
    const std::string windowsStyle = "C:" + tmp_.Path() + "\\covers\\";
    EXPECT_EQ(ResolvePath(windowsStyle), tmp_ / "Covers/");
}

TEST_F(FoldersTest, KeepsTheGivenSpellingForWhatIsMissing)
{
    EXPECT_EQ(ResolvePath(tmp_ / "send/New.APF"), tmp_ / "SEND/New.APF");
    EXPECT_EQ(ResolvePath(tmp_ / "Receive/FAX1.APF"), tmp_ / "Receive/FAX1.APF");
}

TEST_F(FoldersTest, PrefersTheExactSpellingWhenSeveralCasesExist)
{
    tmp_.WriteFile("SEND/Fax00001.apf", "x");
    EXPECT_EQ(ResolvePath(tmp_ / "SEND/Fax00001.apf"), tmp_ / "SEND/Fax00001.apf");
    EXPECT_EQ(ResolvePath(tmp_ / "SEND/fax00001.APF"), tmp_ / "SEND/FAX00001.APF") << "first in byte order";
}

TEST_F(FoldersTest, ExistsAndDeleteIgnoreCase)
{
    EXPECT_TRUE(FileExistsCI(tmp_ / "send/job1.jfd"));
    EXPECT_FALSE(FileExistsCI(tmp_ / "send")) << "a folder is not a file";
    EXPECT_TRUE(DirectoryExistsCI(tmp_ / "send"));
    EXPECT_TRUE(DeleteFileCI(tmp_ / "Send/Job1.Jfd"));
    EXPECT_FALSE(FileExistsCI(tmp_ / "SEND/JOB1.JFD"));
    EXPECT_FALSE(DeleteFileCI(tmp_ / "SEND/JOB1.JFD"));
    EXPECT_EQ(errno, ENOENT);
}

struct ListCase {
    const char* pattern;
    std::vector<std::string> names;
};

void PrintTo(const ListCase& c, std::ostream* os)
{
    for (const char* p = c.pattern; *p; ++p)
        *os << (*p == '*' ? "star" : *p == '?' ? "q" : *p == '.' ? "_dot_" : std::string(1, *p));
}

class ListFolderTest : public FoldersTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ListFolderTest, MatchesDosWildcardsWithoutRegardToCase)
{
    EXPECT_EQ(ListFolderCI(tmp_ / "send", GetParam().pattern), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(Patterns, ListFolderTest,
                         ::testing::Values(ListCase{"*.apf", {"FAX00001.APF", "fax00002.apf"}},
                                           ListCase{"*.JFD", {"JOB1.JFD"}},
                                           ListCase{"FAX?????.APF", {"FAX00001.APF", "fax00002.apf"}},
                                           ListCase{"FAX????.APF", {}},
                                           ListCase{"*.*", {"FAX00001.APF", "fax00002.apf", "JOB1.JFD", "notes.txt"}},
                                           ListCase{"*2*", {"fax00002.apf"}}),
                         ::testing::PrintToStringParamName());

TEST_F(FoldersTest, ListingCanIncludeFolders)
{
    EXPECT_EQ(ListFolderCI(tmp_ / "SEND", "*.apf", true),
              (std::vector<std::string>{"FAX00001.APF", "fax00002.apf", "sub.apf"}));
    EXPECT_TRUE(ListFolderCI(tmp_ / "nowhere", "*.*").empty());
}

TEST_F(FoldersTest, EnsureFolderUsesAnExistingCaseVariant)
{
    EXPECT_EQ(EnsureFolderCI(tmp_ / "Send"), tmp_ / "SEND");
    EXPECT_EQ(EnsureFolderCI(tmp_ / "covers/Logos/Big"), tmp_ / "Covers/Logos/Big");
    EXPECT_TRUE(DirectoryExistsCI(tmp_ / "COVERS/LOGOS/BIG"));
    EXPECT_EQ(EnsureFolderCI(tmp_ / "send/notes.txt"), "") << "a file is in the way";
}

class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name)
    {
        if (const char* v = std::getenv(name))
            old_ = v, had_ = true;
    }
    ~EnvGuard() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST_F(FoldersTest, ProgramAndWindowsFoldersFollowTheEnvironment)
{
    EnvGuard g1("ZN_HOME"), g2("ZN_WINDIR"), g3("XDG_DATA_HOME"), g4("XDG_CONFIG_HOME"), g5("HOME");
    setenv("ZN_HOME", (tmp_ / "zn/").c_str(), 1);
    setenv("ZN_WINDIR", (tmp_ / "win").c_str(), 1);
    EXPECT_EQ(ProgramFolder(), tmp_ / "zn");
    EXPECT_EQ(WindowsFolder(), tmp_ / "win");
    EXPECT_TRUE(DirectoryExistsCI(tmp_ / "zn"));

    unsetenv("ZN_HOME");
    unsetenv("ZN_WINDIR");
    setenv("XDG_DATA_HOME", (tmp_ / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (tmp_ / "config").c_str(), 1);
    EXPECT_EQ(ProgramFolder(), tmp_ / "data/tarvel");
    EXPECT_EQ(WindowsFolder(), tmp_ / "config/tarvel");

    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", (tmp_ / "home").c_str(), 1);
    EXPECT_EQ(ProgramFolder(), tmp_ / "home/.local/share/tarvel");
    EXPECT_EQ(WindowsFolder(), tmp_ / "home/.config/tarvel");

    // Relative folders are taken from where the program started, and named in full from then on.
    const std::filesystem::path started = std::filesystem::current_path();
    std::filesystem::current_path(tmp_.Path());
    setenv("ZN_HOME", "relative/zn", 1);
    setenv("ZN_WINDIR", "win", 1);
    const std::string program = ProgramFolder(), windows = WindowsFolder();
    std::filesystem::current_path(started);
    EXPECT_EQ(program, tmp_ / "relative/zn");
    EXPECT_EQ(windows, tmp_ / "win");
}

TEST(WildcardTest, StarBacktracks)
{
    EXPECT_TRUE(WildcardMatchCI("a.b.apf", "*.apf"));
    EXPECT_TRUE(WildcardMatchCI("Lastrec.log", "LAST*.LOG"));
    EXPECT_FALSE(WildcardMatchCI("x.apfx", "*.apf"));
    EXPECT_TRUE(WildcardMatchCI("README", "*.*"));
}

} // namespace
} // namespace zn::platform
