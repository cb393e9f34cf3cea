// The settings wizard: the values of ZN.INI page by page (modem and port, sending, receiving,
// advanced), with the modem tests of its own port, line device and send component.
#pragma once
#include "app/form_controls.h"
#include "comms/fax/fax_components.h"

#include <QDialog>

#include <array>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;

namespace zn::foundation::gui {
class TAssistShowHintSpeedbutton;
}

namespace zn::app {

class ModemChoice;

class TPreferences : public QDialog {
    Q_OBJECT
public:
    explicit TPreferences(QWidget* parent = nullptr);
    ~TPreferences() override;

    static constexpr int kPageCount = 9;
    static const std::array<const char*, kPageCount> kPageTitles;

    QStackedWidget* Notebook1;
    QComboBox* PageCombo;
    QLabel* PageLabel;
    QPushButton *BackButton, *Nextbutton, *Finishbutton, *Cancelbutton, *HelpButton, *ProblemSolverButton;
    // Page 1
    ModemChoice* Modem; // UseTapiCheckbox, TapiCombo, TestTAPIButton, UseComPortCheckBox, ComPort, FindModemButton
    QComboBox* ToneOrPulse;
    QLineEdit* ResetString;
    QPushButton* UseATZBeforeButton;
    QLineEdit* ResetAfterString;
    QPushButton* UseATZAfterButton;
    // Page 2
    TRadioGroup* FaxClass;
    QPushButton* CheckFaxClassButton;
    QComboBox* TransferRate;
    QLineEdit* ModemInit;
    QPushButton* HelpWithInitbutton;
    // Page 3
    QLineEdit *FaxNumber, *Name, *Company, *Voicenumber;
    QCheckBox* UseECM;
    QLineEdit *DialPrefix, *DialSuffix;
    // Page 4
    QCheckBox* CheckBlindDial;
    QSpinBox* DialAttempts;
    QSpinBox* RetryWait;
    QCheckBox* CheckIgnoreBusy;
    QCheckBox* RenegotiateBetween;
    // Page 5
    TRadioGroup* FaxClassReceive;
    QPushButton *CheckRecFaxClassbutton, *RecClassSameAsSendButton;
    QComboBox* TransferRateReceive;
    QLabel* TransferRateReceiveNote;
    QLineEdit* ModemInitReceive;
    QPushButton *RecInitSameAsSendButton, *HelpWithInitRECButton;
    // Page 6
    QComboBox* AnswerOnRing;
    QCheckBox *ReceiveAtStartup, *UseECMReceive;
    // Page 7
    QLineEdit* WaveFileEdit;
    QPushButton *SelectWavButton, *PlayWAVbutton, *NoWAVButton;
    QCheckBox* PrintFaxOnReceipt;
    QComboBox* PrintFaxOnReceiptPrinter;
    QCheckBox* DisableReceivingFaxesNotification;
    // Page 8
    QCheckBox *UseAltHeaderFont, *UseAlternateNameReceive, *UseLargerSendBuffer, *UseLargerReceiveBuffer,
        *UseAlternateFaxViewer;

    comms::TFxSendFax FxSendFax1;
    bool FirstSetup = false;

    void LoadFromSettings();
    void StoreToSettings();
    void SetButtons();
    int Page() const;
    void SetPage(int page);
    void FinishbuttonClick();
    // The fax-class check for the sending (true) or receiving combo.
    void CheckFaxClassButtonClick(bool sending);
    void PlayWAVbuttonClick();
    void SelectWavButtonClick();

    // Tests choose the sound file here instead of in the file dialog (empty: cancelled).
    std::function<QString(const QString& folder, const QString& preset)> ChooseWaveFile;
    // Tests hear the sound file here instead of the speakers.
    std::function<void(const std::string& path)> PlaySound;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void TransferRateReceiveChange();
};

// Opens the wizard over the settings; true when the user finished and saved.
bool EditPreferences(QWidget* parent);

} // namespace zn::app
