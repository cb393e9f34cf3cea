#include "cover/dither.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

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
    void Turn()
    {
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
    int Dither(int r, int g, int b)
    {
        column_ += direction_;
        return MonochromeIndex(r, g, b);
    }
    void Row(const uint8_t* in, uint8_t* out)
    {
        for (int x = column_; x >= 0 && x < width_; x = column_) {
            const uint8_t* px = in + 3 * x;
            out[x] = static_cast<uint8_t>(Dither(px[2], px[1], px[0]));
        }
    }
    void NextLine() { Turn(); }
};

// The three channels' errors side by side in one vector (the fourth lane unused), so that one
// addition spreads the error of all three.
typedef int32_t TChannels __attribute__((vector_size(16)));

inline int Corrected(int input, int error, int divisor)
{
    return Clamp255(input + (error + divisor / 2) / divisor); // division truncating toward zero
}

// Floyd-Steinberg with the running terms of the classic serpentine implementation: one error row of
// width + 2 entries (a guard at each end); the pixel's own entry is one ahead of the pointer in the
// scan direction, and the pointer's entry receives the error of the pixel before.
class TFloydSteinbergEngine : public TDitherEngine {
public:
    explicit TFloydSteinbergEngine(int width) : TDitherEngine(width), row_(static_cast<size_t>(width) + 2, TChannels{})
    {
    }
    int Dither(int r, int g, int b)
    {
        const TChannels sum = row_[static_cast<size_t>(pointer_ + direction_)] + current_;
        const int v0 = Clamp255(r + (sum[0] + 8) / 16);
        const int v1 = Clamp255(g + (sum[1] + 8) / 16);
        const int v2 = Clamp255(b + (sum[2] + 8) / 16);
        const int index = MonochromeIndex(v0, v1, v2);
        const int out = index ? 255 : 0;
        const int e[3] = {v0 - out, v1 - out, v2 - out};
        TChannels& entry = row_[static_cast<size_t>(pointer_)];
        for (int c = 0; c < 3; ++c) {
            if (e[c] == 0) {
                current_[c] = 0;
                continue;
            }
            entry[c] = belowPrev_[c] + 3 * e[c];
            belowPrev_[c] = below_[c] + 5 * e[c];
            below_[c] = e[c];
            current_[c] = 7 * e[c];
        }
        pointer_ += direction_;
        column_ += direction_;
        return index;
    }
    void Row(const uint8_t* in, uint8_t* out)
    {
        for (int x = column_; x >= 0 && x < width_; x = column_) {
            const uint8_t* px = in + 3 * x;
            out[x] = static_cast<uint8_t>(Dither(px[2], px[1], px[0]));
        }
    }
    void NextLine()
    {
        TChannels& entry = row_[static_cast<size_t>(pointer_)];
        for (int c = 0; c < 3; ++c)
            entry[c] = belowPrev_[c];
        current_ = below_ = belowPrev_ = TChannels{};
        Turn();
        pointer_ = direction_ > 0 ? 0 : width_ + 1;
    }

private:
    std::vector<TChannels> row_;
    int pointer_ = 0;
    TChannels current_{}, below_{}, belowPrev_{};
};

// The wider kernels: error rows of width + 4 entries (two guards at each end), the pixel's entry
// at column + 2. Kernel::kRows is 3 for Stucki and Sierra, 2 for Burkes.
struct TKernelTap {
    int row;
    int offset; // in scan directions
    int weight;
};

struct TStucki {
    static constexpr int kRows = 3, kDivisor = 42;
    static constexpr std::array<TKernelTap, 12> kTaps = {{{0, 1, 8},
                                                          {0, 2, 4},
                                                          {1, -2, 2},
                                                          {1, -1, 4},
                                                          {1, 0, 8},
                                                          {1, 1, 4},
                                                          {1, 2, 2},
                                                          {2, -2, 1},
                                                          {2, -1, 2},
                                                          {2, 0, 4},
                                                          {2, 1, 2},
                                                          {2, 2, 1}}};
};
struct TSierra {
    static constexpr int kRows = 3, kDivisor = 32;
    static constexpr std::array<TKernelTap, 10> kTaps = {{{0, 1, 5},
                                                          {0, 2, 3},
                                                          {1, -2, 2},
                                                          {1, -1, 4},
                                                          {1, 0, 5},
                                                          {1, 1, 4},
                                                          {1, 2, 2},
                                                          {2, -1, 2},
                                                          {2, 0, 3},
                                                          {2, 1, 2}}};
};
struct TBurkes {
    static constexpr int kRows = 2, kDivisor = 32;
    static constexpr std::array<TKernelTap, 7> kTaps = {
        {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}};
};

template <class Kernel>
class TKernelEngine : public TDitherEngine {
    // Every tap unrolled with its row, offset and weight as constants.
    template <int D, size_t I>
    static void Tap(TChannels* r0, TChannels* r1, TChannels* r2, const TChannels* m)
    {
        constexpr TKernelTap t = Kernel::kTaps[I];
        TChannels* row = t.row == 0 ? r0 : t.row == 1 ? r1 : r2;
        row[t.offset * D] += m[t.weight];
    }
    template <int D, size_t... I>
    static void Spread(TChannels* r0, TChannels* r1, TChannels* r2, const TChannels* m, std::index_sequence<I...>)
    {
        (Tap<D, I>(r0, r1, r2, m), ...);
    }

    template <int D>
    void RowIn(const uint8_t* in, uint8_t* out)
    {
        TChannels* r0 = row0_;
        TChannels* r1 = row1_;
        TChannels* r2 = row2_;
        for (int x = column_; x >= 0 && x < width_; x += D, r0 += D, r1 += D, r2 += D) {
            const uint8_t* px = in + 3 * x; // blue, green, red
            const TChannels err = r0[0];
            r0[0] = TChannels{}; // read once: cleared for its next turn as the last row
            const int v0 = Corrected(px[2], err[0], Kernel::kDivisor);
            const int v1 = Corrected(px[1], err[1], Kernel::kDivisor);
            const int v2 = Corrected(px[0], err[2], Kernel::kDivisor);
            const int index = MonochromeIndex(v0, v1, v2);
            out[x] = static_cast<uint8_t>(index);
            const int o = index ? 255 : 0;
            const TChannels e = {v0 - o, v1 - o, v2 - o, 0};
            if (!(e[0] | e[1] | e[2]))
                continue;
            // The weights (1 to 8) as sums, the same for every kernel.
            TChannels m[9];
            m[1] = e;
            m[2] = e + e;
            m[3] = m[2] + e;
            m[4] = m[2] + m[2];
            m[5] = m[4] + e;
            m[8] = m[4] + m[4];
            Spread<D>(r0, r1, r2, m, std::make_index_sequence<Kernel::kTaps.size()>());
        }
        column_ = direction_ > 0 ? width_ : -1;
    }

public:
    explicit TKernelEngine(int width) : TDitherEngine(width)
    {
        for (auto& row : rows_)
            row.assign(static_cast<size_t>(width) + 4, TChannels{});
        Point();
    }
    // One row in the current direction, pixel by pixel with the row pointers.
    void Row(const uint8_t* in, uint8_t* out)
    {
        if (direction_ > 0)
            RowIn<1>(in, out);
        else
            RowIn<-1>(in, out);
    }
    void NextLine()
    {
        // Every column's entry was cleared when it was read; only the guards are left.
        std::vector<TChannels>& done = rows_[0];
        done[0] = done[1] = done[done.size() - 2] = done[done.size() - 1] = TChannels{};
        std::rotate(rows_.begin(), rows_.begin() + 1, rows_.end());
        Turn();
        Point();
    }

private:
    // Pointers at the entry of the current column (column + 2) in each row.
    void Point()
    {
        const size_t p = static_cast<size_t>(column_ + 2);
        row0_ = rows_[0].data() + p;
        row1_ = rows_[1].data() + p;
        row2_ = Kernel::kRows > 2 ? rows_[Kernel::kRows - 1].data() + p : row1_;
    }
    std::array<std::vector<TChannels>, Kernel::kRows> rows_;
    TChannels* row0_ = nullptr;
    TChannels* row1_ = nullptr;
    TChannels* row2_ = nullptr;
};

template <class Engine>
void Run(const TBgrImage& src, Engine& engine, TMonoIndexImage& out)
{
    const int w = src.width;
    for (int y = 0; y < src.height; ++y) {
        const uint8_t* in = src.Row(y);
        engine.Row(in, out.index.data() + static_cast<size_t>(y) * static_cast<size_t>(w));
        engine.NextLine();
    }
}

} // namespace

TMonoIndexImage ReduceToMonochrome(const TBgrImage& source, int mode)
{
    if (mode < dmNearest || mode > dmBurkes)
        return {};
    if (source.width <= 0 || source.height <= 0)
        throw TDitherError("Invalid image dimensions");
    if (source.stride < 3 * source.width
        || source.bits.size() < static_cast<size_t>(source.stride) * static_cast<size_t>(source.height))
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
        TKernelEngine<TStucki> e(source.width);
        Run(source, e, out);
        break;
    }
    case dmSierra: {
        TKernelEngine<TSierra> e(source.width);
        Run(source, e, out);
        break;
    }
    case dmBurkes: {
        TKernelEngine<TBurkes> e(source.width);
        Run(source, e, out);
        break;
    }
    }
    return out;
}

} // namespace zn::cover
