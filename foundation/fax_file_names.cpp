#include "foundation/fax_file_names.h"

#include "comms/engine/fax_session_glue.h"
#include "foundation/program_folders.h"
#include "platform/date_format.h"
#include "platform/file_replacement.h"
#include "platform/folders.h"

#include <sys/stat.h>

#include <cstdio>

namespace zn::foundation {

namespace {

constexpr int kLastFiveDigitNumber = 99999;
constexpr int kLastFourDigitNumber = 9999;

std::string NumberedName(const std::string& folder, const std::string& prefix, const char* digits, int n)
{
    char number[16];
    std::snprintf(number, sizeof number, digits, n);
    return folder + prefix + number + ".APF";
}

bool NameExists(const std::string& path) { return platform::FileExistsCI(path); }

} // namespace

std::optional<std::string> FirstFreeNumberedName(const std::string& folder, const std::string& prefix,
                                                 const NameTaken& taken)
{
    for (int n = 0; n <= kLastFiveDigitNumber; ++n) {
        std::string name = NumberedName(folder, prefix, "%5.5d", n);
        if (!taken(name))
            return name;
    }
    return std::nullopt;
}

std::optional<std::string> MakeUniqueSendFileName(const std::string& prefix)
{
    return FirstFreeNumberedName(GetSendFolder(), prefix, NameExists);
}

std::optional<std::string> MakeUniqueProgramFileName(const std::string& prefix)
{
    return FirstFreeNumberedName(GetProgramFolder(), prefix, NameExists);
}

std::optional<std::string> FindFreeFaxFileName(const std::string& prefix, const std::string& folder)
{
    // A name a fax is being received under (by zn or another program) is taken before its file exists.
    return FindFreeFaxFileName(prefix, folder, [](const std::string& path) {
        return FileNameTaken(path) || platform::HasLiveTemporary(platform::ResolvePath(path));
    });
}

std::optional<std::string> FindFreeFaxFileName(const std::string& prefix, const std::string& folder,
                                               const NameTaken& isTaken)
{
    std::string base = folder;
    if (base.empty() || (base.back() != '/' && base.back() != '\\'))
        base += '/';
    auto name = [&](int n) { return NumberedName(base, prefix, "%4.4d", n); };
    auto taken = [&](int n) { return isTaken(name(n)); };

    // One stage: from start, step over taken numbers; the last taken one starts the next stage.
    auto lastTaken = [&](int start, int step, int whenFirstFree) {
        int last = whenFirstFree;
        for (int n = start; taken(n) && n < kLastFourDigitNumber; n += step)
            last = n;
        return last;
    };
    int start = lastTaken(500, 500, 100);
    start = lastTaken(start, 100, 50);
    start = lastTaken(start, 25, 1);
    int n = start;
    bool nTaken;
    while ((nTaken = taken(n)) && n < kLastFourDigitNumber)
        ++n;
    if (nTaken)
        return std::nullopt; // every number up to the bound is in use
    return name(n);
}

std::string MakeReceivedFaxFileName(const std::string& folder, bool dated)
{
    const std::string prefix = dated ? platform::FormatDateTime("mmdd", platform::Now()) : "FAX";
    if (auto numbered = FindFreeFaxFileName(prefix, folder))
        return *numbered;
    // A fax coming in is never turned away for want of a number.
    return comms::NonameReceiveFileName(folder);
}

bool IsPlainFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool IsExistingFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool FileNameTaken(const std::string& path)
{
    return platform::FileExistsCI(path) || IsExistingFile(platform::ResolvePath(path));
}

} // namespace zn::foundation
