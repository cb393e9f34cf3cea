// Cover pages: rendering a template with a photo to its fax page and to its preview, dithering a
// 4000 x 3000 photo, decoding a JPEG photo. Ours in process (median of several runs); the peers
// as whole processes on the same input (netpbm's pbmtog3 for coding the same page, pamditherbw and
// ImageMagick's convert for Floyd-Steinberg dithering, djpeg for the JPEG decode).
#include "cover/cover_renderer.h"
#include "cover/dither.h"
#include "cover/jpeg_decoder.h"
#include "cover/tests/sample_template.h"

#include <QBuffer>
#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

using namespace zn::cover;
using Clock = std::chrono::steady_clock;

namespace {

double MedianMs(int runs, const std::function<void()>& f)
{
    std::vector<double> t;
    f(); // warm-up
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

double ShellMs(int runs, const std::string& command)
{
    return MedianMs(runs, [&] {
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(1);
        }
    });
}

void Row(const char* what, double ours, const char* peer, double theirs, const char* goal)
{
    if (theirs > 0)
        std::printf("%-44s %9.1f ms  %-34s %9.1f ms  %6.2f  %s\n", what, ours, peer, theirs, ours / theirs, goal);
    else
        std::printf("%-44s %9.1f ms  %-34s %12s  %6s  %s\n", what, ours, peer, "-", "-", goal);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    char tmpl[] = "/tmp/zn-cover-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl);

    // The template: the sample's items with its picture a 1000 x 1000 photo on 500 x 500 design
    // pixels (1000 x 1000 on the fax page).
    const QImage photo = test::SamplePhoto(1000, 1000);
    TItemList items = test::SampleTemplate(photo);
    items.back()->SetBounds(140, 520, 500, 500);
    const std::string fct = dir + "/BENCH.FCT";
    WriteFileAtomically(fct, test::RenderFileOf(items));
    TCoverValues values = PreviewValues();
    const std::vector<std::string> message = {"Please find the signed contract attached.", "Regards"};

    std::printf("%-44s %12s  %-34s %12s  %6s  %s\n", "what", "ours", "peer", "peer", "ratio", "goal");
    const double page = MedianMs(runs, [&] { RenderCoverPageToFax(dir + "/COVER.APF", fct, values, message); });
    // The peer codes the same page (written once as PBM) into G3.
    {
        TMonoCanvas canvas(kFaxPageWidth, kFaxPageHeight);
        RenderCoverFile(canvas, fct, values, message, 1);
        canvas.Image().save(QString::fromStdString(dir + "/page.pbm"), "PBM");
    }
    const double pbmtog3 = ShellMs(runs, "pbmtog3 " + dir + "/page.pbm > " + dir + "/page.g3 2>/dev/null");
    Row("fax page, 13 items + 1000x1000 photo", page, "pbmtog3 (coding the page only)", pbmtog3, "< 50 ms");
    const double preview = MedianMs(runs, [&] { RenderCoverPreview(fct); });
    Row("preview 816x1056 BMP", preview, "", 0, "< 30 ms");

    // Dithering a 4000 x 3000 photo.
    const QImage big = test::SamplePhoto(4000, 3000);
    const QImage bgr = big.convertToFormat(QImage::Format_BGR888);
    TBgrImage src;
    src.width = bgr.width();
    src.height = bgr.height();
    src.stride = static_cast<int>(bgr.bytesPerLine());
    src.bits.assign(bgr.constBits(), bgr.constBits() + bgr.sizeInBytes());
    big.save(QString::fromStdString(dir + "/big.ppm"), "PPM");
    const double stucki = MedianMs(runs, [&] { ReduceToMonochrome(src, dmStucki); });
    const double fs = MedianMs(runs, [&] { ReduceToMonochrome(src, dmFloydSteinberg); });
    const double pamdither =
        ShellMs(std::min(runs, 5), "ppmtopgm " + dir + "/big.ppm | pamditherbw -fs > " + dir + "/big.pbm 2>/dev/null");
    const double magick = ShellMs(std::min(runs, 5), "convert " + dir + "/big.ppm -dither FloydSteinberg -monochrome "
                                                         + dir + "/big2.pbm 2>/dev/null");
    Row("dither 4000x3000, Stucki (the browser's)", stucki, "pamditherbw -fs (process)", pamdither, "< 150 ms");
    Row("dither 4000x3000, Floyd-Steinberg", fs, "pamditherbw -fs (process)", pamdither, "");
    Row("dither 4000x3000, Floyd-Steinberg", fs, "convert -dither FloydSteinberg", magick, "");

    // Decoding a 1000 x 1000 JPEG photo to the 256-colour bitmap.
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    photo.save(&buffer, "JPG", 85);
    std::ofstream(dir + "/photo.jpg", std::ios::binary).write(jpeg.constData(), jpeg.size());
    const double ours = MedianMs(runs, [&] {
        DecodeJpegToBmp(reinterpret_cast<const uint8_t*>(jpeg.constData()), static_cast<size_t>(jpeg.size()),
                        kMaxPicturePixels);
    });
    const double djpeg =
        ShellMs(runs, "djpeg -bmp -colors 256 -dither fs -dct int " + dir + "/photo.jpg > " + dir + "/photo.bmp");
    Row("JPEG 1000x1000 to 256-colour BMP", ours, "djpeg -bmp -colors 256 (process)", djpeg, "");
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
