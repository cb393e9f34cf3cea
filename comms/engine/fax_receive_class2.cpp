// The receive session's Class 2 and Class 2.0 steps: the modem runs T.30; the session sets it up,
// reads its reports (+FTSI/+FTI, +FDCS/+FCS, +FPTS/+FPS, +FET, +FHNG/+FHS) and asks for each page.
#include "fax_receive_session.h"

#include "class1_frames.h"
#include "fax_image_io.h"

namespace zn::comms {

void FaxReceiveSession::OnClassSelected(int)
{
    if (!IsOK()) {
        Abort(ecFaxInitError);
        return;
    }
    BaudSwitch(false);
    Command(modem.keywords[kwReceiveCapabilities] + "=1," + BrDigit(modem.DesiredBPS) + ",0,2,0," + modem.ecmDigit
            + ",0,0");
    state_ = common.faxClass == fcClass20 ? rf2Init1A : rf2Init3;
}

// Class 2.0 only: flow control, then the reports.
void FaxReceiveSession::OnCapabilitiesSet(int) { SetupStep(kFlowControlCommand, rf2Init1B); }
void FaxReceiveSession::OnFlowControlSet(int) { SetupStep(kReportsCommand, rf2Init3); }

void FaxReceiveSession::OnSetupDone(int)
{
    if (IsOK())
        WaitForCall();
    else
        Abort(ecFaxInitError);
}

void FaxReceiveSession::OnClass2Connect(int)
{
    if (KeywordLine(kwConnect)) {
        ArmResponseTimer(modem.responseTimeout);
        common.statusCode = fsValidatedAsFax;
        state_ = rf2GtSndID;
    }
}

void FaxReceiveSession::OnCallerReports(int)
{
    if (KeywordLine(kwTransmitID)) {
        ArmResponseTimer(modem.responseTimeout);
        common.remoteID = StationIdFromReport(KeywordValue());
        if (AcceptAndCreate())
            common.statusCode = fsGotRemoteID;
    } else if (KeywordLine(kwSessionParams)) {
        ArmResponseTimer(modem.responseTimeout);
        ApplySessionParams();
    } else if (IsOK()) {
        AskForPage();
    }
}

void FaxReceiveSession::AskForPage()
{
    Command("AT+FDR");
    ArmPageWait();
    state_ = rf2GtCnnct;
}

void FaxReceiveSession::ArmPageWait()
{
    // The modem may take in the whole page before its CONNECT: allow for the longest page at the
    // session's rate, on top of the response time-out.
    ArmResponseTimer(modem.responseTimeout + LineTicks(kLongestPageBytes, modem.bitRate));
}

void FaxReceiveSession::OnClass2PageConnect(int)
{
    if (KeywordLine(kwSessionParams)) {
        ApplySessionParams();
        ArmPageWait();
    } else if (IsConnect()) {
        FlowOn();
        state_ = rfStartPage;
    }
}

void FaxReceiveSession::OnPageResult(int)
{
    if (KeywordLine(kwPageStatus)) {
        common.statusCode = fsGettingEOP;
        char digit = ReportDigit();
        const bool modemGood = digit == '1' || digit == '3' || digit == '5';
        // The modem's verdict, and this side's own on the rows it counted.
        pageQuality_ = QualityFromPageStatus(KeywordValue(), common.faxClass == fcClass20);
        if (modemGood && CopyQualityAcceptable(pageQuality_)) {
            modem.pageGood = true;
            if (int rc = FinishPage()) {
                Abort(rc);
                return;
            }
        } else {
            RejectPage();
            rtnToSet_ = modemGood; // the modem would confirm it: tell it to answer RTN
        }
        ResponseReset();
    } else if (response.Has("+FET")) {
        common.statusCode = fsGettingDocStatus;
        char digit = ReportDigit();
        // After a rejected page the sender sends it again (or hangs up): it goes into this file.
        fileState_ = !modem.pageGood ? fsAppend
                     : digit == '0'  ? fsAppend
                     : digit == '1' ? fsNewFile
                     : digit == '2' ? fsComplete
                     : digit == '3' ? fsNewFile
                                    : fsNoMorePages;
        ResponseReset();
    } else if (IsOK()) {
        if (rtnToSet_) {
            rtnToSet_ = false;
            Command("AT" + modem.keywords[kwPageStatus] + "=2"); // RTN; its OK comes back here
            return;
        }
        if (modem.pageGood && (fileState_ == fsComplete || fileState_ == fsNewFile)) {
            // The document is whole: it takes its name before +FDR has the modem confirm it.
            if (int rc = CommitFax()) {
                Abort(rc);
                return;
            }
        }
        if (fileState_ == fsComplete) {
            Command("AT+FDR");
            CloseFax(true);
            common.statusCode = fsGettingHangup;
            state_ = rf2GetFHNG;
        } else {
            AskForPage();
        }
    }
}

void FaxReceiveSession::OnWaitHangupReport(int)
{
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
}

} // namespace zn::comms
