// The send session's Class 1 steps: this side runs T.30 (TSI, DCS, TCF, the post-page exchange,
// DCN) over the modem's frame and data commands.
#include "fax_send_session.h"

#include <algorithm>

#include "class1_frames.h"
#include "fax_image_io.h"

namespace zn::comms {

void FaxSendSession::OnFrame(const ReceivedFrame& f)
{
    switch (modem.lastFCF) {
    case fcfDIS: {
        DecodedCaps caps = DecodeDIS(f.info);
        disSeen_ = true;
        modem.remoteModulations = caps.modulations;
        modem.remoteFine = caps.fine;
        modem.remoteWide = caps.wide;
        modem.remoteLength = caps.length;
        modem.scanTimeCode = caps.scanTimeCode;
        modem.fine = modem.resolutionDigit == '1';
        modem.wide = (ApfPageFlags(modem) & kPageWide) != 0 && modem.faxFile;
        if ((modem.fine && !modem.remoteFine) || (modem.wide && !modem.remoteWide)) {
            Abort(ecFaxBadMachine);
            return;
        }
        ChooseSpeedFromDis();
        if (modem.rateIndex < 0) {
            Abort(ecFaxBadMachine);
            return;
        }
        common.statusCode = fsGettingParams;
        modem.forceStatus = true;
        break;
    }
    case WithoutX(fcfCFR): modem.cfrSeen = true; break;
    case WithoutX(fcfFTT): {
        // Training failed: a lower speed, and DCS and TCF again.
        int next = ChooseRate(modem.localRates, modem.remoteModulations, modem.DesiredBPS, modem.rateIndex + 1);
        if (next < 0) {
            Abort(ecFaxTrainError);
            return;
        }
        modem.rateIndex = next;
        modem.bitRate = FaxRates()[size_t(next)].bitRate;
        UpdateMinimumRowBytes();
        FrameCommand("AT+FTH=3");
        state_ = tf1TSIRespns;
        break;
    }
    case WithoutX(fcfDCN): Abort(ecCancelRequested); break;
    default: break;
    }
}

void FaxSendSession::ChooseSpeedFromDis()
{
    modem.rateIndex = ChooseRate(modem.localRates, modem.remoteModulations, modem.DesiredBPS);
    if (modem.rateIndex >= 0) {
        modem.bitRate = FaxRates()[size_t(modem.rateIndex)].bitRate;
        modem.modulationCode = FaxRates()[size_t(modem.rateIndex)].longCode;
    }
    UpdateMinimumRowBytes();
}

void FaxSendSession::SendFinalFrame(uint8_t fcf) { WriteFrame(BuildFrame(fcf, true)); }

uint8_t FaxSendSession::PostPageFcf() const
{
    if (!modem.morePages)
        return fcfEOP;
    // A next page of another resolution or width needs a new DCS: EOM lets the far end send its
    // DIS again.
    bool nextWide = (ApfPageFlags(modem) & kPageWide) != 0;
    if (modem.resolutionDigit != modem.previousResolution || nextWide != modem.wide)
        return fcfEOM;
    return sendMPS ? fcfMPS : fcfEOM;
}

void FaxSendSession::OnClass1Init(int) { SetupDone(tfDial); }

void FaxSendSession::OnClass1Connect(int)
{
    if (IsConnect()) {
        farEndAnswered_ = true;
        ResponseReset();
    } else if (IsOK()) {
        if (modem.finalFrame && disSeen_) {
            Command("AT+FTH=3", kResponseDelayMs);
            modem.finalFrame = false;
            state_ = tf1SendTSI;
        } else {
            FrameCommand("AT+FRH=3");
        }
    } else if (IsFcError()) {
        FrameCommand("AT+FRH=3");
    } else if (!DialResult()) {
        ResponseReset(std::max<int32_t>(modem.DialWait, modem.responseTimeout));
    }
}

void FaxSendSession::OnSendTsi(int)
{
    if (IsConnect()) {
        WriteFrame(BuildIdFrame(fcfTSI, common.StationID));
        ResponseReset();
        state_ = tf1TSIRespns;
    }
}

void FaxSendSession::OnSendDcs(int)
{
    if (IsConnect()) {
        DcsParams p;
        p.rateIndex = modem.rateIndex;
        p.fine = modem.fine;
        p.wide = modem.wide;
        p.scanTimeCode = modem.scanTimeCode;
        p.remoteLength = modem.remoteLength;
        modem.modulationCode = FaxRates()[size_t(modem.rateIndex)].longCode;
        WriteFrame(BuildDCS(p));
        ResponseReset();
        state_ = tf1DCSRspns;
    }
}

void FaxSendSession::OnDcsSent(int)
{
    if (IsOK()) {
        Command("AT+FTM=" + modem.modulationCode, kResponseDelayMs);
        state_ = tf1TrainStrt;
    }
}

void FaxSendSession::OnTrainStart(int)
{
    if (IsConnect()) {
        if (common.options & foSoftwareFlow)
            Port().SetSoftwareFlow(0, 0, kSoftwareFlowTransmit);
        std::vector<uint8_t> tcf = BuildTCF(modem.bitRate);
        Keep(WriteRaw(tcf.data(), tcf.size()));
        ResponseReset(DrainTicks());
        state_ = tf1TrainFnsh;
    } else if (IsNoCarrier() || IsFcError()) {
        Abort(ecFaxSessionError);
    }
}

void FaxSendSession::OnTrainFinish(int)
{
    if (IsOK()) {
        if (common.options & foSoftwareFlow)
            Port().ClearSoftwareFlow();
        DelayMs(kTurnaroundMs);
        FrameCommand("AT+FRH=3");
        modem.cfrSeen = false;
        modem.finalFrame = false;
        state_ = tf1WaitCFR;
    }
}

void FaxSendSession::OnWaitCfr(int)
{
    if (IsOK()) {
        if (!modem.finalFrame) {
            FrameCommand("AT+FRH=3");
        } else if (modem.cfrSeen) {
            Command("AT+FTM=" + std::string(FaxRates()[size_t(modem.rateIndex)].shortCode), kResponseDelayMs);
            modem.finalFrame = false;
            state_ = tf1WaitPgCn;
        } else {
            DelayMs(kTurnaroundMs);
            FrameCommand("AT+FTH=3");
            state_ = tf1TSIRespns;
        }
    } else if (IsFcError() || IsNoCarrier()) {
        FrameCommand("AT+FRH=3");
    }
}

void FaxSendSession::OnWaitPageConnect(int)
{
    if (IsConnect()) {
        // The modem sends its training now and then needs page data at once: no XON to wait for.
        ArmOutputFree();
        ArmResponseTimer(modem.pageTimeout);
        state_ = tfWaitFrHead;
    } else if (IsNoCarrier() || IsFcError()) {
        Abort(ecFaxSessionError);
    }
}

void FaxSendSession::OnClass1PageEnd(int)
{
    if (IsOK()) {
        frameRetry_ = 0;
        // Only the last page ends with EOP; MPS and EOM pages stay "sending page data" until the
        // far end's answer.
        if (!modem.morePages) {
            common.statusCode = fsSendingEOP;
            modem.forceStatus = true;
        }
        state_ = tf1PrepEOP;
    } else if (IsNoCarrier()) {
        FarEndHungUp(); // the line went dead before the page's end had crossed it
    }
}

void FaxSendSession::OnPreparePostPage(int)
{
    if (++frameRetry_ <= kCommandRepeats) {
        // The post-page command follows the page at once; a repeat waits for the far end to settle.
        Command("AT+FTH=3", frameRetry_ == 1 ? kResponseDelayMs : kRepeatDelayMs);
        state_ = tf1SendEOP;
    } else {
        Abort(ecTimeout);
    }
}

void FaxSendSession::OnSendPostPage(int)
{
    if (IsConnect()) {
        lastPostPage_ = PostPageFcf();
        SendFinalFrame(lastPostPage_);
        ResponseReset();
        state_ = tf1WaitMPS;
    } else if (IsError()) {
        state_ = tf1PrepEOP;
    }
}

void FaxSendSession::OnPostPageSent(int)
{
    if (IsOK()) {
        DelayMs(kTurnaroundMs);
        FrameCommand("AT+FRH=3");
        ArmResponseTimer(kT4Ticks);
        modem.finalFrame = false;
        modem.lastFCF = 0;
        state_ = tf1WaitMCF;
    }
}

void FaxSendSession::OnWaitMcf(int)
{
    if (IsConnect()) {
        ResponseReset(kT4Ticks);
        return;
    }
    if (IsError() || IsFcError()) {
        state_ = tf1PrepEOP;
        return;
    }
    if (!IsOK())
        return;
    if (!modem.finalFrame) {
        FrameCommand("AT+FRH=3");
        return;
    }
    uint8_t fcf = modem.lastFCF;
    if (fcf == WithoutX(fcfRTN)) {
        OnRtn();
    } else if (fcf == WithoutX(fcfMCF)) {
        OnMcf();
    } else if (fcf == WithoutX(fcfRTP)) {
        pageRetryCount_ = 0;
        FrameCommand("AT+FTH=3");
        state_ = modem.morePages ? tf1TSIRespns : tf1SendDCN;
    } else {
        FrameCommand("AT+FRH=3");
    }
}

void FaxSendSession::OnRtn()
{
    // The page came out badly: train again and send it once more.
    if (int rc = RewindForRetry()) {
        Abort(rc);
        return;
    }
    FrameCommand("AT+FTH=3");
    state_ = tf1TSIRespns;
}

void FaxSendSession::OnMcf()
{
    pageRetryCount_ = 0;
    common.statusCode = fsPageAccepted;
    modem.forceStatus = true;
    if (!modem.morePages) {
        FrameCommand("AT+FTH=3");
        state_ = tf1SendDCN;
    } else if (lastPostPage_ == fcfMPS) {
        Command("AT+FTM=" + std::string(FaxRates()[size_t(modem.rateIndex)].shortCode), kResponseDelayMs);
        state_ = tf1WaitPgCn;
    } else {
        // After EOM the called station starts again with its DIS.
        disSeen_ = false;
        modem.finalFrame = false;
        FrameCommand("AT+FRH=3");
        ArmResponseTimer(std::max<int32_t>(modem.responseTimeout, kT1Ticks));
        state_ = tf1Connect;
    }
}

void FaxSendSession::OnSendDcn(int)
{
    if (IsConnect()) {
        SendFinalFrame(fcfDCN);
        ResponseReset();
        state_ = tf1Hangup;
    }
}

void FaxSendSession::OnDcnSent(int)
{
    if (IsOK()) {
        Command("ATH");
        ArmResponseTimer(kHangupTicks);
        state_ = tf1WaitHngp;
    }
}

void FaxSendSession::OnWaitHangup(int)
{
    if (IsOK())
        state_ = tfClose;
}

} // namespace zn::comms
