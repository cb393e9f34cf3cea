#include "app/main_screen.h"
#include "app/config_report.h"
#include "app/notice_forms.h"
#include "app/send_fax_form.h"

#include "app/fax_forms.h"
#include "app/form_controls.h"
#include "app/log_cleanup.h"
#include "app/preferences.h"
#include "app/prepared_fax.h"
#include "app/quick_setup.h"
#include "app/print_command.h"
#include "app/show_fax_viewer.h"
#include "app/small_forms.h"
#include "cover/gui/designer_window.h"
#include "data/gui/rebuild_indexes.h"
#include "data/table/system_tables.h"
#include "foundation/dialogs.h"
#include "foundation/fax_file_names.h"
#include "foundation/file_copy.h"
#include "foundation/form_placement.h"
#include "foundation/gui/enter_edit.h"
#include "foundation/gui/graphic_panel.h"
#include "foundation/printer_choice.h"
#include "foundation/program_folders.h"
#include "foundation/text_values.h"
#include "foundation/settings.h"
#include "platform/date_format.h"
#include "platform/folders.h"
#include "platform/message_box.h"
#include "platform/messages.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPushButton>
#include <QSoundEffect>
#include <QStackedWidget>
#include <QTabBar>
#include <QHeaderView>
#include <QTableView>
#include <QTextStream>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

namespace zn::app {

namespace {

using foundation::kContentsHelpContext;
using foundation::kFaqHelpContext;
using foundation::kTechnicalSupportHelpContext;
constexpr int kSysPropDateFormat = 1009;
constexpr const char* kFilterAtStart = ".not. archived";
constexpr const char* kFilterHidingArchived = ".not. ARCHIVED";
constexpr int kOutgoingTab = 0;
constexpr int kReceivedTab = 1;

TMainScreen::SoundPlayer& SoundPlayerHook()
{
    static TMainScreen::SoundPlayer player;
    return player;
}

bool& StartMinimised()
{
    static bool minimised = false;
    return minimised;
}

// A row's file as the list shows it: its path as spelled on disk (files are found whatever the
// letter case, so the row's spelling may differ), or the name as stored when it is no file of the
// folder.
std::string ShownFile(const std::string& folder, const std::string& name)
{
    if (name.empty() || !foundation::IsPlainFileName(name))
        return name;
    return platform::ResolvePath(folder + name);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Deletes a file of the send or receive folder; a file that is already gone counts as deleted.
bool RemoveFaxFile(const std::string& path)
{
    if (platform::DeleteFileCI(path))
        return true;
    return errno == ENOENT;
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

std::string WithExtension(const std::string& path, const std::string& extension)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + extension;
    return path.substr(0, dot) + extension;
}

void Beep() { QApplication::beep(); }

// The name is a file of the folder the row's files live in.
bool IsRowFile(const std::string& name) { return !name.empty() && foundation::IsPlainFileName(name); }

} // namespace

bool SayForeignFileNames(const std::vector<std::string>& names, const std::string& folderName)
{
    std::string listed;
    for (const std::string& name : names)
        if (!name.empty() && !foundation::IsPlainFileName(name))
            listed += "\r" + name;
    if (listed.empty())
        return false;
    foundation::ShowMessageBox("The fax names files that are not in the " + folderName
                                   + " folder. They were left alone:" + listed,
                               "Tarvel", platform::MB_OK | platform::MB_ICONWARNING);
    return true;
}

// A command at work: the print-job pick-up waits until the last one ends.
class TMainScreen::Busy {
public:
    explicit Busy(TMainScreen& screen) : screen_(screen) { ++screen_.busy_; }
    ~Busy()
    {
        if (--screen_.busy_ == 0)
            screen_.Idle();
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    TMainScreen& screen_;
};

void TMainScreen::SetSoundPlayerForTest(SoundPlayer player) { SoundPlayerHook() = std::move(player); }
void TMainScreen::SetStartMinimised(bool minimised) { StartMinimised() = minimised; }

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("TMainScreen");
    setWindowTitle("Tarvel");
    setFont(QFont("Arial", 9));
    resize(760, 480);
    BuildFrame();
    BuildMenus();
    foundation::SetMainForm(this);
    FormCreate();
}

TMainScreen::~TMainScreen()
{
    qApp->removeEventFilter(this);
    if (foundation::MainForm() == this)
        foundation::SetMainForm(nullptr);
    DisconnectReceiveMode();
    if (faxLink_)
        FaxTable.RemoveLink(faxLink_);
    // The grids let go of the datasets before the tables close.
    FaxGrid->SetDataSource(nullptr);
    RecFaxGrid->SetDataSource(nullptr);
    FaxTable.Close();
    RecTable.Close();
    PhoneTable.Close();
}

void TMainScreen::BuildFrame()
{
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    ButtonBar = new QWidget(central);
    ButtonBar->setObjectName("ButtonBar");
    auto* bar = new QHBoxLayout(ButtonBar);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(3);
    SendButton = MakeButton(ButtonBar, "SendButton", "Send", "Send the highlighted fax");
    EditButton = MakeButton(ButtonBar, "EditButton", "Edit", "Edit the recipient, number, subject and notes");
    DeleteButton = MakeButton(ButtonBar, "DeleteButton", "Delete", "Delete the highlighted fax");
    ButtonviewPrint = MakeButton(ButtonBar, "ButtonviewPrint", "View", "View the highlighted fax");
    Printbutton = MakeButton(ButtonBar, "Printbutton", "Print", "Print the highlighted fax");
    OrderButton = MakeButton(ButtonBar, "OrderButton", "Sort", "Choose the order of the list");
    Newbutton = MakeButton(ButtonBar, "Newbutton", "New", "Create a new quick fax from a cover sheet");
    AddCoverButton = MakeButton(ButtonBar, "AddCoverButton", "Add Cover", "Add a cover sheet to the highlighted fax");
    ReceiveButton = MakeButton(ButtonBar, "ReceiveButton", "Receive", "Start receiving faxes");
    BitBtn1 = MakeButton(ButtonBar, "BitBtn1", "Preferences", "Change the settings");
    ProblemSolverButton = MakeButton(ButtonBar, "ProblemSolverButton", "Technical Help", "Fax Problem Solver");
    Exitbutton = MakeButton(ButtonBar, "Exitbutton", "Exit", "Close Tarvel");
    for (QPushButton* b : {SendButton, EditButton, DeleteButton, ButtonviewPrint, Printbutton, OrderButton, Newbutton,
                           AddCoverButton, ReceiveButton})
        bar->addWidget(b);
    bar->addStretch();
    for (QPushButton* b : {BitBtn1, ProblemSolverButton, Exitbutton})
        bar->addWidget(b);
    // A click leaves the focus on the list.
    for (QPushButton* b : ButtonBar->findChildren<QPushButton*>())
        b->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(ButtonBar);

    BrowsePanel = new QWidget(central);
    BrowsePanel->setObjectName("BrowsePanel");
    auto* browse = new QVBoxLayout(BrowsePanel);
    browse->setContentsMargins(0, 0, 0, 0);
    browse->setSpacing(0);
    TabSet1 = new QTabBar(BrowsePanel);
    TabSet1->setObjectName("TabSet1");
    TabSet1->addTab("Out&going Faxes");
    TabSet1->addTab("&Incoming Faxes");
    TabSet1->setDrawBase(false);
    TabSet1->setExpanding(false);
    NoteBook = new QStackedWidget(BrowsePanel);
    NoteBook->setObjectName("NoteBook");
    FaxGrid = new data::TDBGrid;
    FaxGrid->setObjectName("FaxGrid");
    RecFaxGrid = new data::TDBGrid;
    RecFaxGrid->setObjectName("RecFaxGrid");
    auto* sent = new QWidget;
    sent->setObjectName("Sent");
    (new QVBoxLayout(sent))->addWidget(FaxGrid);
    sent->layout()->setContentsMargins(0, 0, 0, 0);
    auto* received = new QWidget;
    received->setObjectName("Received");
    (new QVBoxLayout(received))->addWidget(RecFaxGrid);
    received->layout()->setContentsMargins(0, 0, 0, 0);
    NoteBook->addWidget(sent);
    NoteBook->addWidget(received);
    browse->addWidget(TabSet1);
    browse->addWidget(NoteBook, 1);
    layout->addWidget(BrowsePanel, 1);

    backpanel = new QWidget(central);
    backpanel->setObjectName("backpanel");
    auto* back = new QHBoxLayout(backpanel);
    back->setContentsMargins(0, 0, 0, 0);
    GraphicPanel1 = new foundation::gui::TGraphicPanel(backpanel);
    GraphicPanel1->setObjectName("GraphicPanel1");
    GraphicPanel1->SetBevelOuter(foundation::gui::TBevelCut::bvLowered);
    GraphicPanel1->setFixedHeight(22);
    Status = new QLabel(GraphicPanel1);
    Status->setObjectName("Status");
    (new QHBoxLayout(GraphicPanel1))->addWidget(Status);
    GraphicPanel1->layout()->setContentsMargins(6, 1, 6, 1);
    GraphicPanel2 = new foundation::gui::TGraphicPanel(backpanel);
    GraphicPanel2->setObjectName("GraphicPanel2");
    GraphicPanel2->SetBevelOuter(foundation::gui::TBevelCut::bvLowered);
    GraphicPanel2->SetAlignment(Qt::AlignRight);
    GraphicPanel2->setFixedSize(170, 22);
    back->addWidget(GraphicPanel1, 1);
    back->addWidget(GraphicPanel2);
    layout->addWidget(backpanel);

    FaxSortMenu = new QMenu(this);
    FaxSortMenu->setObjectName("FaxSortMenu");
    auto sortItem = [](QMenu* menu, const char* name, const QString& caption, bool checked) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        a->setCheckable(true);
        a->setChecked(checked);
        return a;
    };
    mnuDateSent = sortItem(FaxSortMenu, "mnuDateSent", "By &Date Sent", true);
    mnuSubject = sortItem(FaxSortMenu, "mnuSubject", "By &Subject", false);
    mnuRecipient = sortItem(FaxSortMenu, "mnuRecipient", "By &Recipient", false);
    RecSortMenu = new QMenu(this);
    RecSortMenu->setObjectName("RecSortMenu");
    mnuSortDateReceived = sortItem(RecSortMenu, "mnuSortDateReceived", "By &Date Received", true);
    mnuSortFrom = sortItem(RecSortMenu, "mnuSortFrom", "By &From", false);

    connect(TabSet1, &QTabBar::currentChanged, this, [this](int) {
        NoteBook->setCurrentIndex(TabSet1->currentIndex());
        SetButtons();
    });
    connect(SendButton, &QPushButton::clicked, this, [this] { SendButtonClick(); });
    connect(EditButton, &QPushButton::clicked, this, [this] { EditButtonClick(); });
    connect(DeleteButton, &QPushButton::clicked, this, [this] { DeleteButtonClick(); });
    connect(ButtonviewPrint, &QPushButton::clicked, this, [this] { mnuViewPrintClick(); });
    connect(Printbutton, &QPushButton::clicked, this, [this] { PrintbuttonClick(); });
    connect(OrderButton, &QPushButton::clicked, this, [this] { OrderButtonClick(); });
    connect(Newbutton, &QPushButton::clicked, this, [this] {
        Busy busy(*this);
        EditAddQuickFax(true);
    });
    connect(AddCoverButton, &QPushButton::clicked, this, [this] {
        Busy busy(*this);
        EditAddQuickFax(false);
    });
    connect(ReceiveButton, &QPushButton::clicked, this, [this] { ReceiveButtonClick(); });
    connect(Exitbutton, &QPushButton::clicked, this, &QWidget::close);
    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        if (!RefuseInReceiveMode())
            EditPreferences(this);
    });
    connect(ProblemSolverButton, &QPushButton::clicked, this, [] { foundation::ShowGeneralHelp(); });
    connect(mnuDateSent, &QAction::triggered, this, [this] { SortOutgoing(mnuDateSent, "DATESENT"); });
    connect(mnuSubject, &QAction::triggered, this, [this] { SortOutgoing(mnuSubject, "SUBJECT"); });
    connect(mnuRecipient, &QAction::triggered, this, [this] { SortOutgoing(mnuRecipient, "RECIPIENT"); });
    connect(mnuSortDateReceived, &QAction::triggered, this, [this] { SortReceived(mnuSortDateReceived, "DATETIME"); });
    connect(mnuSortFrom, &QAction::triggered, this, [this] { SortReceived(mnuSortFrom, "FROM"); });
}

void TMainScreen::BuildMenus()
{
    // Window-wide shortcuts: they win over the grids' own keys (Ctrl+C would copy a cell).
    auto item = [this](QMenu* menu, const char* name, const QString& caption, const QKeySequence& keys = {}) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        if (!keys.isEmpty()) {
            a->setShortcut(keys);
            a->setShortcutContext(Qt::WindowShortcut);
        }
        return a;
    };
    QMenu* file = menuBar()->addMenu("&Fax");
    file->setObjectName("FileMenu");
    mnuNewCoverSheet = item(file, "mnuNewCoverSheet", "&New Quick Fax...", QKeySequence("Ctrl+N"));
    mnuAddCoverSheet = item(file, "mnuAddCoverSheet", "Add C&over Sheet...", QKeySequence("Ctrl+O"));
    mnuEdit = item(file, "mnuEdit", "&Edit Fax Information...", QKeySequence("Ctrl+E"));
    mnuClone = item(file, "mnuClone", "&Clone Fax", QKeySequence("Ctrl+C"));
    mnuDelete = item(file, "mnuDelete", "&Delete Fax", QKeySequence("Ctrl+D"));
    mnuArchive = item(file, "mnuArchive", "&Archive", QKeySequence("Ctrl+A"));
    mnuShowArchives = item(file, "mnuShowArchives", "S&how Archived Faxes");
    mnuShowArchives->setCheckable(true);
    file->addSeparator();
    mnuSend = item(file, "mnuSend", "&Send Fax...", QKeySequence("Ctrl+S"));
    mnuReceive = item(file, "mnuReceive", kReceiveMenuCaption, QKeySequence("Ctrl+R"));
    mnuReceiveLog = item(file, "mnuReceiveLog", "Receive Faxes with &Logging...");
    mnuForward = item(file, "mnuForward", "For&ward Received Fax...");
    file->addSeparator();
    mnuViewPrint = item(file, "mnuViewPrint", "&View Fax...", QKeySequence("Ctrl+V"));
    mnuPrint = item(file, "mnuPrint", "&Print Fax...");
    PrintSetup1 = item(file, "PrintSetup1", "Print Set&up...");
    file->addSeparator();
    Exit1 = item(file, "Exit1", "E&xit", QKeySequence("Ctrl+X"));

    QMenu* tools = menuBar()->addMenu("&Tools");
    tools->setObjectName("ToolsMenu");
    mnuPreferences = item(tools, "mnuPreferences", "&Preferences...");
    mnuPhoneBook = item(tools, "mnuPhoneBook", "Phone &Book...");
    CovreSheetTemplateEditor1 = item(tools, "CovreSheetTemplateEditor1", "Cover Sheet &Template Editor...");
    tools->addSeparator();
    FaxLogFileCleanup1 = item(tools, "FaxLogFileCleanup1", "Fax &Log File Cleanup...");
    mnuRebuildIndexes = item(tools, "mnuRebuildIndexes", "Rebuild &Indexes");
    tools->addSeparator();
    QuickConfigurationAnalysis1 = item(tools, "QuickConfigurationAnalysis1", "&Quick Configuration Analysis...");
    ConfigurationInformation1 = item(tools, "ConfigurationInformation1", "&Configuration Information...");

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("HelpMenu");
    StartHere1 = item(help, "StartHere1", "Quick Start Instructions!");
    Contents1 = item(help, "Contents1", "&Contents");
    FrequentlyAskedQuestionsFAQ1 = item(help, "FrequentlyAskedQuestionsFAQ1", "&Frequently Asked Questions (FAQ)");
    TechnicalSupport1 = item(help, "TechnicalSupport1", "&Technical Support");
    help->addSeparator();
    mnuShowHint = item(help, "mnuShowHint", "Show &Hints");
    mnuShowHint->setCheckable(true);
    mnuOnLine = item(help, "mnuOnLine", "Tarvel &On-Line");
    mnuOnLine->setVisible(false);
    help->addSeparator();
    About1 = item(help, "About1", "&About Tarvel...");

    connect(mnuNewCoverSheet, &QAction::triggered, Newbutton, &QPushButton::click);
    connect(mnuAddCoverSheet, &QAction::triggered, AddCoverButton, &QPushButton::click);
    connect(mnuEdit, &QAction::triggered, this, [this] { EditButtonClick(); });
    connect(mnuClone, &QAction::triggered, this, [this] { mnuCloneClick(); });
    connect(mnuDelete, &QAction::triggered, this, [this] { DeleteButtonClick(); });
    connect(mnuArchive, &QAction::triggered, this, [this] { mnuArchiveClick(); });
    connect(mnuShowArchives, &QAction::triggered, this, [this] { mnuShowArchivesClick(); });
    connect(mnuSend, &QAction::triggered, SendButton, &QPushButton::click);
    connect(mnuReceive, &QAction::triggered, ReceiveButton, &QPushButton::click);
    connect(mnuReceiveLog, &QAction::triggered, this, [this] { mnuReceiveLogClick(); });
    connect(mnuForward, &QAction::triggered, this, [this] { mnuForwardClick(); });
    connect(mnuViewPrint, &QAction::triggered, ButtonviewPrint, &QPushButton::click);
    connect(mnuPrint, &QAction::triggered, Printbutton, &QPushButton::click);
    connect(PrintSetup1, &QAction::triggered, this, [this] { PrintSetup1Click(); });
    connect(Exit1, &QAction::triggered, this, &QWidget::close);
    connect(mnuPreferences, &QAction::triggered, BitBtn1, &QPushButton::click);
    connect(mnuPhoneBook, &QAction::triggered, this, [this] { mnuPhoneBookClick(); });
    connect(CovreSheetTemplateEditor1, &QAction::triggered, this, [this] {
        if (!RefuseInReceiveMode())
            cover::gui::ShowCoverDesigner(this);
    });
    connect(FaxLogFileCleanup1, &QAction::triggered, this, [this] {
        if (!RefuseInReceiveMode())
            RunLogCleanup(*this);
    });
    connect(mnuRebuildIndexes, &QAction::triggered, this, [this] { mnuRebuildIndexesClick(); });
    connect(QuickConfigurationAnalysis1, &QAction::triggered, this, [this] { QuickConfigurationAnalysis1Click(); });
    connect(ConfigurationInformation1, &QAction::triggered, this,
            [this] { ShowConfigurationInformation(this, Status); });
    connect(StartHere1, &QAction::triggered, this, [this] {
        TQuickStart quickStart(this);
        foundation::CenterForm(quickStart);
        quickStart.exec();
    });
    connect(Contents1, &QAction::triggered, this, [] { foundation::ShowHelpContext(kContentsHelpContext); });
    connect(FrequentlyAskedQuestionsFAQ1, &QAction::triggered, this,
            [] { foundation::ShowHelpContext(kFaqHelpContext); });
    connect(TechnicalSupport1, &QAction::triggered, this,
            [] { foundation::ShowHelpContext(kTechnicalSupportHelpContext); });
    connect(mnuShowHint, &QAction::triggered, this, [this] { mnuShowHintClick(); });
    connect(mnuOnLine, &QAction::triggered, this, [this] { mnuOnLineClick(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });
}

void TMainScreen::QuickConfigurationAnalysis1Click()
{
    TQuickSuggest suggest(this);
    foundation::CenterForm(suggest);
    const int result = suggest.exec();
    if (result == 1) {
        try {
            foundation::SaveSettings();
        } catch (const std::exception& e) {
            foundation::ShowMessageBox(e.what(), "Tarvel", platform::MB_OK | platform::MB_ICONWARNING);
        }
    } else if (result == TQuickSuggest::kProblemSolver) {
        foundation::ShowGeneralHelp();
    }
}

bool TMainScreen::RefuseInReceiveMode()
{
    if (!ReceiveModeOn)
        return false;
    foundation::ShowInformation(kReceiveModeRefusal);
    return true;
}

void TMainScreen::FormCreate()
{
    filterText_ = kFilterAtStart;
    ConnectReceiveMode();
    FaxVeldrane.SetDataSource(&FaxDataSource);
    RecVeldrane.SetDataSource(&RecDataSource);
    PhoneVeldrane.SetDataSource(&PhoneDataSource);
    VeldraneEnv1.SetCentury(true);
    VeldraneEnv1.SetDeleted(true);
    FaxVeldrane.SysProp(kSysPropDateFormat, 0);
    NoteBook->setCurrentIndex(kOutgoingTab);

    FaxTable.SetExclusive(true);
    // The grid order file leaves calcFaxFile out, so it comes last: loading the file then keeps
    // every column, and the widths stored by position, where they were.
    FaxTable.AddCalcField("ISDELETED", data::TFieldType::ftString, 3);
    FaxTable.AddCalcField("ISARCHIVED", data::TFieldType::ftString, 3);
    FaxTable.AddCalcField("calcFaxFile", data::TFieldType::ftString, 80);
    FaxTable.OnCalcFields = [this](data::TTable& t) { FaxTableCalcFields(t); };
    RecTable.SetExclusive(true);
    RecTable.AddCalcField("calcFaxfile", data::TFieldType::ftString, 80);
    RecTable.AddCalcField("IsDeleted", data::TFieldType::ftString, 3);
    RecTable.AddCalcField("IsArchived", data::TFieldType::ftString, 3);
    RecTable.OnCalcFields = [this](data::TTable& t) { RecTableCalcFields(t); };

    const std::string folder = foundation::GetProgramFolder();
    bool faxOpen = false;
    try {
        faxOpen = data::OpenFaxDBF(FaxTable, FaxVeldrane, folder);
    } catch (const std::exception&) {
        faxOpen = false;
    }
    if (!faxOpen) {
        foundation::ShowInformation("Unable to open/create the FAX datafile - closing program");
        PostCloseProgram();
    } else {
        FaxVeldrane.SetOrder(1);
        FaxTable.First();
    }
    // Only a receive that did not end cleanly can have left a fax without its row, or half a fax:
    // any other start reads neither the received-fax table's rows nor RECEIVE, however many faxes
    // they hold. The look counts every row (deleted and archived ones too); none is made when the
    // table cannot be read as it is.
    std::optional<std::set<std::string>> listedReceived;
    if (UnrecordedReceiveMarked(folder))
        listedReceived = ReceivedFilesOfTable(folder);
    bool recOpen = false;
    try {
        recOpen = data::OpenRecFaxDBF(RecTable, RecVeldrane, folder);
    } catch (const std::exception&) {
        recOpen = false;
    }
    if (!recOpen) {
        foundation::ShowInformation("Unable to open/create the FAX RECEIVE datafile - closing program");
        PostCloseProgram();
        return;
    }
    tablesOpen_ = faxOpen;
    if (!tablesOpen_)
        return;

    if (listedReceived && RecordUnlistedReceivedFaxes(*listedReceived))
        MarkUnrecordedReceive(folder, false);
    data::ApplyFieldLabels(FaxTable, data::FaxFields());
    data::ApplyFieldLabels(RecTable, data::RecFaxFields());
    // What the lists show: the files by their full name, and Yes/No for archived rows.
    for (const char* hidden : {"FAXDOC", "FAXCOVER", "ARCHIVED", "ISDELETED"})
        FaxTable.FieldByName(hidden).SetVisible(false);
    FaxTable.FieldByName("calcFaxFile").SetDisplayLabel("Fax File");
    FaxTable.FieldByName("ISARCHIVED").SetDisplayLabel("Archived");
    for (const char* hidden : {"FAXFILE", "ARCHIVED", "IsDeleted"})
        RecTable.FieldByName(hidden).SetVisible(false);
    RecTable.FieldByName("calcFaxfile").SetDisplayLabel("Fax File");
    RecTable.FieldByName("IsArchived").SetDisplayLabel("Archived");
    // A clean-up cut short left files aside: a listed fax gets its file back before any list shows.
    SettleAsideFiles(FaxTable, true, folder);
    SettleAsideFiles(RecTable, false, folder);
    ApplyFilter();

    FaxGrid->SetDataSource(&FaxDataSource);
    RecFaxGrid->SetDataSource(&RecDataSource);
    auto archivedRed = [](const char* field) {
        return [field](data::TTable& t) { return t.FieldByName(field).AsBoolean() ? QColor(Qt::red) : QColor(); };
    };
    // Compact rows and columns as wide as what they usually hold; the user's own widths come from
    // the grid order files on the first activation.
    const std::map<std::string, int> widths = {
        {"SUBJECT", 190},     {"DATESENT", 80},    {"TIMESENT", 70},     {"RECIPIENT", 150},
        {"PHONE", 110},       {"LASTRESULT", 150}, {"NOTES", 120},       {"CODES", 80},
        {"calcFaxFile", 210}, {"ISARCHIVED", 60},  {"DATEREC", 80},      {"TIMEREC", 70},
        {"FROM", 150},        {"PAGES", 50},       {"calcFaxfile", 210}, {"IsArchived", 60}};
    for (data::TDBGrid* grid : {FaxGrid, RecFaxGrid}) {
        grid->View()->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
        std::vector<int> columnWidths = grid->ColumnWidths();
        for (size_t c = 0; c < columnWidths.size(); ++c)
            if (data::TField* f = grid->Model().ColumnField(int(c)))
                if (auto w = widths.find(f->FieldName()); w != widths.end())
                    columnWidths[c] = w->second;
        grid->SetColumnWidths(columnWidths);
    }
    FaxGrid->SetRowColor(archivedRed("ARCHIVED"));
    RecFaxGrid->SetRowColor(archivedRed("ARCHIVED"));
    FaxGrid->OnDblClick = [this](const std::string&) {
        if (EditButton->isEnabled())
            EditButtonClick();
    };
    RecFaxGrid->OnDblClick = [this](const std::string&) {
        if (EditButton->isEnabled())
            EditButtonClick();
    };
    faxLink_ = FaxTable.AddLink([this](data::TDataEvent e) {
        if (e == data::TDataEvent::deDataSetScroll || e == data::TDataEvent::deDataSetChanged
            || e == data::TDataEvent::deRecordChange)
            FaxDataSourceDataChange();
    });

    foundation::LoadSettings();
    settingsLoaded_ = true;
    FaxComingIn = false;
    ReceiveModeOn = false;
    foundation::CreateDataFolders();
    const bool hints = foundation::Settings().HintsOn;
    mnuShowHint->setChecked(hints);
    qApp->installEventFilter(this); // hints follow the Show Hints switch
    mnuOnLine->setVisible(true);
    // The table environment put its own short date form in force while the tables opened: the
    // lists show dates in the user's.
    platform::SetShortDateFormat("");
}

void TMainScreen::ApplyFilter()
{
    if (FaxTable.Active())
        FaxVeldrane.Query(filterText_);
    if (RecTable.Active())
        RecVeldrane.Query(filterText_);
}

void TMainScreen::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Later activations are the application's (applicationStateChanged), not this window's.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && FirstActivation)
        FormActivate();
}

bool TMainScreen::eventFilter(QObject* watched, QEvent* event)
{
    // With hints switched off no control of the program shows its hint.
    if (event->type() == QEvent::ToolTip && !foundation::Settings().HintsOn)
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void TMainScreen::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // A desktop without a window manager never activates the window: the first showing counts as
    // the first activation.
    if (FirstActivation)
        QMetaObject::invokeMethod(
            this, [this] { FormActivate(); }, Qt::QueuedConnection);
}

void TMainScreen::FormActivate()
{
    if (closing_)
        return;
    if (FirstActivation) {
        FirstActivationSteps();
        return;
    }
    PickUpWhenIdle();
}

void TMainScreen::PickUpWhenIdle()
{
    if (!tablesOpen_)
        return;
    if (busy_ > 0) {
        pickupPending_ = true;
        return;
    }
    pickupPending_ = false;
    Busy busy(*this);
    ++pickupRuns_;
    ProcessExtraPDFaxFiles();
    SetButtons();
}

void TMainScreen::Idle()
{
    if (pickupPending_)
        QTimer::singleShot(0, this, [this] {
            if (pickupPending_)
                PickUpWhenIdle();
        });
}

void TMainScreen::FirstActivationSteps()
{
    Busy busy(*this);
    FirstActivation = false; // an activation while these steps run is a later one
    setVisible(true);
    QCoreApplication::processEvents();
    try {
        foundation::LoadFormPlacement(*this);
    } catch (const std::exception&) {
    }
    if (!tablesOpen_)
        return; // the close message is on its way
    long remembered = 0;
    ++pickupRuns_;
    if (ProcessExtraPDFaxFiles())
        remembered = FaxTable.RecNo();
    if (StartMinimised())
        showMinimized();
    else {
        show();
        raise();
    }
    QCoreApplication::processEvents();
    if (FaxVeldrane.TagArea("DATEND") == 0 || RecVeldrane.TagArea("DATEND") == 0)
        RebuildIndexes();
    if (remembered > 0)
        GoBackTo(FaxTable, remembered);
    SetButtons();
    LoadGridOrders(FaxTable, *FaxGrid, "Out");
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            FormActivate();
    });
    WriteQWPDINI();
    if (foundation::Settings().AtStartup) {
        try {
            ReceiveButtonClick();
        } catch (const std::exception&) {
        }
    }
}

int TMainScreen::CurrentTab() const { return NoteBook->currentIndex(); }

void TMainScreen::SelectTab(int index) { TabSet1->setCurrentIndex(index); }

bool TMainScreen::ListHasRows(data::TTable& table) { return table.Active() && !table.IsEmpty(); }

void TMainScreen::SetButtons()
{
    Status->clear();
    const bool outRows = ListHasRows(FaxTable);
    const bool recRows = ListHasRows(RecTable);
    const bool outgoing = CurrentTab() == kOutgoingTab;
    OrderButton->setEnabled(true);
    if (outgoing) {
        SendButton->setEnabled(outRows);
        mnuClone->setEnabled(outRows);
        EditButton->setEnabled(outRows);
        DeleteButton->setEnabled(outRows);
        ButtonviewPrint->setEnabled(outRows);
        Newbutton->setEnabled(true);
        AddCoverButton->setEnabled(outRows && FaxTable.FieldByName("FAXCOVER").AsString().empty());
        mnuForward->setEnabled(false);
    } else {
        mnuClone->setEnabled(false);
        EditButton->setEnabled(recRows);
        DeleteButton->setEnabled(recRows);
        ButtonviewPrint->setEnabled(recRows);
        Newbutton->setEnabled(false);
        AddCoverButton->setEnabled(false);
        mnuForward->setEnabled(recRows);
    }
    mnuArchive->setEnabled(DeleteButton->isEnabled());
    Printbutton->setEnabled(ButtonviewPrint->isEnabled());
    FaxGrid->setEnabled(outRows);
    RecFaxGrid->setEnabled(recRows);
    mnuPrint->setEnabled(Printbutton->isEnabled());
    mnuNewCoverSheet->setEnabled(Newbutton->isEnabled());
    mnuAddCoverSheet->setEnabled(AddCoverButton->isEnabled());
    mnuViewPrint->setEnabled(ButtonviewPrint->isEnabled());
    mnuDelete->setEnabled(DeleteButton->isEnabled());
    mnuEdit->setEnabled(EditButton->isEnabled());
    mnuSend->setEnabled(SendButton->isEnabled());
    SetArchiveCaptions();
    if (FaxTable.Active()) {
        if (!outRows && FaxVeldrane.IndexOrd() != 0)
            FaxVeldrane.SetOrder(0);
        else if (outRows && FaxVeldrane.IndexOrd() == 0) {
            SortOutgoing(mnuDateSent, "DATESENT");
            FaxTable.First();
        }
    }
    if (RecTable.Active()) {
        if (!recRows && RecVeldrane.IndexOrd() != 0)
            RecVeldrane.SetOrder(0);
        else if (recRows && RecVeldrane.IndexOrd() == 0) {
            SortReceived(mnuSortDateReceived, "DATETIME");
            RecTable.First();
        }
    }
}

void TMainScreen::FaxDataSourceDataChange()
{
    SetArchiveCaptions();
    if (!FirstActivation && CurrentTab() == kOutgoingTab) {
        const bool enable = ListHasRows(FaxTable) && FaxTable.FieldByName("FAXCOVER").AsString().empty();
        AddCoverButton->setEnabled(enable);
        mnuAddCoverSheet->setEnabled(enable);
    }
}

void TMainScreen::SetArchiveCaptions()
{
    data::TTable& table = CurrentTab() == kOutgoingTab ? FaxTable : RecTable;
    const bool archived = ListHasRows(table) && table.FieldByName("ARCHIVED").AsBoolean();
    mnuArchive->setText(archived ? "Un&Archive" : "&Archive");
}

void TMainScreen::FaxTableCalcFields(data::TTable& t)
{
    const std::string doc = t.FieldByName("FAXDOC").AsString();
    t.FieldByName("calcFaxFile").SetAsString(doc.empty() ? "(Cover only)" : ShownFile(foundation::GetSendFolder(), doc));
    t.FieldByName("ISDELETED")
        .SetAsString(t.CurrentRecord().raw.empty() || t.CurrentRecord().raw[0] != '*' ? "No " : "Yes");
    t.FieldByName("ISARCHIVED").SetAsString(t.FieldByName("ARCHIVED").AsBoolean() ? "Yes" : "No ");
}

void TMainScreen::RecTableCalcFields(data::TTable& t)
{
    t.FieldByName("calcFaxfile").SetAsString(ShownFile(foundation::GetReceiveFolder(), t.FieldByName("FAXFILE").AsString()));
    t.FieldByName("IsDeleted")
        .SetAsString(t.CurrentRecord().raw.empty() || t.CurrentRecord().raw[0] != '*' ? "No " : "Yes");
    t.FieldByName("IsArchived").SetAsString(t.FieldByName("ARCHIVED").AsBoolean() ? "Yes" : "No ");
}

std::string TMainScreen::GetDatetimeAsString(bool outgoing)
{
    try {
        if (outgoing) {
            const QDate sent = FaxTable.FieldByName("DATESENT").AsDate();
            if (!sent.isValid() || sent.daysTo(QDate::currentDate()) > 2000)
                return "not sent";
            const platform::DateTime d{sent.year(), sent.month(), sent.day(), 0, 0, 0, 0};
            const QTime time =
                QTime::fromString(QString::fromStdString(FaxTable.FieldByName("TIMESENT").AsString()), "hh:mm");
            const std::string timeText = time.isValid()
                                             ? platform::FormatDateTime(platform::ShortTimeFormat(),
                                                                        {2000, 1, 1, time.hour(), time.minute(), 0, 0})
                                             : "???";
            return platform::FormatDateTime(platform::ShortDateFormat(), d) + " at " + timeText;
        }
        const QDate rec = RecTable.FieldByName("DATEREC").AsDate();
        const platform::DateTime d{rec.year(), rec.month(), rec.day(), 0, 0, 0, 0};
        const std::string stored = RecTable.FieldByName("TIMEREC").AsString();
        const QTime time = QTime::fromString(QString::fromStdString(stored), "hh:mm");
        const std::string timeText =
            time.isValid()
                ? platform::FormatDateTime(platform::ShortTimeFormat(), {2000, 1, 1, time.hour(), time.minute(), 0, 0})
                : stored;
        return platform::FormatDateTime(platform::ShortDateFormat(), d) + " at " + timeText;
    } catch (const std::exception&) {
        return {};
    }
}

// The fax of the current row ready for viewing or printing, and its title line.
std::unique_ptr<TPreparedFax> TMainScreen::PrepareCurrentFax(std::string& titleLine)
{
    if (CurrentTab() == kReceivedTab) {
        const std::string date = GetDatetimeAsString(false);
        titleLine = "From: " + foundation::TrimBlanks(RecTable.FieldByName("FROM").AsString())
                    + "             Received: " + date;
        const std::string file = RecTable.FieldByName("FAXFILE").AsString();
        SayForeignFileNames({file}, "Receive");
        const std::string path = !IsRowFile(file) ? "" : foundation::GetProgramFolder() + "Receive/" + file;
        return std::make_unique<TPreparedFax>("", path.empty() ? "" : platform::ResolvePath(path));
    }
    const std::string date = GetDatetimeAsString(true);
    titleLine = "To: " + FaxTable.FieldByName("RECIPIENT").AsString() + "             Sent: " + date;
    SayForeignFileNames({FaxTable.FieldByName("FAXCOVER").AsString(), FaxTable.FieldByName("FAXDOC").AsString()},
                        "SEND");
    const std::string cover =
        CoverFileExists()
            ? platform::ResolvePath(foundation::GetSendFolder() + FaxTable.FieldByName("FAXCOVER").AsString())
            : "";
    const std::string doc =
        DocumentFileExists()
            ? platform::ResolvePath(foundation::GetSendFolder() + FaxTable.FieldByName("FAXDOC").AsString())
            : "";
    return std::make_unique<TPreparedFax>(cover, doc);
}

void TMainScreen::mnuViewPrintClick()
{
    if (!isVisible())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Status->setText("Preparing files for viewing...");
    QCoreApplication::processEvents();
    std::string titleLine;
    std::unique_ptr<TPreparedFax> prepared = PrepareCurrentFax(titleLine);
    if (prepared->FileName().empty()) {
        QApplication::restoreOverrideCursor();
        Status->setText("");
        foundation::ShowInformation("Error - fax file missing");
        return;
    }
    Status->setText("Loading viewer...");
    QApplication::restoreOverrideCursor();
    ShowFaxViewer(prepared->FileName(), titleLine, "Fax printout", this);
    Status->setText("");
}

void TMainScreen::PrintbuttonClick()
{
    if (!foundation::SelectUsablePrinter(true))
        return;
    Status->setText("Preparing files for printing...");
    QCoreApplication::processEvents();
    std::string titleLine;
    std::unique_ptr<TPreparedFax> prepared = PrepareCurrentFax(titleLine);
    Status->setText("");
    if (prepared->FileName().empty()) {
        foundation::ShowInformation("Error - fax file missing");
        return;
    }
    PrintFaxFile(fxFaxPrinter1, prepared->FileName(), titleLine);
}

void TMainScreen::PrintSetup1Click()
{
    if (!foundation::SelectUsablePrinter(true))
        return;
    try {
        fxFaxPrinter1.Printer();
        QPrintDialog dialog(&fxFaxPrinter1.Printer(), this);
        dialog.exec();
    } catch (...) {
    }
}

bool TMainScreen::DocumentFileExists()
{
    const std::string doc = FaxTable.FieldByName("FAXDOC").AsString();
    return IsRowFile(doc) && platform::FileExistsCI(foundation::GetSendFolder() + doc);
}

bool TMainScreen::CoverFileExists()
{
    const std::string cover = FaxTable.FieldByName("FAXCOVER").AsString();
    return IsRowFile(cover) && platform::FileExistsCI(foundation::GetSendFolder() + cover);
}

void TMainScreen::GoBackTo(data::TTable& table, long recno)
{
    if (recno > 0 && table.RecNo() != recno) {
        try {
            table.GoToRecord(recno);
        } catch (const std::exception&) {
        }
    }
}

void TMainScreen::SendButtonClick()
{
    if (ReceiveModeOn) {
        foundation::ShowInformation("You are in Fax Receive mode. You cannot send\rwhile in Fax Receive mode. Click "
                                    "the Stop button to end\rFax Receive mode");
        return;
    }
    if (foundation::Settings().PortNotConfigured && !RunQuickSetup(this))
        return;
    if (CurrentTab() != 0) {
        foundation::ShowInformation("Please switch to the Outgoing Faxes tab\rand highlight a fax to send");
        return;
    }
    if (!ListHasRows(FaxTable)) {
        QApplication::beep();
        return;
    }
    Busy busy(*this);
    const long remembered = FaxTable.RecNo();
    // The row is found again afterwards by its number and its files: a result is never written into
    // another fax's row.
    const std::string document = FaxTable.FieldByName("FAXDOC").AsString();
    const std::string cover = FaxTable.FieldByName("FAXCOVER").AsString();
    Status->setText("Preparing fax files...");
    QApplication::processEvents();
    struct ResetStatus {
        QLabel* status;
        ~ResetStatus() { status->clear(); }
    } resetStatus{Status};

    SayForeignFileNames({document, cover}, "SEND");
    const bool haveDocument = DocumentFileExists();
    const bool haveCover = CoverFileExists();
    std::string firstFile, secondFile;
    if (haveDocument && haveCover) {
        firstFile = foundation::GetSendFolder() + document;
        secondFile = foundation::GetSendFolder() + cover;
    } else if (haveDocument) {
        firstFile = foundation::GetSendFolder() + document;
    } else if (haveCover) {
        firstFile = foundation::GetSendFolder() + cover;
    } else {
        foundation::ShowInformation("Error opening fax file");
        return;
    }
    firstFile = platform::ResolvePath(firstFile);
    if (!secondFile.empty())
        secondFile = platform::ResolvePath(secondFile);

    Status->setText("Preparing Send Fax form...");
    auto& s = foundation::Settings();
    std::string result, number;
    {
        TSendFaxForm dialog(this);
        dialog.FirstFile = firstFile;
        dialog.SecondFile = secondFile;
        dialog.ToLabel->setText(QString::fromStdString(FaxTable.FieldByName("RECIPIENT").AsString()));
        dialog.Subjectlabel->setText(QString::fromStdString(FaxTable.FieldByName("SUBJECT").AsString()));
        dialog.HandedNumber = FaxTable.FieldByName("PHONE").AsString();
        dialog.FxComPort1.SetComNumber(uint16_t(s.ComPort + 1));
        dialog.sfDialPrefix->setText(QString::fromStdString(s.DialPrefix));
        dialog.sfDialsuffix->setText(QString::fromStdString(s.DialSuffix));
        dialog.DisablePrefix->setChecked(s.PrefixDisable);
        dialog.DisableSuffix->setChecked(s.SuffixDisable);
        if (RunSendDialog)
            RunSendDialog(dialog);
        else
            dialog.exec();
        result = dialog.ResultText;
        number = dialog.sfPhoneNumber->text().toStdString();
        s.DialPrefix = dialog.sfDialPrefix->text().toStdString();
        s.DialSuffix = dialog.sfDialsuffix->text().toStdString();
        s.PrefixDisable = dialog.DisablePrefix->isChecked();
        s.SuffixDisable = dialog.DisableSuffix->isChecked();
    }
    try {
        foundation::SaveSettings();
    } catch (const std::exception& e) {
        foundation::ShowMessageBox(e.what(), "Tarvel", platform::MB_OK | platform::MB_ICONWARNING);
    }

    GoBackTo(FaxTable, remembered);
    // A row deleted meanwhile can still be reached by its number: it is not found either.
    if (!FaxTable.Active() || FaxTable.IsEmpty() || FaxTable.RecNo() != remembered || FaxTable.CheckCurrentRecord() != 0
        || FaxTable.FieldByName("FAXDOC").AsString() != document
        || FaxTable.FieldByName("FAXCOVER").AsString() != cover) {
        foundation::ShowMessageBox("The fax's row could not be found again, so its result was not recorded.\r\rResult: "
                                       + (result.empty() ? std::string("none") : result),
                                   "Tarvel", platform::MB_OK | platform::MB_ICONWARNING);
        return;
    }
    try {
        FaxTable.Edit();
        if (!QString::fromStdString(result).trimmed().isEmpty())
            FaxTable.FieldByName("LASTRESULT").SetAsString(result);
        FaxTable.FieldByName("PHONE").SetAsString(number);
        const QString upper = QString::fromStdString(result).toUpper();
        if (upper == "SENT" || upper == "OK") {
            const QDateTime now = QDateTime::currentDateTime();
            FaxTable.FieldByName("DATESENT").SetAsDate(now.date());
            FaxTable.FieldByName("TIMESENT").SetAsString(now.toString("hh:mm").toStdString());
        }
        FaxTable.Post();
    } catch (const std::exception& e) {
        FaxTable.Cancel();
        foundation::ShowMessageBox(std::string("The fax's result could not be recorded: ") + e.what(), "Tarvel",
                                   platform::MB_OK | platform::MB_ICONWARNING);
    }
}

// --- The commands on the lists ---

void TMainScreen::EditButtonClick()
{
    if (CurrentTab() == kReceivedTab) {
        EditReceivedFax();
        return;
    }
    if (!ListHasRows(FaxTable)) {
        Beep();
        return;
    }
    if (FaxTable.FieldByName("FAXCOVER").AsString().empty())
        EditAPFFax();
    else {
        Busy busy(*this);
        EditAddQuickFax(false);
    }
}

void TMainScreen::EditAPFFax()
{
    Busy busy(*this);
    const long recno = FaxTable.RecNo();
    TFaxEditor editor(this);
    editor.Recipient->setText(QString::fromStdString(FaxTable.FieldByName("RECIPIENT").AsString()));
    editor.Subject->setText(QString::fromStdString(FaxTable.FieldByName("SUBJECT").AsString()));
    editor.FaxNumber->setText(QString::fromStdString(FaxTable.FieldByName("PHONE").AsString()));
    editor.Notes->setText(QString::fromStdString(FaxTable.FieldByName("NOTES").AsString()));
    editor.Codes->setText(QString::fromStdString(FaxTable.FieldByName("CODES").AsString()));
    if (editor.exec() != 1)
        return;
    GoBackTo(FaxTable, recno);
    FaxTable.Edit();
    FaxTable.FieldByName("RECIPIENT").SetAsString(editor.Recipient->text().toStdString());
    FaxTable.FieldByName("SUBJECT").SetAsString(editor.Subject->text().toStdString());
    FaxTable.FieldByName("PHONE").SetAsString(editor.FaxNumber->text().toStdString());
    FaxTable.FieldByName("NOTES").SetAsString(editor.Notes->text().toStdString());
    FaxTable.FieldByName("CODES").SetAsString(editor.Codes->text().toStdString());
    FaxTable.Post();
}

void TMainScreen::mnuCloneClick()
{
    if (CurrentTab() != kOutgoingTab)
        return;
    if (!ListHasRows(FaxTable)) {
        Beep();
        return;
    }
    Busy busy(*this);
    const long recno = FaxTable.RecNo();
    const std::string subject = FaxTable.FieldByName("SUBJECT").AsString();
    if (!foundation::AskYesNoDefaultNo("Clone the current fax?\r\n(subject: " + Quoted(subject) + ")", "Clone"))
        return;
    GoBackTo(FaxTable, recno);
    const std::string doc = FaxTable.FieldByName("FAXDOC").AsString();
    const std::string cover = FaxTable.FieldByName("FAXCOVER").AsString();
    if (doc.empty() && cover.empty())
        return;
    SayForeignFileNames({doc, cover}, "SEND");
    const std::string send = foundation::GetSendFolder();
    CloneAPFFax(!IsRowFile(doc) ? "" : send + doc, !IsRowFile(cover) ? "" : send + cover,
                FaxTable.FieldByName("PHONE").AsString(), FaxTable.FieldByName("RECIPIENT").AsString(), subject);
}

bool TMainScreen::CloneAPFFax(const std::string& documentPath, const std::string& coverPath, const std::string& phone,
                              const std::string& recipient, const std::string& subject)
{
    Busy busy(*this);
    // The copies are made before the row, and a failed copy takes the others back with it, so
    // that no row names a file that is not there.
    std::vector<std::string> made;
    auto undo = [&made] {
        for (const std::string& f : made)
            RemoveFaxFile(f);
    };
    auto copyFailed = [&](const std::string& source) {
        undo();
        foundation::ShowMessageBox("The fax file " + BaseName(source)
                                       + " could not be copied (is the disk full?).\rThe fax was not cloned.",
                                   "Clone", platform::MB_OK | platform::MB_ICONERROR);
        return false;
    };
    std::string newDoc, newCover;
    if (!documentPath.empty() && platform::FileExistsCI(documentPath)) {
        const auto target = foundation::MakeUniqueSendFileName("FAX");
        if (!target || !foundation::CopyFileBlocks(platform::ResolvePath(documentPath), *target))
            return copyFailed(documentPath);
        made.push_back(*target);
        newDoc = BaseName(*target);
    }
    const std::string coverData = WithExtension(coverPath, ".fcd");
    if (!coverPath.empty() && platform::FileExistsCI(coverPath) && platform::FileExistsCI(coverData)) {
        const auto target = foundation::MakeUniqueSendFileName("COV");
        if (!target || !foundation::CopyFileBlocks(platform::ResolvePath(coverPath), *target))
            return copyFailed(coverPath);
        made.push_back(*target);
        const std::string targetData = WithExtension(*target, ".fcd");
        if (!foundation::CopyFileBlocks(platform::ResolvePath(coverData), targetData))
            return copyFailed(coverData);
        made.push_back(targetData);
        newCover = BaseName(*target);
    }
    if (newDoc.empty() && newCover.empty()) {
        foundation::ShowMessageBox("The fax files of the current fax are missing.\rThe fax was not cloned.", "Clone",
                                   platform::MB_OK | platform::MB_ICONERROR);
        return false;
    }
    try {
        FaxTable.Append();
        QCoreApplication::processEvents();
        FaxTable.FieldByName("FAXDOC").SetAsString(newDoc);
        FaxTable.FieldByName("FAXCOVER").SetAsString(newCover);
        FaxTable.FieldByName("RECIPIENT").SetAsString(recipient);
        FaxTable.FieldByName("SUBJECT").SetAsString(("[clone]" + subject).substr(0, 50));
        FaxTable.FieldByName("PHONE").SetAsString(phone);
        FaxTable.Post();
    } catch (const std::exception& e) {
        if (FaxTable.State() != data::TDataSetState::dsBrowse)
            FaxTable.Cancel();
        undo();
        foundation::ShowMessageBox(std::string("The clone could not be saved: ") + e.what(), "Clone",
                                   platform::MB_OK | platform::MB_ICONERROR);
        return false;
    }
    SetButtons();
    FaxTableCloseAndOpen();
    return true;
}

void TMainScreen::DeleteButtonClick()
{
    if (CurrentTab() == kReceivedTab)
        DeleteFromRec();
    else
        DeleteFromSend();
}

void TMainScreen::DeleteFromSend()
{
    if (!ListHasRows(FaxTable)) {
        Beep();
        return;
    }
    Busy busy(*this);
    const long recno = FaxTable.RecNo();
    const std::string doc = FaxTable.FieldByName("FAXDOC").AsString();
    const std::string cover = FaxTable.FieldByName("FAXCOVER").AsString();
    int choice = 2;
    if (!doc.empty() && !cover.empty()) {
        TDeleteWhat what(this);
        foundation::CenterForm(what);
        if (what.exec() != 1 || what.ItemIndex() < 0)
            return;
        choice = what.ItemIndex();
    } else if (!foundation::AskYesNoDefaultNo(
                   "Delete the current fax?\r\n(subject: " + Quoted(FaxTable.FieldByName("SUBJECT").AsString()) + ")",
                   "Delete")) {
        return;
    }
    GoBackTo(FaxTable, recno);
    const std::string send = foundation::GetSendFolder();
    // The files go first; a row keeps naming a file that could not be deleted, so that table and
    // folder stay in step, and the user hears of it.
    std::vector<std::string> failed;
    std::vector<std::string> foreign; // names of no file of the send folder: left alone
    auto remove = [&](const std::string& name) {
        if (!name.empty() && !IsRowFile(name))
            foreign.push_back(name);
        else if (!name.empty() && !RemoveFaxFile(send + name))
            failed.push_back(name);
    };
    if (choice == 0 || choice == 2) {
        remove(cover);
        if (IsRowFile(cover))
            remove(WithExtension(cover, ".fcd"));
    }
    if (choice == 1 || choice == 2)
        remove(doc);
    auto failedHas = [&](const std::string& name) {
        return !name.empty() && std::find(failed.begin(), failed.end(), name) != failed.end();
    };
    const bool coverKept = failedHas(cover);
    const bool docKept = failedHas(doc);
    if (choice == 2 && !coverKept && !docKept)
        FaxTable.Delete();
    else if ((choice != 1 && !coverKept) || (choice != 0 && !docKept)) {
        FaxTable.Edit();
        if (choice != 1 && !coverKept)
            FaxTable.FieldByName("FAXCOVER").SetAsString("");
        if (choice != 0 && !docKept)
            FaxTable.FieldByName("FAXDOC").SetAsString("");
        FaxTable.Post();
    }
    SayForeignFileNames(foreign, "SEND");
    if (!failed.empty()) {
        std::string names;
        for (const std::string& f : failed)
            names += "\r" + send + f;
        foundation::ShowMessageBox("These files could not be deleted:" + names, "Delete",
                                   platform::MB_OK | platform::MB_ICONERROR);
    }
    SetButtons();
}

void TMainScreen::EditReceivedFax()
{
    if (FaxComingIn || !ListHasRows(RecTable)) {
        Beep();
        return;
    }
    Busy busy(*this);
    const long recno = RecTable.RecNo();
    TEditReceiveNotes notes(this);
    notes.Notes->setText(QString::fromStdString(RecTable.FieldByName("NOTES").AsString()));
    notes.Descript->setText(QString::fromStdString("From: " + RecTable.FieldByName("FROM").AsString()));
    foundation::CenterForm(notes);
    if (notes.exec() != 1)
        return;
    GoBackTo(RecTable, recno);
    RecTable.Edit();
    RecTable.FieldByName("NOTES").SetAsString(notes.Notes->text().toStdString());
    RecTable.Post();
}

void TMainScreen::DeleteFromRec()
{
    if (FaxComingIn || !ListHasRows(RecTable)) {
        Beep();
        return;
    }
    Busy busy(*this);
    const long recno = RecTable.RecNo();
    if (!foundation::AskYesNoDefaultNo(
            "Delete the current fax?\r\n(from: " + Quoted(RecTable.FieldByName("FROM").AsString()) + ")", "Delete"))
        return;
    GoBackTo(RecTable, recno);
    const std::string file = RecTable.FieldByName("FAXFILE").AsString();
    const bool foreign = SayForeignFileNames({file}, "Receive");
    if (!foreign && !file.empty() && !RemoveFaxFile(foundation::GetReceiveFolder() + file)) {
        foundation::ShowMessageBox("The file " + foundation::GetReceiveFolder() + file
                                       + " could not be deleted.\rThe fax was not deleted.",
                                   "Delete", platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    RecTable.Delete();
    SetButtons();
}

void TMainScreen::mnuArchiveClick()
{
    const bool outgoing = CurrentTab() == kOutgoingTab;
    data::TTable& table = outgoing ? FaxTable : RecTable;
    if (!ListHasRows(table) || (!outgoing && FaxComingIn)) {
        Beep();
        return;
    }
    Busy busy(*this);
    const long recno = table.RecNo();
    const bool archived = table.FieldByName("ARCHIVED").AsBoolean();
    std::string question = archived ? "UnArchive the current fax?" : "Archive the current fax?";
    if (outgoing) {
        const std::string subject = table.FieldByName("SUBJECT").AsString();
        question += subject.empty() ? "\r(no subject)" : "\r(subject: " + subject + ")";
    } else {
        const std::string from = table.FieldByName("FROM").AsString();
        question += from.empty() ? "\r" : "\r(from: " + from + ")";
    }
    if (!foundation::AskYesNoDefaultNo(question, "Archive"))
        return;
    GoBackTo(table, recno);
    try {
        table.Edit();
        table.FieldByName("ARCHIVED").SetAsBoolean(!archived);
        table.Post();
        // With archived faxes hidden the row leaves the list at once; the cursor goes to the next
        // row, or to the one before when it was the last.
        if (!archived && !filterText_.empty())
            table.Refresh();
    } catch (const std::exception&) {
        if (table.State() != data::TDataSetState::dsBrowse)
            table.Cancel();
    }
    SetButtons();
}

void TMainScreen::mnuShowArchivesClick()
{
    filterText_ = mnuShowArchives->isChecked() ? "" : kFilterHidingArchived;
    ApplyFilter();
    SetButtons();
}

void TMainScreen::OrderButtonClick()
{
    foundation::PopupMenuBelowButton(*OrderButton, CurrentTab() == kOutgoingTab ? *FaxSortMenu : *RecSortMenu);
}

void TMainScreen::SortOutgoing(QAction* item, const char* tag)
{
    if (!FaxTable.Active())
        return;
    FaxVeldrane.SetOrder(FaxVeldrane.TagArea(tag));
    for (QAction* a : {mnuDateSent, mnuSubject, mnuRecipient})
        a->setChecked(a == item);
}

void TMainScreen::SortReceived(QAction* item, const char* tag)
{
    if (FaxComingIn) {
        Beep();
        item->setChecked(!item->isChecked());
        return;
    }
    if (!RecTable.Active())
        return;
    RecVeldrane.SetOrder(RecVeldrane.TagArea(tag));
    for (QAction* a : {mnuSortDateReceived, mnuSortFrom})
        a->setChecked(a == item);
}

void TMainScreen::FaxTableCloseAndOpen()
{
    Busy busy(*this);
    const long recno = FaxTable.RecNo();
    const int order = FaxVeldrane.IndexOrd();
    FaxTable.DisableControls();
    FaxTable.Close();
    QCoreApplication::processEvents();
    FaxTable.Open();
    FaxVeldrane.SetOrder(order);
    FaxVeldrane.Query(filterText_);
    GoBackTo(FaxTable, recno);
    FaxTable.EnableControls();
}

void TMainScreen::mnuForwardClick()
{
    if (RefuseInReceiveMode())
        return;
    if (!ListHasRows(RecTable))
        return;
    Busy busy(*this);
    const std::string file = RecTable.FieldByName("FAXFILE").AsString();
    const std::string source = foundation::GetReceiveFolder() + file;
    if (SayForeignFileNames({file}, "Receive") || file.empty() || !platform::FileExistsCI(source))
        return;
    const std::string from = RecTable.FieldByName("FROM").AsString();
    if (!foundation::AskYesNoDefaultNo("Forward the current fax to be sent?\r\n(from: " + from + ")", "Forward"))
        return;
    TFaxEditor editor(this);
    editor.setWindowTitle(QString::fromStdString("Forward fax from: " + from));
    if (editor.exec() != 1)
        return;
    const auto target = foundation::MakeUniqueSendFileName("FWD");
    if (!target || !foundation::CopyFileBlocks(platform::ResolvePath(source), *target)) {
        foundation::ShowMessageBox("The fax file " + file
                                       + " could not be copied to the send folder (is the disk full?).\rThe fax was "
                                         "not forwarded.",
                                   "Forward", platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    try {
        FaxTable.Append();
        FaxTable.FieldByName("RECIPIENT").SetAsString(editor.Recipient->text().toStdString());
        FaxTable.FieldByName("SUBJECT").SetAsString(editor.Subject->text().toStdString());
        FaxTable.FieldByName("PHONE").SetAsString(editor.FaxNumber->text().toStdString());
        FaxTable.FieldByName("NOTES").SetAsString(editor.Notes->text().toStdString());
        FaxTable.FieldByName("CODES").SetAsString(editor.Codes->text().toStdString());
        FaxTable.FieldByName("FAXDOC").SetAsString(BaseName(*target));
        FaxTable.Post();
    } catch (const std::exception& e) {
        if (FaxTable.State() != data::TDataSetState::dsBrowse)
            FaxTable.Cancel();
        RemoveFaxFile(*target);
        foundation::ShowMessageBox(std::string("The forwarded fax could not be saved: ") + e.what(), "Forward",
                                   platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    SelectTab(kOutgoingTab);
    QCoreApplication::processEvents();
    FaxTableCloseAndOpen();
    SetButtons();
}

// --- Other commands ---

void TMainScreen::mnuPhoneBookClick()
{
    if (RefuseInReceiveMode())
        return;
    Busy busy(*this);
    TPhoneBook book(this);
    if (!book.Open(false))
        return;
    foundation::CenterForm(book);
    book.exec();
}

void TMainScreen::RebuildIndexes()
{
    Busy busy(*this);
    FaxTable.DisableControls();
    const bool phoneOpen =
        PhoneTable.Active() || data::OpenPhoneDBF(PhoneTable, PhoneVeldrane, true, foundation::GetProgramFolder());
    data::RebuildTables tables{
        &FaxTable, &FaxVeldrane, &RecTable, &RecVeldrane, &PhoneTable, &PhoneVeldrane, foundation::GetProgramFolder()};
    if (phoneOpen) {
        ++rebuilds_;
        data::TRebuildInd rebuild(tables, this);
        rebuild.exec();
    }
    PhoneTable.Close();
    ApplyFilter();
    FaxTable.EnableControls();
}

void TMainScreen::mnuRebuildIndexesClick()
{
    if (RefuseInReceiveMode())
        return;
    RebuildIndexes();
    SetButtons();
}

void TMainScreen::mnuShowHintClick()
{
    const bool on = mnuShowHint->isChecked();
    foundation::Settings().HintsOn = on;
    try {
        foundation::SaveSettings();
    } catch (const std::exception& e) {
        foundation::ShowMessageBox(e.what(), "Tarvel", platform::MB_OK | platform::MB_ICONERROR);
    }
}

void TMainScreen::About1Click()
{
    TSplashform about(this);
    foundation::CenterForm(about);
    about.OKButton->setVisible(true);
    about.exec();
}

void TMainScreen::mnuOnLineClick()
{
    if (RefuseInReceiveMode())
        return;
    // The program's own pages on this machine: the help's contents.
    foundation::ShowHelpContext(kContentsHelpContext);
}

// --- Closing and the private messages ---

void TMainScreen::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool TMainScreen::FormCloseQuery()
{
    if (FaxComingIn && !foundation::AskYesNo("You are recieving a fax. Close the program?", "ALERT!"))
        return false;
    if (ReceiveModeOn)
        StopReceivingNow();
    if (tablesOpen_) {
        try {
            SaveGridOrders(FaxTable, *FaxGrid, "Out");
        } catch (const std::exception&) {
        }
    }
    closing_ = true;
    QCoreApplication::processEvents();
    FaxGrid->SetDataSource(nullptr);
    RecFaxGrid->SetDataSource(nullptr);
    FaxTable.Close();
    RecTable.Close();
    tablesOpen_ = false;
    QCoreApplication::processEvents();
    return true;
}

void TMainScreen::FormClose()
{
    // A start that stopped at a damaged table never read the settings: what is in memory are the
    // defaults, and writing them would wipe the user's port, name and number.
    if (!settingsLoaded_)
        return;
    try {
        foundation::SaveFormPlacement(*this);
    } catch (const std::exception&) {
    }
    try {
        foundation::SaveSettings();
    } catch (const std::exception& e) {
        foundation::ShowMessageBox(e.what(), "Tarvel", platform::MB_OK | platform::MB_ICONERROR);
    }
}

void TMainScreen::PostCloseProgram()
{
    QMetaObject::invokeMethod(
        this, [this] { WMCloseProgram(); }, Qt::QueuedConnection);
}
void TMainScreen::PostFaxReceived()
{
    QMetaObject::invokeMethod(
        this, [this] { WMFaxReceived(); }, Qt::QueuedConnection);
}

void TMainScreen::WMCloseProgram() { close(); }

void TMainScreen::WMFaxReceived()
{
    const std::string wav = foundation::Settings().Wav;
    if (wav.empty() || !platform::FileExistsCI(wav))
        return;
    const std::string path = platform::ResolvePath(wav);
    if (SoundPlayerHook()) {
        SoundPlayerHook()(path);
        return;
    }
    PlayWaveFile(this, path);
}

void PlayWaveFile(QObject* owner, const std::string& path)
{
    auto* effect = new QSoundEffect(owner);
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying())
            effect->deleteLater();
    });
    effect->setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
    effect->play();
}

// --- Column order of the outgoing list ---

void TMainScreen::SaveGridOrders(data::TTable& table, data::TDBGrid& grid, const std::string& name)
{
    const std::string base = foundation::GetProgramFolder() + name;
    std::vector<std::pair<int, std::string>> byIndex;
    for (int i = 0; i < table.FieldCount(); ++i) {
        data::TField& f = table.Fields(i);
        std::string upper = f.FieldName();
        for (char& c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        if (upper != "CALCFAXFILE")
            byIndex.emplace_back(f.Index(), f.FieldName());
    }
    std::sort(byIndex.begin(), byIndex.end());
    std::ofstream names(platform::ResolvePath(base + ".gco"), std::ios::trunc);
    for (const auto& [index, field] : byIndex)
        names << field << "\r\n";
    std::ofstream widths(platform::ResolvePath(base + ".gcs"), std::ios::trunc);
    for (int w : grid.ColumnWidths())
        widths << w << "\r\n";
}

void TMainScreen::LoadGridOrders(data::TTable& table, data::TDBGrid& grid, const std::string& name)
{
    const std::string base = foundation::GetProgramFolder() + name;
    auto lines = [](const std::string& path) {
        std::vector<std::string> out;
        std::ifstream in(platform::ResolvePath(path));
        std::string line;
        while (std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            out.push_back(line);
        }
        return out;
    };
    if (platform::FileExistsCI(base + ".gco")) {
        const auto names = lines(base + ".gco");
        for (size_t i = 0; i < names.size(); ++i) {
            if (data::TField* f = table.FindField(names[i]))
                f->SetIndex(int(i));
        }
    }
    if (platform::FileExistsCI(base + ".gcs")) {
        std::vector<int> widths = grid.ColumnWidths();
        const auto values = lines(base + ".gcs");
        for (size_t i = 0; i < values.size() && i < widths.size(); ++i) {
            bool ok = false;
            const int w = QString::fromStdString(values[i]).toInt(&ok);
            if (ok && w >= 0)
                widths[i] = w;
        }
        grid.SetColumnWidths(widths);
    }
}

} // namespace zn::app
