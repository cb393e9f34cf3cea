// Writing one monochrome page (1 = black) as a PCX, DCX, TIFF (PackBits) or BMP file.
#pragma once

#include "faxdoc/mono_bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zn::faxdoc {

constexpr uint32_t kDcxSignature = 0x3ADE68B1;
constexpr int kDcxHeaderSize = 4100; // the signature and 1024 page offsets
constexpr int kPcxHeaderSize = 128;
constexpr int kTiffStripOffset = 122;

// The encoded file in memory.
std::vector<uint8_t> EncodePcx(const TMonoBitmap& page);
std::vector<uint8_t> EncodeDcx(const TMonoBitmap& page);
std::vector<uint8_t> EncodeTiff(const TMonoBitmap& page);
std::vector<uint8_t> EncodeBmp(const TMonoBitmap& page);

// Writes `data` as file `name`; on failure no file is left and the negated I/O code returned.
int WriteFileData(const std::string& name, const std::vector<uint8_t>& data);

} // namespace zn::faxdoc
