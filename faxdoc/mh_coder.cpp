#include "faxdoc/mh_coder.h"

#include "faxdoc/mh_codes.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {

const uint8_t kBlankRow1728[6] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};

namespace {

// Bits go out LSB first, which is little-endian order of a bit accumulator.
class TBitSink {
 public:
  explicit TBitSink(uint8_t* out) : out_(out) {}

  void Put(const TFaxCode& c) {
    acc_ |= static_cast<uint64_t>(c.code) << bits_;
    bits_ += c.bits;
    if (bits_ >= 32) {
      for (int i = 0; i < 4; ++i)
        out_[pos_ + i] = static_cast<uint8_t>(acc_ >> (8 * i));
      pos_ += 4;
      acc_ >>= 32;
      bits_ -= 32;
    }
  }

  void PutRun(int run, int colour) {
    const TFaxCodeTables& t = FaxCodeTables();
    while (run > kMaxMakeUpRun + 63) {
      Put(t.makeUp[colour][kMakeUpCodes]);
      run -= kMaxMakeUpRun;
    }
    if (run >= 64) {
      Put(t.makeUp[colour][run / 64]);
      run %= 64;
    }
    Put(t.term[colour][run]);
  }

  // Writes out what is left: the partly filled byte and one whole zero byte behind the last code bit.
  int Finish() {
    const int total = pos_ * 8 + bits_;
    const int count = (total - 1) / 8 + 2;
    for (int i = pos_; i < count; ++i) {
      out_[i] = static_cast<uint8_t>(acc_);
      acc_ >>= 8;
    }
    return count;
  }

 private:
  uint8_t* out_;
  int pos_ = 0;
  uint64_t acc_ = 0;
  int bits_ = 0;
};

uint64_t LoadBigEndian64(const uint8_t* row, int rowBytes, int index) {
  uint64_t w = 0;
  if (index + 8 <= rowBytes) {
    std::memcpy(&w, row + index, 8);
    return __builtin_bswap64(w);
  }
  for (int i = 0; i < 8; ++i) {
    w <<= 8;
    if (index + i < rowBytes)
      w |= row[index + i];
  }
  return w;
}

// The first pixel at or after `pos` whose colour is not `colour` (1 = black), or `limit`.
// Pixels past the row's bytes are white.
int FindChange(const uint8_t* row, int rowBytes, int pos, int limit, int colour) {
  while (pos < limit) {
    uint64_t w = LoadBigEndian64(row, rowBytes, pos >> 3);
    if (colour)
      w = ~w;
    const int skip = pos & 7;
    w <<= skip;
    if (w != 0)
      return std::min(limit, pos + __builtin_clzll(w));
    pos += 64 - skip;
  }
  return limit;
}

} // namespace

int CodeRasterRow(const uint8_t* raster, int rasterBytes, int lineWidth, int leftMargin,
                  bool doubleWidth, uint8_t* out) {
  TBitSink sink(out);
  sink.Put(FaxCodeTables().eol16);

  const int margin = std::clamp(leftMargin, 0, lineWidth);
  const int scale = doubleWidth ? 2 : 1;
  const int limit = std::min((lineWidth - margin) / scale, rasterBytes * 8);
  int done = 0;       // pixels coded so far
  int pending = margin;
  int colour = 0;
  int pos = 0;
  for (;;) {
    const int next = FindChange(raster, rasterBytes, pos, limit, colour);
    int run = (next - pos) * scale;
    if (colour == 0) {
      run += pending;
      pending = 0;
    }
    if (next >= limit) {
      // The last run: fill the row with white up to its width, never past it.
      if (colour == 0) {
        sink.PutRun(lineWidth - done, 0);
      } else {
        sink.PutRun(run, 1);
        if (lineWidth - done - run > 0)
          sink.PutRun(lineWidth - done - run, 0);
      }
      break;
    }
    sink.PutRun(run, colour);
    done += run;
    colour ^= 1;
    pos = next;
  }
  return sink.Finish();
}

int CodeBlankRow(int lineWidth, uint8_t* out) {
  TBitSink sink(out);
  sink.Put(FaxCodeTables().eol16);
  sink.PutRun(lineWidth, 0);
  return sink.Finish();
}

int MakeEndOfPage(uint8_t* out) {
  uint8_t block[kEndOfPageBytes + 8] = {};
  TBitSink sink(block);
  const TFaxCodeTables& t = FaxCodeTables();
  sink.Put(t.eol16);
  for (int i = 0; i < 7; ++i)
    sink.Put(t.eol12);
  sink.Finish();
  std::memcpy(out, block, kEndOfPageBytes);
  return kEndOfPageBytes;
}

// ---------------------------------------------------------------------------------------------

namespace {

// The bits of `data` from bit `pos` on, first bit in bit 0; bits past the end read as 0.
inline uint64_t Peek(const uint8_t* data, size_t size, size_t pos) {
  const size_t index = pos >> 3;
  uint64_t w = 0;
  if (index + 8 <= size) {
    std::memcpy(&w, data + index, 8);
  } else {
    for (size_t i = 0; index + i < size && i < 8; ++i)
      w |= static_cast<uint64_t>(data[index + i]) << (8 * i);
  }
  return w >> (pos & 7);
}

inline void SetBits(uint8_t* row, int start, int len) {
  const int end = start + len;
  const int sb = start >> 3;
  const int eb = end >> 3;
  if (sb == eb) {
    row[sb] |= static_cast<uint8_t>((0xFF >> (start & 7)) & ~(0xFF >> (end & 7)));
    return;
  }
  row[sb] |= static_cast<uint8_t>(0xFF >> (start & 7));
  std::memset(row + sb + 1, 0xFF, static_cast<size_t>(eb - sb - 1));
  if (end & 7)
    row[eb] |= static_cast<uint8_t>(~(0xFF >> (end & 7)));
}

} // namespace

TMhDecoder::TMhDecoder() { std::memset(row_, 0, sizeof row_); }

bool TMhDecoder::EndRow(const TRowSink& sink) {
  bool go_on = true;
  if (rowPixels_ > 0) {
    const int bytes = (rowPixels_ + 7) / 8;
    if (bytes == kNormalLineWidth / 8 || bytes == kWideLineWidth / 8)
      go_on = sink(row_, bytes);
    std::memset(row_, 0, static_cast<size_t>(bytes));
  }
  rowPixels_ = 0;
  colour_ = 0;
  beforeFirstEol_ = false;
  return go_on && ++eolCount_ < 3;
}

bool TMhDecoder::Decode(const uint8_t* data, size_t size, const TRowSink& sink) {
  const TFaxDecodeTables& tables = FaxDecodeTables();
  const size_t total = size * 8;
  size_t pos = 0;
  while (pos < total && !ended_) {
    if (error_) {
      // After an invalid code, 1 bits are skipped; the next 0 bit begins a new code.
      uint64_t w = Peek(data, size, pos);
      if (w == ~0ull >> (pos & 7)) {
        pos += 64 - (pos & 7);
        continue;
      }
      pos += static_cast<size_t>(__builtin_ctzll(~w));
      if (pos >= total)
        break;
      error_ = false;
    }
    const unsigned v = static_cast<unsigned>(Peek(data, size, pos)) & (kDecodeTableSize - 1);
    const TDecodeEntry& e = tables.entry[colour_][v];
    if (pos + e.bits > total)
      break;
    pos += e.bits;
    switch (e.kind) {
    case TDecodeKind::Terminating:
    case TDecodeKind::MakeUp:
      if (!beforeFirstEol_ && rowPixels_ + e.run <= kMaxRowPixels) {
        if (colour_ && e.run)
          SetBits(row_, rowPixels_, e.run);
        rowPixels_ += e.run;
      }
      if (e.kind == TDecodeKind::Terminating)
        colour_ ^= 1;
      eolCount_ = 0;
      break;
    case TDecodeKind::Zeros: {
      // Fill zeros before an EOL: find the 1 bit that ends them.
      for (;;) {
        if (pos >= total)
          return ended_;
        const uint64_t w = Peek(data, size, pos);
        if (w == 0) {
          pos += 64 - (pos & 7);
          continue;
        }
        pos += static_cast<size_t>(__builtin_ctzll(w)) + 1;
        break;
      }
      if (pos > total)
        return ended_;
      if (!EndRow(sink))
        ended_ = true;
      break;
    }
    case TDecodeKind::Eol:
      if (!EndRow(sink))
        ended_ = true;
      break;
    case TDecodeKind::Invalid:
      ++badCodes_;
      error_ = true;
      break;
    }
  }
  return ended_;
}

} // namespace zn::faxdoc
