#include "apf_test_pages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <unistd.h>

#include <tiffio.h>

namespace zn::comms::test {

namespace {
using TiffPtr = std::unique_ptr<TIFF, void (*)(TIFF*)>;

void Put16(std::string& s, uint32_t v)
{
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A scratch TIFF file for libtiff in the temporary folder ($TMPDIR, else /tmp), removed with
// this object on every path.
class ScratchTiff {
public:
    ScratchTiff()
    {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/zn-apf-XXXXXX.tif";
        const int fd = mkstemps(path_.data(), 4);
        if (fd >= 0)
            close(fd);
        else
            path_.clear();
    }
    ~ScratchTiff()
    {
        if (!path_.empty())
            std::remove(path_.c_str());
    }
    ScratchTiff(const ScratchTiff&) = delete;
    ScratchTiff& operator=(const ScratchTiff&) = delete;
    const char* c_str() const { return path_.c_str(); }

private:
    std::string path_;
};

void SetG3Fields(TIFF* t, int width, int height, int rowsPerStrip)
{
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(rowsPerStrip));
}

// Each row MH-coded behind its EOL, LSB first, as one strip per row.
bool CodeRows(const faxline::Bitmap& b, std::vector<std::string>& rows)
{
    ScratchTiff tmp;
    {
        TiffPtr t(TIFFOpen(tmp.c_str(), "w"), TIFFClose);
        if (!t)
            return false;
        SetG3Fields(t.get(), b.width, b.height, 1);
        TIFFSetField(t.get(), TIFFTAG_FAXMODE, FAXMODE_CLASSF | FAXMODE_NORTC);
        std::vector<uint8_t> row(size_t(b.RowBytes()));
        for (int y = 0; y < b.height; ++y) {
            std::memcpy(row.data(), b.bits.data() + size_t(y) * row.size(), row.size());
            if (TIFFWriteScanline(t.get(), row.data(), uint32_t(y), 0) < 0)
                return false;
        }
    }
    TiffPtr t(TIFFOpen(tmp.c_str(), "r"), TIFFClose);
    if (!t)
        return false;
    tmsize_t n = TIFFNumberOfStrips(t.get());
    std::vector<uint8_t> buf(65536);
    for (tmsize_t s = 0; s < n; ++s) {
        tmsize_t got = TIFFReadRawStrip(t.get(), uint32_t(s), buf.data(), tmsize_t(buf.size()));
        if (got < 0)
            return false;
        rows.emplace_back(reinterpret_cast<char*>(buf.data()), size_t(got));
        rows.back() += '\0';
    }
    return true;
}

int CountEols(const std::string& data)
{
    int eols = 0, zeros = 0;
    for (unsigned char c : data)
        for (int bit = 0; bit < 8; ++bit) {
            if (c & (1 << bit)) {
                if (zeros >= 11)
                    ++eols;
                zeros = 0;
            } else {
                ++zeros;
            }
        }
    return eols;
}

// The stream up to its RTC (six EOLs with no row between): a fax decoder reads no further.
std::string UpToRtc(const std::string& data)
{
    int zeros = 0, eols = 0;
    for (size_t i = 0; i < data.size(); ++i)
        for (int bit = 0; bit < 8; ++bit) {
            if (!(uint8_t(data[i]) & (1 << bit))) {
                ++zeros;
                continue;
            }
            eols = zeros >= 11 ? eols + 1 : 0;
            zeros = 0;
            if (eols == 2)
                return data.substr(0, i + 1);
        }
    return data;
}

bool DecodePage(const std::string& whole, int width, faxline::Bitmap& page)
{
    std::string stream = UpToRtc(whole);
    int rows = CountEols(stream);
    ScratchTiff tmp;
    {
        TiffPtr t(TIFFOpen(tmp.c_str(), "w"), TIFFClose);
        if (!t)
            return false;
        SetG3Fields(t.get(), width, rows, rows);
        if (TIFFWriteRawStrip(t.get(), 0, const_cast<char*>(stream.data()), tmsize_t(stream.size())) < 0)
            return false;
    }
    TiffPtr t(TIFFOpen(tmp.c_str(), "r"), TIFFClose);
    if (!t)
        return false;
    page.width = width;
    page.height = 0;
    page.bits.clear();
    std::vector<uint8_t> row(size_t((width + 7) / 8));
    for (int y = 0; y < rows; ++y) {
        if (TIFFReadScanline(t.get(), row.data(), uint32_t(y), 0) < 0)
            break;
        page.bits.insert(page.bits.end(), row.begin(), row.end());
        ++page.height;
    }
    return true;
}

uint32_t Get32(const std::string& s, size_t at)
{
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16
           | uint32_t(uint8_t(s[at + 3])) << 24;
}
} // namespace

bool WriteApf(const std::string& path, const std::vector<faxline::Bitmap>& pages, bool fine)
{
    TIFFSetWarningHandler(nullptr);
    std::string file;
    file += "APF10\x1A";
    Put32(file, 0);
    file += char(4);
    file += "TEST";
    file += std::string(16, ' ');
    file += char(0);
    Put16(file, uint32_t(pages.size()));
    Put32(file, 64);
    file += std::string(26, '\0');
    static const char endOfPage[12] = {0x00, char(0x80), 0x00, 0x08, char(0x80), 0x00,
                                       0x08, char(0x80), 0x00, 0x08, char(0x80), 0x00};
    for (const auto& page : pages) {
        std::vector<std::string> rows;
        if (!CodeRows(page, rows))
            return false;
        std::string body;
        for (const auto& r : rows) {
            Put16(body, uint32_t(r.size()));
            body += r;
        }
        Put16(body, 12);
        body.append(endOfPage, 12);
        Put32(file, uint32_t(body.size()));
        bool pageFine = page.yResolution > 0 ? page.yResolution > 150 : fine;
        Put16(file, (pageFine ? 1 : 0) | (page.width == 2048 ? 2 : 0) | 4);
        file += std::string(10, '\0');
        file += body;
    }
    std::ofstream out(path, std::ios::binary);
    out << file;
    return bool(out.flush());
}

bool ReadApf(const std::string& path, std::vector<faxline::Bitmap>& pages, std::vector<bool>* fine)
{
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 64 || file.compare(0, 6, "APF10\x1A") != 0)
        return false;
    int count = uint8_t(file[32]) | uint8_t(file[33]) << 8;
    size_t at = Get32(file, 34);
    pages.clear();
    for (int p = 0; p < count; ++p) {
        if (at + 16 > file.size())
            return false;
        uint32_t length = Get32(file, at);
        int flags = uint8_t(file[at + 4]);
        if (at + 16 + length > file.size())
            return false;
        std::string body = file.substr(at + 16, length);
        std::string stream;
        if (flags & 4) {
            for (size_t i = 0; i + 2 <= body.size();) {
                size_t n = uint8_t(body[i]) | uint8_t(body[i + 1]) << 8;
                stream += body.substr(i + 2, n);
                i += 2 + n;
            }
        } else {
            stream = body;
        }
        faxline::Bitmap page;
        if (!DecodePage(stream, (flags & 2) ? 2048 : 1728, page))
            return false;
        pages.push_back(page);
        if (fine)
            fine->push_back(flags & 1);
        at += 16 + length;
    }
    return true;
}

faxline::Bitmap TrimWhiteRows(const faxline::Bitmap& page)
{
    int first = 0, last = page.height;
    while (first < last && page.RowIsWhite(first))
        ++first;
    while (last > first && page.RowIsWhite(last - 1))
        --last;
    return page.Rows(first, last - first);
}

} // namespace zn::comms::test
