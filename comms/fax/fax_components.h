// The fax components the application places on its forms: TFxSendFax sends, TFxReceiveFax
// receives, TFxFaxLog appends a history line per log event and TFxAbstractFaxStatus is the base of
// a status display. A component owns its fax session (the fax record), copies its properties into
// it when a session starts, and turns the engine's calls into virtual calls and events on the GUI
// thread.
//
// The engine runs on the port's dispatch thread. Each of its calls becomes an entry of the
// component's event queue; the component's message window ("fxFaxHandler") delivers the queue on
// the GUI thread in order. The dispatch thread waits for a call at most the call's time-out (1000 ms,
// 2000 ms for FaxNext); an answer that comes later is dropped, and a question that has not started
// by then is never asked, so a slow GUI thread never writes into a running session. Notifications
// (status, log, error, finish) are always delivered. Everything the application reads while an event
// runs (status code, pages, remote ID ...) is the session's state at the moment of that event.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "comms/engine/fax_send_session.h"
#include "comms/engine/fax_session_glue.h"
#include "faxdoc/fax_converter.h"
#include "comms/base/fx_misc.h"
#include "comms/base/status_display.h"
#include "platform/messages.h"

namespace zn::comms {

class FaxSendSession;
class FaxReceiveSession;
class TFxCustomAbstractFax;
class TFxFaxLog;
class TFxAbstractFaxStatus;
class TFxCustomComPort;

// fcUnknown, fcDetect, fcClass1, fcClass2, fcClass2_0: the engine's class codes 0..4.
using TFaxClass = FaxClassCode;
constexpr TFaxClass fcUnknown = TFaxClass(0);
constexpr TFaxClass fcClass2_0 = fcClass20;
using TFaxClassSet = std::set<TFaxClass>;

// The session's state at one engine call, as the component's read-only getters give it.
struct TFaxProgress {
    int statusCode = 0;
    int errorCode = 0;
    std::string remoteID;
    int32_t connectBPS = 0;
    bool hiRes = false, wideWidth = false, errorCorrection = false;
    int32_t hangupCode = 0;
    int32_t totalPages = 0, currentPage = 0, pageLength = 0, bytesTransferred = 0;
    int32_t dialAttempt = 0; // attempts made (the DialAttempt property adds 1)
    int32_t refusedPage = 0; // the last page refused for its copy quality (0: the cover)
    PageQuality refusedQuality; // receiving: the counts it was refused for
};

// ---- The history log ---------------------------------------------------------------------------

class TFxFaxLog : public TFxBaseComponent {
public:
    TFxFaxLog() = default;
    ~TFxFaxLog() override;

    std::string FaxHistoryName = "FXCFAX.HIS";
    TFxCustomAbstractFax* Fax() const { return fax_; }
    void SetFax(TFxCustomAbstractFax* fax);

    // Appends the entry of logCode to FaxHistoryName (nothing when the name is empty). A file that
    // cannot be opened raises EInOutError.
    virtual void WriteLogEntry(int logCode);
    // The entry's text, with dateTime as its time stamp.
    static std::string EntryText(const TFxCustomAbstractFax& fax, int logCode, const std::string& dateTime);
    // What a refused page's entry says, without its time: "Page 2 refused for its copy quality
    // (2294 rows, 160 bad, at most 1 bad in a row)" receiving, "Page 2 refused by the remote fax,
    // sent again at 9600 bps" sending.
    static std::string RefusedPageText(const TFxCustomAbstractFax& fax);

private:
    TFxCustomAbstractFax* fax_ = nullptr;
};

// ---- The status display ------------------------------------------------------------------------

// The form a concrete fax status display shows.
using FaxStatusForm = StatusDisplayForm;

class TFxAbstractFaxStatus : public TFxStatusDisplayBase {
public:
    ~TFxAbstractFaxStatus() override;

    TFxCustomAbstractFax* Fax() const { return fax_; }
    void SetFax(TFxCustomAbstractFax* fax);

    virtual void UpdateDisplay(bool first, bool last) = 0;

protected:
    TFxAbstractFaxStatus() = default;
    // CreateDisplay, the form's values copied, the caption "Fax Status".
    void Initialize() { TFxStatusDisplayBase::Initialize("Fax Status"); }

private:
    TFxCustomAbstractFax* fax_ = nullptr;
};

// ---- The fax components ------------------------------------------------------------------------

using TFaxStatusEvent = std::function<void(TFxCustomAbstractFax& cp, bool first, bool last)>;
using TFaxLogEvent = std::function<void(TFxCustomAbstractFax& cp, int logCode)>;
using TFaxErrorEvent = std::function<void(TFxCustomAbstractFax& cp, int errorCode)>;
using TFaxFinishEvent = std::function<void(TFxCustomAbstractFax& cp, int errorCode)>;
using TFaxAcceptEvent = std::function<void(TFxCustomAbstractFax& cp, bool& accept)>;
using TFaxNameEvent = std::function<void(TFxCustomAbstractFax& cp, std::string& name)>;
using TFaxNextEvent = std::function<void(TFxCustomAbstractFax& cp, std::string& phoneNumber, std::string& faxFile,
                                         std::string& coverFile)>;

// The text of a status code (4801..4843), empty for any other.
std::string StatusText(int code);

class TFxCustomAbstractFax : public TFxBaseComponent {
public:
    ~TFxCustomAbstractFax() override;
    TFxCustomAbstractFax(const TFxCustomAbstractFax&) = delete;
    TFxCustomAbstractFax& operator=(const TFxCustomAbstractFax&) = delete;

    bool IsSender() const { return kind_ == 1; }
    // The port, status display and log the component uses; the form that owns the component hands
    // them over.
    TFxCustomComPort* ComPort() const { return comPort_; }
    // A new port gets the fax line settings (8 data bits, 1 stop bit, no parity, 19200 baud,
    // queues of 8192 bytes, RTS/CTS flow control).
    void SetComPort(TFxCustomComPort* port);
    TFxAbstractFaxStatus* StatusDisplay() const { return statusDisplay_; }
    void SetStatusDisplay(TFxAbstractFaxStatus* display);
    TFxFaxLog* FaxLog() const { return faxLog_; }
    void SetFaxLog(TFxFaxLog* log);

    TFaxClass FaxClass = fcDetect;
    const std::string& ModemInit() const { return modemInit_; }
    void SetModemInit(const std::string& text);
    const std::string& StationID() const { return stationID_; }
    void SetStationID(const std::string& id) { stationID_ = id.substr(0, 20); }
    int InitBaud() const { return initBaud_; }
    void SetInitBaud(int baud);
    int NormalBaud = 0;
    bool AbortNoConnect = false;
    bool ExitOnError = false;
    bool SoftwareFlow = false;
    uint16_t StatusInterval = 1;
    uint16_t DesiredBPS = 9600;
    bool DesiredECM = false;
    std::string FaxFileExt = "APF";
    virtual std::string FaxFile() const = 0;
    virtual void SetFaxFile(const std::string& name) = 0;

    TFaxStatusEvent OnFaxStatus;
    TFaxLogEvent OnFaxLog;
    TFaxErrorEvent OnFaxError;
    TFaxFinishEvent OnFaxFinish;

    // True from the start of a session until its FaxFinish has been delivered.
    bool Busy() const { return busy_; }
    // Ends the running session with -6005 (user abort); also from inside an event handler.
    void CancelFax();
    TFaxClassSet GetSupportedFaxClasses();

    // Read-only state of the session, as at the event being delivered (or the last one).
    int GetProgressCode() const { return progress_.statusCode; }
    int GetErrorCode() const { return progress_.errorCode; }
    std::string GetRemoteID() const { return progress_.remoteID; }
    int32_t GetConnectBPS() const { return progress_.connectBPS; }
    bool GetHiRes() const { return progress_.hiRes; }
    bool GetWideWidth() const { return progress_.wideWidth; }
    bool GetErrorCorrection() const { return progress_.errorCorrection; }
    int32_t GetHangupCode() const { return progress_.hangupCode; }
    int32_t GetTotalPages() const { return progress_.totalPages; }
    int32_t GetCurrentPage() const { return progress_.currentPage; }
    int32_t GetPageLength() const { return progress_.pageLength; }
    int32_t GetBytesTransferred() const { return progress_.bytesTransferred; }
    const TFaxProgress& Progress() const { return progress_; }

    uint32_t HandlerWindow() const;

protected:
    explicit TFxCustomAbstractFax(int kind);
    // The concrete component makes its session with Link() as its events and attaches it; its
    // destructor calls StopSession while the session still exists.
    FaxEngineEvents& Link();
    void AttachSession(FaxSession& session) { session_ = &session; }
    void StopSession();

    virtual void FaxStatus(bool first, bool last);
    virtual void FaxLog(int logCode);
    virtual void FaxError(int errorCode);
    virtual void FaxFinish(int errorCode);

    // Checks the port and ties the session to its line; raises the port's exceptions.
    FaxPort& CheckPort();
    // Copies the common properties into the session before it starts.
    void ApplyCommon();
    // Starts the session on the line (its first pass runs here).
    void StartSession(FaxPort& line);
    virtual void OnSessionFinished() {}

    // The engine's calls, on the GUI thread. Answers go into the call, never into the session.
    struct EngineCall;
    // Delivers one engine call as the message window does.
    void DeliverCall(EngineCall& call) { Deliver(call); }
    virtual void DeliverNext(EngineCall& call) {}
    virtual void DeliverName(EngineCall& call) {}
    virtual void DeliverAccept(EngineCall& call) {}

    FaxSession* session_ = nullptr;

private:
    class EngineLink;
    struct LineGuard;
    void Deliver(EngineCall& call);
    void DrainQueue();
    platform::LResult WindowProc(uint32_t msg, uintptr_t w, intptr_t l);

    int kind_;
    TFxCustomComPort* comPort_ = nullptr;
    TFxAbstractFaxStatus* statusDisplay_ = nullptr;
    TFxFaxLog* faxLog_ = nullptr;
    std::string modemInit_;
    std::string stationID_;
    int initBaud_ = 0;
    bool busy_ = false;
    bool cancelling_ = false;
    bool remoteIdTimeNoted_ = false;
    uint32_t remoteIdTime_ = 0;
    TFaxClassSet lastClasses_;
    TFaxProgress progress_;

    std::thread::id guiThread_;
    std::unique_ptr<EngineLink> link_;
    std::unique_ptr<LineGuard> guard_;
    // Ends a running session when its port is about to close (TFxCustomComPort::WatchClose).
    std::shared_ptr<std::function<void()>> portClosing_;
    std::unique_ptr<platform::MessageWindow> window_;

    friend class TFxFaxLog;
};

struct TFxCustomAbstractFax::EngineCall {
    uint32_t msg = 0;
    int code = 0; // status: 1 first, 2 last; log code; error code; finish code
    TFaxProgress progress;
    // Answers (FaxNext: phone number, fax file, cover file; FaxName: name; FaxAccept: accept).
    bool answer = false;
    std::string phoneNumber, faxFile, coverFile, name;

    std::mutex lock;
    std::condition_variable doneSignal;
    bool started = false, done = false, abandoned = false;
};

// Text lines drawn in a toolkit font (the enhanced header and cover text); the programs with a GUI
// install the maker (InstallEnhancedFaxText). fine doubles the font for high resolution.
using TEnhancedTextMaker = std::function<std::unique_ptr<faxdoc::TTextReader>(const faxdoc::TFaxTextFont& font,
                                                                              bool fine, bool wide, int& result)>;
void SetEnhancedTextMaker(TEnhancedTextMaker maker);

// The page header line and text cover lines as MH-coded rows: the fax font (size 16 for the header,
// 48 for the cover), or with enhanced text the header and cover fonts through the installed maker.
class FaxFontTextRows : public FaxTextRows {
public:
    bool enhanced = false;
    faxdoc::TFaxTextFont headerFont, coverFont;
    int CodeText(const std::string& text, bool headerFont, bool fine, bool wide,
                 std::vector<std::vector<uint8_t>>& rows) override;
};

class TFxCustomSendFax : public TFxCustomAbstractFax {
public:
    TFxCustomSendFax();
    ~TFxCustomSendFax() override;

    std::vector<std::string> FaxFileList;
    std::string FaxFile() const override { return FaxFileList.empty() ? std::string() : FaxFileList.front(); }
    void SetFaxFile(const std::string& name) override { FaxFileList.assign(1, name); }
    std::string CoverFile;
    std::string PhoneNumber;

    bool EnhTextEnabled = false;
    faxdoc::TFaxTextFont EnhHeaderFont, EnhFont;
    bool BlindDial = false;
    bool DetectBusy = true;
    bool ToneDial = true;
    const std::string& DialPrefix() const { return dialPrefix_; }
    void SetDialPrefix(const std::string& prefix) { dialPrefix_ = prefix.substr(0, 40); }
    uint16_t DialWait() const;
    void SetDialWait(uint16_t seconds) { dialWaitTicks_ = SecondsToTicks(seconds); }
    uint16_t DialAttempts = 3;
    uint16_t DialRetryWait = 60; // seconds
    uint16_t MaxSendCount = 50;
    uint16_t BufferMinimum = 1000;
    bool SafeMode = true;
    std::string HeaderLine, HeaderSender, HeaderRecipient, HeaderTitle;
    uint16_t DialAttempt() const { return uint16_t(Progress().dialAttempt + 1); }
    void SetSendMPS(bool on);

    TFaxNextEvent OnFaxNext;

    // Starts sending; raises the port's exceptions and those of joining the files. Does nothing
    // while the component is busy.
    void StartTransmit();
    // The name of the joined file while a session sends one (empty otherwise).
    const std::string& JoinedFileName() const { return joinedFile_; }

protected:
    virtual void FaxNext(std::string& phoneNumber, std::string& faxFile, std::string& coverFile);
    void DeliverNext(EngineCall& call) override;
    void OnSessionFinished() override;

private:
    void RemoveJoinedFile();

    std::unique_ptr<FaxSendSession> send_;
    std::unique_ptr<FaxFontTextRows> textRows_;
    std::string dialPrefix_;
    int32_t dialWaitTicks_;
    std::string joinedFile_;
    bool entryGiven_ = false;
};

class TFxSendFax : public TFxCustomSendFax {};

class TFxCustomReceiveFax : public TFxCustomAbstractFax {
public:
    TFxCustomReceiveFax();
    ~TFxCustomReceiveFax() override;

    std::string FaxFile() const override { return faxFile_; }
    void SetFaxFile(const std::string& name) override { faxFile_ = name; }
    uint16_t AnswerOnRing = 1;
    bool FaxAndData = false;
    bool OneFax = false;
    bool ConstantStatus = false;
    const std::string& DestinationDir() const { return destinationDir_; }
    void SetDestinationDir(const std::string& dir);
    int NamingMode = 1; // 1 "FAX" names, 2 "MMDD" names

    TFaxAcceptEvent OnFaxAccept;
    TFaxNameEvent OnFaxName;

    // Starts receiving; raises the port's exceptions. Does nothing while the component is busy.
    void StartReceive();

protected:
    virtual void FaxAccept(bool& accept);
    virtual void FaxName(std::string& name);
    void FaxLog(int logCode) override;
    void DeliverName(EngineCall& call) override;
    void DeliverAccept(EngineCall& call) override;

private:
    std::unique_ptr<FaxReceiveSession> receive_;
    std::string faxFile_;
    std::string destinationDir_;
};

class TFxReceiveFax : public TFxCustomReceiveFax {};

// Joins fax image files into target: the first whole, the pages of the others appended, the page
// counts added up. 0, -8001 for a file that is not a fax image file, or a negative I/O code.
int JoinFaxFiles(const std::vector<std::string>& files, const std::string& target);
// Creates an empty file "~AP....APF" in the system's temporary folder; its name, or empty (errno
// set) when it could not be made.
std::string MakeTempFaxName();

} // namespace zn::comms
