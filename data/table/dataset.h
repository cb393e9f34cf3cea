// A dataset over one open xBase table: the current record and its fields, navigation in the order
// of the selected tag, editing, and the notifications the grid and the table components follow.
// The dataset reaches the engine only through its entry points; every call selects the table's work
// area and selects the area that was selected before again, since the selected area is engine-wide
// state shared with TVeldrane and other tables. GUI thread only.
#pragma once
#include <QDate>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "table_result.h"

namespace zn::data {

class TTable;

// Field types as the table classes know them, from the xBase type letters.
enum class TFieldType : int {
    ftUnknown = 0,
    ftString = 1,    // C
    ftDate = 2,      // D
    ftBlob = 3,      // B, M, P: not read or written here
    ftBoolean = 4,   // L
    ftSmallint = 5,  // N without decimals, width below 5
    ftFloat = 7,     // N with decimals, or width 5 and more
    ftInvalid = 255, // any other letter
};
TFieldType FieldTypeOf(char letter, int width, int decimals);

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsCalcFields };

// One record as the dataset holds it: the raw xBase bytes (deletion flag first) and the values of
// the calculated fields.
struct TRecordBuffer {
    long recno = 0;
    std::string raw;
    std::map<std::string, std::string> calc;
};

// A field of the dataset: a stored xBase field read and written in the raw record, or a calculated
// field that OnCalcFields fills.
class TField {
public:
    const std::string& FieldName() const { return name_; }
    TFieldType DataType() const { return type_; }
    char TypeLetter() const { return letter_; }
    int Size() const { return width_; } // width in the table
    int Decimals() const { return decimals_; }
    int FieldNo() const { return fieldNo_; } // 1-based in the table; 0 for a calculated field
    bool Calculated() const { return fieldNo_ == 0; }

    // Column order among the fields and what a grid shows.
    int Index() const;
    void SetIndex(int index);
    const std::string& DisplayLabel() const { return label_.empty() ? name_ : label_; }
    void SetDisplayLabel(const std::string& label) { label_ = label; }
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    int DisplayWidth() const { return displayWidth_; } // characters
    void SetDisplayWidth(int chars) { displayWidth_ = chars; }

    // Values of the active record. A field whose bytes are all blanks is null; reading a null field
    // gives "", 0, false or an invalid date. A date whose digits are not a valid date is null too.
    bool IsNull() const;
    std::string AsString() const; // text: trailing blanks dropped; dates in yyyymmdd; logical "T"/"F"
    long AsInteger() const;
    double AsFloat() const;
    bool AsBoolean() const; // true only for "T"
    QDate AsDate() const;
    QDateTime AsDateTime() const;
    // What a grid shows: dates in the short date format, logicals "True"/"False", numbers as stored.
    std::string DisplayText() const;
    QString DisplayString() const; // the same, for Qt, without an intermediate copy for texts

    // Writing needs the dataset in edit or insert state (or calculating, for calculated fields).
    // A value that does not fit its field throws EDatabaseError 10019.
    void SetAsString(const std::string& value);
    void SetAsInteger(long value);
    void SetAsFloat(double value);
    void SetAsBoolean(bool value);
    void SetAsDate(const QDate& value);
    void SetAsDateTime(const QDateTime& value);
    void Clear();

private:
    friend class TTable;
    TField(TTable& table, std::string name, char letter, int width, int decimals, int fieldNo, int offset);
    const char* Raw() const;
    char* WritableRaw();
    std::string* Calc() const;
    void PutRaw(int result);

    TTable& table_;
    std::string name_;
    char letter_;
    TFieldType type_;
    int width_, decimals_, fieldNo_, offset_;
    std::string label_;
    bool visible_ = true;
    int displayWidth_;
};

// What the dataset tells its links.
enum class TDataEvent {
    deActiveChanged,    // opened or closed
    deDataSetChanged,   // the rows changed as a whole: order, filter, pack, refresh
    deDataSetScroll,    // the current record moved
    deRecordChange,     // the current record's values changed (edit, post, cancel)
    deLayoutChange,     // fields shown, their order, labels or widths
    deDataSetDestroyed, // the dataset is going away: links drop it and must not remove themselves
};

class TTable {
public:
    TTable();
    ~TTable();
    TTable(const TTable&) = delete;
    TTable& operator=(const TTable&) = delete;

    // The folder of the table (ending in "/" or not), the DBF file name ("ZNOUT.DBF", found in any
    // letter case), exclusive use, and the tag that orders the rows ("" = record order).
    void SetDatabaseName(const std::string& folder);
    const std::string& DatabaseName() const { return folder_; }
    void SetTableName(const std::string& name);
    const std::string& TableName() const { return tableName_; }
    void SetExclusive(bool exclusive);
    bool Exclusive() const { return exclusive_; }
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return readOnly_; }
    void SetIndexName(const std::string& tag);
    const std::string& IndexName() const { return indexName_; }
    std::string FullPath() const;

    // Open throws EDatabaseError (11011 "File Open Error" when the engine refuses the file).
    void Open();
    void Close();
    bool Active() const { return area_ != 0; }
    void SetActive(bool active) { active ? Open() : Close(); }
    int WorkArea() const { return area_; }
    TDataSetState State() const { return state_; }

    void First();
    void Next();
    void Prior();
    void Last();
    int MoveBy(int distance); // the distance moved
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }
    bool IsEmpty() const { return bof_ && eof_; }
    // The physical number of the current record; 0 when there is none.
    long RecNo() const { return current_.recno; }
    // Moves to a record by its physical number (it must pass the filter to be shown).
    void GoToRecord(long recno);
    long RecordCount(); // records in the file

    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Delete(); // marks the current record deleted; the view moves on
    // Marks the record `recno` (by its physical number) deleted without making it durable and
    // without moving the view; many marks then go to disk with one Commit(). Refresh moves the view
    // off a marked record.
    void MarkDeleted(long recno);
    // Writes every pending change of the table and syncs the table and its index.
    void Commit();
    // Re-reads the current record and the rows around it. A current record that no longer passes
    // the filter gives way to the next one that does (or the last one).
    void Refresh();
    // Whether the current record still passes the filter and the Deleted setting: 0, or 8709 when
    // it no longer does (the engine then stays on that record, even when it is the last one).
    int CheckCurrentRecord();
    void CheckBrowseMode(); // posts a pending edit

    void DisableControls();
    void EnableControls(); // the links hear one deDataSetChanged when the count reaches 0
    bool ControlsDisabled() const { return disabled_ > 0; }

    // Fields in column order (calculated fields included).
    int FieldCount() const { return static_cast<int>(fields_.size()); }
    TField& Fields(int index);
    TField& FieldByName(const std::string& name); // throws EDatabaseError when there is none
    TField* FindField(const std::string& name);
    // A calculated field, declared before Open; OnCalcFields gives it its value per record.
    void AddCalcField(const std::string& name, TFieldType type, int width);
    std::function<void(TTable&)> OnCalcFields;
    // Runs after the dataset opens (the table components reapply their filter here).
    std::function<void(TTable&)> AfterOpen;

    // Links (grids, table components) hear every event; the id removes the link.
    int AddLink(std::function<void(TDataEvent)> link);
    void RemoveLink(int id);

    // For the grid: up to `count` rows next to the record `recno` in the current order, forward
    // (direction 1) or backward (-1), not including it; recno 0 starts before the top (forward) or
    // after the bottom (backward). Rows stop at the ends. The current record is untouched.
    void ReadRows(long recno, int direction, int count, std::vector<TRecordBuffer>& rows);
    // Makes a row read that way the current record without reading it again.
    void GoToRow(const TRecordBuffer& row);
    // Makes a row read that way the active record, so that Fields read it (painting, calculating);
    // null makes the current record active again.
    void SetActiveRecord(const TRecordBuffer* row);
    const TRecordBuffer& CurrentRecord() const { return current_; }
    // The record the fields read: the current one, the one being edited, or a row being painted or
    // calculated.
    const TRecordBuffer& ActiveRecord() const { return *active_; }

    // The engine position of the current record written down before a TVeldrane call moves it, and
    // the dataset brought back in step with the engine after.
    void WritePosition();
    void Resync();

    // Record-level raw access for the layer's procedures.
    static int PutFieldRaw(char* raw, const TField& field, const std::string& text);

private:
    friend class TField;
    class AreaScope;
    void Notify(TDataEvent event);
    // Marks a record deleted in the engine; false when there was only an insert to cancel.
    bool MarkRecordDeleted(long recno);
    void ReadFields();
    void LoadCurrent();
    void Calculate(TRecordBuffer& row);
    void PositionEngine();
    void LoadFromEngine(TRecordBuffer& row);
    void NotifyScroll();
    void TakeEngineRecord(bool bof, bool eof);
    void SetEmpty();
    void RequireActive() const;
    void RequireEditing() const;

    std::string folder_, tableName_, indexName_;
    bool exclusive_ = false, readOnly_ = false;
    int area_ = 0;
    TDataSetState state_ = TDataSetState::dsInactive;
    bool bof_ = true, eof_ = true;
    TRecordBuffer current_;
    TRecordBuffer editing_;
    const TRecordBuffer* active_ = nullptr;
    std::vector<std::unique_ptr<TField>> fields_;
    struct CalcDecl {
        std::string name;
        TFieldType type;
        int width;
    };
    std::vector<CalcDecl> calcDecls_;
    std::map<int, std::function<void(TDataEvent)>> links_;
    int nextLink_ = 1;
    int disabled_ = 0;
    bool changedWhileDisabled_ = false;
};

// The database link of a data-aware control or component: which dataset it shows.
class TDataSource {
public:
    explicit TDataSource(TTable* dataSet = nullptr) : dataSet_(dataSet) {}
    TTable* DataSet() const { return dataSet_; }
    void SetDataSet(TTable* dataSet) { dataSet_ = dataSet; }

private:
    TTable* dataSet_;
};

} // namespace zn::data
