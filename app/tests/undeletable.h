// Makes a file impossible to delete for as long as the object lives.
#pragma once
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zn::app::test {

// Makes a file impossible to delete: the immutable flag as root, a read-only folder otherwise.
class Undeletable {
public:
    explicit Undeletable(const std::string& path) : path_(path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0)
            ::close(fd);
        if (!immutable_) {
            folder_ = std::filesystem::path(path).parent_path().string();
            std::filesystem::permissions(folder_,
                                         std::filesystem::perms::owner_write | std::filesystem::perms::group_write
                                             | std::filesystem::perms::others_write,
                                         std::filesystem::perm_options::remove);
        }
    }
    ~Undeletable()
    {
        if (immutable_) {
            const int fd = ::open(path_.c_str(), O_RDONLY);
            int flags = 0;
            if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0)
                ::close(fd);
        } else {
            std::filesystem::permissions(folder_, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
        }
    }
    // True when the protection holds (root without the flag could still delete).
    bool Holds() const { return immutable_ || ::access(folder_.c_str(), W_OK) != 0; }

private:
    std::string path_, folder_;
    bool immutable_ = false;
};

} // namespace zn::app::test
