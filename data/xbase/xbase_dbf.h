// DBF table file: header and field descriptors, fixed-length records, shared-access locks.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "xbase_common.h"
#include "xbase_file.h"

namespace zn::xbase {

class DbfTable {
public:
    // Lock bytes lie beyond any data so that locked records stay readable by others.
    static constexpr uint64_t kOpenLockOffset = 0x7FFFFFFF;
    static constexpr uint64_t kHeaderLockOffset = 0x7FFFFFFE;

    [[nodiscard]] static Err Create(const std::string& path, const std::vector<Field>& fields);
    [[nodiscard]] Err Open(const std::string& path, OpenMode mode);
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    const std::string& Path() const { return file_.Path(); }
    OpenMode Mode() const { return mode_; }
    bool Shared() const { return mode_ != OpenMode::Exclusive; }
    bool Writable() const { return mode_ != OpenMode::ReadOnly; }
    const std::vector<Field>& Fields() const { return fields_; }
    int FieldIndex(const std::string& name) const; // -1 when there is no such field
    int RecordLength() const { return recordLength_; }
    int HeaderLength() const { return headerLength_; }
    uint32_t RecordCount() const { return count_; }
    bool HasIndexFlag() const { return (flags_ & 0x01) != 0; }

    // Re-reads the record count another process may have raised (shared mode).
    [[nodiscard]] Err RefreshCount();
    void SetCount(uint32_t count) { count_ = count; }
    [[nodiscard]] Err ReadRecords(uint32_t first, uint32_t number, char* out) const;
    // Writes consecutive records; when they end the table the end-of-file byte follows them. Shared,
    // only a writer holding the header lock knows where the table ends (others may have appended
    // since this handle last looked): without it the records are written alone.
    [[nodiscard]] Err WriteRecords(uint32_t first, uint32_t number, const char* data);
    // Count, date of last update and the structural-index flag. Shared, the count written is the
    // one on disk under the header lock (taken here when the caller does not hold it).
    [[nodiscard]] Err WriteHeader(int lockTimeoutSeconds = 1);
    // The records against the header: a count beyond the data, deletion flags that are neither
    // blank nor "*" (an end-of-file byte written over a record). CorruptTable with `where` set.
    [[nodiscard]] Err CheckRecords(std::string& where) const;
    // Puts what was written since the last call on disk (fdatasync); nothing written, no sync.
    [[nodiscard]] Err Sync();
    void SetIndexFlag(bool present) { flags_ = present ? (flags_ | 0x01) : (flags_ & ~0x01); }
    void BlankRecord(char* buffer) const;

    [[nodiscard]] Err LockHeader(int timeoutSeconds);
    void UnlockHeader();
    [[nodiscard]] Err LockRecord(uint32_t recno, int timeoutSeconds);
    void UnlockRecord(uint32_t recno);

    // Builds the header block of a table with these fields and record count.
    static std::vector<uint8_t> HeaderBytes(const std::vector<Field>& fields, uint32_t count, uint8_t flags);
    uint8_t Flags() const { return flags_; }
    int Descriptor() const { return file_.Descriptor(); }
    uint64_t FileSize() const;

private:
    [[nodiscard]] Err ReadHeader();
    uint32_t WithRecordsBeyond(uint32_t count, uint64_t room) const;

    File file_;
    OpenMode mode_ = OpenMode::Shared;
    std::vector<Field> fields_;
    int headerLength_ = 0;
    int recordLength_ = 0;
    uint32_t count_ = 0;
    uint8_t flags_ = 0;
    bool unsynced_ = false;
    bool headerLocked_ = false;
};

// Runs of records for a pass over the whole table, read into one buffer. (Mapping each run
// instead costs more than the copy: page-table set-up, and a TLB flush on every unmap, which
// made index builds several times slower on a busy machine.)
class RecordScan {
public:
    explicit RecordScan(const DbfTable& table) : table_(table) {}
    RecordScan(const RecordScan&) = delete;
    RecordScan& operator=(const RecordScan&) = delete;
    // Records first..first+number-1, valid until the next call.
    [[nodiscard]] Err Read(uint32_t first, uint32_t number, const char*& out);
    // Records 1..count in runs of about a megabyte: visit(first, number, records) -> Err; the first
    // error stops the pass.
    template <typename Visit>
    [[nodiscard]] Err ForEachRun(uint32_t count, Visit visit)
    {
        size_t length = static_cast<size_t>(table_.RecordLength());
        uint32_t per = static_cast<uint32_t>(std::max<size_t>(1, (size_t(1) << 20) / length));
        for (uint32_t first = 1; first <= count; first += per) {
            uint32_t n = std::min(per, count - first + 1);
            const char* records = nullptr;
            if (Err e = Read(first, n, records); e != Err::Ok)
                return e;
            if (Err e = visit(first, n, records); e != Err::Ok)
                return e;
        }
        return Err::Ok;
    }

private:
    const DbfTable& table_;
    std::vector<char> buffer_;
};

} // namespace zn::xbase
