#include "platform/file_replace.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zn::platform {
namespace {

// The file a write replaces: the target of a symbolic link rather than the link.
std::string WriteTarget(const std::string& path)
{
    char real[PATH_MAX];
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && realpath(path.c_str(), real))
        return real;
    return path;
}

// A new file next to target, named uniquely by O_EXCL. Created like any new file, its mode is 0666
// less the umask: reading the umask would mean setting it, which races with other threads.
int CreateTemporaryNextTo(const std::string& target, std::string& name)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + "." + std::to_string(getpid()) + "." + std::to_string(counter++) + ".tmp";
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& data)
{
    const std::string target = WriteTarget(path);
    std::string tmp;
    const int fd = CreateTemporaryNextTo(target, tmp);
    if (fd < 0)
        return false;
    struct Cleanup {
        const std::string& name;
        bool keep = false;
        ~Cleanup()
        {
            if (!keep)
                unlink(name.c_str());
        }
    } cleanup{tmp};

    struct stat st{};
    bool ok = stat(target.c_str(), &st) != 0 || fchmod(fd, st.st_mode & 07777) == 0; // keep an existing file's mode
    size_t done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += size_t(n);
    }
    ok = ok && fsync(fd) == 0;
    const int savedErrno = errno;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(tmp.c_str(), target.c_str()) == 0) {
        cleanup.keep = true;
        return true;
    }
    if (errno == 0)
        errno = savedErrno;
    return false;
}

} // namespace zn::platform
