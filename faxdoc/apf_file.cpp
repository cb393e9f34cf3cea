#include "faxdoc/apf_file.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/file_io.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {

const uint8_t kApfSignature[6] = {'A', 'P', 'F', '1', '0', 0x1A};

namespace {

void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, int32_t v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(u >> (8 * i));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
int32_t Get32(const uint8_t* p)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8
                                | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

void TApfFileHeader::Encode(uint8_t out[kApfFileHeaderSize]) const
{
    std::memset(out, 0, kApfFileHeaderSize);
    std::memcpy(out, signature, 6);
    Put32(out + 6, dateTime);
    std::memcpy(out + 10, stationId, 21);
    Put16(out + 32, pageCount);
    Put32(out + 34, page1Offset);
}

TApfFileHeader TApfFileHeader::Decode(const uint8_t in[kApfFileHeaderSize])
{
    TApfFileHeader h;
    std::memcpy(h.signature, in, 6);
    h.dateTime = Get32(in + 6);
    std::memcpy(h.stationId, in + 10, 21);
    h.pageCount = Get16(in + 32);
    h.page1Offset = Get32(in + 34);
    return h;
}

void TApfFileHeader::SetSignature() { std::memcpy(signature, kApfSignature, 6); }

void TApfFileHeader::SetStationId(const std::string& id)
{
    const size_t n = std::min<size_t>(id.size(), kApfStationIdCapacity);
    std::memset(stationId, ' ', sizeof stationId);
    stationId[0] = static_cast<uint8_t>(n);
    std::memcpy(stationId + 1, id.data(), n);
}

std::string TApfFileHeader::StationId() const
{
    const size_t n = std::min<size_t>(stationId[0], kApfStationIdCapacity);
    return std::string(reinterpret_cast<const char*>(stationId + 1), n);
}

void TApfPageHeader::Encode(uint8_t out[kApfPageHeaderSize]) const
{
    std::memset(out, 0, kApfPageHeaderSize);
    Put32(out, length);
    Put16(out + 4, flags);
}

TApfPageHeader TApfPageHeader::Decode(const uint8_t in[kApfPageHeaderSize])
{
    TApfPageHeader h;
    h.length = Get32(in);
    h.flags = Get16(in + 4);
    return h;
}

int32_t DosDateTime(std::time_t t)
{
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return 0;
    const int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2099)
        return 0;
    const uint32_t date = static_cast<uint32_t>(tm.tm_mday | (tm.tm_mon + 1) << 5 | (year - 1980) << 9);
    const uint32_t time = static_cast<uint32_t>(tm.tm_sec / 2 | tm.tm_min << 5 | tm.tm_hour << 11);
    return static_cast<int32_t>(date << 16 | time);
}

bool CheckApfSignature(const uint8_t* buffer64) { return std::memcmp(buffer64, kApfSignature, 6) == 0; }

bool IsApfFile(const std::string& fileName)
{
    TInFile f;
    uint8_t sig[6];
    return f.Open(fileName) == ecOK && f.Read(sig, 6) == 6 && CheckApfSignature(sig);
}

namespace {

int ReadHeader(TInFile& f, TApfFileHeader& header)
{
    uint8_t buf[kApfFileHeaderSize] = {};
    const long n = f.Read(buf, sizeof buf);
    if (n < 0)
        return static_cast<int>(n);
    if (n < 6 || !CheckApfSignature(buf))
        return ecFaxBadFormat;
    header = TApfFileHeader::Decode(buf);
    return ecOK;
}

} // namespace

int ReadApfHeader(const std::string& fileName, TApfFileHeader& header)
{
    TInFile f;
    if (int rc = f.Open(fileName); rc < 0)
        return rc;
    return ReadHeader(f, header);
}

int OpenApfPage(TInFile& f, const std::string& fileName, unsigned page, TApfFileHeader& fileHeader,
                TApfPageHeader& pageHeader)
{
    if (int rc = f.Open(fileName); rc < 0)
        return rc;
    if (int rc = ReadHeader(f, fileHeader); rc < 0)
        return rc;
    if (fileHeader.pageCount < page)
        return ecFaxBadFormat;
    int64_t offset = fileHeader.page1Offset;
    for (unsigned p = 1; p <= page; ++p) {
        if (int rc = ReadApfPageHeaderAt(f, offset, pageHeader); rc < 0)
            return rc;
        offset += kApfPageHeaderSize + static_cast<int64_t>(pageHeader.length);
    }
    return ecOK;
}

int TApfPageIndex::OpenPage(TInFile& f, const std::string& fileName, unsigned page, TApfFileHeader& fileHeader,
                            TApfPageHeader& pageHeader)
{
    if (int rc = f.Open(fileName); rc < 0)
        return rc;
    if (fileName != fileName_ || !(f.Identity() == identity_)) {
        fileName_.clear();
        offsets_.clear();
        if (int rc = ReadHeader(f, fileHeader_); rc < 0)
            return rc;
        fileName_ = fileName;
        identity_ = f.Identity();
        offsets_.push_back(fileHeader_.page1Offset);
    }
    fileHeader = fileHeader_;
    if (fileHeader.pageCount < page)
        return ecFaxBadFormat;
    page = std::max(page, 1u);
    // Walk on from the furthest page known; each header read gives the next page's offset.
    while (offsets_.size() < page) {
        if (int rc = ReadApfPageHeaderAt(f, offsets_.back(), pageHeader); rc < 0)
            return rc;
        offsets_.push_back(offsets_.back() + kApfPageHeaderSize + static_cast<int64_t>(pageHeader.length));
    }
    return ReadApfPageHeaderAt(f, offsets_[page - 1], pageHeader);
}

int ReadApfPageHeaderAt(TInFile& f, int64_t offset, TApfPageHeader& pageHeader)
{
    uint8_t buf[kApfPageHeaderSize];
    if (offset < 0 || f.Seek(offset) < 0)
        return ecFaxBadFormat;
    const long n = f.Read(buf, sizeof buf);
    if (n < 0)
        return static_cast<int>(n);
    if (n != kApfPageHeaderSize)
        return ecFaxBadFormat;
    pageHeader = TApfPageHeader::Decode(buf);
    return pageHeader.length < 0 ? ecFaxBadFormat : ecOK;
}

int ReadApfPageHeader(const std::string& fileName, unsigned page, TApfPageHeader& header)
{
    TInFile f;
    TApfFileHeader fh;
    return OpenApfPage(f, fileName, page, fh, header);
}

int ReadApfPageData(TInFile& f, const TApfPageHeader& header, const TApfDataSink& sink, int& bytesRead)
{
    const int64_t length = header.length;
    const bool prefixed = header.flags & kPageLengthPrefixed;
    bytesRead = 0;
    uint8_t block[kApfMaxRecordBytes];
    while (bytesRead < length) {
        size_t want = static_cast<size_t>(std::min<int64_t>(length - bytesRead, sizeof block));
        if (prefixed) {
            uint8_t countBytes[2];
            const long n = f.Read(countBytes, 2);
            if (n < 0)
                return static_cast<int>(n);
            if (n < 2)
                return ecFaxBadFormat;
            bytesRead += 2;
            // A record never runs past the page: its count is capped at 4096 and at the bytes left.
            want = static_cast<size_t>(std::min<int64_t>(
                {countBytes[0] | countBytes[1] << 8, kApfMaxRecordBytes, std::max<int64_t>(length - bytesRead, 0)}));
            if (want == 0)
                continue;
        }
        const long r = f.Read(block, want);
        if (r < 0)
            return static_cast<int>(r);
        bytesRead += static_cast<int>(r);
        if (r > 0 && !sink(block, static_cast<size_t>(r)))
            return ecOK;
        if (static_cast<size_t>(r) < want)
            return ecFaxBadFormat;
    }
    return ecOK;
}

int ReadApfPageData(TInFile& f, const TApfPageHeader& header, std::vector<uint8_t>& data, int& bytesRead)
{
    const int64_t available = std::max<int64_t>(f.Size() - f.Position(), 0);
    data.reserve(static_cast<size_t>(std::min<int64_t>(header.length, available)));
    return ReadApfPageData(
        f, header,
        [&](const uint8_t* piece, size_t size) {
            data.insert(data.end(), piece, piece + size);
            return true;
        },
        bytesRead);
}

int ReadApfPage(const std::string& fileName, unsigned page, TApfPageHeader& header, std::vector<uint8_t>& data)
{
    TInFile f;
    TApfFileHeader fh;
    if (int rc = OpenApfPage(f, fileName, std::max(page, 1u), fh, header); rc < 0)
        return rc;
    int bytesRead = 0;
    return ReadApfPageData(f, header, data, bytesRead);
}

} // namespace zn::faxdoc
