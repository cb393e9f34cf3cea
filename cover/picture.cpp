#include "cover/picture.h"

#include "cover/bmp_decode.h"
#include "platform/plain_file.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "cover/component_stream.h"
#include "cover/dither.h"
#include "cover/jpeg_decoder.h"
#include "cover/mono_canvas.h"
#include "cover/wmf_player.h"
#include "faxdoc/converter.h"
#include "faxdoc/file_io.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zn::cover {

namespace {

void PutLe16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16
           | static_cast<uint32_t>(p[3]) << 24;
}

bool IsBlackAndWhite(const QImage& image)
{
    if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB)
        return true;
    if (image.format() == QImage::Format_Indexed8) {
        for (QRgb c : image.colorTable())
            if ((c & 0xFFFFFF) != 0 && (c & 0xFFFFFF) != 0xFFFFFF)
                return false;
        return true;
    }
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            if ((row[x] & 0xFFFFFF) != 0 && (row[x] & 0xFFFFFF) != 0xFFFFFF)
                return false;
    }
    return true;
}

std::optional<TPicture> Bitmap(std::optional<QImage> image)
{
    if (!image)
        return std::nullopt;
    TPicture p;
    p.kind = TPicture::pkBitmap;
    p.bitmap = std::move(*image);
    return p;
}

std::optional<TPicture> Metafile(std::vector<uint8_t> bytes)
{
    const std::optional<TWmfFile> wmf = ParseWmf(bytes, kMaxPicturePixels);
    if (!wmf)
        return std::nullopt;
    TPicture p;
    p.kind = TPicture::pkMetafile;
    p.metafile = std::move(bytes);
    p.metaWidth = wmf->width;
    p.metaHeight = wmf->height;
    return p;
}

} // namespace

std::string UpperExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

int TPicture::Width() const { return kind == pkBitmap ? bitmap.width() : kind == pkMetafile ? metaWidth : 0; }
int TPicture::Height() const { return kind == pkBitmap ? bitmap.height() : kind == pkMetafile ? metaHeight : 0; }

QImage TPicture::ToImage() const
{
    if (kind == pkBitmap)
        return bitmap;
    if (kind == pkMetafile)
        if (const std::optional<TWmfFile> wmf = ParseWmf(metafile, kMaxPicturePixels))
            return PlayWmf(*wmf, metaWidth, metaHeight);
    return {};
}

bool TPicture::operator==(const TPicture& o) const
{
    if (kind != o.kind)
        return false;
    if (kind == pkBitmap)
        return bitmap.convertToFormat(QImage::Format_RGB32) == o.bitmap.convertToFormat(QImage::Format_RGB32);
    return metafile == o.metafile;
}

std::optional<QImage> DecodeBmpImage(const std::vector<uint8_t>& data)
{
    if (data.size() >= 26 && data[0] == 'B' && data[1] == 'M') {
        const uint32_t header = Le32(data.data() + 14);
        int64_t w = 0, h = 0;
        if (header == 12 && data.size() >= 22) {
            w = data[18] | data[19] << 8;
            h = data[20] | data[21] << 8;
        } else if (header >= 40 && data.size() >= 26) {
            w = static_cast<int32_t>(Le32(data.data() + 18));
            h = static_cast<int32_t>(Le32(data.data() + 22));
        }
        if (std::llabs(w) * std::llabs(h) > kMaxPicturePixels)
            return std::nullopt;
    }
    faxdoc::TSourceBitmap bm;
    if (DecodeBmp(data.data(), data.size(), bm) < 0)
        return std::nullopt;
    if (bm.bitsPerPixel == 1) {
        QImage img(bm.width, bm.height, QImage::Format_Mono);
        img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        for (int y = 0; y < bm.height; ++y)
            std::memcpy(img.scanLine(y), bm.bits.data() + static_cast<size_t>(y) * static_cast<size_t>(bm.stride),
                        static_cast<size_t>(bm.stride));
        return img;
    }
    QImage img(bm.width, bm.height, QImage::Format_RGB32);
    for (int y = 0; y < bm.height; ++y) {
        const uint8_t* s = bm.bits.data() + static_cast<size_t>(y) * static_cast<size_t>(bm.stride);
        QRgb* d = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < bm.width; ++x)
            d[x] = qRgb(s[4 * x + 2], s[4 * x + 1], s[4 * x]);
    }
    return img;
}

std::vector<uint8_t> EncodeBmpImage(const QImage& source)
{
    if (IsBlackAndWhite(source)) {
        // Two colours: a monochrome bitmap, black first.
        QImage mono =
            source.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
        return EncodeMonoBmp(mono);
    }
    const bool indexed = source.format() == QImage::Format_Indexed8;
    const QImage img = indexed ? source : source.convertToFormat(QImage::Format_RGB32);
    const int bits = indexed ? 8 : 24;
    const uint32_t stride = static_cast<uint32_t>((img.width() * bits + 31) / 32 * 4);
    const uint32_t tableBytes = indexed ? 4 * 256 : 0;
    const uint32_t offset = 14 + 40 + tableBytes;
    std::vector<uint8_t> out;
    out.reserve(offset + stride * static_cast<uint32_t>(img.height()));
    out.push_back('B');
    out.push_back('M');
    PutLe32(out, offset + stride * static_cast<uint32_t>(img.height()));
    PutLe32(out, 0);
    PutLe32(out, offset);
    PutLe32(out, 40);
    PutLe32(out, static_cast<uint32_t>(img.width()));
    PutLe32(out, static_cast<uint32_t>(img.height()));
    PutLe16(out, 1);
    PutLe16(out, static_cast<uint32_t>(bits));
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, indexed ? 256 : 0);
    PutLe32(out, indexed ? static_cast<uint32_t>(img.colorCount()) : 0);
    if (indexed)
        for (int i = 0; i < 256; ++i)
            PutLe32(out, i < img.colorCount() ? (img.color(i) & 0xFFFFFF) : 0);
    for (int y = img.height() - 1; y >= 0; --y) {
        const size_t at = out.size();
        out.resize(at + stride, 0);
        const uint8_t* row = img.constScanLine(y);
        if (indexed) {
            std::memcpy(out.data() + at, row, static_cast<size_t>(img.width()));
        } else {
            const QRgb* px = reinterpret_cast<const QRgb*>(row);
            for (int x = 0; x < img.width(); ++x) {
                out[at + 3 * static_cast<size_t>(x)] = static_cast<uint8_t>(qBlue(px[x]));
                out[at + 3 * static_cast<size_t>(x) + 1] = static_cast<uint8_t>(qGreen(px[x]));
                out[at + 3 * static_cast<size_t>(x) + 2] = static_cast<uint8_t>(qRed(px[x]));
            }
        }
    }
    return out;
}

TPicture DecodePictureData(const std::vector<uint8_t>& data)
{
    TValueReader r(data);
    const std::string className = r.ReadShortString();
    std::vector<uint8_t> rest(data.begin() + static_cast<std::ptrdiff_t>(r.Position()), data.end());
    if (className == "TBitmap") {
        uint8_t size[4];
        r.ReadBytes(size, 4);
        const uint32_t n = Le32(size);
        if (n > r.Left())
            throw TStreamError("a picture longer than its data");
        std::vector<uint8_t> bmp(data.begin() + static_cast<std::ptrdiff_t>(r.Position()),
                                 data.begin() + static_cast<std::ptrdiff_t>(r.Position() + n));
        if (n == 0)
            return TPicture();
        if (auto p = Bitmap(DecodeBmpImage(bmp)))
            return *p;
        throw TStreamError(kErrorLoadingFile);
    }
    if (className == "TMetafile") {
        if (auto p = Metafile(std::move(rest)))
            return *p;
        throw TStreamError(kErrorLoadingFile);
    }
    if (className == "TJPEGImage") {
        // The JPEG picture class keeps a size and the compressed bytes.
        uint8_t size[4];
        r.ReadBytes(size, 4);
        const uint32_t n = Le32(size);
        if (n > r.Left())
            throw TStreamError("a picture longer than its data");
        const TJpegResult jpeg = DecodeJpegToBmp(data.data() + r.Position(), n, kMaxPicturePixels);
        if (jpeg.ok)
            if (auto p = Bitmap(DecodeBmpImage(jpeg.bmp)))
                return *p;
        throw TStreamError(kErrorLoadingFile);
    }
    throw TStreamError("an unknown picture class: " + className);
}

std::vector<uint8_t> EncodePictureData(const TPicture& picture)
{
    TValueWriter w;
    if (picture.kind == TPicture::pkMetafile) {
        w.WriteShortString("TMetafile");
        w.WriteBytes(picture.metafile.data(), picture.metafile.size());
    } else {
        w.WriteShortString("TBitmap");
        const std::vector<uint8_t> bmp =
            picture.kind == TPicture::pkBitmap ? EncodeBmpImage(picture.bitmap) : std::vector<uint8_t>();
        const uint32_t n = static_cast<uint32_t>(bmp.size());
        for (int i = 0; i < 4; ++i)
            w.Byte(static_cast<uint8_t>(n >> (8 * i)));
        w.WriteBytes(bmp.data(), bmp.size());
    }
    return std::move(w.Bytes());
}

QImage ReduceImage(const QImage& image, int mode)
{
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    TBgrImage src;
    src.width = bgr.width();
    src.height = bgr.height();
    src.stride = static_cast<int>(bgr.bytesPerLine());
    src.bits.assign(bgr.constBits(), bgr.constBits() + bgr.sizeInBytes());
    const TMonoIndexImage mono = ReduceToMonochrome(src, mode);
    if (mono.Empty())
        return {};
    QImage out(mono.width, mono.height, QImage::Format_Indexed8);
    out.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < mono.height; ++y)
        std::memcpy(out.scanLine(y), mono.index.data() + static_cast<size_t>(y) * static_cast<size_t>(mono.width),
                    static_cast<size_t>(mono.width));
    return out;
}

// A picture file whole, from a plain file of a size a picture can have.
bool ReadPictureBytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    constexpr int64_t kMaxPictureFileBytes = 512 << 20;
    const int fd = platform::OpenPlainFileForReading(path);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && st.st_size <= kMaxPictureFileBytes;
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            done += ok ? static_cast<size_t>(n) : 0;
        }
    }
    ::close(fd);
    return ok;
}

std::optional<TPicture> LoadPictureFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (!ReadPictureBytes(path, bytes))
        return std::nullopt;
    const std::string ext = UpperExtension(path);
    if (ext == ".BMP")
        return Bitmap(DecodeBmpImage(bytes));
    if (ext == ".JPG" || ext == ".JIF") {
        const TJpegResult jpeg = DecodeJpegToBmp(bytes.data(), bytes.size(), kMaxPicturePixels);
        if (!jpeg.ok)
            return std::nullopt;
        return Bitmap(DecodeBmpImage(jpeg.bmp));
    }
    if (ext == ".WMF")
        return Metafile(std::move(bytes));
    return std::nullopt;
}

} // namespace zn::cover
