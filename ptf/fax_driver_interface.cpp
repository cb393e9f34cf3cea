#include "ptf/fax_driver_interface.h"

#include "comms/base/exceptions.h"
#include "platform/event.h"
#include "platform/messages.h"

#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

namespace zn::ptf {

namespace {

// The private message that carries one request to the GUI thread.
constexpr uint32_t kRequestMessage = 0x7E8D;
// The private message of a document end, posted: the driver waits for no answer, and the job dialog
// its handler shows must not keep the channel from the next job's document start.
constexpr uint32_t kDocEndMessage = 0x7E8E;
// The request code, never read from a driver, that reports an answer the driver did not take.
constexpr uint8_t kAnswerLost = 0;
// A driver that connects and then says nothing must not hold the channel for other jobs.
constexpr int kPeerSilenceMs = 30000;
// Connections that have not spoken yet, at most; the oldest goes first when more come.
constexpr size_t kMaxWaitingPeers = 64;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

[[noreturn]] void Raise(const std::string& text) { throw comms::EFXException::CreateWithMessage(text); }

struct Request {
    uint8_t code;
    std::string text;
    std::string answer;
};

} // namespace

// ---- The monitor thread ------------------------------------------------------------------------

class TMonitorThread {
public:
    TMonitorThread(TFxFaxDriverInterface& owner, int listener) : owner_(owner), listener_(listener) {}
    ~TMonitorThread() { Stop(); }

    void Start()
    {
        thread_ = std::thread([this] { Execute(); });
    }
    void Stop()
    {
        stop_.Set();
        if (thread_.joinable())
            thread_.join();
    }

private:
    using Clock = std::chrono::steady_clock;
    // A connection whose driver has not spoken yet.
    struct Waiting {
        std::unique_ptr<Fd> connection;
        Clock::time_point since;
    };

    bool PeerAllowed(int connection)
    {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
            return false;
        return peer.uid == ::getuid() || peer.uid == 0;
    }

    // Connections are taken as they come and each is served once its message is there, so that a
    // driver that connects and says nothing keeps no other job waiting; it is dropped after a while.
    void Execute()
    {
        std::vector<Waiting> waiting;
        std::vector<pollfd> fds;
        for (;;) {
            fds.assign({{stop_.Fd(), POLLIN, 0}, {listener_, POLLIN, 0}});
            for (const Waiting& w : waiting)
                fds.push_back({w.connection->Get(), POLLIN, 0});
            int timeoutMs = -1;
            if (!waiting.empty()) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    waiting.front().since + std::chrono::milliseconds(kPeerSilenceMs) - Clock::now());
                timeoutMs = int(std::max<long long>(0, left.count()));
            }
            const int n = ::poll(fds.data(), fds.size(), timeoutMs);
            if (n < 0 && errno != EINTR)
                return;
            if (n > 0 && (fds[0].revents & POLLIN))
                return;
            // Those that spoke are served in the order they came; those silent too long go.
            std::vector<Waiting> still;
            const Clock::time_point now = Clock::now();
            for (size_t i = 0; i < waiting.size(); ++i) {
                if (n > 0 && fds[i + 2].revents != 0) {
                    if (!Serve(waiting[i].connection->Get()))
                        return;
                } else if (now - waiting[i].since < std::chrono::milliseconds(kPeerSilenceMs)) {
                    still.push_back(std::move(waiting[i]));
                }
            }
            waiting = std::move(still);
            if (n > 0 && (fds[1].revents & POLLIN)) {
                auto connection = std::make_unique<Fd>(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
                if (connection->Get() < 0)
                    continue;
                if (!PeerAllowed(connection->Get())) {
                    owner_.Log("Refused a driver connection from another user");
                    continue;
                }
                if (waiting.size() >= kMaxWaitingPeers)
                    waiting.erase(waiting.begin());
                waiting.push_back({std::move(connection), Clock::now()});
            }
        }
    }

    // Reads the one request of a connection and acts on it; false when the component is going.
    bool Serve(int connection)
    {
        ChannelMessage buffer{};
        const ssize_t received = ::recv(connection, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (received <= 0)
            return true;
        const uint8_t code = buffer[0];
        if (code == 0)
            return true;
        if (code != kCodeDocStart && code != kCodeDocEnd) {
            char line[64];
            std::snprintf(line, sizeof line, "Unknown incoming event encountered:%d", code);
            owner_.Log(line);
            return true;
        }
        if (code == kCodeDocEnd)
            return platform::PostMessageTo(owner_.window_, kDocEndMessage, 0, 0);
        Request request{code, ChannelMessageText(buffer.data(), size_t(received)), {}};
        // The driver waits while the handler runs; only the stop event (which destroys the
        // window first) ends the wait early.
        platform::LResult result = 0;
        if (!platform::SendMessageTimeout(owner_.window_, kRequestMessage, 0,
                                          reinterpret_cast<platform::LParam>(&request), INT_MAX, &result))
            return false;
        const ChannelMessage answer = MakeChannelMessage(kCodeFileName, request.answer);
        if (::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL) != ssize_t(answer.size())) {
            owner_.Log("The driver was gone before it had the name of its fax: " + request.answer);
            Request lost{kAnswerLost, request.answer, {}};
            return platform::SendMessageTimeout(owner_.window_, kRequestMessage, 0,
                                                reinterpret_cast<platform::LParam>(&lost), INT_MAX, &result);
        }
        return true;
    }

    TFxFaxDriverInterface& owner_;
    int listener_;
    platform::Event stop_{true, false};
    std::thread thread_;
};

// ---- The component -----------------------------------------------------------------------------

struct TFxFaxDriverInterface::Window {
    Fd listener;
    Fd lock;
    sem_t* semaphore = SEM_FAILED;
    std::string semaphoreName;
    std::unique_ptr<platform::MessageWindow> window;
};

TFxFaxDriverInterface::TFxFaxDriverInterface() : windowHolder_(std::make_unique<Window>())
{
    Window& w = *windowHolder_;
    const auto pipeError = [](int error) {
        char text[64];
        std::snprintf(text, sizeof text, "Unable to create named pipe. Error:%d", error);
        Raise(text);
    };
    socketPath_ = ChannelPath(::getuid(), true);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.empty() || socketPath_.size() >= sizeof address.sun_path)
        pipeError(ENAMETOOLONG);
    std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size());

    // One server: the lock beside the socket tells a live server from a socket left by a dead one.
    const std::string lockPath = socketPath_ + ".lock";
    w.lock.Reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (w.lock.Get() < 0)
        pipeError(errno);
    if (::flock(w.lock.Get(), LOCK_EX | LOCK_NB) != 0)
        pipeError(errno == EWOULDBLOCK ? EADDRINUSE : errno);
    ::unlink(socketPath_.c_str());
    w.listener.Reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (w.listener.Get() < 0)
        pipeError(errno);
    const mode_t oldMask = ::umask(077); // the socket is born 0600; no window where others may connect
    const int bound = ::bind(w.listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(oldMask);
    if (bound != 0)
        pipeError(bindError);
    ::chmod(socketPath_.c_str(), 0600);
    if (::listen(w.listener.Get(), 8) != 0)
        pipeError(errno);

    w.window = std::make_unique<platform::MessageWindow>(
        kChannelName, [this](uint32_t msg, platform::WParam, platform::LParam l) -> platform::LResult {
            if (msg == kDocEndMessage) {
                try {
                    HandleRequest(kCodeDocEnd, {}, nullptr);
                } catch (const std::exception& e) {
                    Log(e.what());
                }
                return 0;
            }
            if (msg != kRequestMessage)
                return 0;
            auto* request = reinterpret_cast<Request*>(l);
            try {
                HandleRequest(request->code, request->text, &request->answer);
            } catch (const std::exception& e) {
                // A failing handler must not take the channel down: the driver gets an answer
                // without a name (the file name as it stands belongs to an earlier job, whose fax
                // must not be written over) and the next job is served.
                request->answer.clear();
                Log(e.what());
            }
            return 1;
        });
    window_ = w.window->Handle();

    // The driver may wait on the semaphore for the channel to be served (count 0 to 1).
    w.semaphoreName = std::string(kSemaphoreName) + "-" + std::to_string(::getuid());
    w.semaphore = ::sem_open(w.semaphoreName.c_str(), O_CREAT, 0600, 0);
    if (w.semaphore == SEM_FAILED)
        Raise("Unable to create event");
    int value = 0;
    if (::sem_getvalue(w.semaphore, &value) == 0 && value < 1 && ::sem_post(w.semaphore) != 0)
        Raise("Unable to release semaphore");

    thread_ = std::make_unique<TMonitorThread>(*this, w.listener.Get());
    thread_->Start();
}

TFxFaxDriverInterface::~TFxFaxDriverInterface()
{
    Window& w = *windowHolder_;
    // The window goes first so that a request waiting for the GUI thread returns at once.
    w.window.reset();
    thread_.reset();
    if (w.semaphore != SEM_FAILED) {
        ::sem_close(w.semaphore);
        ::sem_unlink(w.semaphoreName.c_str());
    }
    ::unlink(socketPath_.c_str());
}

void TFxFaxDriverInterface::HandleRequest(uint8_t code, const std::string& text, std::string* answer)
{
    if (code == kCodeDocStart) {
        docName_ = text;
        DoDocStart();
        *answer = FileName;
    } else if (code == kCodeDocEnd) {
        DoDocEnd();
    } else if (OnAnswerLost) {
        OnAnswerLost(text);
    }
}

void TFxFaxDriverInterface::DoDocStart()
{
    if (OnDocStart)
        OnDocStart(*this);
}

void TFxFaxDriverInterface::DoDocEnd()
{
    if (OnDocEnd)
        OnDocEnd(*this);
}

void TFxFaxDriverInterface::Log(const std::string& line)
{
    if (OnLog)
        OnLog(line);
    else
        std::fprintf(stderr, "znptf: %s\n", line.c_str());
}

} // namespace zn::ptf
