// A modem that never answers: a pseudo-terminal whose far side nobody reads or writes.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace zn::app::test {

class SilentModem {
public:
    SilentModem()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            device_ = ::ptsname(master_);
    }
    ~SilentModem()
    {
        if (master_ >= 0)
            ::close(master_);
    }
    SilentModem(const SilentModem&) = delete;
    SilentModem& operator=(const SilentModem&) = delete;
    const std::string& Device() const { return device_; } // empty when no pseudo-terminal was had

private:
    int master_ = -1;
    std::string device_;
};

} // namespace zn::app::test
