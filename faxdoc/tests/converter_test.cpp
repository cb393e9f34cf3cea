#include "faxdoc/converter.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/page_files.h"
#include "faxdoc/tests/test_support.h"
#include "faxdoc/unpacker.h"
#include "resources/fonts/fax_font_resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <sys/stat.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;
using Bytes = std::vector<uint8_t>;

// Every page of a fax file as rows of 1728 or 2048 pixels.
std::vector<std::vector<Bytes>> Pages(const std::string& name)
{
    TApfFileHeader h;
    EXPECT_EQ(ReadApfHeader(name, h), ecOK);
    std::vector<std::vector<Bytes>> pages;
    for (unsigned p = 1; p <= h.pageCount; ++p) {
        std::vector<Bytes> rows;
        UnpackerState u([&](UnpackerState&, int kind, const uint8_t* row, int, int len) {
            if (kind == kOutputRow)
                rows.emplace_back(row, row + len);
            return 0;
        });
        EXPECT_EQ(u.UnpackPage(name, p), ecOK);
        pages.push_back(rows);
    }
    return pages;
}

bool IsBlank(const Bytes& row)
{
    for (uint8_t b : row)
        if (b)
            return false;
    return true;
}

// Converts text with the large glyphs, no margin: 16 rows per text line in normal resolution.
struct TTextCase {
    TTempDir dir;
    std::unique_ptr<ConverterState> state;
    TTextReader* reader;
    TTextCase()
    {
        auto r = std::make_unique<TTextReader>();
        reader = r.get();
        state = std::make_unique<ConverterState>(std::move(r));
        EXPECT_EQ(reader->LoadFaxFont("APFAX.FNT", 48, false), ecOK);
        state->SetMargins(0, 0);
    }
    std::vector<std::vector<Bytes>> Convert(const std::string& text)
    {
        WriteFile(dir.Path("IN.TXT"), text);
        EXPECT_EQ(state->ConvertFile(dir.Path("IN.TXT"), ""), ecOK);
        return Pages(dir.Path("IN.APF"));
    }
};

TEST(TextConverter, EmptyFileGivesOnePageWithOneBlankRow)
{
    TTextCase t;
    const auto pages = t.Convert("");
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].size(), 1u);
    EXPECT_TRUE(IsBlank(pages[0][0]));
}

TEST(TextConverter, LinesEndAtCarriageReturnsAndLineFeeds)
{
    TTextCase t;
    EXPECT_EQ(t.Convert("a\r\nb\nc\rd")[0].size(), 4u * 16);
}

TEST(TextConverter, FormFeedEndsThePageAfterItsLine)
{
    TTextCase t;
    const auto pages = t.Convert("one\ftwo\r\nthree\r\n\fover\r\n");
    // Page 1: "one"; page 2: "two" (behind the form feed), "three" and the empty text before the
    // second form feed; page 3: "over".
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].size(), 16u);
    EXPECT_EQ(pages[1].size(), 48u);
    EXPECT_EQ(pages[2].size(), 16u);
    EXPECT_EQ(t.Convert("one\f\r\ntwo\r\n").size(), 2u);
    EXPECT_EQ(t.Convert("one\f").size(), 1u);
}

TEST(TextConverter, LinesPerPageStartsANewPage)
{
    TTextCase t;
    t.reader->SetLinesPerPage(60);
    std::string text;
    for (int i = 1; i <= 61; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    const auto pages = t.Convert(text);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].size(), 60u * 16);
    EXPECT_EQ(pages[1].size(), 16u);
}

// Text that puts a form feed after every full page (at the end of the last line, on a line of its
// own, or in front of the next page's first line) gives one page per page of text.
TEST(TextConverter, FormFeedThatEndsAFullPageStartsNoExtraPage)
{
    TTextCase t;
    t.reader->SetLinesPerPage(60);
    for (const char* formFeed : {"\f\r\n", "\r\n\f\r\n", "\r\n\f"}) {
        std::string text;
        for (int page = 1; page <= 3; ++page)
            for (int i = 1; i <= 60; ++i)
                text += "page " + std::to_string(page) + " line " + std::to_string(i) + (i == 60 ? formFeed : "\r\n");
        const auto pages = t.Convert(text);
        ASSERT_EQ(pages.size(), 3u) << testing::PrintToString(formFeed);
        for (const auto& page : pages)
            EXPECT_EQ(page.size(), 60u * 16) << testing::PrintToString(formFeed);
    }
    // Lines counted on a page that a form feed ended start again from one.
    std::string text = "a\f\r\n";
    for (int i = 1; i <= 60; ++i)
        text += "b\r\n";
    const auto pages = t.Convert(text);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].size(), 60u * 16);
}

TEST(TextConverter, TabsAdvanceToTheNextTabStop)
{
    TTextCase t;
    const auto tabbed = t.Convert("abcd\tX");
    const auto spaced = t.Convert("abcd    X");
    EXPECT_EQ(tabbed, spaced);
    EXPECT_NE(t.Convert("abcd   X"), spaced);
}

// A tab stop past the row width (a setting of any size) fills the rest of the line and no more.
TEST(TextConverter, TabStopPastTheRowWidthEndsTheLine)
{
    TTextCase t;
    t.reader->SetTabStop(std::numeric_limits<unsigned>::max());
    EXPECT_EQ(t.Convert("abcd\tX"), t.Convert("abcd"));
}

TEST(TextConverter, GlyphRowsComeFromTheFontAndHighResolutionDoublesThem)
{
    TTextReader r;
    ASSERT_EQ(r.LoadFaxFont("APFAX.FNT", 16, true), ecOK);
    EXPECT_EQ(r.GlyphWidth(), 12);
    EXPECT_EQ(r.GlyphHeight(), 16);
    Bytes row1(kRasterBufferSize, 0), row2(kRasterBufferSize, 0), none(kRasterBufferSize, 0);
    int inked = 0;
    for (int row = 1; row <= 16; row += 2) {
        std::fill(row1.begin(), row1.end(), 0);
        std::fill(row2.begin(), row2.end(), 0);
        r.RasterizeTextRow("HH", row, row1.data());
        r.RasterizeTextRow("HH", row + 1, row2.data());
        EXPECT_EQ(row1, row2);
        inked += !IsBlank(row1);
    }
    EXPECT_GT(inked, 3);
    r.RasterizeTextRow("HH", 17, none.data());
    EXPECT_TRUE(IsBlank(none));
}

// Every glyph, small (12 x 8, 2 bytes a row) and large (20 x 16, 3 bytes a row), leaves its two
// rightmost columns blank, so that a line cut at the row width loses no ink; the letters have ink.
TEST(FaxFont, TheTwoRightmostColumnsOfEveryGlyphAreBlank)
{
    size_t size = 0;
    const uint8_t* font = zn::resources::FaxFontResource(&size);
    ASSERT_EQ(size, zn::resources::kFaxFontResourceSize);
    struct TBlock {
        size_t offset;
        int width, height, rowBytes;
    };
    for (const TBlock b : {TBlock{0, 12, 8, 2}, TBlock{4096, 20, 16, 3}}) {
        const size_t glyphBytes = static_cast<size_t>(b.height * b.rowBytes);
        for (int code = 0; code < 256; ++code)
            for (int y = 0; y < b.height; ++y) {
                const uint8_t* row = font + b.offset + glyphBytes * static_cast<size_t>(code) + y * b.rowBytes;
                for (int x = b.width - 2; x < b.width; ++x)
                    EXPECT_FALSE(row[x >> 3] & (0x80 >> (x & 7))) << "glyph " << code << " of width " << b.width;
            }
        const uint8_t* letter = font + b.offset + glyphBytes * 'W';
        EXPECT_TRUE(std::any_of(letter, letter + glyphBytes, [](uint8_t v) { return v != 0; }));
    }
}

// The fax engine's header line: rows rendered and coded one by one, without a file.
TEST(TextConverter, HeaderLineRowsAreCodedWithoutAFile)
{
    ConverterState state(std::make_unique<TTextReader>());
    auto& text = static_cast<TTextReader&>(state.Reader());
    ASSERT_EQ(text.LoadFaxFont("APFAX.FNT", 16, false), ecOK);
    state.SetMargins(0, 0);
    Bytes stream;
    for (int row = 1; row <= text.GlyphHeight(); ++row) {
        uint8_t raster[kRasterBufferSize] = {};
        text.RasterizeTextRow("12/10/2026 FROM +1 555 0100 PAGE 1", row, raster);
        const int n = state.CompressRasterLine(raster);
        stream.insert(stream.end(), state.CodedRow(), state.CodedRow() + n);
    }
    uint8_t eop[kEndOfPageBytes];
    MakeEndOfPage(eop);
    stream.insert(stream.end(), eop, eop + kEndOfPageBytes);
    int rows = 0, inked = 0;
    TMhDecoder d;
    d.Decode(stream.data(), stream.size(), [&](const uint8_t* row, int len) {
        ++rows;
        inked += !IsBlank(Bytes(row, row + len));
        return true;
    });
    EXPECT_EQ(rows, 8);
    EXPECT_GE(inked, 6);
}

TEST(TextConverter, LongLinesAreCutAtTheRowWidth)
{
    TTextCase t;
    t.state->SetMargins(50, 0);
    const auto full = t.Convert(std::string(84, 'W'));
    EXPECT_EQ(t.Convert(std::string(200, 'W')), full);
    EXPECT_NE(t.Convert(std::string(83, 'W')), full);
}

// ---- Image readers -------------------------------------------------------------------------------

TMonoBitmap Picture(int width, int height)
{
    TMonoBitmap bm;
    bm.stride = (width + 7) / 8;
    bm.width = width;
    bm.height = height;
    bm.bits.assign(static_cast<size_t>(bm.stride * height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = y % 7; x < width; x += 5 + y % 3)
            bm.Row(y)[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    return bm;
}

int ConvertImage(std::unique_ptr<TFaxReader> reader, const std::string& in, const std::string& out, int margin = 0,
                 uint32_t clearFlags = 0, int widthCode = 1, uint32_t topMargin = 0)
{
    ConverterState s(std::move(reader));
    s.SetMargins(margin, topMargin);
    s.ClearFlags(clearFlags);
    s.SetWidth(widthCode);
    return s.ConvertFile(in, out);
}

TEST(ImageConverter, PackBitsTiffConvertsPixelForPixel)
{
    TTempDir dir;
    const TMonoBitmap pic = Picture(1728, 30);
    WriteFile(dir.Path("P.TIF"), EncodeTiff(pic));
    ASSERT_EQ(ConvertImage(std::make_unique<TTiffReader>(), dir.Path("P.TIF"), dir.Path("P.APF")), ecOK);
    const auto pages = Pages(dir.Path("P.APF"));
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].size(), 30u);
    for (int y = 0; y < 30; ++y)
        EXPECT_EQ(pages[0][static_cast<size_t>(y)], Bytes(pic.Row(y), pic.Row(y) + 216)) << y;
}

TEST(ImageConverter, NarrowTiffIsDoubledAndCentred)
{
    TTempDir dir;
    TMonoBitmap pic = Picture(500, 4);
    std::fill(pic.bits.begin(), pic.bits.end(), 0);
    for (int y = 0; y < 4; ++y)
        pic.Row(y)[0] = 0x80; // the leftmost pixel
    WriteFile(dir.Path("N.TIF"), EncodeTiff(pic));
    ASSERT_EQ(ConvertImage(std::make_unique<TTiffReader>(), dir.Path("N.TIF"), "", 50), ecOK);
    const auto pages = Pages(dir.Path("N.APF"));
    ASSERT_EQ(pages[0].size(), 4u);
    // Offset (1728 - 1000) / 32 = 22 bytes of the source, 352 pixels once doubled, behind the margin.
    Bytes expected(216, 0);
    expected[(50 + 352) / 8] = 0x30;
    EXPECT_EQ(pages[0][0], expected);
}

TEST(ImageConverter, TiffCompressionsOtherThanPackBitsAreRefusedAndLeaveNoFile)
{
    TTempDir dir;
    Bytes tiff = EncodeTiff(Picture(1728, 4));
    tiff[10 + 12 * 4 + 8] = 5; // LZW
    tiff[10 + 12 * 4 + 9] = 0;
    WriteFile(dir.Path("L.TIF"), tiff);
    EXPECT_EQ(ConvertImage(std::make_unique<TTiffReader>(), dir.Path("L.TIF"), ""), ecBadGraphicsFormat);
    EXPECT_FALSE(FileExists(dir.Path("L.APF")));
}

TEST(ImageConverter, AFailedConversionKeepsAnOlderFileOfThatName)
{
    TTempDir dir;
    WriteFile(dir.Path("OLD.APF"), std::string("older"));
    WriteFile(dir.Path("BAD.TIF"), std::string("MM\0*garbage", 11));
    EXPECT_EQ(ConvertImage(std::make_unique<TTiffReader>(), dir.Path("BAD.TIF"), dir.Path("OLD.APF")),
              ecBadGraphicsFormat);
    EXPECT_EQ(ReadFile(dir.Path("OLD.APF")), Bytes({'o', 'l', 'd', 'e', 'r'}));
    EXPECT_EQ(dir.Files().size(), 2u);
}

TEST(ImageConverter, AFolderOfTheOutputsNameStaysAndTheConversionFails)
{
    TTempDir dir;
    WriteFile(dir.Path("P.TIF"), EncodeTiff(Picture(1728, 2)));
    ASSERT_EQ(mkdir(dir.Path("OUT.APF").c_str(), 0777), 0);
    EXPECT_LT(ConvertImage(std::make_unique<TTiffReader>(), dir.Path("P.TIF"), dir.Path("OUT.APF")), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path("OUT.APF")));
    EXPECT_EQ(dir.Files().size(), 2u);
}

TEST(ImageConverter, TruncatedTiffIsADeviceReadError)
{
    TTempDir dir;
    Bytes tiff = EncodeTiff(Picture(1728, 40));
    tiff.resize(tiff.size() - 100);
    WriteFile(dir.Path("T.TIF"), tiff);
    EXPECT_EQ(ConvertImage(std::make_unique<TTiffReader>(), dir.Path("T.TIF"), ""), ecDeviceRead);
    EXPECT_FALSE(FileExists(dir.Path("T.APF")));
}

TEST(ImageConverter, PcxAndDcxConvertLikeTheirPicture)
{
    TTempDir dir;
    const TMonoBitmap pic = Picture(1728, 12);
    WriteFile(dir.Path("P.PCX"), EncodePcx(pic));
    WriteFile(dir.Path("P.DCX"), EncodeDcx(pic));
    ASSERT_EQ(ConvertImage(std::make_unique<TPcxReader>(false), dir.Path("P.PCX"), dir.Path("A.APF")), ecOK);
    ASSERT_EQ(ConvertImage(std::make_unique<TPcxReader>(true), dir.Path("P.DCX"), dir.Path("B.APF")), ecOK);
    const auto pages = Pages(dir.Path("A.APF"));
    EXPECT_EQ(pages, Pages(dir.Path("B.APF")));
    ASSERT_EQ(pages[0].size(), 12u);
    EXPECT_EQ(pages[0][5], Bytes(pic.Row(5), pic.Row(5) + 216));
}

TEST(ImageConverter, DcxPagesBecomeFaxPages)
{
    TTempDir dir;
    const Bytes one = EncodePcx(Picture(1728, 3)), two = EncodePcx(Picture(800, 5));
    Bytes dcx(kDcxHeaderSize, 0);
    const uint32_t offsets[] = {kDcxSignature, static_cast<uint32_t>(kDcxHeaderSize),
                                static_cast<uint32_t>(kDcxHeaderSize + one.size())};
    std::memcpy(dcx.data(), offsets, sizeof offsets);
    dcx.insert(dcx.end(), one.begin(), one.end());
    dcx.insert(dcx.end(), two.begin(), two.end());
    WriteFile(dir.Path("M.DCX"), dcx);
    ASSERT_EQ(ConvertImage(std::make_unique<TPcxReader>(true), dir.Path("M.DCX"), ""), ecOK);
    const auto pages = Pages(dir.Path("M.APF"));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].size(), 3u);
    EXPECT_EQ(pages[1].size(), 5u);
}

struct TPcxFault {
    const char* name;
    size_t offset;
    uint8_t value;
};

class PcxFaults : public ::testing::TestWithParam<TPcxFault> {};

// Colour planes and row lengths that cannot hold a monochrome row are refused.
TEST_P(PcxFaults, AreUnsupportedGraphicsFormats)
{
    TTempDir dir;
    Bytes pcx = EncodePcx(Picture(1728, 4));
    pcx[GetParam().offset] = GetParam().value;
    WriteFile(dir.Path("F.PCX"), pcx);
    EXPECT_EQ(ConvertImage(std::make_unique<TPcxReader>(false), dir.Path("F.PCX"), ""), ecBadGraphicsFormat);
    EXPECT_FALSE(FileExists(dir.Path("F.APF")));
}

INSTANTIATE_TEST_SUITE_P(Cases, PcxFaults,
                         ::testing::Values(TPcxFault{"FourPlanes", 65, 4}, TPcxFault{"NoPlanes", 65, 0},
                                           TPcxFault{"RowTooShort", 66, 10}, TPcxFault{"RowPastBuffer", 67, 0x20},
                                           TPcxFault{"NotPcx", 0, 11}, TPcxFault{"TwoBitsPerPixel", 3, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// Images of 765 to 839 pixels with a margin of 50 are not doubled when the doubled row and its
// margin would not fit, and never code past the row width.
class DoubleWidthImages : public ::testing::TestWithParam<int> {};

TEST_P(DoubleWidthImages, FitTheRow)
{
    TTempDir dir;
    TMonoBitmap pic = Picture(GetParam(), 3);
    WriteFile(dir.Path("W.PCX"), EncodePcx(pic));
    ASSERT_EQ(ConvertImage(std::make_unique<TPcxReader>(false), dir.Path("W.PCX"), "", 50), ecOK);
    const auto pages = Pages(dir.Path("W.APF"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Widths, DoubleWidthImages, ::testing::Values(765, 800, 814, 839, 600),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "Pixels"; });

TEST(ImageConverter, TopMarginRowsOfWidePagesAreWide)
{
    TTempDir dir;
    WriteFile(dir.Path("W.TIF"), EncodeTiff(Picture(2048, 2)));
    ASSERT_EQ(ConvertImage(std::make_unique<TTiffReader>(), dir.Path("W.TIF"), "", 0, 0, 2, 3), ecOK);
    const auto pages = Pages(dir.Path("W.APF"));
    ASSERT_EQ(pages[0].size(), 5u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pages[0][static_cast<size_t>(i)], Bytes(256, 0));
}

TEST(ImageConverter, HalfHeightCodesOddRows)
{
    TTempDir dir;
    WriteFile(dir.Path("H.TIF"), EncodeTiff(Picture(1728, 9)));
    ConverterState s(std::make_unique<TTiffReader>());
    s.SetMargins(0, 0);
    s.SetFlags(kCvtHalfHeight);
    ASSERT_EQ(s.ConvertFile(dir.Path("H.TIF"), ""), ecOK);
    EXPECT_EQ(Pages(dir.Path("H.APF"))[0].size(), 5u);
}

TEST(ImageConverter, BitmapOfFullWidthIsNotDoubled)
{
    TSourceBitmap bm;
    bm.width = 1728;
    bm.height = 2;
    bm.stride = 216;
    bm.bits.assign(432, 0xFF); // white
    bm.bits[0] = 0x7F;         // one black pixel at the left
    TTempDir dir;
    auto reader = std::make_unique<TBitmapReader>(false);
    reader->SetBitmap(&bm);
    ConverterState s(std::move(reader));
    s.SetMargins(0, 0);
    ASSERT_EQ(s.ConvertFile("", dir.Path("B.APF")), ecOK);
    EXPECT_FALSE(s.doubleWidth);
    const auto pages = Pages(dir.Path("B.APF"));
    ASSERT_EQ(pages[0].size(), 2u);
    EXPECT_EQ(pages[0][0][0], 0x80);
}

TEST(ImageConverter, ColourBitmapsAreDitheredTowardsWhite)
{
    TSourceBitmap bm;
    bm.width = 64;
    bm.height = 32;
    bm.bitsPerPixel = 32;
    bm.stride = 256;
    bm.bits.assign(static_cast<size_t>(bm.stride * bm.height), 0); // black
    for (int x = 32; x < 64; ++x)
        for (int y = 0; y < 32; ++y)
            std::memset(&bm.bits[static_cast<size_t>(y * bm.stride + 4 * x)], 0xFF, 4); // white
    TTempDir dir;
    auto reader = std::make_unique<TBitmapReader>(false);
    reader->SetBitmap(&bm);
    ConverterState s(std::move(reader));
    s.SetMargins(0, 0);
    s.ClearFlags(kCvtCenterImage | kCvtDoubleWidth);
    ASSERT_EQ(s.ConvertFile("", dir.Path("D.APF")), ecOK);
    const auto rows = Pages(dir.Path("D.APF"))[0];
    ASSERT_EQ(rows.size(), 32u);
    EXPECT_EQ(rows[5][4], 0); // white stays white
    int black = 0;
    for (const Bytes& r : rows)
        black +=
            __builtin_popcount(r[0]) + __builtin_popcount(r[1]) + __builtin_popcount(r[2]) + __builtin_popcount(r[3]);
    EXPECT_GT(black, 32 * 32 * 9 / 10); // pure black stays (almost all) black
}

// A page that ends before its first row still gets its page header: the file's page count and its
// pages agree.
TEST(ImageConverter, APageWithoutRowsIsStillAPage)
{
    TTempDir dir;
    int calls = 0;
    ConverterState s(std::make_unique<TUserReader>(
        "", nullptr,
        [&](uint8_t* raster, int& bytes, bool& endOfPage, bool& morePages) {
            ++calls;
            endOfPage = calls == 1 || calls == 4; // page 1: no rows; page 2: two rows
            morePages = calls == 1;
            raster[0] = 0xFF;
            bytes = 216;
            return 0;
        },
        nullptr));
    ASSERT_EQ(s.ConvertFile("", dir.Path("U.APF")), ecOK);
    const auto pages = Pages(dir.Path("U.APF"));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].size(), 0u);
    EXPECT_EQ(pages[1].size(), 2u);
}

// A BMP file: 40-byte header, a palette of white and black, then `data` as coded.
Bytes Bmp(int width, int height, int bpp, int compression, const Bytes& data)
{
    Bytes b(14 + 40 + 8, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(10, 62);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    b[26] = 1;
    b[28] = static_cast<uint8_t>(bpp);
    put32(30, static_cast<uint32_t>(compression));
    put32(46, 2);
    b[54] = b[55] = b[56] = 0xFF; // index 0 white, index 1 black
    b.insert(b.end(), data.begin(), data.end());
    put32(2, static_cast<uint32_t>(b.size()));
    return b;
}

TEST(ImageConverter, RunLengthCodedBmpsReadLikeTheirPlainForm)
{
    // 8 x 2: top row black at 0 and 2, bottom row black at 0..3 (rows are stored bottom-up).
    TTempDir dir;
    WriteFile(dir.Path("PLAIN8.BMP"), Bmp(8, 2, 8, 0, {1, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0}));
    WriteFile(dir.Path("RLE8.BMP"), Bmp(8, 2, 8, 1, {4, 1, 4, 0, 0, 0, 0, 3, 1, 0, 1, 0, 5, 0, 0, 0, 0, 1}));
    WriteFile(dir.Path("RLE4.BMP"), Bmp(8, 2, 4, 2, {4, 0x11, 4, 0x00, 0, 0, 0, 3, 0x10, 0x10, 5, 0x00, 0, 1}));
    std::vector<std::vector<Bytes>> pages;
    for (const char* name : {"PLAIN8", "RLE8", "RLE4"}) {
        ConverterState s(std::make_unique<TBitmapReader>(true));
        s.SetMargins(0, 0);
        s.ClearFlags(kCvtCenterImage | kCvtDoubleWidth);
        ASSERT_EQ(s.ConvertFile(dir.Path(name), ""), ecOK) << name;
        pages.push_back(Pages(dir.Path(std::string(name) + ".APF"))[0]);
    }
    // Palette pictures are dithered: the threshold at (0, 0) is 0, so only pixels 1.. can be black.
    ASSERT_EQ(pages[0].size(), 2u);
    EXPECT_EQ(pages[0][0][0], 0x20); // top row: black at 0 and 2
    EXPECT_EQ(pages[0][1][0], 0xF0); // bottom row: black at 0..3
    EXPECT_EQ(pages[0], pages[1]);
    EXPECT_EQ(pages[0], pages[2]);
    // Runs that leave the picture or break off are refused.
    WriteFile(dir.Path("BROKEN.BMP"), Bmp(8, 2, 8, 1, {0, 2, 1, 9, 0, 40, 1}));
    ConverterState s(std::make_unique<TBitmapReader>(true));
    EXPECT_EQ(s.ConvertFile(dir.Path("BROKEN.BMP"), ""), ecBadGraphicsFormat);
    EXPECT_FALSE(FileExists(dir.Path("BROKEN.APF")));
}

// ---- Limits: what a page and a file can hold, and pictures that claim more than they bring ----

// A TIFF page made by hand: uncompressed, 1 bit, strips at offsets into the file.
struct THandTiffPage {
    uint32_t width, length, rowsPerStrip;
    std::vector<uint32_t> offsets, counts;
};

// The pages' IFDs behind `data` (which starts at offset 8), chained in order; `loop` makes the
// last IFD point back at the first.
Bytes HandTiff(const std::vector<THandTiffPage>& pages, const Bytes& data, bool loop = false)
{
    Bytes b = {'I', 'I', 42, 0, 0, 0, 0, 0};
    b.insert(b.end(), data.begin(), data.end());
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    const auto append32 = [&](uint32_t v) {
        b.resize(b.size() + 4);
        put32(b.size() - 4, v);
    };
    size_t link = 4, first = 0;
    for (const THandTiffPage& p : pages) {
        // Strip tables of more than one entry go in front of their IFD.
        const auto table = [&](const std::vector<uint32_t>& v) {
            const uint32_t at = static_cast<uint32_t>(b.size());
            for (uint32_t x : v)
                append32(x);
            return v.size() == 1 ? v[0] : at;
        };
        const uint32_t offsets = table(p.offsets), counts = table(p.counts);
        const uint32_t ifd = static_cast<uint32_t>(b.size());
        put32(link, ifd);
        first = first ? first : ifd;
        const uint32_t entries[][3] = {{256, 1, p.width},
                                       {257, 1, p.length},
                                       {258, 1, 1},
                                       {259, 1, 1},
                                       {273, static_cast<uint32_t>(p.offsets.size()), offsets},
                                       {278, 1, p.rowsPerStrip},
                                       {279, static_cast<uint32_t>(p.counts.size()), counts}};
        b.push_back(7);
        b.push_back(0);
        for (const auto& e : entries) {
            b.push_back(static_cast<uint8_t>(e[0]));
            b.push_back(static_cast<uint8_t>(e[0] >> 8));
            b.push_back(4); // LONG
            b.push_back(0);
            append32(e[1]);
            append32(e[2]);
        }
        link = b.size();
        append32(0);
    }
    if (loop)
        put32(link, static_cast<uint32_t>(first));
    return b;
}

Bytes Dcx(const std::vector<uint32_t>& offsets, const Bytes& pages)
{
    Bytes b(4 + 4 * (offsets.size() + 1), 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, kDcxSignature);
    for (size_t i = 0; i < offsets.size(); ++i)
        put32(4 + 4 * i, offsets[i] + static_cast<uint32_t>(b.size()));
    b.insert(b.end(), pages.begin(), pages.end());
    return b;
}

struct THostileCase {
    const char* name;
    const char* extension;
    std::function<Bytes()> make;
    int expected;
};

class HostilePictures : public ::testing::TestWithParam<THostileCase> {};

std::unique_ptr<TFaxReader> ReaderFor(const std::string& extension)
{
    if (extension == "TIF")
        return std::make_unique<TTiffReader>();
    if (extension == "BMP")
        return std::make_unique<TBitmapReader>(true);
    return std::make_unique<TPcxReader>(extension == "DCX");
}

// Each is refused with its own message and leaves no file, whatever it claims to hold.
TEST_P(HostilePictures, AreRefusedWithTheirReason)
{
    const THostileCase& c = GetParam();
    TTempDir dir;
    const std::string in = dir.Path(std::string("IN.") + c.extension);
    WriteFile(in, c.make());
    EXPECT_EQ(ConvertImage(ReaderFor(c.extension), in, ""), c.expected);
    EXPECT_FALSE(FileExists(dir.Path("IN.APF")));
}

const Bytes kRow216(216, 0x0F);

INSTANTIATE_TEST_SUITE_P(
    Cases, HostilePictures,
    ::testing::Values(THostileCase{"TiffTallerThanAPage", "TIF",
                                   [] {
                                       return HandTiff({{1728, kMaxPageRows + 1, 1, {8}, {216}}}, kRow216);
                                   },
                                   ecPageTooLong},
                      THostileCase{"TiffOf280MillionRows", "TIF",
                                   [] {
                                       return HandTiff({{1728, 280000000, 1, {8}, {216}}}, kRow216);
                                   },
                                   ecPageTooLong},
                      THostileCase{"TiffWiderThanAnyPicture", "TIF",
                                   [] {
                                       return HandTiff({{kMaxImageWidth + 1, 1, 1, {8}, {8192}}}, Bytes(8192, 0));
                                   },
                                   ecPictureTooLarge},
                      THostileCase{"TiffStripsShareTheirData", "TIF",
                                   [] {
                                       return HandTiff({{1728, 1000, 1, std::vector<uint32_t>(1000, 8),
                                                         std::vector<uint32_t>(1000, 216)}},
                                                       kRow216);
                                   },
                                   ecBadGraphicsFormat},
                      THostileCase{"TiffPagesShareTheirData", "TIF",
                                   [] {
                                       return HandTiff({{1728, 1, 1, {8}, {216}}, {1728, 1, 1, {8}, {216}}}, kRow216);
                                   },
                                   ecBadGraphicsFormat},
                      THostileCase{"TiffPagesComeBackToTheFirst", "TIF",
                                   [] {
                                       return HandTiff({{1728, 1, 1, {8}, {216}}}, kRow216, true);
                                   },
                                   ecBadGraphicsFormat},
                      THostileCase{"BmpTallerThanAPage", "BMP", [] { return Bmp(1728, kMaxPageRows + 1, 1, 0, {}); },
                                   ecPageTooLong},
                      THostileCase{"BmpWiderThanAnyPicture", "BMP",
                                   [] { return Bmp(kMaxImageWidth + 1, 1, 1, 0, Bytes(8192, 0)); }, ecPictureTooLarge},
                      THostileCase{"DcxPagesShareTheirData", "DCX",
                                   [] {
                                       return Dcx({0, 0, 0}, EncodePcx(Picture(1728, 100)));
                                   },
                                   ecBadGraphicsFormat}),
    [](const auto& info) { return std::string(info.param.name); });

// The same tall page (95,040 rows: forty A4 pages end to end) converts from a TIFF and from a BMP.
TEST(ImageConverter, TallPagesConvertAlikeFromEveryReader)
{
    TTempDir dir;
    const TMonoBitmap pic = Picture(1728, 95040);
    WriteFile(dir.Path("T.TIF"), EncodeTiff(pic));
    WriteFile(dir.Path("T.BMP"), EncodeBmp(pic));
    ASSERT_EQ(ConvertImage(std::make_unique<TTiffReader>(), dir.Path("T.TIF"), dir.Path("TIF.APF")), ecOK);
    ASSERT_EQ(ConvertImage(std::make_unique<TBitmapReader>(true), dir.Path("T.BMP"), dir.Path("BMP.APF")), ecOK);
    TApfPageHeader a, b;
    Bytes fromTiff, fromBmp;
    ASSERT_EQ(ReadApfPage(dir.Path("TIF.APF"), 1, a, fromTiff), ecOK);
    ASSERT_EQ(ReadApfPage(dir.Path("BMP.APF"), 1, b, fromBmp), ecOK);
    EXPECT_TRUE(fromTiff == fromBmp);
    int rows = 0;
    UnpackerState u([&](UnpackerState&, int kind, const uint8_t*, int, int) { return rows += kind == kOutputRow, 0; });
    ASSERT_EQ(u.UnpackPage(dir.Path("BMP.APF"), 1), ecOK);
    EXPECT_EQ(rows, 95040);
}

// A file holds at most 65535 pages: a text of 65536 form feeds is refused, not wrapped round.
TEST(TextConverter, MorePagesThanAFileHoldsAreRefused)
{
    TTextCase t;
    std::string text;
    for (int i = 0; i < kMaxApfPages + 1; ++i)
        text += "\f\n";
    WriteFile(t.dir.Path("IN.TXT"), text);
    EXPECT_EQ(t.state->ConvertFile(t.dir.Path("IN.TXT"), ""), ecTooManyPages);
    EXPECT_FALSE(FileExists(t.dir.Path("IN.APF")));
}

// Rows supplied by the owner stop at the page row limit: no page length past what a page holds.
TEST(FaxConverter, PagesStopAtTheRowLimit)
{
    TTempDir dir;
    int rows = 0;
    ConverterState s(std::make_unique<TUserReader>(
        "", [](const std::string&) { return 0; },
        [&](uint8_t* raster, int& bytes, bool& endOfPage, bool& morePages) {
            raster[0] = 0x80;
            bytes = 1;
            endOfPage = ++rows > kMaxPageRows + 10;
            morePages = false;
            return 0;
        },
        nullptr));
    EXPECT_EQ(s.ConvertFile("", dir.Path("U.APF")), ecPageTooLong);
    EXPECT_EQ(rows, kMaxPageRows + 1);
    EXPECT_FALSE(FileExists(dir.Path("U.APF")));
}

TEST(ImageConverter, StatusAbortEndsTheConversion)
{
    TTempDir dir;
    WriteFile(dir.Path("S.TIF"), EncodeTiff(Picture(1728, 40)));
    ConverterState s(std::make_unique<TTiffReader>());
    s.SetStatusProc([](ConverterState& st, int kind) { return kind == kStatusRow && st.LineNumber() == 10; });
    EXPECT_EQ(s.ConvertFile(dir.Path("S.TIF"), ""), ecConvertAbort);
    EXPECT_FALSE(FileExists(dir.Path("S.APF")));
}

TEST(ImageConverter, StationIdAndDateGoIntoTheHeader)
{
    TTempDir dir;
    WriteFile(dir.Path("S.TIF"), EncodeTiff(Picture(1728, 1)));
    ConverterState s(std::make_unique<TTiffReader>());
    s.SetStationId("1234567890123456789012345");
    ASSERT_EQ(s.ConvertFile(dir.Path("S"), ""), ecOK); // the reader's extension is added
    TApfFileHeader h;
    ASSERT_EQ(ReadApfHeader(dir.Path("S.APF"), h), ecOK);
    EXPECT_EQ(h.StationId(), "12345678901234567890");
    EXPECT_NE(h.dateTime, 0);
    EXPECT_EQ(h.page1Offset, 64);
}

} // namespace
} // namespace zn::faxdoc
