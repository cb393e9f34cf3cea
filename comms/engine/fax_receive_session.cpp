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

constexpr int kMaxBytesPerEvent = 10000;
} // namespace

// Which step runs in which state, and when. The Class 1 steps are in fax_receive_class1.cpp, the
// Class 2/2.0 steps in fax_receive_class2.cpp.
constexpr FaxReceiveSession::StateRow FaxReceiveSession::kStates[] = {
    {rfNone, "rfNone", StepKind::OnTrigger, &FaxReceiveSession::Idle},
    {rfInit, "rfInit", StepKind::AtOnce, &FaxReceiveSession::OnInit},
    {rf1Init1, "rf1Init1", StepKind::OnResponse, &FaxReceiveSession::OnClass1Init},
    {rf2Init1, "rf2Init1", StepKind::OnResponse, &FaxReceiveSession::OnClassSelected},
    {rf2Init1A, "rf2Init1A", StepKind::OnResponse, &FaxReceiveSession::OnCapabilitiesSet},
    {rf2Init1B, "rf2Init1B", StepKind::OnResponse, &FaxReceiveSession::OnFlowControlSet},
    {rf2Init2, "rf2Init2", StepKind::OnResponse, &FaxReceiveSession::Idle},
    {rf2Init3, "rf2Init3", StepKind::OnResponse, &FaxReceiveSession::OnSetupDone},
    {rfWaiting, "rfWaiting", StepKind::OnResponse, &FaxReceiveSession::OnWaiting},
    {rfAnswer, "rfAnswer", StepKind::AtOnce, &FaxReceiveSession::OnAnswer},
    {rf1SendCSI, "rf1SendCSI", StepKind::OnResponse, &FaxReceiveSession::OnSendCsi},
    {rf1SendDIS, "rf1SendDIS", StepKind::OnResponse, &FaxReceiveSession::OnSendDis},
    {rf1CollFrms, "rf1CollFrms", StepKind::OnResponse, &FaxReceiveSession::OnCollectFrames},
    {rf1CollRtry1, "rf1CollRtry1", StepKind::OnTrigger, &FaxReceiveSession::OnFrameRetry},
    {rf1CollRtry2, "rf1CollRtry2", StepKind::OnTrigger, &FaxReceiveSession::OnFrameRetryAnswered},
    {rf1StrtTrn, "rf1StrtTrn", StepKind::OnResponse, &FaxReceiveSession::OnTrainingConnect},
    {rf1CollTrn, "rf1CollTrn", StepKind::OnTrigger, &FaxReceiveSession::OnCollectTraining},
    {rf1Timeout, "rf1Timeout", StepKind::OnTrigger, &FaxReceiveSession::Idle},
    {rf1Retrain, "rf1Retrain", StepKind::OnResponse, &FaxReceiveSession::OnSendFtt},
    {rf1FinTrn, "rf1FinTrn", StepKind::OnResponse, &FaxReceiveSession::OnTrainingEnd},
    {rf1SendCFR, "rf1SendCFR", StepKind::OnResponse, &FaxReceiveSession::OnSendCfr},
    {rf1WtPgCnnct, "rf1WtPgCnnct", StepKind::OnResponse, &FaxReceiveSession::OnWaitPageConnect},
    {rf2ValCnnct, "rf2ValCnnct", StepKind::OnResponse, &FaxReceiveSession::OnClass2Connect},
    {rf2GtSndID, "rf2GtSndID", StepKind::OnResponse, &FaxReceiveSession::OnCallerReports},
    {rf2GtCnnct, "rf2GtCnnct", StepKind::OnResponse, &FaxReceiveSession::OnClass2PageConnect},
    {rfStartPage, "rfStartPage", StepKind::AtOnce, &FaxReceiveSession::OnStartPage},
    {rfGtPgDta, "rfGtPgDta", StepKind::OnTrigger, &FaxReceiveSession::OnPageData},
    {rf1FinPage, "rf1FinPage", StepKind::OnResponse, &FaxReceiveSession::OnPageCarrierEnd},
    {rf1WaitEOP, "rf1WaitEOP", StepKind::OnResponse, &FaxReceiveSession::OnWaitPostPage},
    {rf1WritePage, "rf1WritePage", StepKind::AtOnce, &FaxReceiveSession::OnWritePage},
    {rf1SendMCF, "rf1SendMCF", StepKind::OnResponse, &FaxReceiveSession::OnSendMcf},
    {rf1WaitDCN, "rf1WaitDCN", StepKind::OnResponse, &FaxReceiveSession::OnWaitDcn},
    {rf1WtHngp, "rf1WtHngp", StepKind::OnResponse, &FaxReceiveSession::OnWaitHangup},
    {rf2GtPgRslt, "rf2GtPgRslt", StepKind::OnResponse, &FaxReceiveSession::OnPageResult},
    {rf2GetFHNG, "rf2GetFHNG", StepKind::OnResponse, &FaxReceiveSession::OnWaitHangupReport},
    {rfComplete, "rfComplete", StepKind::AtOnce, &FaxReceiveSession::OnComplete},
    {rfAbort, "rfAbort", StepKind::AtOnce, &FaxReceiveSession::OnAbort},
    {rfDone, "rfDone", StepKind::OnTrigger, &FaxReceiveSession::Idle},
};

const char* ReceiveStateName(ReceiveState s) { return FaxReceiveSession::NameOf(s); }

FaxReceiveSession::FaxReceiveSession(FaxEngineEvents& events) : FaxStateMachine(events)
{
    static_assert(StatesInOrder(kStates, rfDone + 1), "one row a state, in the order of the states");
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
        if ((!modem.ModemInit.empty() && !SynchronousCommand(modem.ModemInit))
            || !SynchronousCommand(modem.defaultInit)) {
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

bool FaxReceiveSession::WaitsForOtherSession() const { return state_ == rfAnswer && answerBusy; }

int FaxReceiveSession::HangupReportError() const { return state_ == rf2GetFHNG ? 0 : ecFaxSessionError; }

void FaxReceiveSession::OnAbortRequest()
{
    state_ = rfAbort;
    ReportStatus();
}

void FaxReceiveSession::FlowOn()
{
    if (common.options & foSoftwareFlow)
        Port().SetSoftwareFlow(6144, 2048, kSoftwareFlowReceive);
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
    case rf1CollFrms: state_ = rf1CollRtry1; break;
    case rf1WaitDCN: state_ = rfComplete; break;
    default: Abort(ecTimeout); break;
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

void FaxReceiveSession::FlowOff()
{
    if (common.options & foSoftwareFlow)
        Port().ClearSoftwareFlow();
}

int FaxReceiveSession::CreateFile()
{
    common.currentPage = 0;
    common.faxFile.clear();
    Events().FaxName(*this);
    if (common.faxFile.empty())
        return ecNoFilename;
    committed_ = false;
    receiving_ = std::make_unique<platform::FileReplacement>(common.faxFile);
    int rc = ApfCreate(modem, *receiving_, common.StationID);
    if (rc) {
        receiving_.reset();
        return rc;
    }
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
    pageCheck_.Decode(modem.pageBuffer.data(), size_t(modem.pageBufferCount), [](const uint8_t*, int) { return true; });
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
    return ApfFinishPage(modem, common.remoteID, common.bytesTransferred);
}

void FaxReceiveSession::CutPage()
{
    if (pageOpen_)
        ApfCutPage(modem);
    pageOpen_ = false;
    modem.pageBufferCount = 0;
}

bool FaxReceiveSession::PageQualityGood()
{
    // Rows that line noise swallowed whole, and the rows' worth of noise after the last whole row
    // (a carrier lost in the page), count as bad rows of the page.
    const int lost = pageCheck_.LostRows() + pageCheck_.UnfinishedRows();
    PageQuality q;
    q.rows = pageCheck_.Rows() + lost;
    q.badRows = pageCheck_.BadRows() + lost;
    q.consecutiveBadRows = std::max(pageCheck_.MostConsecutiveBadRows(), pageCheck_.UnfinishedRows());
    pageQuality_ = q;
    return CopyQualityAcceptable(q);
}

// The page is not kept: the file goes back to where it began, and the sender sends it again. The
// log says which page was refused and why, or the call would only seem to take twice as long.
void FaxReceiveSession::RejectPage()
{
    modem.pageGood = false;
    CutPage();
    common.refusedPage = common.currentPage;
    common.refusedQuality = pageQuality_;
    Events().FaxLog(*this, lfPageRefused);
    if (common.currentPage > 0)
        --common.currentPage;
}

int FaxReceiveSession::CommitFax()
{
    if (committed_ || !receiving_)
        return 0;
    int rc = ApfCommit(modem, *receiving_);
    committed_ = rc == 0;
    return rc;
}

void FaxReceiveSession::CloseFax(bool good)
{
    if (!modem.faxFile)
        return;
    // A fax whose end was confirmed is received whatever happens later in the call; one that was
    // not is not kept at all: its pages were never a whole fax.
    good = committed_ || (good && CommitFax() == 0);
    ApfClose(modem);
    if (!good && receiving_)
        receiving_->Discard();
    receiving_.reset();
    committed_ = false;
    Events().FaxLog(*this, good ? lfReceiveOK : lfReceiveFail);
    common.faxFile.clear();
}

void FaxReceiveSession::OnInit(int)
{
    common.bytesTransferred = common.pageLength = 0;
    common.remoteID.clear();
    common.faxFile.clear();
    common.phoneNumber.clear();
    common.currentPage = 0;
    modem.pageGood = false;
    modem.ringCounter = 0;
    modem.frameRetry = 0;
    eomSeen_ = false;
    pageAnswered_ = false;
    rtnToSet_ = false;
    fileState_ = fsNoFile;
    pageOpen_ = false;
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
}

void FaxReceiveSession::WaitForCall()
{
    StopResponseTimer();
    common.statusCode = fsWaitingForCall;
    response.Clear();
    state_ = rfWaiting;
}

void FaxReceiveSession::OnWaiting(int)
{
    if (Reply() == ModemReply::Ring) {
        ++modem.ringCounter;
        if (modem.ringCounter < modem.AnswerOnRing) {
            response.Clear();
        } else {
            fileState_ = fsNoFile;
            StatusFirst();
            ArmResponseTimer(modem.responseTimeout);
            state_ = rfAnswer;
        }
    } else if (IsNoCarrier()) {
        common.statusCode = fsNoConnect;
        modem.forceStatus = true;
    } else if (IsConnect()) {
        Abort(ecFaxDataCall);
    } else if (Reply() == ModemReply::Voice) {
        Abort(ecFaxVoiceCall);
    } else {
        response.Clear();
    }
}

void FaxReceiveSession::OnAnswer(int)
{
    answerBusy = true;
    StatusFirst();
    Command("ATA");
    ArmResponseTimer(modem.DialWait);
    common.statusCode = fsAnswering;
    modem.frameRetry = 0;
    answerBusy = false;
    state_ = Class1() ? rf1SendCSI : rf2ValCnnct;
}

void FaxReceiveSession::OnStartPage(int)
{
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
        return;
    }
    fileState_ = fsAppend;
    pageOpen_ = true;
    modem.pageBufferCount = 0;
    lastChar_ = 255;
    dleSeen_ = false;
    rtcZeros_ = rtcEols_ = pageRows_ = 0;
    rtcSeen_ = false;
    pageCheck_ = faxdoc::TMhDecoder();
    pageAnswered_ = false;
    common.bytesTransferred = 0;
    ArmResponseTimer(modem.responseTimeout);
    if (!Class1())
        Keep(Port().WriteChar(DC2));
    common.statusCode = fsGettingPage;
    state_ = rfGtPgDta;
}

void FaxReceiveSession::OnPageData(int trigger)
{
    if (trigger == common.responseTimer) {
        Abort(ecTimeout);
        return;
    }
    if (trigger != 0)
        return;
    bool ended = false;
    if (int rc = ReceivePageData(ended)) {
        Abort(rc);
        return;
    }
    if (!ended)
        return;
    common.statusCode = fsGettingPage;
    ResponseReset();
    FlowOff();
    state_ = Class1() ? rf1FinPage : rf2GtPgRslt;
}

void FaxReceiveSession::OnComplete(int)
{
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
}

void FaxReceiveSession::OnAbort(int)
{
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
}

} // namespace zn::comms
