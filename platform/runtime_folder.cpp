#include "platform/runtime_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace zn::platform {

bool IsPrivateFolderOf(const std::string& folder, unsigned uid)
{
    struct stat info {};
    return !folder.empty() && ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid
           && (info.st_mode & 077) == 0;
}

std::string FallbackRuntimeFolder(unsigned uid, bool create)
{
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir
        || found->pw_dir[0] != '/')
        return {};
    const std::string home = found->pw_dir;
    // The home itself must be the user's: a folder in a home others own (or "/") could be theirs.
    struct stat info {};
    if (::stat(home.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != uid)
        return {};
    const std::string cache = home + "/.cache";
    const std::string folder = cache + "/zn-runtime";
    if (create) {
        ::mkdir(cache.c_str(), 0700);
        ::mkdir(folder.c_str(), 0700);
    }
    return IsPrivateFolderOf(folder, uid) ? folder : std::string();
}

} // namespace zn::platform
