#include "platform/plain_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zn::platform {

int OpenPlainFileForReading(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::FILE* OpenPlainFileStream(const std::string& path)
{
    const int fd = OpenPlainFileForReading(path);
    if (fd < 0)
        return nullptr;
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return f;
}

} // namespace zn::platform
