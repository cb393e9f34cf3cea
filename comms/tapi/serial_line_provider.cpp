#include "comms/tapi/serial_line_provider.h"

#include "comms/port/port_names.h"
#include "platform/event.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/messages.h"
#include "platform/modem_inhibition.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace zn::comms::tapi {

namespace {

constexpr uint32_t kLineBase = 0x1000, kCallBase = 0x2000;
constexpr uint32_t kDeliverMsg = 0x7EB6;
constexpr uint32_t kVanishedMsg = 0x7EB7;
constexpr uint32_t kTtyMsg = 0x7EB8;
constexpr uintptr_t kDisconnectModeUnavail = 0x800;

std::string Resolved(const std::string& path)
{
    char* r = ::realpath(path.c_str(), nullptr);
    if (!r)
        return path;
    std::string out = r;
    std::free(r);
    return out;
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool IsCharDevice(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// "usb-U.S._Robotics_USB_Modem_0001-if00" -> "U.S. Robotics USB Modem": the bus prefix, the
// interface suffix and the serial number (the last word) go; underscores become blanks.
std::string NameFromListing(const std::string& entry)
{
    std::string s = entry;
    size_t dash = s.find('-');
    if (dash != std::string::npos)
        s = s.substr(dash + 1);
    size_t suffix = s.rfind("-if");
    if (suffix != std::string::npos)
        s = s.substr(0, suffix);
    size_t last = s.rfind('_');
    if (last != std::string::npos && last > 0)
        s = s.substr(0, last);
    std::replace(s.begin(), s.end(), '_', ' ');
    return s.empty() ? entry : s;
}

// Waits for `events` (hang-ups and errors always) on `fd`: what came, or 0 once `stop` is set or
// polling fails; -1 for an interrupted wait.
int WaitOrStop(int fd, short events, int stop)
{
    struct pollfd fds[2] = {{fd, events, 0}, {stop, POLLIN, 0}};
    int n = ::poll(fds, 2, -1);
    if (n < 0)
        return errno == EINTR ? -1 : 0;
    return (fds[1].revents & POLLIN) ? 0 : fds[0].revents;
}

// The modem's vendor and model as udev knows them, else `fallback`; with the device's own name.
std::string ModemName(const std::string& path, const std::string& fallback)
{
    std::string name = ModemNameFromFacts(UdevModemFacts(path));
    std::string device = BaseName(Resolved(path));
    if (!name.empty())
        return name + " (" + device + ")";
    return fallback.empty() ? "Modem on " + device : fallback + " (" + device + ")";
}

} // namespace

std::vector<SerialLine> ListSerialLines()
{
    std::vector<SerialLine> lines;
    auto add = [&](const std::string& name, const std::string& path) {
        std::string real = Resolved(path);
        if (!IsCharDevice(real))
            return;
        for (const SerialLine& l : lines)
            if (l.device == real)
                return;
        lines.push_back({name, path, real});
    };
    platform::IniFile ini(platform::ResolvePath(platform::WindowsFolder() + "/" + PortsFileName));
    for (const std::string& name : ini.ReadSection("Lines")) {
        std::string path = ini.ReadString("Lines", name, "");
        if (!path.empty())
            add(name, path);
    }
    const std::string byId = "/dev/serial/by-id";
    for (const std::string& entry : FolderEntries(byId)) {
        std::string path = byId + "/" + entry;
        if (IsCharDevice(path))
            add(ModemName(path, NameFromListing(entry)), path);
    }
    for (const std::string& entry : FolderEntries("/dev"))
        if (entry.rfind("ttyACM", 0) == 0 || entry.rfind("ttyUSB", 0) == 0)
            add(ModemName("/dev/" + entry, ""), "/dev/" + entry);
    return lines;
}

SerialLineProvider::SerialLineProvider() = default;

SerialLineProvider::~SerialLineProvider()
{
    StopMonitor();
    for (auto& line : open_)
        if (line)
            Hang(*line);
}

bool SerialLineProvider::Offers(const std::string&) const { return true; }

uint32_t SerialLineProvider::Initialize(HLineApp& app, LineCallback callback, const std::string&, uint32_t& deviceCount)
{
    app = nextApp_++;
    apps_[app] = std::move(callback);
    if (apps_.size() == 1)
        Start();
    deviceCount = uint32_t(lines_.size());
    return 0;
}

void SerialLineProvider::Start()
{
    lines_ = ListSerialLines();
    gone_.assign(lines_.size(), false);
    open_.clear();
    open_.resize(lines_.size());
    window_ = std::make_unique<platform::MessageWindow>("tapi lines", [this](uint32_t msg, platform::WParam w, platform::LParam) {
        if (msg == kDeliverMsg)
            Deliver();
        else if (msg == kVanishedMsg)
            Vanished(uint32_t(w));
        else if (msg == kTtyMsg)
            TtyEvents();
        return platform::LResult(0);
    });
    StartMonitor();
}

uint32_t SerialLineProvider::Shutdown(HLineApp app)
{
    if (!apps_.count(app))
        return LineErrInvalAppHandle;
    // The application's lines close with it.
    for (auto& line : open_)
        if (line && line->app == app) {
            Hang(*line);
            line.reset();
        }
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [app](const Message& m) { return m.app == app; }), queue_.end());
    apps_.erase(app);
    if (apps_.empty()) {
        StopMonitor();
        open_.clear();
        queue_.clear();
        window_.reset();
    }
    return 0;
}

uint32_t SerialLineProvider::NegotiateApiVersion(HLineApp app, uint32_t device, uint32_t low, uint32_t high, uint32_t& version)
{
    if (!apps_.count(app))
        return LineErrInvalAppHandle;
    if (device >= lines_.size())
        return LineErrBadDeviceId;
    if (gone_[device])
        return LineErrNoDevice;
    if (low > ApiVersion14 || high < ApiVersion14)
        return LineErrIncompatibleApiVersion;
    version = ApiVersion14;
    return 0;
}

uint32_t SerialLineProvider::DeviceInfo(HLineApp app, uint32_t device, LineDeviceInfo& info)
{
    if (!apps_.count(app))
        return LineErrInvalAppHandle;
    if (device >= lines_.size())
        return LineErrBadDeviceId;
    if (gone_[device])
        return LineErrNoDevice;
    info = LineDeviceInfo{lines_[device].name, MediaModeDataModem, LineFeatureMakeCall, false};
    return 0;
}

SerialLineProvider::Line* SerialLineProvider::LineOf(uint32_t handle)
{
    uint32_t device = handle & 0xFFF;
    return device < open_.size() ? open_[device].get() : nullptr;
}

uint32_t SerialLineProvider::Open(HLineApp app, uint32_t device, HLine& line, uintptr_t instance, uint32_t, uint32_t)
{
    if (!apps_.count(app))
        return LineErrInvalAppHandle;
    if (device >= lines_.size())
        return LineErrBadDeviceId;
    if (gone_[device])
        return LineErrNoDevice;
    if (open_[device])
        return LineErrAllocated;
    open_[device] = std::make_unique<Line>();
    open_[device]->device = device;
    open_[device]->app = app;
    open_[device]->instance = instance;
    open_[device]->open = true;
    line = kLineBase + device;
    return 0;
}

uint32_t SerialLineProvider::MakeCall(HLine lineHandle, HCall& call, const std::string&, uint32_t bearerMode)
{
    Line* line = LineOf(lineHandle);
    if (!line || lineHandle < kLineBase || lineHandle >= kCallBase)
        return LineErrInvalLineHandle;
    if (bearerMode != BearerModePassthrough)
        return LineErrOperationUnavail; // dialing is the modem's business, through the port
    if (line->fd >= 0)
        return LineErrCallUnavail;
    const std::string& path = lines_[line->device].path;
    if (!line->lock.Acquire(path))
        return LineErrResourceUnavail;
    line->inhibition = platform::ModemInhibition::Inhibit(path);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0)
            ::close(fd);
        line->inhibition.reset();
        line->lock.Release();
        return LineErrResourceUnavail;
    }
    ::ioctl(fd, TIOCEXCL);
    line->fd = fd;
    Watch(*line);
    call = kCallBase + line->device;
    uint32_t request = nextRequest_++;
    Queue(*line, LineReplyMsg, request, 0);
    Queue(*line, LineCallStateMsg, CallStateConnected);
    line->callState = CallStateConnected;
    return request;
}

uint32_t SerialLineProvider::Accept(HCall) { return LineErrOperationUnavail; }
uint32_t SerialLineProvider::Answer(HCall) { return LineErrOperationUnavail; }

uint32_t SerialLineProvider::Drop(HCall call)
{
    Line* line = LineOf(call);
    if (!line || call < kCallBase)
        return LineErrInvalCallHandle;
    Hang(*line);
    uint32_t request = nextRequest_++;
    Queue(*line, LineReplyMsg, request, 0);
    Queue(*line, LineCallStateMsg, CallStateIdle);
    return request;
}

uint32_t SerialLineProvider::DeallocateCall(HCall call)
{
    Line* line = LineOf(call);
    if (!line || call < kCallBase)
        return LineErrInvalCallHandle;
    Hang(*line);
    return 0;
}

uint32_t SerialLineProvider::Close(HLine lineHandle)
{
    Line* line = LineOf(lineHandle);
    if (!line || lineHandle >= kCallBase)
        return LineErrInvalLineHandle;
    Hang(*line);
    open_[line->device].reset();
    return 0;
}

void SerialLineProvider::Watch(Line& line)
{
    line.vanished = false;
    line.stopWatching = std::make_unique<platform::Event>(true);
    int fd = line.fd, stop = line.stopWatching->Fd();
    uint32_t window = window_ ? window_->Handle() : 0;
    uint32_t device = line.device;
    line.watcher = std::thread([fd, stop, window, device, &line] {
        while (int revents = WaitOrStop(fd, 0, stop)) {
            if (revents > 0 && (revents & (POLLHUP | POLLERR | POLLNVAL))) {
                line.vanished = true;
                platform::PostMessageTo(window, kVanishedMsg, device, 0);
                return;
            }
        }
    });
}

void SerialLineProvider::Vanished(uint32_t device)
{
    Line* line = device < open_.size() ? open_[device].get() : nullptr;
    if (!line || !line->vanished)
        return;
    Hang(*line);
    Queue(*line, LineCallStateMsg, CallStateDisconnected, kDisconnectModeUnavail);
    Queue(*line, LineCloseMsg, 0);
    open_[device].reset(); // after LINE_CLOSE the line's handle is no longer valid
}

void SerialLineProvider::StartMonitor()
{
    std::unique_ptr<TtyMonitor> monitor = TtyMonitor::Open();
    if (!monitor || !window_)
        return; // nothing to listen to: the list stays as it was read
    stopMonitor_ = std::make_unique<platform::Event>(true);
    int stop = stopMonitor_->Fd();
    uint32_t window = window_->Handle();
    monitorThread_ = std::thread([this, stop, window, monitor = std::move(monitor)] {
        while (WaitOrStop(monitor->Fd(), POLLIN, stop)) {
            std::vector<TtyEvent> events = monitor->Receive();
            if (events.empty())
                continue;
            {
                std::lock_guard<std::mutex> hold(eventsLock_);
                events_.insert(events_.end(), events.begin(), events.end());
            }
            platform::PostMessageTo(window, kTtyMsg, 0, 0);
        }
    });
}

void SerialLineProvider::StopMonitor()
{
    if (monitorThread_.joinable()) {
        stopMonitor_->Set();
        monitorThread_.join();
    }
    stopMonitor_.reset();
    std::lock_guard<std::mutex> hold(eventsLock_);
    events_.clear();
}

void SerialLineProvider::TtyEvents()
{
    std::vector<TtyEvent> events;
    {
        std::lock_guard<std::mutex> hold(eventsLock_);
        events.swap(events_);
    }
    for (const TtyEvent& event : events)
        Rescan(event);
}

void SerialLineProvider::Rescan(const TtyEvent& event)
{
    if (apps_.empty())
        return;
    std::vector<SerialLine> now = ListSerialLines();
    auto listed = [&now](const SerialLine& l) {
        return std::any_of(now.begin(), now.end(), [&l](const SerialLine& n) { return n.name == l.name && n.path == l.path; });
    };
    bool removal = event.action == "remove";
    for (uint32_t i = 0; i < lines_.size(); ++i)
        if (!gone_[i] && (!listed(lines_[i]) || (removal && lines_[i].device == event.devnode)))
            Gone(i);
    // A device announced as gone may still have its node for a moment: it comes back only with an
    // announcement of its own.
    if (removal)
        return;
    for (const SerialLine& l : now) {
        bool known = false;
        for (uint32_t i = 0; i < lines_.size() && !known; ++i)
            known = !gone_[i] && lines_[i].name == l.name && lines_[i].path == l.path;
        if (known)
            continue;
        uint32_t id = uint32_t(lines_.size());
        lines_.push_back(l);
        gone_.push_back(false);
        open_.resize(lines_.size());
        for (const auto& entry : apps_) {
            queue_.push_back({entry.first, 0, LineCreateMsg, id, 0, 0});
            platform::PostMessageTo(window_->Handle(), kDeliverMsg, 0, 0);
        }
    }
}

void SerialLineProvider::Gone(uint32_t device)
{
    gone_[device] = true;
    Line* line = open_[device].get();
    if (!line)
        return;
    if (line->fd >= 0)
        Queue(*line, LineCallStateMsg, CallStateDisconnected, kDisconnectModeUnavail);
    Hang(*line);
    Queue(*line, LineCloseMsg, 0);
    open_[device].reset();
}

void SerialLineProvider::Hang(Line& line)
{
    if (line.watcher.joinable()) {
        line.stopWatching->Set();
        line.watcher.join();
    }
    line.stopWatching.reset();
    if (line.fd >= 0) {
        ::ioctl(line.fd, TCFLSH, TCIOFLUSH);
        ::ioctl(line.fd, TIOCNXCL);
        ::close(line.fd);
        line.fd = -1;
    }
    line.lock.Release();
    line.inhibition.reset();
    line.callState = CallStateIdle;
}

uint32_t SerialLineProvider::CommHandle(HCall call, int& fd)
{
    Line* line = LineOf(call);
    if (!line || call < kCallBase || line->fd < 0)
        return LineErrInvalCallHandle;
    fd = ::fcntl(line->fd, F_DUPFD_CLOEXEC, 0);
    return fd >= 0 ? 0 : LineErrOperationFailed;
}

uint32_t SerialLineProvider::SetStatusMessages(HLine lineHandle, uint32_t, uint32_t)
{
    return LineOf(lineHandle) ? 0 : LineErrInvalLineHandle;
}

uint32_t SerialLineProvider::MonitorDigits(HCall, uint32_t) { return LineErrOperationUnavail; }

uint32_t SerialLineProvider::CallState(HCall call, uint32_t& state)
{
    Line* line = LineOf(call);
    if (!line || call < kCallBase)
        return LineErrInvalCallHandle;
    state = line->callState;
    return 0;
}

uint32_t SerialLineProvider::CallInfo(HCall call, uint32_t& mediaMode, std::string& callerId, std::string& callerName)
{
    if (!LineOf(call) || call < kCallBase)
        return LineErrInvalCallHandle;
    mediaMode = MediaModeDataModem;
    callerId.clear();
    callerName.clear();
    return 0;
}

void SerialLineProvider::Queue(Line& line, uint32_t message, uintptr_t p1, uintptr_t p2)
{
    uint32_t handle = message == LineCallStateMsg ? kCallBase + line.device : kLineBase + line.device;
    queue_.push_back({line.app, handle, message, p1, p2, line.instance});
    if (window_)
        platform::PostMessageTo(window_->Handle(), kDeliverMsg, 0, 0);
}

void SerialLineProvider::Deliver()
{
    if (queue_.empty())
        return;
    Message m = queue_.front();
    queue_.pop_front();
    auto app = apps_.find(m.app);
    if (app != apps_.end() && app->second)
        app->second(m.device, m.message, m.p3, m.p1, m.p2, 0);
}

} // namespace zn::comms::tapi
