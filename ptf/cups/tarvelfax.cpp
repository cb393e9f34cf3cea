// The "Tarvel Fax" printer: a CUPS backend that turns each print job into a fax image file for the
// print-to-fax controller of the job's owner.
//
// For each job it finds the owner's znptf channel, asks for the image path (document start), has
// ghostscript rasterise the job at fax fine resolution (204 x 196 dpi, black and white), codes the
// pages into that file through the fax converter, and announces the document end. It runs as root
// (the backend file is mode 0700) only to become the job's owner before it touches anything, so the
// image belongs to that user.
//
// Called without arguments it lists its device for lpinfo; else with: job user title copies options
// [file] (standard input when no file is given).
#include "faxdoc/converter.h"
#include "faxdoc/fax_errors.h"
#include "platform/file_replacement.h"
#include "ptf/channel.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace zn;

// CUPS backend exit codes.
constexpr int kBackendOk = 0;
constexpr int kBackendFailed = 1;
constexpr int kBackendCancel = 5; // the job is cancelled; the printer keeps taking jobs

constexpr int kFaxWidth = 1728;
constexpr int kFaxRowBytes = kFaxWidth / 8;
// Fine resolution, as the fax pages go out.
constexpr const char* kResolution = "-r204x196";
constexpr int kAnswerWaitMs = 30000;

void Error(const std::string& text) { std::fprintf(stderr, "ERROR: %s\n", text.c_str()); }

// A job cancelled while it is being made (CUPS sends SIGTERM) leaves neither a half-made fax in the
// send folder nor its spooled copy: the files of this job that are still ours, named here.
char gJobImage[PATH_MAX];
char gJobSpool[PATH_MAX];
volatile pid_t gGhostscript = 0;

void CancelJob(int)
{
    if (gGhostscript > 0)
        ::kill(gGhostscript, SIGTERM);
    if (gJobImage[0])
        ::unlink(gJobImage);
    if (gJobSpool[0])
        ::unlink(gJobSpool);
    platform::RemoveUncommittedTemporaries(); // the fax as far as it was written
    ::_exit(kBackendCancel);
}

// Runs while the signals that cancel a job wait.
template <typename F>
void WithCancelHeld(F work)
{
    sigset_t cancel, old;
    sigemptyset(&cancel);
    sigaddset(&cancel, SIGTERM);
    sigaddset(&cancel, SIGINT);
    sigaddset(&cancel, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &cancel, &old);
    work();
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
}

void Remember(char* slot, const std::string& path)
{
    WithCancelHeld([&] { std::snprintf(slot, PATH_MAX, "%s", path.size() < PATH_MAX ? path.c_str() : ""); });
}

class Channel {
public:
    explicit Channel(const std::string& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (fd_ < 0 || path.empty() || path.size() >= sizeof address.sun_path)
            return;
        std::memcpy(address.sun_path, path.c_str(), path.size());
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Channel()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Connected() const { return connected_; }
    // The process that serves the channel (0 when unknown).
    pid_t Server() const
    {
        ucred peer{};
        socklen_t size = sizeof peer;
        return connected_ && ::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 ? peer.pid : 0;
    }
    bool Send(uint8_t code, const std::string& text)
    {
        const ptf::ChannelMessage message = ptf::MakeChannelMessage(code, text);
        return ::send(fd_, message.data(), message.size(), MSG_NOSIGNAL) == ssize_t(message.size());
    }
    // The answer to a document start: the image path, or empty.
    std::string ReceiveFileName()
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kAnswerWaitMs) <= 0)
            return {};
        ptf::ChannelMessage message{};
        const ssize_t n = ::recv(fd_, message.data(), message.size(), 0);
        if (n < 2 || message[0] != ptf::kCodeFileName)
            return {};
        return ptf::ChannelMessageText(message.data(), size_t(n));
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// Pages of raw PBM (P4) as ghostscript writes them one after the other, read from a pipe.
class PbmPages {
public:
    explicit PbmPages(FILE* in) : in_(in) {}

    // Reads the next page's header; false at the end of the input or on a damaged header.
    bool NextPage()
    {
        int c = std::fgetc(in_);
        while (c != EOF && std::isspace(c))
            c = std::fgetc(in_);
        if (c == EOF)
            return false;
        if (c != 'P' || std::fgetc(in_) != '4')
            return Damaged();
        width_ = Number();
        height_ = Number();
        // One white-space character ends the header.
        if (width_ <= 0 || height_ <= 0 || width_ > 1 << 15 || height_ > 1 << 16 || !std::isspace(std::fgetc(in_)))
            return Damaged();
        row_.assign(size_t(width_ + 7) / 8, 0);
        rowsLeft_ = height_;
        return true;
    }
    // The next row of this page, centred into a fax row (1 = black, first pixel in the high bit).
    bool NextRow(uint8_t* raster)
    {
        if (rowsLeft_ <= 0)
            return false;
        if (std::fread(row_.data(), 1, row_.size(), in_) != row_.size())
            return Damaged();
        --rowsLeft_;
        std::memset(raster, 0, kFaxRowBytes);
        const int from = std::max(0, (width_ - kFaxWidth) / 2);
        const int to = std::max(0, (kFaxWidth - width_) / 2);
        const int count = std::min(width_ - from, kFaxWidth - to);
        for (int i = 0; i < count; ++i) {
            const int s = from + i;
            if (row_[size_t(s) >> 3] & (0x80 >> (s & 7))) {
                const int d = to + i;
                raster[d >> 3] |= uint8_t(0x80 >> (d & 7));
            }
        }
        return true;
    }
    bool Broken() const { return broken_; }
    int Width() const { return width_; }

private:
    bool Damaged()
    {
        broken_ = true;
        return false;
    }
    int Number()
    {
        int c = std::fgetc(in_);
        for (;;) {
            while (c != EOF && std::isspace(c))
                c = std::fgetc(in_);
            if (c != '#')
                break;
            while (c != EOF && c != '\n')
                c = std::fgetc(in_);
        }
        long value = 0;
        while (c != EOF && std::isdigit(c) && value < (1L << 30)) {
            value = value * 10 + (c - '0');
            c = std::fgetc(in_);
        }
        if (c != EOF)
            std::ungetc(c, in_);
        return int(value);
    }

    FILE* in_;
    std::vector<uint8_t> row_;
    int width_ = 0;
    int height_ = 0;
    int rowsLeft_ = 0;
    bool broken_ = false;
};

// Ghostscript reading the job, writing PBM pages into a pipe.
class Rasteriser {
public:
    explicit Rasteriser(const std::string& input)
    {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return;
        WithCancelHeld([&] {
            pid_ = ::fork();
            if (pid_ > 0)
                gGhostscript = pid_;
        });
        if (pid_ == 0) {
            ::dup2(pipeFds[1], 1);
            const char* gs = std::getenv("ZN_GHOSTSCRIPT");
            gs = gs && *gs ? gs : "gs";
            ::execlp(gs, gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE", "-sDEVICE=pbmraw", kResolution,
                     "-sOutputFile=-", "--", input.c_str(), static_cast<char*>(nullptr));
            std::fprintf(stderr, "ERROR: Cannot run ghostscript: %s\n", std::strerror(errno));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        if (pid_ < 0) {
            ::close(pipeFds[0]);
            return;
        }
        out_ = ::fdopen(pipeFds[0], "rb");
    }
    ~Rasteriser() { Finish(); }
    FILE* Output() const { return out_; }
    // Waits for ghostscript; true when it ended well.
    bool Finish()
    {
        if (out_) {
            std::fclose(out_);
            out_ = nullptr;
        }
        if (pid_ <= 0)
            return false;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
        gGhostscript = 0;
        pid_ = 0;
        ok_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return ok_;
    }
    bool Ok() const { return ok_; }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    bool ok_ = false;
};

// Becomes the job's owner (when started as root). False when that is not possible.
bool BecomeOwner(const passwd& owner)
{
    if (::geteuid() != 0 || owner.pw_uid == 0)
        return true;
    return ::initgroups(owner.pw_name, owner.pw_gid) == 0 && ::setgid(owner.pw_gid) == 0 && ::setuid(owner.pw_uid) == 0;
}

// Standard input copied into a file ghostscript can seek in (a PDF must be read from its end).
std::string SpoolStandardInput()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvelfax-XXXXXX";
    int fd = -1;
    WithCancelHeld([&] {
        fd = ::mkstemp(path.data());
        if (fd >= 0)
            std::snprintf(gJobSpool, PATH_MAX, "%s", path.c_str());
    });
    if (fd < 0)
        return {};
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (::write(fd, buffer, size_t(n)) != n) {
            ::close(fd);
            ::unlink(path.c_str());
            return {};
        }
    }
    ::close(fd);
    return path;
}

// Codes the pages of the job into the fax image file. Returns the converter's result.
int ConvertJob(const std::string& input, const std::string& imagePath, int* pages)
{
    Rasteriser gs(input);
    if (!gs.Output())
        return faxdoc::ecFileNotFound;
    PbmPages pbm(gs.Output());
    if (!pbm.NextPage()) {
        gs.Finish();
        return faxdoc::ecFaxBadFormat;
    }
    *pages = 1;
    faxdoc::ConverterState state(std::make_unique<faxdoc::TUserReader>(
        "", nullptr,
        [&](uint8_t* raster, int& bytes, bool& endOfPage, bool& morePages) {
            if (pbm.NextRow(raster)) {
                bytes = kFaxRowBytes;
                return int(faxdoc::ecOK);
            }
            if (pbm.Broken())
                return int(faxdoc::ecFaxBadFormat);
            endOfPage = true;
            morePages = pbm.NextPage();
            if (pbm.Broken())
                return int(faxdoc::ecFaxBadFormat);
            if (morePages)
                ++*pages;
            return int(faxdoc::ecOK);
        },
        nullptr));
    state.SetResolution(true);
    state.SetMargins(0, 0);
    state.ClearFlags(faxdoc::kCvtDoubleWidth | faxdoc::kCvtCenterImage | faxdoc::kCvtHalfHeight);
    const int result = state.ConvertFile("", imagePath);
    const bool rasterised = gs.Finish();
    if (result != faxdoc::ecOK)
        return result;
    return rasterised ? int(faxdoc::ecOK) : int(faxdoc::ecFaxBadFormat);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 1) {
        std::puts("direct tarvelfax \"Tarvel Fax\" \"Tarvel Fax (print to fax with zn)\"");
        return kBackendOk;
    }
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return kBackendFailed;
    }
    ::signal(SIGPIPE, SIG_IGN);
    for (const int cancel : {SIGTERM, SIGINT, SIGHUP})
        ::signal(cancel, CancelJob);
    const std::string user = argv[2];
    const std::string title = argv[3];
    const passwd* found = ::getpwnam(user.c_str());
    if (!found) {
        Error("The job's owner \"" + user + "\" is not a user of this machine.");
        return kBackendCancel;
    }
    const passwd owner = *found;
    if (!BecomeOwner(owner)) {
        Error("Cannot act as the user \"" + user + "\": " + std::strerror(errno));
        return kBackendCancel;
    }

    // Ask first, before any work: without a controller there is nowhere for the fax to go.
    const std::string channelPath = ptf::ChannelPath(owner.pw_uid, false);
    // One job of a user at a time from document start to document end, whatever queue it came
    // through: znptf takes each end for the document it named last.
    const int jobLock = channelPath.empty() ? -1 : ::open((channelPath + ".job").c_str(),
                                                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (jobLock >= 0 && ::flock(jobLock, LOCK_EX | LOCK_NB) != 0) {
        std::fprintf(stderr, "INFO: Waiting for the fax of another print job to be made\n");
        while (::flock(jobLock, LOCK_EX) != 0 && errno == EINTR) {}
    }
    Channel start(channelPath);
    if (!start.Connected()) {
        Error("Tarvel Print To Fax (znptf) is not running for the user \"" + user
              + "\". Start znptf and print the document again.");
        return kBackendCancel;
    }
    if (!start.Send(ptf::kCodeDocStart, title)) {
        Error("Tarvel Print To Fax (znptf) did not take the job.");
        return kBackendCancel;
    }
    const std::string imagePath = start.ReceiveFileName();
    if (imagePath.empty()) {
        Error("Tarvel Print To Fax (znptf) gave no file name for the fax.");
        return kBackendCancel;
    }
    Remember(gJobImage, imagePath);
    const pid_t server = start.Server();

    std::string input = argc == 7 ? argv[6] : SpoolStandardInput();
    const bool spooled = argc != 7;
    if (input.empty()) {
        Error("Cannot keep the print job in a temporary file.");
        ::unlink(imagePath.c_str());
        return kBackendCancel;
    }
    std::fprintf(stderr, "INFO: Making the fax %s\n", imagePath.c_str());
    int pages = 0;
    const int result = ConvertJob(input, imagePath, &pages);
    if (spooled) {
        ::unlink(input.c_str());
        Remember(gJobSpool, "");
    }
    if (result != faxdoc::ecOK) {
        Error("The job could not be made into a fax (code " + std::to_string(result) + ").");
        ::unlink(imagePath.c_str());
        return kBackendCancel;
    }
    std::fprintf(stderr, "INFO: %d fax pages in %s\n", pages, imagePath.c_str());

    // Once the end is announced the fax is znptf's: a cancel after that leaves it in place.
    Channel end(channelPath);
    // A znptf started again meanwhile knows nothing of this job: it would take the end for another.
    if (end.Connected() && end.Server() != server) {
        Error("Tarvel Print To Fax (znptf) was started again while the fax was being made. Print the document again.");
        ::unlink(imagePath.c_str());
        return kBackendCancel;
    }
    bool announced = false;
    WithCancelHeld([&] {
        announced = end.Connected() && end.Send(ptf::kCodeDocEnd, "");
        if (announced)
            gJobImage[0] = '\0';
    });
    if (!announced) {
        Error("Tarvel Print To Fax (znptf) went away before the fax was finished.");
        ::unlink(imagePath.c_str());
        return kBackendCancel;
    }
    return kBackendOk;
}
