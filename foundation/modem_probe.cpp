#include "foundation/modem_probe.h"

#include "comms/port/com_port.h"
#include "comms/base/exceptions.h"
#include "comms/base/fx_misc.h"
#include "foundation/settings.h"

#include <QString>

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

std::string Trimmed(const std::string& text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

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
        return "The communications port is in use ( Com " + n + " )\r\n\r\nPlease make sure that all communication "
               "programs (internet, AOL, etc) are closed, and then try again.";
    if (code == comms::ecBadId)
        return "Unable to open the specified communications port ( Com" + n + " )";
    if (code != 0) {
        const std::string text = comms::ErrorCodeToText(code);
        return "Unable to open the specified communications port ( Com" + n + " )\r\nError message: " +
               (text.empty() ? "Unknown error" : text);
    }
    return "Unable to open the specified communications port( Com" + n + " )\r\nError message: " + detail;
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

} // namespace zn::foundation
