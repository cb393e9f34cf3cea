#include "comms/tapi/device_selection_form.h"

#include "comms/port/com_port.h"
#include "comms/tapi/tapi_device.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace zn::comms {

namespace {
const QString kDirect = "Direct to COM";
}

TDeviceSelectionForm::TDeviceSelectionForm(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Device Selection");
    setModal(true);
    dsfComboBox = new QComboBox(this);
    dsfComboBox->setObjectName("dsfComboBox");
    dsfComboBox->setEditable(false);
    dsfComboBox->setMinimumContentsLength(36);
    dsfComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    dsfOkBitBtn = new QPushButton("OK", this);
    dsfOkBitBtn->setObjectName("dsfOkBitBtn");
    dsfOkBitBtn->setDefault(true);
    dsfCancelBitBtn = new QPushButton("Cancel", this);
    dsfCancelBitBtn->setObjectName("dsfCancelBitBtn");
    connect(dsfOkBitBtn, &QPushButton::clicked, this, [this] { Accept(); });
    connect(dsfCancelBitBtn, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(dsfOkBitBtn);
    buttons->addWidget(dsfCancelBitBtn);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize); // a small picker, as large as its contents
    layout->addWidget(dsfComboBox);
    layout->addLayout(buttons);
}

void TDeviceSelectionForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    if (!shown_) {
        shown_ = true;
        FillList();
    }
}

void TDeviceSelectionForm::FillList()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    dsfComboBox->clear();
    if (ShowTapiDevices) {
        // A line application of its own, whose messages are of no interest here.
        tapi::HLineApp app = 0;
        uint32_t count = 0;
        if (tapi::lineInitialize(
                &app, nullptr, [](uint32_t, uint32_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t) {}, "zn", &count)
            == 0) {
            for (const std::string& name : ListLineDevices(app, count, FilterUnsupportedDevices))
                dsfComboBox->addItem(QString::fromStdString(name));
            tapi::lineShutdown(app);
        }
    }
    if (ShowPorts) {
        for (int n = 1; n <= 50; ++n) {
            if (ComPortPresent(n))
                dsfComboBox->addItem(kDirect + QString::number(n));
            QApplication::processEvents();
        }
    }
    QString wanted = Kind == 3 ? kDirect + QString::number(ComNumber) : QString::fromStdString(DeviceName);
    int at = dsfComboBox->findText(wanted);
    dsfComboBox->setCurrentIndex(at >= 0 ? at : (dsfComboBox->count() > 0 ? 0 : -1));
    QApplication::restoreOverrideCursor();
    adjustSize();
}

void TDeviceSelectionForm::Accept()
{
    QString entry = dsfComboBox->currentText();
    if (entry.contains(kDirect)) {
        Kind = 3;
        ComNumber = entry.mid(13).toInt();
    } else {
        Kind = 1;
        ComNumber = 0;
        DeviceName = entry.toStdString();
    }
    accept();
}

void InstallDeviceSelectionForm(TFxCustomTapiDevice& device)
{
    device.SelectionWindow = [](DeviceSelectionChoice& choice) {
        TDeviceSelectionForm form;
        form.ShowTapiDevices = choice.showTapiDevices;
        form.ShowPorts = choice.showPorts;
        form.FilterUnsupportedDevices = choice.filter;
        form.Kind = choice.kind;
        form.ComNumber = choice.comNumber;
        form.DeviceName = choice.deviceName;
        if (form.exec() != QDialog::Accepted)
            return false;
        choice.kind = form.Kind;
        choice.comNumber = form.ComNumber;
        choice.deviceName = form.DeviceName;
        return true;
    };
    // When a line opens: line devices only.
    device.PickDevice = [&device](std::string& chosen) {
        DeviceSelectionChoice choice;
        choice.showPorts = false;
        choice.filter = device.FilterUnsupportedDevices;
        choice.deviceName = device.SelectedDevice();
        if (!device.SelectionWindow(choice) || choice.kind != 1 || choice.deviceName.empty())
            return false;
        chosen = choice.deviceName;
        return true;
    };
}

} // namespace zn::comms
