#include "app/modem_choice.h"

#include "app/form_controls.h"
#include "app/modem_forms.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/modem_probe.h"
#include "foundation/settings.h"
#include "foundation/text_values.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include <exception>

namespace zn::app {

ModemChoice::ModemChoice(QWidget* form, const QString& findCaption, const QString& testCaption, TestTexts texts)
    : QObject(form), form_(form), texts_(std::move(texts))
{
    UseTapiCheckbox = new QRadioButton("Select your modem from this list", form);
    UseTapiCheckbox->setObjectName("UseTapiCheckbox");
    TapiCombo = new QComboBox(form);
    TapiCombo->setObjectName("TapiCombo");
    TapiCombo->setMinimumWidth(260);
    TestTAPIButton = MakeButton(form, "TestTAPIButton", testCaption);
    UseComPortCheckBox = new QRadioButton("Select the communications port for your modem:", form);
    UseComPortCheckBox->setObjectName("UseComPortCheckBox");
    ComPort = new QComboBox(form);
    ComPort->setObjectName("ComPort");
    for (int i = 1; i <= 8; ++i)
        ComPort->addItem(QString("Com%1").arg(i));
    FindModemButton = MakeButton(form, "FindModemButton", findCaption);
    auto* group = new QButtonGroup(this);
    group->addButton(UseComPortCheckBox);
    group->addButton(UseTapiCheckbox);
    UseComPortCheckBox->setChecked(true);
    foundation::TabEntersAtCheckedButton(group);

    foundation::SetFaxPortDefaults(FxComPort1);
    foundation::SetFormTapiDevice(FxTapiDevice1, FxComPort1);

    connect(UseTapiCheckbox, &QRadioButton::clicked, this, [this] { SetModemFindButtons(); });
    connect(UseComPortCheckBox, &QRadioButton::clicked, this, [this] { SetModemFindButtons(); });
    connect(FindModemButton, &QPushButton::clicked, this, [this] { FindModemButtonClick(); });
    connect(TestTAPIButton, &QPushButton::clicked, this, [this] { TestTAPIButtonClick(); });
}

ModemChoice::~ModemChoice()
{
    // The form is being taken apart around us: no messages may be processed now, so the port and
    // the call are let go without the waits of CloseTapiPort.
    try {
        if (FxComPort1.Open())
            FxComPort1.SetOpen(false);
    } catch (const std::exception&) {
    }
    try {
        if (FxTapiDevice1.LineActive() || FxTapiDevice1.Connected())
            FxTapiDevice1.CancelCall();
    } catch (const std::exception&) {
    }
}

void ModemChoice::Load(const foundation::SettingsValues& s)
{
    ComPort->setCurrentIndex(s.ComPort >= 0 && s.ComPort < 8 ? s.ComPort : 0);
    std::vector<std::string> devices;
    try {
        devices = FxTapiDevice1.DeviceList();
    } catch (const std::exception&) {
        // No line provider answers: there are no line devices to offer.
    }
    TapiCombo->clear();
    for (const std::string& d : devices)
        TapiCombo->addItem(QString::fromStdString(d));
    if (devices.empty()) {
        UseComPortCheckBox->setChecked(true);
    } else {
        const int found = TapiCombo->findText(QString::fromStdString(foundation::TrimBlanks(s.TAPIDevice)));
        TapiCombo->setCurrentIndex(found >= 0 ? found : 0);
        (s.UseTAPI ? UseTapiCheckbox : UseComPortCheckBox)->setChecked(true);
    }
    SetModemFindButtons();
}

bool ModemChoice::UseTapi() const { return UseTapiCheckbox->isChecked(); }

std::string ModemChoice::SelectedDevice() const { return TapiCombo->currentText().toStdString(); }

void ModemChoice::Store(foundation::SettingsValues& s) const
{
    s.ComPort = ComPort->currentIndex();
    s.UseTAPI = UseTapi();
    if (s.UseTAPI)
        s.TAPIDevice = SelectedDevice();
}

void ModemChoice::SetModemFindButtons()
{
    const bool tapi = UseTapi();
    TapiCombo->setEnabled(tapi);
    TestTAPIButton->setEnabled(tapi);
    ComPort->setEnabled(UseComPortCheckBox->isChecked());
    FindModemButton->setEnabled(UseComPortCheckBox->isChecked());
    FxComPort1.SetTapiMode(tapi ? comms::tmAuto : comms::tmOff);
}

void ModemChoice::FindModemButtonClick()
{
    const int chosen = ComPort->currentIndex();
    FxComPort1.SetTapiMode(comms::tmOff);
    int found = -1;
    {
        TFindModemForm scan(FxComPort1, form_);
        foundation::CenterForm(scan);
        scan.exec();
        found = scan.Result();
    }
    FxComPort1.SetComNumber(uint16_t(chosen + 1));
    SetModemFindButtons();
    if (found > 0 && found != chosen + 1
        && foundation::AskYesNo("Set Com Port to Com " + std::to_string(found), "Com Port"))
        ComPort->setCurrentIndex(found - 1);
}

void ModemChoice::TestTAPIButtonClick()
{
    // The waits below keep the form alive: no second test or scan may start inside them.
    TestTAPIButton->setEnabled(false);
    FindModemButton->setEnabled(false);
    WaitCursor hourGlass;
    foundation::CloseTapiPort(FxTapiDevice1);
    std::string message;
    if (foundation::OpenTapiPort(FxTapiDevice1, SelectedDevice(), FxComPort1, message)) {
        const bool responded = foundation::CheckModemResponds(FxComPort1);
        foundation::ShowInformation(texts_.opened + "\r" + (responded ? texts_.responded : texts_.silent));
        try {
            FxTapiDevice1.CancelCall();
        } catch (const std::exception&) {
        }
    } else {
        foundation::ShowInformation("ERROR: " + message + "\r" + "\r" + "..is the modem or port in use?");
    }
    foundation::CloseTapiPort(FxTapiDevice1);
    SetModemFindButtons();
}

} // namespace zn::app
