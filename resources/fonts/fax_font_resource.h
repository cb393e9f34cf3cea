// The fax font resource ("FXFAXFONT" / "FAXFONT") compiled into the program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zn::resources {

constexpr size_t kFaxFontResourceSize = 16384;
// The resource's bytes; *size receives their count.
const uint8_t* FaxFontResource(size_t* size);

} // namespace zn::resources
