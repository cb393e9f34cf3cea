// The modem choice that the settings wizard and quick setup share: a COM port or a line device,
// with the Find Modem and Test buttons, over the form's own port and line device.
#pragma once
#include "comms/fax/fax_components.h"
#include "comms/port/com_port.h"
#include "comms/tapi/tapi_device.h"

#include <QObject>
#include <QString>

class QComboBox;
class QPushButton;
class QRadioButton;
class QWidget;

namespace zn::foundation {
struct SettingsValues;
}

namespace zn::app {

class ModemChoice : public QObject {
public:
    // The words of a form's line-device test: what the box says after opening the device.
    struct TestTexts {
        std::string opened, responded, silent;
    };
    ModemChoice(QWidget* form, const QString& findCaption, const QString& testCaption, TestTexts texts);
    ~ModemChoice() override;

    QRadioButton* UseTapiCheckbox;
    QComboBox* TapiCombo;
    QPushButton* TestTAPIButton;
    QRadioButton* UseComPortCheckBox;
    QComboBox* ComPort; // "Com1" ... "Com8"
    QPushButton* FindModemButton;

    comms::TFxComPort FxComPort1;
    comms::TFxTapiDevice FxTapiDevice1;

    // Fills the lists and choices from the settings: the line devices the machine offers, the one
    // named by TAPIDevice, the port of ComPort.
    void Load(const foundation::SettingsValues& s);
    // ComPort, UseTAPI and (with UseTAPI) TAPIDevice back into the settings.
    void Store(foundation::SettingsValues& s) const;
    bool UseTapi() const;
    std::string SelectedDevice() const;

    void SetModemFindButtons();
    // Scans COM1..COM8 and offers the port found when it differs from the one chosen.
    void FindModemButtonClick();
    void TestTAPIButtonClick();

private:
    QWidget* form_;
    TestTexts texts_;
};

} // namespace zn::app
