// The picture loaders: BMP, JPEG and WMF files and a template's picture data, each reduced to black
// and white as the image browser shows it.
#include "cover/component_stream.h"
#include "cover/fuzz/fuzz_app.h"
#include "cover/jpeg_decoder.h"
#include "cover/picture.h"
#include "cover/wmf_player.h"

using namespace zn::cover;

namespace {

constexpr int64_t kFuzzPixels = 1'000'000; // a smaller limit keeps each run short

void Reduce(const QImage& img)
{
    if (!img.isNull() && static_cast<int64_t>(img.width()) * img.height() <= kFuzzPixels)
        ReduceImage(img, 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    const std::vector<uint8_t> bytes(data, data + size);
    if (auto bmp = DecodeBmpImage(bytes))
        Reduce(*bmp);
    const TJpegResult jpeg = DecodeJpegToBmp(data, size, kFuzzPixels);
    if (jpeg.ok) {
        const std::optional<QImage> decoded = DecodeBmpImage(jpeg.bmp);
        if (!decoded)
            abort(); // our own BMP must read back
        Reduce(*decoded);
    }
    if (auto wmf = ParseWmf(bytes, kFuzzPixels))
        Reduce(PlayWmf(*wmf, wmf->width, wmf->height));
    try {
        const TPicture picture = DecodePictureData(bytes);
        if (picture.Width() * static_cast<int64_t>(picture.Height()) <= kFuzzPixels)
            Reduce(picture.ToImage());
    } catch (const TStreamError&) {
    }
    return 0;
}
