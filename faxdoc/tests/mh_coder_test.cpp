#include "faxdoc/mh_coder.h"
#include "faxdoc/mh_codes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace zn::faxdoc {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Code(const Bytes& raster, int width, int margin = 0, bool doubleWidth = false)
{
    Bytes in(kCodedRowBufferSize, 0);
    std::copy(raster.begin(), raster.end(), in.begin());
    Bytes out(kCodedRowBufferSize, 0xEE);
    const int n = CodeRasterRow(in.data(), kCodedRowBufferSize, width, margin, doubleWidth, out.data());
    out.resize(static_cast<size_t>(n));
    return out;
}

// Decodes a stream and collects the rows it delivers.
std::vector<Bytes> Decode(const Bytes& stream, int* badCodes = nullptr)
{
    std::vector<Bytes> rows;
    TMhDecoder d;
    const TMhDecoder::TRowSink sink = [&](const uint8_t* row, int n) {
        rows.emplace_back(row, row + n);
        return true;
    };
    if (!d.Decode(stream.data(), stream.size(), sink))
        d.Finish(sink);
    if (badCodes)
        *badCodes = d.BadCodes();
    return rows;
}

Bytes EndOfPage()
{
    Bytes eop(kEndOfPageBytes);
    MakeEndOfPage(eop.data());
    return eop;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

void SetPixels(Bytes& row, int from, int to)
{
    for (int x = from; x < to; ++x)
        row[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
}

TEST(MhCodes, ReversalTurnsCodesAround)
{
    EXPECT_EQ(ReverseCode(0b0001, 4), 0b1000);
    EXPECT_EQ(ReverseCode(0b010011011, 9), 0b110110010);
    EXPECT_EQ(ReverseCode(1, 16), 0x8000);
}

TEST(MhCodes, EveryRunCodeDecodesToItsRun)
{
    const TFaxDecodeTables& dec = FaxDecodeTables();
    const TFaxCodeTables& enc = FaxCodeTables();
    for (int colour = 0; colour < 2; ++colour) {
        for (int run = 0; run < kTermCodes; ++run) {
            const TFaxCode c = enc.term[colour][run];
            const TDecodeEntry& e = dec.entry[colour][c.code];
            EXPECT_EQ(e.kind, TDecodeKind::Terminating) << colour << " " << run;
            EXPECT_EQ(e.run, run);
            EXPECT_EQ(e.bits, c.bits);
        }
        for (int k = 1; k <= kMakeUpCodes; ++k) {
            const TFaxCode c = enc.makeUp[colour][k];
            const TDecodeEntry& e = dec.entry[colour][c.code];
            EXPECT_EQ(e.kind, TDecodeKind::MakeUp) << colour << " " << k;
            EXPECT_EQ(e.run, 64 * k);
            EXPECT_EQ(e.bits, c.bits);
        }
    }
}

TEST(MhCoder, BlankRowIsEolAndOneWhiteRun)
{
    const Bytes blank = Code({}, kNormalLineWidth);
    EXPECT_EQ(blank, Bytes(kBlankRow1728, kBlankRow1728 + 6));
    Bytes wide(kCodedRowBufferSize);
    wide.resize(static_cast<size_t>(CodeBlankRow(kWideLineWidth, wide.data())));
    EXPECT_EQ(wide, Code({}, kWideLineWidth));
    // EOL, extended make-up 2048 (000000010011), white 0: 16 + 12 + 8 bits, then a zero byte.
    EXPECT_EQ(wide, (Bytes{0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00}));
}

TEST(MhCoder, EndOfPageIsTwelveBytesOfEols)
{
    EXPECT_EQ(EndOfPage(), (Bytes{0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00}));
}

TEST(MhCoder, RowsBeginWithEolAndEndWithAZeroByte)
{
    Bytes row(216, 0);
    SetPixels(row, 10, 20);
    const Bytes coded = Code(row, kNormalLineWidth);
    ASSERT_GE(coded.size(), 4u);
    EXPECT_EQ(coded[0], 0x00);
    EXPECT_EQ(coded[1], 0x80);
    EXPECT_EQ(coded.back(), 0x00);
    EXPECT_NE(coded[coded.size() - 2], 0x00); // the byte holding the last code bit
}

class MhRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(MhRoundTrip, RandomRowsComeBackUnchanged)
{
    const int width = GetParam();
    std::mt19937 rng(width);
    Bytes stream;
    std::vector<Bytes> rows;
    for (int i = 0; i < 200; ++i) {
        Bytes row(static_cast<size_t>(width / 8), 0);
        // Rows of long and short runs alike, some all black.
        const int density = i % 5;
        for (auto& b : row)
            b = density == 0 ? 0xFF : density == 1 ? static_cast<uint8_t>(rng()) : (rng() % 7 == 0 ? 0xFF : 0);
        rows.push_back(row);
        const Bytes coded = Code(row, width);
        stream.insert(stream.end(), coded.begin(), coded.end());
    }
    stream = Cat({stream, EndOfPage()});
    int bad = -1;
    EXPECT_EQ(Decode(stream, &bad), rows);
    EXPECT_EQ(bad, 0);
}

INSTANTIATE_TEST_SUITE_P(Widths, MhRoundTrip, ::testing::Values(kNormalLineWidth, kWideLineWidth),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "Pixels"; });

// A page read from a file reaches the decoder in pieces: cut anywhere (inside a code, inside the
// fill zeros of an EOL, inside an invalid code), the rows and the count of bad codes are those of
// the whole stream.
TEST(MhDecoder, AStreamInPiecesDecodesAsAWhole)
{
    std::mt19937 rng(7);
    Bytes stream;
    for (int i = 0; i < 60; ++i) {
        Bytes row(216, 0);
        for (auto& b : row)
            b = i % 3 == 0 ? static_cast<uint8_t>(rng()) : (rng() % 9 == 0 ? 0xFF : 0);
        stream = Cat({stream, Code(row, kNormalLineWidth), Bytes(i % 4 == 0 ? 3 : 0, 0)});
        if (i % 17 == 5)
            stream = Cat({stream, Bytes{0xFF, 0xFF, 0x3F}}); // no code starts with so many ones
    }
    stream = Cat({stream, EndOfPage()});
    int wholeBad = -1;
    const std::vector<Bytes> whole = Decode(stream, &wholeBad);
    ASSERT_GT(whole.size(), 40u);
    ASSERT_GT(wholeBad, 0);
    for (size_t piece : {1, 2, 3, 5, 8, 13, 64, 1000}) {
        TMhDecoder d;
        std::vector<Bytes> rows;
        bool ended = false;
        for (size_t at = 0; at < stream.size() && !ended; at += piece)
            ended = d.Decode(stream.data() + at, std::min(piece, stream.size() - at), [&](const uint8_t* row, int n) {
                rows.emplace_back(row, row + n);
                return true;
            });
        EXPECT_TRUE(ended) << piece;
        EXPECT_EQ(rows, whole) << piece;
        EXPECT_EQ(d.BadCodes(), wholeBad) << piece;
    }
}

// The decoder judges the rows as it goes: a whole row of a page's width is good; one with an
// invalid code or of another width is bad; the longest run of bad rows is measured. The EOLs of the
// end of the page start no row.
TEST(MhDecoder, CountsBadRowsAndTheLongestRunOfThem)
{
    std::mt19937 rng(11);
    Bytes stream;
    const std::vector<int> garbled{10, 40, 41, 42, 70};
    for (int i = 0; i < 100; ++i) {
        Bytes row(216, 0);
        for (auto& b : row)
            b = rng() % 5 == 0 ? static_cast<uint8_t>(rng()) : 0;
        Bytes coded = i == 90 ? Code(Bytes(125, 0), 1000) : Code(row, kNormalLineWidth);
        if (std::find(garbled.begin(), garbled.end(), i) != garbled.end()) // behind the row's EOL:
            coded.insert(coded.begin() + 2, {0xFF, 0xFF, 0x3F});           // no code starts so
        stream = Cat({stream, coded});
    }
    stream = Cat({stream, EndOfPage()});
    TMhDecoder d;
    EXPECT_TRUE(d.Decode(stream.data(), stream.size(), [](const uint8_t*, int) { return true; }));
    EXPECT_EQ(d.Rows(), 100);
    EXPECT_EQ(d.BadRows(), 6);
    EXPECT_EQ(d.LostRows(), 0) << "each bad row is about a row long";
    EXPECT_EQ(d.MostConsecutiveBadRows(), 3);
}

// Noise that swallows the EOLs of many rows makes one long bad row: the rows it swallowed count
// as lost, and as one run of bad rows.
// A coded row with a black bar, and n of them behind each other.
Bytes BarRow()
{
    Bytes row(216, 0);
    SetPixels(row, 100, 300);
    return Code(row, kNormalLineWidth);
}

Bytes BarRows(int n)
{
    Bytes stream;
    for (int i = 0; i < n; ++i)
        stream = Cat({stream, BarRow()});
    return stream;
}

TEST(MhDecoder, RowsSwallowedByNoiseCountAsLost)
{
    const Bytes coded = BarRow();
    Bytes stream = BarRows(50);
    // 20 rows' worth of bits with no EOL in them: ones broken by single zeros form no code.
    stream = Cat({stream, coded, Bytes(20 * coded.size(), 0xEF), BarRows(49), EndOfPage()});
    TMhDecoder d;
    EXPECT_TRUE(d.Decode(stream.data(), stream.size(), [](const uint8_t*, int) { return true; }));
    EXPECT_EQ(d.Rows(), 100);
    EXPECT_EQ(d.BadRows(), 1);
    EXPECT_GE(d.LostRows(), 19);
    EXPECT_LE(d.LostRows(), 21);
    EXPECT_GE(d.MostConsecutiveBadRows(), 20);
    EXPECT_EQ(d.UnfinishedRows(), 0) << "the page ended with its RTC";
}

// Data that stops after the last whole row (no EOL, no RTC) leaves nothing unfinished; noise after
// the last EOL, as a carrier lost in the page leaves it, counts by its length.
TEST(MhDecoder, NoiseAtTheEndCountsByItsLength)
{
    const Bytes stream = BarRows(50);
    const auto unfinished = [](const Bytes& s) {
        TMhDecoder d;
        d.Decode(s.data(), s.size(), [](const uint8_t*, int) { return true; });
        return d.UnfinishedRows();
    };
    EXPECT_EQ(unfinished(stream), 0);
    const int noisy = unfinished(Cat({stream, Bytes{0x00, 0x80}, Bytes(10 * BarRow().size(), 0xEF)}));
    EXPECT_GE(noisy, 9);
    EXPECT_LE(noisy, 11);
}

// Black make-up codes for runs of 512 and more are 13 bits long; rows holding such runs decode.
TEST(MhDecoder, LongBlackRunsOfThirteenBitCodesDecode)
{
    Bytes stream;
    std::vector<Bytes> rows;
    for (int i = 0; i < 40; ++i) {
        Bytes row(216, 0);
        SetPixels(row, 100, 100 + 512 + 8 * i + (i % 3 ? 88 : 0)); // runs of 512 to 912
        rows.push_back(row);
        const Bytes coded = Code(row, kNormalLineWidth);
        stream.insert(stream.end(), coded.begin(), coded.end());
    }
    EXPECT_EQ(Decode(Cat({stream, EndOfPage()})), rows);
}

TEST(MhDecoder, FillZerosBeforeAnEolAreAbsorbed)
{
    Bytes row(216, 0);
    SetPixels(row, 0, 3);
    const Bytes coded = Code(row, kNormalLineWidth);
    // Row 1 coded, then 5 bytes of fill before row 2's EOL.
    const Bytes stream = Cat({coded, Bytes(5, 0), coded, EndOfPage()});
    EXPECT_EQ(Decode(stream), (std::vector<Bytes>{row, row}));
}

TEST(MhDecoder, RunsBeforeTheFirstEolAreIgnored)
{
    Bytes row(216, 0);
    SetPixels(row, 7, 9);
    const Bytes coded = Code(row, kNormalLineWidth);
    // The same row without its leading EOL, then the row proper.
    const Bytes stream = Cat({Bytes(coded.begin() + 2, coded.end()), coded, EndOfPage()});
    EXPECT_EQ(Decode(stream), std::vector<Bytes>{row});
}

TEST(MhDecoder, AnInvalidCodeDropsItsRowAndDecodingGoesOn)
{
    Bytes row(216, 0);
    SetPixels(row, 40, 50);
    const Bytes good = Code(row, kNormalLineWidth);
    Bytes broken = good;
    broken[3] = 0x00;
    broken[4] = 0xFF; // eight zeros then ones: no code starts this way
    int bad = 0;
    const std::vector<Bytes> rows = Decode(Cat({broken, good, EndOfPage()}), &bad);
    EXPECT_GT(bad, 0);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back(), row);
}

TEST(MhDecoder, RowsOfOtherWidthsAreDropped)
{
    Bytes stream;
    Bytes raster(216, 0);
    SetPixels(raster, 0, 10);
    for (int width : {1000, 1728, 2048, 1200}) {
        Bytes coded(kCodedRowBufferSize);
        Bytes in(kCodedRowBufferSize, 0);
        std::copy(raster.begin(), raster.end(), in.begin());
        coded.resize(static_cast<size_t>(CodeRasterRow(in.data(), kCodedRowBufferSize, width, 0, false, coded.data())));
        stream.insert(stream.end(), coded.begin(), coded.end());
    }
    const std::vector<Bytes> rows = Decode(Cat({stream, EndOfPage()}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].size(), 216u);
    EXPECT_EQ(rows[1].size(), 256u);
}

TEST(MhDecoder, ThePageEndsAtTheThirdEolWithoutARun)
{
    Bytes row(216, 0);
    SetPixels(row, 1, 2);
    const Bytes coded = Code(row, kNormalLineWidth);
    // Rows after the end-of-page block are not part of the page.
    const Bytes stream = Cat({coded, EndOfPage(), coded, coded});
    EXPECT_EQ(Decode(stream).size(), 1u);
}

// A stream written code by code, so that a test can place fill and EOLs bit by bit: the first bit
// sent goes to bit 0 of each byte.
class TBitStream {
public:
    void Put(const TFaxCode& c)
    {
        for (int i = c.bits - 1; i >= 0; --i)
            PutBit((c.code >> i) & 1);
    }
    void Zeros(int n)
    {
        for (int i = 0; i < n; ++i)
            PutBit(0);
    }
    void Eol()
    {
        Zeros(11);
        PutBit(1);
    }
    // A row of alternating white and black runs, white first, behind its EOL.
    void Row(const std::vector<int>& runs)
    {
        Eol();
        int colour = 0;
        for (int run : runs) {
            const TRunColour c = colour ? TRunColour::Black : TRunColour::White;
            for (; run >= 64; run -= std::min(run, kMaxMakeUpRun) / 64 * 64)
                Put(T4MakeUpCode(c, std::min(run, kMaxMakeUpRun) / 64));
            Put(T4TermCode(c, run));
            colour ^= 1;
        }
    }
    void Rtc()
    {
        for (int i = 0; i < 6; ++i)
            Eol();
    }
    Bytes bytes;

private:
    void PutBit(int b)
    {
        if (bits_ % 8 == 0)
            bytes.push_back(0);
        if (b)
            bytes.back() |= static_cast<uint8_t>(1 << (bits_ % 8));
        ++bits_;
    }
    size_t bits_ = 0;
};

// The raster of a row given as runs, white first.
Bytes RowOf(const std::vector<int>& runs)
{
    Bytes row(216, 0);
    int x = 0, colour = 0;
    for (int run : runs) {
        if (colour)
            SetPixels(row, x, x + run);
        x += run;
        colour ^= 1;
    }
    return row;
}

// How a page's last row meets the end of the page data.
struct TLastRowCase {
    const char* name;
    std::vector<int> lastRow;
    int fill;        // zero bits between the last row and the next EOL
    bool rtc;        // the RTC follows; else the data simply ends
    bool noiseAfter; // carrier-off noise after the RTC
};

void PrintTo(const TLastRowCase& c, std::ostream* os) { *os << c.name; }

class MhLastRow : public ::testing::TestWithParam<TLastRowCase> {};

TEST_P(MhLastRow, TheLastRowIsDelivered)
{
    const TLastRowCase& c = GetParam();
    const std::vector<std::vector<int>> rows{{1728, 0}, {100, 28, 1600}, {0, 1728, 0}, c.lastRow};
    TBitStream s;
    std::vector<Bytes> expected;
    for (const auto& r : rows) {
        s.Row(r);
        expected.push_back(RowOf(r));
    }
    s.Zeros(c.fill);
    if (c.rtc)
        s.Rtc();
    if (c.noiseAfter)
        s.bytes.insert(s.bytes.end(), {0xFF, 0xFF, 0x2F, 0x65, 0xA8, 0x69, 0xD0, 0x11, 0xEE, 0xEE});
    EXPECT_EQ(Decode(s.bytes), expected);
    // The same page read in pieces: the row is finished after the last piece, wherever it was cut.
    for (size_t piece : {1, 3, 7, 64}) {
        TMhDecoder d;
        std::vector<Bytes> rows;
        const TMhDecoder::TRowSink sink = [&](const uint8_t* row, int n) {
            rows.emplace_back(row, row + n);
            return true;
        };
        bool ended = false;
        for (size_t at = 0; at < s.bytes.size() && !ended; at += piece)
            ended = d.Decode(s.bytes.data() + at, std::min(piece, s.bytes.size() - at), sink);
        if (!ended)
            d.Finish(sink);
        EXPECT_EQ(rows, expected) << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, MhLastRow,
                         ::testing::Values(TLastRowCase{"WhiteWithFiveFillBits", {1728, 0}, 5, true, false},
                                           TLastRowCase{"WhiteThenNoise", {1728, 0}, 5, true, true},
                                           TLastRowCase{"Black", {0, 1728, 0}, 5, true, false},
                                           TLastRowCase{"WhiteWithoutFill", {1728, 0}, 0, true, false},
                                           TLastRowCase{"MixedWithoutFill", {3, 1000, 725}, 0, true, false},
                                           TLastRowCase{"WhiteAndNoRtc", {1728, 0}, 0, false, false},
                                           TLastRowCase{"BlackAndNoRtc", {0, 1728, 0}, 3, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A row cut short by the end of the data is no row.
TEST(MhDecoder, ARowCutByTheEndOfTheDataIsDropped)
{
    TBitStream s;
    s.Row({1728, 0});
    s.Row({1000});
    EXPECT_EQ(Decode(s.bytes), std::vector<Bytes>{RowOf({1728, 0})});
}

struct TDoubleCase {
    int imageWidth;
    int margin;
    int offsetBytes;
};

class MhDoubleWidth : public ::testing::TestWithParam<TDoubleCase> {};

// Whatever the image, margin and shift, a doubled row covers exactly the row width.
TEST_P(MhDoubleWidth, CodedRowsNeverRunPastTheRowWidth)
{
    const TDoubleCase c = GetParam();
    Bytes raster(512, 0);
    SetPixels(raster, 8 * c.offsetBytes, 8 * c.offsetBytes + c.imageWidth);
    for (int startBlack : {0, 1}) {
        Bytes r = raster;
        if (startBlack)
            SetPixels(r, 0, 1);
        const std::vector<Bytes> rows = Decode(Cat({Code(r, kNormalLineWidth, c.margin, true), EndOfPage()}));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].size(), 216u);
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, MhDoubleWidth,
                         ::testing::Values(TDoubleCase{765, 50, 1}, TDoubleCase{800, 50, 4}, TDoubleCase{839, 50, 1},
                                           TDoubleCase{864, 0, 0}, TDoubleCase{900, 50, 0}, TDoubleCase{500, 50, 7},
                                           TDoubleCase{2000, 10, 0}),
                         [](const ::testing::TestParamInfo<TDoubleCase>& info) { return std::to_string(info.param.imageWidth) + "Pixels_Margin" + std::to_string(info.param.margin); });

TEST(MhCoder, DoubleWidthPutsTheMarginOnceAndEveryPixelTwice)
{
    Bytes raster(216, 0);
    SetPixels(raster, 0, 3); // a row that starts black
    SetPixels(raster, 10, 11);
    const std::vector<Bytes> rows = Decode(Cat({Code(raster, kNormalLineWidth, 50, true), EndOfPage()}));
    ASSERT_EQ(rows.size(), 1u);
    Bytes expected(216, 0);
    SetPixels(expected, 50, 56);
    SetPixels(expected, 70, 72);
    EXPECT_EQ(rows[0], expected);
}

} // namespace
} // namespace zn::faxdoc
