// The MH coder against libtiff's own fax codec, in one process, on the eight ITU charts: both code
// every row one-dimensionally (G3 1D through TIFFWriteScanline) and decode it again
// (TIFFReadScanline), all in memory.
#include "faxdoc/mh_coder.h"
#include "faxdoc/mh_codes.h"

#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

struct TPage {
    int width = 0, height = 0;
    Bytes bits; // P4 rows
};

TPage ReadPbm(const std::string& name)
{
    std::ifstream f(name, std::ios::binary);
    std::string magic;
    TPage p;
    f >> magic >> p.width >> p.height;
    f.get();
    p.bits.resize(static_cast<size_t>((p.width + 7) / 8 * p.height));
    f.read(reinterpret_cast<char*>(p.bits.data()), static_cast<std::streamsize>(p.bits.size()));
    if (magic != "P4" || !f) {
        std::fprintf(stderr, "%s: not a P4 PBM file\n", name.c_str());
        std::exit(1);
    }
    return p;
}

// ---- zn -------------------------------------------------------------------------------------------

Bytes ZnEncode(const TPage& p)
{
    using namespace zn::faxdoc;
    Bytes out;
    out.reserve(p.bits.size() / 4);
    uint8_t raster[kCodedRowBufferSize] = {};
    uint8_t row[kCodedRowBufferSize];
    const int stride = p.width / 8;
    for (int y = 0; y < p.height; ++y) {
        std::memcpy(raster, &p.bits[static_cast<size_t>(y * stride)], static_cast<size_t>(stride));
        const int n = CodeRasterRow(raster, stride, p.width, 0, false, row);
        out.push_back(static_cast<uint8_t>(n));
        out.push_back(static_cast<uint8_t>(n >> 8));
        out.insert(out.end(), row, row + n);
    }
    uint8_t eop[kEndOfPageBytes];
    MakeEndOfPage(eop);
    out.insert(out.end(), eop, eop + kEndOfPageBytes);
    return out;
}

// The page's stream (record counts stripped, as the unpacker reads it) into rows.
size_t ZnDecode(const Bytes& stream, Bytes& page)
{
    using namespace zn::faxdoc;
    page.clear();
    TMhDecoder d;
    d.Decode(stream.data(), stream.size(), [&](const uint8_t* row, int n) {
        page.insert(page.end(), row, row + n);
        return true;
    });
    return page.size();
}

Bytes StripRecords(const Bytes& records, size_t eopBytes)
{
    Bytes out;
    size_t i = 0;
    while (i + 2 <= records.size() - eopBytes) {
        const size_t n = records[i] | records[i + 1] << 8;
        out.insert(out.end(), records.begin() + static_cast<long>(i + 2),
                   records.begin() + static_cast<long>(i + 2 + n));
        i += 2 + n;
    }
    out.insert(out.end(), records.end() - static_cast<long>(eopBytes), records.end());
    return out;
}

// ---- libtiff, on a file in memory -------------------------------------------------------------------

struct TMemFile {
    Bytes data;
    toff_t pos = 0;
};

tmsize_t MemRead(thandle_t h, void* buf, tmsize_t n)
{
    auto* m = static_cast<TMemFile*>(h);
    const tmsize_t left = static_cast<tmsize_t>(m->data.size()) - static_cast<tmsize_t>(m->pos);
    const tmsize_t k = std::max<tmsize_t>(0, std::min(n, left));
    std::memcpy(buf, m->data.data() + m->pos, static_cast<size_t>(k));
    m->pos += static_cast<toff_t>(k);
    return k;
}
tmsize_t MemWrite(thandle_t h, void* buf, tmsize_t n)
{
    auto* m = static_cast<TMemFile*>(h);
    if (m->pos + static_cast<toff_t>(n) > m->data.size())
        m->data.resize(m->pos + static_cast<toff_t>(n));
    std::memcpy(m->data.data() + m->pos, buf, static_cast<size_t>(n));
    m->pos += static_cast<toff_t>(n);
    return n;
}
toff_t MemSeek(thandle_t h, toff_t off, int whence)
{
    auto* m = static_cast<TMemFile*>(h);
    m->pos = whence == SEEK_SET ? off : whence == SEEK_CUR ? m->pos + off : m->data.size() + off;
    return m->pos;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<TMemFile*>(h)->data.size(); }
int MemMap(thandle_t, void**, toff_t*) { return 0; }
void MemUnmap(thandle_t, void*, toff_t) {}

TIFF* MemOpen(TMemFile& m, const char* mode)
{
    m.pos = 0;
    return TIFFClientOpen("mem", mode, &m, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap);
}

void TiffEncode(const TPage& p, TMemFile& m)
{
    m.data.clear();
    m.data.reserve(p.bits.size() / 4);
    TIFF* t = MemOpen(m, "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0); // one-dimensional
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, p.height);
    const int stride = p.width / 8;
    Bytes row(static_cast<size_t>(stride));
    for (int y = 0; y < p.height; ++y) {
        std::memcpy(row.data(), &p.bits[static_cast<size_t>(y * stride)], row.size());
        TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(t);
}

size_t TiffDecode(TMemFile& m, Bytes& page)
{
    TIFF* t = MemOpen(m, "r");
    uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    const size_t stride = (w + 7) / 8;
    page.resize(stride * h);
    for (uint32_t y = 0; y < h; ++y)
        TIFFReadScanline(t, &page[y * stride], y, 0);
    TIFFClose(t);
    return page.size();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : std::string(ZN_SOURCE_DIR) + "/tests/data/itu-charts";
    const int passes = argc > 2 ? std::atoi(argv[2]) : 2;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 25;
    zn::faxdoc::InitFaxCodeTables();
    TIFFSetWarningHandler(nullptr);
    std::vector<TPage> pages;
    for (int i = 1; i <= 8; ++i)
        pages.push_back(ReadPbm(dir + "/itu" + std::to_string(i) + ".pbm"));

    // Both coders must agree with the pictures before they are timed.
    std::vector<Bytes> znStreams, znRecords;
    std::vector<TMemFile> tiffs(pages.size());
    Bytes page;
    for (size_t i = 0; i < pages.size(); ++i) {
        znRecords.push_back(ZnEncode(pages[i]));
        znStreams.push_back(StripRecords(znRecords.back(), zn::faxdoc::kEndOfPageBytes));
        TiffEncode(pages[i], tiffs[i]);
        if (ZnDecode(znStreams[i], page) != pages[i].bits.size() || page != pages[i].bits
            || TiffDecode(tiffs[i], page) != pages[i].bits.size() || page != pages[i].bits) {
            std::fprintf(stderr, "chart %zu does not decode back to itself\n", i + 1);
            return 1;
        }
    }

    // The four timings take turns, so that both coders meet the same load on the machine.
    volatile size_t sink = 0;
    double znEnc = 1e100, tiffEnc = 1e100, znDec = 1e100, tiffDec = 1e100;
    const auto time = [](double& best, auto&& work) {
        const auto t0 = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    };
    for (int round = 0; round < rounds; ++round) {
        time(znEnc, [&] {
            for (int p = 0; p < passes; ++p)
                for (const TPage& pg : pages)
                    sink = sink + ZnEncode(pg).size();
        });
        time(tiffEnc, [&] {
            for (int p = 0; p < passes; ++p)
                for (size_t i = 0; i < pages.size(); ++i) {
                    TMemFile m;
                    TiffEncode(pages[i], m);
                    sink = sink + m.data.size();
                }
        });
        time(znDec, [&] {
            for (int p = 0; p < passes; ++p)
                for (const Bytes& s : znStreams)
                    sink = sink + ZnDecode(s, page);
        });
        time(tiffDec, [&] {
            for (int p = 0; p < passes; ++p)
                for (TMemFile& m : tiffs)
                    sink = sink + TiffDecode(m, page);
        });
    }

    const int n = passes * static_cast<int>(pages.size());
    std::printf("MH coding of the 8 ITU charts, %d pages per figure (ms per page, best of %d rounds)\n", n, rounds);
    std::printf("%-8s %12s %12s %12s\n", "work", "zn", "libtiff", "libtiff/zn");
    std::printf("%-8s %12.3f %12.3f %12.2f\n", "encode", znEnc / n, tiffEnc / n, tiffEnc / znEnc);
    std::printf("%-8s %12.3f %12.3f %12.2f\n", "decode", znDec / n, tiffDec / n, tiffDec / znDec);
    return 0;
}
