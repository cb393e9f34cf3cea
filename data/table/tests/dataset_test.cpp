// The dataset over a table: navigation, fields, the put rules and their result codes, and the
// table components working on the same work area.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <fstream>
#include <sstream>

#include "platform/date_format.h"
#include "table_test_util.h"
#include "platform/tests/param_name.h"

namespace zn::data::test {
namespace {

class Dataset : public TableFixture {
protected:
    // A table with one field of each kind the put rules treat differently.
    void MakeKinds()
    {
        ASSERT_TRUE(zn::xbase::test::CreateTable(folder_ + "KINDS.DBF", {{"NAME", "C", 10, 0},
                                                                         {"SMALL", "N", 4, 0},
                                                                         {"PRICE", "N", 5, 2},
                                                                         {"COUNT", "N", 6, 0},
                                                                         {"WHEN", "D", 8, 0},
                                                                         {"OK", "L", 1, 0}}));
        table_.SetDatabaseName(folder_);
        table_.SetTableName("kinds.dbf"); // found in any letter case
        table_.Open();
    }
    // The raw bytes of one field of record 1, as stored.
    std::string Stored(const std::string& field)
    {
        TField& f = table_.FieldByName(field);
        const std::string& raw = table_.CurrentRecord().raw;
        int offset = 1;
        for (int i = 0; i < table_.FieldCount() && &table_.Fields(i) != &f; ++i)
            offset += table_.Fields(i).Size();
        return raw.substr(static_cast<size_t>(offset), static_cast<size_t>(f.Size()));
    }
    int PutResult(const std::function<void()>& put)
    {
        try {
            put();
        } catch (const EDatabaseError& e) {
            return e.Code();
        }
        return 0;
    }
    TTable table_;
};

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
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "Bob"); // the NAME tag is not upper-cased
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
    EXPECT_EQ(table.MoveBy(-5), -1);
    EXPECT_TRUE(table.Bof());

    // Edit and cancel leave the row; edit and post change it and keep it current.
    table.First();
    table.Edit();
    table.FieldByName("NAME").SetAsString("Zed");
    table.Cancel();
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "Bob");
    table.Edit();
    table.FieldByName("NAME").SetAsString("Zed");
    table.Post();
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "Zed");
    EXPECT_EQ(Column(table, "NAME"), (std::vector<std::string>{"Carol", "Zed", "alice"}));

    // Delete hides the row (the phone book's filter) and the view moves on.
    table.First();
    table.Delete();
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "Zed");
    EXPECT_EQ(Column(table, "NAME"), (std::vector<std::string>{"Zed", "alice"}));
    EXPECT_EQ(table.RecordCount(), 3);
}

TEST_F(Dataset, PostOnAFullDiskFailsAndKeepsTheRowsBefore)
{
    TTable table;
    TDataSource source(&table);
    TVeldrane veldrane(&source);
    ASSERT_TRUE(OpenPhoneDBF(table, veldrane, false, folder_)); // shared: each post is written at once
    for (const char* name : {"Ann", "Bob"}) {
        table.Append();
        table.FieldByName("NAME").SetAsString(name);
        table.Post();
    }
    struct stat st {};
    ASSERT_EQ(stat((folder_ + "ZNPB.DBF").c_str(), &st), 0);
    // The disk fills: the table may not grow by another record.
    struct rlimit before;
    getrlimit(RLIMIT_FSIZE, &before);
    struct rlimit small = before;
    small.rlim_cur = static_cast<rlim_t>(st.st_size + 8);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    table.Append();
    table.FieldByName("NAME").SetAsString("Cy");
    bool refused = false;
    try {
        table.Post();
    } catch (const EDatabaseError&) {
        refused = true;
    }
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(refused);
    EXPECT_EQ(table.State(), TDataSetState::dsInsert); // the user may retry or cancel
    table.Cancel();
    table.Close();
    // What was written before is there, and no blank row shows.
    vd_SetDeleted(1);
    ASSERT_TRUE(OpenPhoneDBF(table, veldrane, false, folder_));
    EXPECT_EQ(Column(table, "NAME"), (std::vector<std::string>{"Ann", "Bob"}));
    vd_SetDeleted(0);
}

struct PutCase {
    const char* field;
    double value;
    int result;
    const char* stored; // when result is 0
};

void PrintTo(const PutCase& c, std::ostream* os) { *os << c.field << " := " << c.value; }

class PutRules : public Dataset, public ::testing::WithParamInterface<PutCase> {};

TEST_P(PutRules, NumbersAreStoredOrRefusedWith10019)
{
    MakeKinds();
    table_.Append();
    table_.Post();
    table_.Edit();
    const PutCase& c = GetParam();
    TField& f = table_.FieldByName(c.field);
    int result = PutResult([&] {
        f.DataType() == TFieldType::ftSmallint ? f.SetAsInteger(static_cast<long>(c.value)) : f.SetAsFloat(c.value);
    });
    EXPECT_EQ(result, c.result);
    table_.Post();
    if (c.result == 0)
        EXPECT_EQ(Stored(c.field), c.stored);
    else
        EXPECT_EQ(Stored(c.field), std::string(static_cast<size_t>(f.Size()), ' ')); // nothing half-written
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PutRules,
    ::testing::Values(PutCase{"PRICE", 3.14159, 0, " 3.14"}, PutCase{"PRICE", 12.5, 0, "12.50"},
                      PutCase{"PRICE", 123.456, 0, "123.5"}, // decimals dropped until it fits
                      PutCase{"PRICE", 1234.5, 0, " 1235"},
                      PutCase{"PRICE", 99999.99, 10019, ""}, // rounding adds a digit: no endless loop
                      PutCase{"PRICE", 123456.0, 10019, ""}, // longer than width + decimals + 1
                      PutCase{"PRICE", -1.5, 0, "-1.50"}, PutCase{"SMALL", 1234, 0, "1234"},
                      PutCase{"SMALL", 12345, 10019, ""}, PutCase{"SMALL", 7, 0, "   7"},
                      PutCase{"COUNT", 123456, 0, "123456"}, PutCase{"COUNT", 1234567, 10019, ""}),
                         [](const ::testing::TestParamInfo<PutCase>& info) {
                             std::ostringstream value;
                             value << info.param.value;
                             return zn::test::ParamName({info.param.field, value.str()});
                         });

TEST_F(Dataset, TypeMappingAndBlankFields)
{
    MakeKinds();
    EXPECT_EQ(table_.FieldByName("NAME").DataType(), TFieldType::ftString);
    EXPECT_EQ(table_.FieldByName("SMALL").DataType(), TFieldType::ftSmallint);
    EXPECT_EQ(table_.FieldByName("PRICE").DataType(), TFieldType::ftFloat);
    EXPECT_EQ(table_.FieldByName("COUNT").DataType(), TFieldType::ftFloat);
    EXPECT_EQ(table_.FieldByName("WHEN").DataType(), TFieldType::ftDate);
    EXPECT_EQ(table_.FieldByName("OK").DataType(), TFieldType::ftBoolean);
    EXPECT_EQ(FieldTypeOf('X', 1, 0), TFieldType::ftInvalid);
    EXPECT_EQ(FieldTypeOf('M', 10, 0), TFieldType::ftBlob);

    table_.Append();
    table_.Post();
    for (const char* name : {"NAME", "SMALL", "PRICE", "COUNT", "WHEN", "OK"})
        EXPECT_TRUE(table_.FieldByName(name).IsNull()) << name;
    EXPECT_FALSE(table_.FieldByName("WHEN").AsDate().isValid());
    EXPECT_EQ(table_.FieldByName("SMALL").AsInteger(), 0);

    table_.Edit();
    table_.FieldByName("NAME").SetAsString("a name longer than ten");
    table_.FieldByName("WHEN").SetAsDate(QDate(2026, 12, 10));
    table_.FieldByName("OK").SetAsBoolean(true);
    table_.FieldByName("SMALL").SetAsInteger(-42);
    table_.Post();
    EXPECT_EQ(table_.FieldByName("NAME").AsString(), "a name lon");
    EXPECT_EQ(Stored("WHEN"), "20261210");
    EXPECT_EQ(table_.FieldByName("WHEN").AsDate(), QDate(2026, 12, 10));
    EXPECT_TRUE(table_.FieldByName("OK").AsBoolean());
    EXPECT_EQ(table_.FieldByName("SMALL").AsInteger(), -42);
}

// Character fields keep their text in the tables' code page (1252, as the header marks it), one
// byte a character: what the windows put in reads back and shows as typed, the width cuts between
// characters, a character 1252 cannot hold becomes '?', and other programs read the same text.
TEST_F(Dataset, TextIsStoredInTheTablesCodePage)
{
    MakeKinds();
    struct Case {
        std::string typed, stored, read;
    };
    const Case cases[] = {
        {"Müller", "M\xFCller", "Müller"},
        {"Zoë Ärgerlich", "Zo\xEB \xC4rgerl", "Zoë Ärgerl"}, // cut at ten characters, not ten bytes
        {"“Offer”–5€ off",
         "\x93Offer\x94\x96"
         "5\x80",
         "“Offer”–5€"},
        {"東京 office", "?? office", "?? office"},
        {"A😀B", "A?B", "A?B"},
        {"plain", "plain", "plain"},
    };
    for (const Case& c : cases) {
        table_.Append();
        table_.FieldByName("NAME").SetAsString(c.typed);
        table_.Post();
        std::string stored = Stored("NAME");
        stored.erase(stored.find_last_not_of(' ') + 1);
        EXPECT_EQ(stored, c.stored) << c.typed;
        EXPECT_EQ(table_.FieldByName("NAME").AsString(), c.read) << c.typed;
        EXPECT_EQ(table_.FieldByName("NAME").DisplayString().toStdString(), c.read) << c.typed;
        table_.Delete();
    }
    table_.Append();
    table_.FieldByName("NAME").SetAsString("Müller €");
    table_.Post();
    table_.Close();
    int status = -1;
    const std::string out = RunCommand("PYTHONIOENCODING=utf-8 /usr/bin/python3 -c \"import sys, dbfread; "
                                       "print([r['NAME'] for r in dbfread.DBF(sys.argv[1])])\" "
                                           + folder_ + "KINDS.DBF",
                                       &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "['Müller €']\n");
}

TEST_F(Dataset, RawValuesWrittenByOtherProgramsReadSafely)
{
    MakeKinds();
    // Other tools write dates with bad digits and logicals in lower case.
    const char* dates[] = {"2026AB10", "20261340", "00000000", "2026 210"};
    for (const char* d : dates) {
        vd_Select(table_.WorkArea());
        vd_AppendBlank();
        std::string raw(static_cast<size_t>(vd_RecSize()), ' ');
        vd_GetRecord(raw.data());
        raw.replace(1 + 10 + 4 + 5 + 6, 8, d);
        raw[1 + 10 + 4 + 5 + 6 + 8] = 't';
        vd_PutRecord(raw.data());
        vd_Commit();
    }
    int rows = 0;
    for (table_.First(); !table_.Eof(); table_.Next(), ++rows) {
        TField& when = table_.FieldByName("WHEN");
        EXPECT_TRUE(when.IsNull()) << when.AsString();
        EXPECT_FALSE(when.AsDate().isValid());
        EXPECT_EQ(when.DisplayText(), "");
        EXPECT_FALSE(table_.FieldByName("OK").AsBoolean());
    }
    EXPECT_EQ(rows, 4);
}

TEST_F(Dataset, CurrentRecordRecheckStaysOnTheLastRecord)
{
    MakeKinds();
    for (const char* name : {"one", "two", "three"}) {
        table_.Append();
        table_.FieldByName("NAME").SetAsString(name);
        table_.Post();
    }
    TDataSource source(&table_);
    TVeldrane veldrane(&source);
    table_.Last();
    ASSERT_EQ(table_.RecNo(), 3);
    EXPECT_EQ(table_.CheckCurrentRecord(), 0);
    // The last record stops passing the filter under the dataset's feet.
    vd_Select(table_.WorkArea());
    vd_Query("NAME <> \"three\"");
    EXPECT_EQ(table_.CheckCurrentRecord(), DBIERR_RECDELETED);
    vd_Select(table_.WorkArea());
    EXPECT_EQ(vd_RecNo(), 3);
    EXPECT_FALSE(vd_Eof());
    // A refresh then shows the last record that qualifies.
    table_.Refresh();
    EXPECT_EQ(table_.FieldByName("NAME").AsString(), "two");
    EXPECT_FALSE(table_.IsEmpty());
}

TEST_F(Dataset, MarksLeaveTheViewWhereItIsAndOneCommitKeepsThemAll)
{
    MakeKinds();
    for (const char* name : {"one", "two", "three", "four"}) {
        table_.Append();
        table_.FieldByName("NAME").SetAsString(name);
        table_.Post();
    }
    table_.First();
    table_.MarkDeleted(2);
    table_.MarkDeleted(4);
    EXPECT_EQ(table_.RecNo(), 1);
    EXPECT_EQ(table_.FieldByName("NAME").AsString(), "one");
    EXPECT_EQ(PutResult([&] { table_.MarkDeleted(9); }), DBIERR_EOF);
    table_.Commit();
    // Each record's name, after a "*" when the file has it marked deleted.
    auto names = [&] {
        std::vector<std::string> out;
        for (table_.First(); !table_.Eof(); table_.Next()) {
            vd_Select(table_.WorkArea());
            vd_Go(table_.RecNo());
            out.push_back((vd_Deleted() ? "*" : "") + table_.FieldByName("NAME").AsString());
        }
        return out;
    };
    table_.Close();
    table_.Open();
    EXPECT_EQ(names(), (std::vector<std::string>{"one", "*two", "three", "*four"}));
    table_.GoToRecord(3);
    table_.MarkDeleted(table_.RecNo());
    table_.Commit();
    EXPECT_EQ(table_.FieldByName("NAME").AsString(), "three");
    table_.Close();
    table_.Open();
    EXPECT_EQ(names(), (std::vector<std::string>{"one", "*two", "*three", "*four"}));
}

TEST_F(Dataset, UnknownFieldTypeIsNoticedAndTheTableStillOpens)
{
    ASSERT_TRUE(zn::xbase::test::CreateTable(folder_ + "ODD.DBF", {{"NAME", "C", 10, 0}, {"ODD", "C", 4, 0}}));
    // Another program's type letter in the second field descriptor.
    {
        std::fstream f(folder_ + "ODD.DBF", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(32 + 32 + 11);
        f.put('X');
    }
    std::vector<std::string> notices;
    SetTableNoticeHook([&](const std::string& text) { notices.push_back(text); });
    table_.SetDatabaseName(folder_);
    table_.SetTableName("ODD.DBF");
    table_.Open();
    SetTableNoticeHook({});
    EXPECT_EQ(notices, (std::vector<std::string>{"Invalid Field Type X"}));
    EXPECT_EQ(table_.FieldByName("ODD").DataType(), TFieldType::ftInvalid);
    EXPECT_EQ(table_.FieldByName("NAME").DataType(), TFieldType::ftString);
}

TEST_F(Dataset, ErrorTextsAndOpenFailure)
{
    EXPECT_EQ(DbiErrorText(11011), "File Open Error");
    EXPECT_EQ(DbiErrorText(10019), "IDAPI Error : 10019");
    EXPECT_EQ(DbiErrorText(8709), "IDAPI Error : 8709");
    table_.SetDatabaseName(folder_);
    table_.SetTableName("MISSING.DBF");
    try {
        table_.Open();
        FAIL() << "a missing table opened";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Code(), 11011);
        EXPECT_EQ(std::string(e.what()).rfind("File Open Error", 0), 0u);
    }
    EXPECT_FALSE(table_.Active());
}

TEST_F(Dataset, SecondTableOfTheSameNameGetsANumberedAlias)
{
    ScratchFolder other;
    TTable first, second;
    TVeldrane v1, v2;
    ASSERT_TRUE(OpenFaxDBF(first, v1, folder_));
    ASSERT_TRUE(OpenFaxDBF(second, v2, other.Path() + "/"));
    EXPECT_EQ(vd_WorkArea("ZNOUT"), first.WorkArea());
    EXPECT_EQ(vd_WorkArea("ZNOUT_1"), second.WorkArea());
}

TEST_F(Dataset, CalculatedFieldsAndControlsDisabled)
{
    MakeKinds();
    table_.Close();
    table_.AddCalcField("LABEL", TFieldType::ftString, 20);
    table_.OnCalcFields = [](TTable& t) {
        t.FieldByName("LABEL").SetAsString("<" + t.FieldByName("NAME").AsString() + ">");
    };
    table_.Open();
    int changes = 0;
    table_.AddLink([&](TDataEvent e) { changes += e == TDataEvent::deDataSetChanged; });
    table_.DisableControls();
    for (const char* name : {"a", "b"}) {
        table_.Append();
        table_.FieldByName("NAME").SetAsString(name);
        table_.Post();
    }
    EXPECT_EQ(changes, 0);
    table_.EnableControls();
    EXPECT_EQ(changes, 1);
    table_.First();
    EXPECT_EQ(table_.FieldByName("LABEL").AsString(), "<a>");
    EXPECT_TRUE(table_.FieldByName("LABEL").Calculated());
    std::vector<TRecordBuffer> rows;
    table_.ReadRows(0, 1, 5, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].calc.at("LABEL"), "<b>");
}

class Veldrane : public TableFixture {
protected:
    void SetUp() override
    {
        TableFixture::SetUp();
        Link(table_, source_, veldrane_);
    }
    TTable table_;
    TDataSource source_;
    TVeldrane veldrane_;
};

TEST_F(Veldrane, RecNoOnAnEmptyFilteredTableIsRecCountPlusOne)
{
    ASSERT_TRUE(OpenFaxDBF(table_, veldrane_, folder_));
    AppendFax(table_, {"a", "", "", "x", true});
    AppendFax(table_, {"b", "", "", "y", true});
    veldrane_.Query(kArchiveFilter);
    EXPECT_TRUE(table_.IsEmpty());
    EXPECT_EQ(veldrane_.RecCount(), 2);
    EXPECT_EQ(veldrane_.RecNo(), 3);
    EXPECT_EQ(veldrane_.QueryRecCount(), 0);
    veldrane_.Query("");
    EXPECT_EQ(veldrane_.QueryRecCount(), 2);
    EXPECT_NE(veldrane_.RecNo(), 3);
}

TEST_F(Veldrane, SetOrderZeroReturnsThePreviousOrderAndGivesRecordOrder)
{
    ASSERT_TRUE(OpenFaxDBF(table_, veldrane_, folder_));
    AppendFax(table_, {"b", "20260102", "", "x"});
    AppendFax(table_, {"a", "20260101", "", "y"});
    AppendFax(table_, {"c", "20260103", "", "z"});
    int subject = veldrane_.TagArea("SUBJECT");
    EXPECT_EQ(subject, 2);
    veldrane_.SetOrder(subject);
    EXPECT_EQ(Column(table_, "SUBJECT"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(veldrane_.SetOrder(0), subject);
    EXPECT_EQ(veldrane_.IndexOrd(), 0);
    EXPECT_EQ(table_.IndexName(), "");
    EXPECT_EQ(Column(table_, "SUBJECT"), (std::vector<std::string>{"b", "a", "c"}));
    // DATESENT is descending: the newest first.
    veldrane_.SetOrder(veldrane_.TagArea("DATESENT"));
    EXPECT_EQ(Column(table_, "SUBJECT"), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(veldrane_.SetOrder(99), 1); // beyond the last: nothing changes
    EXPECT_EQ(veldrane_.IndexOrd(), 1);
    EXPECT_EQ(veldrane_.TagArea("NOSUCHTAG"), 0);
    EXPECT_EQ(veldrane_.TagName(6), "");
}

TEST_F(Veldrane, FilterSetOnAClosedTableTakesEffectWhenItOpens)
{
    ASSERT_TRUE(OpenFaxDBF(table_, veldrane_, folder_));
    AppendFax(table_, {"kept", "", "", "x", false});
    AppendFax(table_, {"archived", "", "", "y", true});
    table_.Close();
    veldrane_.Query("");
    EXPECT_EQ(veldrane_.Query(kArchiveFilter), 0);
    EXPECT_EQ(veldrane_.Filter(), kArchiveFilter);
    table_.Open();
    EXPECT_EQ(veldrane_.DBFilter(), kArchiveFilter);
    EXPECT_EQ(Column(table_, "SUBJECT"), (std::vector<std::string>{"kept"}));
}

TEST_F(Veldrane, EvalLogicalAndDeletedSeeTheDatasetsRecord)
{
    ASSERT_TRUE(OpenFaxDBF(table_, veldrane_, folder_));
    veldrane_.Query("");
    AppendFax(table_, {"first", "", "", "x", false});
    AppendFax(table_, {"second", "", "", "y", true});
    table_.First();
    // Move the engine elsewhere behind the dataset's back: the component still judges the
    // dataset's current record, and puts the engine back afterwards.
    vd_Select(table_.WorkArea());
    long current = table_.RecNo();
    vd_Go(current == 1 ? 2 : 1);
    long engine = vd_RecNo();
    EXPECT_EQ(veldrane_.EvalLogical("ARCHIVED"), table_.FieldByName("ARCHIVED").AsBoolean());
    vd_Select(table_.WorkArea());
    EXPECT_EQ(vd_RecNo(), engine);
    EXPECT_FALSE(veldrane_.Deleted());
    vd_SetDeleted(0);
    table_.Delete();
    table_.GoToRecord(current);
    EXPECT_TRUE(veldrane_.Deleted());
}

TEST_F(Veldrane, PhoneBookSharedByTwoProcesses)
{
    ASSERT_TRUE(OpenPhoneDBF(table_, veldrane_, false, folder_));
    table_.Append();
    table_.FieldByName("NAME").SetAsString("Shared");
    table_.Post();
    // Another program holding the phone book shared while this one works.
    OtherProgram other([this] {
        static TTable t; // kept open until the child ends
        static TVeldrane v;
        return OpenPhoneDBF(t, v, false, folder_) && t.FieldByName("NAME").AsString() == "Shared";
    });
    ASSERT_TRUE(other.Holding());
    // Shared beside it works; exclusive needs sole use.
    TTable second;
    TVeldrane secondVeldrane;
    table_.Close();
    EXPECT_TRUE(OpenPhoneDBF(second, secondVeldrane, false, folder_));
    second.Close();
    EXPECT_FALSE(OpenPhoneDBF(second, secondVeldrane, true, folder_));
    other.Release();
    EXPECT_TRUE(OpenPhoneDBF(second, secondVeldrane, true, folder_));
    EXPECT_EQ(second.FieldByName("NAME").AsString(), "Shared");
}

struct DateFormCase {
    TVeldraneDateFrmt format;
    bool century;
    const char* shown; // 10 December 2026
    char separator;
};

void PrintTo(const DateFormCase& c, std::ostream* os) { *os << c.shown; }

class EnvDateForms : public TableFixture, public ::testing::WithParamInterface<DateFormCase> {};

TEST_P(EnvDateForms, SetTheProcessWideShortDateFormat)
{
    std::string before = zn::platform::ShortDateFormat();
    TVeldraneEnv env;
    env.SetCentury(GetParam().century);
    env.SetDateFormat(GetParam().format);
    zn::platform::DateTime when{2026, 12, 10, 0, 0, 0, 0};
    EXPECT_EQ(zn::platform::FormatDateTime(zn::platform::ShortDateFormat(), when), GetParam().shown);
    EXPECT_EQ(DateSeparator(), GetParam().separator);
    zn::platform::SetShortDateFormat(before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnvDateForms,
    ::testing::Values(DateFormCase{dfAmerican, false, "12/10/26", '/'},
                      DateFormCase{dfAmerican, true, "12/10/2026", '/'}, DateFormCase{dfAnsi, false, "26.12.10", '.'},
                      DateFormCase{dfAnsi, true, "2026.12.10", '.'}, DateFormCase{dfBritish, true, "10/12/2026", '/'},
                      DateFormCase{dfFrench, false, "10/12/26", '/'}, DateFormCase{dfGerman, true, "10.12.2026", '.'},
                      DateFormCase{dfItalian, false, "10-12-26", '-'},
                      DateFormCase{dfSpanish, true, "10-12-2026", '-'}),
                         ([](const ::testing::TestParamInfo<DateFormCase>& info) {
                             const char* forms[] = {"American", "Ansi", "British", "French", "German", "Italian", "Spanish"};
                             return std::string(forms[info.param.format]) + (info.param.century ? "_Century" : "");
                         }));

TEST_F(Dataset, EnvSettingsReachTheEngine)
{
    TVeldraneEnv env;
    EXPECT_EQ(env.LockTimeout(), 1);
    EXPECT_EQ(env.MemoBlockSize(), 64);
    env.SetDeleted(true);
    EXPECT_EQ(vd_SetDeleted(0), 1);
    env.SetExact(true);
    EXPECT_EQ(vd_SetExact(0), 1);
    env.SetSoftSeek(true);
    EXPECT_EQ(vd_SetSoftSeek(0), 1);
    env.SetLockTimeout(7);
    EXPECT_EQ(vd_SetLockTimeout(1), 7);
}

} // namespace
} // namespace zn::data::test
