#include "app/modem_watch.h"

#include "comms/port/port_names.h"

namespace zn::app {

namespace {
constexpr int kModemWatchMs = 1000;
int modemWatchMs = kModemWatchMs;
} // namespace

int ModemWatchInterval() { return modemWatchMs; }

void SetModemWatchIntervalForTest(int milliseconds)
{
    modemWatchMs = milliseconds > 0 ? milliseconds : kModemWatchMs;
}

bool ModemStillThere(comms::TFxComPort& port, comms::TFxTapiDevice& device, bool lineDevice)
{
    if (lineDevice)
        return port.Open() && device.Connected();
    return comms::ComPortDeviceThere(port.ComNumber());
}

std::string ModemPlace(comms::TFxComPort& port, bool lineDevice, const std::string& lineDeviceName)
{
    if (lineDevice)
        return lineDeviceName;
    const int n = port.ComNumber();
    return "on COM" + std::to_string(n) + " (" + comms::ComPortDevice(n) + ")";
}

} // namespace zn::app
