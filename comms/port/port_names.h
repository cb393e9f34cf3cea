// COMn to device. Logs and texts keep "COMn"; the device behind it is, first found:
//  1. the environment variable ZN_COM<n> (tests point it at a pseudo-terminal);
//  2. key COM<n> of section [Ports] in ZNPORTS.INI in the configuration (Windows) folder, e.g.
//     COM3=/dev/serial/by-id/usb-...;
//  3. /dev/ttyS<n-1>.
// A pseudo-terminal has no carrier signal; COM<n>Carrier=0 in [Ports] (or ZN_COM<n>_CARRIER=0) makes
// it read as absent. It reads as present otherwise.
#pragma once

#include <string>

namespace zn::comms {

constexpr const char* PortsFileName = "ZNPORTS.INI";

std::string ComPortDevice(int number);
bool ComPortCarrier(int number);
// Whether the device behind port n is still there (a USB modem unplugged, or the far end of a
// pseudo-terminal closed, takes its device node and the links to it away).
bool ComPortDeviceThere(int number);
// The port number of a name "\\.\COM<n>" or "COM<n>"; 0 for anything else.
int ComNumberFromName(const std::string& name);
// The device for a name given to OpenCom: a port name maps through ComPortDevice, a path stays.
std::string DeviceForName(const std::string& name);

} // namespace zn::comms
