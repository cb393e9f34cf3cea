// How a fax session meets its fax component: the engine messages, the component's answers, the
// names of received files and the $ tokens of the page header line; and the session base that
// registers a session's triggers and handler on its port and serialises every pass.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "fax_engine.h"
#include "fax_modem_commands.h"

namespace zn::comms {

// Engine -> component messages, sent to the component's window with lParam = the session.
enum FaxEngineMessage : uint32_t {
    fmAbortRequest = 0x7EA0, fmFaxNext = 0x7EA1, fmFaxStatus = 0x7EA2, fmFaxLog = 0x7EA3,
    fmFaxName = 0x7EA4, fmFaxAccept = 0x7EA5, fmFaxError = 0x7EA6, fmFaxFinish = 0x7EA7,
};

enum FaxLogCode : int {
    lfTransmitStart = 1, lfTransmitOK = 2, lfTransmitFail = 3, lfReceiveStart = 4, lfReceiveOK = 5,
    lfReceiveSkip = 6, lfReceiveFail = 7,
};

class FaxSession;

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
    // A complete HDLC frame from the modem (Class 1).
    virtual void HandleFrame() = 0;
    virtual void LogState() = 0;
    // The user's cancel: the session goes to its abort state.
    virtual void OnAbortRequest() = 0;
    virtual void EnterAbortState() = 0;
    virtual bool Aborting() const = 0;
    virtual bool Done() const = 0;
    // An ERROR line ends the session unless the state reads it itself.
    virtual bool ErrorEndsSession() const = 0;
    // The error a Class 2/2.0 hang-up report ends the session with; 0 while the state reads it.
    virtual int HangupReportError() const = 0;
    // The state's step waits while another session of this kind runs the same step.
    virtual bool WaitsForOtherSession() const { return false; }
    // The state reads raw data (training, page data) that may already wait in the input.
    virtual bool ReadsRawData() const { return false; }

    void Abort(int code);
    // An HDLC frame, after the short pause a modem needs between its CONNECT and the frame.
    void WriteFrame(const std::vector<uint8_t>& frame);

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

private:
    enum class Collected { Nothing, Line, StateChanged };
    Collected Collect();

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

// Receive file names: "FAX" + 4-digit counter, or month and day + counter ("MMDD" mode), in the
// destination folder, the first one free. Empty when all 9999 are taken: the caller must fail
// rather than overwrite an earlier fax.
std::string ReceiveFileName(const std::string& mode, const std::string& destinationDir,
                            const std::string& ext, int month = 0, int day = 0);

struct HeaderValues {
    std::string date, time, stationId, sender, recipient, title;
    int currentPage = 0;  // 0 while the cover is sent
    int totalPages = 0;
    bool withCover = false;
};
// Expands the $ tokens of a header line or text cover line; the result is cut at 255 characters.
std::string ExpandHeaderLine(const std::string& line, const HeaderValues& v);

} // namespace zn::comms
