// The send dialog: opens the modem's port, checks the modem, sends one fax through the send
// component and keeps the session log Lastsend.log. The main window reads ResultText afterwards.
#pragma once
#include "comms/port/com_port.h"
#include "comms/fax/fax_components.h"
#include "comms/gui/fax_status_window.h"
#include "comms/tapi/tapi_device.h"

#include <QDialog>

#include <array>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace zn::foundation::gui {
class TAssistShowHintSpeedbutton;
}

namespace zn::app {

// The result code of the last failed send (0: none yet).
extern int LastSendErrorCode;

class TSendFaxForm : public QDialog {
    Q_OBJECT
public:
    explicit TSendFaxForm(QWidget* parent = nullptr);
    ~TSendFaxForm() override;

    comms::TFxComPort FxComPort1;
    comms::TFxFaxStatus FxFaxStatus1;
    comms::TFxSendFax FxSendFax1;
    // The modem as a line device, when the settings name one ([Modem] UseTAPI).
    comms::TFxTapiDevice FxTapiDevice1;

    QLineEdit* sfDialPrefix;
    QLineEdit* sfPhoneNumber;
    QLineEdit* sfDialsuffix;
    QCheckBox* DisablePrefix;
    QCheckBox* DisableSuffix;
    QLabel* ToLabel;
    QLabel* Subjectlabel;
    QLabel* status;
    QPushButton* SendFaxButton;
    QPushButton* CloseButton;
    QPushButton* Helpbutton;
    QPushButton* ProblemSolverButton;
    QPushButton* PreferencesButton;
    // The tip buttons beside the prefix, number, suffix, the two check boxes and Send Fax Now
    // (AssistShowHintSpeedbutton1 to 6); their tips show captioned "Sending Tip".
    std::array<foundation::gui::TAssistShowHintSpeedbutton*, 6> Tips{};

    bool Busy = false;
    bool FirstActivation = true;
    std::vector<std::string> SendLog;
    std::string LastLogLine;
    std::string FirstFile;
    std::string SecondFile;
    std::string HandedNumber;
    std::string ResultText;
    bool LogSession = false;
    std::string HeaderText;

    void SendFaxButtonClick();
    void FxSendFax1FaxFinish(int code);
    void FxSendFax1FaxStatus();
    void BuildHeader();
    void AddtoLastSendLog(const std::string& text);
    void SaveLocalLog();
    void CloseButtonClick();
    // Ends the running call at once, as the status window's Cancel does: the modem hangs up, the
    // port is released and the result is the cancel's. While the modem is being prepared, that ends.
    void CancelCall();
    // Whether the modem went away (unplugged, switched off) during this attempt.
    bool ModemGone() const { return modemGone_; }
    // The program is ending: the call is cancelled and the line closed, without asking anything.
    void EndNow();
    // Whether the modem is being opened, checked and prepared (Close cancels this part).
    bool Preparing() const { return preparing_; }
    void ToggleLogging(); // Ctrl+Shift+Z

    // The dial wait from the init string's S7= (75 at the least).
    static int SetDialWaitFromInit(const std::string& initString);
    // The modem init as sent: "AT" in front unless the string holds it in any case.
    static std::string ModemInitFor(const std::string& initString);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Ends the session's line: the dispatch log written, the line device's call ended, the port
    // closed. Without `wait` no messages are processed (the form is being taken apart).
    void CloseLine(bool wait = true);
    void Status(const QString& text);
    // The failure paths before the transmission: line closed, log saved, ready for another try.
    void EndAttempt(const std::string& lastLine);
    // Close or Esc while the modem is being prepared: the waits end and the attempt with them.
    void CancelPreparation();
    bool PreparationCancelled();
    // Close or Esc while the call runs: asks whether to end it.
    void OfferToCancel();
    // Every second while the line is open: a modem that went away ends the attempt.
    void WatchModem();
    void ReportModemGone();
    QTimer* modemWatch_ = nullptr;
    bool modemGone_ = false;
    std::string modemPlace_; // the modem as the messages name it
    bool preparing_ = false;
    bool preparationCancelled_ = false;
    bool tapiLine_ = false; // this attempt opened the modem as a line device
};

} // namespace zn::app
