#include "faxdoc/mh_coder.h"

#include "faxdoc/mh_codes.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {

const uint8_t kBlankRow1728[6] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
const uint8_t kBlankRow2048[6] = {0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00};

namespace {

// Bits go out LSB first, which is little-endian order of a bit accumulator.
class TBitSink {
public:
    explicit TBitSink(uint8_t* out) : out_(out), tables_(FaxCodeTables()) {}

    // Stores the whole accumulator every time and keeps only the unfinished byte: no branch.
    // The output has room for 8 bytes past the last code.
    void Put(const TFaxCode& c)
    {
        acc_ |= static_cast<uint64_t>(c.code) << bits_;
        bits_ += c.bits;
        std::memcpy(out_ + pos_, &acc_, 8);
        const int whole = bits_ >> 3;
        pos_ += whole;
        acc_ = whole == 8 ? 0 : acc_ >> (8 * whole);
        bits_ &= 7;
    }

    void PutRun(int run, int colour)
    {
        const TFaxCodeTables& t = tables_;
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
    int Finish()
    {
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
    const TFaxCodeTables& tables_;
    int pos_ = 0;
    uint64_t acc_ = 0;
    int bits_ = 0;
};

// The first pixel at or after `pos` whose colour is not `colour` (1 = black), or `limit`.
// `row` holds at least limit / 8 + 8 readable bytes.
inline int FindChange(const uint8_t* row, int pos, int limit, int colour)
{
    while (pos < limit) {
        uint64_t w;
        std::memcpy(&w, row + (pos >> 3), 8);
        w = __builtin_bswap64(w);
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

int CodeRasterRow(const uint8_t* raster, int rasterBytes, int lineWidth, int leftMargin, bool doubleWidth, uint8_t* out)
{
    TBitSink sink(out);
    sink.Put(FaxCodeTables().eol16);

    const int margin = std::clamp(leftMargin, 0, lineWidth);
    const int scale = doubleWidth ? 2 : 1;
    const int limit = std::min((lineWidth - margin) / scale, rasterBytes * 8);
    // The pixels that count, in a buffer that can be read 8 bytes at a time past its end.
    uint8_t row[kWideLineWidth / 8 + 16];
    const size_t used = static_cast<size_t>((limit + 7) / 8);
    std::memcpy(row, raster, used);
    std::memset(row + used, 0, 16);
    if (limit & 7)
        row[limit >> 3] &= static_cast<uint8_t>(0xFF00 >> (limit & 7));
    int done = 0; // pixels coded so far
    int pending = margin;
    int colour = 0;
    int pos = 0;
    for (;;) {
        const int next = FindChange(row, pos, limit, colour);
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

int CodeBlankRow(int lineWidth, uint8_t* out)
{
    TBitSink sink(out);
    sink.Put(FaxCodeTables().eol16);
    sink.PutRun(lineWidth, 0);
    return sink.Finish();
}

int MakeEndOfPage(uint8_t* out)
{
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

// Sets `len` pixels from `start` in a row buffer with 8 bytes to spare behind its last pixel.
inline void SetBits(uint8_t* row, int start, int len)
{
    const int shift = start & 7;
    if (shift + len <= 56) {
        // Short runs, the most of them: one 64-bit OR.
        uint8_t* at = row + (start >> 3);
        uint64_t w;
        std::memcpy(&w, at, 8);
        w |= __builtin_bswap64((~0ull >> shift) & ~(~0ull >> (shift + len)));
        std::memcpy(at, &w, 8);
        return;
    }
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

int TMhDecoder::RowsOfBits(uint64_t bits, int rows) const
{
    const int good = rows_ - badRows_;
    if (good <= 0 || goodBits_ == 0)
        return rows;
    return std::max<int>(rows, static_cast<int>(std::min<uint64_t>(bits * good / goodBits_, 1u << 20)));
}

int TMhDecoder::UnfinishedRows() const
{
    const bool whole = rowPixels_ == kNormalLineWidth || rowPixels_ == kWideLineWidth;
    if (ended_ || beforeFirstEol_ || (whole && !error_ && !rowBad_))
        return 0;
    const int good = rows_ - badRows_;
    const uint64_t bits = bitsBefore_ - rowStart_;
    if (good <= 0 || goodBits_ == 0)
        return bits > 0 ? 1 : 0;
    return static_cast<int>(std::min<uint64_t>(bits * good / goodBits_, 1u << 20));
}

int TMhDecoder::LostRows() const { return RowsOfBits(badBits_, badRows_) - badRows_; }

int TMhDecoder::MostConsecutiveBadRows() const
{
    return std::max({longestBadRun_, longestBadRunRows_, RowsOfBits(badRunBits_, badRun_)});
}

bool TMhDecoder::EndRow(const TRowSink& sink, uint64_t bitPosition)
{
    bool go_on = true;
    const uint64_t rowBits = bitPosition - rowStart_;
    rowStart_ = bitPosition;
    if (rowPixels_ > 0 || rowBad_) {
        const bool whole = rowPixels_ == kNormalLineWidth || rowPixels_ == kWideLineWidth;
        ++rows_;
        if (whole && !rowBad_) {
            if (badRun_ > 0)
                longestBadRunRows_ = std::max(longestBadRunRows_, RowsOfBits(badRunBits_, badRun_));
            badRun_ = 0;
            badRunBits_ = 0;
            goodBits_ += rowBits;
        } else {
            ++badRows_;
            badBits_ += rowBits;
            badRunBits_ += rowBits;
            longestBadRun_ = std::max(longestBadRun_, ++badRun_);
        }
        const int bytes = (rowPixels_ + 7) / 8;
        if (bytes == kNormalLineWidth / 8 || bytes == kWideLineWidth / 8)
            go_on = sink(row_, bytes);
        std::memset(row_, 0, static_cast<size_t>(bytes));
    }
    rowBad_ = false;
    rowPixels_ = 0;
    colour_ = 0;
    beforeFirstEol_ = false;
    return go_on && ++eolCount_ < 3;
}

namespace {

// The stream's bits, first bit in bit 0 of `acc`; `n` of them are valid, later bits may already
// be there too (the next refill ORs the same bits into the same places).
struct TBitSource {
    const uint8_t* p;
    const uint8_t* end;
    uint64_t acc = 0;
    int n = 0;

    void Refill()
    {
        if (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            acc |= w << n;
            const int k = (63 - n) >> 3;
            p += k;
            n += 8 * k;
        } else {
            while (n <= 55 && p < end) { // at most 63 bits, so that any count of them can be skipped
                acc |= static_cast<uint64_t>(*p++) << n;
                n += 8;
            }
        }
    }
    void Skip(int bits)
    {
        acc >>= bits;
        n -= bits;
    }
};

} // namespace

bool TMhDecoder::Decode(const uint8_t* data, size_t size, const TRowSink& sink)
{
    if (ended_)
        return true;
    const TFaxDecodeTables& tables = FaxDecodeTables();
    TBitSource in{data, data + size, pending_, pendingBits_};
    // The state lives in locals (registers) while codes are decoded, and in the members at each EOL.
    int colour = colour_;
    int rowPixels = rowPixels_;
    int eolCount = eolCount_;
    bool counting = !beforeFirstEol_;
    bool fill = inFill_;
    uint8_t* const row = row_;
    for (;;) {
        if (in.n < 16) {
            in.Refill();
            if (in.n == 0)
                break;
        }
        if (!fill) {
            if (error_) {
                // After an invalid code, 1 bits are skipped; the next 0 bit begins a new code.
                const int ones = __builtin_ctzll(~in.acc | (1ull << 63));
                if (ones >= in.n) {
                    in.Skip(in.n);
                    continue;
                }
                in.Skip(ones);
                error_ = false;
                continue;
            }
            TDecodeEntry e = tables.first[colour][in.acc & (kFirstTableSize - 1)];
            if (e.kind == TDecodeKind::Long)
                e = tables.entry[colour][in.acc & (kDecodeTableSize - 1)];
            if (e.bits > in.n)
                break; // a code cut by the end of the piece: the next piece finishes it
            in.Skip(e.bits);
            if (e.kind <= TDecodeKind::MakeUp) {
                if (rowPixels + e.run <= kMaxRowPixels && counting) {
                    if (colour)
                        SetBits(row, rowPixels, e.run);
                    rowPixels += e.run;
                }
                colour ^= e.kind == TDecodeKind::Terminating;
                eolCount = 0;
                continue;
            }
            if (e.kind == TDecodeKind::Invalid) {
                ++badCodes_;
                rowBad_ = rowBad_ || counting;
                error_ = true;
                continue;
            }
            fill = e.kind == TDecodeKind::Zeros;
        }
        if (fill) {
            // Fill zeros before an EOL: find the 1 bit that ends them.
            const int zeros = in.acc ? __builtin_ctzll(in.acc) : 64;
            if (zeros >= in.n) {
                in.Skip(in.n);
                continue;
            }
            in.Skip(zeros + 1);
            fill = false;
        }
        rowPixels_ = rowPixels;
        eolCount_ = eolCount;
        const bool goOn = EndRow(sink, bitsBefore_ + 8 * static_cast<uint64_t>(in.p - data) - static_cast<uint64_t>(in.n));
        rowPixels = 0;
        colour = 0;
        eolCount = eolCount_;
        counting = true;
        if (!goOn) {
            ended_ = true;
            break;
        }
    }
    rowPixels_ = rowPixels;
    colour_ = colour;
    eolCount_ = eolCount;
    inFill_ = fill;
    // Only the bits counted as read are kept: the next piece brings the rest.
    pending_ = in.n > 0 ? in.acc & (~0ull >> (64 - in.n)) : 0;
    pendingBits_ = in.n;
    bitsBefore_ += 8 * static_cast<uint64_t>(size);
    return ended_;
}

bool TMhDecoder::Finish(const TRowSink& sink)
{
    // The data ended without the EOL that ends the last row (a sender that stops after the row, or
    // no RTC): a row of a whole page width is complete all the same.
    if (!ended_ && !beforeFirstEol_ && (rowPixels_ == kNormalLineWidth || rowPixels_ == kWideLineWidth)) {
        const bool goOn = sink(row_, rowPixels_ / 8);
        ended_ = !goOn;
    }
    std::memset(row_, 0, sizeof row_);
    rowPixels_ = 0;
    colour_ = 0;
    pending_ = 0;
    pendingBits_ = 0;
    inFill_ = false;
    return ended_;
}

} // namespace zn::faxdoc
