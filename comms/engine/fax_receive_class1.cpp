// The receive session's Class 1 steps: this side runs the answering side of T.30 (CSI, DIS, the
// training check, CFR or FTT, MCF) over the modem's frame and data commands.
#include "fax_receive_session.h"

#include "class1_frames.h"
#include "fax_image_io.h"

namespace zn::comms {

namespace {
constexpr uint8_t DLE = 0x10, ETX = 0x03;
} // namespace

void FaxReceiveSession::OnFrame(const ReceivedFrame& f)
{
    switch (modem.lastFCF) {
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
    case WithoutX(fcfDCN):
        if (state_ == rf1WaitDCN) {
            common.errorCode = 0;
        } else {
            Abort(ecCancelRequested);
        }
        break;
    default: break;
    }
}

int FaxReceiveSession::TrainingCheck(bool& ended, bool& good)
{
    ended = good = false;
    uint8_t c;
    while (!ResponseDeadlinePassed() && Port().ReadChar(c) == 0) {
        if (c == DLE) {
            if (Port().ReadChar(c) != 0) {
                DelayMs(kByteWaitMs);
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

void FaxReceiveSession::OnClass1Init(int)
{
    if (IsOK()) {
        BaudSwitch(false);
        WaitForCall();
    } else {
        Abort(ecFaxInitError);
    }
}

void FaxReceiveSession::OnSendCsi(int)
{
    if (IsConnect()) {
        WriteFrame(BuildIdFrame(fcfCSI, common.StationID));
        ResponseReset();
        state_ = rf1SendDIS;
    } else if (IsNoCarrier()) {
        Abort(ecFaxNoCarrier);
    }
}

void FaxReceiveSession::OnSendDis(int)
{
    if (IsConnect()) {
        DisParams p;
        p.modulations = modV27ter;
        if ((ModulationsOfRates(modem.localRates) & modV29) && modem.DesiredBPS >= 7200)
            p.modulations |= modV29;
        if ((ModulationsOfRates(modem.localRates) & modV17) && modem.DesiredBPS >= 12000)
            p.modulations |= modV17;
        WriteFrame(BuildDIS(p));
        ResponseReset();
    } else if (IsNoCarrier()) {
        Abort(ecCancelRequested); // the line dropped under our frame: the far end hung up
    } else if (IsOK()) {
        DelayMs(kTurnaroundMs);
        FrameCommand("AT+FRH=3");
        ArmResponseTimer(kT4Ticks);
        modem.finalFrame = false;
        state_ = rf1CollFrms;
    }
}

void FaxReceiveSession::CollectFramesAgain()
{
    FrameCommand("AT+FRH=3");
    ArmResponseTimer(kT4Ticks);
}

void FaxReceiveSession::OnCollectFrames(int)
{
    if (IsConnect()) {
        ResponseReset(kT4Ticks);
    } else if (IsOK()) {
        uint8_t fcf = modem.lastFCF;
        bool postPage = fcf == WithoutX(fcfMPS) || fcf == WithoutX(fcfEOM) || fcf == WithoutX(fcfEOP);
        if (modem.finalFrame && postPage && pageAnswered_ && !pageOpen_) {
            // The caller did not hear our MCF (or RTN) and repeats its post-page command: the same
            // answer again.
            modem.morePages = fcf != WithoutX(fcfEOP);
            eomSeen_ = fcf == WithoutX(fcfEOM);
            FrameCommand("AT+FTH=3");
            state_ = rf1SendMCF;
            modem.finalFrame = false;
            return;
        }
        if (modem.finalFrame && fcf == WithoutX(fcfDCS)) {
            FlowOn();
            // The far end's training follows its DCS within 75 ms: no wait before the command.
            Command("AT+FRM=" + modem.modulationCode, 0);
            modem.frameRetry = 0;
            state_ = rf1StrtTrn;
        } else {
            CollectFramesAgain();
        }
        modem.finalFrame = false;
    } else if (IsFcError() || IsNoCarrier() || FrameDamaged()) {
        CollectFramesAgain();
    }
}

void FaxReceiveSession::OnFrameRetry(int)
{
    if (++modem.frameRetry > kCommandRepeats) {
        Abort(ecTimeout);
    } else {
        Keep(Port().WriteString("AT\r")); // ends the frame receive
        ArmResponseTimer(modem.responseTimeout);
        state_ = rf1CollRtry2;
    }
}

void FaxReceiveSession::OnFrameRetryAnswered(int)
{
    DelayMs(kRetrySettleMs);
    DrainInput();
    FrameCommand("AT+FTH=3");
    state_ = rf1SendCSI;
}

void FaxReceiveSession::OnTrainingConnect(int)
{
    if (IsConnect()) {
        training_ = TrainingCount{};
        ResponseReset();
        state_ = rf1CollTrn;
    } else if (IsFcError() || IsNoCarrier()) {
        // Another carrier than the training: most likely the DCS once more.
        CollectFramesAgain();
        state_ = rf1CollFrms;
    }
}

void FaxReceiveSession::OnCollectTraining(int trigger)
{
    if (trigger == common.responseTimer) {
        Abort(ecTimeout);
        return;
    }
    bool ended = false, good = false;
    if (TrainingCheck(ended, good)) {
        Abort(ecTimeout);
        return;
    }
    if (!ended)
        return;
    response.Clear();
    if (good) {
        state_ = rf1FinTrn;
    } else {
        FrameCommand("AT+FTH=3");
        state_ = rf1Retrain;
    }
}

void FaxReceiveSession::OnSendFtt(int)
{
    if (IsConnect()) {
        WriteFrame(BuildFrame(fcfFTT, true));
        if (modem.bitRate <= 2400) {
            Abort(ecFaxTrainError);
            return;
        }
        ResponseReset();
    } else if (IsOK()) {
        CollectFramesAgain();
        state_ = rf1CollFrms;
    }
}

void FaxReceiveSession::OnTrainingEnd(int)
{
    if (IsNoCarrier()) {
        FlowOff();
        DelayMs(kAfterTrainingMs);
        FrameCommand("AT+FTH=3");
        state_ = rf1SendCFR;
    }
}

void FaxReceiveSession::OnSendCfr(int)
{
    if (IsConnect()) {
        FlowOn();
        WriteFrame(BuildFrame(fcfCFR, true));
        ResponseReset();
    } else if (IsNoCarrier()) {
        Abort(ecCancelRequested); // the line dropped under our frame: the far end hung up
    } else if (IsOK()) {
        // The page follows CFR within 75 ms: no wait before the command.
        Command("AT+FRM=" + std::string(FaxRates()[size_t(modem.rateIndex)].shortCode), 0);
        if (!AcceptAndCreate())
            return;
        state_ = rf1WtPgCnnct;
    }
}

void FaxReceiveSession::OnWaitPageConnect(int)
{
    if (IsConnect()) {
        common.statusCode = fsGettingParams;
        state_ = rfStartPage;
    } else if (IsFcError() || IsNoCarrier()) {
        // No page carrier: the far end repeats its last command (DCS, or the post-page one).
        CollectFramesAgain();
        state_ = rf1CollFrms;
    }
}

void FaxReceiveSession::OnPageCarrierEnd(int)
{
    if (IsNoCarrier()) {
        FrameCommand("AT+FRH=3");
        modem.finalFrame = false;
        state_ = rf1WaitEOP;
    }
}

void FaxReceiveSession::OnWaitPostPage(int)
{
    if (IsConnect()) {
        ResponseReset();
    } else if (IsOK()) {
        uint8_t fcf = modem.lastFCF;
        if (modem.finalFrame && (fcf == WithoutX(fcfMPS) || fcf == WithoutX(fcfEOM) || fcf == WithoutX(fcfEOP))) {
            modem.morePages = fcf == WithoutX(fcfMPS) || fcf == WithoutX(fcfEOM);
            eomSeen_ = fcf == WithoutX(fcfEOM);
            common.statusCode = fsGettingEOP;
            modem.pageGood = PageQualityGood();
            state_ = rf1WritePage;
        } else {
            FrameCommand("AT+FRH=3");
        }
        modem.finalFrame = false;
    } else if (IsFcError() || IsNoCarrier() || FrameDamaged()) {
        FrameCommand("AT+FRH=3"); // a damaged post-page command: the sender repeats it
    }
}

void FaxReceiveSession::OnWritePage(int)
{
    pageAnswered_ = true;
    if (!modem.pageGood) {
        RejectPage(); // answered with RTN
    } else if (int rc = FinishPage()) {
        Abort(rc);
        return;
    } else if (!modem.morePages) {
        // The fax is whole: it takes its name before the sender hears that it arrived.
        if (int rc = CommitFax()) {
            Abort(rc);
            return;
        }
    }
    FrameCommand("AT+FTH=3");
    common.statusCode = fsGettingDocStatus;
    state_ = rf1SendMCF;
}

void FaxReceiveSession::OnSendMcf(int)
{
    if (IsConnect()) {
        WriteFrame(BuildFrame(modem.pageGood ? fcfMCF : fcfRTN, true));
        ResponseReset();
    } else if (IsNoCarrier()) {
        Abort(ecCancelRequested);
    } else if (IsOK()) {
        if (!modem.pageGood) {
            // RTN: the sender trains again (DCS and a training check) and sends the page once
            // more, or gives up with DCN and the call fails.
            CollectFramesAgain();
            modem.finalFrame = false;
            state_ = rf1CollFrms;
        } else if (modem.morePages && eomSeen_) {
            // EOM: a new T.30 phase B. The caller waits for our CSI and DIS again.
            DelayMs(kTurnaroundMs);
            FrameCommand("AT+FTH=3");
            modem.frameRetry = 0;
            state_ = rf1SendCSI;
        } else if (modem.morePages) {
            Command("AT+FRM=" + std::string(FaxRates()[size_t(modem.rateIndex)].shortCode), 0);
            fileState_ = fsAppend;
            state_ = rf1WtPgCnnct;
        } else {
            DelayMs(kTurnaroundMs);
            FrameCommand("AT+FRH=3");
            CloseFax(true);
            common.statusCode = fsGettingHangup;
            state_ = rf1WaitDCN;
        }
    }
}

void FaxReceiveSession::OnWaitDcn(int)
{
    if (IsConnect()) {
        ResponseReset();
    } else if (IsOK()) {
        if (modem.finalFrame && modem.lastFCF == WithoutX(fcfEOP)) {
            // The sender did not hear our answer to its EOP and repeats it: the same answer again.
            modem.finalFrame = false;
            modem.morePages = false;
            FrameCommand("AT+FTH=3");
            state_ = rf1SendMCF;
        } else if (modem.finalFrame) {
            Command("ATH");
            state_ = rf1WtHngp;
        } else {
            FrameCommand("AT+FRH=3");
        }
    } else if (FrameDamaged()) {
        FrameCommand("AT+FRH=3");
    } else if (IsNoCarrier()) {
        Command("ATH");
        state_ = rf1WtHngp;
    }
}

void FaxReceiveSession::OnWaitHangup(int)
{
    if (IsOK()) {
        common.statusCode = fsFinished;
        state_ = rfComplete;
    }
}

} // namespace zn::comms
