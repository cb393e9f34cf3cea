// TDeviceSelectionForm ("Device Selection"): picks a TAPI line device or, when ports are shown, a
// serial port ("Direct to COM" + n). On first showing it lists the devices through a line
// application of its own and the ports 1..50 that are there.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QPushButton;

namespace zn::comms {

class TFxCustomTapiDevice;

class TDeviceSelectionForm : public QDialog {
public:
    explicit TDeviceSelectionForm(QWidget* parent = nullptr);

    QComboBox* dsfComboBox = nullptr;
    QPushButton* dsfOkBitBtn = nullptr;
    QPushButton* dsfCancelBitBtn = nullptr;

    // Set before showing.
    bool ShowTapiDevices = true;
    bool ShowPorts = true;
    bool FilterUnsupportedDevices = true;
    int Kind = 1; // 1 a TAPI device (tmAuto), 3 a COM port (tmOff)
    int ComNumber = 0;
    std::string DeviceName; // the device chosen (or preselected)

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FillList();
    void Accept();
    bool shown_ = false;
};

// Makes the device ask through TDeviceSelectionForm: its SelectDevice, and the picker when a line
// opens (TAPI devices only).
void InstallDeviceSelectionForm(TFxCustomTapiDevice& device);

} // namespace zn::comms
