// The two headers of a fax image file as they lie on disk (little-endian), for the code that joins
// files by their headers.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>

namespace zn::foundation {

constexpr int kApfFileHeaderSize = 64;
constexpr int kApfPageHeaderSize = 16;
constexpr unsigned kMaxApfPages = 65535; // the page count is 16 bits

namespace apf_detail {
inline uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
inline void Put32(uint8_t* p, uint32_t v) { p[0] = v & 0xFF; p[1] = v >> 8 & 0xFF; p[2] = v >> 16 & 0xFF; p[3] = v >> 24; }
} // namespace apf_detail

struct ApfFileHeader {
    std::array<uint8_t, kApfFileHeaderSize> bytes{};

    bool SignatureOk() const { return std::memcmp(bytes.data(), "APF10\x1A", 6) == 0; }
    uint16_t PageCount() const { return static_cast<uint16_t>(bytes[32] | bytes[33] << 8); }
    void SetPageCount(uint16_t count) { bytes[32] = count & 0xFF; bytes[33] = count >> 8; }
    int32_t Page1Offset() const { return static_cast<int32_t>(apf_detail::Get32(&bytes[34])); }
    void SetPage1Offset(int32_t offset) { apf_detail::Put32(&bytes[34], static_cast<uint32_t>(offset)); }
};

struct ApfPageHeader {
    std::array<uint8_t, kApfPageHeaderSize> bytes{};

    int32_t Length() const { return static_cast<int32_t>(apf_detail::Get32(&bytes[0])); }
    uint16_t Flags() const { return static_cast<uint16_t>(bytes[4] | bytes[5] << 8); }
    bool HighResolution() const { return Flags() & 1; }
};

} // namespace zn::foundation
