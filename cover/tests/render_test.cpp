// The renderer against netpbm: render files written byte by byte are rendered to fax pages, the
// pages decoded by g3topbm, and the black pixels checked where the renderer's arithmetic puts
// them; the preview read back by bmptopnm.
#include "comms/base/exceptions.h"
#include "cover/cover_renderer.h"
#include "cover/design_filer.h"
#include "cover/render_file.h"
#include "faxdoc/tests/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace zn::cover {
namespace {

using faxdoc::test::HaveProgram;
using faxdoc::test::ReadPbm;
using faxdoc::test::RunCommand;
using faxdoc::test::TRaster;
using faxdoc::test::TTempDir;
using faxdoc::test::ZnfaxPath;

#define REQUIRE_PROGRAMS(...)                                                                                          \
    for (const char* p : {__VA_ARGS__}) {                                                                              \
        if (!HaveProgram(p))                                                                                           \
            GTEST_SKIP() << p << " is not installed";                                                                  \
    }

bool Black(const TRaster& r, int x, int y) { return (r.Row(y)[x >> 3] >> (7 - (x & 7))) & 1; }

int BlackCount(const TRaster& r, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += Black(r, x, y);
    return n;
}

// The fax page of an APF decoded by g3topbm (the rows as the line carries them).
TRaster DecodeWithG3topbm(TTempDir& dir, const std::string& apf)
{
    EXPECT_EQ(RunCommand("'" + ZnfaxPath() + "' raw '" + apf + "' '" + dir.Path("p.g3") + "'"), 0);
    EXPECT_EQ(RunCommand("g3topbm -reversebits '" + dir.Path("p.g3") + "' > '" + dir.Path("p.pbm") + "' 2>/dev/null"),
              0);
    return ReadPbm(dir.Path("p.pbm"));
}

// A render file written value by value, as a reader of the format would write it by hand.
struct THandWritten {
    std::vector<uint8_t> bytes;
    void Int8(int v) { bytes.insert(bytes.end(), {2, static_cast<uint8_t>(v)}); }
    void Int16(int v) { bytes.insert(bytes.end(), {3, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
    void Str(const std::string& s)
    {
        bytes.insert(bytes.end(), {6, static_cast<uint8_t>(s.size())});
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    void Bool(bool b) { bytes.push_back(b ? 9 : 8); }
    void Begin() { bytes.push_back(1); }
    void End() { bytes.push_back(0); }
    void Geometry(int kind, int l, int t, int w, int h)
    {
        Begin();
        Int8(kind);
        Int16(l), Int16(t), Int16(w), Int16(h);
    }
};

// A filled rectangle, a vertical line, a recipient field and a two-line multi-line label.
std::vector<uint8_t> SampleRenderFile()
{
    THandWritten f;
    // Rectangle at (100, 200), 300 x 100 stored, filled black, pen 2 stored.
    f.Geometry(2, 100, 200, 300, 100);
    f.Str(""), f.Str(""), f.Int8(-1), f.Bool(false), f.Bool(false), f.Bool(false);
    f.Int8(0), f.Int8(2), f.Int8(2), f.Int8(-1), f.Int8(25), f.Int8(-1);
    f.End();
    // Vertical line at (800, 100), 10 x 400 stored, pen 2 stored.
    f.Geometry(3, 800, 100, 10, 400);
    f.Str(""), f.Str(""), f.Int8(-1), f.Bool(false), f.Bool(false), f.Bool(false);
    f.Int8(-1), f.Int8(-1), f.Int8(2), f.Int8(1), f.Int8(-1), f.Int8(-1);
    f.End();
    // A recipient field at (100, 600), Arial 10 point (stored 20).
    f.Geometry(5, 100, 600, 600, 60);
    f.Str(""), f.Str("Arial"), f.Int8(20), f.Bool(false), f.Bool(false), f.Bool(false);
    f.Int8(-1), f.Int8(-1), f.Int8(-1), f.Int8(-1), f.Int8(-1), f.Int8(3);
    f.End();
    // A multi-line label at (100, 1000), 800 x 200 stored, Courier 12 (stored 24), left, no wrap.
    f.Geometry(8, 100, 1000, 800, 200);
    f.Str("Courier"), f.Int8(24), f.Bool(false), f.Bool(false), f.Bool(false), f.Int8(0), f.Bool(false);
    const std::string lines = "IIII\r\nIIII\r\n";
    f.Int8(static_cast<int>(lines.size()));
    f.bytes.insert(f.bytes.end(), lines.begin(), lines.end());
    f.End();
    return f.bytes;
}

TEST(CoverRenderer, HandWrittenRenderFileDecodesWithG3topbmWherePlaced)
{
    REQUIRE_PROGRAMS("g3topbm");
    TTempDir dir;
    faxdoc::test::WriteFile(dir.Path("T.FCT"), SampleRenderFile());
    TCoverValues values;
    values.Recipient = "WWWW";
    const std::string out = RenderCoverPageToFax(dir.Path("COVER.APF"), dir.Path("T.FCT"), values, {});
    EXPECT_EQ(out, dir.Path("COVER.APF"));
    const TRaster page = DecodeWithG3topbm(dir, out);
    ASSERT_EQ(page.width, 1728);
    ASSERT_EQ(page.height, 2156);

    // Scale 1: stored values as they are, shifted by 98: rectangle (198, 298)-(498, 398), its frame
    // of two pixels centred on the first and last covered column and row.
    EXPECT_EQ(BlackCount(page, 197, 297, 498, 398), 301 * 101);
    for (int y = 290; y < 410; ++y) {
        EXPECT_FALSE(Black(page, 196, y)) << y;
        EXPECT_FALSE(Black(page, 498, y)) << y;
    }
    for (int x = 190; x < 510; ++x) {
        EXPECT_FALSE(Black(page, x, 296)) << x;
        EXPECT_FALSE(Black(page, x, 398)) << x;
    }
    // The vertical line from (898, 198) to (898, 598), two pixels wide (897 and 898): a wide pen is a
    // band of its width around every pixel of the line, end pixel included.
    EXPECT_EQ(BlackCount(page, 897, 197, 899, 599), 2 * 402);
    EXPECT_EQ(BlackCount(page, 890, 190, 897, 610) + BlackCount(page, 899, 190, 910, 610), 0);
    EXPECT_EQ(BlackCount(page, 897, 190, 899, 197) + BlackCount(page, 897, 599, 899, 610), 0);
    // The field shows the recipient in its box's first line (20 point text: cell height about 31).
    EXPECT_GT(BlackCount(page, 198, 698, 798, 735), 100);
    EXPECT_EQ(BlackCount(page, 0, 660, 1728, 697), 0);
    // Two lines of the multi-line label, each a cell high, nothing right of the box.
    EXPECT_GT(BlackCount(page, 198, 1098, 898, 1130), 50);
    EXPECT_GT(BlackCount(page, 198, 1130, 898, 1170), 50);
    EXPECT_EQ(BlackCount(page, 898, 1098, 1728, 1300), 0);
    // Nothing else on the page.
    EXPECT_EQ(BlackCount(page, 0, 1300, 1728, 2156), 0);
}

TEST(CoverRenderer, PreviewIsAHalfSize1BitBmpThatBmptopnmReads)
{
    REQUIRE_PROGRAMS("bmptopnm");
    TTempDir dir;
    faxdoc::test::WriteFile(dir.Path("T.FCT"), SampleRenderFile());
    const std::string bmp = RenderCoverPreview(dir.Path("T.FCS"));
    EXPECT_EQ(bmp, dir.Path("T.bmp"));
    const std::vector<uint8_t> head = faxdoc::test::ReadFile(bmp);
    ASSERT_GT(head.size(), 30u);
    EXPECT_EQ(head[28], 1); // bits per pixel
    ASSERT_EQ(RunCommand("bmptopnm '" + bmp + "' > '" + dir.Path("p.pbm") + "' 2>/dev/null"), 0);
    const TRaster page = ReadPbm(dir.Path("p.pbm"));
    ASSERT_EQ(page.width, 816);
    ASSERT_EQ(page.height, 1056);
    // Scale 2: the rectangle is (50 + 98, 100 + 98) to (200 + 98, 150 + 98), pen 1, filled.
    EXPECT_EQ(BlackCount(page, 148, 198, 298, 248), 150 * 50);
    EXPECT_EQ(BlackCount(page, 140, 190, 148, 260) + BlackCount(page, 298, 190, 310, 260), 0);
    // The line at x = 400 + 98 from y = 50 + 98 to 250 + 98, the end pixel left out.
    EXPECT_EQ(BlackCount(page, 498, 148, 499, 348), 200);
    EXPECT_FALSE(Black(page, 498, 348));
    // The sample recipient is drawn in the field.
    EXPECT_GT(BlackCount(page, 148, 398, 448, 420), 30);
}

TEST(CoverRenderer, DamagedAndEmptyRenderFilesDrawWhatCameBefore)
{
    const std::vector<uint8_t> whole = SampleRenderFile();
    TMonoCanvas full(kFaxPageWidth, kFaxPageHeight);
    RenderCoverBytes(full, whole, {}, {}, 1);
    // Cut inside the second record: only the rectangle stays.
    TMonoCanvas cut(kFaxPageWidth, kFaxPageHeight);
    RenderCoverBytes(cut, std::vector<uint8_t>(whole.begin(), whole.begin() + 40), {}, {}, 1);
    EXPECT_TRUE(cut.IsBlack(300, 350));
    EXPECT_FALSE(cut.IsBlack(898, 300));
    EXPECT_TRUE(full.IsBlack(898, 300));
    TMonoCanvas empty(kFaxPageWidth, kFaxPageHeight);
    RenderCoverBytes(empty, {}, {}, {}, 1);
    int stride = 0;
    const std::vector<uint8_t> rows = empty.Rows(stride);
    EXPECT_TRUE(std::all_of(rows.begin(), rows.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(CoverRenderer, ImportanceLineAppearsOnlyWithAFlagAndMarksItsBox)
{
    TRenderRecord rec;
    rec.kind = rkImportance;
    rec.left = 0, rec.top = 0, rec.width = 1400, rec.height = 60;
    rec.fontName = "Arial";
    rec.fontSize = 20;
    TValueWriter w;
    WriteRenderRecord(w, rec);
    TMonoCanvas none(kFaxPageWidth, kFaxPageHeight), urgent(kFaxPageWidth, kFaxPageHeight),
        reply(kFaxPageWidth, kFaxPageHeight);
    RenderCoverBytes(none, w.Bytes(), {}, {}, 1);
    TCoverValues v;
    v.Urgent = true;
    RenderCoverBytes(urgent, w.Bytes(), v, {}, 1);
    v.Urgent = false;
    v.PleaseReply = true;
    RenderCoverBytes(reply, w.Bytes(), v, {}, 1);
    const auto count = [](const TMonoCanvas& c, int x0, int x1) {
        int n = 0;
        for (int y = 98; y < 140; ++y)
            for (int x = x0; x < x1; ++x)
                n += c.IsBlack(x, y);
        return n;
    };
    EXPECT_EQ(count(none, 0, 1728), 0);
    // The X of the first box sits right after its "[".
    urgent.SetFont("Arial", 20, false, false, false);
    const int boxX = 98 + urgent.TextWidth("[");
    EXPECT_GT(count(urgent, boxX, boxX + 12), count(reply, boxX, boxX + 12));
}

TEST(CoverRenderer, MessageIsCutAtTheLastLineThatFitsButTheFirstAlwaysShows)
{
    TRenderRecord rec;
    rec.kind = rkMessage;
    rec.left = 0, rec.top = 0, rec.width = 1000, rec.height = 10; // lower than one line
    rec.fontName = "Arial";
    rec.fontSize = 20;
    TValueWriter w;
    WriteRenderRecord(w, rec);
    TMonoCanvas page(kFaxPageWidth, kFaxPageHeight);
    RenderCoverBytes(page, w.Bytes(), {}, {"First line", "Second line", "Third line"}, 1);
    page.SetFont("Arial", 20, false, false, false);
    const int h = page.TextHeight("Ay");
    int firstLine = 0, below = 0;
    for (int y = 98; y < 98 + h; ++y)
        for (int x = 98; x < 600; ++x)
            firstLine += page.IsBlack(x, y);
    for (int y = 98 + h; y < 98 + 4 * h; ++y)
        for (int x = 0; x < 1728; ++x)
            below += page.IsBlack(x, y);
    EXPECT_GT(firstLine, 50);
    EXPECT_EQ(below, 0);
}

TEST(CoverRenderer, MissingTemplateIsReportedAndNoFaxIsWritten)
{
    TTempDir dir;
    try {
        RenderCoverPageToFax(dir.Path("C.APF"), dir.Path("NONE.FCT"), {}, {});
        FAIL() << "a missing template rendered";
    } catch (const ECoverError& e) {
        EXPECT_EQ(e.Code(), comms::ecFileNotFound);
    }
    EXPECT_FALSE(faxdoc::test::FileExists(dir.Path("C.APF")));
}

TEST(CoverRenderer, TemplateIsFoundInAnyLetterCase)
{
    TTempDir dir;
    faxdoc::test::WriteFile(dir.Path("Mixed.fct"), SampleRenderFile());
    EXPECT_NO_THROW(RenderCoverPageToFax(dir.Path("C.APF"), dir.Path("MIXED.FCS"), {}, {}));
    EXPECT_TRUE(faxdoc::test::FileExists(dir.Path("C.APF")));
}

// Every cover name of the send folder taken: no other fax's cover is overwritten.
TEST(CoverRenderer, AllCoverNamesTakenFailsInsteadOfOverwritingTheLast)
{
    TTempDir dir;
    ASSERT_EQ(setenv("ZN_HOME", dir.Path("home").c_str(), 1), 0);
    faxdoc::test::WriteFile(dir.Path("T.FCT"), SampleRenderFile());
    ASSERT_EQ(RunCommand("mkdir -p '" + dir.Path("home/SEND") + "'"), 0);
    for (int i = 0; i <= 99999; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/COV%05d.APF", i);
        const int fd = ::open((dir.Path("home/SEND") + name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        if (i == 99999)
            ASSERT_EQ(::write(fd, "keep", 4), 4);
        ::close(fd);
    }
    try {
        RenderCoverPageToFax("", dir.Path("T.FCT"), {}, {});
        FAIL() << "a cover name was handed out";
    } catch (const ECoverError& e) {
        EXPECT_EQ(e.Code(), comms::ecNoMoreFiles);
    }
    EXPECT_EQ(faxdoc::test::ReadFile(dir.Path("home/SEND/COV99999.APF")).size(), 4u);
    // With one name free, that one is used.
    ASSERT_EQ(::unlink(dir.Path("home/SEND/COV01234.APF").c_str()), 0);
    const std::string name = RenderCoverPageToFax("", dir.Path("T.FCT"), {}, {});
    EXPECT_NE(name.find("COV01234.APF"), std::string::npos) << name;
    unsetenv("ZN_HOME");
}

// The check tool renders as the quick faxes do.
TEST(CoverCheckTool, RendersValuesFlagsAndPreviewAndReportsFailures)
{
    REQUIRE_PROGRAMS("g3topbm", "bmptopnm");
    TTempDir dir;
    faxdoc::test::WriteFile(dir.Path("T.FCT"), SampleRenderFile());
    const std::string znfax = "'" + ZnfaxPath() + "'";
    ASSERT_EQ(RunCommand(znfax + " cover '" + dir.Path("T.FCT") + "' '" + dir.Path("O.APF") + "' --preview '"
                         + dir.Path("O.BMP") + "' --value Recipient=WWWW --flag Urgent"),
              0);
    const TRaster page = DecodeWithG3topbm(dir, dir.Path("O.APF"));
    EXPECT_GT(BlackCount(page, 198, 698, 798, 735), 100);
    ASSERT_EQ(RunCommand("bmptopnm '" + dir.Path("O.BMP") + "' > '" + dir.Path("o.pbm") + "' 2>/dev/null"), 0);
    EXPECT_EQ(ReadPbm(dir.Path("o.pbm")).width, 816);
    std::string err;
    EXPECT_EQ(RunCommand(znfax + " cover '" + dir.Path("NO.FCT") + "' '" + dir.Path("N.APF") + "' 2>&1", &err), 1)
        << err;
    EXPECT_NE(err.find("error -2"), std::string::npos) << err;
    EXPECT_EQ(RunCommand(znfax + " cover '" + dir.Path("T.FCT") + "' 2>/dev/null"), 2);
    EXPECT_EQ(RunCommand(znfax + " cover '" + dir.Path("T.FCT") + "' '" + dir.Path("X.APF")
                         + "' --value Nobody=1 2>/dev/null"),
              2);
    EXPECT_EQ(
        RunCommand(znfax + " cover '" + dir.Path("T.FCT") + "' '" + dir.Path("X.APF") + "' --flag Soon 2>/dev/null"),
        2);
}

} // namespace
} // namespace zn::cover
