// The fax record's helpers, the response collector, receive names, header tokens and the engine's
// reads and writes of fax image files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>

#include "comms/engine/fax_image_io.h"
#include "comms/engine/fax_modem_commands.h"
#include "comms/engine/copy_quality.h"
#include "comms/engine/fax_session_glue.h"
#include "platform/file_replacement.h"
#include "apf_test_pages.h"
#include "faxdoc/mh_coder.h"
#include "faxdoc/converter.h"
#include "faxline_harness.h"
#include "platform/tests/param_name.h"

using namespace zn::comms;

namespace {

// The test pages go through scratch TIFF files for libtiff: none is left in the temporary folder.
static std::vector<std::string> Names(const std::string& folder, const std::string& prefix = "")
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.' && std::string(e->d_name).rfind(prefix, 0) == 0)
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(TestPages, LeaveNoScratchFilesBehind)
{
    const auto inTmpBefore = Names("/tmp", "zn-apf-");
    faxline::TempDir dir, scratch;
    const char* before = std::getenv("TMPDIR");
    const std::string saved = before ? before : "";
    ::setenv("TMPDIR", scratch.Path().c_str(), 1);
    faxline::Bitmap page;
    page.width = 1728;
    page.height = 8;
    page.bits.assign(size_t(page.RowBytes()) * page.height, 0);
    page.bits[100] = 0xF0;
    std::vector<faxline::Bitmap> got;
    const bool written = zn::comms::test::WriteApf(dir.File("p.apf"), {page}, true);
    const bool read = zn::comms::test::ReadApf(dir.File("p.apf"), got);
    if (before)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    ASSERT_TRUE(written);
    ASSERT_TRUE(read);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bits[100], 0xF0);
    EXPECT_EQ(Names(scratch.Path()), std::vector<std::string>{});
    for (const std::string& name : Names("/tmp", "zn-apf-"))
        EXPECT_TRUE(std::binary_search(inTmpBefore.begin(), inTmpBefore.end(), name) || name.size() > 13)
            << "an empty name-holder /tmp/" << name << " was left";
}

TEST(Record, DefaultInitFollowsDiallingOptions)
{
    EXPECT_EQ(DefaultInitString(true, false), "ATE0Q0V1X1S0=0S2=43");
    EXPECT_EQ(DefaultInitString(false, false), "ATE0Q0V1X2S0=0S2=43");
    EXPECT_EQ(DefaultInitString(true, true), "ATE0Q0V1X3S0=0S2=43");
    EXPECT_EQ(DefaultInitString(false, true), "ATE0Q0V1X4S0=0S2=43");
}

TEST(Record, ModemInitGetsAtAndUpperCase)
{
    EXPECT_EQ(NormaliseModemInit("e0"), "ATE0");
    EXPECT_EQ(NormaliseModemInit("at&f"), "AT&F");
    EXPECT_EQ(NormaliseModemInit(""), "");
    EXPECT_EQ(NormaliseModemInit(std::string(45, 'x')).size(), 40u);
}

TEST(Record, BitRateDigits)
{
    EXPECT_EQ(BrDigit(2400), '0');
    EXPECT_EQ(BrDigit(4800), '1');
    EXPECT_EQ(BrDigit(7200), '2');
    EXPECT_EQ(BrDigit(9600), '3');
    EXPECT_EQ(BrDigit(12000), '4');
    EXPECT_EQ(BrDigit(14400), '5');
    EXPECT_EQ(BrDigit(19200), '3');
}

TEST(Record, MinimumRowBytes)
{
    EXPECT_EQ(MinimumRowBytes(5, false, 14400), 36); // 20 ms
    EXPECT_EQ(MinimumRowBytes(4, true, 9600), 12);   // 10 ms at fine
    EXPECT_EQ(MinimumRowBytes(0, true, 14400), 0);
}

TEST(Record, HangupCode)
{
    EXPECT_EQ(HangupCodeOf("+FHNG:50"), 50);
    EXPECT_EQ(HangupCodeOf("+FHS: 2"), 2);
    EXPECT_EQ(HangupCodeOf("+FHNG"), 0);
}

TEST(Record, StationIdOfAReport)
{
    EXPECT_EQ(StationIdFromReport("\"  +1 555 0100 \""), "+1 555 0100");
    EXPECT_EQ(StationIdFromReport(std::string(30, '9')).size(), 20u);
}

TEST(Record, BitReversal)
{
    EXPECT_EQ(ReverseBits(0x01), 0x80);
    EXPECT_EQ(ReverseBits(0xB2), 0x4D);
}

TEST(Record, BlankRowsCodeTheFullWidth)
{
    // EOL, then one white make-up code and terminating code 0: 1728 or 2048 pixels.
    EXPECT_EQ(std::vector<uint8_t>(kBlankRow1728, kBlankRow1728 + 6),
              (std::vector<uint8_t>{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(kBlankRow2048, kBlankRow2048 + 6),
              (std::vector<uint8_t>{0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00}));
}

ResponseCollector::Item Feed(ResponseCollector& r, const std::string& bytes, ResponseCollector::Item stopAt)
{
    ResponseCollector::Item last = ResponseCollector::None;
    for (unsigned char c : bytes) {
        last = r.Add(c);
        if (last == stopAt)
            return last;
    }
    return last;
}

TEST(Collector, LinesAreTrimmedAndNeverEmpty)
{
    ResponseCollector r;
    EXPECT_EQ(Feed(r, "\r\n\r\nOK\r\n", ResponseCollector::Line), ResponseCollector::Line);
    EXPECT_EQ(r.Text(), "OK");
}

TEST(Collector, FrameKeepsCrLfAndUnstuffsDle)
{
    ResponseCollector r;
    ASSERT_EQ(Feed(r, "\r\nCONNECT\r\n", ResponseCollector::Line), ResponseCollector::Line);
    EXPECT_EQ(r.Text(), "CONNECT");
    // A frame whose information holds CR LF and a DLE (stuffed), then OK.
    std::string frame = std::string("\xFF\x03\x40") + "\r\n" + "\x10\x10" + "AB" + "\x10\x03";
    ASSERT_EQ(Feed(r, frame, ResponseCollector::Frame), ResponseCollector::Frame);
    EXPECT_EQ(r.Text(), std::string("\xFF\x03\x40\r\n\x10"
                                    "AB"));
    ASSERT_EQ(Feed(r, "\r\nOK\r\n", ResponseCollector::Line), ResponseCollector::Line);
    EXPECT_EQ(r.Text(), "OK");
}

TEST(Collector, NoiseBeforeAFrameAndFlowCharactersAreDropped)
{
    ResponseCollector r;
    ASSERT_EQ(Feed(r, std::string("zz\x11\xFF\x13\x84\x10\x03"), ResponseCollector::Frame), ResponseCollector::Frame);
    EXPECT_EQ(r.Text(), "\xFF\x13\x84");
    ASSERT_EQ(Feed(r, "\x11\r\nOK\r\n", ResponseCollector::Line), ResponseCollector::Line);
    EXPECT_EQ(r.Text(), "OK");
}

TEST(Collector, LongLineKeepsItsLast128Characters)
{
    ResponseCollector r;
    std::string line = std::string(100, 'a') + std::string(100, 'b');
    ASSERT_EQ(Feed(r, line + "\r\n", ResponseCollector::Line), ResponseCollector::Line);
    EXPECT_EQ(r.Text(), std::string(26, 'a') + std::string(100, 'b'));
}

TEST(Collector, FcErrorIsNoError)
{
    struct Probe : FaxModemCommands {
        void Take(const std::string& s) { Feed(response, s, ResponseCollector::Line); }
    } p;
    p.Take("\r\n+FCERROR\r\n");
    EXPECT_TRUE(p.IsFcError());
    EXPECT_FALSE(p.IsError());
    p.Take("\r\nERROR\r\n");
    EXPECT_TRUE(p.IsError());
}

struct ReplyCase {
    const char* line;
    ModemReply reply;
};

class Replies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(Replies, EachLineHasOneClass)
{
    ResponseCollector r;
    ASSERT_EQ(Feed(r, std::string("\r\n") + GetParam().line + "\r\n", ResponseCollector::Line),
              ResponseCollector::Line);
    EXPECT_EQ(r.Reply(), GetParam().reply);
    r.Clear();
    EXPECT_EQ(r.Reply(), ModemReply::None);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Replies,
    ::testing::Values(ReplyCase{"OK", ModemReply::Ok}, ReplyCase{"CONNECT", ModemReply::Connect},
                      ReplyCase{"CONNECT 9600", ModemReply::Connect}, ReplyCase{"NO CARRIER", ModemReply::NoCarrier},
                      ReplyCase{"ERROR", ModemReply::Error}, ReplyCase{"+FCERROR", ModemReply::FcError},
                      ReplyCase{"BUSY", ModemReply::Busy}, ReplyCase{"NO ANSWER", ModemReply::NoAnswer},
                      ReplyCase{"VCON", ModemReply::Voice}, ReplyCase{"VOICE", ModemReply::Voice},
                      ReplyCase{"NO DIALTONE", ModemReply::NoDialTone}, ReplyCase{"RING", ModemReply::Ring},
                      // A far end's identity is its own text: it says neither OK nor ERROR.
                      ReplyCase{"+FCSI: \"BOOK SHOP\"", ModemReply::Report},
                      ReplyCase{"+FTSI:\"ERROR DESK\"", ModemReply::Report}, ReplyCase{"+FPTS:1", ModemReply::Report},
                      ReplyCase{"+FHNG:0", ModemReply::Report}, ReplyCase{"ATA", ModemReply::Other}),
                         [](const ::testing::TestParamInfo<ReplyCase>& info) { return zn::test::ParamName(info.param.line); });

TEST(Collector, ReportDigitIsTheFirstCharacterOfTheValue)
{
    struct Probe : FaxModemCommands {
        char Digit(const std::string& line)
        {
            Feed(response, "\r\n" + line + "\r\n", ResponseCollector::Line);
            return ReportDigit();
        }
    } p;
    EXPECT_EQ(p.Digit("+FPTS:1,2200,0,0"), '1');
    EXPECT_EQ(p.Digit("+FPS: 2,0,0,0,0"), '2');
    EXPECT_EQ(p.Digit("3,0,0,0,0"), '3'); // the value line of AT+FPS?
    EXPECT_EQ(p.Digit("+FET:"), 0);
}

TEST(Collector, AFrameIsNoReply)
{
    ResponseCollector r;
    ASSERT_EQ(Feed(r, "\r\nOK\r\n", ResponseCollector::Line), ResponseCollector::Line);
    ASSERT_EQ(Feed(r, std::string("\xFF\x13\x84OK\x10\x03"), ResponseCollector::Frame), ResponseCollector::Frame);
    EXPECT_EQ(r.Reply(), ModemReply::None);
}

class ReceiveNames : public ::testing::Test {
protected:
    void Touch(const std::string& name) { std::ofstream(dir_.File(name)) << "x"; }
    faxline::TempDir dir_;
};

TEST_F(ReceiveNames, FirstFreeCounterInTheFolder)
{
    EXPECT_EQ(ReceiveFileName("FAX", dir_.Path(), "APF"), dir_.File("FAX0001.APF"));
    Touch("FAX0001.APF");
    Touch("FAX0002.APF");
    EXPECT_EQ(ReceiveFileName("FAX", dir_.Path() + "/", "APF"), dir_.File("FAX0003.APF"));
    EXPECT_EQ(ReceiveFileName("MMDD", dir_.Path(), "APF", 3, 9), dir_.File("03090001.APF"));
    // Another spelling of a name still takes it: the fax in it is never shadowed or overwritten.
    Touch("fax0003.apf");
    Touch("Fax0004.Apf");
    EXPECT_EQ(ReceiveFileName("FAX", dir_.Path(), "APF"), dir_.File("FAX0005.APF"));
}

// A name a fax is being received under (its temporary, of a living writer) is not free; the one
// of a dead writer is.
TEST_F(ReceiveNames, ANameBeingReceivedIsTaken)
{
    zn::platform::FileReplacement receiving(dir_.File("FAX0001.APF"));
    ASSERT_EQ(receiving.Open(), 0);
    EXPECT_EQ(ReceiveFileName("FAX", dir_.Path(), "APF"), dir_.File("FAX0002.APF"));
    receiving.Discard();
    Touch("FAX0001.APF.~zn999999999-0.tmp"); // no such process
    EXPECT_EQ(ReceiveFileName("FAX", dir_.Path(), "APF"), dir_.File("FAX0001.APF"));
}

// With every number taken the fax is still stored: NONAME.APF in the folder, and after it
// NONAME1.APF, NONAME2.APF, ...; none is ever written over.
TEST_F(ReceiveNames, AllNamesTakenGivesNoNameNeverOverAnEarlierOne)
{
    char name[32];
    for (int n = 1; n <= 9999; ++n) {
        std::snprintf(name, sizeof name, "FAX%04d.APF", n);
        Touch(name);
    }
    EXPECT_EQ(ReceiveFileName("FAX", dir_.Path(), "APF"), dir_.File("NONAME.APF"));
    Touch("noname.apf");
    EXPECT_EQ(ReceiveFileName("FAX", dir_.Path(), "APF"), dir_.File("NONAME1.APF"));
    Touch("NONAME1.APF");
    zn::platform::FileReplacement receiving(dir_.File("NONAME2.APF"));
    ASSERT_EQ(receiving.Open(), 0);
    EXPECT_EQ(ReceiveFileName("FAX", dir_.Path(), "APF"), dir_.File("NONAME3.APF"));
}

struct QualityCase {
    const char* name;
    PageQuality quality;
    bool acceptable;
};

void PrintTo(const QualityCase& c, std::ostream* os) { *os << c.name; }

class CopyQuality : public ::testing::TestWithParam<QualityCase> {};

TEST_P(CopyQuality, APageIsConfirmedOnlyWhenGoodEnough)
{
    EXPECT_EQ(CopyQualityAcceptable(GetParam().quality), GetParam().acceptable);
}

// A fine A4 page has 2286 rows: 5 % of them is 114.
INSTANTIATE_TEST_SUITE_P(Pages, CopyQuality,
                         ::testing::Values(QualityCase{"Clean", {2286, 0, 0}, true},
                                           QualityCase{"AFewIsolatedBadRows", {2286, 7, 1}, true},
                                           QualityCase{"FivePercentInShortRuns", {2286, 114, 5}, true},
                                           QualityCase{"MoreThanFivePercent", {2286, 115, 1}, false},
                                           QualityCase{"SixBadRowsInARow", {2286, 6, 6}, false},
                                           QualityCase{"NoisyPage", {2286, 1067, 342}, false},
                                           QualityCase{"BlankPage", {0, 0, 0}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CopyQualityReport, CountsOfAClass2PageStatus)
{
    EXPECT_TRUE(CopyQualityAcceptable(QualityFromPageStatus("1,2376,0,0", false)));
    EXPECT_TRUE(CopyQualityAcceptable(QualityFromPageStatus("+FPTS:1,2376,3,1,0", false)));
    EXPECT_FALSE(CopyQualityAcceptable(QualityFromPageStatus("1,2376,396,360", false)));
    EXPECT_FALSE(CopyQualityAcceptable(QualityFromPageStatus("+FPS:1,1100,40,12,0", false)));
    const PageQuality q = QualityFromPageStatus("1,2376,396,360,17", false);
    EXPECT_EQ(q.rows, 2376);
    EXPECT_EQ(q.badRows, 396);
    EXPECT_EQ(q.consecutiveBadRows, 360);
    // A modem that gives the response alone counts nothing: its verdict stands.
    EXPECT_TRUE(CopyQualityAcceptable(QualityFromPageStatus("1", false)));
}

// One page as a Class 2 modem reports it (decimal) and as a Class 2.0 modem does (hexadecimal).
struct PageReportCase {
    const char* name;
    const char* class2Line;
    const char* class20Line;
    PageQuality counts;
    bool acceptable;
};

void PrintTo(const PageReportCase& c, std::ostream* os) { *os << c.name; }

class PageStatusOfEachClass : public ::testing::TestWithParam<PageReportCase> {};

TEST_P(PageStatusOfEachClass, JudgesThePageTheSameWay)
{
    const PageReportCase& c = GetParam();
    for (auto [line, class20] : {std::pair{c.class2Line, false}, std::pair{c.class20Line, true}}) {
        SCOPED_TRACE(line);
        const PageQuality q = QualityFromPageStatus(line, class20);
        EXPECT_EQ(q.rows, c.counts.rows);
        EXPECT_EQ(q.badRows, c.counts.badRows);
        EXPECT_EQ(q.consecutiveBadRows, c.counts.consecutiveBadRows);
        EXPECT_EQ(CopyQualityAcceptable(q), c.acceptable);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reports, PageStatusOfEachClass,
    ::testing::Values(PageReportCase{"Clean", "+FPTS:1,2294,0,0", "+FPS:1,8F6,0,0,0", {2294, 0, 0}, true},
                      PageReportCase{"FiveIsolatedBadRows", "+FPTS:1,2294,5,2", "+FPS:1,8F6,5,2,0", {2294, 5, 2}, true},
                      PageReportCase{"SevenPercentBadRows", "+FPTS:1,2294,160,1", "+FPS:1,8F6,A0,1,0", {2294, 160, 1},
                                     false},
                      PageReportCase{"AHoleOfSixteenRows", "+FPTS:1,1143,16,16", "+FPS:1,477,10,10,3C",
                                     {1143, 16, 16}, false},
                      PageReportCase{"LowerCaseHexadecimal", "+FPTS:1,1100,40,5", "+FPS:1,44c,28,5,0",
                                     {1100, 40, 5}, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct TokenCase {
    std::string line;
    std::string expanded;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }

class HeaderTokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(HeaderTokens, Expand)
{
    HeaderValues v;
    v.date = "2026-12-10";
    v.time = "14:30";
    v.stationId = "ID$P";
    v.sender = "Sender";
    v.recipient = "Recipient";
    v.title = "Title";
    v.currentPage = 2;
    v.totalPages = 3;
    EXPECT_EQ(ExpandHeaderLine(GetParam().line, v), GetParam().expanded);
}

INSTANTIATE_TEST_SUITE_P(Lines, HeaderTokens,
                         ::testing::Values(TokenCase{"$D $T $F to $R $S page $P of $N",
                                                     "2026-12-10 14:30 Sender to Recipient Title page 2 of 3"},
                                           // A token runs up to the next blank.
                                           TokenCase{"$R: $P/$N", "Recipient 2"},
                                           TokenCase{"$d $t", "2026-12-10 14:30"}, TokenCase{"a $Q b", "a  b"},
                                           TokenCase{"end $", "end "}, TokenCase{"$Pxyz!", "2"},
                                           // A replacement holding "$" is not scanned again.
                                           TokenCase{"from $I", "from ID$P"}),
                         [](const ::testing::TestParamInfo<TokenCase>& info) { return zn::test::ParamName(info.param.line); });

TEST(HeaderTokensWithCover, PageNumbersCountTheCover)
{
    HeaderValues v;
    v.withCover = true;
    v.totalPages = 3;
    v.currentPage = 0;
    EXPECT_EQ(ExpandHeaderLine("$P of $N", v), "1 of 4");
    v.currentPage = 1;
    EXPECT_EQ(ExpandHeaderLine("$P of $N", v), "2 of 4");
}

TEST(HeaderTokensLength, CutAt255)
{
    HeaderValues v;
    v.title = std::string(300, 't');
    EXPECT_EQ(ExpandHeaderLine("$S", v).size(), 255u);
}

class FaxFile : public ::testing::Test {
protected:
    faxline::TempDir dir_;
};

TEST_F(FaxFile, ReceivedPagesAreCountedAndACutPageLeavesNoTrace)
{
    TFaxModemRec m;
    std::string name = dir_.File("FAX0001.APF");
    ASSERT_EQ(ApfCreate(m, name, "LOCAL"), 0);
    const uint8_t page1[] = {1, 2, 3, 4};
    ASSERT_EQ(ApfAppendPageHeader(m, true, false), 0);
    ASSERT_EQ(ApfWriteBytes(m, page1, sizeof page1), 0);
    ASSERT_EQ(ApfFinishPage(m, "REMOTE", 4), 0);
    const uint8_t bad[] = {9, 9, 9};
    ASSERT_EQ(ApfAppendPageHeader(m, false, true), 0);
    ASSERT_EQ(ApfWriteBytes(m, bad, sizeof bad), 0);
    ASSERT_EQ(ApfCutPage(m), 0);
    const uint8_t page2[] = {5, 6};
    ASSERT_EQ(ApfAppendPageHeader(m, false, true), 0);
    ASSERT_EQ(ApfWriteBytes(m, page2, sizeof page2), 0);
    ASSERT_EQ(ApfFinishPage(m, "REMOTE", 2), 0);
    ApfClose(m);

    TFaxModemRec r;
    ASSERT_EQ(ApfOpenForReading(r, dir_.File("FAX0001"), "APF"), 0); // the extension is added
    EXPECT_EQ(ApfPageCount(r), 2);
    EXPECT_EQ(r.apfHeader.StationId(), "REMOTE");
    ASSERT_EQ(ApfSeekPage(r, 2), 0);
    EXPECT_EQ(ApfPageBodyLength(r), 2);
    EXPECT_EQ(ApfPageFlags(r), kPageWide);
    std::vector<uint8_t> body;
    ASSERT_EQ(ApfReadBlock(r, body, 2), 0);
    EXPECT_EQ(body, (std::vector<uint8_t>{5, 6}));
    EXPECT_EQ(ApfSeekPage(r, 3), ecDiskRead);
    EXPECT_EQ(ApfSeekPage(r, 0), ecDiskRead);
    ApfClose(r);
}

TEST_F(FaxFile, RowRecordsAreCappedAndPadded)
{
    std::string path = dir_.File("rows.apf");
    {
        std::ofstream out(path, std::ios::binary);
        std::string header(64, '\0');
        header.replace(0, 6, "APF10\x1A");
        header[32] = 1;
        header[34] = 64;
        out << header;
        std::string page(16, '\0');
        uint32_t length = 2 + 5000 + 2 + 3;
        for (int i = 0; i < 4; ++i)
            page[size_t(i)] = char((length >> (8 * i)) & 0xFF);
        page[4] = 4;
        out << page;
        out << char(0x88) << char(0x13) << std::string(5000, '\x55'); // 5000 bytes
        out << char(3) << char(0) << "abc";
    }
    TFaxModemRec m;
    ASSERT_EQ(ApfOpenForReading(m, path, "APF"), 0);
    ASSERT_EQ(ApfSeekPage(m, 1), 0);
    std::vector<uint8_t> row;
    int32_t used = 0;
    ASSERT_EQ(ApfReadRowRecord(m, row, 10, used), 0);
    EXPECT_EQ(row.size(), 4096u);
    EXPECT_EQ(used, 5002);
    ASSERT_EQ(ApfReadRowRecord(m, row, 10, used), 0);
    EXPECT_EQ(row, (std::vector<uint8_t>{'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0}));
    ApfClose(m);
}

TEST_F(FaxFile, NamesKeepTheirCaseAndFindAFileSpeltOtherwise)
{
    TFaxModemRec m;
    ASSERT_EQ(ApfCreate(m, dir_.File("Mixed Case.apf"), "ID"), 0);
    ApfClose(m);
    ASSERT_EQ(ApfOpenForReading(m, dir_.File("Mixed Case.apf"), "APF"), 0);
    EXPECT_EQ(m.openedFileName, dir_.File("Mixed Case.apf"));
    ApfClose(m);
    ASSERT_EQ(ApfOpenForReading(m, dir_.File("MIXED CASE"), "APF"), 0);
    EXPECT_EQ(m.openedFileName, dir_.File("Mixed Case.apf"));
    ApfClose(m);
}

// A page's rows against its width flag, as a send checks them before it dials.
struct WidthCase {
    const char* name;
    int rowWidth;      // the width the rows with black in them are coded at
    bool flaggedWide;  // the page header's 2048-pixel flag
    bool blankTop1728; // blank 1728-pixel rows above them, the top margin of either width
    int expected;
};

class RowWidths : public ::testing::TestWithParam<WidthCase> {
protected:
    faxline::TempDir dir_;
};

TEST_P(RowWidths, AreCheckedAgainstThePageFlag)
{
    const WidthCase& c = GetParam();
    std::vector<uint8_t> stream;
    if (c.blankTop1728)
        for (int i = 0; i < 10; ++i)
            stream.insert(stream.end(), zn::faxdoc::kBlankRow1728, zn::faxdoc::kBlankRow1728 + 6);
    std::vector<uint8_t> raster(size_t(c.rowWidth / 8), 0);
    for (size_t i = 0; i < raster.size(); i += 7)
        raster[i] = 0xF0;
    uint8_t coded[zn::faxdoc::kCodedRowBufferSize];
    for (int y = 0; y < 20; ++y) {
        int n = zn::faxdoc::CodeRasterRow(raster.data(), int(raster.size()), c.rowWidth, 0, false, coded);
        stream.insert(stream.end(), coded, coded + n);
    }
    int n = zn::faxdoc::MakeEndOfPage(coded);
    stream.insert(stream.end(), coded, coded + n);

    TFaxModemRec m;
    const std::string name = dir_.File("w.apf");
    ASSERT_EQ(ApfCreate(m, name, "LOCAL"), 0);
    // A first page that is right either way: the check looks at every page.
    ASSERT_EQ(ApfAppendPageHeader(m, false, false), 0);
    ASSERT_EQ(ApfWriteBytes(m, zn::faxdoc::kBlankRow1728, 6), 0);
    ASSERT_EQ(ApfFinishPage(m, "", 6), 0);
    ASSERT_EQ(ApfAppendPageHeader(m, false, c.flaggedWide), 0);
    ASSERT_EQ(ApfWriteBytes(m, stream.data(), stream.size()), 0);
    ASSERT_EQ(ApfFinishPage(m, "", int32_t(stream.size())), 0);
    ApfClose(m);

    TFaxModemRec r;
    ASSERT_EQ(ApfOpenForReading(r, name, "APF"), 0);
    EXPECT_EQ(ApfCheckRowWidths(r), c.expected);
    if (c.expected == 0) {
        EXPECT_EQ(ApfPageBodyLength(r), 6) << "left at page 1";
    }
    ApfClose(r);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, RowWidths,
    ::testing::Values(WidthCase{"NarrowRowsFlaggedWide", 1728, true, false, ecFaxBadFormat},
                      WidthCase{"WideRowsFlaggedNarrow", 2048, false, false, ecFaxBadFormat},
                      WidthCase{"WideRowsFlaggedWide", 2048, true, false, 0},
                      WidthCase{"NarrowRowsFlaggedNarrow", 1728, false, false, 0},
                      WidthCase{"WideRowsBelowANarrowBlankMargin", 2048, true, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FaxFile, WrongSignatureIsNoFaxFile)
{
    std::ofstream(dir_.File("x.apf")) << std::string(64, 'x');
    TFaxModemRec m;
    EXPECT_EQ(ApfOpenForReading(m, dir_.File("x.apf"), "APF"), ecFaxBadFormat);
    EXPECT_EQ(ApfOpenForReading(m, dir_.File("missing.apf"), "APF"), -2);
}

} // namespace

namespace {

// Rows joined bit by bit, with and without minimum scan-line padding, read back as the same page.
class PackedRows : public ::testing::TestWithParam<int32_t> {};

TEST_P(PackedRows, DecodeToTheStoredPage)
{
    faxline::TempDir dir;
    auto chart = faxline::ReadPbm(faxline::ItuChartPath(4));
    ASSERT_TRUE(chart);
    faxline::Bitmap page = chart->Rows(600, 400);
    ASSERT_TRUE(zn::comms::test::WriteApf(dir.File("rows.apf"), {page}, true));
    TFaxModemRec m;
    ASSERT_EQ(ApfOpenForReading(m, dir.File("rows.apf"), "APF"), 0);
    ASSERT_EQ(ApfSeekPage(m, 1), 0);
    int32_t left = ApfPageBodyLength(m);
    RowPacker packer;
    std::vector<uint8_t> row, stream;
    while (left > 0) {
        int32_t used = 0;
        ASSERT_EQ(ApfReadRowRecord(m, row, 0, used), 0);
        left -= used;
        ASSERT_TRUE(packer.AddRow(row, GetParam()));
        stream.insert(stream.end(), packer.Bytes().begin(), packer.Bytes().end());
        packer.Bytes().clear();
    }
    packer.Flush();
    stream.insert(stream.end(), packer.Bytes().begin(), packer.Bytes().end());
    ApfClose(m);
    EXPECT_LT(stream.size(), size_t(ApfPageBodyLength(m)) + (GetParam() ? 400u * GetParam() / 8 : 0u));

    // The stream as a page without row records.
    std::string file(64, '\0');
    file.replace(0, 6, "APF10\x1A");
    file[32] = 1;
    file[34] = 64;
    std::string header(16, '\0');
    for (int i = 0; i < 4; ++i)
        header[size_t(i)] = char((stream.size() >> (8 * i)) & 0xFF);
    header[4] = 1;
    std::ofstream(dir.File("packed.apf"), std::ios::binary)
        << file << header << std::string(stream.begin(), stream.end());
    std::vector<faxline::Bitmap> got;
    ASSERT_TRUE(zn::comms::test::ReadApf(dir.File("packed.apf"), got));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(zn::comms::test::TrimWhiteRows(got[0]) == zn::comms::test::TrimWhiteRows(page));
}

INSTANTIATE_TEST_SUITE_P(MinimumBits, PackedRows, ::testing::Values(0, 8 * 36),
                         [](const ::testing::TestParamInfo<int32_t>& info) { return "AtLeast" + std::to_string(info.param) + "Bits"; });

TEST(PackedRowsRefuse, ARowWithoutEol)
{
    RowPacker packer;
    EXPECT_FALSE(packer.AddRow({0xFF, 0x01}, 0));
    EXPECT_TRUE(packer.Bytes().empty());
}

} // namespace

namespace {

// Rows as the converter codes them (sixteen-bit EOL, a whole zero byte at the end), joined bit by
// bit: the same page.
TEST(PackedConverterRows, DecodeToTheRasterRows)
{
    auto chart = faxline::ReadPbm(faxline::ItuChartPath(5));
    ASSERT_TRUE(chart);
    faxline::Bitmap page = chart->Rows(800, 300);
    RowPacker packer;
    std::vector<uint8_t> coded(zn::faxdoc::kCodedRowBufferSize), stream;
    std::vector<uint8_t> raster(zn::faxdoc::kRasterBufferSize);
    for (int y = 0; y < page.height; ++y) {
        std::fill(raster.begin(), raster.end(), 0);
        std::copy_n(page.bits.begin() + y * page.RowBytes(), page.RowBytes(), raster.begin());
        int n = zn::faxdoc::CodeRasterRow(raster.data(), page.RowBytes(), 1728, 0, false, coded.data());
        std::vector<uint8_t> row(coded.begin(), coded.begin() + n);
        ASSERT_EQ(row.back(), 0);
        row.pop_back(); // as the sender drops it
        ASSERT_TRUE(packer.AddRow(row, 0));
    }
    uint8_t eop[zn::faxdoc::kEndOfPageBytes];
    zn::faxdoc::MakeEndOfPage(eop);
    ASSERT_TRUE(packer.AddRow(std::vector<uint8_t>(eop, eop + sizeof eop - 1), 0));
    packer.Flush();
    stream = packer.Bytes();

    faxline::TempDir dir;
    std::string file(64, '\0');
    file.replace(0, 6, "APF10\x1A");
    file[32] = 1;
    file[34] = 64;
    std::string header(16, '\0');
    for (int i = 0; i < 4; ++i)
        header[size_t(i)] = char((stream.size() >> (8 * i)) & 0xFF);
    std::ofstream(dir.File("packed.apf"), std::ios::binary)
        << file << header << std::string(stream.begin(), stream.end());
    std::vector<faxline::Bitmap> got;
    ASSERT_TRUE(zn::comms::test::ReadApf(dir.File("packed.apf"), got));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(zn::comms::test::TrimWhiteRows(got[0]) == zn::comms::test::TrimWhiteRows(page))
        << faxline::DescribeDifference(zn::comms::test::TrimWhiteRows(got[0]), zn::comms::test::TrimWhiteRows(page));
}

} // namespace
