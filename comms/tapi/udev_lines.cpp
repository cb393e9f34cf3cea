#include "comms/tapi/udev_lines.h"

#include <libudev.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace zn::comms::tapi {

namespace {

std::string Trimmed(std::string s)
{
    std::replace(s.begin(), s.end(), '_', ' ');
    size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    size_t last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

const std::string& FirstOf(const std::string& a, const std::string& b, const std::string& c)
{
    return !a.empty() ? a : !b.empty() ? b : c;
}

// "Zoom 56K Modem" starts with the word "ZOOM"; "Zoomer X" does not.
bool StartsWithWord(const std::string& text, const std::string& word)
{
    if (text.size() < word.size() || (text.size() > word.size() && text[word.size()] != ' '))
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(word[i])))
            return false;
    return true;
}

std::string Text(const char* s) { return s ? s : ""; }

// udev's own socket: where udevd runs, its announcements come after it made the device's links.
bool UdevdRuns() { return ::access("/run/udev/control", F_OK) == 0; }

} // namespace

std::string ModemNameFromFacts(const ModemFacts& facts)
{
    std::string vendor = Trimmed(FirstOf(facts.vendorFromDatabase, facts.manufacturer, facts.vendor));
    std::string model = Trimmed(FirstOf(facts.modelFromDatabase, facts.product, facts.model));
    if (vendor.empty())
        return model;
    if (model.empty())
        return vendor;
    if (StartsWithWord(model, vendor))
        return model;
    return vendor + " " + model;
}

ModemFacts UdevModemFacts(const std::string& devicePath)
{
    ModemFacts facts;
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return facts;
    struct udev* u = udev_new();
    if (!u)
        return facts;
    if (struct udev_device* d = udev_device_new_from_devnum(u, 'c', st.st_rdev)) {
        facts.vendorFromDatabase = Text(udev_device_get_property_value(d, "ID_VENDOR_FROM_DATABASE"));
        facts.vendor = Text(udev_device_get_property_value(d, "ID_VENDOR"));
        facts.modelFromDatabase = Text(udev_device_get_property_value(d, "ID_MODEL_FROM_DATABASE"));
        facts.model = Text(udev_device_get_property_value(d, "ID_MODEL"));
        // The parent belongs to the child: not unreferenced here.
        if (struct udev_device* usb = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device")) {
            facts.manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
            facts.product = Text(udev_device_get_sysattr_value(usb, "product"));
        }
        udev_device_unref(d);
    }
    udev_unref(u);
    return facts;
}

std::unique_ptr<TtyMonitor> TtyMonitor::Open()
{
    struct udev* u = udev_new();
    if (!u)
        return nullptr;
    struct udev_monitor* m = udev_monitor_new_from_netlink(u, UdevdRuns() ? "udev" : "kernel");
    if (!m || udev_monitor_filter_add_match_subsystem_devtype(m, "tty", nullptr) < 0
        || udev_monitor_enable_receiving(m) < 0) {
        if (m)
            udev_monitor_unref(m);
        udev_unref(u);
        return nullptr;
    }
    return std::unique_ptr<TtyMonitor>(new TtyMonitor(u, m));
}

TtyMonitor::~TtyMonitor()
{
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
}

int TtyMonitor::Fd() const { return udev_monitor_get_fd(monitor_); }

std::vector<TtyEvent> TtyMonitor::Receive()
{
    std::vector<TtyEvent> events;
    // The monitor's socket does not block: a null device is "nothing more waiting" (or a message
    // udev dropped as not meant for us).
    while (struct udev_device* d = udev_monitor_receive_device(monitor_)) {
        events.push_back({Text(udev_device_get_action(d)), Text(udev_device_get_devnode(d))});
        udev_device_unref(d);
    }
    return events;
}

} // namespace zn::comms::tapi
