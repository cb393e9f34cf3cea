#include "foundation/single_instance.h"

#include "platform/folders.h"
#include "platform/runtime_folder.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace zn::foundation {

namespace {

// A second start may come while the first is still starting: it has taken the lock but does not
// listen yet. Both waits are generous; they end at once when the first instance answers.
constexpr int kConnectWaitMs = 10000;
constexpr int kAnswerWaitMs = 10000;
constexpr int kRequestReadMs = 2000;
constexpr size_t kLongestFileName = 255;

std::unique_ptr<TPreviousInstance>& Instance()
{
    static std::unique_ptr<TPreviousInstance> instance;
    return instance;
}

// The user's runtime folder: $XDG_RUNTIME_DIR, else a private folder in the user's home.
std::string RuntimeFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (runtime && *runtime && ::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode))
        return runtime;
    // A folder in /tmp could be made first by another user; the home's is the user's alone. When
    // even that is not private, the lock and the socket go into our own program folder.
    const std::string folder = zn::platform::FallbackRuntimeFolder(::getuid(), true);
    return folder.empty() ? zn::platform::ProgramFolder() : folder;
}

std::string FileNameOf(const std::string& path)
{
    const auto slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() > kLongestFileName)
        name.resize(kLongestFileName);
    return name;
}

bool FillAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

class Socket {
public:
    explicit Socket(int fd = -1) : fd_(fd) {}
    ~Socket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Get() const { return fd_; }
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

std::string Request(const std::string& title) { return "RESTORE " + title + "\n"; }

// Reads one line of at most limit bytes within timeoutMs.
bool ReadLine(int fd, std::string& line, size_t limit, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    line.clear();
    while (line.size() < limit) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char c;
        const ssize_t got = ::recv(fd, &c, 1, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

bool SendAll(int fd, const std::string& text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

struct TPreviousInstance::Listener {
    Socket socket;
    // Owned by the application object, so that it goes before the event loop it belongs to.
    QPointer<QSocketNotifier> notifier;
    QPointer<QWidget> window;
    ~Listener() { delete notifier.data(); }
};

void TPreviousInstance::OneInstanceInitialization(const std::string& programPath)
{
    Instance().reset(new TPreviousInstance);
    Instance()->CheckMutex(programPath);
}

TPreviousInstance& TPreviousInstance::Get()
{
    if (!Instance())
        OneInstanceInitialization(QCoreApplication::applicationFilePath().toStdString());
    return *Instance();
}

std::string TPreviousInstance::SetTitleFromFileName(const std::string& fileName)
{
    if (fileName.find(".EXE") == std::string::npos)
        return {};
    return fileName.substr(0, fileName.size() - 4);
}

void TPreviousInstance::CheckMutex(const std::string& programPath)
{
    const std::string name = FileNameOf(programPath);
    title_ = SetTitleFromFileName(name);
    const std::string folder = RuntimeFolder();
    lockPath_ = folder + "/" + name + ".lock";
    socketPath_ = folder + "/" + name + ".sock";
    const int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return; // no lock to be had: run as the first instance
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        lockFd_ = fd; // held until the process ends
        return;
    }
    secondInstance_ = errno == EWOULDBLOCK;
    ::close(fd);
}

TPreviousInstance::~TPreviousInstance()
{
    if (listener_) {
        listener_.reset();
        ::unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

void TPreviousInstance::SetInstanceWindow(QWidget* window)
{
    if (!listener_)
        Listen();
    if (listener_)
        listener_->window = window;
}

void TPreviousInstance::SetRestoreObserver(std::function<void()> observer) { restoreObserver_ = std::move(observer); }

void TPreviousInstance::Listen()
{
    if (listener_ || secondInstance_ || lockFd_ < 0)
        return;
    sockaddr_un address;
    if (!FillAddress(socketPath_, address))
        return;
    Socket server(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (server.Get() < 0)
        return;
    ::unlink(socketPath_.c_str()); // left by an instance that died; we hold the lock, so it is stale
    if (::bind(server.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(server.Get(), 8) != 0)
        return;
    auto listener = std::make_unique<Listener>();
    listener->notifier = new QSocketNotifier(server.Get(), QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(listener->notifier.data(), &QSocketNotifier::activated, [this] {
        for (;;) {
            const int connection = ::accept4(listener_->socket.Get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                break;
            Answer(connection);
        }
    });
    listener->socket.Reset(server.Release());
    listener_ = std::move(listener);
}

void TPreviousInstance::Answer(int connection)
{
    Socket client(connection);
    std::string line;
    if (!ReadLine(client.Get(), line, 300, kRequestReadMs) || line + "\n" != Request(title_))
        return;
    RestoreWindow();
    SendAll(client.Get(), "OK\n");
    if (restoreObserver_)
        restoreObserver_();
}

void TPreviousInstance::RestoreWindow()
{
    QWidget* window = listener_->window.data();
    if (!window)
        return;
    if (window->isMinimized()) {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window->show();
    } else {
        window->raise();
    }
    window->activateWindow();
}

bool TPreviousInstance::AskFirstInstanceToRestore() const
{
    if (title_.empty())
        return false; // no title, no window to find
    sockaddr_un address;
    if (!FillAddress(socketPath_, address))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectWaitMs);
    for (;;) {
        Socket client(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (client.Get() < 0)
            return false;
        if (::connect(client.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            std::string answer;
            return SendAll(client.Get(), Request(title_)) && ReadLine(client.Get(), answer, 16, kAnswerWaitMs)
                   && answer == "OK";
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool TPreviousInstance::AskProgramToRestore(const std::string& programFile)
{
    TPreviousInstance other;
    const std::string name = FileNameOf(programFile);
    other.title_ = SetTitleFromFileName(name);
    const std::string folder = RuntimeFolder();
    other.socketPath_ = folder + "/" + name + ".sock";
    // Only a program that holds its lock is running; otherwise there is nobody to wait for.
    Socket lock(::open((folder + "/" + name + ".lock").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (lock.Get() < 0 || ::flock(lock.Get(), LOCK_SH | LOCK_NB) == 0)
        return false;
    return other.AskFirstInstanceToRestore();
}

TOneInstance::TOneInstance(QWidget* owner) : QObject(owner)
{
    TPreviousInstance& instance = TPreviousInstance::Get();
    if (instance.IsSecondInstance()) {
        instance.AskFirstInstanceToRestore();
        std::fflush(nullptr);
        std::_Exit(0); // before the second instance shows or opens anything
    }
    instance.Listen();
    if (owner)
        instance.SetInstanceWindow(owner->window());
}

} // namespace zn::foundation
