#include "faxdoc/mono_transform.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zn::faxdoc {

namespace {

// XOR with this turns a row's bytes into black = 1, and back.
uint8_t BlackMask(const TMonoBitmap& page) { return page.blackIsOne ? 0x00 : 0xFF; }

void SetBlack(TMonoBitmap& page, int x, int y)
{
    uint8_t& b = page.Row(y)[x >> 3];
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    b = page.blackIsOne ? static_cast<uint8_t>(b | bit) : static_cast<uint8_t>(b & ~bit);
}

// For each output pixel the first and one-past-last source pixel it stands for (at least one).
std::vector<int> Spans(int out, int in, int offset)
{
    std::vector<int> spans(static_cast<size_t>(out) + 1);
    for (int i = 0; i <= out; ++i)
        spans[static_cast<size_t>(i)] = offset + static_cast<int>(static_cast<int64_t>(i) * in / out);
    return spans;
}

// True when any bit in [from, to) of `row` (black = 1) is set.
bool AnyBit(const uint8_t* row, int from, int to)
{
    while (from < to) {
        if ((from & 7) == 0 && to - from >= 8) {
            if (row[from >> 3])
                return true;
            from += 8;
            continue;
        }
        if (row[from >> 3] & (0x80 >> (from & 7)))
            return true;
        ++from;
    }
    return false;
}

// Each pair of pixels of a byte ORed into one: 8 pixels become 4 (the high nibble).
struct THalvingTable {
    uint8_t bits[256];
    THalvingTable()
    {
        for (int b = 0; b < 256; ++b) {
            int out = 0;
            for (int p = 0; p < 4; ++p)
                if (b & (0xC0 >> (2 * p)))
                    out |= 0x80 >> p;
            bits[b] = static_cast<uint8_t>(out);
        }
    }
};

} // namespace

int MonoStride(int width) { return ((std::max(width, 1) + 15) / 16) * 2; }

TMonoBitmap WhitePage(int width, int height, bool blackIsOne)
{
    TMonoBitmap page;
    page.width = width;
    page.height = height;
    page.stride = MonoStride(width);
    page.blackIsOne = blackIsOne;
    page.bits.assign(static_cast<size_t>(page.stride) * static_cast<size_t>(std::max(height, 0)),
                     blackIsOne ? 0x00 : 0xFF);
    return page;
}

TMonoBitmap RotateQuarterTurns(const TMonoBitmap& page, int quarterTurns)
{
    const int turns = ((quarterTurns % 4) + 4) % 4;
    const int w = page.width, h = page.height;
    if (turns == 0)
        return page;
    TMonoBitmap out = turns == 2 ? WhitePage(w, h, page.blackIsOne) : WhitePage(h, w, page.blackIsOne);
    const uint8_t mask = BlackMask(page);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = page.Row(y);
        for (int xb = 0; xb < page.stride && xb * 8 < w; ++xb) {
            const uint8_t black = static_cast<uint8_t>(row[xb] ^ mask);
            if (!black)
                continue;
            for (int bit = 0; bit < 8; ++bit) {
                if (!(black & (0x80 >> bit)))
                    continue;
                const int x = xb * 8 + bit;
                if (x >= w)
                    break;
                switch (turns) {
                case 1: SetBlack(out, h - 1 - y, x); break;
                case 2: SetBlack(out, w - 1 - x, h - 1 - y); break;
                default: SetBlack(out, y, w - 1 - x); break;
                }
            }
        }
    }
    return out;
}

TMonoBitmap ScalePartKeepingBlack(const TMonoBitmap& page, int x, int y, int width, int height, int outWidth,
                                  int outHeight)
{
    TMonoBitmap out = WhitePage(outWidth, outHeight, page.blackIsOne);
    if (outWidth <= 0 || outHeight <= 0 || width <= 0 || height <= 0)
        return out;
    const uint8_t mask = BlackMask(page);
    const std::vector<int> cols = Spans(outWidth, width, x);
    const std::vector<int> rows = Spans(outHeight, height, y);
    // The source rows an output row stands for, ORed together as black = 1, padded for reads past
    // the page's right edge.
    const int pad = 2;
    std::vector<uint8_t> acc(static_cast<size_t>(page.stride + pad));
    const bool sameWidth = width == outWidth && x == 0 && outWidth <= page.width;
    const bool halving = x == 0 && width == 2 * outWidth && width <= page.width;
    for (int oy = 0; oy < outHeight; ++oy) {
        const int y0 = rows[static_cast<size_t>(oy)];
        const int y1 = std::max(y0 + 1, rows[static_cast<size_t>(oy) + 1]);
        std::fill(acc.begin(), acc.end(), 0);
        bool any = false;
        for (int sy = std::max(y0, 0); sy < std::min(y1, page.height); ++sy) {
            const uint8_t* row = page.Row(sy);
            for (int i = 0; i < page.stride; ++i)
                acc[static_cast<size_t>(i)] |= static_cast<uint8_t>(row[i] ^ mask);
            any = true;
        }
        if (!any)
            continue;
        uint8_t* dst = out.Row(oy);
        if (sameWidth) {
            for (int i = 0; i < out.stride; ++i)
                dst[i] = static_cast<uint8_t>(acc[static_cast<size_t>(i)] ^ mask);
            // Bits past the width stay white.
            if (outWidth % 8)
                for (int ox = outWidth; ox < out.stride * 8; ++ox)
                    dst[ox >> 3] = page.blackIsOne ? static_cast<uint8_t>(dst[ox >> 3] & ~(0x80 >> (ox & 7)))
                                                   : static_cast<uint8_t>(dst[ox >> 3] | (0x80 >> (ox & 7)));
            continue;
        }
        if (halving) {
            // Half width, the common zoom: two source bytes make one, by table.
            static const THalvingTable table;
            const int bytes = (outWidth + 7) / 8;
            for (int i = 0; i < bytes; ++i) {
                uint8_t b = static_cast<uint8_t>(table.bits[acc[static_cast<size_t>(2 * i)]]
                                                 | (table.bits[acc[static_cast<size_t>(2 * i + 1)]] >> 4));
                if (8 * i + 8 > outWidth)
                    b = static_cast<uint8_t>(b & (0xFF << (8 * i + 8 - outWidth)));
                dst[i] = static_cast<uint8_t>(b ^ mask);
            }
            continue;
        }
        for (int ox = 0; ox < outWidth; ++ox) {
            const int x0 = std::max(cols[static_cast<size_t>(ox)], 0);
            const int x1 =
                std::min(std::max(cols[static_cast<size_t>(ox)] + 1, cols[static_cast<size_t>(ox) + 1]), page.width);
            if (x0 < x1 && AnyBit(acc.data(), x0, x1))
                SetBlack(out, ox, oy);
        }
    }
    return out;
}

TMonoBitmap ScaleKeepingBlack(const TMonoBitmap& page, int width, int height)
{
    return ScalePartKeepingBlack(page, 0, 0, page.width, page.height, width, height);
}

} // namespace zn::faxdoc
