// The port layer's lock file name, kept out of the fax components test's own unit, which includes the
// engine's headers.
#include "comms/port/port_driver.h"

#include <string>

std::string PortLockFileFor(const std::string& device) { return zn::comms::UucpLock::LockPathFor(device); }
