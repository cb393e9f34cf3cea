// Small raster-row operations shared by the readers and the unpacker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zn::faxdoc {

// Inverts `n` bytes, eight at a time.
inline void InvertBytes(uint8_t* p, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        w = ~w;
        std::memcpy(p + i, &w, 8);
    }
    for (; i < n; ++i)
        p[i] = static_cast<uint8_t>(~p[i]);
}

} // namespace zn::faxdoc
