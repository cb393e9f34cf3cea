#include "faxdoc/converter.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/raster_ops.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace zn::faxdoc {
namespace {

constexpr uint32_t kTiffNone = 1;
constexpr uint32_t kTiffPackBits = 32773;

uint32_t U16(const uint8_t* p, bool big)
{
    return big ? static_cast<uint32_t>(p[0] << 8 | p[1]) : static_cast<uint32_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p, bool big)
{
    return big ? (U16(p, big) << 16 | U16(p + 2, big)) : (U16(p, big) | U16(p + 2, big) << 16);
}

// The values of one IFD entry (BYTE, SHORT or LONG), at most `limit` of them.
bool EntryValues(TInFile& f, bool big, const uint8_t* entry, std::vector<uint32_t>& out, size_t limit)
{
    const uint32_t type = U16(entry + 2, big);
    const uint32_t count = U32(entry + 4, big);
    const size_t size = type == 1 ? 1 : type == 3 ? 2 : type == 4 ? 4 : 0;
    if (size == 0 || count == 0 || count > limit)
        return false;
    std::vector<uint8_t> bytes(size * count);
    if (size * count <= 4)
        std::memcpy(bytes.data(), entry + 8, bytes.size());
    else if (f.ReadAt(U32(entry + 8, big), bytes.data(), bytes.size()) != ecOK)
        return false;
    out.clear();
    for (size_t i = 0, at = 0; i < count; ++i, at += size)
        out.push_back(size == 1 ? bytes[at] : size == 2 ? U16(&bytes[at], big) : U32(&bytes[at], big));
    return true;
}

} // namespace

int TTiffReader::Open(ConverterState& state, const std::string& name)
{
    if (int rc = file_.Open(name); rc < 0)
        return rc;
    uint8_t head[8];
    if (file_.ReadAt(0, head, sizeof head) != ecOK
        || !((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M')))
        return file_.Error() < 0 ? file_.Error() : ecBadGraphicsFormat;
    bigEndian_ = head[0] == 'M';
    // The pages are the chain of IFDs; a chain that comes back on itself is no TIFF.
    pages_.clear();
    std::unordered_set<uint32_t> seen;
    for (uint32_t ifd = U32(head + 4, bigEndian_); ifd != 0;) {
        if (pages_.size() >= kMaxApfPages)
            return ecTooManyPages;
        uint8_t count[2];
        if (!seen.insert(ifd).second)
            return ecBadGraphicsFormat;
        if (file_.ReadAt(ifd, count, 2) != ecOK) {
            if (pages_.empty())
                return ecBadGraphicsFormat;
            break; // a later page that is not there: the pages before it are the picture
        }
        pages_.push_back(ifd);
        uint8_t next[4];
        if (file_.ReadAt(ifd + 2 + 12 * static_cast<int64_t>(U16(count, bigEndian_)), next, 4) != ecOK)
            break; // the last IFD may end the file without its next-IFD offset
        ifd = U32(next, bigEndian_);
    }
    if (pages_.empty())
        return ecBadGraphicsFormat;
    page_ = 0;
    used_.Clear();
    return OpenPage(state);
}

int TTiffReader::OpenPage(ConverterState& state)
{
    const int64_t ifd = pages_[page_];
    uint8_t count[2];
    if (file_.ReadAt(ifd, count, 2) != ecOK)
        return ecBadGraphicsFormat;
    const uint32_t entries = U16(count, bigEndian_);
    std::vector<uint8_t> table(12 * static_cast<size_t>(entries));
    if (file_.ReadAt(ifd + 2, table.data(), table.size()) != ecOK)
        return ecBadGraphicsFormat;
    bool haveWidth = false, haveLength = false;
    uint32_t bits = 1;
    compression_ = kTiffNone;
    invert_ = false;
    rowsPerStrip_ = 0;
    stripOffsets_.clear();
    stripCounts_.clear();
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = &table[12 * static_cast<size_t>(i)];
        std::vector<uint32_t> v;
        const uint32_t tag = U16(e, bigEndian_);
        const bool many = tag == 273 || tag == 279;
        if (tag != 256 && tag != 257 && tag != 258 && tag != 259 && tag != 262 && tag != 278 && !many)
            continue;
        // A strip holds at least one row: a page has no more strips than a page has rows.
        if (!EntryValues(file_, bigEndian_, e, v, many ? kMaxPageRows : 16))
            return ecBadGraphicsFormat;
        switch (tag) {
        case 256:
            width_ = v[0];
            haveWidth = true;
            break;
        case 257:
            length_ = v[0];
            haveLength = true;
            break;
        case 258: bits = v[0]; break;
        case 259: compression_ = v[0]; break;
        case 262: invert_ = v[0] != 0; break;
        case 273: stripOffsets_ = v; break;
        case 278: rowsPerStrip_ = v[0]; break;
        case 279: stripCounts_ = v; break;
        }
    }
    if (!haveWidth || !haveLength || stripOffsets_.empty() || width_ == 0 || bits != 1
        || (compression_ != kTiffNone && compression_ != kTiffPackBits))
        return ecBadGraphicsFormat;
    if (int rc = CheckImageSize(width_, length_); rc < 0)
        return rc;
    // PackBits strips end where their byte count says: without the counts there is no telling.
    if (compression_ == kTiffPackBits && stripCounts_.size() < stripOffsets_.size())
        return ecBadGraphicsFormat;
    if (rowsPerStrip_ == 0 || rowsPerStrip_ > length_)
        rowsPerStrip_ = length_;
    // Every strip's data belongs to it alone, on this page and on all before it.
    const uint64_t rowBytes = (static_cast<uint64_t>(width_) + 7) / 8;
    for (size_t s = 0; s < stripOffsets_.size(); ++s) {
        const uint64_t first = static_cast<uint64_t>(s) * rowsPerStrip_;
        if (first >= length_)
            break;
        const uint64_t rows = std::min<uint64_t>(rowsPerStrip_, length_ - first);
        uint64_t bytes = compression_ == kTiffNone ? rows * rowBytes : stripCounts_[s];
        if (s < stripCounts_.size())
            bytes = std::min<uint64_t>(bytes, stripCounts_[s]);
        if (!used_.Take(stripOffsets_[s], static_cast<int64_t>(stripOffsets_[s] + bytes)))
            return ecBadGraphicsFormat;
    }
    row_ = 0;
    strip_ = 0;
    rowInStrip_ = 0;
    stripRows_ = 0;
    end_ = 0;
    const int rowBytesKept = static_cast<int>(std::min<uint64_t>(rowBytes, kRasterBufferSize));
    state.DecideImageLayout(static_cast<int>(std::min<uint32_t>(width_, kRasterBufferSize * 8)), false);
    state.bytesRead = 0;
    state.bytesTotal = static_cast<int64_t>(length_) * rowBytesKept;
    return ecOK;
}

// Strips in order, rowsPerStrip rows each, the last strip holding the rest.
int TTiffReader::NextStrip()
{
    if (row_ != 0)
        ++strip_;
    if (strip_ >= stripOffsets_.size())
        return ecDeviceRead;
    const int64_t begin = stripOffsets_[strip_];
    const int64_t size = file_.Size();
    const int64_t count = strip_ < stripCounts_.size() ? stripCounts_[strip_] : size;
    if (begin > size)
        return ecDeviceRead;
    end_ = std::min(size, begin + count);
    file_.Seek(begin);
    rowInStrip_ = 0;
    stripRows_ = strip_ + 1 == stripOffsets_.size() ? length_ - row_ : rowsPerStrip_;
    return ecOK;
}

int TTiffReader::ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage)
{
    morePages = page_ + 1 < pages_.size();
    endOfPage = row_ >= length_;
    const uint32_t rowBytes = static_cast<uint32_t>((static_cast<uint64_t>(width_) + 7) / 8);
    const uint32_t kept = std::min<uint32_t>(rowBytes, kRasterBufferSize);
    bytes = static_cast<int>(kept);
    if (endOfPage) {
        if (morePages) {
            ++page_;
            return OpenPage(state);
        }
        return ecOK;
    }
    if (row_ == 0 || rowInStrip_ == stripRows_)
        if (int rc = NextStrip(); rc < 0)
            return rc;
    const auto readFailure = [&] { return file_.Error() < 0 ? file_.Error() : ecDeviceRead; };
    if (compression_ == kTiffNone) {
        if (end_ - file_.Position() < rowBytes)
            return ecDeviceRead;
        if (file_.Read(raster, kept) != static_cast<long>(kept))
            return readFailure();
        if (rowBytes > kept)
            file_.Seek(file_.Position() + (rowBytes - kept));
    } else {
        // PackBits: n < 128 copies n + 1 bytes; otherwise 257 - n copies of the next byte (128 is a no-op).
        uint32_t done = 0;
        while (done < rowBytes) {
            if (file_.Position() >= end_)
                return ecDeviceRead;
            const int n = file_.GetByte();
            if (n < 0)
                return readFailure();
            if (n < 128) {
                const uint32_t count = static_cast<uint32_t>(n) + 1;
                if (end_ - file_.Position() < count)
                    return ecDeviceRead;
                const uint32_t copied = done < kept ? std::min(count, kept - done) : 0;
                if (copied > 0 && file_.Read(raster + done, copied) != static_cast<long>(copied))
                    return readFailure();
                if (count > copied)
                    file_.Seek(file_.Position() + (count - copied));
                done += count;
            } else if (n > 128) {
                if (file_.Position() >= end_)
                    return ecDeviceRead;
                const int b = file_.GetByte();
                if (b < 0)
                    return readFailure();
                const uint32_t count = 257u - static_cast<uint32_t>(n);
                if (done < kept)
                    std::memset(raster + done, b, std::min(count, kept - done));
                done += count;
            }
        }
    }
    if (invert_)
        InvertBytes(raster, kept);
    if (width_ % 8 && kept == rowBytes)
        raster[kept - 1] &= static_cast<uint8_t>(0xFF00 >> (width_ % 8));
    state.ShiftRow(raster, static_cast<int>(kept));
    ++row_;
    ++rowInStrip_;
    state.bytesRead += kept;
    return ecOK;
}

void TTiffReader::Close(ConverterState&)
{
    file_.Close();
    pages_.clear();
    used_.Clear();
}

} // namespace zn::faxdoc
