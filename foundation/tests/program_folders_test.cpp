#include "foundation/program_folders.h"

#include "resources/covers/cover_templates.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    EXPECT_TRUE(std::filesystem::is_directory(home.Path() + "/Covers"));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(home.Path()))
        ++entries;
    EXPECT_EQ(entries, 3);
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> FilesOf(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A new program folder starts with the shipped templates, four files each, byte for byte.
TEST(ProgramFoldersTest, ANewProgramFolderGetsTheShippedCoverTemplates)
{
    TempHome home;
    CreateDataFolders();
    std::vector<std::string> shipped;
    for (const resources::ShippedFile* f = resources::ShippedCoverTemplates(); f->Name; ++f) {
        shipped.push_back(f->Name);
        EXPECT_EQ(ReadAll(home.Path() + "/Covers/" + f->Name), std::string(f->Data, f->Data + f->Size)) << f->Name;
    }
    std::sort(shipped.begin(), shipped.end());
    EXPECT_EQ(FilesOf(home.Path() + "/Covers"), shipped);
    for (const char* name : {"ZN0001.FCS", "ZN0001.FCT", "ZN0001.DES", "ZN0001.bmp"})
        EXPECT_NE(std::find(shipped.begin(), shipped.end(), name), shipped.end()) << name;
}

// Covers the user already has are theirs: a Covers folder (even an empty one) gets nothing, and
// installing again replaces no file of the same name in any letter case.
TEST(ProgramFoldersTest, CoversTheUserHasAreLeftAlone)
{
    TempHome home;
    std::filesystem::create_directories(home.Path() + "/covers");
    CreateDataFolders();
    EXPECT_TRUE(FilesOf(home.Path() + "/covers").empty());
    EXPECT_FALSE(std::filesystem::exists(home.Path() + "/Covers"));
    std::ofstream(home.Path() + "/covers/zn0001.des") << "Mine\r\n";
    const int written = InstallCoverTemplates();
    EXPECT_EQ(ReadAll(home.Path() + "/covers/zn0001.des"), "Mine\r\n");
    EXPECT_FALSE(std::filesystem::exists(home.Path() + "/covers/ZN0001.DES"));
    EXPECT_EQ(written + 1, int(FilesOf(home.Path() + "/covers").size()));
    EXPECT_EQ(InstallCoverTemplates(), 0);
}

} // namespace
} // namespace zn::foundation
