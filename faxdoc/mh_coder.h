// Coding raster rows into T.4 one-dimensional (MH) code and back, bits packed LSB first.
// Raster rows: bit 7 of byte 0 is the leftmost pixel, 1 = black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace zn::faxdoc {

constexpr int kNormalLineWidth = 1728;
constexpr int kWideLineWidth = 2048;
constexpr int kCodedRowBufferSize = 4096;
constexpr int kEndOfPageBytes = 12;
// The 16-bit EOL, white make-up 1728 and white terminating 0: the top-margin row of 1728-pixel pages.
extern const uint8_t kBlankRow1728[6];
// The 16-bit EOL, white extended make-up 2048 and white terminating 0: the same for 2048-pixel pages.
extern const uint8_t kBlankRow2048[6];

// Codes one row behind a 16-bit EOL into `out` (kCodedRowBufferSize bytes) and returns the byte count:
// the index of the byte holding the last code bit plus 2, so the row ends with one whole zero byte.
// The coded row is exactly `lineWidth` pixels: `leftMargin` white pixels, then the raster's pixels
// (each twice when `doubleWidth`), cut or filled with white at the row width.
int CodeRasterRow(const uint8_t* raster, int rasterBytes, int lineWidth, int leftMargin, bool doubleWidth,
                  uint8_t* out);

// The end-of-page block: a 16-bit EOL, six 12-bit EOLs and a zero byte. Returns kEndOfPageBytes.
int MakeEndOfPage(uint8_t* out);

// An all-white row of `lineWidth` pixels as the coder writes it; returns the byte count.
int CodeBlankRow(int lineWidth, uint8_t* out);

// Decodes an MH bit stream into rows. Rows are delivered at the EOL that ends them, and only when
// they are exactly 1728 or 2048 pixels wide (216 or 256 bytes); runs before the first EOL are ignored.
class TMhDecoder {
public:
    static constexpr int kMaxRowPixels = 4096;
    static constexpr int kRowBufferBytes = 528;
    // Gets each row (1 = black, MSB leftmost) and its byte count; returns false to stop.
    using TRowSink = std::function<bool(const uint8_t* row, int bytes)>;

    TMhDecoder();
    // Decodes a page's bit stream, whole or in consecutive pieces (a code cut at the end of a piece
    // is finished by the next). Returns true when the page ended: at the third EOL in a row without
    // a run between them, or when the sink asked to stop.
    bool Decode(const uint8_t* data, size_t size, const TRowSink& sink);
    // Called after the last piece: a last row of a whole page width that the data ends without an
    // EOL is delivered too. Returns true when the sink asked to stop (or the page had ended).
    bool Finish(const TRowSink& sink);
    int BadCodes() const { return badCodes_; }
    bool Ended() const { return ended_; }
    // The copy quality of what was decoded so far: rows ended by an EOL (the first EOL and the
    // end-of-page EOLs start no row), the bad ones among them (an invalid code, or a width other
    // than a page's), and the longest run of bad rows in a row. Line noise that swallows EOLs turns
    // many rows into one long bad one: LostRows is how many more rows the bad ones' bits would have
    // held at the good rows' mean length, and the longest run counts them too.
    int Rows() const { return rows_; }
    int BadRows() const { return badRows_; }
    int LostRows() const;
    int MostConsecutiveBadRows() const;
    // The rows' worth of bits (at the good rows' mean length, rounded down) after the last EOL when
    // they are no whole row: noise at the end of the data, a page cut off in mid-row. A whole last
    // row without its EOL (a sender that ends its page after the last row) counts nothing.
    int UnfinishedRows() const;

private:
    bool EndRow(const TRowSink& sink, uint64_t bitPosition);
    // Rows' worth of bits at the good rows' mean length (at least 1 per bad row).
    int RowsOfBits(uint64_t bits, int rows) const;

    uint8_t row_[kRowBufferBytes];
    int rowPixels_ = 0;
    int colour_ = 0;
    int eolCount_ = 0;
    bool beforeFirstEol_ = true;
    bool error_ = false;
    bool ended_ = false;
    bool inFill_ = false;  // within the fill zeros of an EOL when a piece ended
    uint64_t pending_ = 0; // bits of the last piece not yet decoded, first bit in bit 0
    int pendingBits_ = 0;
    int badCodes_ = 0;
    bool rowBad_ = false; // the row being decoded had an invalid code
    int rows_ = 0;
    int badRows_ = 0;
    int badRun_ = 0;
    int longestBadRun_ = 0;
    uint64_t bitsBefore_ = 0; // bits of the pieces before the current one
    uint64_t rowStart_ = 0;   // bit position of the EOL that began the row
    uint64_t goodBits_ = 0;
    uint64_t badBits_ = 0;
    uint64_t badRunBits_ = 0;
    int longestBadRunRows_ = 0; // the longest run in rows' worth of bits
};

} // namespace zn::faxdoc
