// The BMP header parser over crafted headers of every size it takes and refuses, and the run-length
// walk over codes held in memory (the cover's way of reading them).
#include "faxdoc/bmp_header.h"
#include "faxdoc/converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zn::faxdoc {
namespace {

using Bytes = std::vector<uint8_t>;

// A BMP file made to order. The palette's entry 0 is white, entry i > 0 is grey i.
struct TLayout {
    uint32_t headerSize;
    int32_t width, height;
    uint16_t bpp;
    uint32_t compression;
    uint32_t colours;            // the header's colour count
    size_t paletteEntries;       // entries written (3 bytes each after a 12-byte header, else 4)
    std::vector<uint32_t> masks; // after a 40-byte header, at offset 54 inside a larger one
    int64_t dataBytes = -1;      // -1: the rows of plain pixels
    size_t cut = 0;              // bytes cut off the end
    int64_t dataOffset = -1;     // -1: where the data starts

    TLayout Masks(std::vector<uint32_t> m) const { return Set(&TLayout::masks, std::move(m)); }
    TLayout Data(int64_t bytes) const { return Set(&TLayout::dataBytes, bytes); }
    TLayout Cut(size_t bytes) const { return Set(&TLayout::cut, bytes); }
    TLayout DataAt(int64_t offset) const { return Set(&TLayout::dataOffset, offset); }

private:
    template <class T>
    TLayout Set(T TLayout::*field, T value) const
    {
        TLayout s = *this;
        s.*field = std::move(value);
        return s;
    }
};

TLayout Layout(uint32_t headerSize, int32_t width = 8, int32_t height = 2, uint16_t bpp = 8,
               uint32_t compression = kBmpPlain, uint32_t colours = 0, size_t paletteEntries = 0)
{
    return TLayout{headerSize, width, height, bpp, compression, colours, paletteEntries, {}};
}

void Put(Bytes& b, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes Craft(const TLayout& s)
{
    Bytes b(14 + s.headerSize, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put(b, 14, s.headerSize, 4);
    if (s.headerSize == 12) {
        Put(b, 18, static_cast<uint32_t>(s.width), 2);
        Put(b, 20, static_cast<uint32_t>(s.height), 2);
        Put(b, 22, 1, 2);
        Put(b, 24, s.bpp, 2);
    } else if (s.headerSize >= 40) {
        Put(b, 18, static_cast<uint32_t>(s.width), 4);
        Put(b, 22, static_cast<uint32_t>(s.height), 4);
        Put(b, 26, 1, 2);
        Put(b, 28, s.bpp, 2);
        Put(b, 30, s.compression, 4);
        Put(b, 46, s.colours, 4);
    }
    if (!s.masks.empty() && s.headerSize == 40)
        b.resize(b.size() + 12);
    for (size_t i = 0; i < s.masks.size(); ++i)
        Put(b, 54 + 4 * i, s.masks[i], 4);
    const size_t entry = s.headerSize == 12 ? 3 : 4;
    for (size_t i = 0; i < s.paletteEntries; ++i) {
        b.resize(b.size() + entry);
        Put(b, b.size() - entry, i == 0 ? 0xFFFFFFu : static_cast<uint32_t>(i * 0x010101u), 3);
    }
    Put(b, 10, static_cast<uint32_t>(s.dataOffset < 0 ? static_cast<int64_t>(b.size()) : s.dataOffset), 4);
    const size_t stride = ((static_cast<size_t>(s.width) * s.bpp + 31) / 32) * 4;
    const int64_t rows = s.height < 0 ? -static_cast<int64_t>(s.height) : s.height;
    b.resize(b.size() + static_cast<size_t>(s.dataBytes < 0 ? static_cast<int64_t>(stride) * rows : s.dataBytes));
    b.resize(b.size() - s.cut);
    Put(b, 2, static_cast<uint32_t>(b.size()), 4);
    return b;
}

struct TWant {
    int64_t width, height;
    bool topDown;
    std::vector<uint32_t> palette;
    uint32_t masks[3];
    size_t stride;
    int64_t dataOffset;
};

struct THeaderCase {
    const char* name;
    TLayout layout;
    int rc;
    TWant want; // when rc is ecOK
};

void PrintTo(const THeaderCase& c, std::ostream* os) { *os << c.name; }

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kRgb555[3] = {0x7C00, 0x03E0, 0x001F};

class BmpHeader : public ::testing::TestWithParam<THeaderCase> {};

TEST_P(BmpHeader, ReadsWhatTheHeadersSayOrRefusesTheFile)
{
    const THeaderCase& c = GetParam();
    const Bytes file = Craft(c.layout);
    TBmpHeader h;
    ASSERT_EQ(ParseBmpHeader(file.data(), file.size(), CheckImageSize, h), c.rc);
    if (c.rc != ecOK)
        return;
    EXPECT_EQ(h.width, c.want.width);
    EXPECT_EQ(h.height, c.want.height);
    EXPECT_EQ(h.topDown, c.want.topDown);
    EXPECT_EQ(h.bpp, c.layout.bpp);
    EXPECT_EQ(h.palette, c.want.palette);
    if (h.bpp >= 16) {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(h.masks[i], c.want.masks[i]) << i;
    }
    EXPECT_EQ(h.stride, c.want.stride);
    EXPECT_EQ(h.dataOffset, c.want.dataOffset);
    EXPECT_EQ(h.zeroIsLighter, h.bpp <= 8 && h.palette.size() >= 2);
}

std::vector<uint32_t> Grey(size_t n)
{
    std::vector<uint32_t> p{kWhite};
    for (uint32_t i = 1; i < n; ++i)
        p.push_back(i * 0x010101u);
    return p;
}

const uint32_t kMasks565[3] = {0xF800, 0x07E0, 0x001F};
TLayout BitFields(uint32_t headerSize, uint16_t bpp)
{
    return Layout(headerSize, 3, -2, bpp, kBmpBitFields).Masks({kMasks565[0], kMasks565[1], kMasks565[2]});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Headers, BmpHeader, ::testing::Values(
    THeaderCase{"CoreHeaderTopDownWithThreeBytePalette", Layout(12, 9, -3, 1, 0, 0, 2), ecOK,
                {9, 3, true, Grey(2), {}, 4, 14 + 12 + 6}},
    THeaderCase{"CoreHeaderPaletteFullForItsDepth", Layout(12, 3, 2, 4, 0, 0, 16), ecOK,
                {3, 2, false, Grey(16), {}, 4, 14 + 12 + 48}},
    THeaderCase{"ColourCountShortensThePalette", Layout(40, 8, 2, 8, 0, 3, 3), ecOK,
                {8, 2, false, Grey(3), {}, 8, 14 + 40 + 12}},
    THeaderCase{"ColourCountBeyondTheDepthMeansAFullPalette", Layout(40, 8, 2, 1, 0, 5, 2), ecOK,
                {8, 2, false, Grey(2), {}, 4, 14 + 40 + 8}},
    THeaderCase{"PaletteAfterA124ByteHeader", Layout(124, 8, 2, 8, 0, 2, 2), ecOK,
                {8, 2, false, Grey(2), {}, 8, 14 + 124 + 8}},
    THeaderCase{"DefaultMasksOf16Bits", Layout(40, 3, 1, 16), ecOK,
                {3, 1, false, {}, {kRgb555[0], kRgb555[1], kRgb555[2]}, 8, 14 + 40}},
    THeaderCase{"DefaultMasksOf32Bits", Layout(40, 3, 1, 32), ecOK,
                {3, 1, false, {}, {0xFF0000, 0xFF00, 0xFF}, 12, 14 + 40}},
    THeaderCase{"BitFieldsAfterA40ByteHeader", BitFields(40, 16), ecOK,
                {3, 2, true, {}, {0xF800, 0x07E0, 0x001F}, 8, 14 + 40 + 12}},
    THeaderCase{"BitFieldsInsideA52ByteHeader", BitFields(52, 32), ecOK,
                {3, 2, true, {}, {0xF800, 0x07E0, 0x001F}, 12, 14 + 52}},
    THeaderCase{"BitFieldsInsideA56ByteHeader", BitFields(56, 16), ecOK,
                {3, 2, true, {}, {0xF800, 0x07E0, 0x001F}, 8, 14 + 56}},
    THeaderCase{"BitFieldsInsideA108ByteHeader", BitFields(108, 32), ecOK,
                {3, 2, true, {}, {0xF800, 0x07E0, 0x001F}, 12, 14 + 108}},
    THeaderCase{"BitFieldsInsideA124ByteHeader", BitFields(124, 16), ecOK,
                {3, 2, true, {}, {0xF800, 0x07E0, 0x001F}, 8, 14 + 124}},
    THeaderCase{"RunLengthDataThatCouldPaintThePicture", Layout(40, 128, 2, 8, kBmpRle8, 2, 2).Data(2), ecOK,
                {128, 2, false, Grey(2), {}, 128, 14 + 40 + 8}},
    THeaderCase{"HeaderOf11Bytes", Layout(11), ecBadGraphicsFormat, {}},
    THeaderCase{"HeaderOf39Bytes", Layout(39), ecBadGraphicsFormat, {}},
    THeaderCase{"HeaderLongerThanTheFile", Layout(124, 1, 1, 24).Data(0).Cut(1), ecBadGraphicsFormat, {}},
    THeaderCase{"ShorterThanTheFirstFields", Layout(12, 1, 1, 24).Data(0).Cut(1), ecBadGraphicsFormat, {}},
    THeaderCase{"NoWidth", Layout(40, 0, 2, 8, 0, 0, 256), ecBadGraphicsFormat, {}},
    THeaderCase{"NoHeight", Layout(40, 8, 0, 8, 0, 0, 256), ecBadGraphicsFormat, {}},
    THeaderCase{"WiderThanAnyPicture", Layout(40, kMaxImageWidth + 1, 1, 2), ecPictureTooLarge, {}},
    THeaderCase{"TwoBitsAPixel", Layout(40, 8, 2, 2, 0, 0, 4), ecBadGraphicsFormat, {}},
    THeaderCase{"Rle8At4Bits", Layout(40, 8, 2, 4, kBmpRle8, 0, 16), ecBadGraphicsFormat, {}},
    THeaderCase{"Rle4At8Bits", Layout(40, 8, 2, 8, kBmpRle4, 0, 256), ecBadGraphicsFormat, {}},
    THeaderCase{"UnknownCompression", Layout(40, 8, 2, 24, 4), ecBadGraphicsFormat, {}},
    THeaderCase{"BitFieldsAt8Bits", Layout(40, 8, 2, 8, kBmpBitFields, 0, 256), ecBadGraphicsFormat, {}},
    THeaderCase{"TopDownRunLength", Layout(40, 8, -2, 8, kBmpRle8, 0, 256).Data(4), ecBadGraphicsFormat, {}},
    THeaderCase{"BitFieldsCutShort", Layout(40, 1, 1, 16, kBmpBitFields, 0, 0).Data(11), ecBadGraphicsFormat, {}},
    THeaderCase{"PaletteCutShort", Layout(40, 8, 2, 8, 0, 0, 200).Data(0).DataAt(54), ecBadGraphicsFormat, {}},
    THeaderCase{"CorePaletteCutShort", Layout(12, 8, 2, 4, 0, 0, 10).Data(0).DataAt(26), ecBadGraphicsFormat, {}},
    THeaderCase{"RowsCutShort", Layout(40, 9, 3, 24).Cut(1), ecBadGraphicsFormat, {}},
    THeaderCase{"DataOffsetPastTheEnd", Layout(40, 8, 2, 24).DataAt(1 << 20), ecBadGraphicsFormat, {}},
    THeaderCase{"RunLengthPictureFarLargerThanItsData", Layout(40, 65535, 2, 8, kBmpRle8, 2, 2).Data(1021),
                ecBadGraphicsFormat, {}}),
    [](const ::testing::TestParamInfo<THeaderCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(BmpHeaderReads, PassOnAReadErrorAndTakeAShortReadForACutFile)
{
    const Bytes file = Craft(Layout(40, 8, 2, 8, kBmpPlain, 2, 2));
    constexpr int kIoError = -5;
    for (const int failure : {kIoError, -1}) {
        // The palette's read (the third) fails.
        int reads = 0;
        const TBmpBytesAt bytesAt = [&](int64_t at, uint8_t* to, size_t n) {
            if (++reads == 3)
                return failure;
            std::copy_n(file.begin() + at, n, to);
            return static_cast<int>(ecOK);
        };
        TBmpHeader h;
        EXPECT_EQ(ReadBmpHeader(static_cast<int64_t>(file.size()), bytesAt, CheckImageSize, h),
                  failure == -1 ? ecBadGraphicsFormat : kIoError);
        EXPECT_EQ(reads, 3);
    }
}

// ---- Pixels of the plain rows ----

struct TPixelCase {
    const char* name;
    TLayout layout;
    Bytes row;
    std::vector<uint32_t> colours; // blue in the low byte
};

void PrintTo(const TPixelCase& c, std::ostream* os) { *os << c.name; }

class BmpPixels : public ::testing::TestWithParam<TPixelCase> {};

TEST_P(BmpPixels, ComeOutAsColours)
{
    const TPixelCase& c = GetParam();
    const Bytes file = Craft(c.layout);
    TBmpHeader h;
    ASSERT_EQ(ParseBmpHeader(file.data(), file.size(), CheckImageSize, h), ecOK);
    std::vector<uint32_t> got(c.colours.size(), 0xDEAD);
    h.ForEachPixel(c.row.data(), static_cast<int64_t>(got.size()),
                   [&](int64_t x, uint32_t bgr) { got[static_cast<size_t>(x)] = bgr; });
    EXPECT_EQ(got, c.colours);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Depths, BmpPixels, ::testing::Values(
    // Indices past the palette's 3 colours are black.
    TPixelCase{"FourBitsHighNibbleFirst", Layout(40, 3, 1, 4, kBmpPlain, 3, 3), {0x12, 0x50}, {0x010101, 0x020202, 0}},
    TPixelCase{"EightBits", Layout(40, 3, 1, 8, kBmpPlain, 3, 3), {2, 0, 9}, {0x020202, kWhite, 0}},
    TPixelCase{"SixteenBitsDefaultIs555", Layout(40, 2, 1, 16), {0x1F, 0x00, 0x00, 0x7C}, {0x0000FF, 0xFF0000}},
    TPixelCase{"SixteenBits565Scaled", BitFields(40, 16), {0xE0, 0x07, 0x10, 0x00}, {0x00FF00, 0x000083}},
    TPixelCase{"TwentyFourBitsBlueFirst", Layout(40, 2, 1, 24), {1, 2, 3, 4, 5, 6}, {0x030201, 0x060504}},
    TPixelCase{"ThirtyTwoBitsByTheirMasks",
               Layout(40, 1, 1, 32, kBmpBitFields).Masks({0xFF, 0xFF00, 0xFF0000}), {0x11, 0x22, 0x33, 0x44},
               {0x112233}}),
    [](const ::testing::TestParamInfo<TPixelCase>& info) { return std::string(info.param.name); });
// clang-format on

// ---- The run-length walk ----

struct TWalkCase {
    const char* name;
    uint32_t bpp;
    Bytes codes;
    int rc;
    std::vector<std::string> rows; // top-down, one character a palette index, '.' unpainted
};

void PrintTo(const TWalkCase& c, std::ostream* os) { *os << c.name; }

class BmpRleWalk : public ::testing::TestWithParam<TWalkCase> {};

TEST_P(BmpRleWalk, PaintsWhatTheCodesSay)
{
    const TWalkCase& c = GetParam();
    constexpr int64_t kWidth = 6, kHeight = 3;
    std::vector<std::string> rows(kHeight, std::string(kWidth, '.'));
    TBmpRleBytes source(c.codes.data(), c.codes.size());
    // A kept width short of the picture's: pixels past it are walked over, not handed on.
    const int rc = WalkBmpRle(source, c.bpp, kHeight, kWidth - 1, [&](uint32_t index, int64_t x, int64_t y) {
        rows[static_cast<size_t>(y)][static_cast<size_t>(x)] =
            static_cast<char>(index < 10 ? '0' + index : 'a' + index - 10);
    });
    EXPECT_EQ(rc, c.rc);
    if (c.rc == ecOK) {
        EXPECT_EQ(rows, c.rows);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Codes, BmpRleWalk, ::testing::Values(
    TWalkCase{"Runs8", 8, {3, 1, 3, 2, 0, 0, 6, 4, 0, 1}, ecOK, {"......", "44444.", "11122."}},
    TWalkCase{"LiteralsPaddedToEvenBytes8", 8, {0, 3, 5, 6, 7, 0, 1, 9, 0, 1}, ecOK, {"......", "......", "5679.."}},
    TWalkCase{"MoveSkipsPixelsAndRows", 8, {0, 2, 2, 1, 1, 3, 0, 1}, ecOK, {"......", "..3...", "......"}},
    TWalkCase{"Runs4AlternateTheirNibbles", 4, {5, 0xAB, 0, 0, 0, 3, 0xCD, 0xE0, 0, 1}, ecOK,
              {"......", "cde...", "ababa."}},
    TWalkCase{"DataWithoutItsEndMarkKeepsWhatItDrew", 8, {2, 7, 0}, ecOK, {"......", "......", "77...."}},
    TWalkCase{"MoveCutShort", 8, {0, 2, 1}, ecBadGraphicsFormat, {}},
    TWalkCase{"LiteralCutShort", 8, {0, 4, 1, 2, 3}, ecBadGraphicsFormat, {}},
    TWalkCase{"RunsBelowThePicture", 8, {0, 0, 0, 0, 0, 0, 0, 0, 1, 1}, ecBadGraphicsFormat, {}}),
    [](const ::testing::TestParamInfo<TWalkCase>& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
} // namespace zn::faxdoc
