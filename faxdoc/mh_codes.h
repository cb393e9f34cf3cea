// T.4 one-dimensional (Modified Huffman) code tables, in the program's own form: the encoder's
// bit-reversed codes and the decoder's lookup tables, both built once from the tables of T.4.
#pragma once

#include <cstdint>

namespace zn::faxdoc {

// A code as (bits, bit count). In the T.4 tables the first bit sent is the top bit of `code`;
// in the reversed tables it is bit 0, so that codes can be ORed into an LSB-first stream.
struct TFaxCode {
    uint16_t code;
    uint16_t bits;
};

enum class TRunColour { White = 0, Black = 1 };

constexpr int kTermCodes = 64;   // run lengths 0..63
constexpr int kMakeUpCodes = 40; // entry k stands for a run of 64 * k, k = 1..40 (up to 2560)
constexpr int kMaxMakeUpRun = 64 * kMakeUpCodes;
constexpr int kMaxCodeBits = 13; // the black make-up codes from 512 on

// Bit-reversed code tables, filled by InitFaxCodeTables.
struct TFaxCodeTables {
    TFaxCode term[2][kTermCodes];
    TFaxCode makeUp[2][kMakeUpCodes + 1]; // index k; entry 0 unused
    TFaxCode eol12;                       // 000000000001
    TFaxCode eol16;                       // 0000000000000001
};

// Decoder lookup: indexed by the next kMaxCodeBits bits of the stream (first bit in bit 0).
enum class TDecodeKind : uint8_t {
    Terminating, // run of `run` (0..63): the colour changes after it
    MakeUp,      // run of `run` (64..2560): the colour stays
    Eol,         // any number (>= 11) of zeros and a 1
    Zeros,       // kMaxCodeBits zeros: fill before an EOL, keep counting
    Invalid,     // no code starts with the first `bits` bits
    Long,        // (first table only) the code is longer than kFirstCodeBits: look in the full table
};

struct TDecodeEntry {
    uint16_t run;
    uint8_t bits;
    TDecodeKind kind;
};

constexpr int kDecodeTableSize = 1 << kMaxCodeBits;
// Most codes are short: a small first table keeps them in the fastest cache.
constexpr int kFirstCodeBits = 9;
constexpr int kFirstTableSize = 1 << kFirstCodeBits;

struct TFaxDecodeTables {
    TDecodeEntry first[2][kFirstTableSize];
    TDecodeEntry entry[2][kDecodeTableSize];
};

// Builds the reversed tables and the decoder tables once; later calls return at once. The coders
// build what they use on first use, so calling it at start-up only moves the work there.
void InitFaxCodeTables();

const TFaxCodeTables& FaxCodeTables();
const TFaxDecodeTables& FaxDecodeTables();

// The T.4 tables as written in the standard (first bit sent = top bit of the code).
const TFaxCode& T4TermCode(TRunColour colour, int run);
const TFaxCode& T4MakeUpCode(TRunColour colour, int k);

// Reverses the low `bits` bits of `code`.
uint16_t ReverseCode(uint16_t code, int bits);

} // namespace zn::faxdoc
