#include "cover/dither.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zn::cover {

namespace {

inline int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// The scan order of every engine: row 0 left to right, then turning at every row end.
class TDitherEngine {
 public:
  explicit TDitherEngine(int width) : width_(width) {}
  int Direction() const { return direction_; }
  int Column() const { return column_; }
  int Width() const { return width_; }

 protected:
  void Turn() {
    direction_ = -direction_;
    column_ = direction_ > 0 ? 0 : width_ - 1;
  }
  int direction_ = 1;
  int column_ = 0;
  int width_;
};

class TNearestEngine : public TDitherEngine {
 public:
  using TDitherEngine::TDitherEngine;
  int Dither(int r, int g, int b) {
    column_ += direction_;
    return MonochromeIndex(r, g, b);
  }
  void NextLine() { Turn(); }
};

// Floyd-Steinberg with the running terms of the classic serpentine implementation: per channel
// one error row of width + 2 entries (a guard at each end); the pixel's own entry is one ahead of
// the pointer in the scan direction, and the pointer's entry receives the error of the pixel before.
class TFloydSteinbergEngine : public TDitherEngine {
 public:
  explicit TFloydSteinbergEngine(int width) : TDitherEngine(width) {
    for (auto& row : rows_)
      row.assign(static_cast<size_t>(width) + 2, 0);
  }
  int Dither(int r, int g, int b) {
    int value[3] = {r, g, b};
    for (int c = 0; c < 3; ++c)
      value[c] = Clamp255(value[c] + (rows_[c][static_cast<size_t>(pointer_ + direction_)] + current_[c] + 8) / 16);
    const int index = MonochromeIndex(value[0], value[1], value[2]);
    const int out = index ? 255 : 0;
    for (int c = 0; c < 3; ++c) {
      const int e = value[c] - out;
      if (e == 0) {
        current_[c] = 0;
        continue;
      }
      rows_[c][static_cast<size_t>(pointer_)] = belowPrev_[c] + 3 * e;
      belowPrev_[c] = below_[c] + 5 * e;
      below_[c] = e;
      current_[c] = 7 * e;
    }
    pointer_ += direction_;
    column_ += direction_;
    return index;
  }
  void NextLine() {
    for (int c = 0; c < 3; ++c) {
      rows_[c][static_cast<size_t>(pointer_)] = belowPrev_[c];
      current_[c] = below_[c] = belowPrev_[c] = 0;
    }
    Turn();
    pointer_ = direction_ > 0 ? 0 : width_ + 1;
  }

 private:
  std::array<std::vector<int>, 3> rows_;
  int pointer_ = 0;
  int current_[3] = {}, below_[3] = {}, belowPrev_[3] = {};
};

// The wider kernels: error rows of width + 4 entries (two guards at each end), the pixel's entry
// at column + 2. Rows is 3 for Stucki and Sierra, 2 for Burkes.
struct TKernelTap {
  int row;
  int offset; // in scan directions
  int weight;
};

template <int Rows, int Divisor, size_t Taps>
class TKernelEngine : public TDitherEngine {
 public:
  TKernelEngine(int width, const std::array<TKernelTap, Taps>& taps) : TDitherEngine(width), taps_(taps) {
    for (auto& channel : rows_)
      for (auto& row : channel)
        row.assign(static_cast<size_t>(width) + 4, 0);
  }
  int Dither(int r, int g, int b) {
    const size_t p = static_cast<size_t>(column_ + 2);
    int value[3] = {r, g, b};
    for (int c = 0; c < 3; ++c)
      value[c] = Clamp255(value[c] + (rows_[c][0][p] + Divisor / 2) / Divisor);
    const int index = MonochromeIndex(value[0], value[1], value[2]);
    const int out = index ? 255 : 0;
    for (int c = 0; c < 3; ++c) {
      const int e = value[c] - out;
      if (e == 0)
        continue;
      for (const TKernelTap& t : taps_)
        rows_[c][t.row][p + static_cast<size_t>(t.offset * direction_)] += t.weight * e;
    }
    column_ += direction_;
    return index;
  }
  void NextLine() {
    for (auto& channel : rows_) {
      std::fill(channel[0].begin(), channel[0].end(), 0);
      std::rotate(channel.begin(), channel.begin() + 1, channel.end());
    }
    Turn();
  }

 private:
  std::array<TKernelTap, Taps> taps_;
  std::array<std::array<std::vector<int>, Rows>, 3> rows_;
};

constexpr std::array<TKernelTap, 12> kStucki = {{{0, 1, 8}, {0, 2, 4},
                                                 {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                                                 {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}};
constexpr std::array<TKernelTap, 10> kSierra = {{{0, 1, 5}, {0, 2, 3},
                                                 {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                                                 {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}};
constexpr std::array<TKernelTap, 7> kBurkes = {{{0, 1, 8}, {0, 2, 4},
                                                {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}};

template <class Engine>
void Run(const TBgrImage& src, Engine& engine, TMonoIndexImage& out) {
  const int w = src.width;
  for (int y = 0; y < src.height; ++y) {
    const uint8_t* in = src.Row(y);
    uint8_t* dst = out.index.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int x = engine.Column(); x >= 0 && x < w; x = engine.Column()) {
      const uint8_t* px = in + 3 * x;
      dst[x] = static_cast<uint8_t>(engine.Dither(px[2], px[1], px[0]));
    }
    engine.NextLine();
  }
}

} // namespace

TMonoIndexImage ReduceToMonochrome(const TBgrImage& source, int mode) {
  if (mode < dmNearest || mode > dmBurkes)
    return {};
  if (source.width <= 0 || source.height <= 0)
    throw TDitherError("Invalid image dimensions");
  if (source.stride < 3 * source.width ||
      source.bits.size() < static_cast<size_t>(source.stride) * static_cast<size_t>(source.height))
    throw TDitherError("Unsupported PixelFormat");
  TMonoIndexImage out;
  out.width = source.width;
  out.height = source.height;
  out.index.resize(static_cast<size_t>(source.width) * static_cast<size_t>(source.height));
  switch (mode) {
    case dmNearest: {
      TNearestEngine e(source.width);
      Run(source, e, out);
      break;
    }
    case dmFloydSteinberg: {
      TFloydSteinbergEngine e(source.width);
      Run(source, e, out);
      break;
    }
    case dmStucki: {
      TKernelEngine<3, 42, 12> e(source.width, kStucki);
      Run(source, e, out);
      break;
    }
    case dmSierra: {
      TKernelEngine<3, 32, 10> e(source.width, kSierra);
      Run(source, e, out);
      break;
    }
    case dmBurkes: {
      TKernelEngine<2, 32, 7> e(source.width, kBurkes);
      Run(source, e, out);
      break;
    }
  }
  return out;
}

} // namespace zn::cover
