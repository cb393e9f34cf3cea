#include "faxdoc/mh_codes.h"

#include <vector>

namespace zn::faxdoc {
namespace {

// T.4 Table 1: terminating codes, white and black, run lengths 0..63.
constexpr TFaxCode kWhiteTerm[kTermCodes] = {
    {0b00110101, 8}, {0b000111, 6},   {0b0111, 4},     {0b1000, 4},     {0b1011, 4},     {0b1100, 4},
    {0b1110, 4},     {0b1111, 4},     {0b10011, 5},    {0b10100, 5},    {0b00111, 5},    {0b01000, 5},
    {0b001000, 6},   {0b000011, 6},   {0b110100, 6},   {0b110101, 6},   {0b101010, 6},   {0b101011, 6},
    {0b0100111, 7},  {0b0001100, 7},  {0b0001000, 7},  {0b0010111, 7},  {0b0000011, 7},  {0b0000100, 7},
    {0b0101000, 7},  {0b0101011, 7},  {0b0010011, 7},  {0b0100100, 7},  {0b0011000, 7},  {0b00000010, 8},
    {0b00000011, 8}, {0b00011010, 8}, {0b00011011, 8}, {0b00010010, 8}, {0b00010011, 8}, {0b00010100, 8},
    {0b00010101, 8}, {0b00010110, 8}, {0b00010111, 8}, {0b00101000, 8}, {0b00101001, 8}, {0b00101010, 8},
    {0b00101011, 8}, {0b00101100, 8}, {0b00101101, 8}, {0b00000100, 8}, {0b00000101, 8}, {0b00001010, 8},
    {0b00001011, 8}, {0b01010010, 8}, {0b01010011, 8}, {0b01010100, 8}, {0b01010101, 8}, {0b00100100, 8},
    {0b00100101, 8}, {0b01011000, 8}, {0b01011001, 8}, {0b01011010, 8}, {0b01011011, 8}, {0b01001010, 8},
    {0b01001011, 8}, {0b00110010, 8}, {0b00110011, 8}, {0b00110100, 8},
};

constexpr TFaxCode kBlackTerm[kTermCodes] = {
    {0b0000110111, 10},
    {0b010, 3},
    {0b11, 2},
    {0b10, 2},
    {0b011, 3},
    {0b0011, 4},
    {0b0010, 4},
    {0b00011, 5},
    {0b000101, 6},
    {0b000100, 6},
    {0b0000100, 7},
    {0b0000101, 7},
    {0b0000111, 7},
    {0b00000100, 8},
    {0b00000111, 8},
    {0b000011000, 9},
    {0b0000010111, 10},
    {0b0000011000, 10},
    {0b0000001000, 10},
    {0b00001100111, 11},
    {0b00001101000, 11},
    {0b00001101100, 11},
    {0b00000110111, 11},
    {0b00000101000, 11},
    {0b00000010111, 11},
    {0b00000011000, 11},
    {0b000011001010, 12},
    {0b000011001011, 12},
    {0b000011001100, 12},
    {0b000011001101, 12},
    {0b000001101000, 12},
    {0b000001101001, 12},
    {0b000001101010, 12},
    {0b000001101011, 12},
    {0b000011010010, 12},
    {0b000011010011, 12},
    {0b000011010100, 12},
    {0b000011010101, 12},
    {0b000011010110, 12},
    {0b000011010111, 12},
    {0b000001101100, 12},
    {0b000001101101, 12},
    {0b000011011010, 12},
    {0b000011011011, 12},
    {0b000001010100, 12},
    {0b000001010101, 12},
    {0b000001010110, 12},
    {0b000001010111, 12},
    {0b000001100100, 12},
    {0b000001100101, 12},
    {0b000001010010, 12},
    {0b000001010011, 12},
    {0b000000100100, 12},
    {0b000000110111, 12},
    {0b000000111000, 12},
    {0b000000100111, 12},
    {0b000000101000, 12},
    {0b000001011000, 12},
    {0b000001011001, 12},
    {0b000000101011, 12},
    {0b000000101100, 12},
    {0b000001011010, 12},
    {0b000001100110, 12},
    {0b000001100111, 12},
};

// T.4 Table 2: make-up codes 64..1728, entry k for 64 * k (entry 0 unused).
constexpr TFaxCode kWhiteMakeUp[28] = {
    {0, 0},           {0b11011, 5},     {0b10010, 5},     {0b010111, 6},    {0b0110111, 7},   {0b00110110, 8},
    {0b00110111, 8},  {0b01100100, 8},  {0b01100101, 8},  {0b01101000, 8},  {0b01100111, 8},  {0b011001100, 9},
    {0b011001101, 9}, {0b011010010, 9}, {0b011010011, 9}, {0b011010100, 9}, {0b011010101, 9}, {0b011010110, 9},
    {0b011010111, 9}, {0b011011000, 9}, {0b011011001, 9}, {0b011011010, 9}, {0b011011011, 9}, {0b010011000, 9},
    {0b010011001, 9}, {0b010011010, 9}, {0b011000, 6},    {0b010011011, 9},
};

constexpr TFaxCode kBlackMakeUp[28] = {
    {0, 0},
    {0b0000001111, 10},
    {0b000011001000, 12},
    {0b000011001001, 12},
    {0b000001011011, 12},
    {0b000000110011, 12},
    {0b000000110100, 12},
    {0b000000110101, 12},
    {0b0000001101100, 13},
    {0b0000001101101, 13},
    {0b0000001001010, 13},
    {0b0000001001011, 13},
    {0b0000001001100, 13},
    {0b0000001001101, 13},
    {0b0000001110010, 13},
    {0b0000001110011, 13},
    {0b0000001110100, 13},
    {0b0000001110101, 13},
    {0b0000001110110, 13},
    {0b0000001110111, 13},
    {0b0000001010010, 13},
    {0b0000001010011, 13},
    {0b0000001010100, 13},
    {0b0000001010101, 13},
    {0b0000001011010, 13},
    {0b0000001011011, 13},
    {0b0000001100100, 13},
    {0b0000001100101, 13},
};

// T.4 Table 3: extended make-up codes 1792..2560, the same for both colours (entries 28..40).
constexpr TFaxCode kExtendedMakeUp[13] = {
    {0b00000001000, 11},  {0b00000001100, 11},  {0b00000001101, 11},  {0b000000010010, 12}, {0b000000010011, 12},
    {0b000000010100, 12}, {0b000000010101, 12}, {0b000000010110, 12}, {0b000000010111, 12}, {0b000000011100, 12},
    {0b000000011101, 12}, {0b000000011110, 12}, {0b000000011111, 12},
};

constexpr TFaxCode kEol12 = {1, 12};
constexpr TFaxCode kEol16 = {1, 16};

// A binary trie over the codes of one colour, walked bit by bit in the order the bits are sent.
// The node reached by eleven 0 bits loops to itself on a 0 bit, so any fill before an EOL is absorbed.
struct TCodeTrie {
    struct TNode {
        int next[2] = {0, 0}; // 0: no code continues this way (node 0 is the root, never a target)
        bool leaf = false;
        TDecodeKind kind = TDecodeKind::Invalid;
        uint16_t run = 0;
    };
    std::vector<TNode> nodes{1};

    void Add(const TFaxCode& c, TDecodeKind kind, uint16_t run)
    {
        int n = 0;
        for (int i = c.bits - 1; i >= 0; --i) {
            int bit = (c.code >> i) & 1;
            if (nodes[n].next[bit] == 0) {
                nodes[n].next[bit] = static_cast<int>(nodes.size());
                nodes.emplace_back();
            }
            n = nodes[n].next[bit];
        }
        nodes[n].leaf = true;
        nodes[n].kind = kind;
        nodes[n].run = run;
    }

    void LoopFillZeros()
    {
        int n = 0;
        for (int i = 0; i < 11; ++i)
            n = nodes[n].next[0];
        nodes[n].next[0] = n;
    }

    // Walks the first kMaxCodeBits bits of `v` (first bit in bit 0).
    TDecodeEntry Lookup(unsigned v) const
    {
        int n = 0;
        for (int i = 0; i < kMaxCodeBits; ++i) {
            int next = nodes[n].next[(v >> i) & 1];
            uint8_t used = static_cast<uint8_t>(i + 1);
            if (next == 0)
                return {0, used, TDecodeKind::Invalid};
            if (nodes[next].leaf)
                return {nodes[next].run, used, nodes[next].kind};
            n = next;
        }
        return {0, kMaxCodeBits, TDecodeKind::Zeros};
    }
};

TFaxCode Reversed(const TFaxCode& c) { return {ReverseCode(c.code, c.bits), c.bits}; }

// The encoder's tables and the decoder's are built apart, each on first use: a program that only
// codes never pays for the decoder's.
const TFaxCodeTables& CodeTables()
{
    static const TFaxCodeTables* tables = [] {
        static TFaxCodeTables t;
        for (int colour = 0; colour < 2; ++colour) {
            const TRunColour rc = static_cast<TRunColour>(colour);
            for (int run = 0; run < kTermCodes; ++run)
                t.term[colour][run] = Reversed(T4TermCode(rc, run));
            t.makeUp[colour][0] = {0, 0};
            for (int k = 1; k <= kMakeUpCodes; ++k)
                t.makeUp[colour][k] = Reversed(T4MakeUpCode(rc, k));
        }
        t.eol12 = Reversed(kEol12);
        t.eol16 = Reversed(kEol16);
        return &t;
    }();
    return *tables;
}

const TFaxDecodeTables& DecodeTables()
{
    static const TFaxDecodeTables* tables = [] {
        static TFaxDecodeTables t;
        for (int colour = 0; colour < 2; ++colour) {
            const TRunColour rc = static_cast<TRunColour>(colour);
            TCodeTrie trie;
            for (int run = 0; run < kTermCodes; ++run)
                trie.Add(T4TermCode(rc, run), TDecodeKind::Terminating, static_cast<uint16_t>(run));
            for (int k = 1; k <= kMakeUpCodes; ++k)
                trie.Add(T4MakeUpCode(rc, k), TDecodeKind::MakeUp, static_cast<uint16_t>(64 * k));
            trie.Add(kEol12, TDecodeKind::Eol, 0);
            trie.LoopFillZeros();
            // Every code fills the entries that begin with it; the few left over (fill zeros and
            // invalid strings) are walked through the trie.
            std::vector<bool> filled(kDecodeTableSize, false);
            const auto fill = [&](const TFaxCode& c, TDecodeKind kind, int run) {
                const unsigned code = ReverseCode(c.code, c.bits);
                for (unsigned high = 0; high < (1u << (kMaxCodeBits - c.bits)); ++high) {
                    const unsigned v = code | high << c.bits;
                    t.entry[colour][v] = {static_cast<uint16_t>(run), static_cast<uint8_t>(c.bits), kind};
                    filled[v] = true;
                }
            };
            for (int run = 0; run < kTermCodes; ++run)
                fill(T4TermCode(rc, run), TDecodeKind::Terminating, run);
            for (int k = 1; k <= kMakeUpCodes; ++k)
                fill(T4MakeUpCode(rc, k), TDecodeKind::MakeUp, 64 * k);
            for (unsigned v = 0; v < kDecodeTableSize; ++v)
                if (!filled[v])
                    t.entry[colour][v] = trie.Lookup(v);
            for (unsigned v = 0; v < kFirstTableSize; ++v) {
                const TDecodeEntry& e = t.entry[colour][v];
                const bool resolved = e.bits <= kFirstCodeBits && e.kind != TDecodeKind::Zeros;
                t.first[colour][v] = resolved ? e : TDecodeEntry{0, 0, TDecodeKind::Long};
            }
        }
        return &t;
    }();
    return *tables;
}

} // namespace

uint16_t ReverseCode(uint16_t code, int bits)
{
    uint16_t r = 0;
    for (int i = 0; i < 16; ++i)
        r = static_cast<uint16_t>(r | (((code >> i) & 1u) << (15 - i)));
    return static_cast<uint16_t>(r >> (16 - bits));
}

const TFaxCode& T4TermCode(TRunColour colour, int run)
{
    return colour == TRunColour::White ? kWhiteTerm[run] : kBlackTerm[run];
}

const TFaxCode& T4MakeUpCode(TRunColour colour, int k)
{
    if (k >= 28)
        return kExtendedMakeUp[k - 28];
    return colour == TRunColour::White ? kWhiteMakeUp[k] : kBlackMakeUp[k];
}

void InitFaxCodeTables()
{
    (void)CodeTables();
    (void)DecodeTables();
}
const TFaxCodeTables& FaxCodeTables() { return CodeTables(); }
const TFaxDecodeTables& FaxDecodeTables() { return DecodeTables(); }

} // namespace zn::faxdoc
