#include "foundation/fax_file_join.h"

#include "comms/exceptions.h"
#include "faxdoc/apf_file.h"
#include "platform/file_replacement.h"
#include "platform/folders.h"
#include "platform/plain_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace zn::foundation {

namespace {

using faxdoc::TApfFileHeader;
using faxdoc::TApfPageHeader;
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

constexpr unsigned kMaxPages = 65535; // the page count is 16 bits

bool ReadExactly(std::FILE* file, void* data, size_t size)
{
    return std::fread(data, 1, size, file) == size;
}

bool WriteExactly(std::FILE* file, const void* data, size_t size)
{
    return std::fwrite(data, 1, size, file) == size;
}

// Copies the file's pages (header and data each) to out, walking from its page-1 offset.
bool CopyPages(std::FILE* in, const TApfFileHeader& header, std::FILE* out)
{
    long offset = header.page1Offset;
    std::vector<char> buffer(64 * 1024);
    for (unsigned page = 0; page < header.pageCount; ++page) {
        uint8_t raw[faxdoc::kApfPageHeaderSize];
        if (offset < faxdoc::kApfFileHeaderSize || std::fseek(in, offset, SEEK_SET) != 0
            || !ReadExactly(in, raw, sizeof raw) || !WriteExactly(out, raw, sizeof raw))
            return false;
        const int32_t length = TApfPageHeader::Decode(raw).length;
        if (length < 0)
            return false;
        long left = length;
        while (left > 0) {
            const size_t chunk = left < static_cast<long>(buffer.size()) ? static_cast<size_t>(left) : buffer.size();
            if (!ReadExactly(in, buffer.data(), chunk) || !WriteExactly(out, buffer.data(), chunk))
                return false;
            left -= static_cast<long>(chunk);
        }
        offset += faxdoc::kApfPageHeaderSize + length;
    }
    return true;
}

// Opens a fax file and reads its file header; nullptr when it cannot be read or is no fax file.
File OpenFaxFile(const std::string& path, TApfFileHeader& header)
{
    File file(platform::OpenPlainFileStream(platform::ResolvePath(path)), &std::fclose);
    uint8_t raw[faxdoc::kApfFileHeaderSize];
    if (!file || !ReadExactly(file.get(), raw, sizeof raw) || !faxdoc::CheckApfSignature(raw))
        return File(nullptr, &std::fclose);
    header = TApfFileHeader::Decode(raw);
    return file;
}

bool WriteFileHeader(std::FILE* out, const TApfFileHeader& header)
{
    uint8_t raw[faxdoc::kApfFileHeaderSize];
    header.Encode(raw);
    return WriteExactly(out, raw, sizeof raw);
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat infoA {}, infoB {};
    return ::stat(platform::ResolvePath(a).c_str(), &infoA) == 0 && ::stat(platform::ResolvePath(b).c_str(), &infoB) == 0
        && infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

bool HighResolution(const std::string& path)
{
    TApfPageHeader page;
    comms::CheckErrorCode(nullptr, faxdoc::ReadApfPageHeader(platform::ResolvePath(path), 1, page));
    return page.flags & faxdoc::kPageHighResolution;
}

} // namespace

bool SameFaxResolution(const std::string& fileA, const std::string& fileB)
{
    const bool highA = HighResolution(fileA);
    return highA == HighResolution(fileB);
}

namespace {

// Steps 3 to 7 of the join into out; false as soon as one fails.
bool WriteJoined(std::FILE* out, const std::string& fileA, const std::string& fileB)
{
    TApfFileHeader headerA;
    File a = OpenFaxFile(fileA, headerA);
    if (!a)
        return false;
    TApfFileHeader header = headerA; // A's header, with page 1 directly behind it
    header.page1Offset = faxdoc::kApfFirstPageOffset;
    if (!WriteFileHeader(out, header) || !CopyPages(a.get(), headerA, out))
        return false;
    a.reset();

    TApfFileHeader headerB;
    File b = OpenFaxFile(fileB, headerB);
    if (!b)
        return false;
    const unsigned pages = header.pageCount + headerB.pageCount;
    if (pages > kMaxPages || !CopyPages(b.get(), headerB, out))
        return false;
    b.reset();

    header.pageCount = static_cast<uint16_t>(pages);
    return std::fseek(out, 0, SEEK_SET) == 0 && WriteFileHeader(out, header);
}

} // namespace

bool ConcatFaxFiles(const std::string& destination, const std::string& fileA, const std::string& fileB)
{
    if (!platform::FileExistsCI(fileA) || !platform::FileExistsCI(fileB))
        return false;
    if (SameFile(destination, fileA) || SameFile(destination, fileB))
        return false; // creating the destination would empty an input
    // Written beside the destination and put in place, on disk, whatever the join came to: like a
    // file written in place, a failed join leaves what was written so far.
    platform::FileReplacement replacement(platform::ResolvePath(destination));
    if (replacement.Open() != 0)
        return false;
    const int fd = ::fcntl(replacement.Descriptor(), F_DUPFD_CLOEXEC, 0);
    File out(fd >= 0 ? ::fdopen(fd, "wb") : nullptr, &std::fclose);
    if (!out) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const bool joined = WriteJoined(out.get(), fileA, fileB);
    const bool closed = std::fclose(out.release()) == 0;
    return replacement.Commit() == 0 && closed && joined;
}

} // namespace zn::foundation
