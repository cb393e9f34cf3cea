// What udev knows about the machine's serial modems: the name a user recognises a modem by, and the
// news of tty devices that come and go. udev's database (filled by udevd) gives the vendor and model
// names; without udevd, the USB device's own strings in sysfs do. Devices come and go as udevd
// announces them once it has made their links (/dev/serial/by-id), or, where no udevd runs, as the
// kernel announces them.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct udev;
struct udev_monitor;

namespace zn::comms::tapi {

// What a modem tells about itself, as udev has it.
struct ModemFacts {
    std::string vendorFromDatabase; // ID_VENDOR_FROM_DATABASE
    std::string vendor;             // ID_VENDOR (blanks as underscores)
    std::string manufacturer;       // the USB device's "manufacturer" string
    std::string modelFromDatabase;  // ID_MODEL_FROM_DATABASE
    std::string model;              // ID_MODEL
    std::string product;            // the USB device's "product" string
};

// "vendor model" from the facts, the database's names first, then the device's own strings, then
// udev's short ones; a model that already starts with the vendor is not prefixed again. Empty when
// the facts name nothing.
std::string ModemNameFromFacts(const ModemFacts& facts);

// The facts of the character device at `devicePath` (any name of it); empty when udev does not
// know it.
ModemFacts UdevModemFacts(const std::string& devicePath);

// A tty device that came or went.
struct TtyEvent {
    std::string action;  // "add", "remove", "change", ...
    std::string devnode; // "/dev/ttyACM0"; empty when the event names none
};

// Announcements of tty devices. Fd() becomes readable when one is waiting; Receive() takes every
// one waiting without blocking.
class TtyMonitor {
public:
    // Null when udev cannot be listened to here.
    static std::unique_ptr<TtyMonitor> Open();
    ~TtyMonitor();
    TtyMonitor(const TtyMonitor&) = delete;
    TtyMonitor& operator=(const TtyMonitor&) = delete;

    int Fd() const;
    std::vector<TtyEvent> Receive();

private:
    TtyMonitor(struct udev* udev, struct udev_monitor* monitor) : udev_(udev), monitor_(monitor) {}
    struct udev* udev_;
    struct udev_monitor* monitor_;
};

} // namespace zn::comms::tapi
