// The send session: takes entries (number, fax file, cover) from its component one after another,
// dials, and sends the pages in Class 1 (T.30 run here), Class 2 or Class 2.0 (T.30 run by the
// modem). One pass of the state machine per port notification.
#pragma once
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "fax_session_glue.h"

namespace zn::comms {

enum SendState : uint8_t {
    tfNone,
    tfGetEntry,
    tfInit,
    tf1Init1,
    tf2Init1,
    tf2Init1A,
    tf2Init1B,
    tf2Init2,
    tf2Init3,
    tfDial,
    tfRetryWait,
    tf1Connect,
    tf1SendTSI,
    tf1TSIRespns,
    tf1DCSRspns,
    tf1TrainStrt,
    tf1TrainFnsh,
    tf1WaitCFR,
    tf1WaitPgCn,
    tf2Connect,
    tf2GetParams,
    tfWaitXon,
    tfWaitFrHead,
    tfSndPgeHdr,
    tfOpenCover,
    tfSendCover,
    tfPrepPage,
    tfSendPage,
    tfDrainPage,
    tf1PageEnd,
    tf1PrepEOP,
    tf1SendEOP,
    tf1WaitMPS,
    tf1WaitEOP,
    tf1WaitMCF,
    tf1SendDCN,
    tf1Hangup,
    tf1WaitHngp,
    tf2SendEOP,
    tf2WaitFPTS,
    tf2WaitFET,
    tf2WaitPgOK,
    tf2SndNwPrm,
    tf2NextPage,
    tf20ChckPg,
    tfClose,
    tfCompleteOK,
    tfAbort,
    tfDone
};
const char* SendStateName(SendState s);

// Turns a line of text into MH-coded rows: the page header line (small font) and the lines of a
// text cover (large font). Provided by the component from the fax font converter.
class FaxTextRows {
public:
    virtual ~FaxTextRows() = default;
    virtual int CodeText(const std::string& text, bool headerFont, bool fine, bool wide,
                         std::vector<std::vector<uint8_t>>& rows) = 0;
};

// The end-of-page block: the 16-bit EOL and six 12-bit EOLs (RTC), and a zero byte.
extern const uint8_t kEndOfPage[12];

// The dispatch log numbers the send states from 30.
class FaxSendSession : public FaxStateMachine<FaxSendSession, SendState, tfAbort, tfDone, 30> {
public:
    explicit FaxSendSession(FaxEngineEvents& events);
    ~FaxSendSession() override { Detach(); }

    // Settings of the component.
    uint16_t MaxSendCount = 50;
    uint16_t BufferMinimum = 1000;
    int32_t pageRetryLimit = 2;
    bool SafeMode = true;
    bool sendMPS = true;
    std::string HeaderLine, HeaderSender, HeaderRecipient, HeaderTitle;
    FaxTextRows* textRows = nullptr;
    // Today's date and the time of day as the header line shows them.
    std::function<void(std::string& date, std::string& time)> dateTimeTexts;

    // The page the line carries, as the status shows it: its number (0: the cover), its length and
    // how much of it the line has carried. The port passes page data on to the system's and the
    // modem's own queues, which hold many seconds of it: what has left the port (less
    // `portQueued`, what it still holds) counts only as far as the line can have carried it at
    // the session's bit rate since the page began. The page stays on show until the next begins.
    struct PageOnLine {
        int32_t page = 0, length = 0, bytes = 0;
    };
    PageOnLine PageOnTheLine(uint32_t portQueued) const;

protected:
    void Prepare() override;
    void OnResponseTimer() override;
    void OnFrame(const ReceivedFrame& f) override;
    void OnAbortRequest() override;
    bool ErrorEndsSession() const override;
    int HangupReportError() const override;
    bool WaitsForOtherSession() const override;

private:
    friend const char* SendStateName(SendState s);
    friend FaxStateMachine;
    static const StateRow kStates[];

    // The steps, one a state (fax_send_session.cpp: the entries, dialing and the pages;
    // fax_send_class1.cpp: T.30 run here; fax_send_class2.cpp: T.30 run by the modem).
    void OnGetEntry(int);
    void OnInit(int);
    void OnDial(int);
    void OnRetryWait(int trigger);
    void OnWaitXon(int trigger);
    void OnWaitPageStart(int trigger);
    void OnSendHeaderLine(int);
    void OnOpenCover(int);
    void OnSendCover(int trigger);
    void OnPreparePage(int);
    void OnSendPage(int trigger);
    void OnDrainPage(int trigger);
    void OnClose(int);
    void OnComplete(int);
    void OnAbort(int);

    void OnClass1Init(int);
    void OnClass1Connect(int);
    void OnSendTsi(int);
    void OnSendDcs(int);
    void OnDcsSent(int);
    void OnTrainStart(int);
    void OnTrainFinish(int);
    void OnWaitCfr(int);
    void OnWaitPageConnect(int);
    void OnClass1PageEnd(int);
    void OnPreparePostPage(int);
    void OnSendPostPage(int);
    void OnPostPageSent(int);
    void OnWaitMcf(int);
    void OnSendDcn(int);
    void OnDcnSent(int);
    void OnWaitHangup(int);

    void OnClassSelected(int);
    void OnLocalIdSet(int);
    void OnFlowControlSet(int);
    void OnReadyForCapabilities(int);
    void OnCapabilitiesSet(int);
    void OnClass2Connect(int);
    void OnClass2Params(int);
    void OnClass2PageEnd(int);
    void OnWaitPageTransferStatus(int);
    void OnWaitPostPageStatus(int);
    void OnWaitPageVerdict(int);
    void OnSendNewParams(int);
    void OnClass2NextPage(int);
    void OnClass20CheckPage(int);

    void AfterPageAccepted();
    bool DialResult();
    void PageTrigger(int trigger);
    void EndPageData();
    void OnMcf();
    void OnRtn();

    int OpenEntry();
    void ReadPageHeaderFlags();
    HeaderValues HeaderTokens(bool withCover, int currentPage) const;
    int SendHeaderLine();
    int OpenCover();
    int SendCoverLines();
    int SendPageBlocks(bool& done);
    int AdvancePage();
    int RewindToSentPage();
    // A page the far end asks for again: its retries counted, then read again from its start.
    int RewindForRetry();
    void ResendPage();
    void WatchDuringPage();
    // The line went dead under the page (NO CARRIER, or the carrier line dropped): the far end hung
    // up, and the modem is back in command state.
    void FarEndHungUp();
    bool CarrierVanished();
    void ArmOutputFree() { Port().SetStatusTrigger(common.outputFreeTrigger, 4096, true); }
    // The next page data goes when the port has room again; the page time-out runs meanwhile.
    void WaitForRoom()
    {
        ArmResponseTimer(modem.pageTimeout);
        ArmOutputFree();
    }
    void ArmOutputSent() { Port().SetStatusTrigger(common.outputSentTrigger, 0, true); }
    int32_t DrainTicks();
    bool Class1() const { return common.faxClass == fcClass1; }
    bool InDataMode() const;
    void CloseFiles();
    void ChooseSpeedFromDis();
    void SendFinalFrame(uint8_t fcf);
    // Hangs up a call the far end has not answered yet, or whose line is gone.
    void HangupInCommandState();
    uint8_t PostPageFcf() const;

    int32_t pageRetryCount_ = 0;
    int32_t frameRetry_ = 0;
    bool mcfConnect_ = false;
    bool entryActive_ = false;
    bool disSeen_ = false;
    bool farEndAnswered_ = false; // the dial of this entry got CONNECT
    bool hungUpForAbort_ = false;  // the abort request already ended the data and hung up
    bool lineDropped_ = false;     // the modem said the line is gone: it needs no escape to hang up
    bool carrierAtPageStart_ = false; // the modem showed a carrier when the page began
    bool textCoverOpen_ = false;
    std::ifstream coverReader_;
    std::string coverFileName_;
    uint8_t lastPostPage_ = 0;
    char pageStatus_ = 0; // the page verdict of +FPTS/+FPS or AT+FPS?
    int64_t pageStartBytes_ = 0; // BytesWritten() when the page's data began
    // The page whose post-page exchange runs, kept so that RTN can send it again.
    int32_t sentPage_ = 0;
    bool sentCover_ = false;
    std::string sentCoverFile_;
    char nextResolution_ = '0';
    int32_t fileBytesRead_ = 0;
    RowPacker rowPacker_;
    // The page on the line (PageOnTheLine): when it began, and once the next page is prepared
    // while the line still carries it, its length and the bytes handed over.
    bool pageOnLine_ = false;
    bool pageHandedOver_ = false;
    int32_t linePage_ = 0, lineLength_ = 0, lineHanded_ = 0;
    int64_t lineStartMs_ = 0;
};

} // namespace zn::comms
