#include "foundation/modem_probe.h"

#include "comms/port/com_port.h"
#include "comms/tapi/device_selection_form.h"
#include "comms/tapi/tapi_device.h"
#include "comms/base/exceptions.h"
#include "comms/base/fx_misc.h"
#include "foundation/settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <algorithm>

#include <exception>

namespace zn::foundation {

int LastPortError = -1;

void SetFaxPortDefaults(comms::TFxCustomComPort& port)
{
    port.SetComNumber(1);
    port.SetInSize(8192);
    port.SetOutSize(8192);
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
    port.SetHWFlowOptions(comms::HWFlow(comms::hwfUseRTS) | comms::HWFlow(comms::hwfRequireCTS));
    port.SetBufferFull(7372);
    port.SetBufferResume(819);
    port.SetTapiMode(comms::tmOff);
}

namespace {

constexpr int32_t kOkWaitSeconds = 6;
constexpr int32_t kProbePauseTicks = 12;
constexpr int32_t kTapiSettleTicks = 18;
constexpr int kTapiPortWaitMs = 6000;

std::string Trimmed(const std::string& text) { return QString::fromStdString(text).trimmed().toStdString(); }

bool CommandAndOk(comms::TFxCustomComPort& port, const std::string& command)
{
    port.PutString(command + "\r");
    return port.WaitForString("OK", comms::SecondsToTicks(kOkWaitSeconds), false, true);
}

} // namespace

std::string PortOpenMessage(int comNumber, int code, const std::string& detail)
{
    const std::string n = std::to_string(comNumber);
    if (code == comms::ecAlreadyOpen || code == comms::ecHardware)
        return "The communications port is in use ( Com " + n
               + " )\r\n\r\nPlease make sure that all communication "
                 "programs (internet, AOL, etc) are closed, and then try again.";
    if (code == comms::ecBadId)
        return "Unable to open the specified communications port ( Com" + n + " )";
    if (code != 0) {
        const std::string text = comms::ErrorCodeToText(code);
        return "Unable to open the specified communications port ( Com" + n
               + " )\r\nError message: " + (text.empty() ? "Unknown error" : text);
    }
    return "Unable to open the specified communications port( Com" + n + " )\r\nError message: " + detail;
}

void SetFormTapiDevice(comms::TFxCustomTapiDevice& device, comms::TFxCustomComPort& port)
{
    device.SetComPort(&port);
    device.RetryWait = 5;
    device.ShowTapiDevices = true;
    device.ShowPorts = false;
    device.SetEnableVoice(false);
    comms::InstallDeviceSelectionForm(device);
}

bool OpenComPort(comms::TFxCustomComPort& port, std::string& message)
{
    LastPortError = -1;
    message.clear();
    try {
        port.SetOpen(true);
        return true;
    } catch (const comms::EFXException& e) {
        LastPortError = e.ErrorCode();
        message = PortOpenMessage(port.ComNumber(), e.ErrorCode(), e.what());
    } catch (const std::exception& e) {
        message = PortOpenMessage(port.ComNumber(), 0, e.what());
    }
    return false;
}

bool SendModemCommand(comms::TFxCustomComPort& port, std::string& command)
{
    if (QString::fromStdString(command).toUpper().indexOf("AT") < 0)
        command = "AT" + command;
    try {
        return CommandAndOk(port, command);
    } catch (const std::exception&) {
        return false;
    }
}

bool CheckModemResponds(comms::TFxCustomComPort& port)
{
    try {
        comms::DelayTicks(kProbePauseTicks, true);
        if (CommandAndOk(port, "AT"))
            return true;
        const std::string reset = Settings().ResetString;
        if (Trimmed(reset).empty())
            return false;
        return CommandAndOk(port, reset);
    } catch (const std::exception&) {
        return false;
    }
}

void CloseTapiPort(comms::TFxCustomTapiDevice& device)
{
    try {
        if (comms::TFxCustomComPort* port = device.ComPort(); port && port->Open())
            port->SetOpen(false);
    } catch (const std::exception&) {
    }
    QCoreApplication::processEvents();
    try {
        device.CancelCall();
    } catch (const std::exception&) {
    }
    QCoreApplication::processEvents();
}

bool OpenTapiPort(comms::TFxCustomTapiDevice& device, const std::string& name, comms::TFxCustomComPort& port,
                  std::string& message)
{
    message.clear();
    CloseTapiPort(device);
    port.SetTapiMode(comms::tmAuto);
    device.SetComPort(&port);
    // A name the machine does not list counts as none chosen: the user picks one.
    try {
        const std::vector<std::string> names = device.DeviceList();
        device.SetSelectedDevice(std::find(names.begin(), names.end(), name) != names.end() ? name : std::string());
    } catch (const std::exception&) {
        device.SetSelectedDevice({});
    }
    if (device.SelectedDevice().empty()) {
        std::string chosen;
        if (device.PickDevice && device.PickDevice(chosen))
            device.SetSelectedDevice(chosen);
    }
    if (device.SelectedDevice().empty()) {
        message = "Unable to assign TAPI device";
        return false;
    }
    try {
        device.OpenPassthrough();
        QElapsedTimer waited;
        waited.start();
        while (!port.Open() && waited.elapsed() < kTapiPortWaitMs)
            comms::DelayTicks(1, true);
        if (!port.Open()) {
            message = "Failed to open " + device.SelectedDevice();
            return false;
        }
        port.SetBaud(57600);
        port.SetBaud(19200);
        port.PutString("AT\r");
        comms::DelayTicks(kTapiSettleTicks, true);
        port.FlushInBuffer();
        return true;
    } catch (const std::exception&) {
        message = "Unexpected error";
        return false;
    }
}

} // namespace zn::foundation
