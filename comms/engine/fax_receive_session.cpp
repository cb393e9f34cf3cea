#include "fax_receive_session.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "class1_frames.h"
#include "fax_image_io.h"
#include "faxdoc/apf_file.h"

namespace zn::comms {

namespace {
constexpr uint8_t DLE = 0x10, ETX = 0x03, DC2 = 0x12;
// One flag for all receive sessions: an answer is being made.
std::atomic<bool> answerBusy{false};

const char* const kStateNames[] = {
    "rfNone", "rfInit", "rf1Init1", "rf2Init1", "rf2Init1A", "rf2Init1B", "rf2Init2", "rf2Init3",
    "rfWaiting", "rfAnswer", "rf1SendCSI", "rf1SendDIS", "rf1CollFrms", "rf1CollRtry1", "rf1CollRtry2",
    "rf1StrtTrn", "rf1CollTrn", "rf1Timeout", "rf1Retrain", "rf1FinTrn", "rf1SendCFR", "rf1WtPgCnnct",
    "rf2ValCnnct", "rf2GtSndID", "rf2GtCnnct", "rfStartPage", "rfGtPgDta", "rf1FinPage", "rf1WaitEOP",
    "rf1WritePage", "rf1SendMCF", "rf1WaitDCN", "rf1WtHngp", "rf2GtPgRslt", "rf2GetFHNG", "rfComplete",
    "rfAbort", "rfDone"};

constexpr int kMaxBytesPerEvent = 10000;
} // namespace

const char* ReceiveStateName(ReceiveState s) { return s <= rfDone ? kStateNames[s] : "?"; }

FaxReceiveSession::FaxReceiveSession(FaxEngineEvents& events) : FaxSession(events)
{
    common.sending = false;
}

void FaxReceiveSession::Prepare()
{
    state_ = startState;
    common.errorCode = 0;
    common.statusCode = 0;
    userAbort_ = false;
    writeFailed_ = false;
    TakeWriteFailure();
    if (common.faxClass <= fcDetect) {
        Classes c = DetectClasses(false);
        common.faxClass = c.class20 ? fcClass20 : c.class2 ? fcClass2 : c.class1 ? fcClass1 : 0;
        if (!common.faxClass) {
            ReportError(ecFaxBadModemResult);
            return;
        }
    }
    LoadKeywords();
    bool old = Port().ExchangeBusy(true);
    auto release = [&] {
        DrainInput();
        Port().ExchangeBusy(old);
    };
    if (!modem.modemSetUp) {
        if ((!modem.ModemInit.empty() && !SynchronousCommand(modem.ModemInit)) || !SynchronousCommand(modem.defaultInit)) {
            release();
            return; // the first response state then fails with -8063
        }
        modem.modemSetUp = true;
    }
    if (startState != rf2GtSndID) {
        if (Class1()) {
            if (!SynchronousCommand("AT+FCLASS=1")) {
                release();
                return;
            }
            BaudSwitch(false);
        } else {
            modem.faxAndDataDigit = modem.faxAndDataDigit == '1' ? '1' : '0';
            if (!SynchronousCommand(modem.keywords[kwSelectClass])) {
                release();
                return;
            }
            BaudSwitch(false);
            if (!SynchronousCommand("AT+FCR=1")
                || !SynchronousCommand(modem.keywords[kwLocalID] + "=\"" + common.StationID + "\"")
                || !SynchronousCommand(std::string("AT+FAA=") + modem.faxAndDataDigit)) {
                release();
                return;
            }
        }
    }
    if (Class1()) {
        QueryModemSpeeds(false);
        modem.rateIndex = ChooseRate(modem.localRates, modV27ter | modV29 | modV17, modem.DesiredBPS);
        if (modem.rateIndex >= 0)
            modem.bitRate = FaxRates()[size_t(modem.rateIndex)].bitRate;
    }
    common.sending = false;
    release();
}

bool FaxReceiveSession::NeedsResponse(ReceiveState s) const
{
    switch (s) {
    case rf1Init1: case rf2Init1: case rf2Init1A: case rf2Init1B: case rf2Init2: case rf2Init3:
    case rfWaiting: case rf1SendCSI: case rf1SendDIS: case rf1CollFrms: case rf1StrtTrn: case rf1Retrain:
    case rf1FinTrn: case rf1SendCFR: case rf1WtPgCnnct: case rf2ValCnnct: case rf2GtSndID: case rf2GtCnnct:
    case rf1FinPage: case rf1WaitEOP: case rf1SendMCF: case rf1WaitDCN: case rf1WtHngp: case rf2GtPgRslt:
    case rf2GetFHNG:
        return true;
    default:
        return false;
    }
}

bool FaxReceiveSession::RunsAtOnce(ReceiveState s) const
{
    switch (s) {
    case rfInit: case rfAnswer: case rfStartPage: case rf1WritePage: case rfComplete: case rfAbort:
        return true;
    default:
        return false;
    }
}

void FaxReceiveSession::StatusFirst()
{
    if (!statusShown_) {
        statusShown_ = true;
        ReportStatus(true, false);
    }
}

void FaxReceiveSession::StatusLast()
{
    if ((statusShown_ && !ConstantStatus) || userAbort_) {
        statusShown_ = false;
        ReportStatus(false, true);
    }
}

void FaxReceiveSession::Pass(uint32_t msg, int trigger)
{
    if (!OwnTrigger(trigger) || state_ == rfAbort || state_ == rfDone)
        return;
    Port().LogFax(79 + state_, Port().OutputCount(), ReceiveStateName(state_));
    bool runStep = true;
    if (msg == fmAbortRequest) {
        common.statusCode = fsUserAbort;
        common.errorCode = ecCancelRequested;
        userAbort_ = true;
        state_ = rfAbort;
        ReportStatus();
        runStep = false;
    } else if (trigger == common.statusTimer || modem.forceStatus) {
        modem.forceStatus = false;
        ReportStatus();
        ArmStatusTimer();
        if (trigger == common.statusTimer)
            runStep = false;
    }
    for (;;) {
        ReceiveState before = state_;
        if (runStep) {
            if (NeedsResponse(state_)) {
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
                if (state_ == rfAnswer && answerBusy)
                    return;
                Step(trigger);
            }
        }
        runStep = true;
        // A command or write the port refused ends the session: the modem cannot have it. What the
        // abort step itself sends goes out as far as the port takes it.
        if (int rc = TakeWriteFailure(); rc && before != rfAbort && state_ != rfAbort && state_ != rfDone) {
            writeFailed_ = true;
            Abort(rc);
        }
        if (state_ == rfDone)
            return;
        if (RunsAtOnce(state_)) {
            trigger = -1;
            continue;
        }
        if (NeedsResponse(state_) && Port().HasInput()) {
            trigger = 0;
            continue;
        }
        // Page data and the training check may already wait in the input.
        if ((state_ == rfGtPgDta || state_ == rf1CollTrn) && trigger != 0 && Port().HasInput()) {
            trigger = 0;
            continue;
        }
        return;
    }
}

FaxReceiveSession::Collected FaxReceiveSession::Collect()
{
    uint8_t c;
    while (Port().ReadChar(c) == 0) {
        ResponseCollector::Item item = response.Add(c);
        if (item == ResponseCollector::Frame) {
            ReceiveState before = state_;
            HandleFrame();
            if (state_ != before)
                return Collected::StateChanged;
            continue;
        }
        if (item != ResponseCollector::Line)
            continue;
        if (IsError()) {
            Abort(ecFaxBadModemResult);
            return Collected::StateChanged;
        }
        if (!Class1() && IsHangupWord() && state_ != rf2GetFHNG) {
            modem.hangupCode = HangupCodeOf(response.Text());
            Abort(ecFaxSessionError);
            return Collected::StateChanged;
        }
        return Collected::Line;
    }
    return Collected::Nothing;
}

void FaxReceiveSession::HandleFrame()
{
    ReceivedFrame f = ParseFrame(response.Text());
    if (!f.valid)
        return;
    modem.finalFrame = f.final;
    modem.lastFCF = WithoutX(f.fcf);
    switch (modem.lastFCF) {
    case WithoutX(fcfTSI):
        common.remoteID = StationIdFromFrame(f.info);
        common.statusCode = fsGotRemoteID;
        modem.forceStatus = true;
        break;
    case WithoutX(fcfDCS): {
        DecodedCaps caps = DecodeDCS(f.info);
        if (caps.rateIndex < 0 || !(modem.localRates & (1u << caps.rateIndex))) {
            Abort(ecFaxBadMachine);
            return;
        }
        modem.rateIndex = caps.rateIndex;
        modem.bitRate = FaxRates()[size_t(caps.rateIndex)].bitRate;
        modem.modulationCode = FaxRates()[size_t(caps.rateIndex)].longCode;
        modem.fine = caps.fine;
        modem.wide = caps.wide;
        modem.scanTimeCode = caps.scanTimeCode;
        modem.ECM = false;
        UpdateMinimumRowBytes();
        common.statusCode = fsGettingParams;
        modem.forceStatus = true;
        break;
    }
    case fcfDCN:
        if (state_ == rf1WaitDCN) {
            common.errorCode = 0;
        } else {
            Abort(ecCancelRequested);
        }
        break;
    default:
        break;
    }
}

void FaxReceiveSession::OnResponseTimer()
{
    switch (state_) {
    case rf1SendCSI:
        if (modem.frameRetry != 0) {
            state_ = rf1CollRtry1;
        } else {
            Abort(ecTimeout);
        }
        break;
    case rf1CollFrms:
        state_ = rf1CollRtry1;
        break;
    case rf1WaitDCN:
        state_ = rfComplete;
        break;
    default:
        Abort(ecTimeout);
        break;
    }
}

void FaxReceiveSession::Abort(int code)
{
    ReportError(code);
    state_ = rfAbort;
}

void FaxReceiveSession::FlowOn()
{
    if (common.options & foSoftwareFlow)
        Port().SetSoftwareFlow(6144, 2048, kSoftwareFlowReceive);
}

void FaxReceiveSession::FlowOff()
{
    if (common.options & foSoftwareFlow)
        Port().ClearSoftwareFlow();
}

void FaxReceiveSession::WriteFrame(const std::vector<uint8_t>& frame)
{
    DelayMs(20);
    Keep(WriteRaw(frame.data(), frame.size()));
}

int FaxReceiveSession::CreateFile()
{
    common.currentPage = 0;
    pagesInFile_ = 0;
    common.faxFile.clear();
    Events().FaxName(*this);
    if (common.faxFile.empty())
        return ecNoFilename;
    int rc = ApfCreate(modem, common.faxFile, common.StationID);
    if (rc)
        return rc;
    Events().FaxLog(*this, lfReceiveStart);
    return 0;
}

bool FaxReceiveSession::AcceptAndCreate()
{
    if (fileState_ != fsNoFile)
        return true;
    if (!Events().FaxAccept(*this)) {
        if (!Class1())
            Keep(Port().WriteString("AT+FKS\r"));
        ReportError(ecFileRejected);
        ReceiveSideHangup();
        Events().FaxLog(*this, lfReceiveSkip);
        state_ = rfAbort;
        return false;
    }
    if (int rc = CreateFile()) {
        Abort(rc);
        return false;
    }
    fileState_ = fsAppend;
    return true;
}

int FaxReceiveSession::FlushPageBuffer()
{
    if (modem.pageBufferCount == 0)
        return 0;
    int rc = ApfWriteBytes(modem, modem.pageBuffer.data(), size_t(modem.pageBufferCount));
    modem.pageBufferCount = 0;
    return rc;
}

int FaxReceiveSession::ReceivePageData(bool& ended)
{
    ended = false;
    bool class2 = common.faxClass == fcClass2;
    uint8_t c;
    for (int n = 0; n < kMaxBytesPerEvent && Port().ReadChar(c) == 0; ++n) {
        if (dleSeen_) {
            dleSeen_ = false;
            if (c == ETX) {
                ended = true;
                return FlushPageBuffer();
            }
            // DLE DLE is one DLE; any other pair keeps its second byte.
        } else if (c == DLE) {
            dleSeen_ = true;
            continue;
        }
        lastChar_ = c;
        // A page keeps at most the rows a fax page can have (and their bytes): the rest of a longer
        // one is not stored.
        if (rtcSeen_ || pageRows_ > faxdoc::kMaxPageRows || common.bytesTransferred >= faxdoc::kMaxPageBytes)
            continue;
        uint8_t stored = class2 ? ReverseBits(c) : c;
        TrackRtc(stored);
        modem.pageBuffer[size_t(modem.pageBufferCount++)] = stored;
        ++common.bytesTransferred;
        if (modem.pageBufferCount == int32_t(modem.pageBuffer.size()))
            if (int rc = FlushPageBuffer())
                return rc;
    }
    ArmResponseTimer(modem.responseTimeout);
    return 0;
}

void FaxReceiveSession::TrackRtc(uint8_t& stored)
{
    for (int bit = 0; bit < 8; ++bit) {
        if (!(stored & (1 << bit))) {
            ++rtcZeros_;
            continue;
        }
        // A 1 bit after eleven or more zeros ends an EOL; any other 1 bit is row data.
        rtcEols_ = rtcZeros_ >= 11 ? rtcEols_ + 1 : 0;
        pageRows_ += rtcZeros_ >= 11;
        rtcZeros_ = 0;
        if (pageRows_ > faxdoc::kMaxPageRows) {
            // The EOL that ends the last row kept: the page stops with it.
            stored &= uint8_t((2u << bit) - 1);
            return;
        }
        if (rtcEols_ >= 6)
            rtcSeen_ = true;
    }
}

int FaxReceiveSession::FinishPage()
{
    if (!pageOpen_)
        return 0;
    pageOpen_ = false;
    int rc = ApfFinishPage(modem, common.remoteID, common.bytesTransferred);
    if (!rc)
        ++pagesInFile_;
    return rc;
}

void FaxReceiveSession::CutPage()
{
    if (pageOpen_)
        ApfCutPage(modem);
    pageOpen_ = false;
    modem.pageBufferCount = 0;
}

void FaxReceiveSession::CloseFax(bool good)
{
    if (!modem.faxFile)
        return;
    std::string name = modem.openedFileName;
    const bool keep = good || pagesInFile_ > 0;
    // What is kept is on disk, file and folder, before it is recorded as received.
    if (keep && ApfSync(modem) != 0)
        good = false;
    ApfClose(modem);
    if (!keep)
        std::remove(name.c_str()); // nothing of this call is worth keeping
    Events().FaxLog(*this, good ? lfReceiveOK : lfReceiveFail);
    common.faxFile.clear();
}

int FaxReceiveSession::TrainingCheck(bool& ended, bool& good)
{
    ended = good = false;
    uint8_t c;
    while (!ResponseDeadlinePassed() && Port().ReadChar(c) == 0) {
        if (c == DLE) {
            if (Port().ReadChar(c) != 0) {
                DelayMs(10);
                if (Port().ReadChar(c) != 0)
                    break;
            }
            if (c == ETX) {
                ended = true;
                good = TrainingIsGood(training_, modem.bitRate);
                return 0;
            }
        }
        training_.Add(c);
    }
    return ResponseDeadlinePassed() ? ecTimeout : 0;
}

void FaxReceiveSession::Step(int trigger)
{
    switch (state_) {
    case rfNone:
    case rfDone:
    case rf2Init2:
    case rf1Timeout:
        break;

    case rfInit:
        common.bytesTransferred = common.pageLength = 0;
        common.remoteID.clear();
        common.faxFile.clear();
        common.phoneNumber.clear();
        common.currentPage = 0;
        modem.pageGood = false;
        modem.ringCounter = 0;
        modem.frameRetry = 0;
        eomSeen_ = false;
        fileState_ = fsNoFile;
        pageOpen_ = false;
        pagesInFile_ = 0;
        if (ConstantStatus)
            StatusFirst();
        FlowOff();
        Port().SetModemLines(true, true);
        if (Class1()) {
            Command("AT+FCLASS=1");
            state_ = rf1Init1;
        } else {
            Command(modem.keywords[kwSelectClass]);
            state_ = rf2Init1;
        }
        break;

    case rf1Init1:
        if (IsOK()) {
            BaudSwitch(false);
            StopResponseTimer();
            common.statusCode = fsWaitingForCall;
            response.Clear();
            state_ = rfWaiting;
        } else {
            Abort(ecFaxInitError);
        }
        break;

    case rf2Init1:
    case rf2Init1A:
    case rf2Init1B:
    case rf2Init3:
        if (!IsOK()) {
            Abort(ecFaxInitError);
            break;
        }
        if (state_ == rf2Init1) {
            BaudSwitch(false);
            Command(modem.keywords[kwReceiveCapabilities] + "=1," + BrDigit(modem.DesiredBPS) + ",0,2,0,"
                        + modem.ecmDigit + ",0,0");
            state_ = common.faxClass == fcClass20 ? rf2Init1A : rf2Init3;
        } else if (state_ == rf2Init1A) {
            Command("AT+FLO=2");
            state_ = rf2Init1B;
        } else if (state_ == rf2Init1B) {
            Command("AT+FNR=1,1,1,0");
            state_ = rf2Init3;
        } else {
            StopResponseTimer();
            common.statusCode = fsWaitingForCall;
            response.Clear();
            state_ = rfWaiting;
        }
        break;

    case rfWaiting:
        if (response.Has("RING")) {
            ++modem.ringCounter;
            if (modem.ringCounter < modem.AnswerOnRing) {
                response.Clear();
            } else {
                fileState_ = fsNoFile;
                StatusFirst();
                ArmResponseTimer(modem.responseTimeout);
                state_ = rfAnswer;
            }
        } else if (response.Has("NO C")) {
            common.statusCode = fsNoConnect;
            modem.forceStatus = true;
        } else if (IsConnect()) {
            Abort(ecFaxDataCall);
        } else if (response.Has("VOICE") || response.Has("VCON")) {
            Abort(ecFaxVoiceCall);
        } else {
            response.Clear();
        }
        break;

    case rfAnswer:
        answerBusy = true;
        StatusFirst();
        Command("ATA");
        ArmResponseTimer(modem.DialWait);
        common.statusCode = fsAnswering;
        modem.frameRetry = 0;
        answerBusy = false;
        state_ = Class1() ? rf1SendCSI : rf2ValCnnct;
        break;

    case rf1SendCSI:
        if (IsConnect()) {
            WriteFrame(BuildIdFrame(fcfCSI, common.StationID));
            ResponseReset();
            state_ = rf1SendDIS;
        } else if (IsNoCarrier()) {
            Abort(ecFaxNoCarrier);
        }
        break;

    case rf1SendDIS:
        if (IsConnect()) {
            DisParams p;
            p.modulations = modV27ter;
            if ((ModulationsOfRates(modem.localRates) & modV29) && modem.DesiredBPS >= 7200)
                p.modulations |= modV29;
            if ((ModulationsOfRates(modem.localRates) & modV17) && modem.DesiredBPS >= 12000)
                p.modulations |= modV17;
            WriteFrame(BuildDIS(p));
            ResponseReset();
        } else if (IsOK()) {
            DelayMs(200);
            FrameCommand("AT+FRH=3");
            ArmResponseTimer(54);
            modem.finalFrame = false;
            state_ = rf1CollFrms;
        }
        break;

    case rf1CollFrms:
        if (IsConnect()) {
            ResponseReset(54);
        } else if (IsOK()) {
            uint8_t fcf = modem.lastFCF;
            bool postPage = fcf == WithoutX(fcfMPS) || fcf == WithoutX(fcfEOM) || fcf == WithoutX(fcfEOP);
            if (modem.finalFrame && postPage && common.currentPage > 0 && !pageOpen_) {
                // The caller did not hear our MCF and repeats its post-page command: answer again.
                modem.morePages = fcf != WithoutX(fcfEOP);
                eomSeen_ = fcf == WithoutX(fcfEOM);
                FrameCommand("AT+FTH=3");
                state_ = rf1SendMCF;
                modem.finalFrame = false;
                break;
            }
            if (modem.finalFrame && fcf == WithoutX(fcfDCS)) {
                FlowOn();
                // The far end's training follows its DCS within 75 ms: no wait before the command.
                Command("AT+FRM=" + modem.modulationCode, 0);
                modem.frameRetry = 0;
                state_ = rf1StrtTrn;
            } else {
                FrameCommand("AT+FRH=3");
                ArmResponseTimer(54);
            }
            modem.finalFrame = false;
        } else if (IsFcError() || IsNoCarrier()) {
            FrameCommand("AT+FRH=3");
            ArmResponseTimer(54);
        }
        break;

    case rf1CollRtry1:
        if (++modem.frameRetry > 3) {
            Abort(ecTimeout);
        } else {
            Keep(Port().WriteString("AT\r")); // ends the frame receive
            ArmResponseTimer(modem.responseTimeout);
            state_ = rf1CollRtry2;
        }
        break;

    case rf1CollRtry2:
        DelayMs(100);
        DrainInput();
        FrameCommand("AT+FTH=3");
        state_ = rf1SendCSI;
        break;

    case rf1StrtTrn:
        if (IsConnect()) {
            training_ = TrainingCount{};
            ResponseReset();
            state_ = rf1CollTrn;
        } else if (IsFcError() || IsNoCarrier()) {
            // Another carrier than the training: most likely the DCS once more.
            FrameCommand("AT+FRH=3");
            ArmResponseTimer(54);
            state_ = rf1CollFrms;
        }
        break;

    case rf1CollTrn: {
        if (trigger == common.responseTimer) {
            Abort(ecTimeout);
            break;
        }
        bool ended = false, good = false;
        if (TrainingCheck(ended, good)) {
            Abort(ecTimeout);
            break;
        }
        if (!ended)
            break;
        response.Clear();
        if (good) {
            state_ = rf1FinTrn;
        } else {
            FrameCommand("AT+FTH=3");
            state_ = rf1Retrain;
        }
        break;
    }

    case rf1Retrain:
        if (IsConnect()) {
            WriteFrame(BuildFrame(fcfFTT, true));
            if (modem.bitRate <= 2400) {
                Abort(ecFaxTrainError);
                break;
            }
            ResponseReset();
        } else if (IsOK()) {
            FrameCommand("AT+FRH=3");
            ArmResponseTimer(54);
            state_ = rf1CollFrms;
        }
        break;

    case rf1FinTrn:
        if (IsNoCarrier()) {
            FlowOff();
            DelayMs(20);
            FrameCommand("AT+FTH=3");
            state_ = rf1SendCFR;
        }
        break;

    case rf1SendCFR:
        if (IsConnect()) {
            FlowOn();
            WriteFrame(BuildFrame(fcfCFR, true));
            ResponseReset();
        } else if (IsOK()) {
            // The page follows CFR within 75 ms: no wait before the command.
            Command("AT+FRM=" + std::string(FaxRates()[size_t(modem.rateIndex)].shortCode), 0);
            if (!AcceptAndCreate())
                break;
            state_ = rf1WtPgCnnct;
        }
        break;

    case rf1WtPgCnnct:
        if (IsConnect()) {
            common.statusCode = fsGettingParams;
            state_ = rfStartPage;
        } else if (IsFcError() || IsNoCarrier()) {
            // No page carrier: the far end repeats its last command (DCS, or the post-page one).
            FrameCommand("AT+FRH=3");
            ArmResponseTimer(54);
            state_ = rf1CollFrms;
        }
        break;

    case rf2ValCnnct:
        if (KeywordLine(kwConnect)) {
            ArmResponseTimer(modem.responseTimeout);
            common.statusCode = fsValidatedAsFax;
            state_ = rf2GtSndID;
        }
        break;

    case rf2GtSndID:
        if (KeywordLine(kwTransmitID)) {
            ArmResponseTimer(modem.responseTimeout);
            common.remoteID = StationIdFromReport(KeywordValue());
            if (AcceptAndCreate())
                common.statusCode = fsGotRemoteID;
        } else if (KeywordLine(kwSessionParams)) {
            ArmResponseTimer(modem.responseTimeout);
            Class2Params p = ParseClass2Params(KeywordValue(), common.faxClass == fcClass20);
            modem.fine = p.fine;
            modem.wide = p.width == 1;
            modem.bitRate = p.bitRate;
            modem.scanTimeCode = p.scanTimeCode;
            common.statusCode = fsGettingParams;
        } else if (IsOK()) {
            Command("AT+FDR");
            state_ = rf2GtCnnct;
        }
        break;

    case rf2GtCnnct:
        if (KeywordLine(kwSessionParams)) {
            ArmResponseTimer(modem.responseTimeout);
            Class2Params p = ParseClass2Params(KeywordValue(), common.faxClass == fcClass20);
            modem.fine = p.fine;
            modem.wide = p.width == 1;
            modem.bitRate = p.bitRate;
            modem.scanTimeCode = p.scanTimeCode;
            common.statusCode = fsGettingParams;
        } else if (IsConnect()) {
            FlowOn();
            state_ = rfStartPage;
        }
        break;

    case rfStartPage: {
        ++common.currentPage;
        int rc = 0;
        if (fileState_ == fsNoFile || fileState_ == fsNewFile || !modem.faxFile) {
            if (modem.faxFile)
                CloseFax(true);
            rc = CreateFile();
            if (!rc)
                common.currentPage = 1;
        }
        if (!rc)
            rc = ApfAppendPageHeader(modem, modem.fine, modem.wide);
        if (rc) {
            Abort(rc);
            break;
        }
        fileState_ = fsAppend;
        pageOpen_ = true;
        modem.pageBufferCount = 0;
        lastChar_ = 255;
        dleSeen_ = false;
        rtcZeros_ = rtcEols_ = pageRows_ = 0;
        rtcSeen_ = false;
        common.bytesTransferred = 0;
        ArmResponseTimer(modem.responseTimeout);
        if (!Class1())
            Keep(Port().WriteChar(DC2));
        common.statusCode = fsGettingPage;
        state_ = rfGtPgDta;
        break;
    }

    case rfGtPgDta: {
        if (trigger == common.responseTimer) {
            Abort(ecTimeout);
            break;
        }
        if (trigger != 0)
            break;
        bool ended = false;
        if (int rc = ReceivePageData(ended)) {
            Abort(rc);
            break;
        }
        if (!ended)
            break;
        common.statusCode = fsGettingPage;
        ResponseReset();
        FlowOff();
        state_ = Class1() ? rf1FinPage : rf2GtPgRslt;
        break;
    }

    case rf1FinPage:
        if (IsNoCarrier()) {
            FrameCommand("AT+FRH=3");
            modem.finalFrame = false;
            state_ = rf1WaitEOP;
        }
        break;

    case rf1WaitEOP:
        if (IsConnect()) {
            ResponseReset();
        } else if (IsOK()) {
            uint8_t fcf = modem.lastFCF;
            if (modem.finalFrame && (fcf == WithoutX(fcfMPS) || fcf == WithoutX(fcfEOM) || fcf == WithoutX(fcfEOP))) {
                modem.morePages = fcf == WithoutX(fcfMPS) || fcf == WithoutX(fcfEOM);
                eomSeen_ = fcf == WithoutX(fcfEOM);
                common.statusCode = fsGettingEOP;
                modem.pageGood = true;
                state_ = rf1WritePage;
            } else {
                FrameCommand("AT+FRH=3");
            }
            modem.finalFrame = false;
        } else if (IsFcError() || IsNoCarrier()) {
            FrameCommand("AT+FRH=3");
        }
        break;

    case rf1WritePage:
        if (int rc = FinishPage()) {
            Abort(rc);
            break;
        }
        FrameCommand("AT+FTH=3");
        common.statusCode = fsGettingDocStatus;
        state_ = rf1SendMCF;
        break;

    case rf1SendMCF:
        if (IsConnect()) {
            WriteFrame(BuildFrame(fcfMCF, true));
            ResponseReset();
        } else if (IsOK()) {
            if (modem.morePages && eomSeen_) {
                // EOM: a new T.30 phase B. The caller waits for our CSI and DIS again.
                DelayMs(200);
                FrameCommand("AT+FTH=3");
                modem.frameRetry = 0;
                state_ = rf1SendCSI;
            } else if (modem.morePages) {
                Command("AT+FRM=" + std::string(FaxRates()[size_t(modem.rateIndex)].shortCode), 0);
                fileState_ = fsAppend;
                state_ = rf1WtPgCnnct;
            } else {
                DelayMs(200);
                FrameCommand("AT+FRH=3");
                CloseFax(true);
                common.statusCode = fsGettingHangup;
                state_ = rf1WaitDCN;
            }
        }
        break;

    case rf1WaitDCN:
        if (IsConnect()) {
            ResponseReset();
        } else if (IsOK()) {
            if (modem.finalFrame) {
                Command("ATH");
                state_ = rf1WtHngp;
            } else {
                FrameCommand("AT+FRH=3");
            }
        } else if (IsNoCarrier()) {
            Command("ATH");
            state_ = rf1WtHngp;
        }
        break;

    case rf1WtHngp:
        if (IsOK()) {
            common.statusCode = fsGotFHNG;
            state_ = rfComplete;
        }
        break;

    case rf2GtPgRslt:
        if (KeywordLine(kwPageStatus)) {
            common.statusCode = fsGettingEOP;
            std::string v = KeywordValue();
            char digit = v.empty() ? 0 : v[0];
            if (digit == '1' || digit == '3' || digit == '5') {
                modem.pageGood = true;
                if (int rc = FinishPage()) {
                    Abort(rc);
                    break;
                }
            } else {
                modem.pageGood = false;
                CutPage();
                --common.currentPage;
            }
            ResponseReset();
        } else if (response.Has("+FET")) {
            common.statusCode = fsGettingDocStatus;
            std::string v = KeywordValue();
            char digit = v.empty() ? 0 : v[0];
            fileState_ = digit == '0' ? fsAppend : digit == '1' ? fsNewFile : digit == '2' ? fsComplete
                       : digit == '3' ? fsNewFile : fsNoMorePages;
            ResponseReset();
        } else if (IsOK()) {
            Command("AT+FDR");
            if (fileState_ == fsComplete) {
                CloseFax(true);
                common.statusCode = fsGettingHangup;
                state_ = rf2GetFHNG;
            } else {
                state_ = rf2GtCnnct;
            }
        }
        break;

    case rf2GetFHNG:
        if (IsHangupWord()) {
            modem.hangupCode = HangupCodeOf(response.Text());
            common.statusCode = fsGotFHNG;
            ResponseReset();
        } else if (response.Has("+FET")) {
            common.statusCode = fsGettingHangup;
            ResponseReset();
        } else if (IsOK()) {
            state_ = rfComplete;
        }
        break;

    case rfComplete:
        StopResponseTimer();
        BaudSwitch(true);
        if (OneFax) {
            StatusLast();
            modem.modemSetUp = false;
            state_ = rfDone;
            FinishSession();
        } else {
            if (!ConstantStatus)
                StatusLast();
            state_ = rfInit;
        }
        break;

    case rfAbort: {
        StopResponseTimer();
        if (modem.faxFile) {
            CutPage();
            CloseFax(false);
        }
        ReceiveSideHangup();
        StatusLast();
        if ((common.options & foExitOnError) || userAbort_ || writeFailed_) {
            modem.modemSetUp = false;
            state_ = rfDone;
            FinishSession();
        } else {
            state_ = rfInit;
        }
        break;
    }
    }
}

} // namespace zn::comms
