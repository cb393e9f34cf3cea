// The "Tarvel Fax" printer: a CUPS backend that turns each print job into a fax image file for the
// print-to-fax controller of the job's owner.
//
// For each job it finds the owner's znptf channel, asks for the image path (document start), has
// ghostscript rasterise the job at fax fine resolution (204 x 196 dpi, black and white), codes the
// pages into that file through the fax converter, and announces the document end. It runs as root
// (the backend file is mode 0700) only to take the job's data where CUPS keeps it and to become the
// job's owner; all the rest runs as that user, so the image belongs to them. The owner is the user
// CUPS authenticated for the job (AUTH_UID, set for jobs of a queue whose policy authenticates
// local submitters), never a user name the client merely claimed, and never root.
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
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
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
// CUPS runs one job of a printer at a time, so whatever a job waits for, every other user's job
// waits for too. Waits on what the job's user controls (another job of theirs holding the channel,
// their znptf taking the connection and answering) are bounded: the start of a job within one
// minute, its end within ten seconds, and the next user's job goes on.
using Clock = std::chrono::steady_clock;
constexpr auto kStartWait = std::chrono::seconds(60);
constexpr auto kEndWait = std::chrono::seconds(10);
// A document that never ends (a PostScript loop) or never stops making pages would hold the queue
// for every user: drawing is bounded in time (seconds, TARVELFAX_TIME_LIMIT overrides) and pages.
constexpr unsigned kDrawSeconds = 300;
constexpr int kMostPages = 1000;

// cupsd acts on every line of a backend's standard error: "PPD:" rewrites the queue's PPD, "ATTR:"
// and "STATE:" change the printer's attributes for everybody. Text that the job's user controls (the
// fax path their channel answers, what their document makes ghostscript say) goes there only inside
// a line of ours: control characters removed, so that it can start no line of its own, and bounded.
constexpr size_t kMostStatusBytes = 512;
std::string StatusText(const std::string& text)
{
    std::string clean;
    for (const char c : text) {
        if (clean.size() == kMostStatusBytes)
            break;
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f)
            clean += c;
    }
    // Not cut in the middle of a UTF-8 sequence.
    size_t lead = clean.size();
    while (lead > 0 && (static_cast<unsigned char>(clean[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead > 0) {
        const unsigned char first = static_cast<unsigned char>(clean[lead - 1]);
        const size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
        if (clean.size() - (lead - 1) < length)
            clean.resize(lead - 1);
    }
    return clean;
}

void Status(const char* level, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", level, StatusText(text).c_str());
    std::fflush(stderr);
}

// Why the job is not faxed. The reason belongs to the job (its job-printer-state-message, the error
// log): the printer is shared, and an empty message after it gives the printer its own back, so that
// no user sees another's refusal as the printer's state.
int Refuse(const std::string& why)
{
    Status("ERROR", why);
    Status("INFO", "");
    return kBackendCancel;
}

// A job cancelled while it is being made (CUPS sends SIGTERM) leaves neither a half-made fax in the
// send folder nor its spooled copy: the files of this job that are still ours, named here.
// The spooled copy has no name at all: it goes with the process. znptf's mark of the job goes with
// the fax.
char gJobImage[PATH_MAX];
char gJobMark[PATH_MAX];
volatile pid_t gGhostscript = 0;
volatile sig_atomic_t gTimedOut = 0;

void CancelJob(int)
{
    if (gGhostscript > 0)
        ::kill(gGhostscript, SIGTERM);
    if (gJobImage[0]) {
        ::unlink(gJobImage);
        ::unlink(gJobMark);
    }
    platform::RemoveUncommittedTemporaries(); // the fax as far as it was written
    ::_exit(kBackendCancel);
}

// The drawing took longer than allowed: ghostscript goes, and the job fails on its cut pages.
void DrawingTimedOut(int)
{
    gTimedOut = 1;
    if (gGhostscript > 0)
        ::kill(gGhostscript, SIGKILL);
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

// The fax being made, or none (empty).
void Remember(const std::string& image)
{
    WithCancelHeld([&] {
        const std::string mark = image.empty() ? image : ptf::UnfinishedMarkPath(image);
        const bool fits = image.size() < PATH_MAX && mark.size() < PATH_MAX;
        std::snprintf(gJobImage, PATH_MAX, "%s", fits ? image.c_str() : "");
        std::snprintf(gJobMark, PATH_MAX, "%s", fits ? mark.c_str() : "");
    });
}

// A job that fails leaves neither its fax nor znptf's mark of it.
void DropFax(const std::string& image)
{
    ::unlink(image.c_str());
    ::unlink(ptf::UnfinishedMarkPath(image).c_str());
}

// Time left until a moment, for a wait (at least a millisecond, so that a wait never becomes endless).
timeval Left(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now());
    const long long us = std::max<long long>(1000, left.count());
    return timeval{time_t(us / 1000000), suseconds_t(us % 1000000)};
}

// One connection to the user's channel; connecting, sending and receiving give up at the deadline.
class Channel {
public:
    Channel(const std::string& path, Clock::time_point deadline) : deadline_(deadline)
    {
        fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (fd_ < 0 || path.empty() || path.size() >= sizeof address.sun_path)
            return;
        std::memcpy(address.sun_path, path.c_str(), path.size());
        // A server that takes no connections (its queue full) would keep connect waiting.
        const timeval left = Left(deadline_);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &left, sizeof left);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        timedOut_ = !connected_ && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
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
    // Whether the deadline passed while connecting, sending or waiting for the answer.
    bool TimedOut() const { return timedOut_; }
    bool Send(uint8_t code, const std::string& text)
    {
        const ptf::ChannelMessage message = ptf::MakeChannelMessage(code, text);
        const timeval left = Left(deadline_);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &left, sizeof left);
        const bool sent = ::send(fd_, message.data(), message.size(), MSG_NOSIGNAL) == ssize_t(message.size());
        timedOut_ = !sent && (errno == EAGAIN || errno == EWOULDBLOCK);
        return sent;
    }
    // The answer to a document start: the image path, or empty.
    std::string ReceiveFileName()
    {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, int(std::max<long long>(0, left.count())));
            if (ready < 0 && errno == EINTR)
                continue;
            timedOut_ = ready == 0;
            if (ready <= 0)
                return {};
            break;
        }
        ptf::ChannelMessage message{};
        const ssize_t n = ::recv(fd_, message.data(), message.size(), MSG_DONTWAIT);
        if (n < 2 || message[0] != ptf::kCodeFileName)
            return {};
        return ptf::ChannelMessageText(message.data(), size_t(n));
    }

private:
    Clock::time_point deadline_;
    int fd_ = -1;
    bool connected_ = false;
    bool timedOut_ = false;
};

// Takes the lock of the user's jobs, waiting for another job of theirs at most until the deadline.
// True when it is ours (or there is no lock to take: the channel itself is then missing).
bool TakeJobLock(int lock, Clock::time_point deadline)
{
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) == 0)
        return true;
    Status("INFO", "Waiting for the fax of another print job to be made");
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (::flock(lock, LOCK_EX | LOCK_NB) == 0)
            return true;
    }
    return false;
}

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

// What ghostscript says on its standard error, which a PostScript job can write to (%stderr, even
// under -dSAFER): passed on as debugging lines of ours, the first of them only, and read to the end
// so that ghostscript never waits on a full pipe.
class GhostscriptMessages {
public:
    explicit GhostscriptMessages(int readEnd)
        : thread_([readEnd] {
              FILE* in = ::fdopen(readEnd, "rb");
              if (!in) {
                  ::close(readEnd);
                  return;
              }
              constexpr int kMostLines = 100;
              int lines = 0;
              std::string line;
              for (int c = std::fgetc(in);; c = std::fgetc(in)) {
                  if (c == EOF || c == '\n') {
                      if (!line.empty() && ++lines <= kMostLines)
                          Status("DEBUG", "ghostscript: " + line);
                      line.clear();
                      if (c == EOF)
                          break;
                  } else if (line.size() < kMostStatusBytes) {
                      line += char(c);
                  }
              }
              std::fclose(in);
          })
    {
    }
    ~GhostscriptMessages() { thread_.join(); }

private:
    std::thread thread_;
};

// Ghostscript reading the job, writing PBM pages into a pipe.
class Rasteriser {
public:
    // input: the open job file, read through /dev/fd; temporaryFolder: where ghostscript may write
    // (the user's own).
    Rasteriser(int input, const std::string& temporaryFolder, unsigned seconds)
    {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return;
        int messageFds[2];
        if (::pipe2(messageFds, O_CLOEXEC) != 0) {
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            return;
        }
        WithCancelHeld([&] {
            pid_ = ::fork();
            if (pid_ > 0) {
                gGhostscript = pid_;
                gTimedOut = 0;
                ::signal(SIGALRM, DrawingTimedOut);
                ::alarm(seconds);
            }
        });
        if (pid_ == 0) {
            // Our own word that ghostscript cannot be run still goes to CUPS.
            const int status = ::fcntl(2, F_DUPFD_CLOEXEC, 10);
            ::dup2(pipeFds[1], 1);
            ::dup2(messageFds[1], 2);
            const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (nothing >= 0)
                ::dup2(nothing, 0); // the job is read from its file, never from the backend's input
            if (!temporaryFolder.empty())
                ::setenv("TMPDIR", temporaryFolder.c_str(), 1);
            // The job file has no name: ghostscript opens it as the descriptor it inherits.
            constexpr int kJobDescriptor = 3;
            if (input == kJobDescriptor ? ::fcntl(input, F_SETFD, 0) != 0 : ::dup2(input, kJobDescriptor) < 0)
                ::_exit(127);
            const std::string inputPath = "/dev/fd/" + std::to_string(kJobDescriptor);
            const char* gs = std::getenv("ZN_GHOSTSCRIPT");
            gs = gs && *gs ? gs : "gs";
            ::execlp(gs, gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE", "-sDEVICE=pbmraw", kResolution,
                     "-sOutputFile=-", "--", inputPath.c_str(), static_cast<char*>(nullptr));
            const std::string why = "ERROR: Cannot run ghostscript: " + std::string(std::strerror(errno)) + "\n";
            if (::write(status, why.data(), why.size()) < 0) {}
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        ::close(messageFds[1]);
        if (pid_ < 0) {
            ::close(pipeFds[0]);
            ::close(messageFds[0]);
            return;
        }
        messages_ = std::make_unique<GhostscriptMessages>(messageFds[0]);
        out_ = ::fdopen(pipeFds[0], "rb");
    }
    ~Rasteriser() { Finish(); }
    FILE* Output() const { return out_; }
    // Ends ghostscript before its document does (the job is refused).
    void Stop()
    {
        if (pid_ > 0)
            ::kill(pid_, SIGKILL);
    }
    // Waits for ghostscript; true when it ended well.
    bool Finish()
    {
        ::alarm(0);
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
        messages_.reset(); // all it said is passed on
        ok_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return ok_;
    }
    bool Ok() const { return ok_; }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    std::unique_ptr<GhostscriptMessages> messages_;
    bool ok_ = false;
};

// Becomes the job's owner (when started as root). False when that is not possible.
bool BecomeOwner(const passwd& owner)
{
    if (::geteuid() != 0)
        return ::geteuid() == owner.pw_uid;
    return ::initgroups(owner.pw_name, owner.pw_gid) == 0 && ::setgid(owner.pw_gid) == 0 && ::setuid(owner.pw_uid) == 0
           && ::setuid(0) != 0; // no way back
}

// Why the job may not be faxed as the user it names; empty when it may. CUPS sets AUTH_UID only for
// a job whose submitter it authenticated (on its local socket, from the peer's credentials); the
// user name alone is whatever the client claimed.
std::string Untrusted(const passwd& owner)
{
    if (owner.pw_uid == 0)
        return "Jobs of root are not faxed: print as the user whose Tarvel Print To Fax (znptf) should take "
               "the fax.";
    const char* authenticated = std::getenv("AUTH_UID");
    char* end = nullptr;
    const unsigned long uid = authenticated && *authenticated ? std::strtoul(authenticated, &end, 10) : 0;
    if (!authenticated || !*authenticated || *end)
        return "The job of \"" + std::string(owner.pw_name)
               + "\" was not authenticated by CUPS, so its owner is not known. Install the printer with the "
                 "policy \"authenticated\" (lpadmin -p TarvelFax -o printer-op-policy=authenticated).";
    if (uid != owner.pw_uid)
        return "The job names the user \"" + std::string(owner.pw_name) + "\" but was sent by another one.";
    return {};
}

// A file for the job's copy in CUPS's temporary folder, made while the backend may still write
// there. It is unlinked at once (nothing is left behind, whatever ends the job) and given to the
// owner, whose processes reach it through the open descriptor only. -1 when it cannot be made.
int OpenSpool(const passwd& owner)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvelfax-XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    ::unlink(path.c_str());
    if (::geteuid() == 0 && ::fchown(fd, owner.pw_uid, owner.pw_gid) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The job's data copied into the spool file, which ghostscript can seek in (a PDF is read from its
// end). False on a read or write error.
bool Spool(int input, int spool)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(input, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return ::lseek(spool, 0, SEEK_SET) == 0;
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = ::write(spool, buffer + done, size_t(n - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            done += written;
        }
    }
}

unsigned DrawSeconds()
{
    const char* given = std::getenv("TARVELFAX_TIME_LIMIT");
    const unsigned long seconds = given && *given ? std::strtoul(given, nullptr, 10) : 0;
    return seconds > 0 && seconds < 86400 ? unsigned(seconds) : kDrawSeconds;
}

// Why a conversion failed, in the user's words.
enum class Refusal { None, TooLong, TooManyPages };

// Codes the pages of the job into the fax image file. Returns the converter's result.
int ConvertJob(int input, const std::string& temporaryFolder, const std::string& imagePath, int* pages,
               Refusal* refusal)
{
    Rasteriser gs(input, temporaryFolder, DrawSeconds());
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
            if (morePages && ++*pages > kMostPages) {
                *refusal = Refusal::TooManyPages;
                gs.Stop();
                return int(faxdoc::ecFaxBadFormat);
            }
            return int(faxdoc::ecOK);
        },
        nullptr));
    state.SetResolution(true);
    state.SetMargins(0, 0);
    state.ClearFlags(faxdoc::kCvtDoubleWidth | faxdoc::kCvtCenterImage | faxdoc::kCvtHalfHeight);
    const int result = state.ConvertFile("", imagePath);
    const bool rasterised = gs.Finish();
    if (gTimedOut)
        *refusal = Refusal::TooLong;
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
    if (!found)
        return Refuse("The job's owner \"" + user + "\" is not a user of this machine.");
    const passwd owner = *found;
    if (const std::string why = Untrusted(owner); !why.empty())
        return Refuse(why);
    // The job's data is taken while CUPS's folders are still open to the backend; the owner's
    // processes write nowhere but in the owner's own folders.
    const int input = argc == 7 ? ::open(argv[6], O_RDONLY | O_CLOEXEC) : 0;
    const int spool = OpenSpool(owner);
    if (input < 0 || spool < 0)
        return Refuse("Cannot keep the print job in a temporary file: " + std::string(std::strerror(errno)));
    if (!BecomeOwner(owner))
        return Refuse("Cannot act as the user \"" + user + "\": " + std::strerror(errno));

    // Ask first, before any work: without a controller there is nowhere for the fax to go.
    const std::string channelFolder = ptf::ChannelFolder(owner.pw_uid, false);
    const std::string channelPath = channelFolder.empty() ? channelFolder : channelFolder + "/" + ptf::kChannelName;
    // One job of a user at a time from document start to document end, whatever queue it came
    // through: znptf takes each end for the document it named last.
    const int jobLock = channelPath.empty() ? -1 : ::open(ptf::JobLockPath(channelPath).c_str(),
                                                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    const Clock::time_point startDeadline = Clock::now() + kStartWait;
    const std::string notAnswered = "Tarvel Print To Fax (znptf) of the user \"" + user + "\" did not answer within "
                                    + std::to_string(kStartWait.count())
                                    + " seconds, so the document was not faxed. Print it again.";
    if (!TakeJobLock(jobLock, startDeadline))
        return Refuse("Another print job of the user \"" + user + "\" was still being made into a fax after "
                      + std::to_string(kStartWait.count())
                      + " seconds, so this document was not faxed. Print it again when that fax is done.");
    Channel start(channelPath, startDeadline);
    if (start.TimedOut())
        return Refuse(notAnswered);
    if (!start.Connected())
        return Refuse("Tarvel Print To Fax (znptf) is not running for the user \"" + user
                      + "\". Start znptf and print the document again.");
    if (!start.Send(ptf::kCodeDocStart, title))
        return Refuse(start.TimedOut() ? notAnswered : "Tarvel Print To Fax (znptf) did not take the job.");
    const std::string imagePath = start.ReceiveFileName();
    if (imagePath.empty())
        return Refuse(start.TimedOut() ? notAnswered : "Tarvel Print To Fax (znptf) gave no file name for the fax.");
    Remember(imagePath);
    const pid_t server = start.Server();
    Status("INFO", "Reading the job for the fax " + imagePath);

    if (!Spool(input, spool)) {
        const std::string why = std::strerror(errno);
        DropFax(imagePath);
        return Refuse("Cannot keep the print job in a temporary file: " + why);
    }
    Status("INFO", "Making the fax " + imagePath);
    int pages = 0;
    Refusal refusal = Refusal::None;
    const int result =
        ConvertJob(spool, channelFolder, imagePath, &pages, &refusal);
    ::close(spool);
    if (gTimedOut)
        refusal = Refusal::TooLong;
    if (result != faxdoc::ecOK) {
        DropFax(imagePath);
        if (refusal == Refusal::TooLong)
            return Refuse("The document was still being drawn after " + std::to_string(DrawSeconds())
                          + " seconds, so it was not faxed. Print it again in smaller parts.");
        if (refusal == Refusal::TooManyPages)
            return Refuse("The document has more than " + std::to_string(kMostPages)
                          + " pages, so it was not faxed. Print it again in smaller parts.");
        return Refuse("The job could not be made into a fax (code " + std::to_string(result) + ").");
    }
    Status("INFO", std::to_string(pages) + " fax pages in " + imagePath);

    // Once the end is announced the fax is znptf's: a cancel after that leaves it in place.
    Channel end(channelPath, Clock::now() + kEndWait);
    // A znptf started again meanwhile knows nothing of this job: it would take the end for another.
    if (end.Connected() && end.Server() != server) {
        DropFax(imagePath);
        return Refuse(
            "Tarvel Print To Fax (znptf) was started again while the fax was being made. Print the document again.");
    }
    bool announced = false;
    WithCancelHeld([&] {
        announced = end.Connected() && end.Send(ptf::kCodeDocEnd, "");
        if (announced)
            gJobImage[0] = gJobMark[0] = '\0';
    });
    if (!announced) {
        DropFax(imagePath);
        return Refuse(end.TimedOut() ? "Tarvel Print To Fax (znptf) of the user \"" + user
                                           + "\" did not take the end of the fax within "
                                           + std::to_string(kEndWait.count())
                                           + " seconds, so the document was not faxed. Print it again."
                                     : "Tarvel Print To Fax (znptf) went away before the fax was finished.");
    }
    return kBackendOk;
}
