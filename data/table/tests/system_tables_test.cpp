// The system's tables: created when missing, their tags built when the index file is missing, the
// filters set on opening; the files checked with dbf_dump, index_dump and python3-dbfread.
#include <unistd.h>

#include <fstream>

#include "table_test_util.h"

namespace zn::data::test {
namespace {

class SystemTables : public TableFixture {
protected:
    std::vector<std::string> Tags(TVeldrane& v)
    {
        std::vector<std::string> tags;
        for (int i = 1; !v.TagName(i).empty(); ++i)
            tags.push_back(v.TagName(i));
        return tags;
    }
};

TEST_F(SystemTables, FreshFaxTableGetsFiveTagsAndNoDatend)
{
    TTable table;
    TDataSource source(&table);
    TVeldrane veldrane(&source);
    ASSERT_TRUE(OpenFaxDBF(table, veldrane, folder_));
    EXPECT_TRUE(table.Active());
    EXPECT_TRUE(zn::platform::FileExistsCI(folder_ + "ZNOUT.DBF"));
    EXPECT_TRUE(zn::platform::FileExistsCI(folder_ + "ZNOUT.CDX"));
    EXPECT_EQ(Tags(veldrane), (std::vector<std::string>{"DATESENT", "SUBJECT", "RECIPIENT", "CODES", "ARCHIVED"}));
    EXPECT_EQ(veldrane.TagArea("DATEND"), 0);
    EXPECT_EQ(veldrane.Filter(), ".not. archived");
    EXPECT_EQ(veldrane.DBFilter(), ".not. archived");
    EXPECT_EQ(table.FieldCount(), 11);
    EXPECT_EQ(table.FieldByName("RECIPIENT").DisplayLabel(), "Recipient");

    // The layout other programs see.
    table.Close();
    int status = -1;
    std::string out =
        RunCommand("/usr/bin/python3 -c \"import dbfread,sys; t=dbfread.DBF(sys.argv[1]); "
                   "print(' '.join('%s:%s:%d:%d' % (f.name,f.type,f.length,f.decimal_count) for f in t.fields))\" '"
                       + folder_ + "ZNOUT.DBF'",
                   &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "SUBJECT:C:50:0 DATESENT:D:8:0 TIMESENT:C:5:0 RECIPIENT:C:35:0 PHONE:C:25:0 LASTRESULT:C:100:0 "
                   "FAXDOC:C:12:0 FAXCOVER:C:12:0 NOTES:C:50:0 CODES:C:25:0 ARCHIVED:L:1:0\n");
}

TEST_F(SystemTables, DeletedIndexIsRebuiltFromTheRecordsOnOpening)
{
    {
        TTable table;
        TDataSource source(&table);
        TVeldrane veldrane(&source);
        ASSERT_TRUE(OpenFaxDBF(table, veldrane, folder_));
        AppendFax(table, {"Zulu", "20260105", "10:00", "Kim"});
        AppendFax(table, {"alpha", "20260301", "09:00", "Lee"});
        AppendFax(table, {"Mike", "20260201", "08:00", "Ann", true});
        table.Close();
    }
    ASSERT_EQ(unlink((folder_ + "ZNOUT.CDX").c_str()), 0);
    TTable table;
    TDataSource source(&table);
    TVeldrane veldrane(&source);
    ASSERT_TRUE(OpenFaxDBF(table, veldrane, folder_));
    EXPECT_EQ(Tags(veldrane).size(), 5u);
    veldrane.SetOrder(veldrane.TagArea("SUBJECT"));
    // Archived rows are filtered out.
    EXPECT_EQ(Column(table, "SUBJECT"), (std::vector<std::string>{"alpha", "Zulu"}));
    veldrane.SetOrder(veldrane.TagArea("DATESENT"));
    EXPECT_EQ(Column(table, "SUBJECT"), (std::vector<std::string>{"alpha", "Zulu"}));
    table.Close();
    int status = -1;
    EXPECT_EQ(RunCommand("index_dump --type=char '" + folder_ + "ZNOUT.CDX' SUBJECT", &status),
              "ALPHA 2\nMIKE 3\nZULU 1\n");
    EXPECT_EQ(status, 0);
}

} // namespace
} // namespace zn::data::test

namespace zn::data::test {
namespace {

TEST_F(SystemTables, DamagedIndexIsRebuiltOnOpening)
{
    for (bool exclusive : {true, false}) {
        {
            TTable table;
            TDataSource source(&table);
            TVeldrane veldrane(&source);
            ASSERT_TRUE(OpenPhoneDBF(table, veldrane, true, folder_));
            if (exclusive) {
                for (const char* name : {"Cy", "Ann", "Bob"}) {
                    table.Append();
                    table.FieldByName("NAME").SetAsString(name);
                    table.Post();
                }
            }
        }
        // Garbage over the index file's header.
        {
            std::fstream f(folder_ + "ZNPB.CDX", std::ios::in | std::ios::out | std::ios::binary);
            f.write(std::string(512, '\x5A').data(), 512);
        }
        TTable table;
        TDataSource source(&table);
        TVeldrane veldrane(&source);
        ASSERT_TRUE(OpenPhoneDBF(table, veldrane, exclusive, folder_)) << exclusive;
        EXPECT_EQ(veldrane.SysProp(3001, 0), 0) << exclusive;
        EXPECT_EQ(table.Exclusive(), exclusive);
        EXPECT_EQ(Tags(veldrane), (std::vector<std::string>{"NAME"})) << exclusive;
        std::vector<std::string> names = {"Ann", "Bob", "Cy"};
        if (!exclusive)
            names.push_back("Dee"); // written in the first round
        EXPECT_EQ(Column(table, "NAME"), names) << exclusive;
        // Writes work again.
        table.Append();
        table.FieldByName("NAME").SetAsString(exclusive ? "Dee" : "Eve");
        EXPECT_NO_THROW(table.Post());
        table.Close();
        EXPECT_EQ(
            RunCommand("index_dump --type=char '" + folder_ + "ZNPB.CDX' NAME | cut -c1-3 | tr -d ' ' | tr '\\n' ,"),
            exclusive ? "Ann,Bob,Cy,Dee," : "Ann,Bob,Cy,Dee,Eve,");
    }
}

// An index left half-written by a crash: the program learns it needs rebuilding, and after the
// rebuild's steps (the file deleted, every tag built again) the table has all its tags. Opening a
// system table takes those steps itself: it finds the mark, rebuilds the opening tags and keeps the
// rows.
TEST_F(SystemTables, AnIndexLeftHalfWrittenIsReportedForRebuilding)
{
    {
        TTable table;
        TDataSource source(&table);
        TVeldrane veldrane(&source);
        ASSERT_TRUE(OpenFaxDBF(table, veldrane, folder_));
        AppendFax(table, {"Zulu", "20260105", "10:00", "Kim"});
        EXPECT_FALSE(veldrane.IndexNeedsRebuild());
        table.Close();
    }
    std::string cdx = zn::xbase::test::ReadFile(folder_ + "ZNOUT.CDX");
    ASSERT_GT(cdx.size(), 480u);
    cdx[480] = 1; // the mark of an index write in progress
    zn::xbase::test::WriteFile(folder_ + "ZNOUT.CDX", cdx);
    TTable table;
    TDataSource source(&table);
    TVeldrane veldrane(&source);
    ASSERT_TRUE(OpenFaxDBF(table, veldrane, folder_));
    EXPECT_FALSE(veldrane.IndexNeedsRebuild());
    EXPECT_EQ(Tags(veldrane).size(), 5u); // the opening set; DATEND comes with the full rebuild
    EXPECT_EQ(Column(table, "SUBJECT"), (std::vector<std::string>{"Zulu"}));
    veldrane.CloseIndexes();
    ASSERT_EQ(unlink((folder_ + "ZNOUT.CDX").c_str()), 0);
    BuildTags(veldrane, FaxTags(), false);
    EXPECT_FALSE(veldrane.IndexNeedsRebuild());
    EXPECT_EQ(Tags(veldrane).size(), 6u);
    table.Close();
}

TEST_F(SystemTables, ReceivedFaxOfManyPagesKeepsItsRow)
{
    TTable table;
    TDataSource source(&table);
    TVeldrane veldrane(&source);
    ASSERT_TRUE(OpenRecFaxDBF(table, veldrane, folder_));
    EXPECT_EQ(Tags(veldrane), (std::vector<std::string>{"DATETIME", "FROM", "ARCHIVED"}));
    EXPECT_EQ(veldrane.DBFilter(), ".not. deleted()");
    EXPECT_EQ(table.FieldByName("PAGES").DataType(), TFieldType::ftSmallint);
    EXPECT_EQ(table.FieldByName("PAGES").Size(), 2);
    for (int pages : {7, 99, 100, 250}) {
        table.Append();
        table.FieldByName("DATEREC").SetAsDate(QDate(2026, 12, 10));
        table.FieldByName("TIMEREC").SetAsString("10:1" + std::to_string(pages % 10));
        table.FieldByName("FROM").SetAsString("+1 555 " + std::to_string(pages));
        PutPageCount(table.FieldByName("PAGES"), pages);
        table.FieldByName("FAXFILE").SetAsString("FAX" + std::to_string(pages) + ".APF");
        table.Post();
    }
    // Writing the count itself is still refused by the field's width.
    table.Append();
    EXPECT_THROW(table.FieldByName("PAGES").SetAsInteger(100), EDatabaseError);
    table.Cancel();
    table.Close();
    int status = -1;
    EXPECT_EQ(RunCommand("dbf_dump --fields PAGES,FAXFILE '" + folder_ + "ZNREC.DBF'", &status),
              "7:FAX7.APF\n99:FAX99.APF\n99:FAX100.APF\n99:FAX250.APF\n");
    EXPECT_EQ(status, 0);
}

TEST_F(SystemTables, PhoneBookOpensInNameOrder)
{
    TTable table;
    TDataSource source(&table);
    TVeldrane veldrane(&source);
    ASSERT_TRUE(OpenPhoneDBF(table, veldrane, false, folder_));
    EXPECT_EQ(Tags(veldrane), (std::vector<std::string>{"NAME"}));
    EXPECT_EQ(veldrane.IndexOrd(), 1);
    EXPECT_EQ(table.IndexName(), "NAME");
    EXPECT_EQ(veldrane.DBFilter(), ".not. deleted()");
    EXPECT_FALSE(table.Exclusive());
}

} // namespace
} // namespace zn::data::test
