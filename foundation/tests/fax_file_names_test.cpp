#include "foundation/fax_file_names.h"

#include "foundation/program_folders.h"
#include "platform/file_replacement.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace zn::foundation {
namespace {

using test::TempHome;
using test::WriteFile;

int NumberIn(const std::string& path)
{
    const auto dot = path.rfind('.');
    return std::stoi(path.substr(dot - 4, 4));
}

struct SearchCase {
    int lastPresent;       // FAX0001 .. FAX<last> exist
    std::set<int> missing; // except these
    int expected;
};

class FindFreeFaxFileNameTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(FindFreeFaxFileNameTest, FindsFirstFreeAfterTheUsedRun)
{
    const SearchCase& c = GetParam();
    auto taken = [&](const std::string& path) {
        const int n = NumberIn(path);
        return n >= 1 && n <= c.lastPresent && !c.missing.count(n);
    };
    const auto name = FindFreeFaxFileName("FAX", "/r", taken);
    ASSERT_TRUE(name);
    char expected[32];
    std::snprintf(expected, sizeof expected, "/r/FAX%04d.APF", c.expected);
    EXPECT_EQ(*name, expected);
}

INSTANTIATE_TEST_SUITE_P(Folders, FindFreeFaxFileNameTest,
                         ::testing::Values(SearchCase{0, {}, 1}, SearchCase{60, {}, 61}, SearchCase{99, {}, 100},
                                           SearchCase{1200, {}, 1201}, SearchCase{9998, {}, 9999},
                                           // gaps below the used range are not found again
                                           SearchCase{1200, {700}, 1201}, SearchCase{1200, {1000}, 1000},
                                           SearchCase{60, {30}, 61}, SearchCase{30, {3}, 3}),
                         [](const ::testing::TestParamInfo<SearchCase>& info) {
                             std::string name = "UpTo" + std::to_string(info.param.lastPresent);
                             for (const int m : info.param.missing)
                                 name += "_Without" + std::to_string(m);
                             return name;
                         });

TEST(FindFreeFaxFileNameProbeTest, ProbesCoarseToFine)
{
    std::vector<int> probes;
    auto taken = [&](const std::string& path) {
        probes.push_back(NumberIn(path));
        return probes.back() <= 1200;
    };
    FindFreeFaxFileName("FAX", "/r/", taken);
    EXPECT_EQ(probes, (std::vector<int>{500, 1000, 1500, 1000, 1100, 1200, 1300, 1200, 1225, 1200, 1201}));
}

TEST(FindFreeFaxFileNameProbeTest, FailsWhenEveryNumberIsTaken)
{
    EXPECT_FALSE(FindFreeFaxFileName("FAX", "/r/", [](const std::string&) { return true; }));
}

TEST(FirstFreeNumberedNameTest, FailsWhenEveryNumberIsTaken)
{
    EXPECT_FALSE(FirstFreeNumberedName("/s/", "FAX", [](const std::string&) { return true; }));
    const auto last = FirstFreeNumberedName("/s/", "FAX", [](const std::string& p) { return p != "/s/FAX99999.APF"; });
    ASSERT_TRUE(last);
    EXPECT_EQ(*last, "/s/FAX99999.APF");
}

TEST(UniqueNameTest, SendFolderNamesSkipExistingFilesOfAnyCase)
{
    TempHome home;
    CreateDataFolders();
    EXPECT_EQ(MakeUniqueSendFileName("FAX"), home.Path() + "/SEND/FAX00000.APF");
    WriteFile(home.Path() + "/SEND/fax00000.apf", "x");
    WriteFile(home.Path() + "/SEND/FAX00001.APF", "x");
    EXPECT_EQ(MakeUniqueSendFileName("FAX"), home.Path() + "/SEND/FAX00002.APF");
    EXPECT_EQ(MakeUniqueSendFileName("COV"), home.Path() + "/SEND/COV00000.APF");
    EXPECT_EQ(MakeUniqueProgramFileName("Temp"), home.Path() + "/Temp00000.APF");
}

TEST(UniqueNameTest, ReceivedNamesInARealFolder)
{
    TempHome home;
    CreateDataFolders();
    const std::string folder = GetReceiveFolder();
    for (int n = 1; n <= 99; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "FAX%04d.APF", n);
        WriteFile(folder + name, "x");
    }
    EXPECT_EQ(MakeReceivedFaxFileName(folder, false), folder + "FAX0100.APF");
    const std::string dated = MakeReceivedFaxFileName(folder, true);
    EXPECT_EQ(dated.size(), folder.size() + 12); // mmdd + 0001 + .APF
    EXPECT_EQ(dated.substr(folder.size() + 4), "0001.APF");
}

// A name a fax is being received under (by this program or another) is taken before its file
// exists: the receiver's temporary of a living process holds it; a dead process's does not.
TEST(UniqueNameTest, ANameBeingReceivedIsTaken)
{
    TempHome home;
    CreateDataFolders();
    const std::string folder = GetReceiveFolder();
    WriteFile(folder + "FAX0001.APF", "x");
    platform::FileReplacement receiving(folder + "FAX0002.APF");
    ASSERT_EQ(receiving.Open(), 0);
    EXPECT_EQ(MakeReceivedFaxFileName(folder, false), folder + "FAX0003.APF");
    receiving.Discard();
    WriteFile(folder + "FAX0002.APF.~zn999999999-0.tmp", "x"); // no such process
    EXPECT_EQ(MakeReceivedFaxFileName(folder, false), folder + "FAX0002.APF");
}

TEST(UniqueNameTest, FolderWithoutSeparatorGetsOne)
{
    const auto name = FindFreeFaxFileName("FAX", "/nonexistent/zn/receive");
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, "/nonexistent/zn/receive/FAX0001.APF");
}

TEST(ExistingFileTest, FoldersAreNotFiles)
{
    TempHome home;
    WriteFile(home.Path() + "/a.apf", "x");
    EXPECT_TRUE(IsExistingFile(home.Path() + "/a.apf"));
    EXPECT_FALSE(IsExistingFile(home.Path()));
    EXPECT_FALSE(IsExistingFile(home.Path() + "/b.apf"));
    EXPECT_TRUE(FileNameTaken(home.Path() + "/A.APF"));
}

// Only a plain name stands for a file of the send or receive folder.
TEST(PlainFileNameTest, NamesWithAFolderPartAreNotFaxFiles)
{
    for (const char* plain : {"FAX00001.APF", "cov00001.fcd", "0305FAX1.APF", "a b.apf", "..APF"})
        EXPECT_TRUE(IsPlainFileName(plain)) << plain;
    for (const char* other : {"", ".", "..", "../ZN.INI", "..\\ZN.INI", "/etc/passwd", "SEND/FAX00001.APF",
                              "sub\\x.apf", "a\nb.apf", "tab\t.apf"})
        EXPECT_FALSE(IsPlainFileName(other)) << other;
}

} // namespace
} // namespace zn::foundation
