// Test harness for the fax line test bed: starts faxline and class2sim, talks to modems on
// pseudo-terminals, runs far-end programs (efax, sendfax) and compares fax pages pixel for pixel.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace faxline {

// Paths of the test bed's programs, fixed at build time.
std::string FaxlinePath();
std::string Class2SimPath();
// The ITU test charts: tests/data/itu-charts/ituN.pbm.
std::string ItuChartPath(int n);
// Whether a program can be found on PATH (efax, sendfax): tests skip when a peer is missing.
bool HaveProgram(const std::string& name);

// A temporary folder removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A child process whose standard output and error go to files. The destructor ends it
// (SIGTERM, then SIGKILL) and reaps it.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // The exit status (128 + signal when killed by one), or nothing if it is still running
    // when the time runs out.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    bool Running();
    void Terminate();
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// A running faxline (`faxline MODE ARGS...`, ports 'A' and 'B') or class2sim (port 'A').
class Line {
public:
    // Starts faxline in `dir` and waits until it reports its ports. Returns nullptr on failure.
    static std::unique_ptr<Line> Start(const std::string& dir, const std::vector<std::string>& args);
    // Starts class2sim the same way.
    static std::unique_ptr<Line> StartClass2Sim(const std::string& dir, const std::vector<std::string>& args);
    const std::string& Port(char name) const { return ports_.at(name); }
    // What faxline printed on standard output (ports, READY, RESULT lines).
    std::string Output() const;
    std::string Errors() const;
    // The RESULT lines of the fax terminal.
    std::vector<std::string> Results() const;
    ChildProcess& Process() { return *process_; }

private:
    static std::unique_ptr<Line> StartProgram(const std::string& dir, const std::vector<std::string>& argv);
    std::string outPath_;
    std::string errPath_;
    std::map<char, std::string> ports_;
    std::unique_ptr<ChildProcess> process_;
};

// A program's side of a modem: opens a serial port (a pseudo-terminal here), raw, and speaks
// AT commands.
class ModemChat {
public:
    explicit ModemChat(const std::string& device);
    ~ModemChat();
    ModemChat(const ModemChat&) = delete;
    ModemChat& operator=(const ModemChat&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Send(const std::string& text);
    // Reads until one of `finals` appears on a line of its own; returns everything read, or
    // nothing when the time runs out first.
    std::optional<std::string> ReadUntil(const std::vector<std::string>& finals, std::chrono::milliseconds timeout);
    // Sends "AT<cmd>\r" and waits for a final result (OK, ERROR, CONNECT, BUSY, NO CARRIER,
    // NO DIALTONE, NO ANSWER). Returns the final result's text, or "" on time-out.
    std::string Command(const std::string& cmd, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Everything the last Command read: intermediate results ("+FCON\r\n...") and the final one.
    const std::string& LastReply() const { return lastReply_; }
    // Everything read so far and not yet consumed by ReadUntil.
    std::string& Pending() { return pending_; }

private:
    int fd_ = -1;
    std::string pending_;
    std::string lastReply_;
};

// A bi-level page: 1 bits are black, rows packed MSB first, each row (width + 7) / 8 bytes.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bits;
    // Rows per inch: 196 (fine) or 98 (standard) for fax pages; 0 when unknown (PBM).
    float yResolution = 0;
    int RowBytes() const { return (width + 7) / 8; }
    bool RowIsWhite(int row) const;
    // Rows [first, first + count) as a new bitmap.
    Bitmap Rows(int first, int count) const;
    bool operator==(const Bitmap& other) const
    {
        return width == other.width && height == other.height && bits == other.bits; // pixels only
    }
};

std::optional<Bitmap> ReadPbm(const std::string& path);
// Every page of a TIFF file (any compression libtiff decodes).
std::optional<std::vector<Bitmap>> ReadTiffPages(const std::string& path);
// Writes pages as a T.4 (MH) TIFF-F file at 204 dpi across and each page's yResolution down
// (196 when unknown), as fax programs take them.
bool WriteFaxTiff(const std::string& path, const std::vector<Bitmap>& pages);
// Starts a far-end program (efax, sendfax) with its output in DIR/NAME.out and DIR/NAME.log.
std::unique_ptr<ChildProcess> StartPeer(const TempDir& dir, const std::string& name,
                                        const std::vector<std::string>& argv);
// Compares a page efax sent: efax puts a band of white header rows above the page. Returns ""
// when the rows below the band equal `sent`, else what differs.
std::string CompareBelowHeader(const Bitmap& got, const Bitmap& sent);
// A short description of where two pages differ, for failure messages ("" when equal).
std::string DescribeDifference(const Bitmap& got, const Bitmap& want);

} // namespace faxline
