// A pseudo-terminal pair for port tests: the dispatcher opens the slave by its path, the test plays
// the far end on the master.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace zn::comms::test {

// The descriptors this process has open: a test that opens and closes ports compares them.
inline int OpenDescriptors()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

class PtyPair {
public:
    PtyPair()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            slavePath_ = ::ptsname(master_);
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && !slavePath_.empty(); }
    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    // Writes all bytes to the master (the far end sends).
    bool Send(const void* data, size_t size)
    {
        auto p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            ssize_t n = ::write(master_, p, size);
            if (n > 0) {
                p += n;
                size -= size_t(n);
            } else if (n < 0 && errno == EAGAIN) {
                struct pollfd pfd = {master_, POLLOUT, 0};
                ::poll(&pfd, 1, 100);
            } else {
                return false;
            }
        }
        return true;
    }
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }

    // Reads what the far end receives until count bytes came or timeoutMs passed.
    std::string Receive(size_t count, int timeoutMs)
    {
        std::string got;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            struct pollfd pfd = {master_, POLLIN, 0};
            ::poll(&pfd, 1, 20);
            char buf[4096];
            ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - got.size()));
            if (n > 0)
                got.append(buf, size_t(n));
        }
        return got;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

// Waits until pred() holds or timeoutMs passed; returns pred().
template <typename Pred>
bool WaitUntil(Pred pred, int timeoutMs = 3000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace zn::comms::test
