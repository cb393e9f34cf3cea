// A file descriptor with positioned I/O and open-file-description byte-range locks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_replacement.h"
#include "xbase_common.h"

namespace zn::xbase {

class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    [[nodiscard]] Err Open(const std::string& path, bool write);
    // Takes over a descriptor (closed by this File).
    void Adopt(int fd, bool write, const std::string& path);
    // A nameless file in folder, gone when closed.
    [[nodiscard]] Err OpenTemporary(const std::string& folder);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    bool Writable() const { return writable_; }
    const std::string& Path() const { return path_; }
    int Descriptor() const { return fd_; }

    [[nodiscard]] Err ReadAt(uint64_t offset, void* buffer, size_t length) const; // short read = error
    size_t ReadSome(uint64_t offset, void* buffer, size_t length) const;          // bytes read
    [[nodiscard]] Err WriteAt(uint64_t offset, const void* buffer, size_t length);
    [[nodiscard]] Err Truncate(uint64_t length);
    uint64_t Size() const;
    [[nodiscard]] Err Sync();

    // Locks survive other descriptors of the same file being closed, and conflict between two opens
    // in one process as between two processes. timeoutSeconds 0: one try.
    [[nodiscard]] Err Lock(uint64_t offset, uint64_t length, bool exclusive, int timeoutSeconds);
    bool TryLock(uint64_t offset, uint64_t length, bool exclusive);
    void Unlock(uint64_t offset, uint64_t length);

private:
    int fd_ = -1;
    bool writable_ = false;
    std::string path_;
};

// Writes a new file under a temporary name beside the target and puts it in place by rename, so a
// crash leaves either the old file or the complete new one (platform/file_replacement.h).
class FileReplacement {
public:
    explicit FileReplacement(const std::string& target) : replacement_(target) {}
    [[nodiscard]] Err Open();
    // The temporary, open for writing. It may be moved out (to a CdxFile): its descriptor is one
    // of its own.
    File& Out() { return file_; }
    [[nodiscard]] Err Commit();    // flushes to disk and renames over the target
    [[nodiscard]] Err CommitNew(); // the same, unless the target exists by then (FileOpen)

private:
    [[nodiscard]] Err Finish(bool replace);
    platform::FileReplacement replacement_;
    File file_;
};

} // namespace zn::xbase
