// The fax printer's plain parts: header and footer tags, where pages go on a sheet and how large,
// and the print log's lines.
#include "faxdoc/margin_tags.h"
#include "faxdoc/print_layout.h"
#include "faxdoc/print_log.h"
#include "faxdoc/tests/test_support.h"
#include "platform/tests/param_name.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;

TMarginTagValues Values()
{
    TMarginTagValues v;
    v.date = "12/10/2026";
    v.time = "7:05:09 PM";
    v.fileName = "/home/ann/FAX0001.APF";
    v.totalPages = 5;
    v.page = 2;
    return v;
}

struct TagCase {
    const char* caption;
    const char* expected;
};

class MarginTags : public ::testing::TestWithParam<TagCase> {};

TEST_P(MarginTags, ExpandInOnePassFromLeftToRight)
{
    EXPECT_EQ(ReplaceMarginTags(GetParam().caption, Values()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Captions, MarginTags,
                         ::testing::Values(TagCase{"PAGE: $P of $N", "PAGE: 2 of 5"},
                                           TagCase{"FILE: $F", "FILE: /home/ann/FAX0001.APF"},
                                           TagCase{"no tags here", "no tags here"},
                                           TagCase{"x $X y", "x  y"},                 // unknown tag: nothing
                                           TagCase{"$d $t", "12/10/2026 7:05:09 PM"}, // either case
                                           TagCase{"$D$T end", "12/10/2026 end"},     // a tag runs to the next blank
                                           TagCase{"ends with $", "ends with "}, TagCase{"$P", "2"}),
                         [](const ::testing::TestParamInfo<TagCase>& info) { return zn::test::ParamName(info.param.caption); });

TEST(MarginTagsExpansion, AFileNameHoldingTagsIsNotExpandedAgain)
{
    TMarginTagValues v = Values();
    v.fileName = "/tmp/$F $P $N.APF";
    EXPECT_EQ(ReplaceMarginTags("FILE: $F page $P", v), "FILE: /tmp/$F $P $N.APF page 2");
    v.fileName = "$F$F$F";
    EXPECT_EQ(ReplaceMarginTags("$F $F", v), "$F$F$F $F$F$F");
}

TEST(SheetLayout, FourPagesASheetInPortraitFillTheQuartersInReadingOrder)
{
    const int w = 1000, h = 1400;
    std::vector<TPrintRect> slots;
    for (unsigned page = 1; page <= 6; ++page)
        slots.push_back(PageSlot(w, h, page, 1, true, false));
    EXPECT_EQ(slots[0], (TPrintRect{2, 2, 498, 698}));
    EXPECT_EQ(slots[1], (TPrintRect{502, 2, 998, 698}));
    EXPECT_EQ(slots[2], (TPrintRect{2, 702, 498, 1398}));
    EXPECT_EQ(slots[3], (TPrintRect{502, 702, 998, 1398}));
    EXPECT_EQ(slots[4], slots[0]);
    EXPECT_EQ(slots[5], slots[1]);
    std::vector<bool> newSheet;
    for (unsigned page = 1; page <= 6; ++page)
        newSheet.push_back(StartsNewSheet(page, 1, true, false));
    EXPECT_EQ(newSheet, (std::vector<bool>{false, false, false, false, true, false}));
}

TEST(SheetLayout, TwoPagesASheetInLandscapeSideBySide)
{
    EXPECT_EQ(PageSlot(1400, 1000, 3, 3, true, true), (TPrintRect{2, 2, 698, 998}));
    EXPECT_EQ(PageSlot(1400, 1000, 4, 3, true, true), (TPrintRect{702, 2, 1398, 998}));
    EXPECT_EQ(PageSlot(1400, 1000, 5, 3, true, true), (TPrintRect{2, 2, 698, 998}));
    EXPECT_FALSE(StartsNewSheet(4, 3, true, true));
    EXPECT_TRUE(StartsNewSheet(5, 3, true, true));
}

TEST(SheetLayout, OnePageASheetUsesTheWholeSheetAndStartsOneForEveryPageButTheFirst)
{
    EXPECT_EQ(PageSlot(1000, 1400, 4, 2, false, false), (TPrintRect{0, 0, 1000, 1400}));
    EXPECT_FALSE(StartsNewSheet(2, 2, false, false));
    EXPECT_TRUE(StartsNewSheet(3, 2, false, false));
}

struct SizeCase {
    int bitmapWidth, bitmapHeight;
    bool fit;
    int ppi;
    int width, height;
};

class PrintedSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(PrintedSize, StaysInsideTheSpaceLeft)
{
    const TPrintRect space{10, 50, 1010, 1350}; // 1000 x 1300
    const SizeCase c = GetParam();
    const TPrintSize s = PrintedPageSize(space, c.bitmapWidth, c.bitmapHeight, c.fit, c.ppi);
    EXPECT_EQ(s.width, c.width);
    EXPECT_EQ(s.height, c.height);
    EXPECT_LE(s.width, space.Width());
    EXPECT_LE(s.height, space.Height());
}

INSTANTIATE_TEST_SUITE_P(Pages, PrintedSize,
                         ::testing::Values(SizeCase{1728, 2200, true, 300, 930,
                                                    1300}, // 93% of the width, the whole height
                                           SizeCase{864, 1100, true, 300, 930, 650},   // narrower: proportionally lower
                                           SizeCase{2048, 2200, true, 300, 930, 1300}, // wider: never past the space
                                           SizeCase{2048, 4400, true, 300, 930, 1300},
                                           SizeCase{1728, 1100, false, 100, 864, 550},  // 200 dpi on a 100 dpi device
                                           SizeCase{1728, 4000, false, 100, 864, 1300}, // cut to the height left
                                           SizeCase{1728, 2200, false, 300, 1000, 1300}),
                         [](const ::testing::TestParamInfo<SizeCase>& info) {
                             const SizeCase& c = info.param;
                             return std::to_string(c.bitmapWidth) + "x" + std::to_string(c.bitmapHeight) + (c.fit ? "_Fit_" : "_Actual_")
                                    + std::to_string(c.ppi) + "ppi";
                         });

TEST(PrintLog, EntriesAreAppendedWithAnEmptyLineAfterAllButStarted)
{
    TTempDir dir;
    const std::string log = dir.Path("FAXPRINT.LOG");
    ASSERT_EQ(AppendPrintLog(log, "/f/A.APF", lcStart, "1/2/2026 3:04:05 PM"), 0);
    ASSERT_EQ(AppendPrintLog(log, "/f/A.APF", lcFinish, "1/2/2026 3:04:06 PM"), 0);
    ASSERT_EQ(AppendPrintLog(log, "/f/B.APF", lcStart, "x"), 0);
    ASSERT_EQ(AppendPrintLog(log, "/f/B.APF", lcAborted, "y"), 0);
    ASSERT_EQ(AppendPrintLog(log, "/f/B.APF", lcFailed, "z"), 0);
    const std::vector<uint8_t> bytes = ReadFile(log);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "Printing /f/A.APF started at 1/2/2026 3:04:05 PM\r\n"
                                                       "Printing /f/A.APF finished at 1/2/2026 3:04:06 PM\r\n\r\n"
                                                       "Printing /f/B.APF started at x\r\n"
                                                       "Printing /f/B.APF aborted at y\r\n\r\n"
                                                       "Printing /f/B.APF failed at z\r\n\r\n");
    EXPECT_EQ(AppendPrintLog("", "/f/A.APF", lcStart, "x"), 0);
}

TEST(PrintLog, AnUnwritableLogGivesAnIoCode)
{
    TTempDir dir;
    ASSERT_EQ(mkdir(dir.Path("ro").c_str(), 0500), 0);
    const int rc = AppendPrintLog(dir.Path("missing/FAXPRINT.LOG"), "A.APF", lcStart, "x");
    EXPECT_LT(rc, 0);
}

} // namespace
} // namespace zn::faxdoc
