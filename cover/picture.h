// Pictures of the image item and of the image browser: bitmaps (BMP files, and JPEG files decoded
// to BMP images) and metafiles (WMF). Every loader refuses pictures above kMaxPicturePixels, so that
// a hostile file cannot make the program expand a huge picture several times over in memory.
#pragma once

#include <QImage>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zn::cover {

constexpr int64_t kMaxPicturePixels = 40'000'000;
// The message every failed picture load shows.
constexpr const char* kErrorLoadingFile = "Error loading file!";

struct TPicture {
    enum TKind { pkNone, pkBitmap, pkMetafile };
    TKind kind = pkNone;
    QImage bitmap;                 // pkBitmap
    std::vector<uint8_t> metafile; // pkMetafile: the file's bytes
    int metaWidth = 0, metaHeight = 0;

    bool Empty() const { return kind == pkNone; }
    bool IsBitmap() const { return kind == pkBitmap; }
    int Width() const;
    int Height() const;
    // The picture drawn into a white image of its own size (a metafile played onto it).
    QImage ToImage() const;
    bool operator==(const TPicture& o) const;
};

// A .BMP file image to a picture; nullopt when it is not one or too large.
std::optional<QImage> DecodeBmpImage(const std::vector<uint8_t>& data);
// A .BMP file image of a picture: 1 bit for two-colour black-and-white images, 8 bits with a
// colour table for indexed ones, else 24 bits.
std::vector<uint8_t> EncodeBmpImage(const QImage& image);

// The picture item's stored form (the template's Picture.Data): the picture class's name, then its
// own data. Throws TStreamError on data that is not a picture.
TPicture DecodePictureData(const std::vector<uint8_t>& data);
std::vector<uint8_t> EncodePictureData(const TPicture& picture);

// The picture reduced to black and white (an 8-bit image with the colours black and white) by
// dither mode `mode`; an empty image for an unknown mode. Throws TDitherError.
QImage ReduceImage(const QImage& image, int mode);

// The extension of a file name (with its dot), in upper case; empty without one.
std::string UpperExtension(const std::string& path);

// A picture file as the image browser loads it, by the upper-cased extension (.BMP, .JPG, .JIF,
// .WMF). Any failure (unreadable, corrupt, too large, unknown kind) gives nullopt.
std::optional<TPicture> LoadPictureFile(const std::string& path);

} // namespace zn::cover
