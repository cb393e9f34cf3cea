// Makes a file impossible to delete, or a folder impossible to add to, for as long as the object
// lives.
#pragma once
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zn::app::test {

// Sets or clears the immutable flag (only root may); true when done.
inline bool SetImmutable(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = false;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

constexpr auto kWritePerms =
    std::filesystem::perms::owner_write | std::filesystem::perms::group_write | std::filesystem::perms::others_write;

// Makes a file impossible to delete: the immutable flag as root, a read-only folder otherwise.
class Undeletable {
public:
    explicit Undeletable(const std::string& path)
        : Undeletable(path, std::filesystem::path(path).parent_path().string())
    {
    }
    ~Undeletable()
    {
        if (immutable_)
            SetImmutable(path_, false);
        else
            std::filesystem::permissions(folder_, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
    }
    // True when the protection holds (root without the flag could still delete or add).
    bool Holds() const { return immutable_ || ::access(folder_.c_str(), W_OK) != 0; }

protected:
    // `path` gets the flag; without it, `folder` loses its write permission.
    Undeletable(const std::string& path, const std::string& folder)
        : path_(path), folder_(folder), immutable_(SetImmutable(path, true))
    {
        if (!immutable_)
            std::filesystem::permissions(folder_, kWritePerms, std::filesystem::perm_options::remove);
    }

private:
    std::string path_, folder_;
    bool immutable_ = false;
};

// Makes a folder take no new file: the immutable flag as root, no write permission otherwise.
class ClosedFolder : public Undeletable {
public:
    explicit ClosedFolder(const std::string& folder) : Undeletable(folder, folder) {}
};

} // namespace zn::app::test
