// "Fax Log Cleanup Utility": removes old entries from the outgoing and received logs together with
// their fax files, working on the main window's own open tables. Rows are only marked deleted here;
// the caller's index rebuild packs them away when EntriesDeleted() says anything went.
// The tests of a delete run are C++ predicates over the record, never xBase text built from what
// the user typed, so no value (quotes, brackets) can change what a run deletes.
// An entry loses its files and its row together or keeps both. Entries go in batches: the files of
// the batch are moved aside, the rows are marked deleted and committed once, then the aside files
// are removed; an entry whose files cannot all be moved, or whose row cannot be marked, gets its files
// back and keeps its row. Aside files left by a run cut short are settled when zn starts and when the window opens.
#pragma once
#include "data/gui/db_grid.h"
#include "data/table/dataset.h"
#include "data/table/veldrane.h"

#include <QDate>
#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QCalendarWidget;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace zn::app {

class TMainScreen;

class TDateSelector : public QDialog {
public:
    explicit TDateSelector(QWidget* parent = nullptr);
    QDate Date() const;
    void SetDate(const QDate& date);

    QCalendarWidget* Calendar;
    QLabel* ShowDatePanel;
    QPushButton *PrevYear, *PrevMonth, *DoCurrentDate, *NextMonth, *NextYear, *OKButton, *CancelButton;

private:
    void ShowDate();
};

class TDeleteForConditions : public QDialog {
public:
    explicit TDeleteForConditions(QWidget* parent = nullptr);
    QRadioButton *rFrom, *rRecipient, *rPhone;
    QLineEdit *FaxFROM, *FaxRECIPIENT, *FaxPHONE;
    QCheckBox* ExactMatch;
    QPushButton *OKButton, *CancelButton;
    void OKButtonClick();
    // The field of the checked button and the upper-cased, trimmed value of its edit.
    std::string FieldName() const;
    QString Value() const;
};

struct CleanupTables {
    data::TTable* faxTable;
    data::TVeldrane* faxVeldrane;
    data::TDataSource* faxSource;
    data::TTable* recTable;
    data::TVeldrane* recVeldrane;
    data::TDataSource* recSource;
    data::TVeldraneEnv* env;
    std::string programFolder; // ends in "/"
};

class TDMForm : public QDialog {
public:
    explicit TDMForm(const CleanupTables& tables, QWidget* parent = nullptr);
    ~TDMForm() override;

    bool EntriesDeleted() const { return entriesDeleted_; }
    bool ByDate() const { return byDate_; }
    bool Outgoing() const;

    // The commands of the "Actions" menu.
    void DeleteSome();
    void mnuDeleteAllArchivedFaxesClick();
    void mnuDeleteAllthatHaveBeenSentClick();
    void mnuDeleteAllThatHaveNOTBeenSentClick();
    void DeleteAllFaxes1Click();
    void mnuDeleteAllFaxesMeetingCertainConditionsClick();
    void mnuToggleDeletedStateClick();

    using RowTest = std::function<bool(data::TTable&)>;
    // Deletes every entry of the current table passing the test; the number deleted.
    int DeleteRun(const RowTest& test);
    void UpdateViewState();

    QTabWidget* PageControl1;
    QWidget *outgoing, *incoming;
    data::TDBGrid *SendGrid, *RecGrid;
    QMenu *Actions, *PopupMenu1;
    QAction *mnuDeleteSome, *mnuDeleteAllArchivedFaxes, *mnuDeleteAllthatHaveBeenSent, *mnuDeleteAllThatHaveNOTBeenSent,
        *DeleteAllFaxes1, *mnuDeleteAllFaxesMeetingCertainConditions, *mnuToggleDeletedState, *Delete1;
    QPushButton *Button1, *Helpbutton;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void FormActivate();
    void LoadGrids();
    void Ask(const std::string& question, const std::string& caption, const RowTest& test);
    struct Doomed;
    // The files an entry of the table names, as paths in its folder.
    std::vector<std::string> EntryFiles(data::TTable& table) const;
    // Deletes the entries [first, last) of the table; the number deleted, `kept` counts the others.
    int DeleteBatch(data::TTable& table, Doomed* first, Doomed* last, int& kept);
    // Tells the user of the file names EntryFiles left alone since the last call.
    void SayForeignNames();
    data::TTable& Current();
    data::TVeldrane& CurrentVeldrane();

    CleanupTables tables_;
    bool firstActivation_ = true;
    bool entriesDeleted_ = false;
    bool byDate_ = false;
    bool filtersSaved_ = false;
    std::string faxFilter_, recFilter_;
    int kept_ = 0;
    mutable std::vector<std::string> foreignNames_; // names with a folder part, met by EntryFiles
};

// Files a clean-up run had moved aside when it was cut short (a crash, a kill) are settled: those of
// entries still in the table (outgoing: SEND, else RECEIVE under the program folder) come back,
// the rest are removed. The window does this when it opens, and zn when it starts.
void SettleAsideFiles(data::TTable& table, bool outgoing, const std::string& programFolder);

// The menu command of the main window: the window, then the index rebuild when entries went.
void RunLogCleanup(TMainScreen& screen);

} // namespace zn::app
