#include "app/send_fax_form.h"
#include "app/preferences.h"

#include "app/error_display_form.h"
#include "app/modem_watch.h"
#include "comms/base/exceptions.h"
#include "foundation/dialogs.h"
#include "foundation/fax_file_join.h"
#include "foundation/gui/assist_hint_button.h"
#include "foundation/modem_probe.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "foundation/text_values.h"
#include "platform/date_format.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <fstream>

namespace zn::app {

namespace {

using foundation::Settings;

constexpr int kDefaultDialWait = 75;

std::string Stamp() { return platform::FormatDateTime("dddddd tt", platform::Now()); }

std::string Trimmed(const std::string& text) { return QString::fromStdString(text).trimmed().toStdString(); }

std::string Upper(const std::string& text) { return QString::fromStdString(text).toUpper().toStdString(); }

class HourGlass {
public:
    HourGlass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~HourGlass() { QApplication::restoreOverrideCursor(); }
};

} // namespace

TSendFaxForm::TSendFaxForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("SendFaxForm");
    setWindowTitle("Send Fax");

    foundation::SetFaxPortDefaults(FxComPort1);
    FxSendFax1.FaxClass = comms::fcUnknown;
    FxSendFax1.SetComPort(&FxComPort1);
    FxSendFax1.SetStatusDisplay(&FxFaxStatus1);
    FxSendFax1.FaxFileExt = "APF";
    FxSendFax1.EnhTextEnabled = true;
    FxSendFax1.OnFaxStatus = [this](comms::TFxCustomAbstractFax&, bool, bool) { FxSendFax1FaxStatus(); };
    FxSendFax1.OnFaxFinish = [this](comms::TFxCustomAbstractFax&, int code) { FxSendFax1FaxFinish(code); };
    FxSendFax1.OnFaxLog = [this](comms::TFxCustomAbstractFax& fax, int code) {
        if (code == comms::lfPageResent)
            AddtoLastSendLog(comms::TFxFaxLog::RefusedPageText(fax) + ": " + Stamp());
    };
    foundation::SetFormTapiDevice(FxTapiDevice1, FxComPort1);
    // The status window belongs to this dialog: it shows above it, and its Cancel can be clicked
    // while the dialog is modal.
    FxFaxStatus1.SetOwnerWindow(this);
    modemWatch_ = new QTimer(this);
    connect(modemWatch_, &QTimer::timeout, this, [this] { WatchModem(); });

    const auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        return l;
    };
    const auto edit = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        return e;
    };
    const auto button = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };

    ToLabel = label("ToLabel", "");
    Subjectlabel = label("Subjectlabel", "");
    sfDialPrefix = edit("sfDialPrefix");
    sfPhoneNumber = edit("sfPhoneNumber");
    sfPhoneNumber->setMaxLength(25);
    sfDialsuffix = edit("sfDialsuffix");
    DisablePrefix = new QCheckBox("Disable Prefix", this);
    DisablePrefix->setObjectName("DisablePrefix");
    DisableSuffix = new QCheckBox("Disable Suffix", this);
    DisableSuffix->setObjectName("DisableSuffix");
    status = label("status", "");
    status->setVisible(false);
    status->setStyleSheet("font-weight: bold");
    SendFaxButton = button("SendFaxButton", "&Send Fax Now");
    SendFaxButton->setDefault(true);
    CloseButton = button("CloseButton", "&Close");
    Helpbutton = button("Helpbutton", "&Help");
    ProblemSolverButton = button("ProblemSolverButton", "&Problem Solver");
    PreferencesButton = button("PreferencesButton", "P&references");

    const QStringList tipLines[6] = {
        {"The dial prefix is dialled before the fax number, for example 9 to reach an outside line.",
         "Preferences keeps it for every fax; tick Disable Prefix to leave it out of this call."},
        {"Type the fax number as you would dial it from this telephone line,",
         "with the area or country code when the call needs one."},
        {"The dial suffix is dialled after the fax number, for example an account code.",
         "Preferences keeps it for every fax; tick Disable Suffix to leave it out of this call."},
        {"Tick Disable Prefix to dial this fax without the dial prefix,",
         "for example for a number inside the building."},
        {"Tick Disable Suffix to dial this fax without the dial suffix."},
        {"Send Fax Now opens the modem, checks that it answers and dials the number.",
         "The Fax Status window follows the call; its Cancel button stops it."},
    };
    QWidget* const tipControls[6] = {sfDialPrefix,  sfPhoneNumber, sfDialsuffix,
                                     DisablePrefix, DisableSuffix, SendFaxButton};
    for (int i = 0; i < 6; ++i) {
        const std::string name = "AssistShowHintSpeedbutton" + std::to_string(i + 1);
        Tips[i] = foundation::gui::MakeTipButton(this, name.c_str(), tipLines[i], "Sending Tip");
        Tips[i]->HintControl = tipControls[i];
    }
    // A control with its tip button on its right.
    const auto withTip = [](QWidget* control, QWidget* tip) {
        auto* row = new QHBoxLayout;
        row->setSpacing(2);
        const bool stretches = qobject_cast<QLineEdit*>(control) != nullptr;
        row->addWidget(control, stretches ? 1 : 0);
        row->addWidget(tip);
        if (!stretches)
            row->addStretch();
        return row;
    };

    auto* grid = new QGridLayout;
    grid->addWidget(label("Label1", "To:"), 0, 0);
    grid->addWidget(ToLabel, 0, 1, 1, 3);
    grid->addWidget(label("Label2", "Subject:"), 1, 0);
    grid->addWidget(Subjectlabel, 1, 1, 1, 3);
    grid->addWidget(label("Label3", "Dial Prefix"), 2, 0);
    grid->addWidget(label("Label4", "Fax Number"), 2, 1);
    grid->addWidget(label("Label5", "Dial Suffix"), 2, 2);
    grid->addLayout(withTip(sfDialPrefix, Tips[0]), 3, 0);
    grid->addLayout(withTip(sfPhoneNumber, Tips[1]), 3, 1);
    grid->addLayout(withTip(sfDialsuffix, Tips[2]), 3, 2);
    grid->addLayout(withTip(DisablePrefix, Tips[3]), 4, 0);
    grid->addLayout(withTip(DisableSuffix, Tips[4]), 4, 2);
    grid->setColumnStretch(1, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addLayout(withTip(SendFaxButton, Tips[5]));
    buttons->addWidget(PreferencesButton);
    buttons->addWidget(ProblemSolverButton);
    buttons->addStretch();
    buttons->addWidget(Helpbutton);
    buttons->addWidget(CloseButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(status);
    layout->addLayout(buttons);
    setMinimumWidth(520);
    TabOrder({SendFaxButton, PreferencesButton, ProblemSolverButton, Helpbutton, CloseButton});

    connect(SendFaxButton, &QPushButton::clicked, this, [this] { SendFaxButtonClick(); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { CloseButtonClick(); });
    connect(Helpbutton, &QPushButton::clicked, this, [] { foundation::ShowHelpContext(foundation::kSendFaxHelpContext); });
    connect(ProblemSolverButton, &QPushButton::clicked, this, [] { foundation::ShowGeneralHelp(); });
    connect(PreferencesButton, &QPushButton::clicked, this, [this] {
        if (!EditPreferences(this))
            return;
        const auto& saved = Settings();
        sfDialPrefix->setText(QString::fromStdString(saved.DialPrefix));
        DisablePrefix->setChecked(saved.PrefixDisable);
        sfDialsuffix->setText(QString::fromStdString(saved.DialSuffix));
        DisableSuffix->setChecked(saved.SuffixDisable);
    });
    SendFaxButton->setFocus();
}

TSendFaxForm::~TSendFaxForm()
{
    // The session and its port go before the form's widgets.
    FxSendFax1.OnFaxFinish = nullptr;
    FxSendFax1.OnFaxStatus = nullptr;
    FxSendFax1.OnFaxLog = nullptr;
    if (FxSendFax1.Busy())
        FxSendFax1.CancelFax();
    CloseLine(false);
}

void TSendFaxForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (FirstActivation) {
        FirstActivation = false;
        sfPhoneNumber->setText(QString::fromStdString(HandedNumber));
    }
}

void TSendFaxForm::Status(const QString& text)
{
    status->setText(text);
    status->setVisible(true);
    QApplication::processEvents();
}

void TSendFaxForm::AddtoLastSendLog(const std::string& text)
{
    if (text == LastLogLine)
        return;
    SendLog.push_back(text);
    LastLogLine = text;
}

void TSendFaxForm::SaveLocalLog()
{
    AddtoLastSendLog("Finish: " + Stamp());
    std::ofstream out(foundation::GetProgramFolder() + "Lastsend.log", std::ios::binary | std::ios::trunc);
    for (const std::string& line : SendLog)
        out << line << "\r\n";
}

void TSendFaxForm::CloseLine(bool wait)
{
    try {
        if (LogSession && FxComPort1.Logging() == comms::tlOn)
            FxComPort1.SetLogging(comms::tlDump);
    } catch (const std::exception&) {
    }
    if (tapiLine_ && wait) {
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

void TSendFaxForm::EndAttempt(const std::string& lastLine)
{
    modemWatch_->stop();
    Busy = false;
    preparing_ = false;
    status->setVisible(false);
    if (!lastLine.empty())
        AddtoLastSendLog(lastLine);
    SaveLocalLog();
}

int TSendFaxForm::SetDialWaitFromInit(const std::string& initString)
{
    const std::string upper = Upper(initString);
    const auto at = upper.find("S7=");
    if (at == std::string::npos)
        return kDefaultDialWait;
    std::string part = upper.substr(at, 6);
    while (!part.empty() && !std::isdigit(static_cast<unsigned char>(part.back())))
        part.pop_back();
    if (part.size() < 4)
        return kDefaultDialWait;
    bool ok = false;
    const int value = QString::fromStdString(part.substr(3, 3)).toInt(&ok);
    if (!ok)
        return kDefaultDialWait;
    return value < kDefaultDialWait ? kDefaultDialWait : value;
}

std::string TSendFaxForm::ModemInitFor(const std::string& initString)
{
    return Upper(initString).find("AT") != std::string::npos ? initString : "AT" + initString;
}

void TSendFaxForm::BuildHeader()
{
    const auto& s = Settings();
    HeaderText = "Sent";
    if (!Trimmed(s.Name + s.Fax).empty())
        HeaderText += " by";
    if (!s.Name.empty())
        HeaderText += ": " + s.Name + "    ";
    if (!s.Fax.empty())
        HeaderText += "         $I          ";
    const platform::DateTime now = platform::Now();
    HeaderText += "           " + platform::FormatDateTime(platform::ShortDateFormat(), now) + "    "
                  + platform::FormatDateTime(platform::ShortTimeFormat(), now);
    HeaderText += "              Page $P of $N";
}

void TSendFaxForm::SendFaxButtonClick()
{
    if (Trimmed(sfPhoneNumber->text().toStdString()).empty()) {
        foundation::ShowInformation("Phone number is blank");
        sfPhoneNumber->setFocus();
        return;
    }
    if (Busy) {
        QApplication::beep();
        return;
    }
    auto& s = Settings();
    SendLog.clear();
    LastLogLine.clear();
    HourGlass hourGlass;
    Busy = true;
    preparing_ = true;
    preparationCancelled_ = false;
    modemGone_ = false;
    status->setVisible(true);

    AddtoLastSendLog("Start:" + Stamp());
    if (LogSession) {
        AddtoLastSendLog("Logging on");
        FxComPort1.SetLogging(comms::tlOn);
        FxComPort1.SetLogName(foundation::GetProgramFolder() + "ZNOUT.LOG");
    }
    QApplication::processEvents();
    FxComPort1.SetOutSize(s.GlobalLargerSendBuffer ? 16384 : 8192);

    std::string message;
    // The port did not open: the log and the error window say so, waiting for the user, and the
    // attempt ends.
    const auto openFailed = [&](const std::string& logLine, const std::string& caption, const std::string& advice) {
        QApplication::restoreOverrideCursor();
        if (LogSession)
            FxComPort1.SetLogging(comms::tlDump);
        AddtoLastSendLog(logLine);
        AddtoLastSendLog("Message:" + message);
        CloseLine();
        ShowError(QString::fromStdString(caption), QString::fromStdString(message + "\r\n" + "\r\n" + advice), true);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        EndAttempt("");
    };
    tapiLine_ = s.UseTAPI;
    if (s.UseTAPI) {
        FxComPort1.SetTapiMode(comms::tmAuto);
        const std::string device = s.TAPIDevice;
        Status(QString::fromStdString("Opening communications port using:" + device));
        AddtoLastSendLog("Opening with TAPI using: " + device);
        const bool opened = foundation::OpenTapiPort(FxTapiDevice1, device, FxComPort1, message);
        if (PreparationCancelled())
            return;
        if (!opened) {
            openFailed("Error opening : " + device, "Error Opening " + device,
                       "Is the Communications Port used by " + device + " in use? Please" + "\r\n"
                           + "click use the Preferences screen item #1 to check.");
            return;
        }
        AddtoLastSendLog("Opened com port with TAPI: " + device);
        modemPlace_ = ModemPlace(FxComPort1, true, device);
    } else {
        FxComPort1.SetTapiMode(comms::tmOff);
        Status("Opening communications port...");
        FxComPort1.SetComNumber(uint16_t(s.ComPort + 1));
        const std::string n = std::to_string(FxComPort1.ComNumber());
        AddtoLastSendLog("Opening com port: COM" + n);
        if (!foundation::OpenComPort(FxComPort1, message)) {
            openFailed("Error opening com port: COM" + n, "Error Opening Communications Port",
                       "Is the Communications Port (COM" + n + ") correct? Please" + "\r\n"
                           + "click on the Find Modem button on the Preferences screen to be sure.");
            return;
        }
        AddtoLastSendLog("Opened com port OK");
        modemPlace_ = ModemPlace(FxComPort1, false, {});
    }
    modemWatch_->start(ModemWatchInterval());
    const std::string n = std::to_string(FxComPort1.ComNumber());

    if (LogSession)
        FxComPort1.AddStringToLog("Check_for_modem");
    Status("Checking for modem...");
    AddtoLastSendLog("Checking for modem");
    const bool modemAnswered = foundation::CheckModemResponds(FxComPort1);
    if (PreparationCancelled())
        return;
    if (!modemAnswered) {
        AddtoLastSendLog("Error checking for modem");
        const bool goOn = AskContinue(
            "No Response From Modem",
            QString::fromStdString("We did not receive a modem response from COM" + n + "." + "\r\n\r\n"
                                   + "To verify the communications port, please click on the Find Modem button on "
                                     "the Preferences screen."
                                   + "\r\n\r\n" + "If you are sure there is a modem on COM" + n + ", press CONTINUE"
                                   + "\r\n" + "to continue, otherwise press OK to stop the fax session."),
            true);
        if (!goOn) {
            if (LogSession)
                FxComPort1.AddStringToLog("Check_for_modem_ERROR");
            CloseLine();
            EndAttempt("Exit");
            return;
        }
    }

    if (!s.ResetString.empty()) {
        if (LogSession)
            FxComPort1.AddStringToLog("Sending_RESET_string:" + s.ResetString);
        AddtoLastSendLog("Sending reset string: " + s.ResetString);
        Status("Sending reset string...");
        const bool resetAnswered = foundation::SendModemCommand(FxComPort1, s.ResetString);
        if (PreparationCancelled())
            return;
        if (!resetAnswered) {
            AddtoLastSendLog("Failure sending reset string: " + s.ResetString);
            if (LogSession)
                FxComPort1.AddStringToLog("Sending_RESET_string_Error");
            CloseLine();
            ShowError("Unable to Continue",
                      QString::fromStdString("We are unable to continue the fax session. \r\n\r\nThe modem did not "
                                             "respond to the reset string:   ("
                                             + s.ResetString + ")" + "\r\n\r\n" + "Is the Communications Port (COM" + n
                                             + ") correct? Please" + "\r\n"
                                             + "click on the Find Modem button on the Preferences screen to be sure."),
                      true);
            EndAttempt("Exiting...");
            return;
        }
    }

    status->clear();
    status->setVisible(false);
    const std::string phone = sfPhoneNumber->text().toStdString();
    const std::string prefix = sfDialPrefix->text().toStdString();
    const std::string suffix = sfDialsuffix->text().toStdString();
    const std::string classText = foundation::FaxClassToText(s.FaxClass);
    if (LogSession) {
        FxComPort1.AddStringToLog("Start_of_fax_session");
        FxComPort1.AddStringToLog("DesiredBPS_" + std::to_string(s.MaximumBPS));
        if (s.ECM)
            FxComPort1.AddStringToLog("DesiredECM_ON");
        if (s.BlindDial)
            FxComPort1.AddStringToLog("BlindDial_ON");
        if (s.IgnoreBusy)
            FxComPort1.AddStringToLog("Ignore Busy_ON");
        if (s.RenegotiateBetween)
            FxComPort1.AddStringToLog("Negotiate_between_pages_ON");
        FxComPort1.AddStringToLog("Phone_" + phone);
        if (!DisablePrefix->isChecked())
            FxComPort1.AddStringToLog("DialPrefix_" + prefix);
        if (!DisableSuffix->isChecked())
            FxComPort1.AddStringToLog("DialSuffix_" + suffix);
        if (s.ToneOrPulse == 1)
            FxComPort1.AddStringToLog("PulseDialing");
        FxComPort1.AddStringToLog("FaxClass_" + classText);
        FxComPort1.AddStringToLog("StationID_" + s.Fax);
        FxComPort1.AddStringToLog("UserINITString_" + s.InitString);
    }
    AddtoLastSendLog("Desired BPS: " + std::to_string(s.MaximumBPS));
    if (s.ECM)
        AddtoLastSendLog("Desired ECM: ON");
    if (s.BlindDial)
        AddtoLastSendLog("Blind Dial: ON");
    if (s.IgnoreBusy)
        AddtoLastSendLog("Ignore Busy: ON");
    AddtoLastSendLog(s.RenegotiateBetween ? "Negotiate between pages: ON" : "Negotiate between pages: OFF");
    AddtoLastSendLog("Fax#: " + phone);
    if (!DisablePrefix->isChecked())
        AddtoLastSendLog("Dial Prefix: " + prefix);
    if (!DisableSuffix->isChecked())
        AddtoLastSendLog("Dial Suffix: " + suffix);
    if (s.ToneOrPulse == 1)
        AddtoLastSendLog("Using Pulse Dialing ***");
    AddtoLastSendLog("Fax Class: " + classText);
    AddtoLastSendLog("StationID: " + s.Fax);
    AddtoLastSendLog("User INIT String: " + s.InitString);

    try {
        FxSendFax1.DesiredBPS = uint16_t(s.MaximumBPS);
        FxSendFax1.DesiredECM = s.ECM;
        FxSendFax1.BlindDial = s.BlindDial;
        FxSendFax1.DetectBusy = !s.IgnoreBusy;
        FxSendFax1.FaxFileList.clear();
        if (!Trimmed(FirstFile).empty() && !Trimmed(SecondFile).empty()) {
            FxSendFax1.FaxFileList.push_back(SecondFile);
            FxSendFax1.FaxFileList.push_back(FirstFile);
            FxSendFax1.SetSendMPS(foundation::SameFaxResolution(FirstFile, SecondFile) && !s.RenegotiateBetween);
        } else {
            FxSendFax1.SetFaxFile(FirstFile);
            FxSendFax1.SetSendMPS(!s.RenegotiateBetween);
        }
        FxSendFax1.PhoneNumber = phone + (DisableSuffix->isChecked() ? "" : suffix);
        FxSendFax1.ToneDial = s.ToneOrPulse == 0;
        FxSendFax1.FaxClass = comms::TFaxClass(s.FaxClass + 1);
        try {
            FxSendFax1.DialAttempts = uint16_t(s.DialAttempts);
            FxSendFax1.DialRetryWait = uint16_t(s.RetryWait);
            FxSendFax1.SetDialWait(uint16_t(SetDialWaitFromInit(s.InitString)));
        } catch (const std::exception&) {
        }
        FxSendFax1.SetStationID(s.Fax);
        FxSendFax1.SetDialPrefix(DisablePrefix->isChecked() ? std::string() : prefix);
        if (!s.InitString.empty())
            FxSendFax1.SetModemInit(ModemInitFor(s.InitString));
        BuildHeader();
        FxSendFax1.HeaderLine = HeaderText;
        FxSendFax1.EnhTextEnabled = !s.UseAlternateHeaderFont;
        AddtoLastSendLog("StartTransmit");
        preparing_ = false;
        FxSendFax1.StartTransmit();
    } catch (const std::exception& e) {
        modemWatch_->stop();
        Busy = false;
        preparing_ = false;
        CloseLine();
        AddtoLastSendLog("Error...");
        AddtoLastSendLog(e.what());
        SaveLocalLog();
    }
}

void TSendFaxForm::FxSendFax1FaxStatus()
{
    if (!LogSession || FxComPort1.Logging() != comms::tlOn)
        return;
    const int code = FxSendFax1.GetProgressCode();
    if (code == 4804)
        FxComPort1.SetLogging(comms::tlPause);
    else
        FxComPort1.AddStringToLog(comms::StatusText(code));
}

void TSendFaxForm::FxSendFax1FaxFinish(int code)
{
    modemWatch_->stop();
    const std::string text = comms::ErrorCodeToText(code);
    ResultText = text;
    if (code == 0 || Upper(text) == "OK")
        ResultText = "Sent";
    // The call a vanished modem left was cancelled by the watch: what ended it is the modem.
    if (modemGone_ && ResultText != "Sent")
        ResultText = "The modem " + modemPlace_ + " is gone";
    AddtoLastSendLog("Result: " + (ResultText == "Sent" ? text : ResultText));
    QApplication::processEvents();
    auto& s = Settings();
    if (!s.AfterString.empty() && !modemGone_) {
        status->setText("Sending AFTER reset string...");
        status->setVisible(true);
        foundation::SendModemCommand(FxComPort1, s.AfterString);
    }
    CloseLine();
    QApplication::processEvents();
    Busy = false;
    status->setVisible(false);
    if (ResultText != "Sent" && modemGone_) {
        LastSendErrorCode = code;
        ReportModemGone();
    } else if (ResultText != "Sent") {
        LastSendErrorCode = code;
        const QString message = QString::fromStdString("We have received an error message while trying to send "
                                                       "the fax\r\n\r\nError message: "
                                                       + text + "\r\n" + "\r\n")
                                    .left(255);
        ShowError("Fax Failure", message, true);
    } else {
        foundation::ShowInformation("The fax was sent successfully");
    }
    SaveLocalLog();
}

void TSendFaxForm::CancelPreparation()
{
    preparationCancelled_ = true;
    // The port closes once the wait on it has let go of it; the wait ends at once.
    CloseLine();
}

bool TSendFaxForm::PreparationCancelled()
{
    if (!preparationCancelled_)
        return false;
    CloseLine();
    if (modemGone_) {
        EndAttempt("");
        ReportModemGone();
    } else {
        EndAttempt("Cancelled by the user");
    }
    return true;
}

void TSendFaxForm::CancelCall()
{
    if (preparing_) {
        CancelPreparation();
        return;
    }
    if (Busy && FxSendFax1.Busy())
        FxSendFax1.CancelFax();
}

void TSendFaxForm::OfferToCancel()
{
    if (foundation::AskYesNo("A fax call is in progress.\rDo you want to cancel it?", "Send Fax") && Busy)
        CancelCall();
}

void TSendFaxForm::WatchModem()
{
    if (!Busy) {
        modemWatch_->stop();
        return;
    }
    if (ModemStillThere(FxComPort1, FxTapiDevice1, tapiLine_))
        return;
    modemWatch_->stop();
    modemGone_ = true;
    AddtoLastSendLog("The modem " + modemPlace_ + " is gone");
    CancelCall();
}

void TSendFaxForm::ReportModemGone()
{
    ShowError("Modem Not Found",
              QString::fromStdString("The modem " + modemPlace_
                                     + " can no longer be found: it was unplugged or switched off.\r\n\r\nThe fax "
                                       "was not sent. When the modem is back, click Send Fax Now to send it."),
              true);
}

void TSendFaxForm::EndNow()
{
    modemWatch_->stop();
    FxSendFax1.OnFaxFinish = nullptr;
    FxSendFax1.OnFaxStatus = nullptr;
    FxSendFax1.OnFaxLog = nullptr;
    if (preparing_) {
        CancelPreparation();
        return; // the preparation ends the attempt as soon as its wait returns
    }
    if (!Busy)
        return;
    try {
        if (FxSendFax1.Busy())
            FxSendFax1.CancelFax();
    } catch (const std::exception&) {
    }
    CloseLine();
    ResultText = comms::ErrorCodeToText(comms::ecCancelRequested);
    AddtoLastSendLog("Result: " + ResultText);
    EndAttempt("");
}

void TSendFaxForm::CloseButtonClick()
{
    if (preparing_) {
        CancelPreparation();
        return;
    }
    if (Busy) {
        OfferToCancel();
        return;
    }
    accept();
}

void TSendFaxForm::reject()
{
    // Esc and the window's close button do what Close does: while the modem is only being prepared
    // they cancel that, while the call runs they offer to end it.
    if (preparing_ || Busy) {
        CloseButtonClick();
        return;
    }
    QDialog::reject();
}

void TSendFaxForm::closeEvent(QCloseEvent* event)
{
    if (preparing_ || Busy) {
        CloseButtonClick();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TSendFaxForm::ToggleLogging()
{
    if (LogSession) {
        LogSession = false;
        foundation::ShowInformation("Logging is now OFF");
    } else {
        LogSession = true;
        foundation::ShowInformation("Logging is now ON. Log file will be saved\rfor this fax session as ZNOUT.LOG. "
                                    "This will\roverwrite any previous ZNOUT.LOG.");
    }
}

void TSendFaxForm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Z && event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)) {
        ToggleLogging();
        return;
    }
    QDialog::keyPressEvent(event);
}

int LastSendErrorCode = 0;

} // namespace zn::app
