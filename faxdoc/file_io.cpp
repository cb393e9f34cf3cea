#include "faxdoc/file_io.h"

#include "faxdoc/fax_errors.h"
#include "platform/io_error.h"
#include "platform/plain_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zn::faxdoc {

int IoErrorCode(int err) { return -platform::ErrnoToIoError(err); }

namespace {
thread_local std::string failedFile;

int FileFailed(const std::string& name, int code)
{
    failedFile = name;
    return code;
}
} // namespace

const std::string& FailedFileName() { return failedFile; }

void ClearFailedFileName() { failedFile.clear(); }

int RefuseOutputOverInput(const std::string& input, const std::string& output)
{
    struct stat in {
    }, out{};
    if (input == output
        || (::stat(input.c_str(), &in) == 0 && ::stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev
            && in.st_ino == out.st_ino))
        return FileFailed(output, IoErrorCode(EACCES));
    return ecOK;
}

TInFile::~TInFile() { Close(); }

int TInFile::Failed(int code) { return FileFailed(name_, code); }

int TInFile::Open(const std::string& name)
{
    Close();
    name_ = name;
    if (name.empty())
        return ecFileNotFound;
    fd_ = platform::OpenPlainFileForReading(name);
    if (fd_ < 0)
        return Failed(IoErrorCode(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        Close();
        return Failed(IoErrorCode(EISDIR));
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    size_ = static_cast<int64_t>(st.st_size);
    identity_ = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), size_,
                 static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    pos_ = 0;
    bufferStart_ = 0;
    bufferFill_ = 0;
    return ecOK;
}

void TInFile::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    bufferFill_ = 0;
}

long TInFile::Read(void* buffer, size_t n)
{
    uint8_t* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < n) {
        const int64_t offset = pos_ - bufferStart_;
        if (offset >= 0 && static_cast<size_t>(offset) < bufferFill_) {
            const size_t k = std::min(n - done, bufferFill_ - static_cast<size_t>(offset));
            std::memcpy(out + done, buffer_.data() + offset, k);
            done += k;
            pos_ += static_cast<int64_t>(k);
            continue;
        }
        if (buffer_.empty())
            buffer_.resize(kBufferSize);
        // Refill the buffer from the caller's position.
        ssize_t r;
        do
            r = ::pread(fd_, buffer_.data(), buffer_.size(), pos_);
        while (r < 0 && errno == EINTR);
        if (r < 0)
            return error_ = Failed(IoErrorCode(errno));
        bufferStart_ = pos_;
        bufferFill_ = static_cast<size_t>(r);
        if (r == 0)
            break;
    }
    return static_cast<long>(done);
}

int TInFile::GetByteSlow()
{
    uint8_t b;
    return Read(&b, 1) == 1 ? b : -1;
}

int TInFile::ReadAt(int64_t pos, void* buffer, size_t n)
{
    uint8_t* p = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const ssize_t r = ::pread(fd_, p, n, pos);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return error_ = Failed(IoErrorCode(errno));
        if (r == 0)
            return -1;
        p += r;
        pos += r;
        n -= static_cast<size_t>(r);
    }
    return ecOK;
}

int TInFile::Seek(int64_t pos)
{
    if (pos < 0)
        return IoErrorCode(EINVAL);
    pos_ = pos;
    return ecOK;
}

TBufferedWriter::~TBufferedWriter() { Discard(); }

int TBufferedWriter::Create(const std::string& name)
{
    Discard();
    if (name.empty())
        return ecFileNotFound;
    // The data goes to a new file beside the target, which replaces the target only when complete:
    // a failed write never leaves a partial file nor destroys an older file of that name.
    file_ = std::make_unique<platform::FileReplacement>(name);
    if (int error = file_->Open(); error != 0) {
        file_.reset();
        return FileFailed(name, IoErrorCode(error));
    }
    fd_ = file_->Descriptor();
    buffer_.assign(kBufferSize, 0);
    used_ = 0;
    filePos_ = 0;
    return ecOK;
}

int TBufferedWriter::Fail(int code)
{
    if (file_)
        FileFailed(file_->Target(), code);
    Discard();
    return code;
}

static int WriteAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return IoErrorCode(errno);
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return ecOK;
}

int TBufferedWriter::Flush()
{
    if (used_ == 0)
        return ecOK;
    if (int rc = WriteAll(fd_, buffer_.data(), used_); rc < 0)
        return Fail(rc);
    filePos_ += static_cast<int64_t>(used_);
    used_ = 0;
    return ecOK;
}

int TBufferedWriter::Write(const void* data, size_t n)
{
    if (fd_ < 0)
        return IoErrorCode(EBADF);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (used_ + n < kBufferSize) {
        std::memcpy(buffer_.data() + used_, p, n);
        used_ += n;
        return ecOK;
    }
    const size_t fill = kBufferSize - used_;
    std::memcpy(buffer_.data() + used_, p, fill);
    used_ = kBufferSize;
    if (int rc = Flush(); rc < 0)
        return rc;
    p += fill;
    n -= fill;
    const size_t direct = n - n % kBufferSize;
    if (direct > 0) {
        if (int rc = WriteAll(fd_, p, direct); rc < 0)
            return Fail(rc);
        filePos_ += static_cast<int64_t>(direct);
    }
    std::memcpy(buffer_.data(), p + direct, n - direct);
    used_ = n - direct;
    return ecOK;
}

int TBufferedWriter::Seek(int64_t pos)
{
    if (fd_ < 0)
        return IoErrorCode(EBADF);
    if (int rc = Flush(); rc < 0)
        return rc;
    if (::lseek(fd_, pos, SEEK_SET) < 0)
        return Fail(IoErrorCode(errno));
    filePos_ = pos;
    return ecOK;
}

int TBufferedWriter::WriteAt(int64_t pos, const void* data, size_t n)
{
    const int64_t end = Position();
    if (int rc = Seek(pos); rc < 0)
        return rc;
    if (int rc = Write(data, n); rc < 0)
        return rc;
    return Seek(end);
}

int TBufferedWriter::ReadAt(int64_t pos, void* data, size_t n)
{
    if (fd_ < 0)
        return IoErrorCode(EBADF);
    if (int rc = Flush(); rc < 0)
        return rc;
    uint8_t* p = static_cast<uint8_t*>(data);
    while (n > 0) {
        const ssize_t r = ::pread(fd_, p, n, pos);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return Fail(IoErrorCode(r < 0 ? errno : EIO));
        p += r;
        pos += r;
        n -= static_cast<size_t>(r);
    }
    return ecOK;
}

int TBufferedWriter::Close()
{
    if (fd_ < 0)
        return IoErrorCode(EBADF);
    if (int rc = Flush(); rc < 0)
        return rc;
    fd_ = -1;
    if (const int error = file_->Commit(); error != 0)
        return Fail(IoErrorCode(error));
    file_.reset();
    return ecOK;
}

void TBufferedWriter::Discard()
{
    if (file_)
        file_->Discard();
    file_.reset();
    fd_ = -1;
    used_ = 0;
}

} // namespace zn::faxdoc
