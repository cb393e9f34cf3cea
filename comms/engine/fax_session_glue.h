// How a fax session meets its fax component: the engine messages, the component's answers, the
// names of received files and the $ tokens of the page header line; and the session base that
// registers a session's triggers and handler on its port and serialises every pass.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "class1_frames.h"
#include "fax_engine.h"
#include "fax_modem_commands.h"

namespace zn::comms {

// Engine -> component messages, sent to the component's window with lParam = the session.
enum FaxEngineMessage : uint32_t {
    fmAbortRequest = 0x7EA0,
    fmFaxNext = 0x7EA1,
    fmFaxStatus = 0x7EA2,
    fmFaxLog = 0x7EA3,
    fmFaxName = 0x7EA4,
    fmFaxAccept = 0x7EA5,
    fmFaxError = 0x7EA6,
    fmFaxFinish = 0x7EA7,
};

enum FaxLogCode : int {
    lfTransmitStart = 1,
    lfTransmitOK = 2,
    lfTransmitFail = 3,
    lfReceiveStart = 4,
    lfReceiveOK = 5,
    lfReceiveSkip = 6,
    lfReceiveFail = 7,
    // Receiving: this side refused a page for its copy quality (RTN); the sender sends it again.
    lfPageRefused = 8,
    // Sending: the far end refused a page (RTN, or a negative page report); it is sent again.
    lfPageResent = 9,
};

class FaxSession;

// The sessions' timers, in ticks, and their waits, in milliseconds: T.30's and the modems'.
// T.30 T1: the called station's DIS is due within 35 s (+/- 5 s): after EOM the caller waits for it.
constexpr int32_t kT1Ticks = SecondsToTicks(40);
// T.30 T4: a command's response is due within 3 s.
constexpr int32_t kT4Ticks = SecondsToTicks(3);
// T.30: a station answers a command 75 ms after it ended. Every wait before this side's own
// transmission keeps to that; longer ones only lengthen the call.
constexpr int kResponseDelayMs = 75;
// T.30: a command is repeated at most three times before the call is given up.
constexpr int kCommandRepeats = 3;
// After a transmission of its own a station gives the line time to turn round before it listens
// (AT+FRH) or sends again (AT+FTH).
constexpr int kTurnaroundMs = 200;
// The pause between a modem's CONNECT and the frame this side writes.
constexpr int kFrameDelayMs = 20;
// A repeated post-page command waits for the far end to settle.
constexpr int kRepeatDelayMs = 500;
// Class 1, receiving: the byte after a DLE of the training is at most a few character times
// behind it; after the training's carrier is gone, a short pause before CFR or FTT; the modem's
// answer to the AT that ended a frame receive is let in, then dropped.
constexpr int kByteWaitMs = 10;
constexpr int kAfterTrainingMs = 20;
constexpr int kRetrySettleMs = 100;
// Class 1: the modem's OK to ATH, after DCN.
constexpr int32_t kHangupTicks = 26;
// Class 2/2.0: after +FCON the modem reports the far end's identity and capabilities within 10 s;
// after AT+FDT it negotiates and trains (once more after a rejected page) within 30 s.
constexpr int32_t kNegotiationTicks = SecondsToTicks(10);
constexpr int32_t kPageSetupTicks = SecondsToTicks(30);
// Class 2: the modem's XON that asks for the page data, within 1 s (then the data goes anyway).
constexpr int32_t kXonTicks = SecondsToTicks(1);
// Class 2/2.0: the pause before AT+FDT asks for the next page.
constexpr int32_t kNextPageDelayTicks = 5;
// Class 2/2.0, receiving: a modem that takes in a whole page before it passes it on (a buffering
// or a network fax modem) says CONNECT to AT+FDR only once the page has crossed the line. The
// densest ITU test chart (4) codes to 108 KB at fine resolution; a page may be about twice that.
constexpr int64_t kLongestPageBytes = 192 * 1024;

// Ticks that bytes of page data take on the line at a bit rate (2400 when it is not known yet).
constexpr int32_t LineTicks(int64_t bytes, int32_t bitRate)
{
    return int32_t(bytes * 8 * 1000 / (bitRate >= 2400 ? bitRate : 2400) / MsPerTick);
}

static_assert(kT1Ticks == 4 * 182 && kT4Ticks == 54 && kNegotiationTicks == 182 && kPageSetupTicks == 546
                  && kXonTicks == 18,
              "the session timers keep their tick counts");

// The Class 2.0 set-up both directions give: flow control by XON/XOFF, and the reports of the
// far end's parameters, identity and page status.
constexpr const char* kFlowControlCommand = "AT+FLO=2";
constexpr const char* kReportsCommand = "AT+FNR=1,1,1,0";

// What the engine asks and tells its component while a session runs. Called on the thread of the
// pass (the port's dispatch thread, or the starting thread for the first pass and a cancel).
class FaxEngineEvents {
public:
    virtual ~FaxEngineEvents() = default;
    // Stores the next entry (phone number, fax file, cover file) into the session; false: no more.
    virtual bool FaxNext(FaxSession& s) = 0;
    virtual void FaxStatus(FaxSession& s, bool first, bool last) = 0;
    virtual void FaxLog(FaxSession& s, int code) = 0;
    // Stores the name of the file to receive into as the session's fax file.
    virtual void FaxName(FaxSession& s) = 0;
    virtual bool FaxAccept(FaxSession& s) = 0;
    virtual void FaxError(FaxSession& s, int code) = 0;
    // Runs after the pass that finished the session has returned (posted).
    virtual void FaxFinish(FaxSession& s, int code) = 0;
};

// The engine messages as window messages to the component's window, with their time-outs.
class WindowFaxEvents : public FaxEngineEvents {
public:
    explicit WindowFaxEvents(uint32_t window) : window_(window) {}
    bool FaxNext(FaxSession& s) override;
    void FaxStatus(FaxSession& s, bool first, bool last) override;
    void FaxLog(FaxSession& s, int code) override;
    void FaxName(FaxSession& s) override;
    bool FaxAccept(FaxSession& s) override;
    void FaxError(FaxSession& s, int code) override;
    void FaxFinish(FaxSession& s, int code) override;

private:
    uint32_t window_;
};

// One session on one port: registers its triggers and handler (Start), runs its state machine one
// pass per notification, and unregisters (Finish). Every pass, the first one and a cancel included,
// holds the session's lock, so that passes from the starting thread and the dispatch thread never
// overlap.
class FaxSession : public FaxModemCommands {
public:
    explicit FaxSession(FaxEngineEvents& events) : events_(events) {}
    ~FaxSession() override;

    // Starts the session on the port: 0, or the error that ended it at once (FaxFinish is posted
    // in both cases when the session cannot go on).
    int Start(FaxPort& port);
    // The user's cancel: one pass with the abort request, while the session is active.
    void Cancel();
    // One pass of the state machine (the port's procedure handler).
    void Handler(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    bool Finished() const { return finished_; }

    FaxEngineEvents& Events() { return events_; }

protected:
    // How a state runs: when a port notification comes, at once after the step before it, or on
    // each response line of the modem (and its response timer).
    enum class StepKind : uint8_t { OnTrigger, AtOnce, OnResponse };

    virtual void Prepare() = 0;
    // One pass: the abort request and the status timer first, then the step of the state, and the
    // steps that follow at once or find their input waiting.
    void Pass(uint32_t msg, int trigger);

    // What a session tells its pass about its state machine.
    virtual int CurrentState() const = 0;
    virtual StepKind KindOfState() const = 0;
    virtual void Step(int trigger) = 0;
    virtual void OnResponseTimer() = 0;
    // A complete HDLC frame from the modem (Class 1), its final bit and FCF already noted.
    virtual void OnFrame(const ReceivedFrame& frame) = 0;
    virtual void LogState() = 0;
    // The user's cancel: the session goes to its abort state.
    virtual void OnAbortRequest() = 0;
    virtual void EnterAbortState() = 0;
    virtual bool Aborting() const = 0;
    virtual bool Done() const = 0;
    // An ERROR line ends the session unless the state reads it itself.
    virtual bool ErrorEndsSession() const = 0;
    // The error such an ERROR line ends the session with.
    virtual int ErrorReplyError() const { return ecFaxBadModemResult; }
    // The error a Class 2/2.0 hang-up report ends the session with; 0 while the state reads it.
    virtual int HangupReportError() const = 0;
    // The state's step waits while another session of this kind runs the same step.
    virtual bool WaitsForOtherSession() const { return false; }
    // The state reads raw data (training, page data) that may already wait in the input.
    virtual bool ReadsRawData() const { return false; }
    // Class 1: the state listens (AT+FRH=3) for a command the far end repeats when it hears no
    // answer, so a frame that arrives damaged (the modem's ERROR to AT+FRH) is waited for again,
    // not fatal.
    virtual bool AwaitsRepeatedCommand() const { return false; }
    // The line just collected is the modem's ERROR after a damaged frame, in such a state: the step
    // listens again (AT+FRH=3) for the repeat.
    bool FrameDamaged() const { return frameDamaged_; }

    void Abort(int code);
    // An HDLC frame, after the short pause a modem needs between its CONNECT and the frame.
    void WriteFrame(const std::vector<uint8_t>& frame);
    // The far end's identity frame (TSI or CSI).
    void NoteRemoteId(const ReceivedFrame& frame);
    // A Class 2/2.0 set-up command was answered: gives the next one (false: the set-up failed).
    bool SetupAnswered(const std::string& nextCommand);
    // The session parameters of a +FDCS/+FCS report.
    Class2Params ApplySessionParams();

    // Unregisters and posts FaxFinish with the error code.
    // Called first by every derived destructor, so that no pass runs on a half-destroyed session.
    void Detach();
    void FinishSession();
    void ReportError(int code);
    void ReportStatus(bool first = false, bool last = false) { events_.FaxStatus(*this, first, last); }
    void ArmStatusTimer();
    bool OwnTrigger(int trigger) const;

    // Serialises every pass of the session, whichever thread runs it.
    mutable std::recursive_mutex passLock_;
    bool userAbort_ = false;
    bool writeFailed_ = false; // the port refused a command or write: the session ends
    bool carrierLost_ = false; // the modem's line before the current one was NO CARRIER

private:
    enum class Collected { Nothing, Line, StateChanged };
    Collected Collect();
    void HandleFrame(const std::string& bytes);
    // The modem says after each frame whether its check was good (OK) or not (ERROR): a frame is
    // acted on only once it is known to be whole.
    std::string pendingFrame_;
    bool framePending_ = false;
    bool frameDamaged_ = false;
    bool frameEnded_ = false; // a DLE ETX came since the last line
    bool afterDle_ = false;
    int damagedFrames_ = 0; // damaged frames in a row

    FaxEngineEvents& events_;
    bool finished_ = false;
};

// True when a session's state table has one row a state, in the order of its states.
template <typename Row, size_t N>
constexpr bool StatesInOrder(const Row (&rows)[N], size_t count)
{
    for (size_t i = 0; i < N; ++i)
        if (size_t(rows[i].state) != i)
            return false;
    return N == count;
}

// The state of one kind of session and its table: a row a state, with the step that runs in it
// and when it runs. Session is the derived class; it names this class its friend.
template <typename Session, typename StateT, StateT kAbortState, StateT kDoneState, int kLogBase>
class FaxStateMachine : public FaxSession {
public:
    using FaxSession::FaxSession;

    StateT State() const
    {
        std::lock_guard<std::recursive_mutex> hold(passLock_);
        return state_;
    }

protected:
    struct StateRow {
        StateT state;
        const char* name;
        StepKind kind;
        void (Session::*step)(int trigger);
    };

    int CurrentState() const override { return state_; }
    StepKind KindOfState() const override { return Session::kStates[state_].kind; }
    void Step(int trigger) override { (static_cast<Session*>(this)->*Session::kStates[state_].step)(trigger); }
    void LogState() override { Port().LogFax(kLogBase + state_, Port().OutputCount(), NameOf(state_)); }
    void EnterAbortState() override { state_ = kAbortState; }
    bool Aborting() const override { return state_ == kAbortState; }
    bool Done() const override { return state_ == kDoneState; }
    // The steps of states that only wait.
    void Idle(int) {}
    // A set-up step: the modem answered the last command, the next one goes out.
    void SetupStep(const std::string& nextCommand, StateT then)
    {
        if (SetupAnswered(nextCommand))
            state_ = then;
    }
    // The last set-up step: the modem answered the last command.
    void SetupDone(StateT then)
    {
        if (IsOK())
            state_ = then;
        else
            Abort(ecFaxInitError);
    }
    // The name of a state, as the dispatch log shows it.
    static const char* NameOf(StateT s) { return s <= kDoneState ? Session::kStates[s].name : "?"; }

    StateT state_ = StateT{};
};

// Receive file names: "FAX" + 4-digit counter, or month and day + counter ("MMDD" mode), in the
// destination folder, the first one free (a name a fax is being received under is not). When all
// 9999 are taken: NONAME.APF there, or when that exists too the first free NONAME1.APF,
// NONAME2.APF, ...; an earlier fax is never overwritten.
std::string ReceiveFileName(const std::string& mode, const std::string& destinationDir, const std::string& ext,
                            int month = 0, int day = 0);
// The name a received fax gets in the folder when every numbered name is taken: NONAME.APF, else
// the first free NONAME1.APF, NONAME2.APF, ... (a name being received under is taken too).
std::string NonameReceiveFileName(const std::string& folder);

struct HeaderValues {
    std::string date, time, stationId, sender, recipient, title;
    int currentPage = 0; // 0 while the cover is sent
    int totalPages = 0;
    bool withCover = false;
};
// Expands the $ tokens of a header line or text cover line; the result is cut at 255 characters.
std::string ExpandHeaderLine(const std::string& line, const HeaderValues& v);

} // namespace zn::comms
