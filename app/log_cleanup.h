// "Fax Log Cleanup Utility": removes old entries from the outgoing and received logs together with
// their fax files, working on the main window's own open tables. Rows are only marked deleted here;
// the caller's index rebuild packs them away when EntriesDeleted() says anything went.
// The tests of a delete run are C++ predicates over the record, never xBase text built from what
// the user typed, so no value (quotes, brackets) can change what a run deletes.
// An entry loses its files and its row together or keeps both: its files are first moved aside,
// and when one of them cannot be, the others are moved back and the row stays.
#pragma once
#include "data/gui/db_grid.h"
#include "data/table/dataset.h"
#include "data/table/veldrane.h"

#include <QDate>
#include <QDialog>

#include <functional>
#include <string>

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
    bool DeleteEntry(data::TTable& table);
    data::TTable& Current();
    data::TVeldrane& CurrentVeldrane();

    CleanupTables tables_;
    bool firstActivation_ = true;
    bool entriesDeleted_ = false;
    bool byDate_ = false;
    bool filtersSaved_ = false;
    std::string faxFilter_, recFilter_;
    int kept_ = 0;
};

// The menu command of the main window: the window, then the index rebuild when entries went.
void RunLogCleanup(TMainScreen& screen);

} // namespace zn::app
