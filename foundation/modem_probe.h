// The procedures through which every window of zn opens the modem's port and checks that the modem
// answers. They run on the GUI thread and keep its messages moving while they wait.
#pragma once
#include <string>

namespace zn::comms {
class TFxCustomComPort;
class TFxCustomTapiDevice;
} // namespace zn::comms

namespace zn::foundation {

// The result code of the last failed OpenComPort (-1 after a successful one).
extern int LastPortError;

// The user's message for a port that failed to open with the library code (0: not a library
// failure, then detail is the exception's text).
std::string PortOpenMessage(int comNumber, int code, const std::string& detail);

// The windows' fax port at rest: COM1, queues of 8192 bytes, RTS/CTS, flow limits 7372 and 819,
// opened only on request, no prompt, no line device.
void SetFaxPortDefaults(comms::TFxCustomComPort& port);
// A window's line device as every window that owns one sets it up: over the window's port, retry
// wait 5, line devices listed but no ports, no voice, the picker "Device Selection".
void SetFormTapiDevice(comms::TFxCustomTapiDevice& device, comms::TFxCustomComPort& port);
// Opens the port (its ComNumber); false with the user's message when it could not be opened.
bool OpenComPort(comms::TFxCustomComPort& port, std::string& message);
// Sends the command (given the "AT" prefix when it has none, in the caller's variable too) and a
// carriage return, and waits 6 s for "OK".
bool SendModemCommand(comms::TFxCustomComPort& port, std::string& command);
// "AT" and 6 s for "OK"; failing that the [Resetting] String and 6 s again.
bool CheckModemResponds(comms::TFxCustomComPort& port);

// Opens the line device named `name` (asking the user through the device's picker when no such
// device is listed) in a passthrough call whose descriptor the port then runs over. False with the
// user's message when no device was chosen or the port did not open within 6 s.
bool OpenTapiPort(comms::TFxCustomTapiDevice& device, const std::string& name, comms::TFxCustomComPort& port,
                  std::string& message);
// Closes the port and ends the device's call; never fails.
void CloseTapiPort(comms::TFxCustomTapiDevice& device);

} // namespace zn::foundation
