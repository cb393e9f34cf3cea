// Files for the document engines: a read-only input file and the converter's buffered writer.
// Failures are the negated I/O codes of the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_replacement.h"

namespace zn::faxdoc {

// The file that the last failed file operation of this thread concerns: messages name it rather
// than guess between the input and the output. Empty after a failure that is no file's (a bad
// format, an aborted conversion).
const std::string& FailedFileName();
void ClearFailedFileName();

// ecAccessDenied when output names the file input names (by any path or link): writing the output
// would replace the input.
int RefuseOutputOverInput(const std::string& input, const std::string& output);

// An input file read through a buffer: pages and pictures are read a few bytes at a time, as rows
// are asked for, never whole.
class TInFile {
public:
    static constexpr size_t kBufferSize = 65536;
    TInFile() = default;
    ~TInFile();
    TInFile(const TInFile&) = delete;
    TInFile& operator=(const TInFile&) = delete;

    // -2 for an empty name; a folder, FIFO, device or socket is refused (ecAccessDenied) rather than
    // read or waited on.
    int Open(const std::string& name);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Reads up to `n` bytes; returns the count (short only at the end of the file) or a negative code.
    long Read(void* buffer, size_t n);
    int Seek(int64_t pos);
    int64_t Size() const { return size_; } // when the file was opened
    // What tells this file apart from another file, or from itself rewritten, under the same name:
    // device, inode, size and modification time when it was opened.
    struct TIdentity {
        uint64_t device = 0, inode = 0;
        int64_t size = -1, modifiedNs = 0;
        bool operator==(const TIdentity& o) const
        {
            return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs;
        }
    };
    const TIdentity& Identity() const { return identity_; }
    int64_t Position() const { return pos_; }
    // The next byte, or -1 at the end of the file or on a read error (then Error() says which).
    int GetByte()
    {
        const int64_t at = pos_ - bufferStart_;
        if (at >= 0 && static_cast<size_t>(at) < bufferFill_) {
            ++pos_;
            return buffer_[static_cast<size_t>(at)];
        }
        return GetByteSlow();
    }
    // Reads exactly `n` bytes at `pos` past the buffer (for blocks read out of order): 0, -1 when the
    // file ends first, or the negated I/O code.
    int ReadAt(int64_t pos, void* buffer, size_t n);
    // The negated I/O code of the last failed read, 0 when none failed.
    int Error() const { return error_; }

private:
    int GetByteSlow();

    int Failed(int code); // notes the file as the one that failed
    int fd_ = -1;
    std::string name_;
    int64_t size_ = 0;
    TIdentity identity_;
    int64_t pos_ = 0; // the position the caller sees
    std::vector<uint8_t> buffer_;
    int64_t bufferStart_ = 0; // file position of buffer_[0]
    size_t bufferFill_ = 0;
    int error_ = 0;
};

// A 4096-byte buffer in front of a file written anew. The file appears under its name only when
// Close succeeds, and is then on disk (platform/file_replacement.h); on a write error, a failed
// close, Discard, destruction or a SIGTERM nothing is left.
class TBufferedWriter {
public:
    static constexpr size_t kBufferSize = 4096;
    TBufferedWriter() = default;
    ~TBufferedWriter(); // an open writer that was never closed is discarded
    TBufferedWriter(const TBufferedWriter&) = delete;
    TBufferedWriter& operator=(const TBufferedWriter&) = delete;

    int Create(const std::string& name);
    int Write(const void* data, size_t n);
    int Seek(int64_t pos);
    int64_t Position() const { return filePos_ + static_cast<int64_t>(used_); }
    // Rewrites or reads back `n` bytes already written at `pos`; the write position stays.
    int WriteAt(int64_t pos, const void* data, size_t n);
    int ReadAt(int64_t pos, void* data, size_t n);
    int Close();    // flushes and closes; on failure the file is deleted
    void Discard(); // closes and deletes the file
    bool IsOpen() const { return fd_ >= 0; }

private:
    int Flush();
    int Fail(int code);

    int fd_ = -1;
    std::unique_ptr<platform::FileReplacement> file_;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    int64_t filePos_ = 0;
};

} // namespace zn::faxdoc
