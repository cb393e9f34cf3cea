// ModemManager, when it runs on the system bus, probes and holds the modems it manages. While zn
// uses a modem, it asks ModemManager to leave it alone (InhibitDevice); ModemManager gives the
// modem back when asked, and by itself when zn's bus connection goes (zn died).
#pragma once

#include <memory>
#include <string>

namespace zn::platform {

class ModemInhibition {
public:
    ~ModemInhibition(); // gives the modem back
    ModemInhibition(const ModemInhibition&) = delete;
    ModemInhibition& operator=(const ModemInhibition&) = delete;
    const std::string& Uid() const { return uid_; }

    // Inhibits the modem ModemManager manages on this device (any name of it); null when the bus,
    // ModemManager or such a modem is not there, or ModemManager refused (`error` says why).
    static std::unique_ptr<ModemInhibition> Inhibit(const std::string& devicePath, std::string* error = nullptr);

private:
    explicit ModemInhibition(std::string uid) : uid_(std::move(uid)) {}
    std::string uid_;
};

} // namespace zn::platform
