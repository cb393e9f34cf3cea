#include "foundation/fax_file_join.h"

#include "comms/base/exceptions.h"
#include "faxdoc/apf_file.h"
#include "faxdoc/apf_join.h"
#include "platform/folders.h"

#include <sys/stat.h>

namespace zn::foundation {

namespace {

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat infoA {
    }, infoB{};
    return ::stat(platform::ResolvePath(a).c_str(), &infoA) == 0
           && ::stat(platform::ResolvePath(b).c_str(), &infoB) == 0 && infoA.st_dev == infoB.st_dev
           && infoA.st_ino == infoB.st_ino;
}

bool HighResolution(const std::string& path)
{
    faxdoc::TApfPageHeader page;
    comms::CheckErrorCode(nullptr, faxdoc::ReadApfPageHeader(platform::ResolvePath(path), 1, page));
    return page.flags & faxdoc::kPageHighResolution;
}

} // namespace

bool SameFaxResolution(const std::string& fileA, const std::string& fileB)
{
    const bool highA = HighResolution(fileA);
    return highA == HighResolution(fileB);
}

bool ConcatFaxFiles(const std::string& destination, const std::string& fileA, const std::string& fileB)
{
    if (!platform::FileExistsCI(fileA) || !platform::FileExistsCI(fileB))
        return false;
    if (SameFile(destination, fileA) || SameFile(destination, fileB))
        return false; // creating the destination would empty an input
    return faxdoc::JoinApfFiles({platform::ResolvePath(fileA), platform::ResolvePath(fileB)},
                                platform::ResolvePath(destination))
           == 0;
}

} // namespace zn::foundation
