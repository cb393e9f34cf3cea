// The machine's serial modems as TAPI line devices. The devices, in this order:
//  - the aliases configured in section [Lines] of ZNPORTS.INI in the configuration folder (name =
//    device path), so that test lines and unusual devices appear under the name given there;
//  - every serial modem listed in /dev/serial/by-id;
//  - /dev/ttyACM* and /dev/ttyUSB* that no listing names.
// A modem is named for the user by its vendor and model as udev knows them ("U.S. Robotics USB
// Modem (ttyACM0)"), else from its /dev/serial/by-id entry ("usb-U.S._Robotics_USB_Modem_0001-if00"
// gives the same), else "Modem on ttyACM0". A device reached by two names is listed once, under the
// first; an alias whose device is not there is not listed.
// Devices that come and go while the line application runs (udev's announcements) are reported as
// TAPI does: a new one gets the next device identifier and a LINE_CREATE message; one that went
// keeps its identifier, answers LINEERR_NODEVICE from then on, and its open line is closed
// (a call on it ends DISCONNECTED first), with LINE_CLOSE. A passthrough call takes the port
// layer's locks (every name of the device, and flock), asks ModemManager (when it runs and manages
// the device) to leave it alone, opens the device and hands a copy of its descriptor over;
// dropping or closing the line releases everything. Replies and call states come
// through the line callback while the thread that initialised processes messages, as TAPI's do.
// Several line applications may be initialised at once (a picker lists the devices while the line
// device has its own); a line's messages go to the application that opened it.
// A device that vanishes during a call (a USB modem unplugged, the far end of a test line closed)
// ends it: the provider closes its descriptor, releases the locks and reports the call
// DISCONNECTED (mode UNAVAIL) and the line closed (LINE_CLOSE), so that the line device releases
// the port.
// A line opened with OWNER privilege answers: once the thread processes messages it takes the
// modem as a call would and listens to it. The modem's first "RING" offers a call (OFFERING, its
// media mode unknown), each "RING" is a RINGING with its count; lineAnswer sends ATA and the modem's
// "CONNECT" makes the call CONNECTED, its descriptor handed over as a passthrough call's; an
// answer the modem refuses ("NO CARRIER", "ERROR", ...) ends the call DISCONNECTED. A call that
// stops ringing (no "RING" for RingGapMs) before it is answered goes IDLE. A line answers one call:
// once that call is dropped the modem is let go, and the line is opened again for the next one. A
// modem that someone else holds closes the line (LINE_CLOSE).
// Before it listens the line asks the modem for caller ID (AT+VCID=1, else AT#CID=1; a modem that
// refuses both, or says nothing within SetupReplyMs, simply gives none). The modem's caller ID
// report between rings ("NMBR = 5551234", "NAME = JOHN DOE"; "P" for a number the caller withheld,
// "O" for one from outside the area) becomes the call's caller ID, announced by LINE_CALLINFO.
// A modem may take voice calls: a line opened for automated voice only puts it in voice mode first
// (AT+FCLASS=8); a modem that refuses closes the line and is no longer described as taking voice.
// A voice call is answered with the modem's "VCON" (or "OK"); the modem stays with the provider,
// which reads the shielded DTMF reports (DLE and the digit) and, while lineMonitorDigits asks for
// DTMF, passes each digit on as LINE_MONITORDIGITS.
#pragma once

#include "comms/port/port_driver.h"
#include "comms/tapi/line_provider.h"
#include "comms/tapi/udev_lines.h"

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zn::platform {
class Event;
class MessageWindow;
class ModemInhibition;
} // namespace zn::platform

namespace zn::comms::tapi {

struct SerialLine {
    std::string name;
    std::string path;   // as configured or listed
    std::string device; // the device it leads to
};

// The lines as listed above, read afresh.
std::vector<SerialLine> ListSerialLines();

class SerialLineProvider : public LineProvider {
public:
    SerialLineProvider();
    ~SerialLineProvider() override;

    // How long an offered call waits for its next "RING" before it is taken as gone.
    int RingGapMs = 8000;
    // How long the modem has to answer a command the line sends before it listens.
    int SetupReplyMs = 1000;

    bool Offers(const std::string& function) const override;
    uint32_t Initialize(HLineApp& app, LineCallback callback, const std::string& appName,
                        uint32_t& deviceCount) override;
    uint32_t Shutdown(HLineApp app) override;
    uint32_t NegotiateApiVersion(HLineApp app, uint32_t device, uint32_t low, uint32_t high,
                                 uint32_t& version) override;
    uint32_t DeviceInfo(HLineApp app, uint32_t device, LineDeviceInfo& info) override;
    uint32_t Open(HLineApp app, uint32_t device, HLine& line, uintptr_t instance, uint32_t privileges,
                  uint32_t mediaModes) override;
    uint32_t MakeCall(HLine line, HCall& call, const std::string& number, uint32_t bearerMode) override;
    uint32_t Accept(HCall call) override;
    uint32_t Answer(HCall call) override;
    uint32_t Drop(HCall call) override;
    uint32_t DeallocateCall(HCall call) override;
    uint32_t Close(HLine line) override;
    uint32_t CommHandle(HCall call, int& fd) override;
    uint32_t SetStatusMessages(HLine line, uint32_t lineStates, uint32_t addressStates) override;
    uint32_t MonitorDigits(HCall call, uint32_t modes) override;
    uint32_t CallState(HCall call, uint32_t& state) override;
    uint32_t CallInfo(HCall call, CallInformation& info) override;

private:
    struct Message {
        HLineApp app;
        uint32_t device, message;
        uintptr_t instance, p1, p2, p3;
    };
    struct Line {
        uint32_t device = 0;
        HLineApp app = 0; // the application that opened it
        uintptr_t instance = 0;
        bool open = false;
        int fd = -1; // the device, while a call holds it
        UucpLock lock;
        std::unique_ptr<platform::ModemInhibition> inhibition;
        uint32_t callState = CallStateIdle;
        // Watches the device for a hang-up while the call holds it.
        std::thread watcher;
        std::unique_ptr<platform::Event> stopWatching;
        std::atomic<bool> vanished{false};
        // The answering side: opened as owner, its number among the lines opened, the rings of
        // the offered call, ATA sent.
        bool owner = false;
        uint32_t serial = 0;
        uint32_t rings = 0;
        std::atomic<bool> answering{false};
        bool voice = false; // opened for voice calls only
        // Who calls, as the modem said; what its reader heard and the line has not taken yet.
        CallInformation caller;
        std::mutex heardLock;
        CallInformation heardCaller;
        std::string heardDigits;
        std::atomic<uint32_t> digitModes{0};
        uint32_t ticks = 0;
    };
    void Start(); // the first application: the list read, the window and the monitor started
    void Queue(Line& line, uint32_t message, uintptr_t p1, uintptr_t p2 = 0, uintptr_t p3 = 0);
    // Takes the modem for a call or for listening: locks, inhibition, the device opened.
    bool TakeDevice(Line& line);
    void Listen(uint32_t device, uint32_t serial);
    void ModemSaid(uint32_t device, uint32_t what, uint32_t serial);
    void Deliver();
    // Watches the call's device for a hang-up; a voice call's reader also takes its DTMF reports.
    void Watch(Line& line, bool readDigits = false);
    void Vanished(uint32_t device);
    // udev's announcements: taken on the monitor's thread, acted on in the line application's.
    void StartMonitor();
    void StopMonitor();
    void TtyEvents();
    void Rescan(const TtyEvent& event);
    void Gone(uint32_t device);    // the device went: its line, if open, is closed
    void Hang(Line& line);         // closes the device and releases the locks
    Line* LineOf(uint32_t handle); // line and call handles are the device's number + a base

    std::vector<SerialLine> lines_;
    std::vector<bool> gone_;
    std::vector<bool> noVoice_; // the modem refused voice mode
    std::vector<std::unique_ptr<Line>> open_;
    std::map<HLineApp, LineCallback> apps_; // the line applications and their callbacks
    std::unique_ptr<platform::MessageWindow> window_;
    std::deque<Message> queue_;
    HLineApp nextApp_ = 0x7A;
    uint32_t nextRequest_ = 1;
    uint32_t nextSerial_ = 1;
    std::thread monitorThread_;
    std::unique_ptr<platform::Event> stopMonitor_;
    std::mutex eventsLock_;
    std::vector<TtyEvent> events_; // announcements not acted on yet
};

} // namespace zn::comms::tapi
