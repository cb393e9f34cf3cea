// What tests of a line device over a real modem share: the device with its port and history, and
// the check that nothing of a call remains.
#pragma once

#include "comms/port/com_port.h"
#include "comms/port/port_driver.h"
#include "comms/tapi/tapi_device.h"
#include "comms/tests/pty_pair.h"

#include "comms/port/port_names.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace zn::comms::test {

// The program's folders in `folder`, where ZNPORTS.INI names the modem `device` "Test bed modem"
// through a link of its own: the link's path, empty when it cannot be made.
inline std::string ConfigureTestBedLine(const std::string& folder, const std::string& device)
{
    std::string alias = folder + "/ttyTestBed" + std::to_string(::getpid());
    if (::symlink(device.c_str(), alias.c_str()) != 0)
        return {};
    std::ofstream(folder + "/" + PortsFileName) << "[Lines]\r\nTest bed modem=" << alias << "\r\n";
    ::setenv("ZN_WINDIR", folder.c_str(), 1);
    ::setenv("ZN_HOME", folder.c_str(), 1);
    return alias;
}

// A line device chosen by name, with its port (over the call's descriptor) and its history file.
struct LineDeviceRig {
    LineDeviceRig(const std::string& deviceName, const std::string& historyPath)
    {
        port.SetTapiMode(tmOn);
        port.SetAutoOpen(false);
        log.TapiHistoryName = historyPath;
        device.SetComPort(&port);
        device.SetTapiLog(&log);
        device.SetSelectedDevice(deviceName);
    }
    TFxComPort port;
    TFxTapiLog log;
    TFxTapiDevice device;
};

// After a call: the descriptors are those of before, no lock file stands under any name of the
// modem, and the modem opens for anyone under each name.
inline void ExpectTheModemLeftFree(const std::vector<std::string>& names, int descriptorsBefore)
{
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    for (const std::string& name : names) {
        for (const std::string& lock : UucpLock::LockPathsFor(name))
            EXPECT_NE(::access(lock.c_str(), F_OK), 0) << lock;
        TFxWin32Dispatcher after(nullptr);
        EXPECT_EQ(after.OpenPort(name, 19200, 0, 8, 1, 4096, 4096, 0), 0) << name;
        after.ClosePort();
    }
}

} // namespace zn::comms::test
