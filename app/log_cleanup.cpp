#include "app/log_cleanup.h"

#include "app/main_screen.h"
#include "foundation/dialogs.h"
#include "foundation/fax_file_names.h"
#include "foundation/form_placement.h"
#include "foundation/program_folders.h"
#include "foundation/text_values.h"
#include "platform/folders.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace zn::app {

namespace {

using foundation::kCleanupHelpContext;
constexpr const char* kLongDate = "dddd, MMMM d, yyyy";
// A file on its way out: renamed so, the row it belongs to can still get it back.
constexpr const char* kAsideSuffix = ".deleting";
// Entries deleted with one commit of their rows.
constexpr size_t kBatchRows = 1000;

QPushButton* Button(const char* name, const char* caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QString Folded(const std::string& text) { return QString::fromStdString(foundation::TrimBlanks(text)).toUpper(); }

// Whether the table shows any row; the current row stays where it was when it still shows.
bool HasRows(data::TTable& table)
{
    if (!table.Active() || table.IsEmpty())
        return false;
    const long recno = table.RecNo();
    table.First();
    if (table.Eof())
        return false;
    try {
        table.GoToRecord(recno);
        if (table.CheckCurrentRecord() != 0 || table.RecNo() != recno)
            table.First();
    } catch (const std::exception&) {
        table.First();
    }
    return true;
}

std::string Aside(const std::string& path) { return path + kAsideSuffix; }

// Makes the renames done in a folder durable before the rows that depend on them change.
bool SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // A file system that cannot sync a folder has nothing better to offer.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
}

// Whether the record is still in the table and not marked deleted; true when that cannot be told,
// so that its files are kept rather than lost.
bool RowLives(data::TTable& table, long recno)
{
    try {
        table.GoToRecord(recno);
        return table.RecNo() != recno || table.CheckCurrentRecord() == 0;
    } catch (const std::exception&) {
        return true;
    }
}

} // namespace

// An entry chosen for deletion: its row, the files its row names, and those moved aside so far.
struct TDMForm::Doomed {
    long recno;
    std::vector<std::string> files;
    std::vector<std::string> aside; // the paths the files had; each is now at Aside(path)

    // Moves the files aside; false, with every one of them back in place, when one cannot be moved
    // (a folder in its place, a file the system will not let go).
    bool MoveAside()
    {
        for (const std::string& file : files) {
            // The name as the row spells it is the usual case; other letter cases are looked up.
            std::string path = file;
            std::error_code error;
            auto status = std::filesystem::symlink_status(path, error);
            if (!std::filesystem::exists(status)) {
                path = platform::ResolvePath(file);
                status = std::filesystem::symlink_status(path, error);
            }
            if (!std::filesystem::exists(status))
                continue;
            if (std::filesystem::is_directory(status) || std::rename(path.c_str(), Aside(path).c_str()) != 0) {
                PutBack();
                return false;
            }
            aside.push_back(path);
        }
        return true;
    }
    void PutBack()
    {
        for (const std::string& path : aside)
            std::rename(Aside(path).c_str(), path.c_str());
        aside.clear();
    }
    void RemoveAside()
    {
        for (const std::string& path : aside)
            std::remove(Aside(path).c_str());
        aside.clear();
    }
};

// ---- TDateSelector ----

TDateSelector::TDateSelector(QWidget* parent) : QDialog(parent)
{
    setObjectName("DateSelector");
    setWindowTitle("Select Date");
    Calendar = new QCalendarWidget(this);
    Calendar->setObjectName("Calendar");
    ShowDatePanel = new QLabel(this);
    ShowDatePanel->setObjectName("ShowDatePanel");
    ShowDatePanel->setAlignment(Qt::AlignCenter);
    ShowDatePanel->setFrameShape(QFrame::Panel);
    ShowDatePanel->setFrameShadow(QFrame::Sunken);
    PrevYear = Button("PrevYear", "Year-", this);
    PrevMonth = Button("PrevMonth", "Month-", this);
    DoCurrentDate = Button("DoCurrentDate", "Today", this);
    NextMonth = Button("NextMonth", "Month +", this);
    NextYear = Button("NextYear", "Year+", this);
    OKButton = Button("OKButton", "OK", this);
    OKButton->setDefault(true);
    CancelButton = Button("CancelButton", "Cancel", this);

    auto* steps = new QHBoxLayout;
    for (QPushButton* b : {PrevYear, PrevMonth, DoCurrentDate, NextMonth, NextYear})
        steps->addWidget(b);
    auto* answer = new QHBoxLayout;
    answer->addStretch();
    answer->addWidget(OKButton);
    answer->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ShowDatePanel);
    layout->addWidget(Calendar);
    layout->addLayout(steps);
    layout->addLayout(answer);

    connect(PrevYear, &QPushButton::clicked, this, [this] { SetDate(Date().addYears(-1)); });
    connect(PrevMonth, &QPushButton::clicked, this, [this] { SetDate(Date().addMonths(-1)); });
    connect(DoCurrentDate, &QPushButton::clicked, this, [this] { SetDate(QDate::currentDate()); });
    connect(NextMonth, &QPushButton::clicked, this, [this] { SetDate(Date().addMonths(1)); });
    connect(NextYear, &QPushButton::clicked, this, [this] { SetDate(Date().addYears(1)); });
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(Calendar, &QCalendarWidget::activated, this, &QDialog::accept);
    connect(Calendar, &QCalendarWidget::selectionChanged, this, [this] { ShowDate(); });
    ShowDate();
}

QDate TDateSelector::Date() const { return Calendar->selectedDate(); }

void TDateSelector::SetDate(const QDate& date)
{
    Calendar->setSelectedDate(date);
    ShowDate();
}

void TDateSelector::ShowDate() { ShowDatePanel->setText(QLocale(QLocale::English).toString(Date(), kLongDate)); }

// ---- TDeleteForConditions ----

TDeleteForConditions::TDeleteForConditions(QWidget* parent) : QDialog(parent)
{
    setObjectName("DeleteForConditions");
    setWindowTitle("Delete Faxes Where....");
    auto radio = [this](const char* name, const char* caption) {
        auto* r = new QRadioButton(caption, this);
        r->setObjectName(name);
        return r;
    };
    auto edit = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        return e;
    };
    rFrom = radio("rFrom", "Fax is FROM:");
    rRecipient = radio("rRecipient", "RECIPIENT is:");
    rPhone = radio("rPhone", "FAX # is:");
    FaxFROM = edit("FaxFROM");
    FaxRECIPIENT = edit("FaxRECIPIENT");
    FaxPHONE = edit("FaxPHONE");
    ExactMatch = new QCheckBox("Text must match exactly", this);
    ExactMatch->setObjectName("ExactMatch");
    ExactMatch->setChecked(true);
    auto* note = new QLabel("(uncheck to allow  partial matches)", this);
    OKButton = Button("OKButton", "OK", this);
    OKButton->setDefault(true);
    CancelButton = Button("CancelButton", "Cancel", this);

    auto* grid = new QGridLayout;
    grid->addWidget(rFrom, 0, 0);
    grid->addWidget(FaxFROM, 0, 1);
    grid->addWidget(rRecipient, 1, 0);
    grid->addWidget(FaxRECIPIENT, 1, 1);
    grid->addWidget(rPhone, 2, 0);
    grid->addWidget(FaxPHONE, 2, 1);
    grid->addWidget(ExactMatch, 3, 1);
    grid->addWidget(note, 4, 1);
    auto* answer = new QHBoxLayout;
    answer->addStretch();
    answer->addWidget(OKButton);
    answer->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(answer);
    FaxFROM->setMinimumWidth(260);

    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

std::string TDeleteForConditions::FieldName() const
{
    if (rFrom->isChecked())
        return "FROM";
    return rRecipient->isChecked() ? "RECIPIENT" : "PHONE";
}

QString TDeleteForConditions::Value() const
{
    const QLineEdit* e = rFrom->isChecked() ? FaxFROM : rRecipient->isChecked() ? FaxRECIPIENT : FaxPHONE;
    return Folded(e->text().toStdString());
}

void TDeleteForConditions::OKButtonClick()
{
    if (Value().isEmpty()) {
        foundation::ShowInformation("Please enter a value");
        return;
    }
    if (foundation::AskYesNo("Are you sure you wish to delete all faxes matching this criteria?", "VERIFY DELETE"))
        accept();
}

// ---- TDMForm ----

TDMForm::TDMForm(const CleanupTables& tables, QWidget* parent) : QDialog(parent), tables_(tables)
{
    setObjectName("DMForm");
    setWindowTitle("Fax Log Cleanup Utility");
    resize(760, 420);

    auto* bar = new QMenuBar(this);
    Actions = bar->addMenu("&Actions");
    Actions->setObjectName("Actions");
    auto item = [this](QMenu* menu, const char* name, const char* caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        return a;
    };
    mnuDeleteSome = item(Actions, "mnuDeleteSome", "Delete All Before A Particular Date");
    mnuDeleteAllArchivedFaxes = item(Actions, "mnuDeleteAllArchivedFaxes", "Delete All Archived Faxes");
    mnuDeleteAllthatHaveBeenSent = item(Actions, "mnuDeleteAllthatHaveBeenSent", "Delete All that Have Been Sent");
    mnuDeleteAllThatHaveNOTBeenSent =
        item(Actions, "mnuDeleteAllThatHaveNOTBeenSent", "Delete All That Have NOT Been Sent");
    DeleteAllFaxes1 = item(Actions, "DeleteAllFaxes1", "Delete All Faxes");
    mnuDeleteAllFaxesMeetingCertainConditions =
        item(Actions, "mnuDeleteAllFaxesMeetingCertainConditions", "Delete All Faxes Meeting Certain Conditions...");
    Actions->addSeparator();
    mnuToggleDeletedState = item(Actions, "mnuToggleDeletedState", "Delete Current Fax");
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    Delete1 = item(PopupMenu1, "Delete1", "Delete");

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    outgoing = new QWidget;
    outgoing->setObjectName("outgoing");
    incoming = new QWidget;
    incoming->setObjectName("incoming");
    SendGrid = new data::TDBGrid(outgoing);
    SendGrid->setObjectName("SendGrid");
    RecGrid = new data::TDBGrid(incoming);
    RecGrid->setObjectName("RecGrid");
    for (auto [page, grid] : {std::pair{outgoing, SendGrid}, std::pair{incoming, RecGrid}}) {
        auto* l = new QVBoxLayout(page);
        l->setContentsMargins(2, 2, 2, 2);
        l->addWidget(grid);
        grid->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(grid, &QWidget::customContextMenuRequested, this,
                [this, grid](const QPoint& at) { PopupMenu1->popup(grid->mapToGlobal(at)); });
    }
    PageControl1->addTab(outgoing, "Outgoing Faxes");
    PageControl1->addTab(incoming, "Incoming Faxes");

    Button1 = Button("Button1", "Close", this);
    Helpbutton = Button("Helpbutton", "Help", this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Helpbutton);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(bar);
    layout->addWidget(PageControl1);
    layout->addLayout(buttons);

    connect(mnuDeleteSome, &QAction::triggered, this, [this] { DeleteSome(); });
    connect(mnuDeleteAllArchivedFaxes, &QAction::triggered, this, [this] { mnuDeleteAllArchivedFaxesClick(); });
    connect(mnuDeleteAllthatHaveBeenSent, &QAction::triggered, this, [this] { mnuDeleteAllthatHaveBeenSentClick(); });
    connect(mnuDeleteAllThatHaveNOTBeenSent, &QAction::triggered, this,
            [this] { mnuDeleteAllThatHaveNOTBeenSentClick(); });
    connect(DeleteAllFaxes1, &QAction::triggered, this, [this] { DeleteAllFaxes1Click(); });
    connect(mnuDeleteAllFaxesMeetingCertainConditions, &QAction::triggered, this,
            [this] { mnuDeleteAllFaxesMeetingCertainConditionsClick(); });
    connect(mnuToggleDeletedState, &QAction::triggered, this, [this] { mnuToggleDeletedStateClick(); });
    connect(Delete1, &QAction::triggered, this, [this] { mnuToggleDeletedStateClick(); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { UpdateViewState(); });
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Helpbutton, &QPushButton::clicked, this, [] { foundation::ShowHelpContext(kCleanupHelpContext); });
    auto deletedColumn = [this](const std::string& field) {
        if (field == "ISDELETED" || field == "IsDeleted")
            mnuToggleDeletedStateClick();
    };
    SendGrid->OnDblClick = deletedColumn;
    RecGrid->OnDblClick = deletedColumn;
}

TDMForm::~TDMForm()
{
    SendGrid->SetDataSource(nullptr);
    RecGrid->SetDataSource(nullptr);
}

bool TDMForm::Outgoing() const { return PageControl1->currentWidget() == outgoing; }
data::TTable& TDMForm::Current() { return Outgoing() ? *tables_.faxTable : *tables_.recTable; }
data::TVeldrane& TDMForm::CurrentVeldrane() { return Outgoing() ? *tables_.faxVeldrane : *tables_.recVeldrane; }

void TDMForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (firstActivation_)
        FormActivate();
}

void TDMForm::FormActivate()
{
    firstActivation_ = false;
    // Every entry is listed while the window is open, archived ones too.
    faxFilter_ = tables_.faxVeldrane->Filter();
    recFilter_ = tables_.recVeldrane->Filter();
    filtersSaved_ = true;
    tables_.faxVeldrane->Query("");
    tables_.recVeldrane->Query("");
    tables_.faxTable->Refresh();
    tables_.recTable->Refresh();
    SettleAsideFiles(*tables_.faxTable, true, tables_.programFolder);
    SettleAsideFiles(*tables_.recTable, false, tables_.programFolder);
    PageControl1->setCurrentWidget(outgoing);
    LoadGrids();
    mnuDeleteAllArchivedFaxes->setVisible(true);
    UpdateViewState();
}

void TDMForm::done(int result)
{
    if (filtersSaved_) {
        tables_.faxVeldrane->Query(faxFilter_);
        tables_.recVeldrane->Query(recFilter_);
        filtersSaved_ = false;
    }
    QDialog::done(result);
}

void TDMForm::LoadGrids()
{
    SendGrid->SetDataSource(tables_.faxSource);
    RecGrid->SetDataSource(tables_.recSource);
    SendGrid->SetColumns({{"ISDELETED", "Deleted?"},
                          {"ISARCHIVED", "Archived?"},
                          {"DATESENT", ""},
                          {"TIMESENT", ""},
                          {"RECIPIENT", ""},
                          {"SUBJECT", ""},
                          {"PHONE", ""},
                          {"LASTRESULT", ""},
                          {"calcFaxFile", ""},
                          {"CODES", ""},
                          {"NOTES", ""}});
    RecGrid->SetColumns({{"IsDeleted", "Deleted?"},
                         {"IsArchived", "Archived?"},
                         {"DATEREC", ""},
                         {"TIMEREC", ""},
                         {"FROM", ""},
                         {"PAGES", ""},
                         {"FAXFILE", ""},
                         {"NOTES", ""}});
}

void TDMForm::UpdateViewState()
{
    mnuDeleteAllthatHaveBeenSent->setVisible(Outgoing());
    mnuDeleteAllThatHaveNOTBeenSent->setVisible(Outgoing());
    const bool outRows = HasRows(*tables_.faxTable);
    const bool recRows = HasRows(*tables_.recTable);
    SendGrid->setEnabled(outRows);
    RecGrid->setEnabled(recRows);
    SendGrid->setContextMenuPolicy(outRows ? Qt::CustomContextMenu : Qt::NoContextMenu);
    RecGrid->setContextMenuPolicy(recRows ? Qt::CustomContextMenu : Qt::NoContextMenu);
    Actions->setEnabled(Outgoing() ? outRows : recRows);
    PageControl1->setTabText(0, outRows ? "Outgoing Faxes" : "OutGoing Faxes (none)");
    PageControl1->setTabText(1, recRows ? "Incoming Faxes" : "Incoming Faxes (none)");
}

void TDMForm::Ask(const std::string& question, const std::string& caption, const RowTest& test)
{
    if (foundation::AskYesNo(question, caption))
        DeleteRun(test);
}

void TDMForm::DeleteSome()
{
    TDateSelector selector(this);
    selector.setWindowTitle("Delete all before...");
    selector.SetDate(QDate::currentDate());
    foundation::CenterForm(selector);
    if (selector.exec() != QDialog::Accepted)
        return;
    const QDate before = selector.Date();
    byDate_ = true;
    const std::string field = Outgoing() ? "DATESENT" : "DATEREC";
    const std::string kind = Outgoing() ? "outgoing" : "received";
    Ask("Delete all " + kind + " faxes prior to " + QLocale(QLocale::English).toString(before, kLongDate).toStdString()
            + " (action is permanent)?",
        "DELETE", [field, before](data::TTable& t) {
            const QDate d = t.FieldByName(field).AsDate();
            return d.isValid() && d < before;
        });
}

void TDMForm::mnuDeleteAllArchivedFaxesClick()
{
    Ask("Delete all archived " + std::string(Outgoing() ? "outgoing" : "received") + " faxes? (action is permanent)",
        "DELETE", [](data::TTable& t) { return t.FieldByName("ARCHIVED").AsBoolean(); });
}

void TDMForm::mnuDeleteAllthatHaveBeenSentClick()
{
    Ask("Delete all outgoing faxes which have been sent? (action is permanent)", "DELETE",
        [](data::TTable& t) { return !t.FieldByName("DATESENT").IsNull(); });
}

void TDMForm::mnuDeleteAllThatHaveNOTBeenSentClick()
{
    Ask("Delete all outgoing faxes which have NOT been sent? (action is permanent)", "DELETE",
        [](data::TTable& t) { return t.FieldByName("DATESENT").IsNull(); });
}

void TDMForm::DeleteAllFaxes1Click()
{
    Ask("Delete all " + std::string(Outgoing() ? "outgoing" : "received") + " faxes ? (action is permanent)",
        "DELETE ALL", [](data::TTable&) { return true; });
}

void TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick()
{
    data::TTable& t = Current();
    TDeleteForConditions dialog(this);
    if (Outgoing()) {
        dialog.rFrom->setEnabled(false);
        dialog.FaxFROM->setEnabled(false);
        dialog.rRecipient->setChecked(true);
        if (!t.IsEmpty()) {
            dialog.FaxRECIPIENT->setText(QString::fromStdString(t.FieldByName("RECIPIENT").AsString()));
            dialog.FaxPHONE->setText(QString::fromStdString(t.FieldByName("PHONE").AsString()));
        }
    } else {
        for (QWidget* w :
             std::initializer_list<QWidget*>{dialog.rRecipient, dialog.rPhone, dialog.FaxRECIPIENT, dialog.FaxPHONE})
            w->setEnabled(false);
        dialog.rFrom->setChecked(true);
        if (!t.IsEmpty())
            dialog.FaxFROM->setText(QString::fromStdString(foundation::TrimBlanks(t.FieldByName("FROM").AsString())));
    }
    foundation::CenterForm(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::string field = dialog.FieldName();
    const QString value = dialog.Value();
    if (value.isEmpty())
        return;
    // The value is compared as data: whatever it holds, it is never read as an expression.
    if (dialog.ExactMatch->isChecked())
        DeleteRun([field, value](data::TTable& row) { return Folded(row.FieldByName(field).AsString()) == value; });
    else
        DeleteRun(
            [field, value](data::TTable& row) { return Folded(row.FieldByName(field).AsString()).contains(value); });
}

void TDMForm::mnuToggleDeletedStateClick()
{
    data::TTable& t = Current();
    if (t.IsEmpty() || !foundation::AskYesNo("Delete this fax? (action is permanent)", "DELETE"))
        return;
    const long recno = t.RecNo();
    t.Next();
    const long next = t.Eof() ? 0 : t.RecNo();
    t.GoToRecord(recno);
    int kept = 0;
    foreignNames_.clear();
    Doomed entry{recno, EntryFiles(t), {}};
    if (DeleteBatch(t, &entry, &entry + 1, kept) == 1)
        entriesDeleted_ = true;
    else
        foundation::ShowInformation("The files of this fax could not be deleted; the fax was kept.");
    SayForeignNames();
    try {
        if (next > 0)
            t.GoToRecord(next);
        else
            t.Last();
    } catch (const std::exception&) {
    }
    UpdateViewState();
}

int TDMForm::DeleteRun(const RowTest& test)
{
    data::TTable& t = Current();
    data::TVeldrane& v = CurrentVeldrane();
    const std::string dateField = Outgoing() ? "DATESENT" : "DATEREC";
    const long recno = t.RecNo();
    const int order = v.SetOrder(0);
    t.DisableControls();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The rows to go are chosen first, so that deleting one never disturbs the walk. Rows already
    // marked deleted are hidden and so never counted again.
    std::vector<Doomed> doomed;
    foreignNames_.clear();
    for (t.First(); !t.Eof(); t.Next())
        if (test(t) && !(byDate_ && t.FieldByName(dateField).IsNull()))
            doomed.push_back({t.RecNo(), EntryFiles(t), {}});
    int count = 0;
    int kept = 0;
    for (size_t from = 0; from < doomed.size(); from += kBatchRows) {
        const size_t to = std::min(doomed.size(), from + kBatchRows);
        count += DeleteBatch(t, doomed.data() + from, doomed.data() + to, kept);
    }
    if (count > 0)
        entriesDeleted_ = true;
    try {
        t.EnableControls();
        t.Refresh();
        v.SetOrder(order);
        if (recno > 0) {
            t.GoToRecord(recno);
            // The row the view was on may have gone: the next one that shows takes its place.
            if (t.CheckCurrentRecord() != 0)
                t.Refresh();
        }
    } catch (const std::exception&) {
    }
    QApplication::restoreOverrideCursor();
    foundation::ShowInformation(std::to_string(count) + " deleted.");
    if (kept > 0)
        foundation::ShowInformation(std::to_string(kept) + " fax(es) were kept: their files could not be deleted.");
    SayForeignNames();
    UpdateViewState();
    byDate_ = false;
    return count;
}

namespace {

// The files an entry names, as paths in its folder; names with a folder part go to `foreign`.
std::vector<std::string> RowFiles(data::TTable& table, bool outgoing, const std::string& programFolder,
                                  std::vector<std::string>& foreign)
{
    std::vector<std::string> paths;
    // A name with a folder part names no file of the fax folders: it is left alone (and noted).
    auto plain = [&foreign](const std::string& name) {
        if (name.empty())
            return false;
        if (foundation::IsPlainFileName(name))
            return true;
        foreign.push_back(name);
        return false;
    };
    if (outgoing) {
        const std::string folder = programFolder + "SEND/";
        const std::string doc = Folded(table.FieldByName("FAXDOC").AsString()).toStdString();
        const std::string cover = Folded(table.FieldByName("FAXCOVER").AsString()).toStdString();
        if (plain(doc))
            paths.push_back(folder + doc);
        if (plain(cover)) {
            paths.push_back(folder + cover);
            const size_t dot = cover.find_last_of('.');
            paths.push_back(folder + (dot == std::string::npos ? cover : cover.substr(0, dot)) + ".fcd");
        }
    } else {
        const std::string file = foundation::TrimBlanks(table.FieldByName("FAXFILE").AsString());
        if (plain(file))
            paths.push_back(programFolder + "RECEIVE/" + file);
    }
    return paths;
}

} // namespace

std::vector<std::string> TDMForm::EntryFiles(data::TTable& table) const
{
    return RowFiles(table, &table == tables_.faxTable, tables_.programFolder, foreignNames_);
}

int TDMForm::DeleteBatch(data::TTable& table, Doomed* first, Doomed* last, int& kept)
{
    std::vector<Doomed*> moved;
    std::set<std::string> folders;
    for (Doomed* e = first; e != last; ++e) {
        if (!e->MoveAside()) {
            ++kept;
            continue;
        }
        moved.push_back(e);
        for (const std::string& path : e->aside)
            folders.insert(std::filesystem::path(path).parent_path().string());
    }
    if (moved.empty())
        return 0;
    // The files are out of the way on disk before any row that names them is marked, so that after a
    // crash a marked row never has its files back in place.
    bool synced = true;
    for (const std::string& folder : folders)
        synced = SyncFolder(folder) && synced;
    bool marked = synced;
    for (size_t i = 0; marked && i < moved.size(); ++i) {
        try {
            table.MarkDeleted(moved[i]->recno);
        } catch (const std::exception&) {
            marked = false;
        }
    }
    bool committed = true;
    try {
        table.Commit();
    } catch (const std::exception&) {
        committed = false;
    }
    int count = 0;
    for (Doomed* e : moved) {
        // Rows left unmarked by a failure take their files back. When the marks could not be made
        // durable, every file comes back: a row that still went keeps only leftover files.
        if (!committed || (!marked && RowLives(table, e->recno))) {
            e->PutBack();
            ++kept;
        } else {
            e->RemoveAside();
            ++count;
        }
    }
    return count;
}

void TDMForm::SayForeignNames()
{
    SayForeignFileNames(foreignNames_, Outgoing() ? "SEND" : "Receive");
    foreignNames_.clear();
}

void SettleAsideFiles(data::TTable& table, bool outgoing, const std::string& programFolder)
{
    const std::string folder = programFolder + (outgoing ? "SEND/" : "RECEIVE/");
    const std::vector<std::string> names = platform::ListFolderCI(folder, std::string("*") + kAsideSuffix);
    if (names.empty() || !table.Active())
        return;
    // The files the entries still in the table name, upper-cased.
    std::set<QString> named;
    std::vector<std::string> foreign; // named files outside the folder never come back
    const long recno = table.RecNo();
    table.DisableControls();
    try {
        for (table.First(); !table.Eof(); table.Next())
            for (const std::string& path : RowFiles(table, outgoing, programFolder, foreign))
                named.insert(QString::fromStdString(std::filesystem::path(path).filename().string()).toUpper());
    } catch (const std::exception&) {
        // An unreadable table: nothing can be told about its entries, so every file is kept aside.
        table.EnableControls();
        return;
    }
    const std::filesystem::path resolved = platform::ResolvePath(folder);
    const size_t suffix = std::string(kAsideSuffix).size();
    for (const std::string& name : names) {
        const std::string base = name.substr(0, name.size() - suffix);
        const std::string aside = (resolved / name).string();
        const std::string path = (resolved / base).string();
        if (named.count(QString::fromStdString(base).toUpper()) && !platform::FileExistsCI(path))
            std::rename(aside.c_str(), path.c_str());
        else
            std::remove(aside.c_str());
    }
    try {
        if (recno > 0)
            table.GoToRecord(recno);
        if (recno <= 0 || table.CheckCurrentRecord() != 0)
            table.First();
    } catch (const std::exception&) {
    }
    table.EnableControls();
}

void RunLogCleanup(TMainScreen& screen)
{
    CleanupTables tables{&screen.FaxTable,     &screen.FaxVeldrane,           &screen.FaxDataSource,
                         &screen.RecTable,     &screen.RecVeldrane,           &screen.RecDataSource,
                         &screen.VeldraneEnv1, foundation::GetProgramFolder()};
    bool deleted = false;
    {
        TDMForm form(tables, &screen);
        foundation::CenterForm(form);
        form.exec();
        deleted = form.EntriesDeleted();
    }
    if (deleted)
        screen.mnuRebuildIndexesClick();
}

} // namespace zn::app
