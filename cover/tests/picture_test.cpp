// Pictures: dithering against a reference written from the kernel table, JPEG decoding against
// djpeg byte for byte, the size limit, bitmaps and metafiles.
#include "cover/dither.h"
#include "cover/jpeg_decoder.h"
#include "cover/picture.h"
#include "cover/wmf_player.h"
#include "faxdoc/tests/test_support.h"
#include "platform/tests/param_name.h"

#include <gtest/gtest.h>

#include <random>

namespace zn::cover {
namespace {

using faxdoc::test::HaveProgram;
using faxdoc::test::ReadFile;
using faxdoc::test::RunCommand;
using faxdoc::test::TTempDir;
using faxdoc::test::WriteFile;

TBgrImage Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    TBgrImage img;
    img.width = w;
    img.height = h;
    img.stride = 3 * w;
    img.bits.resize(static_cast<size_t>(img.stride) * static_cast<size_t>(h));
    for (size_t i = 0; i < img.bits.size(); i += 3)
        img.bits[i] = b, img.bits[i + 1] = g, img.bits[i + 2] = r;
    return img;
}

TBgrImage Noise(int w, int h, unsigned seed)
{
    TBgrImage img = Solid(w, h, 0, 0, 0);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) // a gradient with noise: every grey level and colour error occurs
                img.bits[static_cast<size_t>(y * img.stride + 3 * x + c)] = static_cast<uint8_t>(std::clamp(
                    static_cast<int>((x * 255) / std::max(1, w - 1)) + static_cast<int>(rng() % 61) - 30, 0, 255));
    return img;
}

// The error-diffusion kernels as a table of (row, offset, weight) over a whole error plane: the
// straightforward form of what the engines do with their rolling rows.
struct TTap {
    int dy, dx, w;
};
const std::vector<TTap> kStuckiTable = {{0, 1, 8}, {0, 2, 4},  {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4},
                                        {1, 2, 2}, {2, -2, 1}, {2, -1, 2}, {2, 0, 4},  {2, 1, 2}, {2, 2, 1}};
const std::vector<TTap> kSierraTable = {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5},
                                        {1, 1, 4}, {1, 2, 2}, {2, -1, 2}, {2, 0, 3},  {2, 1, 2}};
const std::vector<TTap> kBurkesTable = {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}};

std::vector<uint8_t> Reference(const TBgrImage& src, const std::vector<TTap>& taps, int divisor)
{
    const int w = src.width, h = src.height;
    std::vector<int> err(static_cast<size_t>(3 * (w + 4) * (h + 2)), 0);
    const auto at = [&](int c, int y, int x) -> int& {
        return err[static_cast<size_t>((c * (h + 2) + y) * (w + 4) + x + 2)];
    };
    std::vector<uint8_t> out(static_cast<size_t>(w * h));
    for (int y = 0; y < h; ++y) {
        const int d = y % 2 == 0 ? 1 : -1;
        for (int i = 0; i < w; ++i) {
            const int x = d > 0 ? i : w - 1 - i;
            int v[3];
            for (int c = 0; c < 3; ++c) {
                const int in = src.bits[static_cast<size_t>(y * src.stride + 3 * x + (2 - c))];
                v[c] = std::clamp(in + (at(c, y, x) + divisor / 2) / divisor, 0, 255);
            }
            const int index = 77 * v[0] + 150 * v[1] + 29 * v[2] > 32512;
            out[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(index);
            for (int c = 0; c < 3; ++c) {
                const int e = v[c] - (index ? 255 : 0);
                for (const TTap& t : taps)
                    at(c, y + t.dy, x + t.dx * d) += t.w * e;
            }
        }
    }
    return out;
}

struct TKernelCase {
    int mode;
    const std::vector<TTap>* taps;
    int divisor;
};

class DitherKernels : public ::testing::TestWithParam<TKernelCase> {};

TEST_P(DitherKernels, EqualTheReferenceWrittenFromTheKernelTable)
{
    for (int w : {1, 2, 5, 37}) {
        const TBgrImage src = Noise(w, 23, static_cast<unsigned>(w));
        const TMonoIndexImage got = ReduceToMonochrome(src, GetParam().mode);
        ASSERT_EQ(got.width, w);
        ASSERT_EQ(got.height, 23);
        EXPECT_EQ(got.index, Reference(src, *GetParam().taps, GetParam().divisor)) << "width " << w;
    }
}

INSTANTIATE_TEST_SUITE_P(CoverDither, DitherKernels,
                         ::testing::Values(TKernelCase{dmStucki, &kStuckiTable, 42},
                                           TKernelCase{dmSierra, &kSierraTable, 32},
                                           TKernelCase{dmBurkes, &kBurkesTable, 32}),
                         [](const ::testing::TestParamInfo<TKernelCase>& info) {
                             const int mode = info.param.mode;
                             return mode == dmStucki  ? std::string("Stucki")
                                    : mode == dmSierra ? std::string("Sierra")
                                    : mode == dmBurkes ? std::string("Burkes")
                                                       : "Mode" + std::to_string(mode);
                         });

TEST(CoverDither, Grey127IsBlackAnd128WhiteWithoutDiffusion)
{
    EXPECT_EQ(ReduceToMonochrome(Solid(3, 2, 127, 127, 127), dmNearest).index, std::vector<uint8_t>(6, 0));
    EXPECT_EQ(ReduceToMonochrome(Solid(3, 2, 128, 128, 128), dmNearest).index, std::vector<uint8_t>(6, 1));
}

TEST(CoverDither, WhiteAndBlackStayInEveryModeAndGreyHalfTones)
{
    for (int mode = 0; mode <= 4; ++mode) {
        EXPECT_EQ(ReduceToMonochrome(Solid(9, 7, 255, 255, 255), mode).index, std::vector<uint8_t>(63, 1)) << mode;
        EXPECT_EQ(ReduceToMonochrome(Solid(9, 7, 0, 0, 0), mode).index, std::vector<uint8_t>(63, 0)) << mode;
    }
    for (int mode = 1; mode <= 4; ++mode) {
        const TMonoIndexImage grey = ReduceToMonochrome(Solid(64, 64, 128, 128, 128), mode);
        const long white = std::count(grey.index.begin(), grey.index.end(), 1);
        EXPECT_NEAR(static_cast<double>(white) / (64 * 64), 128.0 / 255, 0.03) << mode;
    }
}

TEST(CoverDither, UnknownModeGivesAnEmptyPictureAndNoPixelsAnError)
{
    EXPECT_TRUE(ReduceToMonochrome(Solid(4, 4, 1, 2, 3), 5).Empty());
    EXPECT_THROW(ReduceToMonochrome(TBgrImage(), dmStucki), TDitherError);
}

// JPEG files made by cjpeg decode to the same bytes as djpeg's BMP output.
std::string WriteTestPpm(TTempDir& dir, int w, int h)
{
    std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            ppm.push_back(static_cast<char>((x * 255) / w));
            ppm.push_back(static_cast<char>((y * 255) / h ^ (rng() & 15)));
            ppm.push_back(static_cast<char>(((x + y) * 3) & 255));
        }
    WriteFile(dir.Path("in.ppm"), ppm);
    return dir.Path("in.ppm");
}

class JpegParity : public ::testing::TestWithParam<const char*> {};

TEST_P(JpegParity, DecodeEqualsDjpegByteForByte)
{
    if (!HaveProgram("cjpeg") || !HaveProgram("djpeg"))
        GTEST_SKIP() << "cjpeg and djpeg are not installed";
    TTempDir dir;
    const std::string ppm = WriteTestPpm(dir, 173, 91);
    ASSERT_EQ(RunCommand(std::string("cjpeg ") + GetParam() + " '" + ppm + "' > '" + dir.Path("t.jpg") + "'"), 0);
    ASSERT_EQ(RunCommand("djpeg -bmp -colors 256 -dither fs -dct int '" + dir.Path("t.jpg") + "' > '"
                         + dir.Path("ref.bmp") + "'"),
              0);
    const std::vector<uint8_t> jpeg = ReadFile(dir.Path("t.jpg"));
    const TJpegResult got = DecodeJpegToBmp(jpeg.data(), jpeg.size(), kMaxPicturePixels);
    ASSERT_TRUE(got.ok) << got.error;
    EXPECT_EQ(got.bmp, ReadFile(dir.Path("ref.bmp")));
    // The browser's picture: the decoded bitmap reduced with Stucki, at the file's size.
    const std::optional<TPicture> picture = LoadPictureFile(dir.Path("t.jpg"));
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->Width(), 173);
    EXPECT_EQ(picture->Height(), 91);
}

INSTANTIATE_TEST_SUITE_P(CoverJpeg, JpegParity,
                         ::testing::Values("-quality 75", "-progressive", "-grayscale", "-restart 1 -quality 50",
                                           "-sample 1x1 -optimize"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return zn::test::ParamName(info.param); });

TEST(CoverJpeg, TruncatedAndEmptyFilesFail)
{
    if (!HaveProgram("cjpeg"))
        GTEST_SKIP() << "cjpeg is not installed";
    TTempDir dir;
    ASSERT_EQ(RunCommand("cjpeg '" + WriteTestPpm(dir, 240, 200) + "' > '" + dir.Path("t.jpg") + "'"), 0);
    const std::vector<uint8_t> jpeg = ReadFile(dir.Path("t.jpg"));
    const TJpegResult truncated = DecodeJpegToBmp(jpeg.data(), jpeg.size() * 3 / 4, kMaxPicturePixels);
    EXPECT_FALSE(truncated.ok);
    EXPECT_EQ(truncated.error, "There are warnings");
    const TJpegResult empty = DecodeJpegToBmp(jpeg.data(), 0, kMaxPicturePixels);
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(empty.error, "Empty input file");
    WriteFile(dir.Path("half.JPG"),
              std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 3 / 4)));
    WriteFile(dir.Path("empty.jpg"), std::string());
    EXPECT_FALSE(LoadPictureFile(dir.Path("half.JPG")).has_value());
    EXPECT_FALSE(LoadPictureFile(dir.Path("empty.jpg")).has_value());
    // A header claiming 65535 x 65535 pixels is refused before anything is decoded.
    std::vector<uint8_t> huge = jpeg;
    for (size_t i = 0; i + 9 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xFF;
            break;
        }
    const TJpegResult big = DecodeJpegToBmp(huge.data(), huge.size(), kMaxPicturePixels);
    EXPECT_FALSE(big.ok);
}

TEST(CoverPicture, BitmapsLoadByExtensionInAnyCaseAndHugeOnesAreRefused)
{
    TTempDir dir;
    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(qRgb(200, 30, 40));
    WriteFile(dir.Path("red.bmp"), EncodeBmpImage(img));
    const std::optional<TPicture> p = LoadPictureFile(dir.Path("red.bmp"));
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->bitmap.pixel(3, 3), qRgb(200, 30, 40));
    EXPECT_FALSE(LoadPictureFile(dir.Path("red.gif")).has_value());
    // 100000 x 100000 pixels claimed by the header.
    std::vector<uint8_t> bmp = EncodeBmpImage(img);
    const uint32_t side = 100000;
    std::memcpy(bmp.data() + 18, &side, 4);
    std::memcpy(bmp.data() + 22, &side, 4);
    EXPECT_FALSE(DecodeBmpImage(bmp).has_value());
}

TEST(CoverPicture, ReducedPictureIsBlackAndWhiteAtTheSameSize)
{
    QImage img(30, 20, QImage::Format_RGB32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            img.setPixel(x, y, qRgb(x * 8, y * 12, 100));
    const QImage mono = ReduceImage(img, dmStucki);
    ASSERT_EQ(mono.size(), img.size());
    EXPECT_EQ(mono.format(), QImage::Format_Indexed8);
    EXPECT_EQ(mono.colorCount(), 2);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            EXPECT_LE(mono.pixelIndex(x, y), 1);
}

// A metafile written record by record: a black brush and a rectangle.
std::vector<uint8_t> SampleWmf(bool drawSomething)
{
    std::vector<uint8_t> b;
    const auto w16 = [&b](int v) { b.push_back(static_cast<uint8_t>(v)), b.push_back(static_cast<uint8_t>(v >> 8)); };
    const auto w32 = [&](uint32_t v) { w16(static_cast<int>(v & 0xFFFF)), w16(static_cast<int>(v >> 16)); };
    w32(0x9AC6CDD7);
    w16(0);
    w16(0), w16(0), w16(1440), w16(720); // bounds: one inch by half an inch
    w16(1440);                           // units per inch
    w32(0);
    w16(0); // checksum (not checked)
    w16(1), w16(9), w16(0x300), w32(0), w16(1), w32(0), w16(0);
    const auto record = [&](int function, std::vector<int> params) {
        w32(static_cast<uint32_t>(3 + params.size()));
        w16(function);
        for (int p : params)
            w16(p);
    };
    record(0x020B, {0, 0});      // window origin
    record(0x020C, {720, 1440}); // window extent
    if (drawSomething) {
        record(0x02FC, {0, 0, 0, 0});     // a solid black brush
        record(0x012D, {0});              // selected
        record(0x041B, {360, 720, 0, 0}); // rectangle (0, 0)-(720, 360): the top-left quarter
    }
    record(0x0000, {});
    return b;
}

TEST(CoverWmf, MetafilePlaysOntoAWhitePictureOfItsSize)
{
    const std::optional<TWmfFile> wmf = ParseWmf(SampleWmf(true), kMaxPicturePixels);
    ASSERT_TRUE(wmf.has_value());
    EXPECT_EQ(wmf->width, 96);
    EXPECT_EQ(wmf->height, 48);
    const QImage img = PlayWmf(*wmf, 96, 48);
    EXPECT_EQ(qGray(img.pixel(10, 10)), 0);
    EXPECT_EQ(qGray(img.pixel(40, 20)), 0);
    EXPECT_EQ(qGray(img.pixel(60, 10)), 255);
    EXPECT_EQ(qGray(img.pixel(10, 40)), 255);
    // Nothing drawn: all white, never what the memory held before.
    const QImage blank = PlayWmf(*ParseWmf(SampleWmf(false), kMaxPicturePixels), 96, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 96; ++x)
            ASSERT_EQ(blank.pixel(x, y), qRgb(255, 255, 255));
}

TEST(CoverWmf, LoadsAsAPictureAndKeepsItsBytesInTheTemplate)
{
    TTempDir dir;
    WriteFile(dir.Path("clip.wmf"), SampleWmf(true));
    const std::optional<TPicture> p = LoadPictureFile(dir.Path("clip.wmf"));
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->kind, TPicture::pkMetafile);
    EXPECT_TRUE(DecodePictureData(EncodePictureData(*p)) == *p);
    // Not a metafile, or cut inside its header.
    std::vector<uint8_t> cut = SampleWmf(true);
    cut.resize(30);
    EXPECT_FALSE(ParseWmf(cut, kMaxPicturePixels).has_value());
    EXPECT_FALSE(ParseWmf(std::vector<uint8_t>(100, 0x41), kMaxPicturePixels).has_value());
}

} // namespace
} // namespace zn::cover
