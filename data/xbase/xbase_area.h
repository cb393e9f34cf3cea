// A work area: one open table with its compound indexes, the current record and its buffer,
// the controlling order, filter and scope, and the record locks it holds.
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "xbase_cdx.h"
#include "xbase_common.h"
#include "xbase_dbf.h"
#include "xbase_expr.h"
#include "xbase_sort.h"

namespace zn::xbase {

class WorkArea {
public:
    WorkArea(const Settings& settings, const Progress& progress) : settings_(settings), progress_(progress) {}
    ~WorkArea();
    WorkArea(const WorkArea&) = delete;
    WorkArea& operator=(const WorkArea&) = delete;

    [[nodiscard]] Err Open(const std::string& path, const std::string& alias, OpenMode mode);
    [[nodiscard]] Err Close();
    const std::string& Alias() const { return alias_; }
    DbfTable& Table() { return table_; }

    // Moving. Records hidden by the Deleted setting, the filter, the order's FOR condition or the
    // scope are passed over; at the end the record number is RecordCount() + 1.
    [[nodiscard]] Err GoTop();
    [[nodiscard]] Err GoBottom();
    [[nodiscard]] Err Skip(long count);
    [[nodiscard]] Err Go(long recno);
    uint32_t RecNo() const { return recno_; }
    uint32_t RecordCount();
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }

    // The current record (deletion flag first); changes are written when the record is left or
    // committed.
    const char* Record() const { return buffer_.data(); }
    [[nodiscard]] Err PutRecord(const char* record);
    [[nodiscard]] Err ReplaceText(int field, const std::string& text);
    [[nodiscard]] Err ReplaceNumber(int field, double value);
    [[nodiscard]] Err ReplaceLogical(int field, bool value);
    [[nodiscard]] Err ReplaceDate(int field, int32_t julian);
    [[nodiscard]] Err AppendBlank();
    [[nodiscard]] Err Delete();
    [[nodiscard]] Err Recall();
    bool Deleted() const { return buffer_[0] == '*'; }
    [[nodiscard]] Err Commit();
    [[nodiscard]] Err Pack();

    [[nodiscard]] Err Lock(uint32_t recno);
    void Unlock(uint32_t recno); // 0: all

    // Orders: the tags of the open index files, the production file's first, each file's tags in
    // the order they were built.
    [[nodiscard]] Err IndexTag(const std::string& file, const std::string& tag, const std::string& key,
                               const std::string& condition, bool descending, int& order);
    [[nodiscard]] Err IndexOpen(const std::string& file, int& order);
    void CloseIndexes();
    int OrderCount();
    int Order() const { return order_; }
    [[nodiscard]] Err SetOrder(int order);
    int TagOrder(const std::string& name);
    std::string TagName(int order);
    std::string IndexFile(int order);
    std::string IndexKey(int order);
    std::string IndexFor(int order);
    bool IndexDescending(int order);
    std::string KeyData();
    [[nodiscard]] Err Seek(const std::string& key, bool& found);
    [[nodiscard]] Err SetScope(const char* low, const char* high);

    [[nodiscard]] Err SetFilter(const char* expression);
    const std::string& FilterText() const { return filterText_; }
    // Records in the current view: the Deleted setting, the order's FOR condition, the scope and
    // the filter let them through.
    [[nodiscard]] Err CountVisible(long& count);
    // Records of the whole table that the Deleted setting and `condition` let through (order,
    // scope and filter aside).
    [[nodiscard]] Err CountMatching(const std::string& condition, long& count);

    // Expressions compiled once per text and kept.
    [[nodiscard]] Err Compile(const std::string& text, const Expression*& out);
    EvalContext Context() const { return EvalContext{buffer_.data(), recno_, &settings_}; }

    // The records against the header, then every tag's keys against the records; the first fault
    // is described in `where`.
    [[nodiscard]] Err Check(std::string& where);

    // A production index that is there but could not be opened at all (damaged, left half-written,
    // unreadable: CorruptIndex, FileOpen, FileRead) or not for writing (ReadOnly); Ok otherwise. While
    // such a file is there, writes through this area are refused with that error: they would leave
    // it stale. Deleting the file (and building the tags again) ends it.
    Err IndexFault();
    const std::string& IndexFaultPath() const { return indexFaultPath_; }
    std::string IndexFaultText(); // what the fault means, for messages; empty without one

private:
    struct OrderRef {
        size_t file; // index into indexes_
        std::string name;
        size_t tag = 0; // index into that file's tags
        std::unique_ptr<Expression> key;
        std::unique_ptr<Expression> condition;
        char type = 'C';
    };
    struct OrderKey {
        bool included = false;
        std::vector<uint8_t> key;
    };

    [[nodiscard]] Err ReadCurrent(uint32_t recno);
    // Read-ahead: a run of records read in one go, from which the steps that follow take theirs
    // while they are current. Shared, that is while the production index's write counter keeps
    // the value it had when the run was read (every writer of the table bumps it); exclusive,
    // until this area writes.
    CdxFile* Watched();
    bool Settled(uint32_t& counter);
    bool WindowHolds(uint32_t recno);
    [[nodiscard]] Err ReadWindow(uint32_t first, uint32_t last, uint32_t counter);
    // Record order: the records from `recno` on in `direction` up to the count, read ahead when the
    // table allows.
    [[nodiscard]] Err ReadAheadFrom(uint32_t recno, int direction, uint32_t count);
    // Tag order, inside a step holding the indexes: the records of the entries after pos_ in the
    // leaf, read in one run with the current one when they lie close together.
    [[nodiscard]] Err ReadAheadAlongLeaf(uint32_t recno, bool forward, uint32_t count);
    [[nodiscard]] Err Flush();
    [[nodiscard]] Err FlushAppends();
    [[nodiscard]] Err WriteCurrent();
    void SetEof();
    bool Visible();
    bool InScope(const uint8_t* key) const;
    [[nodiscard]] Err SyncOrders();
    CdxTag* TagOf(OrderRef& o);
    [[nodiscard]] Err MakeKey(OrderRef& o, const char* record, uint32_t recno, OrderKey& out);
    void ValueKey(const Value& v, char type, int length, std::vector<uint8_t>& out) const;
    [[nodiscard]] Err TextKey(OrderRef& o, const std::string& text, std::vector<uint8_t>& key, size_t& compareLength);
    // `optimistic`: see CdxFile::Acquire; the caller handles IndexChanged.
    [[nodiscard]] Err AcquireIndexes(bool write, bool optimistic = false);
    void ReleaseIndexes();
    [[nodiscard]] Err UpdateKeys(const char* before, const char* after, uint32_t recno);
    [[nodiscard]] Err FinishIndexWrites();
    [[nodiscard]] Err OpenIndexFile(const std::string& path, bool create, size_t& which);
    // The order's keys of every record it holds, sorted.
    [[nodiscard]] Err BuildKeys(OrderRef& o, KeySorter& out);
    std::string Folder() const;
    [[nodiscard]] Err Reindex();
    // Tag-order movement.
    [[nodiscard]] Err TagStep(int direction); // +1 / -1 in the order as presented
    [[nodiscard]] Err TagStepOnce(int direction, bool optimistic);
    [[nodiscard]] Err TagEdge(bool top);
    [[nodiscard]] Err TagSettle(int direction, bool& landed);
    void RememberPosition();
    [[nodiscard]] Err PositionAtCurrentRecord();
    [[nodiscard]] Err ScanTag(bool top);
    // Records that the Deleted setting and every one of `conditions` let through, read from a tag
    // when one serves, else counted in a pass over the records. The position is left as it was.
    [[nodiscard]] Err CountRecords(const std::vector<const Expression*>& conditions, long& count);
    [[nodiscard]] Err CountFromTag(const std::vector<const Expression*>& conditions, bool& served, long& count);
    [[nodiscard]] Err CountByScan(const std::vector<const Expression*>& conditions, long& count);
    [[nodiscard]] Err RestorePosition(uint32_t recno, bool eof, bool bof);
    std::string ProductionIndexPath() const;
    void Report(int percent) const;

    const Settings& settings_;
    const Progress& progress_;
    DbfTable table_;
    std::string alias_;
    std::vector<char> buffer_;
    std::vector<char> original_;
    uint32_t recno_ = 0;
    bool bof_ = true, eof_ = true;
    bool dirty_ = false;
    bool fresh_ = false; // appended here, not yet written nor indexed
    bool headerDirty_ = false;
    // Appended records gathered for one write (exclusive use).
    uint32_t pendingFirst_ = 0;
    std::vector<char> pending_;

    std::vector<std::unique_ptr<CdxFile>> indexes_;
    std::vector<OrderRef> orders_;
    std::vector<uint64_t> indexGenerations_;
    int order_ = 0;
    CdxPosition pos_;
    std::vector<uint8_t> posKey_;
    uint32_t posRecno_ = 0;
    uint64_t posGeneration_ = 0;
    uint64_t countGeneration_ = 0; // the index generation when the record count was last read
    bool countStamped_ = false;    // shared: the count was read while the watched counter was countStamp_
    uint32_t countStamp_ = 0;
    size_t watched_ = SIZE_MAX; // the production index among indexes_
    struct Window {
        uint32_t first = 0, number = 0;
        uint32_t counter = 0;
        std::vector<char> records;
    } window_;
    bool posValid_ = false;
    std::optional<std::vector<uint8_t>> scopeLow_, scopeHigh_;

    std::unique_ptr<Expression> filter_;
    std::string filterText_;
    std::map<std::string, std::unique_ptr<Expression>> expressions_;
    std::set<uint32_t> locks_;
    Err indexFault_ = Err::Ok;
    std::string indexFaultPath_;
};

} // namespace zn::xbase
