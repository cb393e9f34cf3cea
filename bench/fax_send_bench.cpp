// Fax engine against efax: the wall time of a Class 1 fax of 1 and of 8 ITU charts through the
// back-to-back modem pair in real time, efax receiving in both runs; and each call's line time (the
// T.30 phases at their nominal lengths plus the page data bits / rate, with the data each program
// sends: ours counted at the port, efax's as efix codes the pages).
//
//   zn_fax_send_bench [pages...]     (default: 1 8)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "apf_test_pages.h"
#include "comms/engine/fax_image_io.h"
#include "fax_test_bench.h"
#include "faxline_harness.h"

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Nominal T.30 lengths at 14400 bit/s (V.17): a V.21 transmission is 1 s of flags, then its frames
// at 300 bit/s (3 octets of address, control and FCF, the information, 2 of FCS, 1 closing flag);
// 75 ms between transmissions.
double V21(int infoBytes) { return 1.0 + (6.0 + infoBytes) * 8 / 300 + 0.075; }

double LineModelSeconds(int pages, int64_t dataBytes, int rate)
{
    double t = 3.0;                    // CED, after the answer
    t += V21(20) + V21(4) - 1.0;       // CSI + DIS in one transmission
    t += V21(20) + V21(4) - 1.0;       // TSI + DCS
    t += 1.393 + 1.5 + 0.075;          // V.17 long training + TCF
    t += V21(0);                       // CFR
    t += pages * (0.142 + 0.075);      // short training before each page
    t += double(dataBytes) * 8 / rate; // the pages
    t += pages * (V21(0) + V21(0));    // MPS/EOP and MCF
    t += V21(0);                       // DCN
    return t;
}

struct Run {
    double seconds = -1;
    bool ok = false;
    int64_t bytes = 0; // written to the modem, commands and frames included
    int rate = 0;
};

// Counts what the engine writes to its modem.
class CountingPort : public DispatcherFaxPort {
public:
    using DispatcherFaxPort::DispatcherFaxPort;
    int WriteBlock(const uint8_t* data, uint32_t count) override
    {
        int rc = DispatcherFaxPort::WriteBlock(data, count);
        if (rc == 0)
            written += count;
        return rc;
    }
    std::atomic<int64_t> written{0};
};

Run Ours(const std::string& dir, const std::string& apf)
{
    Run r;
    mkdir(dir.c_str(), 0700);
    auto line = Line::Start(dir, {"pair", "--calls", "1"});
    if (!line)
        return r;
    ChildProcess rx({"efax", "-d", line->Port('B'), "-o1", "-r", dir + "/ours"}, dir + "/ours-rx.out",
                    dir + "/ours-rx.log");
    TestPort port(line->Port('A'));
    if (!port.IsOpen())
        return r;
    CountingPort counting(port.Dispatcher());
    RecordingEvents events;
    events.entries.push_back({"123", apf, ""});
    FaxSendSession session(events);
    session.common.faxClass = fcClass1;
    session.common.StationID = "ZN BENCH";
    session.modem.DesiredBPS = 14400;
    auto start = Clock::now();
    if (session.Start(counting) != 0 || !events.WaitFinished(900s))
        return r;
    r.seconds = Seconds(Clock::now() - start);
    r.ok = events.Errors().empty();
    r.bytes = counting.written;
    r.rate = session.modem.bitRate;
    rx.Wait(30s);
    return r;
}

Run Efax(const std::string& dir, const std::vector<std::string>& pbms)
{
    Run r;
    mkdir(dir.c_str(), 0700);
    auto line = Line::Start(dir, {"pair", "--calls", "1"});
    if (!line)
        return r;
    ChildProcess rx({"efax", "-d", line->Port('B'), "-o1", "-r", dir + "/efax"}, dir + "/efax-rx.out",
                    dir + "/efax-rx.log");
    std::vector<std::string> argv{"efax", "-d", line->Port('A'), "-o1", "-h", "", "-t", "123"};
    argv.insert(argv.end(), pbms.begin(), pbms.end());
    auto start = Clock::now();
    ChildProcess tx(argv, dir + "/efax-tx.out", dir + "/efax-tx.log");
    auto status = tx.Wait(900s);
    r.seconds = Seconds(Clock::now() - start);
    r.ok = status && *status == 0;
    rx.Wait(30s);
    return r;
}

// efax's own coding of the pages (efix writes what efax sends), in bytes.
int64_t EfaxDataBytes(const std::vector<std::string>& pbms, const std::string& dir)
{
    int64_t total = 0;
    for (size_t i = 0; i < pbms.size(); ++i) {
        std::string out = dir + "/efix" + std::to_string(i);
        std::string cmd = "efix -i pbm -o fax '" + pbms[i] + "' > '" + out + "' 2>/dev/null";
        if (std::system(cmd.c_str()) != 0)
            return -1;
        struct stat st {};
        if (::stat(out.c_str(), &st) == 0)
            total += st.st_size;
    }
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {1, 8};
    std::printf("%-6s %9s %9s %7s %13s %13s %10s %10s\n", "pages", "ours s", "efax s", "ratio", "ours line s",
                "efax line s", "ours/line", "efax/line");
    for (int n : counts) {
        TempDir dir;
        std::vector<Bitmap> pages;
        std::vector<std::string> pbms;
        for (int p = 1; p <= n; ++p) {
            pbms.push_back(ItuChartPath((p - 1) % 8 + 1));
            if (auto b = ReadPbm(pbms.back()))
                pages.push_back(*b);
        }
        std::string apf = dir.File("bench.apf");
        if (!WriteApf(apf, pages, true)) {
            std::fprintf(stderr, "cannot write %s\n", apf.c_str());
            return 1;
        }
        Run ours = Ours(dir.File("ours"), apf);
        Run efax = Efax(dir.File("efax"), pbms);
        // The page data: what the engine wrote, less the training check.
        int rate = ours.rate ? ours.rate : 14400;
        int64_t dataBytes = ours.bytes - int64_t(rate / 100) * 18;
        double line = LineModelSeconds(n, dataBytes, rate);
        double efaxLine = LineModelSeconds(n, EfaxDataBytes(pbms, dir.Path()), rate);
        std::printf("%-6d %8.1f%s %8.1f%s %7.3f %13.1f %13.1f %10.3f %10.3f\n", n, ours.seconds, ours.ok ? " " : "!",
                    efax.seconds, efax.ok ? " " : "!", ours.seconds / efax.seconds, line, efaxLine, ours.seconds / line,
                    efax.seconds / efaxLine);
        std::fflush(stdout);
    }
    return 0;
}
