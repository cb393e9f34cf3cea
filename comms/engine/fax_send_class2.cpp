// The send session's Class 2 and Class 2.0 steps: the modem runs T.30; the session sets it up,
// reads its reports (+FCSI/+FCIS, +FDCS/+FCS, +FPTS/+FPS, +FHNG/+FHS) and ends each page.
#include "fax_send_session.h"

#include <algorithm>
#include <cctype>

#include "class1_frames.h"
#include "fax_image_io.h"

namespace zn::comms {

void FaxSendSession::OnClassSelected(int)
{
    SetupStep(modem.keywords[kwLocalID] + "=\"" + common.StationID + "\"",
              common.faxClass == fcClass20 ? tf2Init1A : tf2Init2);
}

// Class 2.0 only: flow control, then the reports.
void FaxSendSession::OnLocalIdSet(int) { SetupStep(kFlowControlCommand, tf2Init1B); }
void FaxSendSession::OnFlowControlSet(int) { SetupStep(kReportsCommand, tf2Init2); }

void FaxSendSession::OnReadyForCapabilities(int)
{
    char wideDigit = modem.wide ? '1' : '0';
    SetupStep(modem.keywords[kwSendCapabilities] + "=" + modem.resolutionDigit + "," + BrDigit(modem.DesiredBPS) + ","
                  + wideDigit + ",2,0," + modem.ecmDigit + ",0,0",
              tf2Init3);
}

void FaxSendSession::OnCapabilitiesSet(int) { SetupDone(tfDial); }

void FaxSendSession::OnClass2Connect(int)
{
    if (KeywordLine(kwConnect)) {
        farEndAnswered_ = true;
        ResponseReset(kNegotiationTicks);
        state_ = tf2GetParams;
    } else if (!DialResult()) {
        ResponseReset(std::max<int32_t>(modem.DialWait, modem.responseTimeout));
    }
}

void FaxSendSession::OnClass2Params(int)
{
    if (KeywordLine(kwRemoteCapabilities)) {
        Class2Params p = ParseClass2Params(KeywordValue(), common.faxClass == fcClass20);
        modem.remoteFine = p.fine;
        modem.remoteWide = p.width >= 1;
        bool fine = modem.resolutionDigit == '1';
        if ((fine && !modem.remoteFine) || (modem.wide && !modem.remoteWide)) {
            Abort(ecFaxBadMachine);
            return;
        }
        common.statusCode = fsGettingParams;
        modem.forceStatus = true;
        ResponseReset();
    } else if (KeywordLine(kwCalledID)) {
        common.remoteID = StationIdFromReport(KeywordValue());
        common.statusCode = fsGotRemoteID;
        modem.forceStatus = true;
        ResponseReset();
    } else if (KeywordLine(kwSessionParams)) {
        modem.ECM = ApplySessionParams().ECM;
        UpdateMinimumRowBytes();
        modem.forceStatus = true;
        ResponseReset();
    } else if (IsOK()) {
        Command("AT+FDT");
        ResponseReset(kPageSetupTicks);
    } else if (IsConnect()) {
        if (common.faxClass == fcClass20) {
            ArmOutputFree();
            ArmResponseTimer(modem.pageTimeout);
            state_ = tfWaitFrHead;
        } else {
            ArmResponseTimer(kXonTicks);
            state_ = tfWaitXon;
        }
    } else {
        ResponseReset();
    }
}

void FaxSendSession::OnClass2PageEnd(int)
{
    ResponseReset(DrainTicks());
    common.statusCode = fsSendingEOP;
    state_ = common.faxClass == fcClass2 ? tf2WaitFPTS : tf20ChckPg;
}

void FaxSendSession::AfterPageAccepted()
{
    // A next page of another resolution first gets its session parameters.
    state_ = modem.morePages && modem.resolutionDigit != modem.previousResolution ? tf2SndNwPrm : tf2NextPage;
}

void FaxSendSession::OnWaitPageTransferStatus(int)
{
    if (IsOK()) {
        char digit = !modem.morePages ? '2' : modem.resolutionDigit != modem.previousResolution ? '1' : '0';
        Command(std::string("AT+FET=") + digit);
        ResponseReset(DrainTicks());
        state_ = tf2WaitFET;
    } else {
        Abort(ecFaxSessionError);
    }
}

void FaxSendSession::OnWaitPostPageStatus(int)
{
    if (IsHangupWord()) {
        modem.hangupCode = HangupCodeOf(response.Text());
        ResponseReset();
    } else if (KeywordLine(kwPageStatus)) {
        char digit = ReportDigit();
        if (digit == '1' || digit == '3') {
            common.statusCode = fsPageAccepted;
            ResponseReset();
        } else if (digit == '2') {
            common.statusCode = fsPageError;
            ResponseReset();
            state_ = tf2WaitPgOK;
        } else if (digit == '4' || digit == '5') {
            Abort(ecCancelRequested);
        } else {
            Abort(ecFaxPageError);
        }
    } else if (IsOK()) {
        AfterPageAccepted();
    } else {
        Abort(ecFaxPageError);
    }
}

void FaxSendSession::OnWaitPageVerdict(int)
{
    if (KeywordLine(kwPageStatus)
        || (!response.Text().empty() && std::isdigit(static_cast<unsigned char>(response.Text()[0])))) {
        // The value line of AT+FPS?: its OK follows.
        pageStatus_ = ReportDigit();
        ResponseReset();
    } else if (IsOK()) {
        if (pageStatus_ == '1' || pageStatus_ == '3') {
            pageStatus_ = 0;
            common.statusCode = fsPageAccepted;
            AfterPageAccepted();
            return;
        }
        ResendPage();
    } else {
        Abort(ecFaxSessionError);
    }
}

void FaxSendSession::ResendPage()
{
    if (pageRetryCount_ >= pageRetryLimit)
        Keep(Port().WriteString("AT+FKS\r")); // the last try failed: the modem ends the call
    if (int rc = RewindForRetry()) {
        Abort(rc);
        return;
    }
    Command("AT+FDT");
    ResponseReset(kPageSetupTicks);
    state_ = tf2GetParams;
}

void FaxSendSession::OnSendNewParams(int)
{
    if (modem.morePages) {
        std::string kw = common.faxClass == fcClass2 ? "AT+FDIS=" : "AT+FIS=";
        Command(kw + modem.resolutionDigit);
        state_ = tf2GetParams;
    } else {
        state_ = tfClose;
    }
}

void FaxSendSession::OnClass2NextPage(int)
{
    if (modem.morePages) {
        DelayTicks(kNextPageDelayTicks, false);
        Command("AT+FDT");
        ResponseReset(kPageSetupTicks);
        state_ = tf2GetParams;
    } else {
        state_ = tfClose;
    }
}

void FaxSendSession::OnClass20CheckPage(int)
{
    if (IsOK()) {
        common.statusCode = fsPageAccepted;
        AfterPageAccepted();
    } else if (IsError()) {
        Command("AT+FPS?");
        common.statusCode = fsPageError;
        pageStatus_ = 0;
        state_ = tf2WaitPgOK;
    } else if (IsHangupWord()) {
        modem.hangupCode = HangupCodeOf(response.Text());
        ResponseReset();
    } else if (KeywordLine(kwPageStatus)) {
        // The far end's verdict on the page; a rejected page is sent again after the OK.
        char digit = ReportDigit();
        if (digit == '2') {
            common.statusCode = fsPageError;
            pageStatus_ = digit;
            state_ = tf2WaitPgOK;
        } else if (digit == '4' || digit == '5') {
            Abort(ecCancelRequested);
            return;
        }
        ResponseReset();
    } else {
        Abort(ecFaxPageError);
    }
}

} // namespace zn::comms
