#include "comms/fax/fax_components.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

#include "comms/fax/fax_component_port.h"
#include "comms/engine/fax_receive_session.h"
#include "comms/engine/fax_send_session.h"
#include "comms/base/string_resource.h"
#include "faxdoc/apf_file.h"
#include "faxdoc/apf_join.h"
#include "faxdoc/converter.h"
#include "platform/clock.h"
#include "platform/date_format.h"
#include "platform/file_replacement.h"
#include "platform/folders.h"
#include "platform/io_error.h"
#include "platform/messages.h"

namespace zn::comms {

namespace {

constexpr int kNextTimeoutMs = 2000;
constexpr int kCallTimeoutMs = 1000;

std::string NowText() { return platform::FormatDateTime("c", platform::Now()); }

// A file name as the disk spells it (the engine opens names as given).
std::string DiskName(const std::string& name) { return name.empty() ? name : platform::ResolvePath(name); }

} // namespace

TEnhancedTextMaker& EnhancedTextMaker()
{
    static TEnhancedTextMaker maker;
    return maker;
}

void SetEnhancedTextMaker(TEnhancedTextMaker maker) { EnhancedTextMaker() = std::move(maker); }

int FaxFontTextRows::CodeText(const std::string& text, bool header, bool fine, bool wide,
                              std::vector<std::vector<uint8_t>>& rows)
{
    std::unique_ptr<faxdoc::TTextReader> reader;
    if (enhanced && EnhancedTextMaker()) {
        int rc = 0;
        reader = EnhancedTextMaker()(header ? headerFont : coverFont, fine, wide, rc);
        if (rc < 0)
            return rc;
    } else {
        reader = std::make_unique<faxdoc::TTextReader>();
        if (int rc = reader->LoadFaxFont("APFAX.FNT", header ? 16 : 48, fine))
            return rc;
    }
    faxdoc::TTextReader& font = *reader;
    faxdoc::ConverterState state(std::move(reader));
    state.SetResolution(fine);
    state.SetWidth(wide ? 2 : 1);
    std::vector<uint8_t> raster(faxdoc::kRasterBufferSize);
    rows.clear();
    for (int row = 1; row <= font.GlyphHeight(); ++row) {
        std::fill(raster.begin(), raster.end(), 0);
        font.RasterizeTextRow(text, row, raster.data());
        int n = state.CompressRasterLine(raster.data());
        rows.emplace_back(state.CodedRow(), state.CodedRow() + n);
    }
    return 0;
}

std::string StatusText(int code)
{
    if (code < 4801 || code > 4843)
        return {};
    return ErrorStrings().TextById(uint32_t(code));
}

// ---- The engine link: the engine's calls become queued events -----------------------------------

class TFxCustomAbstractFax::EngineLink : public FaxEngineEvents {
public:
    explicit EngineLink(TFxCustomAbstractFax& owner) : owner_(owner) {}

    bool FaxNext(FaxSession& s) override
    {
        auto call = Ask(s, fmFaxNext, 0, kNextTimeoutMs);
        if (!call || !call->answer || call->phoneNumber.empty())
            return false;
        s.common.phoneNumber = call->phoneNumber.substr(0, 40);
        s.common.faxFile = DiskName(call->faxFile).substr(0, 255);
        s.common.coverFile = DiskName(call->coverFile).substr(0, 255);
        return true;
    }
    void FaxStatus(FaxSession& s, bool first, bool last) override
    {
        Ask(s, fmFaxStatus, first ? 1 : last ? 2 : 0, kCallTimeoutMs);
    }
    void FaxLog(FaxSession& s, int code) override { Ask(s, fmFaxLog, code, kCallTimeoutMs); }
    void FaxName(FaxSession& s) override
    {
        auto call = Ask(s, fmFaxName, 0, kCallTimeoutMs);
        s.common.faxFile = call ? call->name.substr(0, 255) : std::string();
    }
    bool FaxAccept(FaxSession& s) override
    {
        auto call = Ask(s, fmFaxAccept, 0, kCallTimeoutMs);
        return call && call->answer;
    }
    void FaxError(FaxSession& s, int code) override { Ask(s, fmFaxError, code, kCallTimeoutMs); }
    void FaxFinish(FaxSession& s, int code) override
    {
        // Posted: delivered after the pass that finished the session.
        auto call = MakeCall(s, fmFaxFinish, int16_t(code & 0xFFFF));
        Queue(call);
    }

    // Delivers every queued call in order, on the GUI thread.
    void Drain()
    {
        for (;;) {
            std::shared_ptr<EngineCall> call;
            {
                std::lock_guard<std::mutex> g(queueLock_);
                if (queue_.empty())
                    return;
                call = queue_.front();
                queue_.pop_front();
            }
            {
                std::lock_guard<std::mutex> g(call->lock);
                if (call->abandoned)
                    continue;
                call->started = true;
            }
            delivering_.push_back(call);
            try {
                owner_.Deliver(*call);
            } catch (const std::exception& e) {
                // An event handler's exception must not leave the message layer; the application's
                // handlers report their own failures.
                std::fprintf(stderr, "fax event %04X: %s\n", unsigned(call->msg), e.what());
            }
            delivering_.pop_back();
            Complete(*call);
        }
    }

    // Lets the dispatch thread go on from the notifications being delivered now: a cancel from
    // inside an event handler must not wait for the pass that waits for that handler.
    void ReleaseNotifications()
    {
        for (const auto& call : delivering_)
            if (!IsQuestion(call->msg))
                Complete(*call);
    }

    void Forget()
    {
        std::lock_guard<std::mutex> g(queueLock_);
        queue_.clear();
    }

private:
    std::shared_ptr<EngineCall> MakeCall(FaxSession& s, uint32_t msg, int code)
    {
        auto call = std::make_shared<EngineCall>();
        call->msg = msg;
        call->code = code;
        TFaxProgress& p = call->progress;
        p.statusCode = s.common.statusCode;
        p.errorCode = s.common.errorCode;
        p.remoteID = s.common.remoteID;
        p.connectBPS = s.modem.bitRate;
        p.hiRes = s.modem.fine;
        p.wideWidth = s.modem.wide;
        p.errorCorrection = s.modem.ECM;
        p.hangupCode = s.modem.hangupCode;
        p.dialAttempt = s.common.dialAttempt;
        p.refusedPage = s.common.refusedPage;
        p.refusedQuality = s.common.refusedQuality;
        if (auto* send = dynamic_cast<FaxSendSession*>(&s)) {
            const FaxSendSession::PageOnLine page =
                send->PageOnTheLine(s.common.dispatcher ? s.common.dispatcher->OutputCount() : 0);
            p.totalPages = s.common.totalPages;
            p.currentPage = page.page;
            p.pageLength = page.length;
            p.bytesTransferred = page.bytes;
        } else {
            p.currentPage = s.common.currentPage;
            p.bytesTransferred = s.common.bytesTransferred;
        }
        return call;
    }

    void Queue(const std::shared_ptr<EngineCall>& call)
    {
        {
            std::lock_guard<std::mutex> g(queueLock_);
            queue_.push_back(call);
        }
        platform::PostMessageTo(owner_.HandlerWindow(), call->msg, 0, 0);
    }

    // Queues the call and waits for its delivery; nullptr when it did not complete in time (a
    // question not yet asked by then is never asked).
    std::shared_ptr<EngineCall> Ask(FaxSession& s, uint32_t msg, int code, int timeoutMs)
    {
        auto call = MakeCall(s, msg, code);
        if (std::this_thread::get_id() == owner_.guiThread_) {
            {
                std::lock_guard<std::mutex> g(queueLock_);
                queue_.push_back(call);
            }
            Drain();
            std::lock_guard<std::mutex> g(call->lock);
            return call->done ? call : nullptr;
        }
        Queue(call);
        std::unique_lock<std::mutex> g(call->lock);
        if (call->doneSignal.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return call->done; }))
            return call;
        if (IsQuestion(msg) && !call->started)
            call->abandoned = true;
        return nullptr;
    }

    static bool IsQuestion(uint32_t msg) { return msg == fmFaxNext || msg == fmFaxName || msg == fmFaxAccept; }
    static void Complete(EngineCall& call)
    {
        std::lock_guard<std::mutex> g(call.lock);
        call.done = true;
        call.doneSignal.notify_all();
    }

    TFxCustomAbstractFax& owner_;
    std::mutex queueLock_;
    std::deque<std::shared_ptr<EngineCall>> queue_;
    std::vector<std::shared_ptr<EngineCall>> delivering_; // GUI thread only, innermost last
};

// ---- TFxCustomAbstractFax ------------------------------------------------------------------------

struct TFxCustomAbstractFax::LineGuard {
    FaxSessionLine port;
};

TFxCustomAbstractFax::TFxCustomAbstractFax(int kind)
    : kind_(kind), guiThread_(std::this_thread::get_id()), link_(std::make_unique<EngineLink>(*this)),
      guard_(std::make_unique<LineGuard>())
{
    portClosing_ = std::make_shared<std::function<void()>>([this] {
        if (!busy_ || std::this_thread::get_id() != guiThread_)
            return;
        CancelFax();
        // The abort may still hang up the modem; its end is awaited while the dispatcher is there.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (busy_ && std::chrono::steady_clock::now() < until) {
            link_->Drain();
            if (busy_)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    window_ = std::make_unique<platform::MessageWindow>(
        "fxFaxHandler", [this](uint32_t msg, platform::WParam w, platform::LParam l) { return WindowProc(msg, w, l); });
}

TFxCustomAbstractFax::~TFxCustomAbstractFax()
{
    window_.reset();
    if (statusDisplay_ && statusDisplay_->Fax() == this)
        statusDisplay_->SetFax(nullptr);
    if (faxLog_ && faxLog_->Fax() == this)
        faxLog_->SetFax(nullptr);
}

FaxEngineEvents& TFxCustomAbstractFax::Link() { return *link_; }

void TFxCustomAbstractFax::StopSession()
{
    // Runs in the concrete component's destructor, while its session still exists.
    if (session_)
        CancelFax();
    guard_->port.WaitIdle();
    // What the session still told the component (its FaxFinish above all) is delivered first.
    link_->Drain();
    link_->Forget();
}

uint32_t TFxCustomAbstractFax::HandlerWindow() const { return window_ ? window_->Handle() : 0; }

platform::LResult TFxCustomAbstractFax::WindowProc(uint32_t msg, uintptr_t, intptr_t)
{
    if (msg >= fmFaxNext && msg <= fmFaxFinish)
        link_->Drain();
    return 0;
}

void TFxCustomAbstractFax::Deliver(EngineCall& call)
{
    progress_ = call.progress;
    switch (call.msg) {
    case fmFaxNext: DeliverNext(call); break;
    case fmFaxStatus: FaxStatus(call.code == 1, call.code == 2); break;
    case fmFaxLog: FaxLog(call.code); break;
    case fmFaxName: DeliverName(call); break;
    case fmFaxAccept: DeliverAccept(call); break;
    case fmFaxError: FaxError(call.code); break;
    case fmFaxFinish:
        // Once per session: a second finish of the same run finds the component idle.
        if (!busy_)
            break;
        busy_ = false;
        FaxFinish(call.code);
        break;
    default: break;
    }
}

void TFxCustomAbstractFax::SetComPort(TFxCustomComPort* port)
{
    comPort_ = port;
    if (port) {
        ApplyFaxLineSettings(*port);
        WatchPortClose(*port, portClosing_);
    }
}

void TFxCustomAbstractFax::SetStatusDisplay(TFxAbstractFaxStatus* display)
{
    if (statusDisplay_ == display)
        return;
    if (statusDisplay_ && statusDisplay_->Fax() == this)
        statusDisplay_->SetFax(nullptr);
    statusDisplay_ = display;
    if (display)
        display->SetFax(this);
}

void TFxCustomAbstractFax::SetFaxLog(TFxFaxLog* log)
{
    if (faxLog_ == log)
        return;
    if (faxLog_ && faxLog_->Fax() == this)
        faxLog_->SetFax(nullptr);
    faxLog_ = log;
    if (log)
        log->SetFax(this);
}

void TFxCustomAbstractFax::SetModemInit(const std::string& text) { modemInit_ = NormaliseModemInit(text); }

void TFxCustomAbstractFax::SetInitBaud(int baud)
{
    initBaud_ = baud;
    if (!comPort_)
        return;
    if (NormalBaud == 0)
        NormalBaud = int(PortBaud(*comPort_));
    // The switch to the init baud follows at once on an open port, outside a session.
    if (PortIsOpen(*comPort_) && !busy_) {
        CheckPort();
        session_->modem.InitBaud = uint32_t(initBaud_);
        session_->modem.NormalBaud = uint32_t(NormalBaud);
        session_->BaudSwitch(true);
    }
}

FaxPort& TFxCustomAbstractFax::CheckPort()
{
    FaxPort& line = guard_->port.Attach(comPort_);
    session_->common.dispatcher = &line;
    return line;
}

void TFxCustomAbstractFax::ApplyCommon()
{
    TFaxCommonRec& c = session_->common;
    TFaxModemRec& m = session_->modem;
    c.faxClass = FaxClass;
    m.ModemInit = modemInit_;
    c.StationID = stationID_;
    m.InitBaud = uint32_t(initBaud_);
    m.NormalBaud = uint32_t(NormalBaud);
    c.options = (AbortNoConnect ? foAbortNoConnect : 0) | (ExitOnError ? foExitOnError : 0)
                | (SoftwareFlow ? foSoftwareFlow : 0);
    c.StatusInterval = StatusInterval;
    m.DesiredBPS = DesiredBPS;
    m.ecmDigit = DesiredECM ? '1' : '0';
    c.FaxFileExt = FaxFileExt.substr(0, 3);
    c.window = HandlerWindow();
}

void TFxCustomAbstractFax::StartSession(FaxPort& line)
{
    progress_ = TFaxProgress{};
    remoteIdTimeNoted_ = false;
    busy_ = true;
    session_->Start(line);
}

void TFxCustomAbstractFax::CancelFax()
{
    // The session checks under its own lock whether it still runs.
    if (std::this_thread::get_id() != guiThread_) {
        session_->Cancel();
        return;
    }
    if (!busy_ || cancelling_)
        return;
    // The abort pass waits for the session's lock, which the dispatch thread may hold while it
    // waits for this thread: the pass runs beside the GUI thread, which keeps delivering the
    // engine's calls until it is over.
    cancelling_ = true;
    link_->ReleaseNotifications();
    std::atomic<bool> done{false};
    std::thread abort([this, &done] {
        session_->Cancel();
        done = true;
    });
    while (!done) {
        link_->Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    abort.join();
    cancelling_ = false;
}

TFaxClassSet TFxCustomAbstractFax::GetSupportedFaxClasses()
{
    if (busy_)
        return lastClasses_;
    CheckPort();
    FaxModemCommands::Classes found = session_->DetectClasses(false);
    lastClasses_.clear();
    if (found.class1)
        lastClasses_.insert(fcClass1);
    if (found.class2)
        lastClasses_.insert(fcClass2);
    if (found.class20)
        lastClasses_.insert(fcClass2_0);
    return lastClasses_;
}

void TFxCustomAbstractFax::FaxStatus(bool first, bool last)
{
    if (GetProgressCode() == 4841 && !remoteIdTimeNoted_) {
        remoteIdTimeNoted_ = true;
        remoteIdTime_ = MillisecondClock();
    }
    if (statusDisplay_)
        statusDisplay_->UpdateDisplay(first, last);
    if (OnFaxStatus)
        OnFaxStatus(*this, first, last);
}

void TFxCustomAbstractFax::FaxLog(int logCode)
{
    if (faxLog_)
        faxLog_->WriteLogEntry(logCode);
    if (OnFaxLog)
        OnFaxLog(*this, logCode);
}

void TFxCustomAbstractFax::FaxError(int errorCode)
{
    if (OnFaxError)
        OnFaxError(*this, errorCode);
}

void TFxCustomAbstractFax::FaxFinish(int errorCode)
{
    OnSessionFinished();
    if (OnFaxFinish)
        OnFaxFinish(*this, errorCode);
}

// ---- TFxCustomSendFax ----------------------------------------------------------------------------

TFxCustomSendFax::TFxCustomSendFax() : TFxCustomAbstractFax(1), dialWaitTicks_(SecondsToTicks(60))
{
    send_ = std::make_unique<FaxSendSession>(Link());
    textRows_ = std::make_unique<FaxFontTextRows>();
    send_->textRows = textRows_.get();
    AttachSession(*send_);
}

TFxCustomSendFax::~TFxCustomSendFax()
{
    StopSession();
    RemoveJoinedFile();
}

uint16_t TFxCustomSendFax::DialWait() const { return uint16_t(TicksToSeconds(dialWaitTicks_)); }

void TFxCustomSendFax::SetSendMPS(bool on) { send_->sendMPS = on; }

void TFxCustomSendFax::StartTransmit()
{
    // One session per record: a start before the running session's FaxFinish has been delivered
    // would register the record twice on the port.
    if (Busy())
        return;
    FaxPort& line = CheckPort();
    RemoveJoinedFile();
    if (FaxFileList.size() >= 2 && !OnFaxNext) {
        std::string target = MakeTempFaxName();
        if (target.empty()) {
            RaiseFileError(errno);
        }
        joinedFile_ = target;
        if (int rc = JoinFaxFiles(FaxFileList, target)) {
            RemoveJoinedFile();
            RaiseFaxComponentError(rc);
        }
    }
    entryGiven_ = false;
    ApplyCommon();
    FaxSendSession& s = *send_;
    s.modem.BlindDial = BlindDial;
    s.modem.DetectBusy = DetectBusy;
    s.modem.defaultInit = DefaultInitString(BlindDial, DetectBusy);
    s.modem.ToneDial = ToneDial;
    s.modem.DialPrefix = dialPrefix_;
    s.modem.DialWait = dialWaitTicks_;
    s.common.DialAttempts = DialAttempts;
    s.common.DialRetryWait = SecondsToTicks(DialRetryWait);
    s.MaxSendCount = MaxSendCount;
    s.BufferMinimum = BufferMinimum;
    s.SafeMode = SafeMode;
    s.HeaderLine = HeaderLine.substr(0, 255);
    textRows_->enhanced = EnhTextEnabled;
    textRows_->headerFont = EnhHeaderFont;
    textRows_->coverFont = EnhFont;
    s.HeaderSender = HeaderSender;
    s.HeaderRecipient = HeaderRecipient;
    s.HeaderTitle = HeaderTitle;
    StartSession(line);
}

void TFxCustomSendFax::FaxNext(std::string& phoneNumber, std::string& faxFile, std::string& coverFile)
{
    if (OnFaxNext) {
        phoneNumber.clear();
        faxFile.clear();
        coverFile.clear();
        OnFaxNext(*this, phoneNumber, faxFile, coverFile);
        PhoneNumber = phoneNumber;
        SetFaxFile(faxFile);
        CoverFile = coverFile;
        return;
    }
    if (entryGiven_) {
        phoneNumber.clear();
        faxFile.clear();
        coverFile.clear();
        return;
    }
    phoneNumber = PhoneNumber;
    faxFile = !joinedFile_.empty() ? joinedFile_ : FaxFile();
    coverFile = CoverFile;
    entryGiven_ = true;
}

void TFxCustomSendFax::DeliverNext(EngineCall& call)
{
    FaxNext(call.phoneNumber, call.faxFile, call.coverFile);
    call.answer = !call.phoneNumber.empty();
}

void TFxCustomSendFax::OnSessionFinished() { RemoveJoinedFile(); }

void TFxCustomSendFax::RemoveJoinedFile()
{
    if (!joinedFile_.empty())
        std::remove(joinedFile_.c_str());
    joinedFile_.clear();
}

// ---- TFxCustomReceiveFax -------------------------------------------------------------------------

TFxCustomReceiveFax::TFxCustomReceiveFax() : TFxCustomAbstractFax(2)
{
    FaxClass = fcDetect;
    receive_ = std::make_unique<FaxReceiveSession>(Link());
    AttachSession(*receive_);
}

TFxCustomReceiveFax::~TFxCustomReceiveFax() { StopSession(); }

void TFxCustomReceiveFax::SetDestinationDir(const std::string& dir)
{
    destinationDir_ = dir;
    if (!destinationDir_.empty() && destinationDir_.back() != '/' && destinationDir_.back() != '\\')
        destinationDir_ += '/';
}

void TFxCustomReceiveFax::StartReceive()
{
    if (Busy())
        return;
    FaxPort& line = CheckPort();
    ApplyCommon();
    FaxReceiveSession& s = *receive_;
    if (!s.modem.modemSetUp)
        s.startState = rfInit;
    s.modem.AnswerOnRing = AnswerOnRing;
    s.modem.faxAndDataDigit = FaxAndData ? '1' : '0';
    s.OneFax = OneFax;
    s.ConstantStatus = ConstantStatus;
    s.common.DestinationDir = destinationDir_;
    faxFile_.clear();
    StartSession(line);
}

void TFxCustomReceiveFax::FaxAccept(bool& accept)
{
    if (OnFaxAccept)
        OnFaxAccept(*this, accept);
}

void TFxCustomReceiveFax::FaxName(std::string& name)
{
    if (OnFaxName) {
        OnFaxName(*this, name);
        return;
    }
    if (NamingMode == 1 || NamingMode == 2) {
        platform::DateTime now = platform::Now();
        name = ReceiveFileName(NamingMode == 1 ? "FAX" : "MMDD", destinationDir_, FaxFileExt, now.month, now.day);
    } else {
        name = "noname.apf";
    }
}

void TFxCustomReceiveFax::DeliverName(EngineCall& call)
{
    FaxName(call.name);
    faxFile_ = call.name;
}

void TFxCustomReceiveFax::DeliverAccept(EngineCall& call)
{
    bool accept = true;
    FaxAccept(accept);
    call.answer = accept;
}

void TFxCustomReceiveFax::FaxLog(int logCode)
{
    TFxCustomAbstractFax::FaxLog(logCode);
    if (logCode == lfReceiveOK || logCode == lfReceiveSkip || logCode == lfReceiveFail)
        faxFile_.clear();
}

// ---- TFxFaxLog -----------------------------------------------------------------------------------

TFxFaxLog::~TFxFaxLog()
{
    if (fax_ && fax_->FaxLog() == this)
        fax_->SetFaxLog(nullptr);
}

void TFxFaxLog::SetFax(TFxCustomAbstractFax* fax)
{
    if (fax_ == fax)
        return;
    TFxCustomAbstractFax* old = fax_;
    fax_ = fax;
    if (old && old->FaxLog() == this)
        old->SetFaxLog(nullptr);
    if (fax && fax->FaxLog() != this)
        fax->SetFaxLog(this);
}

std::string TFxFaxLog::EntryText(const TFxCustomAbstractFax& fax, int logCode, const std::string& dateTime)
{
    const std::string crlf = "\r\n";
    std::string hangup = std::to_string(fax.GetHangupCode());
    std::string text;
    auto line = [&](const std::string& s) { text += s + crlf; };
    if (fax.IsSender()) {
        const auto& sender = static_cast<const TFxCustomSendFax&>(fax);
        switch (logCode) {
        case lfTransmitStart:
            for (const std::string& file : sender.FaxFileList)
                line("Transmit " + file + " to " + sender.PhoneNumber + " started at " + dateTime);
            break;
        case lfTransmitOK:
            line("Transmit to " + fax.GetRemoteID() + " finished OK at " + dateTime + " " + hangup + crlf);
            break;
        case lfTransmitFail:
            line("Transmit failed at " + dateTime + crlf + "  (" + FaxErrorText(fax.GetErrorCode()) + ") " + hangup
                 + crlf);
            break;
        case lfPageResent: line(RefusedPageText(fax) + " at " + dateTime); break;
        default: break;
        }
    } else {
        switch (logCode) {
        case lfReceiveStart:
            line("Receive " + fax.FaxFile() + " from " + fax.GetRemoteID() + " started at " + dateTime);
            break;
        case lfReceiveOK: line("Receive finished OK at " + dateTime + crlf); break;
        case lfReceiveSkip: line("Receive skipped at " + dateTime + crlf); break;
        case lfReceiveFail:
            line("Receive failed at " + dateTime + crlf + "  (" + FaxErrorText(fax.GetErrorCode()) + ")" + crlf);
            break;
        case lfPageRefused: line(RefusedPageText(fax) + " at " + dateTime); break;
        default: break;
        }
    }
    return text;
}

std::string TFxFaxLog::RefusedPageText(const TFxCustomAbstractFax& fax)
{
    const TFaxProgress& p = fax.Progress();
    const std::string page = p.refusedPage > 0 ? "Page " + std::to_string(p.refusedPage) : std::string("The cover page");
    if (fax.IsSender())
        return page + " refused by the remote fax, sent again at " + std::to_string(p.connectBPS) + " bps";
    const PageQuality& q = p.refusedQuality;
    return page + " refused for its copy quality (" + std::to_string(q.rows) + " rows, " + std::to_string(q.badRows)
           + " bad, at most " + std::to_string(q.consecutiveBadRows) + " bad in a row)";
}

void TFxFaxLog::WriteLogEntry(int logCode)
{
    if (FaxHistoryName.empty() || !fax_)
        return;
    std::string text = EntryText(*fax_, logCode, NowText());
    if (text.empty())
        return;
    std::string path = platform::ResolvePath(FaxHistoryName);
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) {
        RaiseFileError(errno);
    }
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f); // a failing close is ignored
}

// ---- TFxAbstractFaxStatus ------------------------------------------------------------------------

TFxAbstractFaxStatus::~TFxAbstractFaxStatus()
{
    if (fax_ && fax_->StatusDisplay() == this)
        fax_->SetStatusDisplay(nullptr);
}

void TFxAbstractFaxStatus::SetFax(TFxCustomAbstractFax* fax)
{
    if (fax_ == fax)
        return;
    TFxCustomAbstractFax* old = fax_;
    fax_ = fax;
    if (old && old->StatusDisplay() == this)
        old->SetStatusDisplay(nullptr);
    if (fax && fax->StatusDisplay() != this)
        fax->SetStatusDisplay(this);
}

// ---- Joining fax files ---------------------------------------------------------------------------

int JoinFaxFiles(const std::vector<std::string>& files, const std::string& target)
{
    if (files.empty())
        return ecNoFilename;
    std::vector<std::string> onDisk;
    for (const auto& f : files)
        onDisk.push_back(DiskName(f));
    return faxdoc::JoinApfFiles(onDisk, target);
}

std::string MakeTempFaxName()
{
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec)
        dir = "/tmp";
    std::string pattern = (dir / "~APXXXXXX.APF").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemps(name.data(), 4);
    if (fd < 0)
        return {};
    ::close(fd);
    return name.data();
}

} // namespace zn::comms
