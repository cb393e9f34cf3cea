// Receive mode of the main window: the window's own port and receive component answer call after
// call, each fax is stored in RECEIVE and recorded as a ZNREC row, and "Lastrec.log" keeps the
// story of the session.
#include "app/error_display_form.h"
#include "app/main_screen.h"
#include "app/modem_watch.h"
#include "app/notice_forms.h"
#include "app/quick_setup.h"
#include "app/send_fax_form.h"
#include "app/small_forms.h"
#include "comms/base/exceptions.h"
#include "comms/port/port_names.h"
#include "data/table/system_tables.h"
#include "data/xbase/xbase_dbf.h"
#include "faxdoc/apf_file.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/fax_file_names.h"
#include "foundation/form_placement.h"
#include "foundation/modem_probe.h"
#include "foundation/printer_choice.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "foundation/text_values.h"
#include "platform/date_format.h"
#include "platform/file_replacement.h"
#include "platform/folders.h"
#include "platform/messages.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace zn::app {

int LastReceiveErrorCode = -1;

namespace {

constexpr int kReceivedTab = 1;

// A start-up step failed; its message has been shown and logged.
struct StartAborted {};

class HourGlass {
public:
    HourGlass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~HourGlass() { QApplication::restoreOverrideCursor(); }
    HourGlass(const HourGlass&) = delete;
    HourGlass& operator=(const HourGlass&) = delete;
};

std::string Trimmed(const std::string& text) { return QString::fromStdString(text).trimmed().toStdString(); }
std::string Upper(const std::string& text) { return QString::fromStdString(text).toUpper().toStdString(); }

std::string LogStamp() { return QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss").toStdString(); }

std::string BareName(const std::string& path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The stamped line each status code adds to the log ("" for the codes that log nothing).
std::string StatusLogLine(int code, int page, const std::string& remoteID)
{
    switch (code) {
    case 4820: return "Waiting for call ";
    case 4821: return "Call was not a fax call ";
    case 4822: return "Answering call ";
    case 4823: return "Call validated as a fax call ";
    case 4824: return "Receiving page " + std::to_string(page);
    case 4825: return "Page " + std::to_string(page) + " received ";
    case 4826: return "Waiting for more pages ";
    case 4827: return "Hanging up ";
    case 4828: return "Faxmodem has disconnected or hung up ";
    case 4840: return "Got session parameters";
    case 4841: return "Connected to " + Trimmed(remoteID) + " ";
    case 4842: return "Session cancelled by the user or by the remote device ";
    case 4843: return "Finished ";
    default: return {};
    }
}

} // namespace

void TMainScreen::SetModemWatchIntervalForTest(int milliseconds)
{
    app::SetModemWatchIntervalForTest(milliseconds);
}

void TMainScreen::ConnectReceiveMode()
{
    modemWatch_ = new QTimer(this);
    connect(modemWatch_, &QTimer::timeout, this, [this] { WatchModem(); });
    foundation::SetFaxPortDefaults(FxComPort1);
    FxReceiveFax1.SetComPort(&FxComPort1);
    foundation::SetFormTapiDevice(FxTapiDevice1, FxComPort1);
    FxReceiveFax1.SetStationID("FX RcvFax");
    FxReceiveFax1.StatusInterval = 2;
    FxReceiveFax1.FaxFileExt = "APF";
    FxReceiveFax1.OnFaxStatus = [this](comms::TFxCustomAbstractFax&, bool first, bool last) {
        FxReceiveFax1FaxStatus(first, last);
    };
    FxReceiveFax1.OnFaxLog = [this](comms::TFxCustomAbstractFax&, int code) { FxReceiveFax1FaxLog(code); };
    FxReceiveFax1.OnFaxError = [this](comms::TFxCustomAbstractFax&, int code) { FxReceiveFax1FaxError(code); };
    FxReceiveFax1.OnFaxAccept = [this](comms::TFxCustomAbstractFax&, bool& accept) { FxReceiveFax1FaxAccept(accept); };
    FxReceiveFax1.OnFaxName = [this](comms::TFxCustomAbstractFax&, std::string& name) { FxReceiveFax1FaxName(name); };
}

void TMainScreen::DisconnectReceiveMode()
{
    // The window is going: the session ends without calling back into it.
    FxReceiveFax1.OnFaxStatus = nullptr;
    FxReceiveFax1.OnFaxLog = nullptr;
    FxReceiveFax1.OnFaxError = nullptr;
    FxReceiveFax1.OnFaxAccept = nullptr;
    FxReceiveFax1.OnFaxName = nullptr;
    try {
        if (FxReceiveFax1.Busy())
            FxReceiveFax1.CancelFax();
    } catch (const std::exception&) {
    }
    CloseReceiveLine(false);
    if (!ReceiveFileName.empty()) {
        std::remove(ReceiveFileName.c_str());
        ReceiveFileName.clear();
    }
    ReceiveEnded();
}

void TMainScreen::ReceiveButtonClick()
{
    if (!ReceiveModeOn && foundation::Settings().PortNotConfigured && !RunQuickSetup(this))
        return;
    if (startingReceive_) {
        // Pressed again while the modem is being opened and checked: the start gives up as soon
        // as the wait it is in lets go of the port.
        receiveStartCancelled_ = true;
        CloseReceiveLine();
        return;
    }
    if (ReceiveModeOn)
        StopReceivingNow();
    else
        StartReceivingNow();
    SetButtons();
    if (ReceiveModeOn)
        Status->setText("Waiting for fax...");
}

void TMainScreen::mnuReceiveLogClick()
{
    if (!foundation::AskYesNo("Logging mode should only be used when instructed\rto do so by technical support. "
                              "Continue?",
                              "LOGGING MODE"))
        return;
    TellUserAboutReceiveLog();
    LoggingMode = true;
    ReceiveButtonClick();
}

void TMainScreen::ShowReceiveModeOff()
{
    mnuReceiveLog->setEnabled(true);
    ReceiveButton->setText("Receive");
    ReceiveButton->setToolTip("Start receiving faxes");
    mnuReceive->setText(kReceiveMenuCaption);
}

void TMainScreen::CloseReceiveLine(bool wait)
{
    if (modemWatch_)
        modemWatch_->stop();
    try {
        // Paused at the first page's data or not, what the log holds goes to ZNIN.LOG.
        if (LoggingMode && FxComPort1.Logging() != comms::tlOff)
            FxComPort1.SetLogging(comms::tlDump);
    } catch (const std::exception&) {
    }
    if (receiveTapi_ && wait) {
        foundation::CloseTapiPort(FxTapiDevice1);
        return;
    }
    try {
        if (FxComPort1.Open())
            FxComPort1.SetOpen(false);
    } catch (const std::exception&) {
        // The line is being given up; a port that will not close says so on the next open.
    }
    try {
        if (FxTapiDevice1.LineActive() || FxTapiDevice1.Connected())
            FxTapiDevice1.CancelCall();
    } catch (const std::exception&) {
    }
}

void TMainScreen::StartReceivingNow()
{
    auto& s = foundation::Settings();
    HourGlass hourGlass;
    LastReceiveError = 0;
    FxReceiveFax1.SetDestinationDir(foundation::GetReceiveFolder());
    FxReceiveFax1.NamingMode = s.GlobalUseAlternateNamingRec ? 2 : 1;
    ReceiveLog.clear();
    LastLogLine.clear();
    LastStatusCode = 0;
    AddtoLastRecLog("Start: ", true);
    SelectTab(kReceivedTab);
    QApplication::processEvents();
    ReceiveModeOn = true;
    if (!StartingFaxForm)
        StartingFaxForm = new TStartingFaxForm(this);
    foundation::CenterForm(*StartingFaxForm);
    StartingFaxForm->ShowStarting();
    QApplication::processEvents();

    const std::string n = std::to_string(s.ComPort + 1);
    startingReceive_ = true;
    receiveStartCancelled_ = false;
    const auto giveUpIfCancelled = [this] {
        if (!receiveStartCancelled_)
            return;
        AddtoLastRecLog("Start cancelled by the user", true);
        throw StartAborted();
    };
    try {
        SetButtons();
        QApplication::processEvents();
        Status->setText("Starting receive mode...");

        FxComPort1.SetComNumber(uint16_t(s.ComPort + 1));
        FxReceiveFax1.FaxClass = comms::TFaxClass(s.FaxClassReceive + 1);
        FxReceiveFax1.SetStationID(s.Fax);
        FxReceiveFax1.AnswerOnRing = uint16_t(s.AnswerOnRing);
        FxReceiveFax1.DesiredBPS = uint16_t(s.MaximumBPSReceive);
        FxReceiveFax1.DesiredECM = s.ECMReceive;
        if (!s.InitStringReceive.empty())
            FxReceiveFax1.SetModemInit(TSendFaxForm::ModemInitFor(s.InitStringReceive));
        if (LoggingMode) {
            AddtoLastRecLog("Logging on", true);
            FxComPort1.SetLogging(comms::tlOn);
            FxComPort1.SetLogName(foundation::GetProgramFolder() + "ZNIN.LOG");
        }
        const int inSize = s.GlobalLargerReceiveBuffer ? 16384 : 8192;
        FxComPort1.SetInSize(uint16_t(inSize));
        FxComPort1.SetBufferFull(uint16_t(inSize * 9 / 10));
        FxComPort1.SetBufferResume(uint16_t(inSize / 10));
        AddtoLastRecLog("Buffer Size " + std::to_string(inSize), true);

        receiveTapi_ = s.UseTAPI;
        OpenErrorText.clear();
        if (s.UseTAPI) {
            FxComPort1.SetTapiMode(comms::tmAuto);
            const std::string device = s.TAPIDevice;
            Status->setText(QString::fromStdString("Opening communications port using:" + device));
            AddtoLastRecLog("Opening with TAPI using: " + device, true);
            const bool opened = foundation::OpenTapiPort(FxTapiDevice1, device, FxComPort1, OpenErrorText);
            giveUpIfCancelled();
            if (!opened) {
                QApplication::restoreOverrideCursor();
                if (LoggingMode)
                    FxComPort1.SetLogging(comms::tlDump);
                AddtoLastRecLog("Error opening : " + device, true);
                AddtoLastRecLog("Message:" + OpenErrorText, true);
                HideStartingForm();
                OpenErrorText += "\r\n\r\nIs the Communications Port used by " + device
                                 + " in use? Please\r\n"
                                   "click use the Preferences screen item #1 to check.";
                ShowError(QString::fromStdString("Error Opening " + device), QString::fromStdString(OpenErrorText),
                          true);
                QApplication::setOverrideCursor(Qt::WaitCursor);
                SaveLocalRecLog();
                throw StartAborted();
            }
            AddtoLastRecLog("Opened com port with TAPI: " + device, true);
        } else {
            FxComPort1.SetTapiMode(comms::tmOff);
            AddtoLastRecLog("Opening com port: COM" + n, true);
            if (!foundation::OpenComPort(FxComPort1, OpenErrorText)) {
                if (LoggingMode)
                    FxComPort1.SetLogging(comms::tlDump);
                AddtoLastRecLog("Error opening com port: COM" + n + "  Message:" + OpenErrorText, false);
                HideStartingForm();
                OpenErrorText += "\r\n\r\nIs the Communications Port (COM" + n
                                 + ") correct? Please\r\n"
                                   "click on the Find Modem button in Preferences to be sure.";
                ShowError("Error Opening Communications Port", QString::fromStdString(OpenErrorText), false);
                SaveLocalRecLog();
                throw StartAborted();
            }
            AddtoLastRecLog("Opened com port OK", true);
        }

        AddtoLastRecLog("Checking for modem", true);
        Status->setText("Checking for modem...");
        const bool modemAnswered = foundation::CheckModemResponds(FxComPort1);
        giveUpIfCancelled();
        if (!modemAnswered) {
            AddtoLastRecLog("Error checking for modem", true);
            HideStartingForm();
            const bool goOn = AskContinue(
                "No Response From Modem",
                QString::fromStdString("We did not receive a modem response from COM" + n
                                       + ".\r\n\r\n"
                                         "To verify the communications port, please click on the Find Modem button "
                                         "in Preferences to be sure.\r\n\r\nIf you are sure there is a modem on COM"
                                       + n
                                       + ", press CONTINUE\r\nto continue, otherwise press OK to stop the fax "
                                         "session."),
                false);
            if (!goOn) {
                CloseReceiveLine();
                AddtoLastRecLog("Exit - unable to find modem ", true);
                SaveLocalRecLog();
                throw StartAborted();
            }
        }

        if (!s.ResetString.empty()) {
            Status->setText("Sending reset string...");
            AddtoLastRecLog("Sending reset string: " + s.ResetString, true);
            std::string reset = s.ResetString;
            const bool resetAnswered = foundation::SendModemCommand(FxComPort1, reset);
            giveUpIfCancelled();
            if (!resetAnswered) {
                HideStartingForm();
                AddtoLastRecLog("Failure sending reset string: " + s.ResetString, true);
                CloseReceiveLine();
                ShowError("Unable to Continue",
                          QString::fromStdString("We are unable to continue the fax session. \r\n\r\nThe modem did "
                                                 "not respond to the reset string:   ("
                                                 + s.ResetString
                                                 + ")\r\n\r\n"
                                                   "Is the Communications Port (COM"
                                                 + n
                                                 + ") correct? Please\r\n"
                                                   "click on the Find Modem button in Preferences to be sure."),
                          false);
                AddtoLastRecLog("Exiting modem not responding to reset", true);
                SaveLocalRecLog();
                throw StartAborted();
            }
        }

        AddtoLastRecLog("Config", true);
        AddtoLastRecLog("  Desired BPS: " + std::to_string(s.MaximumBPSReceive), false);
        if (s.ECMReceive)
            AddtoLastRecLog("  Desired ECM: ON", false);
        if (s.ToneOrPulse == 1)
            AddtoLastRecLog("  Using Pulse Dialing ***", false);
        AddtoLastRecLog("  Fax Class: " + foundation::FaxClassToText(s.FaxClassReceive), false);
        AddtoLastRecLog("  User INIT String: " + s.InitStringReceive, false);

        giveUpIfCancelled();
        if (!s.DisableReceivingFaxesNotification)
            StartingFaxForm->show();
        AddtoLastRecLog("Start Receive Mode ", true);
        FxReceiveFax1.StartReceive();
        modemGone_ = false;
        modemWatch_->start(ModemWatchInterval());
        ReceiveButton->setText("STOP");
        ReceiveButton->setToolTip("Stop receiving faxes");
        mnuReceive->setText(kStopReceivingMenuCaption);
        mnuReceiveLog->setEnabled(false);
        Status->setText("Waiting for fax...");
        StartingFaxForm->ShowReady();
        WriteRecLog();
        startingReceive_ = false;
    } catch (...) {
        startingReceive_ = false;
        CloseReceiveLine();
        HideStartingForm();
        ReceiveModeOn = false;
        ShowReceiveModeOff();
        LoggingMode = false;
        AddtoLastRecLog("Error Starting Fax Receive ", true);
        SaveLocalRecLog();
    }
}

void TMainScreen::HideStartingForm()
{
    if (StartingFaxForm && StartingFaxForm->isVisible())
        StartingFaxForm->hide();
}

void TMainScreen::StopReceivingNow()
{
    HideStartingForm();
    HourGlass hourGlass;
    Status->setText("Ending fax receive mode...");
    QApplication::processEvents();
    try {
        if (FxReceiveFax1.Busy())
            FxReceiveFax1.CancelFax();
        // The cancelled session hangs up and reports its end before the port goes.
        QElapsedTimer timer;
        timer.start();
        while (FxReceiveFax1.Busy() && timer.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        const std::string after = foundation::Settings().AfterString;
        if (!after.empty() && FxComPort1.Open()) {
            Status->setText("Sending AFTER reset string...");
            std::string command = after;
            foundation::SendModemCommand(FxComPort1, command);
        }
        CloseReceiveLine();
        QApplication::processEvents();
    } catch (const std::exception&) {
    }
    // A fax the cancel cut short is not kept.
    if (!ReceiveFileName.empty()) {
        std::remove(ReceiveFileName.c_str());
        ReceiveFileName.clear();
    }
    ReceiveEnded();
    FaxComingIn = false;
    LoggingMode = false;
    ReceiveModeOn = false;
    ShowReceiveModeOff();
    Status->clear();
    AddtoLastRecLog("Stopped receive mode ", true);
    SaveLocalRecLog();
}

// Receive mode waits for rings for days: a modem unplugged meanwhile (its device node gone) is
// noticed here, shown and logged, and receive mode ends, to be started again once it is back.
void TMainScreen::WatchModem()
{
    if (!ReceiveModeOn) {
        modemWatch_->stop();
        return;
    }
    // A line device's modem going away ends its call, and the call's port with it.
    if (ModemStillThere(FxComPort1, FxTapiDevice1, receiveTapi_))
        return;
    modemWatch_->stop();
    modemGone_ = true;
    const std::string device = foundation::Settings().TAPIDevice;
    const std::string place = ModemPlace(FxComPort1, receiveTapi_, device);
    AddtoLastRecLog("The modem " + place + " is gone", true);
    StopReceivingNow();
    SetButtons();
    Status->setText(QString::fromStdString(receiveTapi_ ? "No modem " + device
                                                        : "No modem on COM" + std::to_string(FxComPort1.ComNumber())));
    ShowError("Modem Not Found",
              QString::fromStdString("The modem " + place
                                     + " can no longer be found: it was unplugged or switched off.\r\n\r\nFax "
                                       "Receive mode has ended. When the modem is back, click Receive to start "
                                       "receiving faxes again."),
              false);
}

void TMainScreen::EndBySignal()
{
    // The calls are ended first: a line device's hang-up waits for the provider's replies, which
    // no longer arrive once the quit is pending. Then every wait on the modem ends and every
    // window's loop with it.
    for (TSendFaxForm* dialog : findChildren<TSendFaxForm*>())
        dialog->EndNow();
    if (ReceiveModeOn)
        StopReceivingNow();
    DisconnectReceiveMode();
    platform::PostQuitMessage(0);
}

void TMainScreen::FxReceiveFax1FaxAccept(bool& accept)
{
    FaxComingIn = true;
    LastReceiveError = 0;
    accept = true;
}

void TMainScreen::FxReceiveFax1FaxName(std::string& name)
{
    // From here until its row is written, a crash may leave this fax without a row.
    MarkUnrecordedReceive(foundation::GetProgramFolder(), true);
    namingReceivedFax_ = true;
    name = foundation::MakeReceivedFaxFileName(foundation::GetReceiveFolder(),
                                               foundation::Settings().GlobalUseAlternateNamingRec)
               .substr(0, 255);
}

void TMainScreen::FxReceiveFax1FaxError(int code)
{
    LastReceiveError = code;
    // Between the name and the start of its file, only making the file can fail; no log event
    // follows, since no file was opened.
    if (namingReceivedFax_) {
        ReceivedFaxNotStored(code);
        return;
    }
    AddtoLastRecLog("Error " + comms::ErrorCodeToText(code), true);
}

void TMainScreen::ReceivedFaxNotStored(int code)
{
    namingReceivedFax_ = false;
    FaxComingIn = false;
    LastReceiveError = 0;
    LastReceiveErrorCode = code;
    const std::string folder = platform::ResolvePath(foundation::GetReceiveFolder());
    const std::string why =
        code == comms::ecNoFilename ? "no file name could be found for it" : comms::ErrorCodeToText(code);
    AddtoLastRecLog("Receive Failed: the incoming fax could not be stored in " + folder + " (" + why + ")", true);
    ReceiveEnded();
    WriteRecLog();
    const QString message = QString::fromStdString(
        "Tarvel failed to receive an incoming fax: it could not be stored in the folder " + folder
        + ".\r\n\r\nThe error message was:   " + why);
    QMetaObject::invokeMethod(
        this, [message] { ShowError("Failed To Receive Incoming Fax", message, false); }, Qt::QueuedConnection);
}

void TMainScreen::ReceiveEnded()
{
    namingReceivedFax_ = false;
    // A fax whose row could not be written keeps the mark: the next start lists it.
    if (!rowMissing_)
        MarkUnrecordedReceive(foundation::GetProgramFolder(), false);
}

void TMainScreen::FxReceiveFax1FaxStatus(bool first, bool last)
{
    ShowReceiveStatus();
    if (first)
        CurrentPage = 0;
    if (last)
        FaxComingIn = false;
    if (LoggingMode && LastStatusCode == 4824 && FxComPort1.Logging() == comms::tlOn)
        FxComPort1.SetLogging(comms::tlPause);
}

void TMainScreen::FxReceiveFax1FaxLog(int code)
{
    switch (code) {
    case comms::lfReceiveStart:
        namingReceivedFax_ = false;
        ReceiveFileName = FxReceiveFax1.FaxFile();
        AddtoLastRecLog("Receiving a fax ", true);
        HideStartingForm();
        break;
    case comms::lfReceiveOK: RecordReceivedFax(); break;
    case comms::lfReceiveFail: ReceiveFailed(); break;
    case comms::lfPageRefused: AddtoLastRecLog(comms::TFxFaxLog::RefusedPageText(FxReceiveFax1) + " ", true); break;
    default: break;
    }
}

void TMainScreen::ShowReceiveStatus()
{
    const int code = FxReceiveFax1.GetProgressCode();
    const int page = FxReceiveFax1.GetCurrentPage();
    const std::string remoteID = Trimmed(FxReceiveFax1.GetRemoteID());
    if (code != LastStatusCode) {
        const std::string line = StatusLogLine(code, page, remoteID);
        if (!line.empty())
            AddtoLastRecLog(line, true);
        if (code == 4822)
            HideStartingForm();
    }
    LastStatusCode = code;
    CurrentPage = page;

    std::string text = Trimmed(comms::StatusText(code));
    std::string pagePart, bytesPart;
    if (Upper(text) == "GOT CLASS 2 FHNG CODE") {
        text = "Hangup successful";
    } else if (text == "Getting page data") {
        text = "Receiving fax";
        if (page > 0)
            pagePart = ", page " + std::to_string(page);
        if (FxReceiveFax1.GetBytesTransferred() > 0)
            bytesPart = " (" + std::to_string(FxReceiveFax1.GetBytesTransferred()) + " bytes)";
    }
    if (!remoteID.empty())
        text += " from: " + remoteID + pagePart + bytesPart;
    if (Upper(text).find("ABORT") != std::string::npos)
        text.clear();
    Status->setText(QString::fromStdString(text));
}

std::optional<std::set<std::string>> ReceivedFilesOfTable(const std::string& programFolder)
{
    const std::string path = platform::ResolvePath(programFolder + "ZNREC.DBF");
    xbase::DbfTable table;
    if (table.Open(path, xbase::OpenMode::ReadOnly) != xbase::Err::Ok)
        return std::nullopt;
    const int field = table.FieldIndex("FAXFILE");
    std::string where;
    if (field < 0 || table.CheckRecords(where) != xbase::Err::Ok)
        return std::nullopt;
    const xbase::Field& f = table.Fields()[size_t(field)];
    std::set<std::string> files;
    xbase::RecordScan scan(table);
    const size_t length = size_t(table.RecordLength());
    const xbase::Err e = scan.ForEachRun(table.RecordCount(), [&](uint32_t, uint32_t number, const char* records) {
        for (uint32_t i = 0; i < number; ++i)
            files.insert(Upper(Trimmed(std::string(records + i * length + f.offset, size_t(f.length)))));
        return xbase::Err::Ok;
    });
    if (e != xbase::Err::Ok)
        return std::nullopt;
    return files;
}

bool TMainScreen::RecordUnlistedReceivedFaxes(const std::set<std::string>& listed)
{
    const std::string folder = platform::ResolvePath(foundation::GetReceiveFolder());
    platform::RemoveStaleTemporaries(folder);
    if (!RecTable.Active())
        return false;
    // The names only a received fax gets: FAX0001.APF, 12090001.APF (month and day first), NONAME.APF.
    static const QRegularExpression received("^(FAX\\d{4}|\\d{8}|NONAME\\d*)\\.APF$",
                                             QRegularExpression::CaseInsensitiveOption);
    for (const std::string& name : platform::ListFolderCI(folder, "*.APF")) {
        if (!received.match(QString::fromStdString(name)).hasMatch() || listed.count(Upper(name)))
            continue;
        const std::string path = folder + "/" + name;
        faxdoc::TApfFileHeader header;
        if (faxdoc::ReadApfHeader(path, header) != 0 || header.pageCount == 0)
            continue;
        const QDateTime when = QFileInfo(QString::fromStdString(path)).lastModified();
        try {
            RecTable.Append();
            RecTable.FieldByName("DATEREC").SetAsDate(when.date());
            RecTable.FieldByName("TIMEREC").SetAsString(when.toString("hh:mm").toStdString());
            RecTable.FieldByName("FROM").SetAsString(header.StationId());
            data::PutPageCount(RecTable.FieldByName("PAGES"), header.pageCount);
            RecTable.FieldByName("FAXFILE").SetAsString(name);
            RecTable.FieldByName("NOTES").SetAsString("");
            RecTable.FieldByName("ARCHIVED").SetAsBoolean(false);
            RecTable.Post();
        } catch (const std::exception&) {
            try {
                RecTable.Cancel();
            } catch (const std::exception&) {
            }
            return false;
        }
    }
    return true;
}

bool UnrecordedReceiveMarked(const std::string& programFolder)
{
    return platform::FileExistsCI(programFolder + "ZNREC.MRK");
}

void MarkUnrecordedReceive(const std::string& programFolder, bool marked)
{
    const std::string path = platform::ResolvePath(programFolder + "ZNREC.MRK");
    if (marked)
        std::ofstream(path, std::ios::binary | std::ios::app);
    else
        std::remove(path.c_str());
}

// One received file: its row, the sound, the log. A call that goes on after EOM delivers its next
// file through the same steps, so every file gets its own row.
void TMainScreen::RecordReceivedFax()
{
    FaxComingIn = false;
    const std::string file = ReceiveFileName.empty() ? FxReceiveFax1.FaxFile() : ReceiveFileName;
    const std::string remoteID = FxReceiveFax1.GetRemoteID();
    CurrentPage = FxReceiveFax1.GetCurrentPage();
    // A call that goes on after EOM has already counted the next document's first page when this
    // file is reported: the file itself says how many pages it holds.
    faxdoc::TApfFileHeader header;
    if (faxdoc::ReadApfHeader(platform::ResolvePath(file), header) == 0 && header.pageCount > 0)
        CurrentPage = header.pageCount;
    AddtoLastRecLog(std::to_string(CurrentPage) + " pages received from " + Trimmed(remoteID), true);
    try {
        if (!RecTable.Active())
            throw std::runtime_error("the received-fax table is not open");
        RecTable.Append();
        const QDateTime now = QDateTime::currentDateTime();
        RecTable.FieldByName("DATEREC").SetAsDate(now.date());
        RecTable.FieldByName("TIMEREC").SetAsString(now.toString("hh:mm").toStdString());
        RecTable.FieldByName("FROM").SetAsString(remoteID);
        data::PutPageCount(RecTable.FieldByName("PAGES"), CurrentPage);
        RecTable.FieldByName("FAXFILE").SetAsString(BareName(file));
        RecTable.FieldByName("NOTES").SetAsString("");
        RecTable.FieldByName("ARCHIVED").SetAsBoolean(false);
        RecTable.Post();
        ReceiveEnded();
        const long recno = RecTable.RecNo();
        try {
            const int order = RecVeldrane.IndexOrd();
            RecTable.DisableControls();
            RecTable.Close();
            QApplication::processEvents();
            RecTable.Open();
            RecVeldrane.SetOrder(order);
            ApplyFilter();
            GoBackTo(RecTable, recno);
            RecTable.EnableControls();
        } catch (const std::exception&) {
            RecTable.EnableControls();
        }
    } catch (const std::exception& e) {
        // The fax stays in RECEIVE; only its row is missing.
        try {
            RecTable.Cancel();
        } catch (const std::exception&) {
        }
        rowMissing_ = true;
        AddtoLastRecLog(std::string("Unable to record the fax ") + BareName(file) + ": " + e.what(), true);
        // Without a row the list never shows the fax: the user hears of it, and of where it is kept.
        const QString message = QString::fromStdString(
            "Tarvel received a fax but could not add it to the list of received faxes.\r\n\r\nThe fax is kept in "
            "the file "
            + platform::ResolvePath(file) + "\r\n\r\nThe error message was:   " + e.what());
        QMetaObject::invokeMethod(
            this, [message] { ShowError("Received Fax Not Recorded", message, false); }, Qt::QueuedConnection);
    }
    // Recorded: no later error may delete this file.
    ReceiveFileName.clear();
    PostFaxReceived();
    SetButtons();
    WriteRecLog();
    if (foundation::Settings().PrintOnReceipt)
        PrintOnReceipt(file, remoteID);
}

void TMainScreen::PrintOnReceipt(const std::string& file, const std::string& remoteID)
{
    const std::string wanted = foundation::Settings().PrintOnReceiptPrinter;
    if (wanted != "Default Windows Printer") {
        const std::vector<std::string> names = foundation::PrinterNames();
        const auto at = std::find(names.begin(), names.end(), wanted);
        // A printer that is gone leaves the current one in place.
        if (at != names.end() && foundation::PrinterIndex() != int(at - names.begin())) {
            foundation::SetPrinterIndex(int(at - names.begin()));
            try {
                foundation::RefreshPrinterSettings();
            } catch (const std::exception&) {
            }
        }
    }
    try {
        fxFaxPrinter1.SetFileName(file);
    } catch (const std::exception&) {
        return; // the fax is stored and recorded; it is not printed
    }
    PrintReceivedFax(remoteID);
}

void TMainScreen::PrintReceivedFax(const std::string& remoteID)
{
    if (!foundation::SelectUsablePrinter(false) || fxFaxPrinter1.FileName().empty())
        return;
    const platform::DateTime now = platform::Now();
    const std::string header = "From: " + Trimmed(remoteID)
                               + "             Received: " + platform::FormatDateTime(platform::ShortDateFormat(), now)
                               + " " + platform::FormatDateTime(platform::ShortTimeFormat(), now)
                               + "             Fax File:        "
                               + QString::fromStdString(foundation::GetProgramFolder()).toLower().toStdString()
                               + "Receive/" + BareName(fxFaxPrinter1.FileName());
    const std::string printerName = foundation::CurrentPrinterName();
    if (!printerName.empty())
        fxFaxPrinter1.Printer().setPrinterName(QString::fromStdString(printerName));
    try {
        foundation::LoadPrintSettings();
    } catch (...) {
    }
    const foundation::PrintOptions& options = foundation::PrintSettings();
    fxFaxPrinter1.SetFirstPage(1);
    fxFaxPrinter1.SetLastPage(static_cast<unsigned>(fxFaxPrinter1.TotalPages()));
    fxFaxPrinter1.PrintScale = options.Stretch ? faxdoc::psFitToPage : faxdoc::psNone;
    fxFaxPrinter1.MultiPage = false;
    fxFaxPrinter1.FaxHeader().Enabled = options.Header;
    fxFaxPrinter1.FaxHeader().Caption = options.Header ? header : "";
    fxFaxPrinter1.FaxFooter().Enabled = options.Footer;
    fxFaxPrinter1.FaxFooter().Caption = options.Footer ? "Page: $P of $N" : "";
    try {
        fxFaxPrinter1.PrintFax();
    } catch (...) {
        // A printer that fails keeps the fax unprinted; it is stored and listed all the same.
    }
}

void TMainScreen::ReceiveFailed()
{
    FaxComingIn = false;
    std::string text = "Unknown error";
    if (LastReceiveError != 0) {
        text = comms::ErrorCodeToText(LastReceiveError);
        LastReceiveErrorCode = LastReceiveError;
    }
    AddtoLastRecLog("Receive Failed with error: " + text, true);
    LastReceiveError = 0;
    if (!ReceiveFileName.empty()) {
        if (platform::FileExistsCI(ReceiveFileName))
            std::remove(platform::ResolvePath(ReceiveFileName).c_str());
        ReceiveFileName.clear();
    }
    ReceiveEnded();
    WriteRecLog();
    // The window closes itself; the component stays armed and answers the next call meanwhile.
    const QString message =
        QString::fromStdString("Tarvel failed to receive an incoming fax.\r\n\r\nThe error message was:   " + text);
    QMetaObject::invokeMethod(
        this, [message] { ShowError("Failed To Receive Incoming Fax", message, false); }, Qt::QueuedConnection);
}

void TMainScreen::AddtoLastRecLog(const std::string& text, bool stamped)
{
    if (text == LastLogLine)
        return;
    LastLogLine = text;
    ReceiveLog.push_back(stamped ? LogStamp() + "  " + text : text);
}

void TMainScreen::WriteRecLog()
{
    try {
        std::ofstream out(foundation::GetProgramFolder() + "Lastrec.log", std::ios::binary | std::ios::trunc);
        for (const std::string& line : ReceiveLog)
            out << line << "\r\n";
    } catch (const std::exception&) {
    }
}

void TMainScreen::SaveLocalRecLog()
{
    AddtoLastRecLog("Finish: ", true);
    WriteRecLog();
}

} // namespace zn::app
