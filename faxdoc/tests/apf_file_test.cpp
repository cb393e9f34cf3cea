#include "faxdoc/apf_file.h"
#include "faxdoc/fax_errors.h"
#include "faxdoc/mh_coder.h"
#include "faxdoc/tests/test_support.h"
#include "faxdoc/unpacker.h"

#include <gtest/gtest.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;
using Bytes = std::vector<uint8_t>;

Bytes CodedRow(int blackFrom, int blackTo)
{
    Bytes raster(kCodedRowBufferSize, 0);
    for (int x = blackFrom; x < blackTo; ++x)
        raster[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
    Bytes out(kCodedRowBufferSize);
    out.resize(
        static_cast<size_t>(CodeRasterRow(raster.data(), kCodedRowBufferSize, kNormalLineWidth, 0, false, out.data())));
    return out;
}

Bytes Eop()
{
    Bytes e(kEndOfPageBytes);
    MakeEndOfPage(e.data());
    return e;
}

// Rows of a page as 1728-pixel rasters.
std::vector<Bytes> PageRows(const std::string& name, unsigned page, int* rc = nullptr)
{
    std::vector<Bytes> rows;
    UnpackerState u([&](UnpackerState&, int kind, const uint8_t* row, int, int len) {
        if (kind == kOutputRow)
            rows.emplace_back(row, row + len);
        return 0;
    });
    const int r = u.UnpackPage(name, page);
    if (rc)
        *rc = r;
    return rows;
}

TEST(ApfFile, HeaderFieldsSitAtTheirOffsets)
{
    TApfFileHeader h;
    h.SetSignature();
    h.dateTime = 0x12345678;
    h.SetStationId("+1 555 0100");
    h.pageCount = 3;
    h.page1Offset = 64;
    uint8_t b[kApfFileHeaderSize];
    h.Encode(b);
    EXPECT_EQ(Bytes(b, b + 6), Bytes({'A', 'P', 'F', '1', '0', 0x1A}));
    EXPECT_EQ(b[6], 0x78);
    EXPECT_EQ(b[10], 11);
    EXPECT_EQ(b[11], '+');
    EXPECT_EQ(b[30], ' '); // blanks behind the length
    EXPECT_EQ(b[31], 0);
    EXPECT_EQ(b[32], 3);
    EXPECT_EQ(b[34], 64);
    EXPECT_EQ(TApfFileHeader::Decode(b).StationId(), "+1 555 0100");
}

TEST(ApfFile, StationIdKeepsTwentyCharacters)
{
    TApfFileHeader h;
    h.SetStationId("1234567890123456789012345");
    EXPECT_EQ(h.StationId(), "12345678901234567890");
}

TEST(ApfFile, DosDateTimePacksLocalTime)
{
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 15;
    tm.tm_hour = 13;
    tm.tm_min = 45;
    tm.tm_sec = 31;
    tm.tm_isdst = -1;
    const int32_t v = DosDateTime(std::mktime(&tm));
    EXPECT_EQ(static_cast<uint32_t>(v) >> 16, static_cast<uint32_t>(15 | 3 << 5 | 44 << 9));
    EXPECT_EQ(v & 0xFFFF, 15 | 45 << 5 | 13 << 11);
    tm.tm_year = 1979 - 1900;
    EXPECT_EQ(DosDateTime(std::mktime(&tm)), 0);
}

TEST(ApfFile, EmptyFileHasNoPages)
{
    TTempDir dir;
    const std::string name = dir.Path("EMPTY.APF");
    WriteFile(name, MakeApf({}));
    TApfPageHeader ph;
    EXPECT_TRUE(IsApfFile(name));
    EXPECT_EQ(ReadApfPageHeader(name, 0, ph), ecOK);
    EXPECT_EQ(ReadApfPageHeader(name, 1, ph), ecFaxBadFormat);
}

TEST(ApfFile, ReadersRefuseWhatIsNoFaxFile)
{
    TTempDir dir;
    const std::string name = dir.Path("NOT.APF");
    WriteFile(name, std::string("APF11\x1A and more"));
    TApfFileHeader h;
    TApfPageHeader ph;
    EXPECT_FALSE(IsApfFile(name));
    EXPECT_FALSE(IsApfFile(dir.Path("MISSING.APF")));
    EXPECT_EQ(ReadApfHeader(name, h), ecFaxBadFormat);
    EXPECT_EQ(ReadApfHeader("", h), ecFileNotFound);
    EXPECT_EQ(ReadApfHeader(dir.Path("MISSING.APF"), h), ecFileNotFound);
    EXPECT_EQ(ReadApfPageHeader(name, 1, ph), ecFaxBadFormat);
    int rc = 0;
    PageRows(name, 1, &rc);
    EXPECT_EQ(rc, ecFaxBadFormat);
}

TEST(ApfFile, PagesAreFoundByWalkingLengthsFromAnyFirstOffset)
{
    TTempDir dir;
    const std::string name = dir.Path("JOINED.APF");
    const Bytes p1 = Records({CodedRow(0, 8), Eop()});
    const Bytes p2 = Records({CodedRow(8, 16), CodedRow(8, 16), Eop()});
    WriteFile(name, MakeApf({{4, p1}, {5, p2}}, 100));
    TApfPageHeader ph;
    ASSERT_EQ(ReadApfPageHeader(name, 2, ph), ecOK);
    EXPECT_EQ(ph.length, static_cast<int32_t>(p2.size()));
    EXPECT_EQ(ph.flags, 5);
    EXPECT_EQ(PageRows(name, 1).size(), 1u);
    EXPECT_EQ(PageRows(name, 2).size(), 2u);
    EXPECT_EQ(PageRows(name, 0), PageRows(name, 1));
}

TEST(ApfFile, PagesWithAndWithoutLengthPrefixesDecodeAlike)
{
    TTempDir dir;
    const std::vector<Bytes> rows = {CodedRow(0, 100), CodedRow(5, 6), CodedRow(1000, 1728), Eop()};
    Bytes plain;
    for (const Bytes& r : rows)
        plain.insert(plain.end(), r.begin(), r.end());
    WriteFile(dir.Path("A.APF"), MakeApf({{4, Records(rows)}}));
    WriteFile(dir.Path("B.APF"), MakeApf({{0, plain}}));
    const auto a = PageRows(dir.Path("A.APF"), 1);
    EXPECT_EQ(a.size(), 3u);
    EXPECT_EQ(a, PageRows(dir.Path("B.APF"), 1));
}

TEST(ApfFile, RecordsAreCappedAt4096Bytes)
{
    TTempDir dir;
    // A record claiming 5000 bytes: 4096 are read as the record, the rest is read as what follows.
    Bytes row = CodedRow(0, 30);
    Bytes fill(4096 - row.size(), 0);
    Bytes record = row;
    record.insert(record.end(), fill.begin(), fill.end());
    Bytes data = {0x88, 0x13}; // 5000
    data.insert(data.end(), record.begin(), record.end());
    const Bytes rest = Records({CodedRow(0, 30), Eop()});
    data.insert(data.end(), rest.begin(), rest.end());
    WriteFile(dir.Path("CAP.APF"), MakeApf({{4, data}}));
    int rc = -1;
    EXPECT_EQ(PageRows(dir.Path("CAP.APF"), 1, &rc).size(), 2u);
    EXPECT_EQ(rc, ecOK);
}

// A record's count never reaches past its page: the next page's header is not read as rows.
TEST(ApfFile, RecordsAreCappedAtTheBytesLeftInThePage)
{
    TTempDir dir;
    Bytes p1 = Records({CodedRow(0, 8)});
    p1.push_back(0xFF); // a count of 0x0FFF with one byte of it in this page
    p1.push_back(0x0F);
    const Bytes p2 = Records({CodedRow(0, 8), CodedRow(0, 8), Eop()});
    const std::string name = dir.Path("OVER.APF");
    WriteFile(name, MakeApf({{4, p1}, {4, p2}}));
    int rc = -1;
    const auto rows = PageRows(name, 1, &rc);
    EXPECT_EQ(rc, ecOK);
    EXPECT_LE(rows.size(), 1u);
    EXPECT_EQ(PageRows(name, 2).size(), 2u);
}

TEST(ApfFile, TruncatedPageIsReportedAfterItsRows)
{
    TTempDir dir;
    Bytes p = Records({CodedRow(0, 8), CodedRow(0, 8), CodedRow(0, 8)});
    Bytes file = MakeApf({{4, p}});
    file[64] = static_cast<uint8_t>(p.size() + 100); // the header claims more than the file holds
    WriteFile(dir.Path("CUT.APF"), file);
    int rc = 0;
    const auto rows = PageRows(dir.Path("CUT.APF"), 1, &rc);
    EXPECT_EQ(rc, ecFaxBadFormat);
    EXPECT_EQ(rows.size(), 3u); // the third row is whole, though no EOL follows it
}

TEST(ApfFile, ReadApfPageStripsTheRecordCounts)
{
    TTempDir dir;
    const Bytes r1 = CodedRow(0, 8), eop = Eop();
    WriteFile(dir.Path("R.APF"), MakeApf({{4, Records({r1, eop})}}));
    TApfPageHeader ph;
    Bytes data;
    ASSERT_EQ(ReadApfPage(dir.Path("R.APF"), 1, ph, data), ecOK);
    Bytes expected = r1;
    expected.insert(expected.end(), eop.begin(), eop.end());
    EXPECT_EQ(data, expected);
}

} // namespace
} // namespace zn::faxdoc
