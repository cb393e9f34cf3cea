#include "platform/file_replacement.h"

#include "platform/end_removals.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zn::platform {

namespace {

// Temporaries are named TARGET.~znPID-SERIAL.tmp: the process id tells a later writer whether the
// one that made it is still alive, and the ending keeps it out of every "*.APF" or "*.DBF" listing.
constexpr char kMarker[] = ".~zn";
constexpr char kEnding[] = ".tmp";

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The process id in a temporary's name, or 0 when name is no temporary.
pid_t WriterOf(const std::string& name)
{
    const size_t ending = sizeof kEnding - 1;
    if (name.size() <= ending || name.compare(name.size() - ending, ending, kEnding) != 0)
        return 0;
    const size_t marker = name.rfind(kMarker);
    if (marker == std::string::npos || marker == 0)
        return 0;
    const std::string middle =
        name.substr(marker + sizeof kMarker - 1, name.size() - ending - marker - (sizeof kMarker - 1));
    const size_t dash = middle.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == middle.size()
        || middle.find_first_not_of("0123456789-") != std::string::npos
        || middle.find('-', dash + 1) != std::string::npos)
        return 0;
    const long pid = std::strtol(middle.substr(0, dash).c_str(), nullptr, 10);
    return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

bool Alive(pid_t pid) { return pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH; }

int WriteError() { return errno ? errno : EIO; }

} // namespace

void RemoveUncommittedTemporaries() { RemoveFilesAtEnd(); }

bool IsReplacementTemporary(const std::string& name)
{
    const size_t slash = name.find_last_of('/');
    return WriterOf(slash == std::string::npos ? name : name.substr(slash + 1)) != 0;
}

int RemoveStaleTemporaries(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        const pid_t pid = WriterOf(e->d_name);
        if (pid == 0 || Alive(pid))
            continue;
        // A writer holds a lock on its temporary while it writes: one that can still be locked
        // has no writer, even where the process id belongs to another process namespace.
        const int fd = ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::unlinkat(::dirfd(dir), e->d_name, 0) == 0)
            ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

bool HasLiveTemporary(const std::string& target)
{
    const size_t slash = target.find_last_of('/');
    const std::string prefix = (slash == std::string::npos ? target : target.substr(slash + 1)) + kMarker;
    DIR* dir = ::opendir(FolderOf(target).c_str());
    if (!dir)
        return false;
    bool live = false;
    while (const dirent* e = ::readdir(dir)) {
        // Names are found in any spelling: fax0001.apf's writer holds FAX0001.APF too.
        if (::strncasecmp(e->d_name, prefix.c_str(), prefix.size()) != 0)
            continue;
        const pid_t pid = WriterOf(e->d_name);
        if (pid != 0 && Alive(pid)) {
            live = true;
            break;
        }
    }
    ::closedir(dir);
    return live;
}

FileReplacement::FileReplacement(std::string target) : target_(std::move(target)) {}

FileReplacement::~FileReplacement() { Discard(); }

int FileReplacement::Open()
{
    Discard();
    RemoveStaleTemporaries(FolderOf(target_));
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temporary_ = target_ + kMarker + std::to_string(::getpid()) + "-" + std::to_string(serial++) + kEnding;
        slot_ = RemoveAtEnd(temporary_);
        fd_ = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            const int error = errno;
            KeepAtEnd(slot_);
            if (error != EEXIST || attempt >= 100)
                return error;
        }
    }
    ::flock(fd_, LOCK_EX | LOCK_NB);
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        (void)::fchmod(fd_, st.st_mode & 07777);
    return 0;
}

int FileReplacement::Commit() { return Finish(true); }

int FileReplacement::CommitNew() { return Finish(false); }

// Puts the temporary under the target's name without replacing a file there: where the file
// system cannot rename that way, a second link does the same.
static int MoveToNewName(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return WriteError();
    if (::link(from.c_str(), to.c_str()) != 0)
        return WriteError();
    ::unlink(from.c_str());
    return 0;
}

int FileReplacement::Finish(bool replace)
{
    if (fd_ < 0)
        return EBADF;
    int error = ::fsync(fd_) == 0 ? 0 : WriteError();
    if (::close(fd_) != 0 && error == 0)
        error = WriteError(); // a delayed write error (quota, network file systems)
    fd_ = -1;
    if (error == 0)
        error = replace ? (::rename(temporary_.c_str(), target_.c_str()) == 0 ? 0 : WriteError())
                        : MoveToNewName(temporary_, target_);
    if (error != 0) {
        ::unlink(temporary_.c_str());
        KeepAtEnd(slot_);
        return error;
    }
    KeepAtEnd(slot_);
    return SyncFolderOf(target_);
}

void FileReplacement::Discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(temporary_.c_str());
    }
    KeepAtEnd(slot_);
}

int SyncFolderOf(const std::string& path)
{
    const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return errno;
    // Some file systems cannot sync a folder (EINVAL): their entries are as durable as they get.
    const int error = ::fsync(dir) == 0 || errno == EINVAL ? 0 : errno;
    ::close(dir);
    return error;
}

int SyncFileAndFolder(int fd, const std::string& path)
{
    if (::fsync(fd) != 0)
        return WriteError();
    return SyncFolderOf(path);
}

} // namespace zn::platform
