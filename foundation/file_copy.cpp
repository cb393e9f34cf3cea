#include "foundation/file_copy.h"

#include "platform/file_replacement.h"
#include "platform/folders.h"
#include "platform/plain_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zn::foundation {

namespace {

constexpr size_t kBlockSize = 2048;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    bool Close()
    {
        if (fd_ < 0)
            return true;
        const bool ok = ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

ssize_t ReadSome(int fd, char* buffer, size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

} // namespace

bool CopyFileBlocks(const std::string& source, const std::string& destination, const CopyBlockObserver& observer)
{
    if (source == destination)
        return false;
    const std::string sourcePath = platform::ResolvePath(source);
    const std::string destinationPath = platform::ResolvePath(destination);

    Descriptor in(platform::OpenPlainFileForReading(sourcePath));
    struct stat sourceInfo {};
    if (!in.Valid() || ::fstat(in.Get(), &sourceInfo) != 0)
        return false;
    struct stat destinationInfo {};
    if (::stat(destinationPath.c_str(), &destinationInfo) == 0 && SameFile(sourceInfo, destinationInfo))
        return false; // truncating the destination would destroy the source

    const off_t size = ::lseek(in.Get(), 0, SEEK_END);
    if (size < 0 || ::lseek(in.Get(), 0, SEEK_SET) != 0)
        return false;

    // A file is written aside and put in place whole (platform/file_replacement.h); a device
    // destination is written to as it is.
    struct stat existing {};
    const bool device =
        ::stat(destinationPath.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode);
    platform::FileReplacement replacement(destinationPath);
    Descriptor deviceOut(device ? ::open(destinationPath.c_str(), O_WRONLY | O_CLOEXEC) : -1);
    if (!device && replacement.Open() != 0)
        return false;
    const int out = device ? deviceOut.Get() : replacement.Descriptor();
    if (out < 0)
        return false;

    char buffer[kBlockSize];
    off_t left = size;
    bool ok = true;
    while (left > 0) {
        const size_t want = left < static_cast<off_t>(kBlockSize) ? static_cast<size_t>(left) : kBlockSize;
        const ssize_t got = ReadSome(in.Get(), buffer, want);
        if (got <= 0 || !WriteAll(out, buffer, static_cast<size_t>(got))) {
            ok = false;
            break;
        }
        left -= got;
        if (observer)
            observer(static_cast<size_t>(got));
    }
    in.Close();
    if (device)
        return deviceOut.Close() && ok;
    // A delayed write error (full disk on a network or quota file system) fails the commit.
    return ok && replacement.Commit() == 0;
}

} // namespace zn::foundation
