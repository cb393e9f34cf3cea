#include "foundation/program_folders.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace zn::foundation {
namespace {

using test::TempHome;

TEST(ProgramFoldersTest, FoldersEndInOneSeparator)
{
    TempHome home;
    EXPECT_EQ(GetProgramFolder(), home.Path() + "/");
    EXPECT_EQ(GetIniFileName(), home.Path() + "/ZN.INI");
    EXPECT_EQ(GetCoversFolder(), home.Path() + "/Covers/");
}

TEST(ProgramFoldersTest, RootFolderGetsNoSecondSeparator)
{
    TempHome home; // restores $ZN_HOME afterwards
    ::setenv("ZN_HOME", "/", 1);
    EXPECT_EQ(GetProgramFolder(), "/");
    EXPECT_EQ(GetIniFileName(), "/ZN.INI");
}

TEST(ProgramFoldersTest, DataFoldersAreCreatedOnceAndFoundInAnyCase)
{
    TempHome home;
    EXPECT_EQ(GetReceiveFolder(), home.Path() + "/Receive/") << "the spelling it will be created with";
    CreateDataFolders();
    CreateDataFolders();
    EXPECT_TRUE(std::filesystem::is_directory(home.Path() + "/SEND"));
    EXPECT_TRUE(std::filesystem::is_directory(home.Path() + "/Receive"));
    EXPECT_EQ(GetSendFolder(), home.Path() + "/SEND/");
    EXPECT_EQ(GetReceiveFolder(), home.Path() + "/Receive/"); // one spelling on disk
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(home.Path()))
        ++entries;
    EXPECT_EQ(entries, 2);
}

} // namespace
} // namespace zn::foundation
