// xbtool run as a program on tables the engine made: its output and exit codes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "xbase_test_util.h"

namespace zn::xbase::test {
namespace {

class XbtoolProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetEngine();
        const char* build = std::getenv("ZN_BUILD_DIR");
        ASSERT_NE(build, nullptr);
        tool_ = std::string(build) + "/tools/xbtool/xbtool";
        ASSERT_TRUE(CreatePhoneBook(table_, {{"Zulu", "1"}, {"alpha", "2"}, {"Mike", "3"}}));
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
        vd_Go(2);
        vd_Delete();
        vd_CloseAll();
    }
    void TearDown() override { ResetEngine(); }

    std::string Tool(const std::string& arguments, int& status)
    {
        return RunCommand(tool_ + " " + arguments + " 2>&1", &status);
    }

    ScratchFolder dir_;
    std::string table_ = dir_ / "ZNPB.DBF";
    std::string tool_;
};

TEST_F(XbtoolProgram, IndexesListsChecksAndPacks)
{
    int status = -1;
    Tool("index " + table_ + " NAME \"UPPER(NAME)\" --for \".not. deleted()\"", status);
    EXPECT_EQ(status, 0);
    Tool("index " + table_ + " BACK NAME --descending", status);
    EXPECT_EQ(status, 0);
    std::string info = Tool("info " + table_, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(info.find("records 3"), std::string::npos) << info;
    EXPECT_NE(info.find("NAME       C  35 0"), std::string::npos) << info;
    EXPECT_NE(info.find("1 NAME       key \"UPPER(NAME)\" for \".not. deleted()\""), std::string::npos) << info;
    EXPECT_NE(info.find("2 BACK       key \"NAME\" descending"), std::string::npos) << info;
    EXPECT_EQ(Tool("list " + table_ + " --tag NAME", status), "3  |Mike|3\n1  |Zulu|1\n");
    EXPECT_EQ(Tool("list " + table_ + " --tag back", status), "2 *|alpha|2\n1  |Zulu|1\n3  |Mike|3\n");
    EXPECT_EQ(Tool("list " + table_ + " --filter \"PHONE > '1'\"", status), "2 *|alpha|2\n3  |Mike|3\n");
    EXPECT_EQ(Tool("check " + table_, status), "ok\n");
    EXPECT_EQ(status, 0);
    Tool("pack " + table_, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Tool("list " + table_ + " --tag NAME", status), "2  |Mike|3\n1  |Zulu|1\n");
    EXPECT_EQ(Tool("check " + table_, status), "ok\n");
}

TEST_F(XbtoolProgram, CheckSaysWhereATagDisagrees)
{
    int status = -1;
    Tool("index " + table_ + " NAME NAME", status);
    ASSERT_EQ(status, 0);
    std::string cdx = dir_ / "ZNPB.CDX";
    std::string bytes = ReadFile(cdx);
    ASSERT_GE(bytes.size(), 0xC00u);
    bytes[0xA00 + 511] ^= 0x01; // a byte of the first key of the tag's only leaf
    WriteFile(cdx, bytes);
    std::string out = Tool("check " + table_, status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("tag NAME"), std::string::npos) << out;
}

TEST_F(XbtoolProgram, AnIndexLeftHalfWrittenIsNamedAndKeptWithItsTags)
{
    int status = -1;
    Tool("index " + table_ + " NAME NAME", status);
    ASSERT_EQ(status, 0);
    Tool("index " + table_ + " PHONE PHONE", status);
    ASSERT_EQ(status, 0);
    std::string cdx = dir_ / "ZNPB.CDX";
    std::string bytes = ReadFile(cdx);
    bytes[480] = 1; // the mark of a write in progress, as a writer that died leaves it
    WriteFile(cdx, bytes);
    std::string out = Tool("check " + table_, status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("index " + cdx + " is damaged"), std::string::npos) << out;
    out = Tool("info " + table_, status);
    EXPECT_NE(out.find("index fault " + cdx + " is damaged or was left half-written"), std::string::npos) << out;
    out = Tool("index " + table_ + " NEW NAME", status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("remove it and build its tags again"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(cdx), bytes) << "the other tags are still in the file";
}

TEST_F(XbtoolProgram, CheckFindsARecordEndedByAnotherWriter)
{
    std::string bytes = ReadFile(table_);
    bytes[97 + 61] = 0x1A; // record 2's deletion flag
    WriteFile(table_, bytes);
    int status = -1;
    std::string out = Tool("check " + table_, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "table: record 2 has the deletion flag 0x1A (an end-of-file byte written over it)\n");
}

TEST_F(XbtoolProgram, ReportsEngineErrors)
{
    int status = 0;
    std::string out = Tool("info " + (dir_ / "MISSING.DBF"), status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("error -1: File not found"), std::string::npos) << out;
    out = Tool("index " + table_ + " BAD \"NOSUCH\"", status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("Field not found"), std::string::npos) << out;
    Tool("frobnicate " + table_, status);
    EXPECT_EQ(status, 2);
}

// A listing that cannot be written (a full disk) is a failure, told as one.
TEST_F(XbtoolProgram, AListingThatCannotBeWrittenFails)
{
    int status = -1;
    std::string told = RunCommand(tool_ + " list " + table_ + " 2>&1 >/dev/full", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(told.find("xbtool: output: "), std::string::npos) << told;
}

} // namespace
} // namespace zn::xbase::test
