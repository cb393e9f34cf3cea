#include "faxdoc/apf_join.h"

#include "faxdoc/apf_file.h"
#include "faxdoc/fax_errors.h"
#include "platform/file_replacement.h"
#include "platform/plain_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace zn::faxdoc {

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

constexpr unsigned kMaxPages = 65535; // the page count is 16 bits

int IoFailure() { return IoErrorCode(errno ? errno : EIO); }

// A short read is a file cut short; a failed write is an I/O failure.
int Read(std::FILE* file, void* data, size_t size)
{
    if (std::fread(data, 1, size, file) == size)
        return ecOK;
    return std::ferror(file) ? IoFailure() : ecFaxBadFormat;
}

int Write(std::FILE* file, const void* data, size_t size)
{
    return std::fwrite(data, 1, size, file) == size ? ecOK : IoFailure();
}

int WriteFileHeader(std::FILE* out, const TApfFileHeader& header)
{
    uint8_t raw[kApfFileHeaderSize];
    header.Encode(raw);
    return Write(out, raw, sizeof raw);
}

// Copies the file's pages (header and data each) to out, walking from its page-1 offset.
int CopyPages(std::FILE* in, const TApfFileHeader& header, std::FILE* out)
{
    long offset = header.page1Offset;
    std::vector<char> buffer(64 * 1024);
    for (unsigned page = 0; page < header.pageCount; ++page) {
        uint8_t raw[kApfPageHeaderSize];
        if (offset < kApfFileHeaderSize || std::fseek(in, offset, SEEK_SET) != 0)
            return ecFaxBadFormat;
        if (int rc = Read(in, raw, sizeof raw); rc != ecOK)
            return rc;
        if (int rc = Write(out, raw, sizeof raw); rc != ecOK)
            return rc;
        const int32_t length = TApfPageHeader::Decode(raw).length;
        if (length < 0)
            return ecFaxBadFormat;
        for (long left = length; left > 0;) {
            const size_t chunk = left < static_cast<long>(buffer.size()) ? static_cast<size_t>(left) : buffer.size();
            if (int rc = Read(in, buffer.data(), chunk); rc != ecOK)
                return rc;
            if (int rc = Write(out, buffer.data(), chunk); rc != ecOK)
                return rc;
            left -= static_cast<long>(chunk);
        }
        offset += kApfPageHeaderSize + length;
    }
    return ecOK;
}

// Opens a fax file and reads its file header.
int OpenFaxFile(const std::string& path, File& file, TApfFileHeader& header)
{
    file = File(platform::OpenPlainFileStream(path), &std::fclose); // a FIFO is refused, not waited on
    if (!file)
        return IoFailure();
    uint8_t raw[kApfFileHeaderSize];
    if (int rc = Read(file.get(), raw, sizeof raw); rc != ecOK)
        return rc;
    if (!CheckApfSignature(raw))
        return ecFaxBadFormat;
    header = TApfFileHeader::Decode(raw);
    return ecOK;
}

} // namespace

namespace {

int WriteJoined(std::FILE* out, const std::vector<std::string>& files)
{
    TApfFileHeader joined;
    unsigned pages = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        File in(nullptr, &std::fclose);
        TApfFileHeader header;
        if (int rc = OpenFaxFile(files[i], in, header); rc != ecOK)
            return rc;
        if (i == 0) {
            joined = header; // the first file's header, with page 1 directly behind it
            joined.page1Offset = kApfFirstPageOffset;
            if (int rc = WriteFileHeader(out, joined); rc != ecOK)
                return rc;
        }
        pages += header.pageCount;
        if (pages > kMaxPages)
            return ecFaxBadFormat;
        if (int rc = CopyPages(in.get(), header, out); rc != ecOK)
            return rc;
    }
    joined.pageCount = static_cast<uint16_t>(pages);
    if (std::fseek(out, 0, SEEK_SET) != 0)
        return IoFailure();
    return WriteFileHeader(out, joined);
}

} // namespace

int JoinApfFiles(const std::vector<std::string>& files, const std::string& target)
{
    if (files.empty())
        return ecBadArgument;
    // Written beside the target and put in place, on disk, whatever the join came to: like a file
    // written in place, a failed join leaves what was written so far.
    platform::FileReplacement replacement(target);
    if (int err = replacement.Open())
        return IoErrorCode(err);
    const int fd = ::fcntl(replacement.Descriptor(), F_DUPFD_CLOEXEC, 0);
    File out(fd >= 0 ? ::fdopen(fd, "wb") : nullptr, &std::fclose);
    if (!out) {
        const int rc = IoFailure();
        if (fd >= 0)
            ::close(fd);
        return rc;
    }
    const int joined = WriteJoined(out.get(), files);
    const int closed = std::fclose(out.release()) == 0 ? ecOK : IoFailure();
    if (int err = replacement.Commit())
        return IoErrorCode(err);
    return joined != ecOK ? joined : closed;
}

} // namespace zn::faxdoc
