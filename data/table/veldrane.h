// TVeldrane works on the work area of one dataset directly, for what the dataset does not offer:
// creating a table file, building and opening index tags, packing, filtering by an xBase
// expression, physical record numbers, expression tests. TVeldraneEnv carries the engine-wide
// settings. Every operation selects the dataset's work area and selects the area that was selected
// before again; operations that move the engine's record write the dataset's position down first
// and bring the dataset back in step after. GUI thread only.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "dataset.h"

namespace zn::data {

class TVeldrane {
public:
    TVeldrane() = default;
    explicit TVeldrane(TDataSource* source) { SetDataSource(source); }
    ~TVeldrane();
    TVeldrane(const TVeldrane&) = delete;
    TVeldrane& operator=(const TVeldrane&) = delete;

    // Linking takes the source's dataset. When that dataset opens, a non-empty Filter is applied
    // and the ExtraIndexes are opened.
    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return source_; }
    TTable* DataSet() const { return table_; }

    // Creating a table: CreateNew, one CreateField per field, CreateExec.
    bool CreateNew(const std::string& path, int driver, int fieldCount);
    void CreateField(const std::string& name, const std::string& type, int width, int decimals);
    bool CreateExec();

    // Index file "" is the table's production CDX. The flag builds a descending tag; the option has
    // no effect. The result is the new order, 0 on failure.
    int IndexTag(const std::string& file, const std::string& tag, const std::string& key, int option, int flag,
                 const std::string& condition);
    int IndexOpen(const std::string& file);
    void CloseIndexes();
    int SetOrder(int order); // 0 = record order; the order before
    int IndexOrd();
    int TagArea(const std::string& tag); // 0 = no such tag
    std::string TagName(int order);
    void Pack(); // drops the records marked deleted

    // The filter: stored, and applied at once when the dataset is active (else when it opens).
    int Query(const std::string& expression); // "" clears
    const std::string& Filter() const { return filter_; }
    void SetFilter(const std::string& expression) { Query(expression); }
    long QueryRecCount();
    long RecCount();
    int RecSize();
    std::string DBFilter();
    void Go(long recno);
    // The physical number of the dataset's current record; RecCount + 1 when there is none.
    long RecNo();
    bool Deleted();
    bool EvalLogical(const std::string& expression);
    void SyncRecNo();
    void RestoreRecNo();
    void Delete();
    bool Bof();
    bool Eof();
    bool Active();
    // The engine's progress in percent during pack and index builds; an empty hook removes it.
    void SetGaugeHook(std::function<void(int percent)> hook);
    intptr_t SysProp(int code, intptr_t value);
    // The table's index file is there but could not be opened (damaged, left half-written by a
    // crash, unreadable, or not writable): its tags are missing and writes fail until the index is
    // deleted and its tags built again, as the index rebuild does.
    bool IndexNeedsRebuild();

    // Index files opened beside the production index whenever the dataset opens.
    void SetExtraIndexes(const std::vector<std::string>& files);
    const std::vector<std::string>& ExtraIndexes() const { return extraIndexes_; }
    void OpenExtraIndexes();
    void SetFastRead(bool on);
    bool FastRead() const { return fastRead_; }
    // The driver kind of ExtraIndexes entries without extension (4: .NTX, 5: .IDX, 6: .NSX).
    void SetDriverKind(int kind) { driverKind_ = kind; }

private:
    class Area;
    void OnDataEvent(TDataEvent event);

    TDataSource* source_ = nullptr;
    TTable* table_ = nullptr;
    int link_ = 0;
    std::vector<std::string> extraIndexes_;
    std::string filter_;
    long savedRecNo_ = 0;
    int createArea_ = 0;
    bool fastRead_ = false;
    int driverKind_ = 2;
};

// The process-wide date separator TVeldraneEnv.DateFormat sets ("/" until then).
char DateSeparator();

enum TVeldraneDateFrmt { dfAmerican, dfAnsi, dfBritish, dfFrench, dfGerman, dfItalian, dfSpanish };

// Engine-wide settings; each setter calls the engine at once. DateFormat and Century also set the
// process-wide short date format and date separator.
class TVeldraneEnv {
public:
    TVeldraneEnv();
    bool Exact() const { return exact_; }
    void SetExact(bool on);
    bool Century() const { return century_; }
    void SetCentury(bool on);
    TVeldraneDateFrmt DateFormat() const { return dateFormat_; }
    void SetDateFormat(TVeldraneDateFrmt format);
    long LockTimeout() const { return lockTimeout_; }
    void SetLockTimeout(long seconds);
    long MemoBlockSize() const { return memoBlockSize_; }
    void SetMemoBlockSize(long size);
    bool SoftSeek() const { return softSeek_; }
    void SetSoftSeek(bool on);
    bool Deleted() const { return deleted_; }
    void SetDeleted(bool on); // true hides the records marked deleted

private:
    bool exact_ = false, century_ = false;
    TVeldraneDateFrmt dateFormat_ = dfAmerican;
    long lockTimeout_ = 1, memoBlockSize_ = 64;
    bool softSeek_ = false, deleted_ = false;
};

} // namespace zn::data
