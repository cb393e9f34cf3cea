// The main window of zn: the outgoing and received fax lists over ZNOUT and ZNREC, the menus and
// buttons of every command, start-up on the first activation, the close query, and the commands on
// the lists (edit, clone, delete, archive, show archived, sort, forward, phone book, rebuild).
// Everything runs on the GUI thread.
#pragma once
#include "comms/port/com_port.h"
#include "comms/fax/fax_components.h"
#include "comms/tapi/tapi_device.h"
#include "data/gui/db_grid.h"
#include "data/table/dataset.h"
#include "data/table/veldrane.h"
#include "app/prepared_fax.h"
#include "faxdoc/gui/fax_printer.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QStackedWidget;
class QTabBar;
class QTimer;

namespace zn::foundation::gui {
class TGraphicPanel;
}

namespace zn::app {

// A row names its files by plain names in its folder (SEND or Receive); a name with a folder part
// ("../ZN.INI"), written by another program into the shared table, names no fax file, and that file
// is left alone. Tells the user of such names among those given (empty ones are no names); true
// when there was one.
bool SayForeignFileNames(const std::vector<std::string>& names, const std::string& folderName);

constexpr const char* kProgramVersion = "2.9z Build 6";
constexpr const char* kReceiveModeRefusal =
    "You are in Fax Receive mode. This operation cannot be done\rwhile in Fax Receive mode. Click the Stop "
    "button to end\rFax Receive mode";

// Fax > Receive Faxes keeps its access key R in both of its states: without it, Alt+F then R does
// nothing once receive mode has been stopped.
constexpr const char* kReceiveMenuCaption = "&Receive Faxes";
constexpr const char* kStopReceivingMenuCaption = "Stop &Receiving Faxes";

class TSendFaxForm;
class TStartingFaxForm;

// The error code of the last failed receive (-1 until one fails).
extern int LastReceiveErrorCode;

// Plays a sound file once; the player goes when it has finished.
void PlayWaveFile(QObject* owner, const std::string& path);

// The fax files the received-fax table in programFolder names (upper-cased), every row counted:
// deleted and archived ones too. None when the table cannot be read as it is.
std::optional<std::set<std::string>> ReceivedFilesOfTable(const std::string& programFolder);
// The mark "ZNREC.MRK" in the program folder stands while a fax is being received into RECEIVE and
// has no ZNREC row yet; one found at start means a receive did not end cleanly.
bool UnrecordedReceiveMarked(const std::string& programFolder);
void MarkUnrecordedReceive(const std::string& programFolder, bool marked);

class TMainScreen : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainScreen(QWidget* parent = nullptr);
    ~TMainScreen() override;

    // Tables and their partners.
    data::TVeldraneEnv VeldraneEnv1;
    data::TTable FaxTable;
    data::TDataSource FaxDataSource{&FaxTable};
    data::TVeldrane FaxVeldrane;
    data::TTable RecTable;
    data::TDataSource RecDataSource{&RecTable};
    data::TVeldrane RecVeldrane;
    data::TTable PhoneTable;
    data::TDataSource PhoneDataSource{&PhoneTable};
    data::TVeldrane PhoneVeldrane;

    // Frame.
    QWidget* BrowsePanel;
    QTabBar* TabSet1;
    QStackedWidget* NoteBook;
    data::TDBGrid* FaxGrid;
    data::TDBGrid* RecFaxGrid;
    QWidget* backpanel;
    QLabel* Status;
    QWidget* ButtonBar;
    QPushButton *SendButton, *EditButton, *DeleteButton, *ButtonviewPrint, *Printbutton, *OrderButton, *Newbutton,
        *AddCoverButton, *ReceiveButton, *Exitbutton, *BitBtn1, *ProblemSolverButton;
    foundation::gui::TGraphicPanel* GraphicPanel1;
    foundation::gui::TGraphicPanel* GraphicPanel2;
    QMenu* FaxSortMenu;
    QMenu* RecSortMenu;
    QAction *mnuDateSent, *mnuSubject, *mnuRecipient, *mnuSortDateReceived, *mnuSortFrom;
    // The main menu's commands.
    QAction *mnuNewCoverSheet, *mnuAddCoverSheet, *mnuEdit, *mnuClone, *mnuDelete, *mnuArchive, *mnuShowArchives,
        *mnuSend, *mnuReceive, *mnuReceiveLog, *mnuForward, *mnuViewPrint, *mnuPrint, *PrintSetup1, *Exit1,
        *mnuPreferences, *mnuPhoneBook, *CovreSheetTemplateEditor1, *FaxLogFileCleanup1, *mnuRebuildIndexes,
        *QuickConfigurationAnalysis1, *ConfigurationInformation1, *StartHere1, *Contents1,
        *FrequentlyAskedQuestionsFAQ1, *TechnicalSupport1, *mnuShowHint, *mnuOnLine, *About1;

    // State (receive mode and an incoming call belong to the receive commands).
    bool FirstActivation = true;
    bool ReceiveModeOn = false;
    bool FaxComingIn = false;
    bool TablesOpen() const { return tablesOpen_; }

    // The activation handler: the first time the full start-up, later the pick-up of print jobs.
    // Runs on window activation and on a restore request from a second start; tests call it.
    void FormActivate();
    // The pick-up of print-to-fax jobs waits while a command is working (it appends to ZNOUT and
    // reopens it); it runs once the window is idle again.
    bool PickupDeferred() const { return pickupPending_; }
    int PickupRuns() const { return pickupRuns_; }
    int IndexRebuilds() const { return rebuilds_; }

    void SetButtons();
    void SaveGridOrders(data::TTable& table, data::TDBGrid& grid, const std::string& name);
    void LoadGridOrders(data::TTable& table, data::TDBGrid& grid, const std::string& name);
    void SelectTab(int index); // as a click on the tab

    // List commands.
    void EditButtonClick();
    void EditAPFFax();
    void mnuCloneClick();
    bool CloneAPFFax(const std::string& documentPath, const std::string& coverPath, const std::string& phone,
                     const std::string& recipient, const std::string& subject);
    void DeleteButtonClick();
    void DeleteFromSend();
    void EditReceivedFax();
    void DeleteFromRec();
    void mnuArchiveClick();
    void SetArchiveCaptions();
    void mnuShowArchivesClick();
    void OrderButtonClick();
    void SortOutgoing(QAction* item, const char* tag);
    void SortReceived(QAction* item, const char* tag);
    void mnuForwardClick();
    void FaxTableCloseAndOpen();
    std::string GetDatetimeAsString(bool outgoing);
    bool DocumentFileExists();
    // View, Print and Print Setup on the fax of the current row.
    void mnuViewPrintClick();
    void PrintbuttonClick();
    void PrintSetup1Click();
    std::unique_ptr<TPreparedFax> PrepareCurrentFax(std::string& titleLine);
    faxdoc::TFxFaxPrinter fxFaxPrinter1;
    bool CoverFileExists();

    // Receive mode (receive_mode.cpp): the window's own port and receive component answer call
    // after call, store each fax in RECEIVE and add its ZNREC row.
    comms::TFxComPort FxComPort1;
    comms::TFxReceiveFax FxReceiveFax1;
    // The modem as a line device, when the settings name one ([Modem] UseTAPI).
    comms::TFxTapiDevice FxTapiDevice1;
    bool LoggingMode = false;
    int CurrentPage = 0;
    int LastReceiveError = 0;
    std::string ReceiveFileName; // the file being received; empty once recorded or deleted
    std::vector<std::string> ReceiveLog;
    std::string LastLogLine;
    int LastStatusCode = 0;
    std::string OpenErrorText;
    void ReceiveButtonClick();
    void mnuReceiveLogClick(); // receive mode with the port's dispatch log kept in ZNIN.LOG
    void StartReceivingNow();
    void StopReceivingNow();
    // The notice shown while receive mode starts and once it waits (created on first use).
    TStartingFaxForm* StartingFaxForm = nullptr;
    void HideStartingForm();
    void AddtoLastRecLog(const std::string& text, bool stamped);
    void SaveLocalRecLog();
    // Receive mode looks for its modem this often; one that has gone away ends receive mode.
    static void SetModemWatchIntervalForTest(int milliseconds); // 0: the normal interval
    bool ModemGone() const { return modemGone_; }

    // SIGTERM or SIGINT: the call is cancelled, its unfinished file deleted, the port and its lock
    // files released and the program ends, without asking anything.
    void EndBySignal();

    // Sending the highlighted outgoing fax through the send dialog.
    void SendButtonClick();
    // The send dialog as shown by SendButtonClick; tests run it here.
    std::function<int(TSendFaxForm&)> RunSendDialog;
    // A quick fax: a new one, a cover added to the current fax, or its cover edited (quick_fax.cpp).
    void EditAddQuickFax(bool isNew);
    // Other commands.
    void mnuPhoneBookClick();
    void mnuRebuildIndexesClick();
    void mnuShowHintClick();
    void About1Click();
    void mnuOnLineClick();

    // The print-to-fax hand-over (ZNPD.INI and the jobs left in SEND).
    void WriteQWPDINI();
    bool ProcessExtraPDFaxFiles();
    void ProcessPDFaxFile(const std::string& faxPath);

    // Private messages, queued: 0x42A closes the window, 0x42B plays the fax-received sound.
    void PostCloseProgram();
    void PostFaxReceived();
    using SoundPlayer = std::function<void(const std::string& path)>;
    static void SetSoundPlayerForTest(SoundPlayer player);

    // Where a minimised start shows (tests set it; the program reads its start-up state).
    static void SetStartMinimised(bool minimised);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class Busy;
    void BuildMenus();
    void BuildFrame();
    void FormCreate();
    void FirstActivationSteps();
    bool FormCloseQuery();
    void FormClose();
    void WMCloseProgram();
    void WMFaxReceived();
    void FxReceiveFax1FaxAccept(bool& accept);
    void FxReceiveFax1FaxName(std::string& name);
    void FxReceiveFax1FaxError(int code);
    void FxReceiveFax1FaxLog(int code);
    void FxReceiveFax1FaxStatus(bool first, bool last);
    void ShowReceiveStatus();
    void RecordReceivedFax();
    // A fax takes its name in RECEIVE only once its sender has been told it arrived, and gets its
    // row just after: a crash in between leaves a whole fax without a row. At a start after such a
    // receive, those faxes (names `listed` lacks) get their rows, and what a crash left of a fax
    // being received goes. False when a row could not be written.
    bool RecordUnlistedReceivedFaxes(const std::set<std::string>& listed);
    // A received fax that could not be stored at all: said on the screen and in the log.
    void ReceivedFaxNotStored(int code);
    // A received fax has its row, or is gone: the mark goes unless a fax of this session lacks
    // its row.
    void ReceiveEnded();
    void PrintOnReceipt(const std::string& file, const std::string& remoteID);
    void PrintReceivedFax(const std::string& remoteID);
    void ReceiveFailed();
    // The receive line given up: dispatch log written, line device's call ended, port closed.
    // Without `wait` no messages are processed (the window is being taken apart).
    void CloseReceiveLine(bool wait = true);
    void ShowReceiveModeOff();
    void WriteRecLog();
    void ConnectReceiveMode();
    void DisconnectReceiveMode();
    void WatchModem();
    bool RefuseInReceiveMode();
    void QuickConfigurationAnalysis1Click();
    void GoBackTo(data::TTable& table, long recno);
    void FaxTableCalcFields(data::TTable& table);
    void RecTableCalcFields(data::TTable& table);
    void FaxDataSourceDataChange();
    bool ListHasRows(data::TTable& table);
    void ApplyFilter();
    void RebuildIndexes();
    void PickUpWhenIdle();
    void Idle();
    int CurrentTab() const;

    bool tablesOpen_ = false;
    bool closing_ = false;
    // The settings were read at start: only then may closing write them (and the placement) back.
    bool settingsLoaded_ = false;
    int busy_ = 0;
    bool pickupPending_ = false;
    int pickupRuns_ = 0;
    int rebuilds_ = 0;
    std::string filterText_;
    int faxLink_ = 0;
    QTimer* modemWatch_ = nullptr;
    bool startingReceive_ = false;       // StartReceivingNow is opening and checking the modem
    bool receiveStartCancelled_ = false; // the Receive button was pressed again meanwhile
    bool modemGone_ = false;
    bool namingReceivedFax_ = false; // a name was handed out and its file has not been started yet
    bool rowMissing_ = false;        // a fax received in this run could not get its row
    bool receiveTapi_ = false; // receive mode opened the modem as a line device
};

} // namespace zn::app
