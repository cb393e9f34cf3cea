#include "fax_image_io.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "platform/file_replacement.h"
#include "platform/folders.h"
#include "platform/plain_file.h"
#include "platform/io_error.h"

namespace zn::comms {

namespace {
int IoFailure() { return -platform::ErrnoToIoError(errno); }

uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void Put32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
void Put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }

void PutStationId(uint8_t* p, const std::string& id)
{
    std::string s = id.substr(0, 20);
    p[0] = uint8_t(s.size());
    std::memset(p + 1, ' ', 20);
    std::memcpy(p + 1, s.data(), s.size());
}

int WriteAt(std::FILE* f, long offset, const uint8_t* data, size_t n)
{
    long back = std::ftell(f);
    if (back < 0 || std::fseek(f, offset, SEEK_SET) != 0)
        return IoFailure();
    size_t written = std::fwrite(data, 1, n, f);
    if (std::fflush(f) != 0 && written == n)
        return IoFailure();
    if (std::fseek(f, back, SEEK_SET) != 0)
        return IoFailure();
    return written == n ? 0 : ecDeviceWrite;
}
} // namespace

int32_t DosDateTimeNow()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2099)
        return 0;
    uint32_t date = uint32_t(tm.tm_mday | (tm.tm_mon + 1) << 5 | (year - 1980) << 9);
    uint32_t time = uint32_t(tm.tm_sec / 2 | tm.tm_min << 5 | tm.tm_hour << 11);
    return int32_t(date << 16 | time);
}

int ApfOpenForReading(TFaxModemRec& m, const std::string& name, const std::string& ext)
{
    ApfClose(m);
    std::string path = name;
    auto dot = path.rfind('.');
    if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos)
        path += "." + ext;
    // The name may be spelt in another case than the file on disk; it keeps its own case otherwise.
    path = platform::ResolvePath(path);
    m.faxFile = platform::OpenPlainFileStream(path);
    if (!m.faxFile)
        return IoFailure();
    m.openedFileName = path;
    if (std::fread(m.apfHeader.data(), 1, kApfHeaderSize, m.faxFile) != size_t(kApfHeaderSize)) {
        int rc = std::ferror(m.faxFile) ? IoFailure() : ecFaxBadFormat;
        ApfClose(m);
        return rc;
    }
    if (std::memcmp(m.apfHeader.data(), kApfSignature, 6) != 0) {
        ApfClose(m);
        return ecFaxBadFormat;
    }
    return 0;
}

uint16_t ApfPageCount(const TFaxModemRec& m) { return Get16(&m.apfHeader[32]); }

int ApfSeekPage(TFaxModemRec& m, int n)
{
    if (!m.faxFile || n <= 0 || n > ApfPageCount(m))
        return ecDiskRead;
    long offset = long(Get32(&m.apfHeader[34]));
    for (int page = 1;; ++page) {
        if (std::fseek(m.faxFile, offset, SEEK_SET) != 0)
            return IoFailure();
        if (std::fread(m.pageHeader.data(), 1, kApfPageHeaderSize, m.faxFile) != size_t(kApfPageHeaderSize))
            return std::ferror(m.faxFile) ? IoFailure() : ecFaxBadFormat;
        m.pageHeaderOffset = offset;
        if (page == n)
            return 0;
        offset += kApfPageHeaderSize + long(Get32(&m.pageHeader[0]));
    }
}

int32_t ApfPageBodyLength(const TFaxModemRec& m) { return int32_t(Get32(&m.pageHeader[0])); }
uint16_t ApfPageFlags(const TFaxModemRec& m) { return Get16(&m.pageHeader[4]); }

int ApfReadRowRecord(TFaxModemRec& m, std::vector<uint8_t>& row, int32_t minRow, int32_t& fileBytes)
{
    uint8_t len[2];
    fileBytes = 0;
    if (std::fread(len, 1, 2, m.faxFile) != 2)
        return std::ferror(m.faxFile) ? IoFailure() : ecFaxBadFormat;
    size_t n = Get16(len);
    size_t stored = n;
    if (n > 4096)
        n = 4096;
    row.assign(n, 0);
    if (n && std::fread(row.data(), 1, n, m.faxFile) != n)
        return std::ferror(m.faxFile) ? IoFailure() : ecFaxBadFormat;
    if (stored > n && std::fseek(m.faxFile, long(stored - n), SEEK_CUR) != 0)
        return IoFailure();
    if (int32_t(row.size()) < minRow)
        row.resize(size_t(minRow), 0);
    fileBytes = int32_t(stored + 2);
    return 0;
}

int ApfReadBlock(TFaxModemRec& m, std::vector<uint8_t>& out, int32_t max)
{
    out.resize(size_t(max));
    size_t got = std::fread(out.data(), 1, size_t(max), m.faxFile);
    out.resize(got);
    if (got < size_t(max))
        return std::ferror(m.faxFile) ? IoFailure() : ecFaxBadFormat;
    return 0;
}

void ApfClose(TFaxModemRec& m)
{
    if (m.faxFile)
        std::fclose(m.faxFile);
    m.faxFile = nullptr;
}

int ApfCreate(TFaxModemRec& m, const std::string& name, const std::string& stationId)
{
    ApfClose(m);
    m.apfHeader.fill(0);
    std::memcpy(m.apfHeader.data(), kApfSignature, 6);
    Put32(&m.apfHeader[6], uint32_t(DosDateTimeNow()));
    PutStationId(&m.apfHeader[10], stationId);
    Put16(&m.apfHeader[32], 0);
    Put32(&m.apfHeader[34], kApfHeaderSize);
    m.faxFile = std::fopen(name.c_str(), "w+b");
    if (!m.faxFile)
        return IoFailure();
    m.openedFileName = name;
    if (std::fwrite(m.apfHeader.data(), 1, kApfHeaderSize, m.faxFile) != size_t(kApfHeaderSize)) {
        int rc = IoFailure();
        ApfClose(m);
        return rc;
    }
    return ApfSync(m);
}

int ApfSync(TFaxModemRec& m)
{
    if (!m.faxFile)
        return ecDiskRead;
    if (std::fflush(m.faxFile) != 0)
        return IoFailure();
    if (int error = platform::SyncFileAndFolder(fileno(m.faxFile), m.openedFileName)) {
        errno = error;
        return IoFailure();
    }
    return 0;
}

int ApfAppendPageHeader(TFaxModemRec& m, bool fine, bool wide)
{
    if (std::fseek(m.faxFile, 0, SEEK_END) != 0)
        return IoFailure();
    m.pageHeaderOffset = std::ftell(m.faxFile);
    m.pageHeader.fill(0);
    Put16(&m.pageHeader[4], uint16_t((fine ? kPageFine : 0) | (wide ? kPageWide : 0)));
    return ApfWriteBytes(m, m.pageHeader.data(), kApfPageHeaderSize);
}

int ApfWriteBytes(TFaxModemRec& m, const uint8_t* data, size_t n)
{
    if (!m.faxFile)
        return ecDiskRead;
    size_t written = std::fwrite(data, 1, n, m.faxFile);
    if (written != n)
        return std::ferror(m.faxFile) ? IoFailure() : ecDeviceWrite;
    return 0;
}

int ApfFinishPage(TFaxModemRec& m, const std::string& remoteId, int32_t pageLength)
{
    if (!m.faxFile)
        return ecDiskRead;
    Put16(&m.apfHeader[32], uint16_t(ApfPageCount(m) + 1));
    Put32(&m.apfHeader[6], uint32_t(DosDateTimeNow()));
    PutStationId(&m.apfHeader[10], remoteId);
    if (int rc = WriteAt(m.faxFile, 0, m.apfHeader.data(), kApfHeaderSize))
        return rc;
    Put32(&m.pageHeader[0], uint32_t(pageLength));
    if (int rc = WriteAt(m.faxFile, m.pageHeaderOffset, m.pageHeader.data(), kApfPageHeaderSize))
        return rc;
    if (std::fflush(m.faxFile) != 0 || ::fdatasync(fileno(m.faxFile)) != 0)
        return IoFailure();
    return 0;
}

int ApfCutPage(TFaxModemRec& m)
{
    if (!m.faxFile)
        return ecDiskRead;
    if (std::fflush(m.faxFile) != 0 || ftruncate(fileno(m.faxFile), m.pageHeaderOffset) != 0)
        return IoFailure();
    if (std::fseek(m.faxFile, m.pageHeaderOffset, SEEK_SET) != 0)
        return IoFailure();
    return 0;
}

} // namespace zn::comms
