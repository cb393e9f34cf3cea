// The coder and the page files checked by programs nobody here wrote: netpbm and libtiff's tools.
#include "faxdoc/apf_file.h"
#include "faxdoc/converter.h"
#include "faxdoc/fax_errors.h"
#include "faxdoc/page_files.h"
#include "faxdoc/tests/test_support.h"
#include "faxdoc/unpacker.h"
#include "platform/tests/param_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;
using Bytes = std::vector<uint8_t>;

#define REQUIRE_PROGRAMS(...)                                                                                          \
    for (const char* p : {__VA_ARGS__})                                                                                \
        if (!HaveProgram(p))                                                                                           \
            GTEST_SKIP() << p << " is not installed";

std::string Chart(int i) { return TestData("itu-charts/itu" + std::to_string(i) + ".pbm"); }

// Converts a PBM picture (through pamtotiff) into a fax file with no margin.
void ConvertPbm(const TTempDir& dir, const std::string& pbm, const std::string& apf, const std::string& options = "")
{
    ASSERT_EQ(RunCommand("pamtotiff " + options + " '" + pbm + "' > '" + dir.Path("in.tif") + "' 2>/dev/null"), 0);
    ConverterState s(std::make_unique<TTiffReader>());
    s.SetMargins(0, 0);
    ASSERT_EQ(s.ConvertFile(dir.Path("in.tif"), apf), ecOK);
}

// The page's MH stream without record counts.
void WriteRawPage(const std::string& apf, const std::string& g3, unsigned page = 1)
{
    TApfPageHeader h;
    Bytes data;
    ASSERT_EQ(ReadApfPage(apf, page, h, data), ecOK);
    WriteFile(g3, data);
}

TRaster Unpacked(const std::string& apf, unsigned page = 1)
{
    UnpackerState u;
    TMonoBitmap bm;
    EXPECT_EQ(u.UnpackPageToMemBitmap(apf, page, false, bm), ecOK);
    return FromBitmap(bm, 1728);
}

class ItuCharts : public ::testing::TestWithParam<int> {};

TEST_P(ItuCharts, ConvertedPagesDecodeExactlyWithG3topbmAndFax2tiff)
{
    REQUIRE_PROGRAMS("pamtotiff", "g3topbm", "fax2tiff", "tifftopnm");
    TTempDir dir;
    const TRaster original = ReadPbm(Chart(GetParam()));
    ConvertPbm(dir, Chart(GetParam()), dir.Path("C.APF"));
    WriteRawPage(dir.Path("C.APF"), dir.Path("c.g3"));
    ASSERT_EQ(RunCommand("g3topbm -reversebits '" + dir.Path("c.g3") + "' > '" + dir.Path("g.pbm") + "' 2>/dev/null"),
              0);
    EXPECT_TRUE(ReadPbm(dir.Path("g.pbm")) == original);
    ASSERT_EQ(RunCommand("fax2tiff -1 -L -o '" + dir.Path("f.tif") + "' '" + dir.Path("c.g3") + "' 2>/dev/null"), 0);
    ASSERT_EQ(RunCommand("tifftopnm '" + dir.Path("f.tif") + "' > '" + dir.Path("f.pbm") + "' 2>/dev/null"), 0);
    // fax2tiff counts the EOLs of the end-of-page block as blank rows (it does so for pbmtog3 too).
    TRaster fax2tiff = ReadPbm(dir.Path("f.pbm"));
    ASSERT_GE(fax2tiff.height, original.height);
    EXPECT_LE(fax2tiff.height, original.height + 7);
    EXPECT_TRUE(std::all_of(fax2tiff.bits.begin() + static_cast<long>(original.bits.size()), fax2tiff.bits.end(),
                            [](uint8_t b) { return b == 0; }));
    fax2tiff.height = original.height;
    fax2tiff.bits.resize(original.bits.size());
    EXPECT_TRUE(fax2tiff == original);
}

TEST_P(ItuCharts, PagesCodedByPbmtog3UnpackExactly)
{
    REQUIRE_PROGRAMS("pbmtog3");
    TTempDir dir;
    ASSERT_EQ(RunCommand("pbmtog3 -reversebits '" + Chart(GetParam()) + "' > '" + dir.Path("p.g3") + "' 2>/dev/null"),
              0);
    WriteFile(dir.Path("P.APF"), MakeApf({{0, ReadFile(dir.Path("p.g3"))}}));
    EXPECT_TRUE(Unpacked(dir.Path("P.APF")) == ReadPbm(Chart(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Charts, ItuCharts, ::testing::Range(1, 9),
                         [](const ::testing::TestParamInfo<int>& info) { return "Chart" + std::to_string(info.param); });

// Row i: a run of i pixels of one colour, the rest of the other, for every i and both colours.
TEST(Peers, EveryRunLengthCodedByPbmtog3UnpacksExactly)
{
    REQUIRE_PROGRAMS("pbmtog3");
    TTempDir dir;
    TRaster r = Blank(1728, 2 * 1727);
    for (int i = 1; i <= 1727; ++i) {
        for (int x = i; x < 1728; ++x)
            r.Set(x, i - 1);
        for (int x = 0; x < i; ++x)
            r.Set(x, 1727 + i - 1);
    }
    WritePbm(dir.Path("runs.pbm"), r);
    ASSERT_EQ(
        RunCommand("pbmtog3 -reversebits '" + dir.Path("runs.pbm") + "' > '" + dir.Path("r.g3") + "' 2>/dev/null"), 0);
    WriteFile(dir.Path("R.APF"), MakeApf({{0, ReadFile(dir.Path("r.g3"))}}));
    EXPECT_TRUE(Unpacked(dir.Path("R.APF")) == r);
    // And back: the converter's coding of the same rows decodes with g3topbm.
    ConvertPbm(dir, dir.Path("runs.pbm"), dir.Path("C.APF"));
    WriteRawPage(dir.Path("C.APF"), dir.Path("c.g3"));
    ASSERT_EQ(RunCommand("g3topbm -reversebits '" + dir.Path("c.g3") + "' > '" + dir.Path("g.pbm") + "' 2>/dev/null"),
              0);
    EXPECT_TRUE(ReadPbm(dir.Path("g.pbm")) == r);
}

TEST(Peers, PageFilesReadBackWithNetpbmAndLibtiff)
{
    REQUIRE_PROGRAMS("pbmtog3", "tifftopnm", "tiffinfo", "pcxtoppm", "ppmtopgm", "pgmtopbm", "bmptopnm");
    TTempDir dir;
    ASSERT_EQ(RunCommand("pbmtog3 -reversebits '" + Chart(2) + "' > '" + dir.Path("p.g3") + "' 2>/dev/null"), 0);
    WriteFile(dir.Path("P.APF"), MakeApf({{0, ReadFile(dir.Path("p.g3"))}}));
    const TRaster original = ReadPbm(Chart(2));
    UnpackerState u;
    ASSERT_EQ(u.UnpackPageToTiff(dir.Path("P.APF"), dir.Path("p.tif"), 1), ecOK);
    ASSERT_EQ(u.UnpackPageToPcx(dir.Path("P.APF"), dir.Path("p.pcx"), 1), ecOK);
    ASSERT_EQ(u.UnpackPageToDcx(dir.Path("P.APF"), dir.Path("p.dcx"), 1), ecOK);
    ASSERT_EQ(u.UnpackPageToBmp(dir.Path("P.APF"), dir.Path("p.bmp"), 1), ecOK);

    std::string info;
    ASSERT_EQ(RunCommand("tiffinfo '" + dir.Path("p.tif") + "' 2>&1", &info), 0);
    EXPECT_NE(info.find("Image Width: 1728 Image Length: 2376"), std::string::npos) << info;
    EXPECT_NE(info.find("PackBits"), std::string::npos) << info;
    EXPECT_EQ(info.find("rror"), std::string::npos) << info;
    ASSERT_EQ(RunCommand("tifftopnm '" + dir.Path("p.tif") + "' > '" + dir.Path("t.pbm") + "' 2>/dev/null"), 0);
    EXPECT_TRUE(ReadPbm(dir.Path("t.pbm")) == original);

    const auto toPbm = [&](const std::string& pcx, const std::string& pbm) {
        return RunCommand("pcxtoppm '" + pcx + "' 2>/dev/null | ppmtopgm | pgmtopbm -threshold > '" + pbm + "'");
    };
    ASSERT_EQ(toPbm(dir.Path("p.pcx"), dir.Path("x.pbm")), 0);
    EXPECT_TRUE(ReadPbm(dir.Path("x.pbm")) == original);
    Bytes dcx = ReadFile(dir.Path("p.dcx"));
    ASSERT_GT(dcx.size(), static_cast<size_t>(kDcxHeaderSize));
    WriteFile(dir.Path("d.pcx"), Bytes(dcx.begin() + kDcxHeaderSize, dcx.end()));
    ASSERT_EQ(toPbm(dir.Path("d.pcx"), dir.Path("d.pbm")), 0);
    EXPECT_TRUE(ReadPbm(dir.Path("d.pbm")) == original);
    ASSERT_EQ(RunCommand("bmptopnm '" + dir.Path("p.bmp") + "' 2>/dev/null | ppmtopgm | pgmtopbm -threshold > '"
                         + dir.Path("b.pbm") + "'"),
              0);
    EXPECT_TRUE(ReadPbm(dir.Path("b.pbm")) == original);
}

struct TTiffVariant {
    const char* name;
    std::string pamtotiff; // options
    std::string tiffcp;    // options for a second step, when not empty
};

class TiffInputs : public ::testing::TestWithParam<TTiffVariant> {};

TEST_P(TiffInputs, ConvertToIdenticalPages)
{
    REQUIRE_PROGRAMS("pamtotiff", "tiffcp");
    TTempDir dir;
    const TTiffVariant& v = GetParam();
    ConvertPbm(dir, Chart(4), dir.Path("PLAIN.APF"), "-none");
    ASSERT_EQ(RunCommand("pamtotiff " + v.pamtotiff + " '" + Chart(4) + "' > '" + dir.Path("v.tif") + "' 2>/dev/null"),
              0);
    std::string input = dir.Path("v.tif");
    if (!v.tiffcp.empty()) {
        ASSERT_EQ(RunCommand("tiffcp " + v.tiffcp + " '" + input + "' '" + dir.Path("w.tif") + "' 2>/dev/null"), 0);
        input = dir.Path("w.tif");
    }
    ConverterState s(std::make_unique<TTiffReader>());
    s.SetMargins(0, 0);
    ASSERT_EQ(s.ConvertFile(input, dir.Path("V.APF")), ecOK);
    TApfPageHeader a, b;
    Bytes da, db;
    ASSERT_EQ(ReadApfPage(dir.Path("PLAIN.APF"), 1, a, da), ecOK);
    ASSERT_EQ(ReadApfPage(dir.Path("V.APF"), 1, b, db), ecOK);
    EXPECT_EQ(da, db);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, TiffInputs,
    ::testing::Values(TTiffVariant{"PackBits", "-packbits", ""}, TTiffVariant{"MinIsBlack", "-none -minisblack", ""},
                      TTiffVariant{"MinIsWhitePackBits", "-packbits -miniswhite", ""},
                      TTiffVariant{"SeveralStrips", "-none -rowsperstrip=100", ""},
                      TTiffVariant{"BigEndian", "-none", "-B -c none"},
                      TTiffVariant{"BigEndianStripsPackBits", "-packbits", "-B -c packbits -r 37"}),
    [](const auto& info) { return std::string(info.param.name); });

// A TIFF of several pages (joined by libtiff's tiffcp, the pages in their own compressions) converts
// to a fax page for each, every one exactly its chart; g3topbm decodes them.
TEST(Peers, EveryPageOfAMultiPageTiffConverts)
{
    REQUIRE_PROGRAMS("pamtotiff", "tiffcp", "tiffinfo", "g3topbm");
    TTempDir dir;
    const int charts[] = {1, 4, 7};
    const char* options[] = {"-none", "-packbits", "-none -rowsperstrip=50"};
    std::string pages;
    for (int i = 0; i < 3; ++i) {
        const std::string page = dir.Path("p" + std::to_string(i) + ".tif");
        ASSERT_EQ(RunCommand(std::string("pamtotiff ") + options[i] + " '" + Chart(charts[i]) + "' > '" + page
                             + "' 2>/dev/null"),
                  0);
        pages += " '" + page + "'";
    }
    ASSERT_EQ(RunCommand("tiffcp" + pages + " '" + dir.Path("all.tif") + "' 2>/dev/null"), 0);
    std::string info;
    ASSERT_EQ(RunCommand("tiffinfo '" + dir.Path("all.tif") + "' 2>&1 | grep -c 'TIFF Directory'", &info), 0);
    ASSERT_EQ(std::stoi(info), 3);
    ConverterState s(std::make_unique<TTiffReader>());
    s.SetMargins(0, 0);
    ASSERT_EQ(s.ConvertFile(dir.Path("all.tif"), dir.Path("ALL.APF")), ecOK);
    TApfFileHeader h;
    ASSERT_EQ(ReadApfHeader(dir.Path("ALL.APF"), h), ecOK);
    ASSERT_EQ(h.pageCount, 3);
    for (unsigned page = 1; page <= 3; ++page) {
        WriteRawPage(dir.Path("ALL.APF"), dir.Path("p.g3"), page);
        ASSERT_EQ(
            RunCommand("g3topbm -reversebits '" + dir.Path("p.g3") + "' > '" + dir.Path("g.pbm") + "' 2>/dev/null"), 0);
        EXPECT_TRUE(ReadPbm(dir.Path("g.pbm")) == ReadPbm(Chart(charts[page - 1]))) << page;
    }
}

// A page taller than a PCX holds still unpacks to a TIFF that libtiff reads whole.
TEST(Peers, TallPagesUnpackToTiffsThatLibtiffReads)
{
    REQUIRE_PROGRAMS("tiffinfo", "tifftopnm");
    TTempDir dir;
    std::vector<Bytes> rows;
    Bytes raster(kCodedRowBufferSize, 0), coded(kCodedRowBufferSize);
    for (int y = 0; y < 70000; ++y) {
        std::fill(raster.begin(), raster.begin() + 216, 0);
        raster[static_cast<size_t>(y % 216)] = 0xFF;
        const int n = CodeRasterRow(raster.data(), kCodedRowBufferSize, kNormalLineWidth, 0, false, coded.data());
        rows.emplace_back(coded.begin(), coded.begin() + n);
    }
    Bytes eop(kEndOfPageBytes);
    MakeEndOfPage(eop.data());
    rows.push_back(eop);
    WriteFile(dir.Path("T.APF"), MakeApf({{4, Records(rows)}}));
    UnpackerState u;
    ASSERT_EQ(u.UnpackPageToTiff(dir.Path("T.APF"), dir.Path("t.tif"), 1), ecOK);
    EXPECT_EQ(u.UnpackPageToPcx(dir.Path("T.APF"), dir.Path("t.pcx"), 1), ecPageTooTallForFormat);
    std::string info;
    ASSERT_EQ(RunCommand("tiffinfo '" + dir.Path("t.tif") + "' 2>&1", &info), 0);
    EXPECT_NE(info.find("Image Width: 1728 Image Length: 70000"), std::string::npos) << info;
    ASSERT_EQ(RunCommand("tifftopnm '" + dir.Path("t.tif") + "' > '" + dir.Path("t.pbm") + "' 2>/dev/null"), 0);
    const TRaster r = ReadPbm(dir.Path("t.pbm"));
    ASSERT_EQ(r.height, 70000);
    for (int y : {0, 215, 216, 69999})
        EXPECT_EQ(r.Row(y)[y % 216], 0xFF) << y;
}

struct TPicture {
    const char* name;
    std::string command; // writes the picture of chart %C to standard output
    std::string extension;
};

class NetpbmPictures : public ::testing::TestWithParam<TPicture> {};

// PCX, DCX and BMP files from netpbm convert to exactly the chart's page.
TEST_P(NetpbmPictures, ConvertToTheChartsPage)
{
    REQUIRE_PROGRAMS("ppmtopcx", "ppmtobmp", "g3topbm");
    TTempDir dir;
    for (int chart : {2, 5}) {
        std::string command = GetParam().command;
        command.replace(command.find("%C"), 2, "'" + Chart(chart) + "'");
        const std::string picture = dir.Path("p." + GetParam().extension);
        ASSERT_EQ(RunCommand(command + " > '" + picture + "' 2>/dev/null"), 0);
        if (GetParam().extension == "dcx") { // a DCX is the PCX behind a table of page offsets
            Bytes dcx(kDcxHeaderSize, 0);
            const uint32_t head[] = {kDcxSignature, static_cast<uint32_t>(kDcxHeaderSize)};
            std::memcpy(dcx.data(), head, sizeof head);
            const Bytes pcx = ReadFile(picture);
            dcx.insert(dcx.end(), pcx.begin(), pcx.end());
            WriteFile(picture, dcx);
        }
        std::unique_ptr<TFaxReader> reader;
        if (GetParam().extension == "bmp")
            reader = std::make_unique<TBitmapReader>(true);
        else
            reader = std::make_unique<TPcxReader>(GetParam().extension == "dcx");
        ConverterState s(std::move(reader));
        s.SetMargins(0, 0);
        ASSERT_EQ(s.ConvertFile(picture, dir.Path("P.APF")), ecOK);
        WriteRawPage(dir.Path("P.APF"), dir.Path("p.g3"));
        ASSERT_EQ(
            RunCommand("g3topbm -reversebits '" + dir.Path("p.g3") + "' > '" + dir.Path("g.pbm") + "' 2>/dev/null"), 0);
        EXPECT_TRUE(ReadPbm(dir.Path("g.pbm")) == ReadPbm(Chart(chart))) << chart;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, NetpbmPictures,
                         ::testing::Values(TPicture{"Pcx", "ppmtopcx %C", "pcx"}, TPicture{"Dcx", "ppmtopcx %C", "dcx"},
                                           TPicture{"Bmp", "ppmtobmp %C", "bmp"}),
                         [](const auto& info) { return std::string(info.param.name); });

class RefusedTiffs : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedTiffs, AreUnsupportedAndLeaveNoOutput)
{
    REQUIRE_PROGRAMS("pamtotiff");
    TTempDir dir;
    ASSERT_EQ(RunCommand(std::string("pamtotiff ") + GetParam() + " '" + Chart(1) + "' > '" + dir.Path("x.tif")
                         + "' 2>/dev/null"),
              0);
    ConverterState s(std::make_unique<TTiffReader>());
    EXPECT_EQ(s.ConvertFile(dir.Path("x.tif"), dir.Path("X.APF")), ecBadGraphicsFormat);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"x.tif"});
}

INSTANTIATE_TEST_SUITE_P(Compressions, RefusedTiffs, ::testing::Values("-lzw", "-g3", "-g4"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return zn::test::ParamName(info.param); });

} // namespace
} // namespace zn::faxdoc
