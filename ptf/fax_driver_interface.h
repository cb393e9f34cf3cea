// The server end of the fax printer driver's conversion channel.
//
// The channel is a Unix socket of kind SOCK_SEQPACKET named "FxFaxCnv" in the user's runtime folder
// ($XDG_RUNTIME_DIR, else a private /tmp/zn-<uid>), mode 0600, one server at a time. Each driver
// connection carries one request, in messages of exactly 257 bytes: a code byte, a length byte and up
// to 255 characters. Code 1 (document start, with the document name) is answered with code 3 and the
// image path; code 2 (document end) gets no answer. A peer is served only when it runs as this user
// or as root.
//
// A monitor thread waits on the socket and a stop event. A document start runs on the GUI thread
// through the message layer while the monitor waits, so FileName is set before the answer is built;
// a document end is posted there, so that the job dialog it brings up does not hold the channel and
// the next job's document start is answered meanwhile.
#pragma once
#include "comms/base/fx_misc.h"
#include "ptf/channel.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace zn::ptf {

class TMonitorThread;

class TFxFaxDriverInterface : public comms::TFxBaseComponent {
public:
    using TNotifyEvent = std::function<void(TFxFaxDriverInterface& sender)>;

    // Creates the channel and starts serving. Throws comms::EFXException with these texts:
    // "Unable to create named pipe. Error:%d" (errno) when another server holds the channel or the
    // socket cannot be made, "Unable to create event", "Unable to release semaphore".
    TFxFaxDriverInterface();
    ~TFxFaxDriverInterface() override;
    TFxFaxDriverInterface(const TFxFaxDriverInterface&) = delete;
    TFxFaxDriverInterface& operator=(const TFxFaxDriverInterface&) = delete;

    std::string FileName = "C:\\DEFAULT.APF";
    const std::string& DocName() const { return docName_; }
    TNotifyEvent OnDocStart;
    TNotifyEvent OnDocEnd;

    // Where the channel listens.
    const std::string& SocketPath() const { return socketPath_; }
    // Each code the channel did not know, and each peer it refused, is reported here (the default
    // writes a line to stderr); serving goes on.
    std::function<void(const std::string& line)> OnLog;
    // A document start whose answer could not be sent, the driver having gone meanwhile: fired on
    // the GUI thread with the name that never reached it, so that whoever chose it may take it back.
    std::function<void(const std::string& fileName)> OnAnswerLost;

    virtual void DoDocStart();
    virtual void DoDocEnd();

private:
    friend class TMonitorThread;
    void Log(const std::string& line);
    // Runs on the GUI thread.
    void HandleRequest(uint8_t code, const std::string& text, std::string* answer);

    std::string docName_;
    std::string socketPath_;
    std::unique_ptr<TMonitorThread> thread_;
    uint32_t window_ = 0;
    struct Window;
    std::unique_ptr<Window> windowHolder_;
};

} // namespace zn::ptf
