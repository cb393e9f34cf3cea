// The receive session: waits for calls, answers after a number of rings, runs the answering side
// of T.30 in Class 1 (or lets a Class 2/2.0 modem run it), and writes each fax into a fax image
// file named by its component. One pass of the state machine per port notification.
#pragma once
#include <cstdint>
#include <string>

#include <memory>

#include "class1_frames.h"
#include "copy_quality.h"
#include "fax_session_glue.h"
#include "faxdoc/mh_coder.h"
#include "platform/file_replacement.h"

namespace zn::comms {

enum ReceiveState : uint8_t {
    rfNone,
    rfInit,
    rf1Init1,
    rf2Init1,
    rf2Init1A,
    rf2Init1B,
    rf2Init2,
    rf2Init3,
    rfWaiting,
    rfAnswer,
    rf1SendCSI,
    rf1SendDIS,
    rf1CollFrms,
    rf1CollRtry1,
    rf1CollRtry2,
    rf1StrtTrn,
    rf1CollTrn,
    rf1Timeout,
    rf1Retrain,
    rf1FinTrn,
    rf1SendCFR,
    rf1WtPgCnnct,
    rf2ValCnnct,
    rf2GtSndID,
    rf2GtCnnct,
    rfStartPage,
    rfGtPgDta,
    rf1FinPage,
    rf1WaitEOP,
    rf1WritePage,
    rf1SendMCF,
    rf1WaitDCN,
    rf1WtHngp,
    rf2GtPgRslt,
    rf2GetFHNG,
    rfComplete,
    rfAbort,
    rfDone
};
const char* ReceiveStateName(ReceiveState s);

// The dispatch log numbers the receive states from 79.
class FaxReceiveSession : public FaxStateMachine<FaxReceiveSession, ReceiveState, rfAbort, rfDone, 79> {
public:
    explicit FaxReceiveSession(FaxEngineEvents& events);
    ~FaxReceiveSession() override { Detach(); }

    bool OneFax = false;
    bool ConstantStatus = false;
    ReceiveState startState = rfInit;

protected:
    void Prepare() override;
    void OnResponseTimer() override;
    void OnFrame(const ReceivedFrame& f) override;
    void OnAbortRequest() override;
    bool ErrorEndsSession() const override { return true; }
    // In a Class 1 call, a modem that lost the carrier and then refuses the next command has lost
    // the line: the far end hung up.
    int ErrorReplyError() const override
    {
        return common.faxClass == fcClass1 && carrierLost_ && state_ >= rf1SendCSI && state_ <= rf1WtHngp
                   ? ecCancelRequested
                   : ecFaxBadModemResult;
    }
    int HangupReportError() const override;
    bool WaitsForOtherSession() const override;
    bool ReadsRawData() const override { return state_ == rfGtPgDta || state_ == rf1CollTrn; }
    // The commands this side waits for: DCS, the post-page command, DCN (or the repeated EOP).
    bool AwaitsRepeatedCommand() const override
    {
        return Class1() && (state_ == rf1CollFrms || state_ == rf1WaitEOP || state_ == rf1WaitDCN);
    }

private:
    friend const char* ReceiveStateName(ReceiveState s);
    friend FaxStateMachine;
    static const StateRow kStates[];

    // What the file is at: 1 a new file starts at the next page (after EOM in Class 2), 2 pages go
    // into the open file, 3 no file yet (before the first page), 4 the fax is complete.
    enum FileState { fsNewFile = 1, fsAppend = 2, fsNoFile = 3, fsComplete = 4, fsNoMorePages = 0 };

    // The steps, one a state (fax_receive_session.cpp: waiting, answering and the pages;
    // fax_receive_class1.cpp: T.30 run here; fax_receive_class2.cpp: T.30 run by the modem).
    void OnInit(int);
    void OnWaiting(int);
    void OnAnswer(int);
    void OnStartPage(int);
    void OnPageData(int trigger);
    void OnComplete(int);
    void OnAbort(int);

    void OnClass1Init(int);
    void OnSendCsi(int);
    void OnSendDis(int);
    void OnCollectFrames(int);
    void OnFrameRetry(int);
    void OnFrameRetryAnswered(int);
    void OnTrainingConnect(int);
    void OnCollectTraining(int trigger);
    void OnSendFtt(int);
    void OnTrainingEnd(int);
    void OnSendCfr(int);
    void OnWaitPageConnect(int);
    void OnPageCarrierEnd(int);
    void OnWaitPostPage(int);
    void OnWritePage(int);
    void OnSendMcf(int);
    void OnWaitDcn(int);
    void OnWaitHangup(int);

    void OnClassSelected(int);
    void OnCapabilitiesSet(int);
    void OnFlowControlSet(int);
    void OnSetupDone(int);
    void OnClass2Connect(int);
    void OnCallerReports(int);
    void OnClass2PageConnect(int);
    // Class 2/2.0: AT+FDR, and the wait for the page that follows it.
    void AskForPage();
    void ArmPageWait();
    void OnPageResult(int);
    void OnWaitHangupReport(int);

    void WaitForCall();
    void CollectFramesAgain();
    bool Class1() const { return common.faxClass == fcClass1; }

    int CreateFile();
    bool AcceptAndCreate();
    int ReceivePageData(bool& ended);
    int FlushPageBuffer();
    void TrackRtc(uint8_t& stored);
    int FinishPage();
    void CutPage();
    bool PageQualityGood();
    void RejectPage();
    int CommitFax();
    void CloseFax(bool good);
    int TrainingCheck(bool& ended, bool& good);
    void FlowOn();
    void FlowOff();
    void StatusFirst();
    void StatusLast();

    int fileState_ = fsNoFile;
    bool statusShown_ = false;
    bool eomSeen_ = false;
    bool pageOpen_ = false;
    uint8_t lastChar_ = 255;
    // Return-to-control tracking: what follows the six EOLs that end a page is line noise.
    int rtcZeros_ = 0;
    int rtcEols_ = 0;
    int pageRows_ = 0; // EOLs of the page so far: the row being received is this one
    bool rtcSeen_ = false;
    bool dleSeen_ = false;
    TrainingCount training_;
    // The copy quality of the page being received: its rows are decoded as they are stored.
    faxdoc::TMhDecoder pageCheck_;
    // The last page was answered (MCF or RTN) and no new page has started: a repeated post-page
    // command gets the same answer again.
    bool pageAnswered_ = false;
    // The counts the last page was judged by (Class 1: its decoded rows; Class 2/2.0: the modem's).
    PageQuality pageQuality_;
    // Class 2/2.0: the modem found the page good but this side did not; RTN is to be set.
    bool rtnToSet_ = false;
    // The fax being received: written under a temporary name, and under its own only once it is
    // whole (committed) and before its end is confirmed to the sender.
    std::unique_ptr<platform::FileReplacement> receiving_;
    bool committed_ = false;
};

} // namespace zn::comms
