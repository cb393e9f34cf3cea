#include "fax_image_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "faxdoc/mh_coder.h"
#include "platform/file_replacement.h"
#include "platform/folders.h"
#include "platform/plain_file.h"
#include "platform/io_error.h"

namespace zn::comms {

namespace {
int IoFailure() { return -platform::ErrnoToIoError(errno); }

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

int WriteHeaders(TFaxModemRec& m)
{
    uint8_t file[faxdoc::kApfFileHeaderSize], page[faxdoc::kApfPageHeaderSize];
    m.apfHeader.Encode(file);
    m.pageHeader.Encode(page);
    if (int rc = WriteAt(m.faxFile, 0, file, sizeof file))
        return rc;
    return WriteAt(m.faxFile, m.pageHeaderOffset, page, sizeof page);
}

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
} // namespace

int32_t DosDateTimeNow() { return faxdoc::DosDateTime(std::time(nullptr)); }

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
    uint8_t raw[faxdoc::kApfFileHeaderSize];
    if (std::fread(raw, 1, sizeof raw, m.faxFile) != sizeof raw) {
        int rc = std::ferror(m.faxFile) ? IoFailure() : ecFaxBadFormat;
        ApfClose(m);
        return rc;
    }
    if (!faxdoc::CheckApfSignature(raw)) {
        ApfClose(m);
        return ecFaxBadFormat;
    }
    m.apfHeader = faxdoc::TApfFileHeader::Decode(raw);
    return 0;
}

uint16_t ApfPageCount(const TFaxModemRec& m) { return m.apfHeader.pageCount; }

int ApfSeekPage(TFaxModemRec& m, int n)
{
    if (!m.faxFile || n <= 0 || n > ApfPageCount(m))
        return ecDiskRead;
    long offset = long(uint32_t(m.apfHeader.page1Offset));
    for (int page = 1;; ++page) {
        if (std::fseek(m.faxFile, offset, SEEK_SET) != 0)
            return IoFailure();
        uint8_t raw[faxdoc::kApfPageHeaderSize];
        if (std::fread(raw, 1, sizeof raw, m.faxFile) != sizeof raw)
            return std::ferror(m.faxFile) ? IoFailure() : ecFaxBadFormat;
        m.pageHeader = faxdoc::TApfPageHeader::Decode(raw);
        m.pageHeaderOffset = offset;
        if (page == n)
            return 0;
        offset += faxdoc::kApfPageHeaderSize + long(uint32_t(m.pageHeader.length));
    }
}

int32_t ApfPageBodyLength(const TFaxModemRec& m) { return m.pageHeader.length; }
uint16_t ApfPageFlags(const TFaxModemRec& m) { return m.pageHeader.flags; }

int ApfReadRowRecord(TFaxModemRec& m, std::vector<uint8_t>& row, int32_t minRow, int32_t& fileBytes)
{
    uint8_t len[2];
    fileBytes = 0;
    if (std::fread(len, 1, 2, m.faxFile) != 2)
        return std::ferror(m.faxFile) ? IoFailure() : ecFaxBadFormat;
    size_t n = Get16(len);
    size_t stored = n;
    if (n > size_t(faxdoc::kApfMaxRecordBytes))
        n = size_t(faxdoc::kApfMaxRecordBytes);
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

int ApfCheckRowWidths(TFaxModemRec& m)
{
    const int pages = ApfPageCount(m);
    std::vector<uint8_t> piece;
    for (int n = 1; n <= pages; ++n) {
        if (int rc = ApfSeekPage(m, n))
            return rc;
        const uint16_t flags = ApfPageFlags(m);
        const int flagged = (flags & faxdoc::kPageWide) ? faxdoc::kWideLineWidth : faxdoc::kNormalLineWidth;
        bool otherWidth = false;
        faxdoc::TMhDecoder decoder;
        // Blank rows are not judged: a 1728-pixel blank row serves the top margin of both widths.
        auto sink = [&](const uint8_t* row, int bytes) {
            otherWidth = bytes * 8 != flagged && std::any_of(row, row + bytes, [](uint8_t b) { return b != 0; });
            return !otherWidth;
        };
        int64_t left = uint32_t(ApfPageBodyLength(m));
        while (left > 0 && !otherWidth && !decoder.Ended()) {
            int32_t used = 0;
            int rc = (flags & faxdoc::kPageLengthPrefixed)
                         ? ApfReadRowRecord(m, piece, 0, used)
                         : ApfReadBlock(m, piece, int32_t(std::min<int64_t>(left, 4096)));
            if (rc)
                return rc;
            left -= (flags & faxdoc::kPageLengthPrefixed) ? used : int64_t(piece.size());
            decoder.Decode(piece.data(), piece.size(), sink);
        }
        if (!otherWidth)
            decoder.Finish(sink);
        if (otherWidth)
            return ecFaxBadFormat;
    }
    return pages > 0 ? ApfSeekPage(m, 1) : 0;
}

void ApfClose(TFaxModemRec& m)
{
    if (m.faxFile)
        std::fclose(m.faxFile);
    m.faxFile = nullptr;
}

namespace {
// Writes a fresh file header (page count 0, page 1 at 64) into a file just opened, and puts it on disk.
int StartFile(TFaxModemRec& m, std::FILE* file, const std::string& path, const std::string& stationId)
{
    m.apfHeader = {};
    m.apfHeader.SetSignature();
    m.apfHeader.dateTime = DosDateTimeNow();
    m.apfHeader.SetStationId(stationId);
    m.apfHeader.pageCount = 0;
    m.apfHeader.page1Offset = faxdoc::kApfFirstPageOffset;
    m.faxFile = file;
    m.openedFileName = path;
    uint8_t raw[faxdoc::kApfFileHeaderSize];
    m.apfHeader.Encode(raw);
    if (std::fwrite(raw, 1, sizeof raw, m.faxFile) != sizeof raw) {
        int rc = IoFailure();
        ApfClose(m);
        return rc;
    }
    return ApfSync(m);
}
} // namespace

int ApfCreate(TFaxModemRec& m, const std::string& name, const std::string& stationId)
{
    ApfClose(m);
    std::FILE* file = std::fopen(name.c_str(), "w+b");
    if (!file)
        return IoFailure();
    return StartFile(m, file, name, stationId);
}

int ApfCreate(TFaxModemRec& m, platform::FileReplacement& file, const std::string& stationId)
{
    ApfClose(m);
    if (int error = file.Open()) {
        errno = error;
        return IoFailure();
    }
    // The stream has a descriptor of its own; the replacement's stays open (and locked) for its commit.
    const int fd = ::dup(file.Descriptor());
    std::FILE* stream = fd < 0 ? nullptr : ::fdopen(fd, "w+b");
    if (!stream) {
        int rc = IoFailure();
        if (fd >= 0)
            ::close(fd);
        file.Discard();
        return rc;
    }
    return StartFile(m, stream, file.TemporaryPath(), stationId);
}

int ApfCommit(TFaxModemRec& m, platform::FileReplacement& file)
{
    if (!m.faxFile)
        return ecDiskRead;
    if (std::fflush(m.faxFile) != 0)
        return IoFailure();
    if (int error = file.CommitNew()) {
        errno = error;
        return IoFailure();
    }
    m.openedFileName = file.Target();
    return 0;
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
    m.pageHeader = {};
    m.pageHeader.flags = uint16_t((fine ? kPageHighResolution : 0) | (wide ? kPageWide : 0));
    uint8_t raw[faxdoc::kApfPageHeaderSize];
    m.pageHeader.Encode(raw);
    return ApfWriteBytes(m, raw, sizeof raw);
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
    m.apfHeader.pageCount = uint16_t(ApfPageCount(m) + 1);
    m.apfHeader.dateTime = DosDateTimeNow();
    m.apfHeader.SetStationId(remoteId);
    m.pageHeader.length = pageLength;
    if (int rc = WriteHeaders(m))
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
