// Writing one monochrome page (1 = black) as a PCX, DCX, TIFF (PackBits) or BMP file: row by row
// into a file, or a whole page in memory.
#pragma once

#include "faxdoc/file_io.h"
#include "faxdoc/mono_bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zn::faxdoc {

constexpr uint32_t kDcxSignature = 0x3ADE68B1;
constexpr int kDcxHeaderSize = 4100; // the signature and 1024 page offsets
constexpr int kPcxHeaderSize = 128;
constexpr int kTiffStripOffset = 122;
// PCX keeps the last row's number in 16 bits; some readers take it as signed, so the tallest page
// a PCX or DCX file holds is 65535 rows.
constexpr int kPcxMaxRows = 65535;

enum class TPageFileKind { Pcx, Dcx, Tiff, Bmp };

// A page file written as its rows come: the header is completed when the writer closes, so the
// row count need not be known at the start. Memory is a row and the writer's buffer.
class TPageFileWriter {
public:
    // `stride` bytes per row (even); the page is stride x 8 pixels wide.
    int Create(const std::string& name, TPageFileKind kind, int stride);
    // One row of `stride` bytes. A PCX or DCX page refuses its 65536th row (-8058).
    int WriteRow(const uint8_t* row);
    int Close();
    void Discard() { out_.Discard(); }
    int Rows() const { return rows_; }

private:
    int ReverseRows(); // BMP keeps its rows bottom-up: they are written top-down and turned round

    TBufferedWriter out_;
    TPageFileKind kind_ = TPageFileKind::Pcx;
    int stride_ = 0;
    int rows_ = 0;
    int64_t imageStart_ = 0;
    std::vector<uint8_t> coded_;
};

// "PCX", "DCX", "TIF" or "BMP".
const char* DefaultPageExtension(TPageFileKind kind);

// The encoded file in memory.
std::vector<uint8_t> EncodePage(TPageFileKind kind, const TMonoBitmap& page);
std::vector<uint8_t> EncodePcx(const TMonoBitmap& page);
std::vector<uint8_t> EncodeDcx(const TMonoBitmap& page);
std::vector<uint8_t> EncodeTiff(const TMonoBitmap& page);
std::vector<uint8_t> EncodeBmp(const TMonoBitmap& page);

// Writes `data` as file `name`; on failure no file is left and the negated I/O code returned.
int WriteFileData(const std::string& name, const std::vector<uint8_t>& data);

} // namespace zn::faxdoc
