#include "fax_session_glue.h"

#include <cctype>
#include <cstdio>
#include <algorithm>
#include <set>

#include "platform/file_replacement.h"
#include "platform/folders.h"

namespace zn::comms {

namespace {
constexpr uint8_t kDle = 0x10, kEtx = 0x03;
std::string Upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string WithSeparator(std::string dir)
{
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\')
        dir += '/';
    return dir;
}
} // namespace

std::string ReceiveFileName(const std::string& mode, const std::string& destinationDir, const std::string& ext,
                            int month, int day)
{
    const std::string dir = WithSeparator(destinationDir);
    std::string stem = "FAX";
    if (mode == "MMDD") {
        char md[8];
        std::snprintf(md, sizeof md, "%02d%02d", month % 100, day % 100);
        stem = md;
    }
    // A name is taken in any spelling: "fax0001.apf" holds FAX0001.APF too. One scan of the folder.
    std::set<std::string> taken;
    for (const auto& name : zn::platform::ListFolderCI(dir, stem + "????." + ext))
        taken.insert(Upper(name));
    // A name whose fax is being received now (by this or another program) is taken too.
    auto isFree = [&](const std::string& name) {
        return !taken.count(Upper(name)) && !zn::platform::HasLiveTemporary(dir + name);
    };
    for (int n = 1; n <= 9999; ++n) {
        char num[8];
        std::snprintf(num, sizeof num, "%04d", n);
        const std::string name = stem + num + "." + ext;
        if (isFree(name))
            return dir + name;
    }
    return NonameReceiveFileName(dir);
}

std::string NonameReceiveFileName(const std::string& folder)
{
    const std::string dir = WithSeparator(folder);
    std::set<std::string> taken;
    for (const auto& name : zn::platform::ListFolderCI(dir, "NONAME*.APF"))
        taken.insert(Upper(name));
    for (int n = 0;; ++n) {
        const std::string name = n == 0 ? "NONAME.APF" : "NONAME" + std::to_string(n) + ".APF";
        if (!taken.count(name) && !zn::platform::HasLiveTemporary(dir + name))
            return dir + name;
    }
}

std::string ExpandHeaderLine(const std::string& line, const HeaderValues& v)
{
    std::string s = line;
    size_t pos = s.find('$');
    while (pos != std::string::npos) {
        size_t end = s.find(' ', pos);
        if (end == std::string::npos)
            end = s.size();
        char letter = pos + 1 < s.size() ? char(std::toupper(static_cast<unsigned char>(s[pos + 1]))) : 0;
        std::string with;
        switch (letter) {
        case 'D': with = v.date; break;
        case 'T': with = v.time; break;
        case 'I': with = v.stationId; break;
        case 'P':
            with = std::to_string(!v.withCover ? v.currentPage : v.currentPage == 0 ? 1 : v.currentPage + 1);
            break;
        case 'N': with = std::to_string(v.totalPages + (v.withCover ? 1 : 0)); break;
        case 'F': with = v.sender; break;
        case 'R': with = v.recipient; break;
        case 'S': with = v.title; break;
        default: break;
        }
        s.replace(pos, end - pos, with);
        // Continue behind the inserted text: a replacement may itself hold a "$".
        pos = s.find('$', pos + with.size());
    }
    return s.substr(0, 255);
}

} // namespace zn::comms

namespace zn::comms {

FaxSession::~FaxSession() { Detach(); }

void FaxSession::Detach()
{
    // Waits for a pass that is running, then takes the session off the port for good.
    std::lock_guard<std::recursive_mutex> hold(passLock_);
    if (common.dispatcher && (common.handlerRegistered || common.responseTimer > 0)) {
        common.dispatcher->RemoveProcedureHandler(this);
        for (int* h : {&common.statusTimer, &common.responseTimer, &common.outputFreeTrigger, &common.outputSentTrigger,
                       &common.modemStatusTrigger})
            if (*h > 0) {
                common.dispatcher->RemoveTrigger(*h);
                *h = 0;
            }
        common.handlerRegistered = false;
    }
}

int FaxSession::Start(FaxPort& port)
{
    std::lock_guard<std::recursive_mutex> hold(passLock_);
    common.dispatcher = &port;
    common.handlerRegistered = false;
    finished_ = false;
    framePending_ = frameDamaged_ = frameEnded_ = afterDle_ = false;
    damagedFrames_ = 0;
    port.SetAvailLevel(1);
    common.responseTimer = port.AddTimerTrigger();
    common.statusTimer = port.AddTimerTrigger();
    common.outputFreeTrigger = port.AddStatusTrigger(stOutputFree);
    common.outputSentTrigger = port.AddStatusTrigger(stOutputSent);
    common.modemStatusTrigger = port.AddStatusTrigger(stModemStatus);
    if (common.responseTimer < 0 || common.statusTimer < 0 || common.outputFreeTrigger < 0
        || common.outputSentTrigger < 0 || common.modemStatusTrigger < 0) {
        ReportError(ecNoMoreTriggers);
        FinishSession();
        return ecNoMoreTriggers;
    }
    port.SetUserSlot(this, 2);
    Prepare();
    if (common.errorCode != 0) {
        ReportStatus(false, true);
        FinishSession();
        return common.errorCode;
    }
    common.active = true;
    port.AddProcedureHandler(this, [this](uint32_t msg, uintptr_t w, intptr_t l) { Handler(msg, w, l); });
    common.handlerRegistered = true;
    Handler(0, 0, intptr_t(port.Handle()) << 16);
    if (!finished_)
        ArmStatusTimer();
    return 0;
}

void FaxSession::Cancel()
{
    std::lock_guard<std::recursive_mutex> hold(passLock_);
    if (common.active && !finished_)
        Handler(fmAbortRequest, 0, 0);
}

void FaxSession::Handler(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    std::lock_guard<std::recursive_mutex> hold(passLock_);
    if (finished_)
        return;
    int trigger = msg == kMsgTimerTrigger || msg == kMsgStatusTrigger ? int(wParam) : 0;
    Pass(msg, trigger);
}

void FaxSession::Pass(uint32_t msg, int trigger)
{
    if (!OwnTrigger(trigger) || Aborting() || Done())
        return;
    LogState();
    bool runStep = true;
    if (msg == fmAbortRequest) {
        common.statusCode = fsUserAbort;
        common.errorCode = ecCancelRequested;
        userAbort_ = true;
        OnAbortRequest();
        runStep = false;
    } else if (trigger == common.statusTimer || modem.forceStatus) {
        modem.forceStatus = false;
        ReportStatus();
        ArmStatusTimer();
        if (trigger == common.statusTimer)
            runStep = false;
    }
    for (;;) {
        bool wasAborting = Aborting();
        if (runStep) {
            if (KindOfState() == StepKind::OnResponse) {
                if (trigger == 0) {
                    Collected c = Collect();
                    if (c == Collected::Nothing)
                        return;
                    if (c == Collected::Line)
                        Step(trigger);
                } else if (trigger == common.responseTimer) {
                    OnResponseTimer();
                } else {
                    return;
                }
            } else {
                if (WaitsForOtherSession())
                    return;
                Step(trigger);
            }
        }
        runStep = true;
        // A command or write the port refused ends the session: the modem cannot have it. What the
        // abort step itself sends goes out as far as the port takes it.
        if (int rc = TakeWriteFailure(); rc && !wasAborting && !Aborting() && !Done()) {
            writeFailed_ = true;
            Abort(rc);
        }
        if (Done())
            return;
        if (KindOfState() == StepKind::AtOnce) {
            trigger = -1;
            continue;
        }
        if (KindOfState() == StepKind::OnResponse && Port().HasInput()) {
            trigger = 0;
            continue;
        }
        // Page data and the training check may already wait in the input.
        if (ReadsRawData() && trigger != 0 && Port().HasInput()) {
            trigger = 0;
            continue;
        }
        return;
    }
}

FaxSession::Collected FaxSession::Collect()
{
    uint8_t c;
    while (Port().ReadChar(c) == 0) {
        // A frame's data ends in DLE ETX (a DLE in it is doubled), even one too garbled to begin
        // as a frame.
        frameEnded_ = frameEnded_ || (afterDle_ && c == kEtx);
        afterDle_ = !afterDle_ && c == kDle;
        ResponseCollector::Item item = response.Add(c);
        if (item == ResponseCollector::Frame) {
            pendingFrame_ = response.Text();
            framePending_ = true;
            continue;
        }
        if (item != ResponseCollector::Line)
            continue;
        frameDamaged_ = false;
        // A damaged frame's bytes may hold CR LF: they make lines of noise, which the modem's
        // verdict on the frame still follows.
        if (Reply() == ModemReply::Other && (framePending_ || frameEnded_))
            return Collected::Line;
        const bool framed = framePending_ || frameEnded_;
        framePending_ = frameEnded_ = false;
        if (IsError() && AwaitsRepeatedCommand() && framed) {
            // The frame came with a bad check (or too garbled even to begin as a frame). Noise on
            // the line, not a modem fault: the far end repeats its command (T.30 allows three
            // repeats) when it hears no answer. An ERROR without a frame is the modem's own.
            if (++damagedFrames_ > kCommandRepeats) {
                Abort(ecFaxSessionError);
                return Collected::StateChanged;
            }
            frameDamaged_ = true;
            carrierLost_ = false;
            return Collected::Line;
        }
        if (framed && !IsError()) {
            damagedFrames_ = 0;
            int before = CurrentState();
            HandleFrame(pendingFrame_);
            if (CurrentState() != before)
                return Collected::StateChanged;
        }
        if (IsError() && ErrorEndsSession()) {
            Abort(ErrorReplyError());
            return Collected::StateChanged;
        }
        if (common.faxClass != fcClass1 && IsHangupWord()) {
            if (int code = HangupReportError()) {
                modem.hangupCode = HangupCodeOf(response.Text());
                Abort(code);
                return Collected::StateChanged;
            }
        }
        carrierLost_ = IsNoCarrier();
        return Collected::Line;
    }
    return Collected::Nothing;
}

void FaxSession::HandleFrame(const std::string& bytes)
{
    ReceivedFrame f = ParseFrame(bytes);
    if (!f.valid)
        return;
    modem.finalFrame = f.final;
    modem.lastFCF = WithoutX(f.fcf);
    // The far end names itself in CSI when it is called, in TSI when it calls.
    if (modem.lastFCF == WithoutX(common.sending ? fcfCSI : fcfTSI))
        NoteRemoteId(f);
    else
        OnFrame(f);
}

void FaxSession::NoteRemoteId(const ReceivedFrame& frame)
{
    common.remoteID = StationIdFromFrame(frame.info);
    common.statusCode = fsGotRemoteID;
    modem.forceStatus = true;
}

bool FaxSession::SetupAnswered(const std::string& nextCommand)
{
    if (!IsOK()) {
        Abort(ecFaxInitError);
        return false;
    }
    Command(nextCommand);
    return true;
}

Class2Params FaxSession::ApplySessionParams()
{
    Class2Params p = ParseClass2Params(KeywordValue(), common.faxClass == fcClass20);
    modem.fine = p.fine;
    modem.wide = p.width == 1;
    modem.bitRate = p.bitRate;
    modem.scanTimeCode = p.scanTimeCode;
    common.statusCode = fsGettingParams;
    return p;
}

void FaxSession::Abort(int code)
{
    ReportError(code);
    EnterAbortState();
}

void FaxSession::WriteFrame(const std::vector<uint8_t>& frame)
{
    DelayMs(kFrameDelayMs);
    Keep(WriteRaw(frame.data(), frame.size()));
}

bool FaxSession::OwnTrigger(int trigger) const
{
    return trigger == 0 || trigger == common.statusTimer || trigger == common.responseTimer
           || trigger == common.outputFreeTrigger || trigger == common.outputSentTrigger;
}

void FaxSession::ArmStatusTimer()
{
    Port().SetTimerTrigger(common.statusTimer, SecondsToTicks(std::max<int32_t>(common.StatusInterval, 1)), true);
}

void FaxSession::ReportError(int code)
{
    common.errorCode = code;
    events_.FaxError(*this, code);
}

void FaxSession::FinishSession()
{
    FaxPort& port = Port();
    for (int* h : {&common.statusTimer, &common.responseTimer, &common.outputFreeTrigger, &common.outputSentTrigger,
                   &common.modemStatusTrigger}) {
        if (*h > 0)
            port.RemoveTrigger(*h);
        *h = 0;
    }
    if (common.handlerRegistered)
        port.RemoveProcedureHandler(this);
    common.handlerRegistered = false;
    common.active = false;
    finished_ = true;
    port.LogFax(8, 0, "ErrorCode:" + std::to_string(common.errorCode));
    events_.FaxFinish(*this, common.errorCode);
}

} // namespace zn::comms
