#include "faxdoc/fax_converter.h"
#include "faxdoc/fax_unpacker.h"

#include "comms/base/exceptions.h"
#include "faxdoc/fax_errors.h"
#include "faxdoc/page_files.h"
#include "faxdoc/tests/test_support.h"

#include "platform/messages.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;
using Bytes = std::vector<uint8_t>;

TSourceBitmap MonoBitmap(int width, int height)
{
    TSourceBitmap bm;
    bm.width = width;
    bm.height = height;
    bm.stride = (width + 7) / 8;
    bm.bits.assign(static_cast<size_t>(bm.stride * height), 0xFF); // white
    for (int y = 0; y < height; ++y)
        bm.bits[static_cast<size_t>(y * bm.stride)] = 0x7F; // the leftmost pixel black
    return bm;
}

TEST(FaxConverter, StartsWithItsDefaults)
{
    TFxFaxConverter c;
    EXPECT_EQ(c.InputDocumentType(), idNone);
    EXPECT_EQ(c.Options(), CvtOption(coDoubleWidth) | CvtOption(coCenterImage) | CvtOption(coYield));
    EXPECT_EQ(c.Resolution(), frNormal);
    EXPECT_EQ(c.Width(), fwNormal);
    EXPECT_EQ(c.LeftMargin(), 50u);
    EXPECT_EQ(c.TopMargin(), 0u);
    EXPECT_EQ(c.LinesPerPage(), 60u);
    EXPECT_EQ(c.TabStop(), 4u);
    EXPECT_EQ(c.FontFile(), "APFAX.FNT");
    EXPECT_EQ(c.FontType(), ffStandard);
    EXPECT_EQ(c.Version(), "v3.06");
}

TEST(FaxConverter, YieldOftenBringsYield)
{
    TFxFaxConverter c;
    c.SetOptions(CvtOption(coYieldOften));
    EXPECT_EQ(c.Options(), CvtOption(coYield) | CvtOption(coYieldOften));
}

TEST(FaxConverter, DocumentFileNamesTheOutput)
{
    TFxFaxConverter c;
    c.SetDocumentFile("/fax/LETTER.TXT");
    EXPECT_EQ(c.OutFileName(), "/fax/LETTER.APF");
    c.SetLoading(true);
    c.SetDocumentFile("/fax/OTHER.TXT");
    EXPECT_EQ(c.OutFileName(), "/fax/LETTER.APF");
}

TEST(FaxConverter, FullWidthBitmapIsNotDoubledAndTheTypeIsKept)
{
    TTempDir dir;
    TFxFaxConverter c;
    c.SetInputDocumentType(idText);
    c.SetOutFileName(dir.Path("BM.APF"));
    c.ConvertBitmapToFile(MonoBitmap(1728, 3));
    EXPECT_EQ(c.InputDocumentType(), idText);
    EXPECT_FALSE(c.IsOpen());
    TFxFaxUnpacker u;
    u.SetInFileName(dir.Path("BM.APF"));
    u.SetAutoScaleMode(asNone);
    const TMonoBitmap page = u.UnpackPageToBitmap(1);
    ASSERT_EQ(page.height, 3);
    // Not doubled: the black pixel sits right behind the margin of 50, one pixel wide.
    EXPECT_FALSE(page.Pixel(50, 0)); // inverted rows: 0 = black
    EXPECT_TRUE(page.Pixel(51, 0));
}

TEST(FaxConverter, FailuresRaiseTheirExceptionAndLeaveNoFile)
{
    TTempDir dir;
    TFxFaxConverter c;
    c.SetInputDocumentType(idTiff);
    TMonoBitmap picture;
    picture.width = 64;
    picture.stride = 8;
    picture.height = 2;
    picture.bits.assign(16, 0);
    Bytes tiff = EncodeTiff(picture);
    tiff[10 + 12 * 4 + 8] = 5; // LZW
    tiff[10 + 12 * 4 + 9] = 0;
    WriteFile(dir.Path("LZW.TIF"), tiff);
    c.SetDocumentFile(dir.Path("LZW.TIF"));
    c.OpenConverter();
    EXPECT_THROW(c.ConvertToFile(), comms::EBadGraphicsFormat);
    EXPECT_FALSE(FileExists(dir.Path("LZW.APF")));
    c.SetDocumentFile(dir.Path("NONE.TIF"));
    EXPECT_THROW(c.ConvertToFile(), comms::EInOutError);
    c.SetInputDocumentType(idNone);
    EXPECT_THROW(c.OpenConverter(), comms::EBadArgument);
}

TEST(FaxConverter, AbortFromTheStatusEventStopsTheConversion)
{
    TTempDir dir;
    TFxFaxConverter c;
    int starts = 0;
    c.OnStatus = [&](TFxCustomFaxConverter&, bool starting, bool, int, int lines, int64_t, int64_t, bool& abort) {
        starts += starting;
        abort = lines == 2;
    };
    c.SetOutFileName(dir.Path("AB.APF"));
    EXPECT_THROW(c.ConvertBitmapToFile(MonoBitmap(100, 10)), comms::EConvertAbort);
    EXPECT_EQ(starts, 1);
    EXPECT_FALSE(FileExists(dir.Path("AB.APF")));
}

TEST(FaxConverter, TextFilesAreFoundWhateverTheLetterCase)
{
    TTempDir dir;
    WriteFile(dir.Path("LETTER.TXT"), std::string("Dear sir\r\n"));
    TFxFaxConverter c;
    c.SetInputDocumentType(idText);
    c.SetDocumentFile(dir.Path("letter.txt"));
    c.OpenConverter();
    c.ConvertToFile();
    TFxFaxUnpacker u;
    u.SetInFileName(dir.Path("letter.apf"));
    EXPECT_EQ(u.GetNumPages(), 1);
}

TEST(FaxConverter, UserLinesComeFromTheOwner)
{
    TTempDir dir;
    TFxFaxConverter c;
    c.SetInputDocumentType(idUser);
    int rows = 0;
    std::string opened;
    bool closed = false;
    c.OnOpenUserFile = [&](TFxCustomFaxConverter&, const std::string& name) { opened = name; };
    c.OnCloseUserFile = [&](TFxCustomFaxConverter&) { closed = true; };
    c.OnReadUserLine = [&](TFxCustomFaxConverter&, uint8_t* data, int& len, bool& endOfPage, bool& morePages) {
        endOfPage = rows == 5;
        morePages = false;
        data[0] = 0xFF;
        len = 216;
        ++rows;
    };
    c.SetDefUserExtension("USR");
    c.SetDocumentFile(dir.Path("LINES"));
    c.OpenConverter();
    c.ConvertToFile();
    EXPECT_EQ(opened, dir.Path("LINES.USR"));
    EXPECT_TRUE(closed);
    TFxFaxUnpacker u;
    u.SetInFileName(dir.Path("LINES.APF"));
    u.SetAutoScaleMode(asNone);
    EXPECT_EQ(u.UnpackPageToBitmap(1).height, 5);
}

// A quit request met while the converter keeps the messages moving ends the conversion.
TEST(FaxConverter, AQuitRequestEndsTheConversion)
{
    static int argc = 1;
    static char name[] = "components_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // lives as long as the test program
    TTempDir dir;
    TFxFaxConverter c;
    c.SetOutFileName(dir.Path("Q.APF"));
    platform::PostQuitMessage(0);
    EXPECT_THROW(c.ConvertBitmapToFile(MonoBitmap(100, 3)), comms::EGotQuitMsg);
    EXPECT_TRUE(platform::QuitRequested()); // still pending for the program's own loop
    platform::ClearQuitRequest();
    EXPECT_FALSE(FileExists(dir.Path("Q.APF")));
    c.ConvertBitmapToFile(MonoBitmap(100, 3));
    EXPECT_TRUE(FileExists(dir.Path("Q.APF")));
}

// ---- Unpacker -------------------------------------------------------------------------------------

std::string TwoPageFax(const TTempDir& dir)
{
    TFxFaxConverter c;
    c.SetInputDocumentType(idText);
    c.SetResolution(frHigh);
    c.SetWidth(fwWide);
    WriteFile(dir.Path("TWO.TXT"), std::string("page one\fpage two"));
    c.SetDocumentFile(dir.Path("TWO.TXT"));
    c.OpenConverter();
    c.ConvertToFile();
    return dir.Path("TWO.APF");
}

TEST(FaxUnpacker, StartsWithItsDefaults)
{
    TFxFaxUnpacker u;
    EXPECT_EQ(u.Options(), UnpackOption(uoYield));
    EXPECT_EQ(u.AutoScaleMode(), asDoubleHeight);
    EXPECT_FALSE(u.WhitespaceCompression());
    u.SetHorizMult(0);
    EXPECT_EQ(u.HorizMult(), 1u);
}

TEST(FaxUnpacker, ReadsPagesResolutionAndWidth)
{
    TTempDir dir;
    TFxFaxUnpacker u;
    u.SetInFileName(TwoPageFax(dir));
    EXPECT_EQ(u.GetNumPages(), 2);
    EXPECT_TRUE(u.GetFaxResolution());
    EXPECT_TRUE(u.GetFaxWidth());
    const TMonoBitmap page = u.UnpackPageToBitmap(2);
    EXPECT_EQ(page.width, 2048);
    EXPECT_EQ(page.height, 32); // one line of high-resolution glyphs, not doubled again
}

TEST(FaxUnpacker, InputNameNamesTheOutputAndPagesGoToFiles)
{
    TTempDir dir;
    TFxFaxUnpacker u;
    u.SetInFileName(TwoPageFax(dir));
    EXPECT_EQ(u.OutFileName(), dir.Path("TWO"));
    u.UnpackPageToTiff(1);
    u.UnpackPageToPcx(1);
    u.UnpackPageToDcx(2);
    EXPECT_TRUE(FileExists(dir.Path("TWO.TIF")));
    EXPECT_TRUE(FileExists(dir.Path("TWO.PCX")));
    EXPECT_TRUE(FileExists(dir.Path("TWO.DCX")));
}

TEST(FaxUnpacker, DoubleHeightAppliesToNormalResolution)
{
    TTempDir dir;
    TFxFaxConverter c;
    c.SetOutFileName(dir.Path("N.APF"));
    c.ConvertBitmapToFile(MonoBitmap(1728, 7));
    TFxFaxUnpacker u;
    u.SetInFileName(dir.Path("N.APF"));
    EXPECT_EQ(u.UnpackPageToBitmap(1).height, 14);
    u.SetAutoScaleMode(asHalfWidth);
    const TMonoBitmap half = u.UnpackPageToBitmap(1);
    EXPECT_EQ(half.height, 7);
    EXPECT_FALSE(half.Pixel(25, 0)); // pixel 50 halves to 25
}

TEST(FaxUnpacker, FailuresRaiseTheirExceptions)
{
    TTempDir dir;
    WriteFile(dir.Path("BAD.APF"), std::string("not a fax file at all"));
    TFxFaxUnpacker u;
    u.SetInFileName(dir.Path("MISSING.APF"));
    EXPECT_THROW(u.GetNumPages(), comms::EInOutError);
    u.SetInFileName(dir.Path("BAD.APF"));
    EXPECT_THROW(u.GetFaxResolution(), comms::EFaxBadFormat);
    EXPECT_THROW(u.UnpackPageToBitmap(1), comms::EFaxBadFormat);
    u.SetInFileName(TwoPageFax(dir));
    EXPECT_THROW(u.UnpackPageToBitmap(3), comms::EFaxBadFormat);
    u.SetWhitespaceCompression(true);
    u.SetWhitespaceFrom(1);
    u.SetWhitespaceTo(5);
    EXPECT_THROW(u.GetNumPages(), comms::EBadArgument);
}

} // namespace
} // namespace zn::faxdoc
