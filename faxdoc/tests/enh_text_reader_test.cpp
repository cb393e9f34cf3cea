#include "faxdoc/enh_text_reader.h"

#include "comms/base/exceptions.h"
#include "faxdoc/fax_converter.h"
#include "faxdoc/fax_unpacker.h"
#include "faxdoc/tests/test_support.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;

class EnhText : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "enh_text_reader_test";
        static char* argv[] = {name, nullptr};
        if (!QGuiApplication::instance())
            new QGuiApplication(argc, argv); // lives as long as the test program
        InstallEnhTextReader();
    }

    // The rows of page 1 of a text converted with a toolkit font.
    TMonoBitmap Convert(const std::string& text, TFaxResolution resolution, int size = 10)
    {
        WriteFile(dir_.Path("E.TXT"), text);
        TFxFaxConverter c;
        c.SetInputDocumentType(idTextEx);
        c.SetResolution(resolution);
        TFaxTextFont font;
        font.name = "DejaVu Sans Mono";
        font.size = size;
        c.SetEnhFont(font);
        c.SetDocumentFile(dir_.Path("E.TXT"));
        c.OpenConverter();
        c.ConvertToFile();
        TFxFaxUnpacker u;
        u.SetAutoScaleMode(asNone);
        u.SetInFileName(dir_.Path("E.APF"));
        return u.UnpackPageToBitmap(1);
    }

    TTempDir dir_;
};

int BlackPixels(const TMonoBitmap& bm)
{
    int n = 0;
    for (int y = 0; y < bm.height; ++y)
        for (int x = 0; x < bm.width; ++x)
            n += !bm.Pixel(x, y); // inverted rows: 0 = black
    return n;
}

TEST_F(EnhText, LinesAreDrawnWithTheFontAndDoubledInNormalResolution)
{
    const TMonoBitmap normal = Convert("Hello, fax\r\nsecond line", frNormal);
    EXPECT_GT(BlackPixels(normal), 100);
    EXPECT_EQ(normal.height % 2, 0); // two lines of the same height
    // Every source pixel became two: black runs start on even pixels behind the (even) margin.
    for (int y = 0; y < normal.height; ++y)
        for (int x = 50; x + 1 < normal.width; x += 2)
            ASSERT_EQ(normal.Pixel(x, y), normal.Pixel(x + 1, y)) << x << "," << y;
    const TMonoBitmap high = Convert("Hello, fax\r\nsecond line", frHigh);
    EXPECT_GT(high.height, normal.height * 3 / 2); // the font at twice its size
}

TEST_F(EnhText, AFontTooLargeForItsBitmapIsRefused)
{
    EXPECT_THROW(Convert("big", frHigh, 200), comms::EFXException);
    EXPECT_FALSE(FileExists(dir_.Path("E.APF")));
}

TEST_F(EnhText, RasterizeTextRowFeedsTheHeaderLine)
{
    TEnhTextReader r;
    TFaxTextFont font;
    ASSERT_EQ(r.SetEnhTextFont(1728, 0, font, false), 0);
    ASSERT_GT(r.GlyphHeight(), 4);
    int inked = 0;
    for (int row = 1; row <= r.GlyphHeight(); ++row) {
        std::vector<uint8_t> raster(kRasterBufferSize, 0);
        r.RasterizeTextRow("HEADER 1/2", row, raster.data());
        for (uint8_t b : raster)
            inked += b != 0;
    }
    EXPECT_GT(inked, 10);
}

} // namespace
} // namespace zn::faxdoc
