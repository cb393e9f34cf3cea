// The receive session: waits for calls, answers after a number of rings, runs the answering side
// of T.30 in Class 1 (or lets a Class 2/2.0 modem run it), and writes each fax into a fax image
// file named by its component. One pass of the state machine per port notification.
#pragma once
#include <cstdint>
#include <string>

#include "class1_frames.h"
#include "fax_session_glue.h"

namespace zn::comms {

enum ReceiveState : uint8_t {
    rfNone, rfInit, rf1Init1, rf2Init1, rf2Init1A, rf2Init1B, rf2Init2, rf2Init3, rfWaiting, rfAnswer,
    rf1SendCSI, rf1SendDIS, rf1CollFrms, rf1CollRtry1, rf1CollRtry2, rf1StrtTrn, rf1CollTrn, rf1Timeout,
    rf1Retrain, rf1FinTrn, rf1SendCFR, rf1WtPgCnnct, rf2ValCnnct, rf2GtSndID, rf2GtCnnct, rfStartPage,
    rfGtPgDta, rf1FinPage, rf1WaitEOP, rf1WritePage, rf1SendMCF, rf1WaitDCN, rf1WtHngp, rf2GtPgRslt,
    rf2GetFHNG, rfComplete, rfAbort, rfDone
};
const char* ReceiveStateName(ReceiveState s);

class FaxReceiveSession : public FaxSession {
public:
    explicit FaxReceiveSession(FaxEngineEvents& events);
    ~FaxReceiveSession() override { Detach(); }

    bool OneFax = false;
    bool ConstantStatus = false;
    ReceiveState startState = rfInit;

    ReceiveState State() const
    {
        std::lock_guard<std::recursive_mutex> hold(passLock_);
        return state_;
    }

protected:
    void Prepare() override;
    void Pass(uint32_t msg, int trigger) override;

private:
    enum class Collected { Nothing, Line, StateChanged };
    // What the file is at: 1 a new file starts at the next page (after EOM in Class 2), 2 pages go
    // into the open file, 3 no file yet (before the first page), 4 the fax is complete.
    enum FileState { fsNewFile = 1, fsAppend = 2, fsNoFile = 3, fsComplete = 4, fsNoMorePages = 0 };

    Collected Collect();
    void HandleFrame();
    bool NeedsResponse(ReceiveState s) const;
    bool RunsAtOnce(ReceiveState s) const;
    void OnResponseTimer();
    void Step(int trigger);
    void Abort(int code);
    bool Class1() const { return common.faxClass == fcClass1; }

    int CreateFile();
    bool AcceptAndCreate();
    int ReceivePageData(bool& ended);
    int FlushPageBuffer();
    void TrackRtc(uint8_t& stored);
    int FinishPage();
    void CutPage();
    void CloseFax(bool good);
    int TrainingCheck(bool& ended, bool& good);
    void FlowOn();
    void FlowOff();
    void WriteFrame(const std::vector<uint8_t>& frame);
    void StatusFirst();
    void StatusLast();

    ReceiveState state_ = rfNone;
    int fileState_ = fsNoFile;
    bool statusShown_ = false;
    bool eomSeen_ = false;
    bool userAbort_ = false;
    bool writeFailed_ = false; // the port refused a command or write: the session ends
    bool pageOpen_ = false;
    int pagesInFile_ = 0;
    uint8_t lastChar_ = 255;
    // Return-to-control tracking: what follows the six EOLs that end a page is line noise.
    int rtcZeros_ = 0;
    int rtcEols_ = 0;
    int pageRows_ = 0; // EOLs of the page so far: the row being received is this one
    bool rtcSeen_ = false;
    bool dleSeen_ = false;
    TrainingCount training_;
};

} // namespace zn::comms
