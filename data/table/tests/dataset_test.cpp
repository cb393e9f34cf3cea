// The dataset over a table: navigation, fields, the put rules and their result codes.
#include "table_test_util.h"

namespace zn::data::test {
namespace {

class Dataset : public TableFixture {};

TEST_F(Dataset, NavigatesInTagOrderAndPostsRows)
{
    TTable table;
    TDataSource source(&table);
    TVeldrane veldrane(&source);
    ASSERT_TRUE(OpenPhoneDBF(table, veldrane, true, folder_));
    for (const char* name : {"Carol", "alice", "Bob"}) {
        table.Append();
        table.FieldByName("NAME").SetAsString(name);
        table.FieldByName("PHONE").SetAsString("555");
        table.Post();
    }
    table.First();
    EXPECT_TRUE(table.Bof());
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "Bob");  // NAME tag: not upper-cased
    table.Next();
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "Carol");
    table.Next();
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "alice");
    table.Next();
    EXPECT_TRUE(table.Eof());
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "alice");
    table.Last();
    table.Prior();
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "Carol");
    EXPECT_EQ(table.RecNo(), 1);
}

} // namespace
} // namespace zn::data::test
