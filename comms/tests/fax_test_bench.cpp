#include "fax_test_bench.h"

#include <thread>

namespace zn::comms::test {

bool RecordingEvents::FaxNext(FaxSession& s)
{
    std::lock_guard<std::mutex> g(m_);
    if (entries.empty())
        return false;
    FaxEntry e = entries.front();
    entries.pop_front();
    s.common.phoneNumber = e.phone;
    s.common.faxFile = e.faxFile;
    s.common.coverFile = e.coverFile;
    return true;
}

void RecordingEvents::FaxStatus(FaxSession& s, bool, bool)
{
    std::lock_guard<std::mutex> g(m_);
    statuses_.push_back(s.common.statusCode);
    progress_.status = s.common.statusCode;
    if (auto* send = dynamic_cast<FaxSendSession*>(&s)) {
        const FaxSendSession::PageOnLine p = send->PageOnTheLine(s.common.dispatcher ? s.common.dispatcher->OutputCount() : 0);
        progress_.page = p.page;
        progress_.length = p.length;
        progress_.bytes = p.bytes;
    } else {
        progress_.page = s.common.currentPage;
        progress_.length = s.common.pageLength;
        progress_.bytes = s.common.bytesTransferred;
    }
}

std::vector<Refusal> RecordingEvents::Refusals()
{
    std::lock_guard<std::mutex> g(m_);
    return refusals_;
}

std::vector<int> RecordingEvents::RefusedPages()
{
    std::lock_guard<std::mutex> g(m_);
    std::vector<int> pages;
    for (const Refusal& r : refusals_)
        pages.push_back(r.page);
    return pages;
}

PageProgress RecordingEvents::Progress()
{
    std::lock_guard<std::mutex> g(m_);
    return progress_;
}

void RecordingEvents::FaxLog(FaxSession& s, int code)
{
    std::lock_guard<std::mutex> g(m_);
    logs_.push_back(code);
    if (code == lfPageRefused || code == lfPageResent)
        refusals_.push_back({s.common.refusedPage, s.common.refusedQuality});
    if (code == lfReceiveOK)
        received_.push_back(s.modem.openedFileName);
}

void RecordingEvents::FaxName(FaxSession& s)
{
    s.common.faxFile = ReceiveFileName("FAX", receiveDir, s.common.FaxFileExt);
}

bool RecordingEvents::FaxAccept(FaxSession&) { return accept; }

void RecordingEvents::FaxError(FaxSession&, int code)
{
    std::lock_guard<std::mutex> g(m_);
    errors_.push_back(code);
}

void RecordingEvents::FaxFinish(FaxSession&, int code)
{
    std::lock_guard<std::mutex> g(m_);
    finished_ = true;
    finishCode_ = code;
    cv_.notify_all();
}

bool RecordingEvents::WaitFinished(std::chrono::seconds timeout)
{
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, timeout, [this] { return finished_; });
}

std::vector<int> RecordingEvents::Logs()
{
    std::lock_guard<std::mutex> g(m_);
    return logs_;
}

std::vector<int> RecordingEvents::Errors()
{
    std::lock_guard<std::mutex> g(m_);
    return errors_;
}

std::vector<std::string> RecordingEvents::Received()
{
    std::lock_guard<std::mutex> g(m_);
    return received_;
}

int RecordingEvents::FinishCode()
{
    std::lock_guard<std::mutex> g(m_);
    return finishCode_;
}

std::vector<int> RecordingEvents::Statuses()
{
    std::lock_guard<std::mutex> g(m_);
    return statuses_;
}

TestPort::TestPort(const std::string& device)
{
    rc_ = d_.OpenPort(device, 19200, ParityNone, 8, 1, 8192, 8192, OptDtrOn | OptRtsOn);
}

TestPort::~TestPort() { d_.ClosePort(); }

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

} // namespace zn::comms::test
