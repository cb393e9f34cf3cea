// What the fax engine's end-to-end tests share: an engine session on a port of the fax line test
// bed, and a component stand-in that gives entries and names and records what it is told.
#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comms/fax/dispatcher_fax_port.h"
#include "comms/engine/fax_receive_session.h"
#include "comms/engine/fax_send_session.h"
#include "comms/port/port_driver.h"

namespace zn::comms::test {

struct FaxEntry {
    std::string phone, faxFile, coverFile;
};

// Where a call was at a status report: its status and the page on the line, with its length
// (sending) and the bytes of it that have crossed the line so far.
struct PageProgress {
    int status = 0;
    int32_t page = 0, length = 0, bytes = 0;
};

// A page refused for its copy quality, as the log entry (lfPageRefused, lfPageResent) tells it.
struct Refusal {
    int page = 0;
    PageQuality quality;
};

class RecordingEvents : public FaxEngineEvents {
public:
    std::deque<FaxEntry> entries;
    std::string receiveDir;
    bool accept = true;

    bool FaxNext(FaxSession& s) override;
    void FaxStatus(FaxSession& s, bool first, bool last) override;
    void FaxLog(FaxSession& s, int code) override;
    void FaxName(FaxSession& s) override;
    bool FaxAccept(FaxSession& s) override;
    void FaxError(FaxSession& s, int code) override;
    void FaxFinish(FaxSession& s, int code) override;

    bool WaitFinished(std::chrono::seconds timeout);
    std::vector<int> Logs();
    std::vector<int> Errors();
    std::vector<std::string> Received();
    std::vector<int> Statuses();
    std::vector<Refusal> Refusals();
    // The pages of the refusals, in order.
    std::vector<int> RefusedPages();
    // The last status report's progress.
    PageProgress Progress();
    int FinishCode();

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool finished_ = false;
    int finishCode_ = 0;
    std::vector<int> logs_, errors_, statuses_;
    PageProgress progress_;
    std::vector<Refusal> refusals_;
    std::vector<std::string> received_;
};

// An open port on a device of the test bed.
class TestPort {
public:
    explicit TestPort(const std::string& device);
    ~TestPort();
    bool IsOpen() const { return rc_ == 0; }
    FaxPort& Port() { return port_; }
    TFxBaseDispatcher& Dispatcher() { return d_; }

private:
    TFxWin32Dispatcher d_{nullptr};
    DispatcherFaxPort port_{d_};
    int rc_ = -1;
};

// Waits until pred() holds or the time runs out.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

} // namespace zn::comms::test
