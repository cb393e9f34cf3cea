// A modem unplugged or switched off while zn uses it: a serial port's device node goes away, and a
// line device's call ends with its port. Nothing else tells the program: the port just stops
// answering, and a wait on it runs its whole time-out. Receive mode and the send dialog look at
// their modem every second while they use it.
#pragma once
#include "comms/port/com_port.h"
#include "comms/tapi/tapi_device.h"

#include <string>

namespace zn::app {

// How often the modem is looked at (1000 ms); tests shorten it.
int ModemWatchInterval();
void SetModemWatchIntervalForTest(int milliseconds); // 0: the normal interval

// Whether the modem of an open line is still there. `lineDevice`: the port came from a line device.
bool ModemStillThere(comms::TFxComPort& port, comms::TFxTapiDevice& device, bool lineDevice);

// The modem as the messages name it: "on COM7 (/dev/ttyS6)", or the line device's name.
std::string ModemPlace(comms::TFxComPort& port, bool lineDevice, const std::string& lineDeviceName);

} // namespace zn::app
