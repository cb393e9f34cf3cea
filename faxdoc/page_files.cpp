#include "faxdoc/page_files.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/file_io.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i)
    v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// The byte of page row y at x as stored (1 = black).
uint8_t PageByte(const TMonoBitmap& page, int y, int x) {
  const uint8_t b = page.Row(y)[x];
  return page.blackIsOne ? b : static_cast<uint8_t>(~b);
}

// PCX stores 1 = white: every byte inverted, runs of up to 63 equal bytes as (0xC0 + n, byte).
void AppendPcxImage(const TMonoBitmap& page, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  out.resize(start + kPcxHeaderSize, 0);
  uint8_t* h = out.data() + start;
  h[0] = 10; // manufacturer
  h[1] = 2;  // version
  h[2] = 1;  // RLE
  h[3] = 1;  // bits per pixel
  const int xmax = std::max(page.width - 1, 0);
  const int ymax = std::max(page.height - 1, 0);
  h[8] = static_cast<uint8_t>(xmax);
  h[9] = static_cast<uint8_t>(xmax >> 8);
  h[10] = static_cast<uint8_t>(ymax);
  h[11] = static_cast<uint8_t>(ymax >> 8);
  h[65] = 1; // planes
  h[66] = static_cast<uint8_t>(page.stride);
  h[67] = static_cast<uint8_t>(page.stride >> 8);
  for (int y = 0; y < page.height; ++y) {
    int x = 0;
    while (x < page.stride) {
      const uint8_t b = static_cast<uint8_t>(~PageByte(page, y, x));
      int n = 1;
      while (x + n < page.stride && n < 63 && static_cast<uint8_t>(~PageByte(page, y, x + n)) == b)
        ++n;
      if (n > 1 || b >= 0xC0)
        out.push_back(static_cast<uint8_t>(0xC0 + n));
      out.push_back(b);
      x += n;
    }
  }
}

// PackBits: literal runs of up to 128 bytes with count n - 1, repeats of 2 to 128 with count 1 - n.
void AppendPackBitsRow(const uint8_t* row, int n, std::vector<uint8_t>& out) {
  int i = 0;
  while (i < n) {
    int rep = 1;
    while (i + rep < n && rep < 128 && row[i + rep] == row[i])
      ++rep;
    if (rep >= 2) {
      out.push_back(static_cast<uint8_t>(1 - rep));
      out.push_back(row[i]);
      i += rep;
      continue;
    }
    int lit = 1;
    while (i + lit < n && lit < 128 && !(i + lit + 1 < n && row[i + lit] == row[i + lit + 1]))
      ++lit;
    out.push_back(static_cast<uint8_t>(lit - 1));
    out.insert(out.end(), row + i, row + i + lit);
    i += lit;
  }
}

} // namespace

std::vector<uint8_t> EncodePcx(const TMonoBitmap& page) {
  std::vector<uint8_t> out;
  AppendPcxImage(page, out);
  return out;
}

std::vector<uint8_t> EncodeDcx(const TMonoBitmap& page) {
  std::vector<uint8_t> out(kDcxHeaderSize, 0);
  Put32(out, 0, kDcxSignature);
  Put32(out, 4, kDcxHeaderSize);
  AppendPcxImage(page, out);
  return out;
}

std::vector<uint8_t> EncodeTiff(const TMonoBitmap& page) {
  struct TEntry {
    uint16_t tag;
    uint16_t type; // 3 SHORT, 4 LONG
    uint32_t value;
  };
  std::vector<uint8_t> strip;
  std::vector<uint8_t> row(static_cast<size_t>(page.stride));
  for (int y = 0; y < page.height; ++y) {
    for (int x = 0; x < page.stride; ++x)
      row[static_cast<size_t>(x)] = PageByte(page, y, x);
    AppendPackBitsRow(row.data(), page.stride, strip);
  }
  const auto sizeType = [](int v) -> uint16_t { return v > 0xFFFF ? 4 : 3; };
  const TEntry entries[] = {
      {255, 3, 1},
      {256, sizeType(page.width), static_cast<uint32_t>(page.width)},
      {257, sizeType(page.height), static_cast<uint32_t>(page.height)},
      {258, 3, 1},
      {259, 3, 32773},
      {262, 3, 0},
      {273, 4, kTiffStripOffset},
      {278, 4, static_cast<uint32_t>(page.height)},
      {279, 4, static_cast<uint32_t>(strip.size())},
  };
  std::vector<uint8_t> out(kTiffStripOffset, 0);
  out[0] = 'I';
  out[1] = 'I';
  Put16(out, 2, 42);
  Put32(out, 4, 8);
  Put16(out, 8, 9);
  size_t at = 10;
  for (const TEntry& e : entries) {
    Put16(out, at, e.tag);
    Put16(out, at + 2, e.type);
    Put32(out, at + 4, 1);
    if (e.type == 3)
      Put16(out, at + 8, e.value);
    else
      Put32(out, at + 8, e.value);
    at += 12;
  }
  Put32(out, at, 0); // no further IFD
  out.insert(out.end(), strip.begin(), strip.end());
  return out;
}

std::vector<uint8_t> EncodeBmp(const TMonoBitmap& page) {
  const int rowBytes = (page.stride + 3) & ~3;
  const size_t dataOffset = 14 + 40 + 8;
  std::vector<uint8_t> out(dataOffset + static_cast<size_t>(rowBytes) * static_cast<size_t>(page.height), 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(out.size()));
  Put32(out, 10, static_cast<uint32_t>(dataOffset));
  Put32(out, 14, 40);
  Put32(out, 18, static_cast<uint32_t>(page.width));
  Put32(out, 22, static_cast<uint32_t>(page.height));
  Put16(out, 26, 1);
  Put16(out, 28, 1);
  Put32(out, 34, static_cast<uint32_t>(rowBytes) * static_cast<uint32_t>(page.height));
  Put32(out, 38, 7874); // 200 dpi
  Put32(out, 42, 7874);
  Put32(out, 46, 2);
  // Palette: index 0 black, index 1 white, so bits are stored 1 = white.
  out[54 + 4] = out[54 + 5] = out[54 + 6] = 0xFF;
  for (int y = 0; y < page.height; ++y) {
    uint8_t* dst = out.data() + dataOffset + static_cast<size_t>(page.height - 1 - y) * static_cast<size_t>(rowBytes);
    for (int x = 0; x < page.stride; ++x)
      dst[x] = static_cast<uint8_t>(~PageByte(page, y, x));
  }
  return out;
}

int WriteFileData(const std::string& name, const std::vector<uint8_t>& data) {
  TBufferedWriter w;
  if (int rc = w.Create(name); rc < 0)
    return rc;
  if (int rc = w.Write(data.data(), data.size()); rc < 0)
    return rc;
  return w.Close();
}

} // namespace zn::faxdoc
