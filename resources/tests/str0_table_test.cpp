#include "resources/str0_table.h"
#include "platform/tests/param_name.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

using namespace zn::resources;

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

} // namespace

TEST(Str0Table, BuildsTheExactLayout)
{
    std::vector<StringEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseStringSource("# comment\n\n2\tAb\n7\t\n9\tx\\r\\n\n", entries, error)) << error;
    const std::vector<uint8_t> table = BuildStr0(entries);
    const std::vector<uint8_t> expected = {
        'S', 'T', 'R', '0', 3,   0, 0,  0, 2,  0, 0, 0, 44, 0, 0, 0, 2, 0, 0, 0, // id 2 at 8 + 3 x 12 = 44, 2 units
        7,   0,   0,   0,   48,  0, 0,  0, 0,  0, 0, 0,                          // id 7: empty
        9,   0,   0,   0,   48,  0, 0,  0, 3,  0, 0, 0,                          // id 9: "x\r\n"
        'A', 0,   'b', 0,   'x', 0, 13, 0, 10, 0,
    };
    EXPECT_EQ(table, expected);
    EXPECT_EQ(CheckStr0(table), "");
}

TEST(Str0Table, TextsAreUtf16AndEscapesResolve)
{
    std::vector<StringEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseStringSource("1\tDCD\\x20\n2\ta\\tb\\\\c\n3\t\xC3\xA9\xF0\x9F\x98\x80\n", entries, error))
        << error;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Text, u"DCD ");
    EXPECT_EQ(entries[1].Text, u"a\tb\\c");
    EXPECT_EQ(entries[2].Text, u"\u00E9\U0001F600");
    EXPECT_EQ(entries[2].Text.size(), 3u); // the emoji takes a surrogate pair
}

struct BadSource {
    const char* Source;
    const char* Complaint;
};

class Str0BadSource : public testing::TestWithParam<BadSource> {};

TEST_P(Str0BadSource, IsRefusedWithTheLine)
{
    std::vector<StringEntry> entries;
    std::string error;
    EXPECT_FALSE(ParseStringSource(GetParam().Source, entries, error));
    EXPECT_NE(error.find(GetParam().Complaint), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Sources, Str0BadSource,
                         testing::Values(BadSource{"1\ta\n2\tb\n2\tc\n", "line 3: duplicate id 2"},
                                         BadSource{"5\ta\n4\tb\n", "line 2: id 4 is out of order"},
                                         BadSource{"1 a\n", "line 1: expected an id"},
                                         BadSource{"x1\ta\n", "line 1: expected an id"},
                                         BadSource{"1\ttrailing \n", "line 1: the text ends in a blank"},
                                         BadSource{"1\tbad \\q\n", "unknown escape"},
                                         BadSource{"1\tbad \\x2\n", "two hexadecimal digits"},
                                         BadSource{"1\t\xC3\n", "not valid UTF-8"},
                                         BadSource{"99999999999\ta\n", "line 1: expected an id"}),
                         [](const testing::TestParamInfo<BadSource>& info) { return zn::test::ParamName({info.param.Complaint, info.param.Source}); });

TEST(Str0Table, CheckFindsBrokenLayouts)
{
    std::vector<StringEntry> entries = {{1, u"one"}, {2, u"two"}};
    const std::vector<uint8_t> good = BuildStr0(entries);
    ASSERT_EQ(CheckStr0(good), "");

    std::vector<uint8_t> bad = good;
    bad[3] = '1';
    EXPECT_NE(CheckStr0(bad), "");
    bad = good;
    bad[4] = 3; // three entries claimed
    EXPECT_NE(CheckStr0(bad), "");
    bad = good;
    bad[20] = 1; // second id equals the first
    EXPECT_NE(CheckStr0(bad), "");
    bad = good;
    bad[24] += 2; // second text offset off by one unit
    EXPECT_NE(CheckStr0(bad), "");
    bad = good;
    bad[28] = 4; // second text longer than the table
    EXPECT_NE(CheckStr0(bad), "");
    bad = good;
    bad.push_back(0);
    EXPECT_NE(CheckStr0(bad), "");
    EXPECT_NE(CheckStr0({'S', 'T', 'R'}), "");
}

// The tables of the build: sound, and holding exactly what their sources say.
class BuiltTable : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(BuiltTable, MatchesItsSource)
{
    const std::vector<uint8_t> table = ReadBytes(Env("ZN_BUILD_DIR") + "/resources/" + GetParam().first + ".str0");
    ASSERT_FALSE(table.empty());
    ASSERT_EQ(CheckStr0(table), "");
    std::ifstream in(Env("ZN_SOURCE_DIR") + "/resources/strings/" + GetParam().second);
    const std::string source{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<StringEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseStringSource(source, entries, error)) << error;
    const std::vector<StringEntry> back = ReadStr0(table);
    ASSERT_EQ(back.size(), entries.size());
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].Id, entries[i].Id);
        EXPECT_EQ(back[i].Text, entries[i].Text) << "id " << entries[i].Id;
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, BuiltTable,
                         testing::Values(std::make_pair("FXC_ERROR_STRINGS_ENGLISH", "fxc_error_strings_english.txt"),
                                         std::make_pair("FXSRMGR_STRINGS", "fxsrmgr_strings.txt")),
                         [](const testing::TestParamInfo<std::pair<const char*, const char*>>& info) { return std::string(info.param.first); });

TEST(Str0Generator, RefusesADuplicateIdAndWritesNothing)
{
    const std::string dir = testing::TempDir() + "/strtable_gen_dup_" + std::to_string(::getpid());
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    std::ofstream(dir + "/dup.txt") << "1\tone\n1\tagain\n";
    const std::string command = Env("ZN_BUILD_DIR") + "/resources/zn_strtable_gen '" + dir + "' '" + dir
                                + "/out.cpp' DUP='" + dir + "/dup.txt' 2>'" + dir + "/err.txt'";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_TRUE(ReadBytes(dir + "/DUP.str0").empty());
    EXPECT_TRUE(ReadBytes(dir + "/out.cpp").empty());
    const std::vector<uint8_t> err = ReadBytes(dir + "/err.txt");
    EXPECT_NE(std::string(err.begin(), err.end()).find("line 2: duplicate id 1"), std::string::npos);
}
