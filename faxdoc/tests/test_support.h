// Small helpers shared by the document tests: temporary folders, files, fax files built by hand,
// PBM pictures and running peer programs.
#pragma once

#include "faxdoc/mono_bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zn::faxdoc::test {

// A fresh folder removed with everything in it at the end of the test.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> Files() const;

private:
    std::string dir_;
};

std::vector<uint8_t> ReadFile(const std::string& name);
void WriteFile(const std::string& name, const std::vector<uint8_t>& data);
void WriteFile(const std::string& name, const std::string& text);
bool FileExists(const std::string& name);

// A page of a hand-made fax file.
struct TTestPage {
    uint16_t flags = 0;
    std::vector<uint8_t> data; // as stored: records with their counts when flags has bit 2
};
// A fax file with the given pages; `page1Offset` other than 64 leaves a gap after the header.
std::vector<uint8_t> MakeApf(const std::vector<TTestPage>& pages, int page1Offset = 64);
// Records of a page: each row a uint16 count and its bytes.
std::vector<uint8_t> Records(const std::vector<std::vector<uint8_t>>& rows);

// Raster rows, 1 = black, MSB leftmost.
struct TRaster {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bits; // (width + 7) / 8 bytes per row
    int Stride() const { return (width + 7) / 8; }
    uint8_t* Row(int y) { return bits.data() + static_cast<size_t>(y) * Stride(); }
    const uint8_t* Row(int y) const { return bits.data() + static_cast<size_t>(y) * Stride(); }
    void Set(int x, int y) { Row(y)[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7)); }
    bool operator==(const TRaster& o) const { return width == o.width && height == o.height && bits == o.bits; }
};
TRaster Blank(int width, int height);
TRaster ReadPbm(const std::string& name); // P4 or P1
void WritePbm(const std::string& name, const TRaster& r);
// The first `width` columns of a page's rows.
TRaster FromBitmap(const TMonoBitmap& bm, int width);

// Runs a shell command; returns its exit status and fills `output` with its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);
bool HaveProgram(const std::string& name);
std::string TestData(const std::string& relative);
std::string ZnfaxPath();

} // namespace zn::faxdoc::test
