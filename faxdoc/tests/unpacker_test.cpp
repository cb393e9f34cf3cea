#include "faxdoc/unpacker.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/mh_coder.h"
#include "faxdoc/page_files.h"
#include "faxdoc/tests/test_support.h"

#include <gtest/gtest.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;
using Bytes = std::vector<uint8_t>;

Bytes CodedRow(int width, int blackFrom, int blackTo)
{
    Bytes raster(kCodedRowBufferSize, 0);
    for (int x = blackFrom; x < blackTo; ++x)
        raster[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
    Bytes out(kCodedRowBufferSize);
    out.resize(static_cast<size_t>(CodeRasterRow(raster.data(), kCodedRowBufferSize, width, 0, false, out.data())));
    return out;
}

Bytes Blank(int width) { return CodedRow(width, 0, 0); }
Bytes Dark(int width = kNormalLineWidth) { return CodedRow(width, 0, 8); }

Bytes Eop()
{
    Bytes e(kEndOfPageBytes);
    MakeEndOfPage(e.data());
    return e;
}

// Writes a one-page file of the given coded rows (an end-of-page block is added).
std::string OnePage(const TTempDir& dir, std::vector<Bytes> rows, uint16_t flags = 4)
{
    rows.push_back(Eop());
    const std::string name = dir.Path("PAGE.APF");
    WriteFile(name, MakeApf({{flags, Records(rows)}}));
    return name;
}

struct TDelivered {
    std::vector<int> lengths; // byte count of each row
    std::vector<Bytes> rows;
};

TDelivered Unpack(UnpackerState& u, const std::string& name, int* rc = nullptr)
{
    TDelivered d;
    u.SetOutputLine([&](UnpackerState&, int kind, const uint8_t* row, int, int len) {
        if (kind == kOutputRow) {
            d.lengths.push_back(len);
            d.rows.emplace_back(row, row + len);
        }
        return 0;
    });
    const int r = u.UnpackPage(name, 1);
    if (rc)
        *rc = r;
    return d;
}

struct TWhitespaceCase {
    const char* name;
    std::string pattern; // 'x' a dark row, '.' a blank row
    uint32_t from, to;
    std::string expected; // 'x' a dark row, '.' a blank row of 216 bytes, '0' a blank row of 0 bytes
};

class UnpackerWhitespace : public ::testing::TestWithParam<TWhitespaceCase> {};

TEST_P(UnpackerWhitespace, BlankRunsAreShortened)
{
    const TWhitespaceCase& c = GetParam();
    TTempDir dir;
    std::vector<Bytes> rows;
    for (char ch : c.pattern)
        rows.push_back(ch == 'x' ? Dark() : Blank(kNormalLineWidth));
    const std::string name = OnePage(dir, rows);
    UnpackerState u;
    ASSERT_EQ(u.SetWhitespaceCompression(c.from, c.to), ecOK);
    const TDelivered d = Unpack(u, name);
    std::string got;
    for (size_t i = 0; i < d.rows.size(); ++i)
        got += d.lengths[i] == 0 ? '0' : (d.rows[i][0] ? 'x' : '.');
    EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnpackerWhitespace,
                         ::testing::Values(TWhitespaceCase{"Fifteen", "x...............x", 10, 2, "x00x"},
                                           TWhitespaceCase{"Five", "x.....x", 10, 2, "x00000x"},
                                           TWhitespaceCase{"FiveAtEnd", "x.....", 10, 2, "x00000"},
                                           TWhitespaceCase{"ManyAtEnd", "x............", 10, 2, "x00"},
                                           TWhitespaceCase{"EqualDropsAtEnd", "x.....", 3, 3, "x"},
                                           TWhitespaceCase{"Off", "x..x", 0, 0, "x..x"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Unpacker, WhitespaceValuesAreChecked)
{
    UnpackerState u;
    EXPECT_EQ(u.SetWhitespaceCompression(2, 10), ecBadArgument);
    EXPECT_EQ(u.SetWhitespaceCompression(0, 1), ecBadArgument);
    EXPECT_EQ(u.SetWhitespaceCompression(0, 0), ecOK);
    EXPECT_EQ(u.SetWhitespaceCompression(10, 2), ecOK);
}

TEST(Unpacker, DoubleHeightAndHalfWidthExcludeEachOther)
{
    UnpackerState u;
    u.SetUnpackerFlags(kUnpackDoubleHeight | kUnpackHalfWidth);
    EXPECT_EQ(u.Flags(), 0);
    u.SetUnpackerFlags(kUnpackDoubleHeight);
    u.SetUnpackerFlags(kUnpackHalfWidth);
    EXPECT_EQ(u.Flags(), kUnpackHalfWidth);
    u.ClearUnpackerFlags(kUnpackHalfWidth);
    EXPECT_EQ(u.Flags(), 0);
}

TEST(Unpacker, DoubleHeightDoublesOnlyNormalResolution)
{
    TTempDir dir;
    for (uint16_t flags : {4, 5}) {
        UnpackerState u;
        u.SetUnpackerFlags(kUnpackDoubleHeight);
        const TDelivered d = Unpack(u, OnePage(dir, {Dark(), Blank(kNormalLineWidth), Dark()}, flags));
        EXPECT_EQ(d.rows.size(), flags == 4 ? 6u : 3u);
    }
}

TEST(Unpacker, HalfWidthOrsPixelPairs)
{
    TTempDir dir;
    UnpackerState u;
    u.SetUnpackerFlags(kUnpackHalfWidth);
    const TDelivered d = Unpack(u, OnePage(dir, {CodedRow(kNormalLineWidth, 3, 4)}));
    ASSERT_EQ(d.rows.size(), 1u);
    ASSERT_EQ(d.lengths[0], 108);
    EXPECT_EQ(d.rows[0][0], 0x40); // pixel 3 falls into output pixel 1
}

TEST(Unpacker, RowsOfOtherWidthsAreDroppedButBlank1728RowsOnWidePagesKept)
{
    TTempDir dir;
    const TDelivered d = Unpack(*std::make_unique<UnpackerState>(),
                                OnePage(dir, {CodedRow(1000, 0, 8), Blank(kNormalLineWidth), Dark(kWideLineWidth)}, 6));
    EXPECT_EQ(d.lengths, (std::vector<int>{216, 256}));
}

TEST(Unpacker, PageBitmapGrowsPast1024Rows)
{
    TTempDir dir;
    std::vector<Bytes> rows(1100, Blank(kNormalLineWidth));
    rows[1099] = CodedRow(kNormalLineWidth, 1720, 1728);
    const std::string name = OnePage(dir, rows);
    UnpackerState u;
    TMonoBitmap bm;
    ASSERT_EQ(u.UnpackPageToMemBitmap(name, 1, true, bm), ecOK);
    EXPECT_EQ(bm.width, 1728);
    EXPECT_EQ(bm.height, 1100);
    EXPECT_FALSE(bm.blackIsOne);
    EXPECT_EQ(bm.Row(1099)[215], 0x00); // inverted: black is 0
    EXPECT_EQ(bm.Row(0)[0], 0xFF);
}

TEST(Unpacker, TiffOfAPageHasOneStripAt122)
{
    TTempDir dir;
    std::vector<Bytes> rows(1100, Blank(kNormalLineWidth));
    const std::string name = OnePage(dir, rows);
    UnpackerState u;
    ASSERT_EQ(u.UnpackPageToTiff(name, dir.Path("OUT.TIF"), 1), ecOK);
    const Bytes t = ReadFile(dir.Path("OUT.TIF"));
    ASSERT_GT(t.size(), 122u);
    const auto u16 = [&](size_t at) { return t[at] | t[at + 1] << 8; };
    EXPECT_EQ(u16(8), 9);
    EXPECT_EQ(u16(10 + 12 * 1), 256);
    EXPECT_EQ(u16(10 + 12 * 1 + 8), 1728);
    EXPECT_EQ(u16(10 + 12 * 2 + 8), 1100);
    EXPECT_EQ(u16(10 + 12 * 6 + 8), 122);
}

TEST(Unpacker, OutputNamesTakeTheDefaultExtension)
{
    EXPECT_EQ(UnpackOutputName("/x/FAX1.APF", "", "PCX"), "/x/FAX1.PCX");
    EXPECT_EQ(UnpackOutputName("/x/FAX1.APF", "/y/page", "TIF"), "/y/page.TIF");
    EXPECT_EQ(UnpackOutputName("/x/FAX1.APF", "/y/page.tif", "DCX"), "/y/page.tif");
}

TEST(Unpacker, ScalingStretchesThePage)
{
    TTempDir dir;
    const std::string name = OnePage(dir, {Dark(), Blank(kNormalLineWidth)});
    UnpackerState u;
    u.SetUnpackerScaling(1, 2, 2, 1);
    TMonoBitmap bm;
    ASSERT_EQ(u.UnpackPageToMemBitmap(name, 1, false, bm), ecOK);
    EXPECT_EQ(bm.width, 864);
    EXPECT_EQ(bm.height, 4);
    EXPECT_EQ(bm.Row(0)[0], 0xF0);
    EXPECT_EQ(bm.Row(1)[0], 0xF0);
    EXPECT_EQ(bm.Row(2)[0], 0x00);
}

TEST(Unpacker, AbortStopsThePage)
{
    TTempDir dir;
    const std::string name = OnePage(dir, std::vector<Bytes>(50, Dark()));
    UnpackerState u;
    int rows = 0;
    u.SetOutputLine([&](UnpackerState& s, int kind, const uint8_t*, int, int) {
        if (kind == kOutputRow && ++rows == 10)
            s.SetUnpackerFlags(kUnpackAbort);
        return 0;
    });
    EXPECT_EQ(u.UnpackPage(name, 1), ecOK);
    EXPECT_EQ(rows, 10);
}

// Page files are written row by row as the page decodes; they are byte for byte what the whole
// page in memory encodes to, also when a 2048-pixel row inks past 1728 on a narrow page (the file
// is then as wide as that row) and when the page is in plain stream form.
TEST(Unpacker, PageFilesWrittenAsRowsComeAreThoseOfTheWholePage)
{
    TTempDir dir;
    std::vector<Bytes> rows;
    for (int i = 0; i < 300; ++i)
        rows.push_back(i % 3 ? CodedRow(kNormalLineWidth, i, i + 40) : Blank(kNormalLineWidth));
    std::vector<Bytes> wideInk = rows;
    wideInk[150] = CodedRow(kWideLineWidth, 1900, 1950);
    struct TPage {
        const char* name;
        uint16_t flags;
        Bytes data;
    };
    const std::vector<Bytes> ended = [&] {
        auto r = rows;
        r.push_back(Eop());
        return r;
    }();
    Bytes plain;
    for (const Bytes& r : ended)
        plain.insert(plain.end(), r.begin(), r.end());
    for (const TPage& page :
         {TPage{"records", 4, Records(ended)}, TPage{"stream", 0, plain}, TPage{"wide ink", 4, Records([&] {
                                                                                    auto r = wideInk;
                                                                                    r.push_back(Eop());
                                                                                    return r;
                                                                                }())}}) {
        const std::string name = dir.Path("P.APF");
        WriteFile(name, MakeApf({{page.flags, page.data}}));
        UnpackerState u;
        TMonoBitmap bm;
        ASSERT_EQ(u.UnpackPageToMemBitmap(name, 1, false, bm), ecOK) << page.name;
        const struct {
            TPageFileKind kind;
            int (UnpackerState::*unpack)(const std::string&, const std::string&, unsigned);
        } kinds[] = {{TPageFileKind::Pcx, &UnpackerState::UnpackPageToPcx},
                     {TPageFileKind::Dcx, &UnpackerState::UnpackPageToDcx},
                     {TPageFileKind::Tiff, &UnpackerState::UnpackPageToTiff},
                     {TPageFileKind::Bmp, &UnpackerState::UnpackPageToBmp}};
        for (const auto& k : kinds) {
            const std::string out = dir.Path(std::string("OUT.") + DefaultPageExtension(k.kind));
            ASSERT_EQ((u.*k.unpack)(name, out, 1), ecOK) << page.name << " " << out;
            EXPECT_TRUE(ReadFile(out) == EncodePage(k.kind, bm)) << page.name << " " << out;
        }
        EXPECT_EQ(bm.width, page.name == std::string("wide ink") ? 1952 : 1728);
    }
}

// Decoding stops at the page row limit; PCX and DCX, whose row numbers are 16 bits, refuse a page
// of more than 65535 rows and leave no file, while TIFF and BMP take it.
TEST(Unpacker, RowLimitsOfPagesAndOfFileFormats)
{
    TTempDir dir;
    const auto page = [&](int rows) {
        std::vector<Bytes> r(static_cast<size_t>(rows), Blank(kNormalLineWidth));
        r.push_back(Eop());
        WriteFile(dir.Path("T.APF"), MakeApf({{4, Records(r)}}));
        return dir.Path("T.APF");
    };
    UnpackerState u;
    int delivered = 0;
    u.SetOutputLine(
        [&](UnpackerState&, int kind, const uint8_t*, int, int) { return delivered += kind == kOutputRow, 0; });
    EXPECT_EQ(u.UnpackPage(page(kMaxPageRows), 1), ecOK);
    EXPECT_EQ(delivered, kMaxPageRows);
    EXPECT_EQ(u.UnpackPage(page(kMaxPageRows + 1), 1), ecPageTooLong);

    const std::string tall = page(kPcxMaxRows + 1);
    EXPECT_EQ(u.UnpackPageToPcx(tall, dir.Path("T.PCX"), 1), ecPageTooTallForFormat);
    EXPECT_EQ(u.UnpackPageToDcx(tall, dir.Path("T.DCX"), 1), ecPageTooTallForFormat);
    EXPECT_FALSE(FileExists(dir.Path("T.PCX")));
    EXPECT_FALSE(FileExists(dir.Path("T.DCX")));
    EXPECT_EQ(u.UnpackPageToBmp(tall, dir.Path("T.BMP"), 1), ecOK);
    const Bytes bmp = ReadFile(dir.Path("T.BMP"));
    ASSERT_GT(bmp.size(), 26u);
    EXPECT_EQ(bmp[22] | bmp[23] << 8 | bmp[24] << 16, kPcxMaxRows + 1);
    EXPECT_EQ(u.UnpackPageToPcx(page(kPcxMaxRows), dir.Path("T.PCX"), 1), ecOK);
}

// The unpacker keeps where each page of a file lies; pages read in any order, and a file rewritten
// under the same name (pages of other lengths, one more page), must still give each page's own rows.
TEST(Unpacker, PagesReadInAnyOrderAndAfterTheFileIsRewritten)
{
    TTempDir dir;
    const std::string name = dir.Path("MANY.APF");
    const auto write = [&](int firstRows, int pages) {
        std::vector<TTestPage> list;
        for (int p = 0; p < pages; ++p) {
            std::vector<Bytes> rows(static_cast<size_t>(firstRows + p), Dark());
            rows.push_back(Eop());
            list.push_back({4, Records(rows)});
        }
        WriteFile(name, MakeApf(list));
    };
    const auto rowsOf = [&](UnpackerState& u, unsigned page) {
        int rows = 0;
        u.SetOutputLine([&](UnpackerState&, int kind, const uint8_t*, int, int) {
            rows += kind == kOutputRow;
            return 0;
        });
        const int rc = u.UnpackPage(name, page);
        return rc < 0 ? rc : rows;
    };
    UnpackerState u;
    write(1, 3);
    EXPECT_EQ(rowsOf(u, 3), 3);
    EXPECT_EQ(rowsOf(u, 1), 1);
    EXPECT_EQ(rowsOf(u, 2), 2);
    EXPECT_EQ(rowsOf(u, 4), ecFaxBadFormat);
    write(5, 4);
    EXPECT_EQ(rowsOf(u, 3), 7);
    EXPECT_EQ(rowsOf(u, 4), 8);
    EXPECT_EQ(rowsOf(u, 1), 5);
}

TEST(Unpacker, MissingInputIsFileNotFound)
{
    TTempDir dir;
    UnpackerState u;
    EXPECT_EQ(u.UnpackPage("", 1), ecFileNotFound);
    EXPECT_EQ(u.UnpackPageToPcx(dir.Path("NONE.APF"), dir.Path("X.PCX"), 1), ecFileNotFound);
    EXPECT_TRUE(dir.Files().empty());
}

} // namespace
} // namespace zn::faxdoc
