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

// Leaves new elements uninitialised: a buffer that a read fills at once need not be cleared first.
template <class T>
struct TNoInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TNoInitAllocator<U>;
  };
  TNoInitAllocator() = default;
  template <class U>
  TNoInitAllocator(const TNoInitAllocator<U>&) {}
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... A>
  void construct(U* p, A&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
  }
};

// The file that the last failed file operation of this thread concerns: messages name it rather
// than guess between the input and the output. Empty after a failure that is no file's (a bad
// format, an aborted conversion).
const std::string& FailedFileName();
void ClearFailedFileName();

// ecAccessDenied when output names the file input names (by any path or link): writing the output
// would replace the input.
int RefuseOutputOverInput(const std::string& input, const std::string& output);

// A whole input file in memory.
using TFileBytes = std::vector<uint8_t, TNoInitAllocator<uint8_t>>;

// Reads go through a buffer: the fax pages are read a few bytes (a record's count) at a time.
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
  int64_t Size() const;
  int64_t Position() const { return pos_; }

 private:
  friend int ReadWholeFile(const std::string& name, TFileBytes& data);
  int Failed(int code); // notes the file as the one that failed
  int fd_ = -1;
  std::string name_;
  int64_t pos_ = 0;          // the position the caller sees
  std::vector<uint8_t> buffer_;
  int64_t bufferStart_ = 0;  // file position of buffer_[0]
  size_t bufferFill_ = 0;
};

// Reads a whole file into `data`; a negative code on failure.
int ReadWholeFile(const std::string& name, TFileBytes& data);

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
  int Close();   // flushes and closes; on failure the file is deleted
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
