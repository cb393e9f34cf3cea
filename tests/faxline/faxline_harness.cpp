#include "faxline_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace faxline {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string FaxlinePath() { return ZN_FAXLINE_PATH; }

std::string Class2SimPath() { return ZN_CLASS2SIM_PATH; }

std::string ItuChartPath(int n)
{
    const char* data = std::getenv("ZN_TESTDATA");
    std::string root = data ? data : ZN_TESTDATA_DEFAULT;
    return root + "/itu-charts/itu" + std::to_string(n) + ".pbm";
}

bool HaveProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0)
            return true;
    for (const char* sbin : {"/usr/sbin/", "/sbin/"})
        if (access((sbin + name).c_str(), X_OK) == 0)
            return true;
    return false;
}

static std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// ---- TempDir --------------------------------------------------------------------------------

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "faxline-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr)
        path_ = buf.data();
}

TempDir::~TempDir()
{
    if (path_.empty() || std::getenv("FAXLINE_KEEP"))
        return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

// ---- ChildProcess -----------------------------------------------------------------------------

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setpgid(0, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
}

ChildProcess::~ChildProcess() { Terminate(); }

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    if (status_ || pid_ <= 0)
        return status_;
    auto end = Clock::now() + timeout;
    for (;;) {
        int st = 0;
        pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            return status_;
        }
        if (r < 0) {
            status_ = -1;
            return status_;
        }
        if (Clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool ChildProcess::Running() { return !Wait(std::chrono::milliseconds(0)).has_value(); }

void ChildProcess::Terminate()
{
    if (pid_ <= 0 || status_)
        return;
    kill(pid_, SIGTERM);
    if (!Wait(std::chrono::seconds(3))) {
        kill(pid_, SIGKILL);
        Wait(std::chrono::seconds(3));
    }
}

// ---- Line -----------------------------------------------------------------------------------

std::unique_ptr<Line> Line::Start(const std::string& dir, const std::vector<std::string>& args)
{
    std::vector<std::string> argv{FaxlinePath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return StartProgram(dir, argv);
}

std::unique_ptr<Line> Line::StartClass2Sim(const std::string& dir, const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"/usr/bin/python3", Class2SimPath(), "--log", dir + "/class2sim.log"};
    argv.insert(argv.end(), args.begin(), args.end());
    return StartProgram(dir, argv);
}

std::unique_ptr<Line> Line::StartProgram(const std::string& dir, const std::vector<std::string>& argv)
{
    auto line = std::unique_ptr<Line>(new Line);
    std::string name = fs::path(argv[0]).filename() == "python3" ? "class2sim" : "faxline";
    line->outPath_ = dir + "/" + name + ".out";
    line->errPath_ = dir + "/" + name + ".err";
    line->process_ = std::make_unique<ChildProcess>(argv, line->outPath_, line->errPath_);
    auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
        std::string out = ReadFile(line->outPath_);
        if (out.find("READY\n") != std::string::npos) {
            std::istringstream in(out);
            std::string name, path;
            while (in >> name && name != "READY" && in >> path)
                line->ports_[name[0]] = path;
            return line;
        }
        if (!line->process_->Running())
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

std::string Line::Output() const { return ReadFile(outPath_); }

std::string Line::Errors() const { return ReadFile(errPath_); }

std::vector<std::string> Line::Results() const
{
    std::vector<std::string> results;
    std::istringstream in(Output());
    std::string l;
    while (std::getline(in, l))
        if (l.rfind("RESULT ", 0) == 0)
            results.push_back(l);
    return results;
}

// ---- ModemChat ------------------------------------------------------------------------------

ModemChat::ModemChat(const std::string& device)
{
    fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0)
        return;
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
}

ModemChat::~ModemChat()
{
    if (fd_ >= 0)
        close(fd_);
}

void ModemChat::Send(const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd_, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        else {
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

std::optional<std::string> ModemChat::ReadUntil(const std::vector<std::string>& finals,
                                                std::chrono::milliseconds timeout)
{
    auto end = Clock::now() + timeout;
    for (;;) {
        // A final result stands on a line of its own: "\r\nOK\r\n".
        for (size_t start = 0; start < pending_.size();) {
            size_t eol = pending_.find("\r\n", start);
            if (eol == std::string::npos)
                break;
            std::string lineText = pending_.substr(start, eol - start);
            for (const auto& f : finals)
                if (lineText == f) {
                    std::string all = pending_.substr(0, eol + 2);
                    pending_.erase(0, eol + 2);
                    return all;
                }
            start = eol + 2;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) > 0) {
            char buf[4096];
            ssize_t n = read(fd_, buf, sizeof(buf));
            if (n > 0)
                pending_.append(buf, static_cast<size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return std::nullopt;
        }
    }
}

std::string ModemChat::Command(const std::string& cmd, std::chrono::milliseconds timeout)
{
    static const std::vector<std::string> finals{"OK",          "ERROR",        "CONNECT",   "BUSY",    "NO CARRIER",
                                                 "NO DIALTONE", "NO DIAL TONE", "NO ANSWER", "+FCERROR"};
    Send("AT" + cmd + "\r");
    auto got = ReadUntil(finals, timeout);
    lastReply_ = got.value_or("");
    if (!got)
        return "";
    // The last line before the final "\r\n" is the result.
    std::string text = got->substr(0, got->size() - 2);
    size_t start = text.rfind("\r\n");
    return start == std::string::npos ? text : text.substr(start + 2);
}

// ---- Bitmaps --------------------------------------------------------------------------------

bool Bitmap::RowIsWhite(int row) const
{
    const uint8_t* r = bits.data() + static_cast<size_t>(row) * RowBytes();
    for (int i = 0; i < RowBytes(); i++)
        if (r[i] != 0)
            return false;
    return true;
}

Bitmap Bitmap::Rows(int first, int count) const
{
    Bitmap b;
    b.width = width;
    b.height = count;
    auto begin = bits.begin() + static_cast<ptrdiff_t>(first) * RowBytes();
    b.bits.assign(begin, begin + static_cast<ptrdiff_t>(count) * RowBytes());
    return b;
}

std::optional<Bitmap> ReadPbm(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    Bitmap b;
    in >> magic;
    // Comments may stand between the header fields.
    auto field = [&in]() {
        int v = -1;
        while (in >> std::ws && in.peek() == '#')
            in.ignore(1 << 20, '\n');
        in >> v;
        return v;
    };
    if (magic != "P4")
        return std::nullopt;
    b.width = field();
    b.height = field();
    if (b.width <= 0 || b.height <= 0)
        return std::nullopt;
    in.get();
    b.bits.resize(static_cast<size_t>(b.RowBytes()) * b.height);
    in.read(reinterpret_cast<char*>(b.bits.data()), static_cast<std::streamsize>(b.bits.size()));
    if (!in)
        return std::nullopt;
    return b;
}

std::optional<std::vector<Bitmap>> ReadTiffPages(const std::string& path)
{
    TIFFSetWarningHandler(nullptr);
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
    if (!tif)
        return std::nullopt;
    std::vector<Bitmap> pages;
    do {
        uint32_t w = 0, h = 0;
        uint16_t bps = 1, photometric = PHOTOMETRIC_MINISWHITE;
        TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bps);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
        if (bps != 1 || w == 0)
            return std::nullopt;
        Bitmap b;
        b.width = static_cast<int>(w);
        b.height = static_cast<int>(h);
        b.bits.resize(static_cast<size_t>(b.RowBytes()) * h);
        float yres = 0;
        uint16_t unit = RESUNIT_INCH;
        if (TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &yres)) {
            TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
            b.yResolution = unit == RESUNIT_CENTIMETER ? yres * 2.54f : yres;
        }
        std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif.get())));
        for (uint32_t y = 0; y < h; y++) {
            if (TIFFReadScanline(tif.get(), row.data(), y, 0) < 0)
                return std::nullopt;
            uint8_t* dst = b.bits.data() + static_cast<size_t>(y) * b.RowBytes();
            std::memcpy(dst, row.data(), static_cast<size_t>(b.RowBytes()));
            if (photometric == PHOTOMETRIC_MINISBLACK)
                for (int i = 0; i < b.RowBytes(); i++)
                    dst[i] = static_cast<uint8_t>(~dst[i]);
            if (b.width % 8)
                dst[b.RowBytes() - 1] &= static_cast<uint8_t>(0xff << (8 - b.width % 8));
        }
        pages.push_back(std::move(b));
    } while (TIFFReadDirectory(tif.get()));
    return pages;
}

bool WriteFaxTiff(const std::string& path, const std::vector<Bitmap>& pages)
{
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "w"), TIFFClose);
    if (!tif)
        return false;
    for (size_t p = 0; p < pages.size(); p++) {
        const Bitmap& b = pages[p];
        TIFF* t = tif.get();
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(b.width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(b.height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(b.height));
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, b.yResolution > 0 ? b.yResolution : 196.0f);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p), static_cast<uint16_t>(pages.size()));
        std::vector<uint8_t> row(static_cast<size_t>(b.RowBytes()));
        for (int y = 0; y < b.height; y++) {
            std::memcpy(row.data(), b.bits.data() + static_cast<size_t>(y) * b.RowBytes(), row.size());
            if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0)
                return false;
        }
        if (!TIFFWriteDirectory(t))
            return false;
    }
    return true;
}

std::unique_ptr<ChildProcess> StartPeer(const TempDir& dir, const std::string& name,
                                        const std::vector<std::string>& argv)
{
    return std::make_unique<ChildProcess>(argv, dir.File(name + ".out"), dir.File(name + ".log"));
}

std::string CompareBelowHeader(const Bitmap& got, const Bitmap& sent)
{
    if (got.width != sent.width || got.height < sent.height)
        return DescribeDifference(got, sent);
    int header = got.height - sent.height;
    for (int y = 0; y < header; y++)
        if (!got.RowIsWhite(y))
            return "header row " + std::to_string(y) + " is not white";
    return DescribeDifference(got.Rows(header, sent.height), sent);
}

std::string DescribeDifference(const Bitmap& got, const Bitmap& want)
{
    std::ostringstream out;
    if (got.width != want.width || got.height != want.height) {
        out << "size " << got.width << "x" << got.height << ", expected " << want.width << "x" << want.height;
        return out.str();
    }
    int differing = 0, first = -1;
    for (int y = 0; y < got.height; y++)
        if (std::memcmp(got.bits.data() + static_cast<size_t>(y) * got.RowBytes(),
                        want.bits.data() + static_cast<size_t>(y) * want.RowBytes(),
                        static_cast<size_t>(got.RowBytes()))
            != 0) {
            differing++;
            if (first < 0)
                first = y;
        }
    if (differing)
        out << differing << " rows differ, the first is row " << first;
    return out.str();
}

} // namespace faxline
