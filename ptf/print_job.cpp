#include "ptf/print_job.h"
#include "ptf/channel.h"

#include "foundation/dialogs.h"
#include "foundation/single_instance.h"
#include "platform/file_replacement.h"
#include "platform/folders.h"
#include "platform/ini_file.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace zn::ptf {

namespace {

constexpr const char* kSection = "Location";
constexpr int kLastJobNumber = 99999;

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// A file of our own in the program folder for an image that has no job to go with.
std::string SpareImagePath()
{
    const std::string folder = platform::ProgramFolder();
    for (int n = 0; n <= kLastJobNumber; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/UNSENT%05d.APF", n);
        const std::string path = platform::ResolvePath(folder + name);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            break;
    }
    return platform::ResolvePath(folder + "/ZN.APF");
}

TJobName Unusable(const std::string& problem) { return TJobName{SpareImagePath(), false, problem}; }

bool RegularFile(const std::string& path, struct stat* info)
{
    return ::lstat(path.c_str(), info) == 0 && S_ISREG(info->st_mode);
}

// What a mark holds: its image as znptf last saw it. A file that no longer matches (replaced,
// written to, or one the mark was never made for) is not znptf's to offer or delete.
std::string Identity(const struct stat& info)
{
    return std::to_string(info.st_ino) + " " + std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_sec)
           + "." + std::to_string(info.st_mtim.tv_nsec) + "\n";
}

// The text of a mark; empty for anything but a small regular file.
std::string ReadMark(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    struct stat info {};
    char text[128];
    ssize_t n = -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size < ssize_t(sizeof text))
        n = ::read(fd, text, sizeof text);
    ::close(fd);
    return n > 0 ? std::string(text, size_t(n)) : std::string();
}

} // namespace

TZnpdLocation ReadZnpdIni()
{
    TZnpdLocation location;
    location.iniPath = platform::ResolvePath(platform::WindowsFolder() + "/ZNPD.INI");
    location.fileFound = platform::FileExistsCI(location.iniPath);
    if (!location.fileFound)
        return location;
    const platform::IniFile ini(location.iniPath);
    location.outPath = ini.ReadString(kSection, "ZNOutPath", "");
    if (!location.outPath.empty() && (location.outPath.back() == '\\' || location.outPath.back() == '/'))
        location.outPath.pop_back();
    location.executable = ini.ReadString(kSection, "ZNExecutable", "");
    return location;
}

TJobName NameJobImage()
{
    const TZnpdLocation location = ReadZnpdIni();
    if (!location.fileFound) {
        foundation::ShowInformation("Missing Tarvel initialization file\r\r" + location.iniPath + "\r" + "\r"
                                    + "Please run Tarvel to create or recreate this file.");
        return Unusable("Tarvel's initialization file (ZNPD.INI) is missing.");
    }
    if (location.outPath.empty())
        foundation::ShowInformation("Tarvel initialization file error (ZNPD.INI).\rMissing entry for fax file "
                                    "output.\r\rPlease run Tarvel to recreate this file.");
    if (!platform::FileExistsCI(location.executable))
        foundation::ShowInformation("Tarvel initialization file error (ZNPD.INI).\rMissing or bad entry for "
                                    "ZN.EXE path.\r("
                                    + location.executable + ")" + "\r" + "Please run Tarvel to recreate this file.");
    if (location.outPath.empty())
        return Unusable("Tarvel's initialization file (ZNPD.INI) names no folder for faxes.");
    // The printer driver writes the pages from a folder of its own: a relative folder would send
    // them elsewhere than zn looks.
    if (location.outPath.front() != '/')
        return Unusable("Tarvel's initialization file (ZNPD.INI) names the folder for faxes as " + location.outPath
                        + ", which is not a full path. Please run Tarvel to recreate this file.");

    const std::string folder = platform::EnsureFolderCI(location.outPath);
    if (folder.empty())
        return Unusable("The fax folder " + location.outPath + " cannot be created.");
    for (int n = 0; n <= kLastJobNumber; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/FAX%05d.APF", n);
        const std::string candidate = folder + name;
        // Taken in any letter case, or by a job file still waiting for zn.
        if (platform::FileExistsCI(candidate) || platform::FileExistsCI(JobFilePath(candidate)))
            continue;
        const std::string path = platform::ResolvePath(candidate);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            ::close(fd);
            return TJobName{path, true, {}};
        }
        if (errno != EEXIST)
            return Unusable("The fax file " + path + " cannot be created.");
    }
    return Unusable("The fax folder " + folder + " holds FAX00000.APF to FAX99999.APF: no name is left.");
}

std::string JobFieldText(const std::string& typed, int width)
{
    std::string text;
    for (char c : typed)
        if (c != '\r' && c != '\n')
            text += c;
    // Cut by characters, not in the middle of a UTF-8 sequence.
    const QString cut = QString::fromStdString(text).left(width);
    return cut.toStdString();
}

std::string JobFilePath(const std::string& imagePath)
{
    const auto slash = imagePath.find_last_of("/\\");
    const auto dot = imagePath.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return imagePath + ".JFD";
    return imagePath.substr(0, dot) + ".JFD";
}

bool WriteJobFile(const std::string& imagePath, const std::string& phone, const std::string& recipient,
                  const std::string& subject)
{
    const std::string path = JobFilePath(imagePath);
    const std::string text = JobFieldText(phone, kPhoneWidth) + "\r\n" + JobFieldText(recipient, kRecipientWidth)
                             + "\r\n" + JobFieldText(subject, kSubjectWidth) + "\r\n";
    // zn takes up whatever .JFD it finds: the file appears whole or not at all, and on disk.
    platform::FileReplacement out(path);
    if (out.Open() != 0)
        return false;
    if (!WriteAll(out.Descriptor(), text)) {
        out.Discard();
        return false;
    }
    return out.Commit() == 0;
}

bool MarkUnfinished(const std::string& imagePath)
{
    struct stat info {};
    if (!RegularFile(imagePath, &info))
        return false;
    // Put in place whole: a file planted under the mark's name is replaced, never written into.
    platform::FileReplacement mark(UnfinishedMarkPath(imagePath));
    if (mark.Open() != 0)
        return false;
    if (!WriteAll(mark.Descriptor(), Identity(info))) {
        mark.Discard();
        return false;
    }
    return mark.Commit() == 0;
}

void UnmarkUnfinished(const std::string& imagePath) { ::unlink(UnfinishedMarkPath(imagePath).c_str()); }

std::vector<std::string> CollectUnfinishedJobs(const std::string& sendFolder, const std::set<std::string>& skip)
{
    std::vector<std::string> unfinished;
    // Half-written faxes of drivers that died.
    platform::RemoveStaleTemporaries(sendFolder);
    std::vector<std::string> marks = platform::ListFolderCI(sendFolder, "*.ptf");
    std::sort(marks.begin(), marks.end());
    for (const std::string& mark : marks) {
        const std::string image = platform::ResolvePath(sendFolder + "/" + mark.substr(0, mark.size() - 4) + ".APF");
        if (skip.count(image))
            continue;
        const std::string markPath = sendFolder + "/" + mark;
        struct stat info {};
        const bool ours = RegularFile(image, &info) && ReadMark(markPath) == Identity(info);
        if (platform::FileExistsCI(JobFilePath(image))) {
            // Finished: only the mark was left.
        } else if (ours && info.st_size > 0) {
            unfinished.push_back(image);
            continue;
        } else if (ours) {
            ::unlink(image.c_str()); // named, never written
        }
        // A mark that does not name its file as znptf left it gives no right to the file: it stays.
        ::unlink(markPath.c_str());
    }
    return unfinished;
}

bool SwitchToZn(const std::string& executable)
{
    if (foundation::TPreviousInstance::AskProgramToRestore("ZN.EXE"))
        return true;
    const std::string program = platform::ResolvePath(executable);
    if (!platform::FileExistsCI(program))
        return false;
    return QProcess::startDetached(QString::fromStdString(program), QStringList(),
                                   QString::fromStdString(FolderOf(program)));
}

} // namespace zn::ptf
