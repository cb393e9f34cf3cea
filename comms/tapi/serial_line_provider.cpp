#include "comms/tapi/serial_line_provider.h"

#include "comms/port/port_names.h"
#include "comms/tapi/tapi_binding.h"
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
#include <chrono>
#include <cstring>
#include <cstdlib>

namespace zn::comms::tapi {

namespace {

constexpr uint32_t kLineBase = 0x1000, kCallBase = 0x2000;
constexpr uint32_t kDeliverMsg = 0x7EB6;
constexpr uint32_t kVanishedMsg = 0x7EB7;
constexpr uint32_t kTtyMsg = 0x7EB8;
constexpr uint32_t kListenMsg = 0x7EB9;
constexpr uint32_t kModemMsg = 0x7EBA;
constexpr uintptr_t kDisconnectModeUnavail = 0x800;
// What a listening line's modem said.
constexpr uint32_t kModemRing = 1, kModemConnect = 2, kModemRefused = 3, kModemRingGone = 4, kModemCallerId = 5,
                   kModemDigit = 6, kModemNoVoice = 7;
// The quiet after a caller ID field that ends the modem's report.
constexpr int kCallerIdQuietMs = 300;
constexpr char kDle = 0x10;

// A modem's answer to ATA that ends the call.
bool Refusal(const std::string& said)
{
    return said == "NO CARRIER" || said == "ERROR" || said == "NO ANSWER" || said == "BUSY" || said == "NO DIALTONE";
}

// A field of the modem's caller ID report ("NMBR = 5551234", "NAME=JOHN DOE", "DATE = 1211"):
// false for anything else the modem says.
bool CallerIdField(const std::string& said, std::string& key, std::string& value)
{
    size_t equals = said.find('=');
    if (equals == std::string::npos)
        return false;
    key = TrimmedText(said.substr(0, equals));
    value = TrimmedText(said.substr(equals + 1));
    return key == "NMBR" || key == "NAME" || key == "DATE" || key == "TIME" || key == "MESG" || key == "DDN_NMBR";
}

// The caller as a report's number and name give it: "P" is withheld by the caller, "O" out of
// the area that passes numbers on; a report without a number has none available.
CallInformation CallerFromReport(const std::string& number, const std::string& name)
{
    CallInformation caller;
    caller.callerIdFlags = number == "P"   ? CallerIdBlocked
                           : number == "O" ? CallerIdOutOfArea
                           : number.empty() ? CallerIdUnavail
                                            : CallerIdAddress;
    if (caller.callerIdFlags == CallerIdAddress)
        caller.callerId = number;
    if (name != "P" && name != "O")
        caller.callerName = name;
    return caller;
}

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
    noVoice_.assign(lines_.size(), false);
    open_.clear();
    open_.resize(lines_.size());
    window_ = std::make_unique<platform::MessageWindow>(
        "tapi lines", [this](uint32_t msg, platform::WParam w, platform::LParam l) {
            if (msg == kDeliverMsg)
                Deliver();
            else if (msg == kVanishedMsg)
                Vanished(uint32_t(w));
            else if (msg == kTtyMsg)
                TtyEvents();
            else if (msg == kListenMsg)
                Listen(uint32_t(w), uint32_t(l));
            else if (msg == kModemMsg)
                ModemSaid(uint32_t(w), uint32_t(l) & 0xFF, uint32_t(l) >> 8);
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
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [app](const Message& m) { return m.app == app; }),
                 queue_.end());
    apps_.erase(app);
    if (apps_.empty()) {
        StopMonitor();
        open_.clear();
        queue_.clear();
        window_.reset();
    }
    return 0;
}

uint32_t SerialLineProvider::NegotiateApiVersion(HLineApp app, uint32_t device, uint32_t low, uint32_t high,
                                                 uint32_t& version)
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
    info = LineDeviceInfo{lines_[device].name,
                          MediaModeDataModem | (noVoice_[device] ? 0 : MediaModeAutomatedVoice), LineFeatureMakeCall,
                          false};
    return 0;
}

SerialLineProvider::Line* SerialLineProvider::LineOf(uint32_t handle)
{
    uint32_t device = handle & 0xFFF;
    return device < open_.size() ? open_[device].get() : nullptr;
}

uint32_t SerialLineProvider::Open(HLineApp app, uint32_t device, HLine& line, uintptr_t instance, uint32_t privileges,
                                  uint32_t mediaModes)
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
    open_[device]->owner = (privileges & PrivilegeOwner) != 0;
    open_[device]->voice = (mediaModes & MediaModeAutomatedVoice) && !(mediaModes & MediaModeDataModem);
    open_[device]->serial = nextSerial_++ & 0xFFFFFF;
    line = kLineBase + device;
    // An owner listens for calls once the thread processes messages: a line opened and closed
    // straight away never touches the modem.
    if (open_[device]->owner && window_)
        platform::PostMessageTo(window_->Handle(), kListenMsg, device, open_[device]->serial);
    return 0;
}

bool SerialLineProvider::TakeDevice(Line& line)
{
    const std::string& path = lines_[line.device].path;
    if (!line.lock.Acquire(path))
        return false;
    line.inhibition = platform::ModemInhibition::Inhibit(path);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0)
            ::close(fd);
        line.inhibition.reset();
        line.lock.Release();
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    line.fd = fd;
    return true;
}

void SerialLineProvider::Listen(uint32_t device, uint32_t serial)
{
    Line* line = device < open_.size() ? open_[device].get() : nullptr;
    if (!line || line->serial != serial || !line->owner || line->fd >= 0)
        return;
    if (!TakeDevice(*line)) {
        // Someone else holds the modem: the line cannot answer anything.
        Queue(*line, LineCloseMsg, 0);
        open_[device].reset();
        return;
    }
    struct termios t {};
    if (::tcgetattr(line->fd, &t) == 0) {
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(line->fd, TCSANOW, &t);
    }
    line->stopWatching = std::make_unique<platform::Event>(true);
    line->answering = false;
    line->vanished = false;
    int fd = line->fd, stop = line->stopWatching->Fd(), gap = RingGapMs;
    uint32_t window = window_ ? window_->Handle() : 0;
    Line& l = *line;
    int setupMs = SetupReplyMs;
    line->watcher = std::thread([fd, stop, gap, setupMs, window, device, serial, &l] {
        auto post = [&](uint32_t what) { platform::PostMessageTo(window, kModemMsg, device, what | (serial << 8)); };
        auto vanished = [&] {
            l.vanished = true;
            platform::PostMessageTo(window, kVanishedMsg, device, 0);
        };
        std::string text;
        bool offered = false;
        // The caller ID report being heard.
        bool reporting = false;
        std::string number, name;
        auto reported = [&] {
            {
                std::lock_guard<std::mutex> hold(l.heardLock);
                l.heardCaller = CallerFromReport(number, name);
            }
            reporting = false;
            number.clear();
            name.clear();
            post(kModemCallerId);
        };
        // The next line the modem says: 1 one came (in `said`), 0 none within timeoutMs, -1 the
        // listening ends (stopped, or the modem went).
        auto next = [&](std::string& said, int timeoutMs) -> int {
            auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            for (;;) {
                int wait = -1;
                if (timeoutMs >= 0)
                    wait = int(std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                        end - std::chrono::steady_clock::now())
                                                        .count()));
                struct pollfd fds[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
                int n = ::poll(fds, 2, wait);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 || (fds[1].revents & POLLIN))
                    return -1;
                if (n == 0)
                    return 0;
                if (!(fds[0].revents & POLLIN)) {
                    vanished();
                    return -1;
                }
                // A byte at a time: what follows the modem's CONNECT is the port's.
                char c = 0;
                ssize_t got = ::read(fd, &c, 1);
                if (got < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                if (got <= 0) {
                    vanished();
                    return -1;
                }
                if (c != '\r' && c != '\n') {
                    if (text.size() < 256)
                        text += c;
                    continue;
                }
                said.swap(text);
                text.clear();
                if (!said.empty())
                    return 1;
            }
        };
        // What the modem says while the line listens; false when the listening ends with it.
        auto heard = [&](const std::string& said) {
            std::string key, value;
            if (!l.answering && CallerIdField(said, key, value)) {
                reporting = true;
                if (key == "NMBR")
                    number = value;
                else if (key == "NAME")
                    name = value;
                return true;
            }
            if (reporting)
                reported();
            if (!l.answering && said == "RING") {
                offered = true;
                post(kModemRing);
            } else if (l.answering
                       && (said.rfind("CONNECT", 0) == 0 || (l.voice && (said == "VCON" || said == "OK")))) {
                post(kModemConnect);
                return false;
            } else if (l.answering && Refusal(said)) {
                post(kModemRefused);
                return false;
            }
            return true;
        };
        // A command before listening, and what the modem made of it.
        enum class Reply { Taken, Refused, Silent, Ended };
        auto ask = [&](const char* command) {
            size_t size = std::strlen(command);
            if (::write(fd, command, size) != ssize_t(size))
                return Reply::Silent;
            auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(setupMs);
            for (;;) {
                int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                                   .count());
                std::string said;
                int r = left > 0 ? next(said, left) : 0;
                if (r < 0)
                    return Reply::Ended;
                if (r == 0)
                    return Reply::Silent;
                if (said == "OK")
                    return Reply::Taken;
                if (said == "ERROR")
                    return Reply::Refused;
                if (said.rfind("AT", 0) != 0 && !heard(said)) // not the command's echo
                    return Reply::Ended;
            }
        };
        if (l.voice) {
            Reply r = ask("AT+FCLASS=8\r");
            if (r == Reply::Ended)
                return;
            if (r != Reply::Taken)
                return post(kModemNoVoice);
        }
        // Caller ID the TIA way, else the way of modems that have their own command for it.
        Reply r = ask("AT+VCID=1\r");
        if (r == Reply::Refused)
            r = ask("AT#CID=1\r");
        if (r == Reply::Ended)
            return;
        for (;;) {
            std::string said;
            int wait = reporting ? kCallerIdQuietMs : offered && !l.answering ? gap : -1;
            int got = next(said, wait);
            if (got < 0)
                return;
            if (got == 0 && reporting) { // the report ended
                reported();
                continue;
            }
            if (got == 0) { // the caller gave up before the call was answered
                offered = false;
                post(kModemRingGone);
                continue;
            }
            if (!heard(said))
                return;
        }
    });
}

void SerialLineProvider::ModemSaid(uint32_t device, uint32_t what, uint32_t serial)
{
    Line* line = device < open_.size() ? open_[device].get() : nullptr;
    if (!line || line->serial != serial || line->fd < 0)
        return;
    bool offered = line->callState == CallStateOffering || line->callState == CallStateAccepted;
    switch (what) {
    case kModemRing:
        if (line->callState == CallStateIdle) {
            line->callState = CallStateOffering;
            line->rings = 0;
            Queue(*line, LineCallStateMsg, CallStateOffering);
            if (line->caller.callerIdFlags != CallerIdUnknown)
                Queue(*line, LineCallInfoMsg, CallInfoStateCallerId);
            offered = true;
        }
        if (offered)
            Queue(*line, LineLineDevStateMsg, DevStateRinging, 1, ++line->rings);
        break;
    case kModemConnect:
    case kModemRefused:
        if (line->watcher.joinable())
            line->watcher.join(); // it ended with the modem's answer
        line->stopWatching.reset();
        if (what == kModemRefused) {
            line->callState = CallStateDisconnected;
            Queue(*line, LineCallStateMsg, CallStateDisconnected, kDisconnectModeUnavail);
            break;
        }
        line->callState = CallStateConnected;
        Watch(*line, line->voice);
        Queue(*line, LineCallStateMsg, CallStateConnected);
        break;
    case kModemRingGone:
        if (offered && !line->answering) {
            line->callState = CallStateIdle;
            line->rings = 0;
            line->caller = CallInformation{};
            Queue(*line, LineCallStateMsg, CallStateIdle);
        }
        break;
    case kModemCallerId: {
        std::lock_guard<std::mutex> hold(line->heardLock);
        line->caller = line->heardCaller;
        // Told before the first ring, it is the next call's: announced once that call is offered.
        if (offered)
            Queue(*line, LineCallInfoMsg, CallInfoStateCallerId);
        break;
    }
    case kModemDigit: {
        std::string digits;
        {
            std::lock_guard<std::mutex> hold(line->heardLock);
            digits.swap(line->heardDigits);
        }
        for (char digit : digits)
            if (line->callState == CallStateConnected && (line->digitModes & DigitModeDtmf))
                Queue(*line, LineMonitorDigitsMsg, uint8_t(digit), DigitModeDtmf, line->ticks += 100);
        break;
    }
    case kModemNoVoice:
        // Not a voice modem after all: the line cannot take what it was opened for.
        noVoice_[device] = true;
        Hang(*line);
        Queue(*line, LineCloseMsg, 0);
        open_[device].reset();
        break;
    }
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
    if (!TakeDevice(*line))
        return LineErrResourceUnavail;
    Watch(*line);
    call = kCallBase + line->device;
    uint32_t request = nextRequest_++;
    Queue(*line, LineReplyMsg, request, 0);
    Queue(*line, LineCallStateMsg, CallStateConnected);
    line->callState = CallStateConnected;
    return request;
}

uint32_t SerialLineProvider::Accept(HCall call)
{
    Line* line = LineOf(call);
    if (!line || call < kCallBase || line->fd < 0)
        return LineErrInvalCallHandle;
    if (line->callState != CallStateOffering)
        return LineErrOperationFailed;
    line->callState = CallStateAccepted;
    Queue(*line, LineCallStateMsg, CallStateAccepted);
    return 0;
}

uint32_t SerialLineProvider::Answer(HCall call)
{
    Line* line = LineOf(call);
    if (!line || call < kCallBase || line->fd < 0)
        return LineErrInvalCallHandle;
    if ((line->callState != CallStateOffering && line->callState != CallStateAccepted) || line->answering)
        return LineErrOperationFailed;
    line->answering = true; // before the command: the modem may answer at once
    static const char kAnswer[] = "ATA\r";
    if (::write(line->fd, kAnswer, sizeof kAnswer - 1) != ssize_t(sizeof kAnswer - 1)) {
        line->answering = false;
        return LineErrOperationFailed;
    }
    uint32_t request = nextRequest_++;
    Queue(*line, LineReplyMsg, request, 0);
    return request;
}

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

void SerialLineProvider::Watch(Line& line, bool readDigits)
{
    line.vanished = false;
    line.stopWatching = std::make_unique<platform::Event>(true);
    int fd = line.fd, stop = line.stopWatching->Fd();
    uint32_t window = window_ ? window_->Handle() : 0;
    uint32_t device = line.device, serial = line.serial;
    line.watcher = std::thread([fd, stop, window, device, serial, readDigits, &line] {
        bool shielded = false; // the last byte was DLE
        while (int revents = WaitOrStop(fd, readDigits ? POLLIN : 0, stop)) {
            if (revents > 0 && (revents & POLLIN)) {
                char buffer[256];
                ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                    revents |= POLLHUP;
                std::string digits;
                for (ssize_t i = 0; i < got; ++i) {
                    char c = buffer[i];
                    if (shielded && std::strchr("0123456789*#ABCD", c) && c)
                        digits += c;
                    shielded = !shielded && c == kDle;
                }
                if (!digits.empty()) {
                    {
                        std::lock_guard<std::mutex> hold(line.heardLock);
                        line.heardDigits += digits;
                    }
                    platform::PostMessageTo(window, kModemMsg, device, kModemDigit | (serial << 8));
                }
            }
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
    bool inCall = line->callState != CallStateIdle; // a line that only listened has no call to end
    Hang(*line);
    if (inCall)
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
        return std::any_of(now.begin(), now.end(),
                           [&l](const SerialLine& n) { return n.name == l.name && n.path == l.path; });
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
        noVoice_.push_back(false);
        open_.resize(lines_.size());
        for (const auto& entry : apps_) {
            queue_.push_back({entry.first, 0, LineCreateMsg, 0, id, 0, 0});
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
    line.caller = CallInformation{};
    line.digitModes = 0;
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

uint32_t SerialLineProvider::MonitorDigits(HCall call, uint32_t modes)
{
    Line* line = LineOf(call);
    if (!line || call < kCallBase)
        return LineErrInvalCallHandle;
    // A data call's bytes are the port's: only a voice call's DTMF reports are read here.
    if (!line->voice)
        return LineErrOperationUnavail;
    line->digitModes = modes;
    return 0;
}

uint32_t SerialLineProvider::CallState(HCall call, uint32_t& state)
{
    Line* line = LineOf(call);
    if (!line || call < kCallBase)
        return LineErrInvalCallHandle;
    state = line->callState;
    return 0;
}

uint32_t SerialLineProvider::CallInfo(HCall call, CallInformation& info)
{
    Line* line = LineOf(call);
    if (!line || call < kCallBase)
        return LineErrInvalCallHandle;
    info = line->caller;
    // Before it is answered a modem cannot tell a fax call from a data call, nor from a voice call.
    info.mediaMode = line->voice ? MediaModeAutomatedVoice : line->owner ? MediaModeUnknown : MediaModeDataModem;
    return 0;
}

void SerialLineProvider::Queue(Line& line, uint32_t message, uintptr_t p1, uintptr_t p2, uintptr_t p3)
{
    bool aboutTheCall = message == LineCallStateMsg || message == LineCallInfoMsg || message == LineMonitorDigitsMsg;
    uint32_t handle = aboutTheCall ? kCallBase + line.device : kLineBase + line.device;
    queue_.push_back({line.app, handle, message, line.instance, p1, p2, p3});
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
        app->second(m.device, m.message, m.instance, m.p1, m.p2, m.p3);
}

} // namespace zn::comms::tapi
