#include "xbase_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zn::xbase {

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_), writable_(other.writable_), path_(std::move(other.path_))
{
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        writable_ = other.writable_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

Err File::Open(const std::string& path, bool write)
{
    Close();
    int flags = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK; // a FIFO does not block the open
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0)
        return errno == ENOENT ? Err::FileNotFound : Err::FileOpen;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Err::FileOpen;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    writable_ = write;
    path_ = path;
    return Err::Ok;
}

void File::Adopt(int fd, bool write, const std::string& path)
{
    Close();
    fd_ = fd;
    writable_ = write;
    path_ = path;
}

Err File::OpenTemporary(const std::string& folder)
{
    Close();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string pattern = folder + "/xbaseXXXXXX";
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0)
            return Err::FileOpen;
        ::unlink(pattern.c_str());
    }
    fd_ = fd;
    writable_ = true;
    path_.clear();
    return Err::Ok;
}

void File::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

size_t File::ReadSome(uint64_t offset, void* buffer, size_t length) const
{
    size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < length) {
        ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

Err File::ReadAt(uint64_t offset, void* buffer, size_t length) const
{
    return ReadSome(offset, buffer, length) == length ? Err::Ok : Err::FileRead;
}

Err File::WriteAt(uint64_t offset, const void* buffer, size_t length)
{
    if (!writable_)
        return Err::ReadOnly;
    size_t done = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (done < length) {
        ssize_t n = ::pwrite(fd_, in + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Err::FileWrite;
        done += static_cast<size_t>(n);
    }
    return Err::Ok;
}

Err File::Truncate(uint64_t length)
{
    if (!writable_)
        return Err::ReadOnly;
    return ::ftruncate(fd_, static_cast<off_t>(length)) == 0 ? Err::Ok : Err::FileWrite;
}

Err File::Sync() { return ::fdatasync(fd_) == 0 ? Err::Ok : Err::FileWrite; }

uint64_t File::Size() const
{
    struct stat st {};
    if (fstat(fd_, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool File::TryLock(uint64_t offset, uint64_t length, bool exclusive)
{
    struct flock fl {};
    fl.l_type = static_cast<short>(exclusive ? F_WRLCK : F_RDLCK);
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    fl.l_pid = 0;
    while (true) {
        if (fcntl(fd_, F_OFD_SETLK, &fl) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

Err File::Lock(uint64_t offset, uint64_t length, bool exclusive, int timeoutSeconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (true) {
        if (TryLock(offset, length, exclusive))
            return Err::Ok;
        if (errno != EAGAIN && errno != EACCES)
            return Err::FileOpen;
        if (std::chrono::steady_clock::now() >= deadline)
            return Err::LockTimeout;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void File::Unlock(uint64_t offset, uint64_t length)
{
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    fcntl(fd_, F_OFD_SETLK, &fl);
}

Err FileReplacement::Open()
{
    if (replacement_.Open() != 0)
        return Err::FileOpen;
    int fd = ::fcntl(replacement_.Descriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        replacement_.Discard();
        return Err::FileOpen;
    }
    file_.Adopt(fd, true, replacement_.TemporaryPath());
    return Err::Ok;
}

Err FileReplacement::Finish(bool replace)
{
    if (file_.IsOpen()) {
        Err e = file_.Sync();
        file_.Close();
        if (e != Err::Ok) {
            replacement_.Discard();
            return e;
        }
    }
    int error = replace ? replacement_.Commit() : replacement_.CommitNew();
    if (error == 0)
        return Err::Ok;
    return error == EEXIST ? Err::FileOpen : Err::FileWrite;
}

Err FileReplacement::Commit() { return Finish(true); }

Err FileReplacement::CommitNew() { return Finish(false); }

} // namespace zn::xbase
