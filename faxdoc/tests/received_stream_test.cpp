// A page as another fax server's Class 1 modem delivered it (tests/data/streams): every row is
// unpacked, as libtiff's fax2tiff decodes it, whether the page ends in RTC or right after its
// last row.
#include "faxdoc/fax_errors.h"
#include "faxdoc/tests/test_support.h"
#include "faxdoc/unpacker.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;
using Bytes = std::vector<uint8_t>;

// The byte that holds the last bit before the RTC's first EOL, found as six EOLs in a row.
size_t LastByteBeforeRtc(const Bytes& data)
{
    std::vector<size_t> eols; // bit positions where adjoining EOLs begin
    int zeros = 0;
    for (size_t i = 0; i < data.size() * 8; ++i) {
        if (!((data[i / 8] >> (i % 8)) & 1)) {
            ++zeros;
            continue;
        }
        if (zeros >= 11) {
            if (!eols.empty() && eols.back() + 12 != i - 11)
                eols.clear();
            eols.push_back(i - 11);
            if (eols.size() == 6)
                return (eols.front() - 1) / 8;
        }
        zeros = 0;
    }
    return data.size();
}

class ReceivedStream : public ::testing::TestWithParam<bool> {};

TEST_P(ReceivedStream, EveryRowUnpacksAsFax2tiffDecodesIt)
{
    if (!HaveProgram("fax2tiff") || !HaveProgram("tifftopnm"))
        GTEST_SKIP() << "libtiff-tools or netpbm is not installed";
    const bool cut = GetParam();
    TTempDir dir;
    Bytes page = ReadFile(TestData("streams/received-2286rows.g3"));
    ASSERT_GT(page.size(), 30000u);
    if (cut)
        page.resize(LastByteBeforeRtc(page) + 1);
    WriteFile(dir.Path("page.g3"), page);
    WriteFile(dir.Path("PAGE.APF"), MakeApf({{1, page}}));

    UnpackerState u;
    TMonoBitmap bm;
    ASSERT_EQ(u.UnpackPageToMemBitmap(dir.Path("PAGE.APF"), 1, false, bm), ecOK);
    const TRaster ours = FromBitmap(bm, 1728);
    // Every row of this page begins with an EOL: 2285 of them come before the RTC.
    EXPECT_EQ(ours.height, 2285);

    ASSERT_EQ(RunCommand("fax2tiff -1 -L -o '" + dir.Path("f.tif") + "' '" + dir.Path("page.g3") + "' 2>/dev/null"), 0);
    ASSERT_EQ(RunCommand("tifftopnm '" + dir.Path("f.tif") + "' > '" + dir.Path("f.pbm") + "' 2>/dev/null"), 0);
    TRaster libtiff = ReadPbm(dir.Path("f.pbm"));
    // fax2tiff makes a blank row of each of the RTC's six EOLs, and a row of the carrier-off noise
    // that follows them.
    ASSERT_EQ(libtiff.height, cut ? ours.height : ours.height + 7);
    const size_t rowsBytes = static_cast<size_t>(ours.height) * static_cast<size_t>(ours.Stride());
    EXPECT_TRUE(std::all_of(libtiff.bits.begin() + static_cast<long>(rowsBytes),
                            libtiff.bits.begin() + static_cast<long>(rowsBytes) + 6 * ours.Stride() * !cut,
                            [](uint8_t b) { return b == 0; }));
    libtiff.height = ours.height;
    libtiff.bits.resize(rowsBytes);
    EXPECT_TRUE(libtiff == ours);
}

INSTANTIATE_TEST_SUITE_P(Ends, ReceivedStream, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CutAfterTheLastRow" : "AsReceived"; });

} // namespace
} // namespace zn::faxdoc
