// Windows metafiles (.WMF, clip-art) played onto a picture: the records that clip-art uses (pens,
// brushes, fonts, lines, rectangles, ellipses, polygons, text, device-independent bitmaps) with the
// window origin and extent mapped onto the target. Records it does not know are passed over.
// Parsing is plain C++ (and fuzzed); playing draws with QPainter.
#pragma once

#include <QImage>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zn::cover {

struct TWmfRecord {
    uint16_t function = 0;
    std::vector<int16_t> params; // the record's words after its function
};

struct TWmfFile {
    bool placeable = false;
    int16_t boundsLeft = 0, boundsTop = 0, boundsRight = 0, boundsBottom = 0;
    uint16_t unitsPerInch = 0;
    uint16_t objectCount = 0;
    std::vector<TWmfRecord> records;
    // The picture's size in pixels at 96 ppi (from the placeable header, else the window extent).
    int width = 0, height = 0;
};

// Nullopt when the bytes are no metafile or it claims a size above `maxPixels`.
std::optional<TWmfFile> ParseWmf(const std::vector<uint8_t>& bytes, int64_t maxPixels);
// The metafile drawn onto a white picture of width x height.
QImage PlayWmf(const TWmfFile& wmf, int width, int height);

} // namespace zn::cover
