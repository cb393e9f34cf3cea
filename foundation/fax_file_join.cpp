#include "foundation/fax_file_join.h"

#include "foundation/apf_headers.h"
#include "comms/error_codes.h"
#include "comms/exceptions.h"
#include "platform/folders.h"
#include "platform/io_error.h"

#include <sys/stat.h>

#include <cerrno>

#include <cstdio>
#include <memory>
#include <vector>

namespace zn::foundation {

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File OpenFile(const std::string& path, const char* mode)
{
    return File(std::fopen(path.c_str(), mode), &std::fclose);
}

bool ReadExactly(std::FILE* file, void* data, size_t size)
{
    return std::fread(data, 1, size, file) == size;
}

bool WriteExactly(std::FILE* file, const void* data, size_t size)
{
    return std::fwrite(data, 1, size, file) == size;
}

// Copies the file's pages (header and data each) to out, walking from its page-1 offset.
bool CopyPages(std::FILE* in, const ApfFileHeader& header, std::FILE* out)
{
    long offset = header.Page1Offset();
    std::vector<char> buffer(64 * 1024);
    for (unsigned page = 0; page < header.PageCount(); ++page) {
        ApfPageHeader pageHeader;
        if (offset < kApfFileHeaderSize || std::fseek(in, offset, SEEK_SET) != 0
            || !ReadExactly(in, pageHeader.bytes.data(), pageHeader.bytes.size()) || pageHeader.Length() < 0
            || !WriteExactly(out, pageHeader.bytes.data(), pageHeader.bytes.size()))
            return false;
        long left = pageHeader.Length();
        while (left > 0) {
            const size_t chunk = left < static_cast<long>(buffer.size()) ? static_cast<size_t>(left) : buffer.size();
            if (!ReadExactly(in, buffer.data(), chunk) || !WriteExactly(out, buffer.data(), chunk))
                return false;
            left -= static_cast<long>(chunk);
        }
        offset += kApfPageHeaderSize + pageHeader.Length();
    }
    return true;
}

// Opens a fax file and reads its file header; nullptr when it cannot be read or is no fax file.
File OpenFaxFile(const std::string& path, ApfFileHeader& header)
{
    File file = OpenFile(platform::ResolvePath(path), "rb");
    if (!file || !ReadExactly(file.get(), header.bytes.data(), header.bytes.size()) || !header.SignatureOk())
        return File(nullptr, &std::fclose);
    return file;
}

constexpr int kReadBeyondEndOfFile = 100;

// Page 1's header of a fax file: 0, or the comms library's negative code (a missing file -2, a short
// read -100, not a fax file or no pages -8001).
int ReadFirstPageHeader(const std::string& path, ApfPageHeader& page)
{
    if (path.empty())
        return -2;
    File file = OpenFile(platform::ResolvePath(path), "rb");
    if (!file)
        return -platform::ErrnoToIoError(errno);
    ApfFileHeader header;
    if (!ReadExactly(file.get(), header.bytes.data(), header.bytes.size()))
        return -kReadBeyondEndOfFile;
    if (!header.SignatureOk() || header.PageCount() < 1)
        return comms::ecFaxBadFormat;
    if (std::fseek(file.get(), header.Page1Offset(), SEEK_SET) != 0
        || !ReadExactly(file.get(), page.bytes.data(), page.bytes.size()))
        return -kReadBeyondEndOfFile;
    return 0;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat infoA {}, infoB {};
    return ::stat(platform::ResolvePath(a).c_str(), &infoA) == 0 && ::stat(platform::ResolvePath(b).c_str(), &infoB) == 0
        && infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

bool HighResolution(const std::string& path)
{
    ApfPageHeader page;
    comms::CheckErrorCode(nullptr, ReadFirstPageHeader(path, page));
    return page.HighResolution();
}

} // namespace

bool SameFaxResolution(const std::string& fileA, const std::string& fileB)
{
    const bool highA = HighResolution(fileA);
    return highA == HighResolution(fileB);
}

bool ConcatFaxFiles(const std::string& destination, const std::string& fileA, const std::string& fileB)
{
    if (!platform::FileExistsCI(fileA) || !platform::FileExistsCI(fileB))
        return false;
    if (SameFile(destination, fileA) || SameFile(destination, fileB))
        return false; // creating the destination would empty an input
    File out = OpenFile(platform::ResolvePath(destination), "wb");
    if (!out)
        return false;

    ApfFileHeader headerA;
    File a = OpenFaxFile(fileA, headerA);
    if (!a)
        return false;
    ApfFileHeader header = headerA; // A's header, with page 1 directly behind it
    header.SetPage1Offset(kApfFileHeaderSize);
    if (!WriteExactly(out.get(), header.bytes.data(), header.bytes.size()) || !CopyPages(a.get(), headerA, out.get()))
        return false;
    a.reset();

    ApfFileHeader headerB;
    File b = OpenFaxFile(fileB, headerB);
    if (!b)
        return false;
    const unsigned pages = header.PageCount() + headerB.PageCount();
    if (pages > kMaxApfPages || !CopyPages(b.get(), headerB, out.get()))
        return false;
    b.reset();

    header.SetPageCount(static_cast<uint16_t>(pages));
    if (std::fseek(out.get(), 0, SEEK_SET) != 0 || !WriteExactly(out.get(), header.bytes.data(), header.bytes.size()))
        return false;
    return std::fclose(out.release()) == 0;
}

} // namespace zn::foundation
