// A whole BMP picture in memory: 1-bit rows as bits (1 = white) or 32-bit pixels (blue, green, red).
#pragma once
#include "faxdoc/converter.h"

#include <cstddef>
#include <cstdint>

namespace zn::cover {
// 0, or -8002 for data that is no BMP we read.
int DecodeBmp(const uint8_t* data, size_t size, faxdoc::TSourceBitmap& out);
} // namespace zn::cover
