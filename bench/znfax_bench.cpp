// Whole processes, side by side: `znfax convert` against netpbm's pbmtog3, `znfax unpack` against
// netpbm's g3topbm (to BMP, the nearest uncompressed form) and against libtiff's `tiffcp -c none`
// (to TIFF). One process per page over the eight ITU charts five times, and one tall page of the
// forty charts end to end (95,040 rows). Each side runs in turn with the other (A B A B ...), the
// median of the rounds is reported, with the largest peak memory of any process. Process start-up
// is measured apart, on a picture of one row. Every output, ours and the peers', is decoded or read
// back after the timing and compared with the chart it came from: a mismatch fails the benchmark.
// Last, peak memory converting the tall TIFF and a hostile run-length BMP (a 65535-pixel-wide
// picture of 8.4 MB that declares a billion pixels).
//
//   zn_bench_znfax [CHARTS_FOLDER] [ROUNDS] [WORK_FOLDER]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct TJob {
    std::vector<std::string> args;
    std::string out; // standard output goes here when not empty
};

struct TRun {
    double ms = 0;
    long peakKb = 0;
};

// Runs a program and waits for it; the process's peak memory comes from its own accounting.
bool SpawnHere(const TJob& job, long* peakKb)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, job.out.empty() ? "/dev/null" : job.out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : job.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    *peakKb = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A process's peak memory counts what its parent held when it was started (until its exec), so the
// programs are started by a small launcher made before this program reads any picture.
struct TLauncher {
    int toLauncher = -1, fromLauncher = -1;

    static bool ReadAll(int fd, void* p, size_t n)
    {
        for (auto* c = static_cast<char*>(p); n > 0;) {
            const ssize_t r = ::read(fd, c, n);
            if (r <= 0)
                return false;
            c += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }
    static void WriteAll(int fd, const void* p, size_t n)
    {
        for (auto* c = static_cast<const char*>(p); n > 0;) {
            const ssize_t w = ::write(fd, c, n);
            if (w <= 0)
                std::exit(1);
            c += w;
            n -= static_cast<size_t>(w);
        }
    }
    static void WriteString(int fd, const std::string& s)
    {
        const uint32_t n = static_cast<uint32_t>(s.size());
        WriteAll(fd, &n, 4);
        WriteAll(fd, s.data(), n);
    }
    static bool ReadString(int fd, std::string& s)
    {
        uint32_t n = 0;
        if (!ReadAll(fd, &n, 4))
            return false;
        s.resize(n);
        return ReadAll(fd, s.data(), n);
    }

    void Start()
    {
        int down[2], up[2];
        if (pipe(down) != 0 || pipe(up) != 0)
            std::exit(1);
        if (fork() == 0) {
            close(down[1]);
            close(up[0]);
            for (;;) {
                TJob job;
                uint32_t count = 0;
                if (!ReadAll(down[0], &count, 4))
                    _exit(0);
                job.args.resize(count);
                for (std::string& a : job.args)
                    if (!ReadString(down[0], a))
                        _exit(1);
                if (!ReadString(down[0], job.out))
                    _exit(1);
                long peak = 0;
                const int32_t ok = SpawnHere(job, &peak);
                WriteAll(up[1], &ok, 4);
                WriteAll(up[1], &peak, sizeof peak);
            }
        }
        close(down[0]);
        close(up[1]);
        toLauncher = down[1];
        fromLauncher = up[0];
    }

    bool Run(const TJob& job, long* peakKb)
    {
        const uint32_t count = static_cast<uint32_t>(job.args.size());
        WriteAll(toLauncher, &count, 4);
        for (const std::string& a : job.args)
            WriteString(toLauncher, a);
        WriteString(toLauncher, job.out);
        int32_t ok = 0;
        long peak = 0;
        if (!ReadAll(fromLauncher, &ok, 4) || !ReadAll(fromLauncher, &peak, sizeof peak))
            return false;
        if (peakKb)
            *peakKb = std::max(*peakKb, peak);
        return ok != 0;
    }
};

TLauncher launcher;

bool Spawn(const TJob& job, long* peakKb = nullptr) { return launcher.Run(job, peakKb); }

void Must(const TJob& job)
{
    if (!Spawn(job)) {
        std::fprintf(stderr, "failed: %s (netpbm, libtiff's tools and znfax are needed)\n", job.args[0].c_str());
        std::exit(1);
    }
}

TRun RunAll(const std::vector<TJob>& jobs)
{
    TRun r;
    const auto t0 = Clock::now();
    for (const TJob& job : jobs)
        if (!Spawn(job, &r.peakKb)) {
            std::fprintf(stderr, "failed: %s\n", job.args[0].c_str());
            std::exit(1);
        }
    r.ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    return r;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A PBM (P4) picture: rows of (width + 7) / 8 bytes.
struct TPbm {
    int width = 0, height = 0;
    std::string bits;
    bool operator==(const TPbm& o) const { return width == o.width && height == o.height && bits == o.bits; }
};

TPbm ReadPbm(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TPbm p;
    size_t at = 0;
    const auto number = [&]() {
        for (;;) {
            while (at < data.size() && std::isspace(static_cast<unsigned char>(data[at])))
                ++at;
            if (at < data.size() && data[at] == '#') {
                while (at < data.size() && data[at] != '\n')
                    ++at;
                continue;
            }
            break;
        }
        int v = 0;
        while (at < data.size() && std::isdigit(static_cast<unsigned char>(data[at])))
            v = v * 10 + (data[at++] - '0');
        return v;
    };
    if (data.size() < 2 || data[0] != 'P' || data[1] != '4')
        return p;
    at = 2;
    p.width = number();
    p.height = number();
    ++at;
    p.bits = data.substr(at);
    return p;
}

// A decoded page against its picture: raw MH decoders may count the end-of-page EOLs as a few
// more blank rows.
bool SamePicture(const TPbm& decoded, const TPbm& picture)
{
    if (decoded.width != picture.width || decoded.height < picture.height || decoded.height > picture.height + 8
        || decoded.bits.size() < picture.bits.size())
        return false;
    return decoded.bits.compare(0, picture.bits.size(), picture.bits) == 0
           && decoded.bits.find_first_not_of('\0', picture.bits.size()) == std::string::npos;
}

void Check(bool ok, const std::string& what)
{
    if (!ok) {
        std::fprintf(stderr, "MISMATCH: %s\n", what.c_str());
        std::exit(1);
    }
}

// One comparison: our jobs and the peer's, in turn, `rounds` times.
struct TRow {
    std::string work;
    double ours = 0, peer = 0; // ms per process
    long oursKb = 0, peerKb = 0;
};

TRow Compare(const std::string& work, const std::vector<TJob>& ours, const std::vector<TJob>& peer, int rounds)
{
    std::vector<double> a, b;
    TRow row;
    row.work = work;
    RunAll(ours); // warm the caches
    RunAll(peer);
    for (int r = 0; r < rounds; ++r) {
        const TRun x = RunAll(ours), y = RunAll(peer);
        a.push_back(x.ms / static_cast<double>(ours.size()));
        b.push_back(y.ms / static_cast<double>(peer.size()));
        row.oursKb = std::max(row.oursKb, x.peakKb);
        row.peerKb = std::max(row.peerKb, y.peakKb);
    }
    row.ours = Median(a);
    row.peer = Median(b);
    return row;
}

void PrintRow(const TRow& r)
{
    std::printf("%-34s %9.2f %9.2f %7.2f %9.1f %9.1f %7.2f\n", r.work.c_str(), r.ours, r.peer, r.ours / r.peer,
                r.oursKb / 1024.0, r.peerKb / 1024.0, static_cast<double>(r.oursKb) / static_cast<double>(r.peerKb));
}

// 65535 x 16384 pixels, 8-bit run-length coded: every row 257 runs of 255 pixels in turn black and
// white, then its end-of-line mark; about 8.4 MB that a reader expanding the picture would turn
// into a billion pixels.
void WriteHostileBmp(const std::string& name)
{
    const int width = 65535, height = 16384;
    std::string data;
    for (int y = 0; y < height; ++y) {
        for (int x = 0, k = 0; x < width; x += 255, ++k) {
            data += static_cast<char>(std::min(255, width - x));
            data += static_cast<char>(k % 2);
        }
        data += std::string("\0\0", 2);
    }
    data += std::string("\0\1", 2);
    std::string head(14 + 40 + 8, '\0');
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            head[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    head[0] = 'B';
    head[1] = 'M';
    put32(2, static_cast<uint32_t>(head.size() + data.size()));
    put32(10, static_cast<uint32_t>(head.size()));
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    head[26] = 1;
    head[28] = 8;
    put32(30, 1); // RLE8
    put32(46, 2);
    head[58] = head[59] = head[60] = static_cast<char>(0xFF); // index 0 black, index 1 white
    std::ofstream(name, std::ios::binary) << head << data;
}

} // namespace

int main(int argc, char** argv)
{
    launcher.Start();
    const std::string charts = argc > 1 && *argv[1] ? argv[1] : std::string(ZN_SOURCE_DIR) + "/tests/data/itu-charts";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    // Our files are put in place durably (synced with their folder), which a peer writing to its
    // standard output does not do: on a memory file system syncing costs nothing and both sides do
    // the same work. Give a folder on disk to see what syncing costs.
    const std::string work = argc > 3 ? argv[3] : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string znfax = ZN_ZNFAX_PATH;
    std::string tmpl = work + "/znfax-bench-XXXXXX";
    if (!mkdtemp(tmpl.data()))
        return 1;
    const std::string dir = tmpl;
    const auto chart = [&](int i) { return charts + "/itu" + std::to_string(i) + ".pbm"; };

    // Inputs, made once: each chart and the tall page as an uncompressed TIFF for znfax, as PBM for
    // pbmtog3, coded as a fax file for znfax, as raw MH for g3topbm and as a G3 TIFF for tiffcp.
    std::vector<std::string> names;
    for (int i = 1; i <= 8; ++i)
        names.push_back("c" + std::to_string(i));
    names.push_back("tall");
    std::vector<std::string> tallParts = {"pnmcat", "-tb"};
    for (int copy = 0; copy < 5; ++copy)
        for (int i = 1; i <= 8; ++i)
            tallParts.push_back(chart(i));
    Must({tallParts, dir + "/tall.pbm"});
    for (int i = 1; i <= 8; ++i)
        Must({{"cp", chart(i), dir + "/c" + std::to_string(i) + ".pbm"}, ""});
    for (const std::string& n : names) {
        const std::string p = dir + "/" + n;
        Must({{"pamtotiff", "-none", p + ".pbm"}, p + ".tif"});
        Must({{znfax, "convert", "--margin", "0", p + ".tif", p + ".apf"}, ""});
        Must({{"pbmtog3", "-reversebits", p + ".pbm"}, p + ".g3"});
        Must({{"tiffcp", "-c", "g3", p + ".tif", p + "-g3.tif"}, ""});
    }
    std::ofstream(dir + "/one.pbm", std::ios::binary) << std::string("P4\n8 1\n", 7) << std::string(1, '\0');
    Must({{"pamtotiff", "-none", dir + "/one.pbm"}, dir + "/one.tif"});
    Must({{znfax, "convert", "--margin", "0", dir + "/one.tif", dir + "/one.apf"}, ""});
    Must({{"pbmtog3", "-reversebits", dir + "/one.pbm"}, dir + "/one.g3"});
    Must({{"tiffcp", "-c", "g3", dir + "/one.tif", dir + "/one-g3.tif"}, ""});

    // The jobs: `pages` processes of one page each (the charts five times), or the tall page once.
    struct TWork {
        std::function<TJob(const std::string& in, const std::string& out)> job;
        std::string out; // extension of the output
    };
    const TWork zConvert{[&](const std::string& p, const std::string& o) {
                             return TJob{{znfax, "convert", "--margin", "0", p + ".tif", o}, ""};
                         },
                         "apf"};
    const TWork pbmtog3{[&](const std::string& p, const std::string& o) {
                            return TJob{{"pbmtog3", "-reversebits", p + ".pbm"}, o};
                        },
                        "g3"};
    const TWork zUnpackBmp{[&](const std::string& p, const std::string& o) {
                               return TJob{{znfax, "unpack", p + ".apf", o}, ""};
                           },
                           "bmp"};
    const TWork g3topbm{[&](const std::string& p, const std::string& o) {
                            return TJob{{"g3topbm", "-reversebits", p + ".g3"}, o};
                        },
                        "pbm"};
    const TWork zUnpackTif{[&](const std::string& p, const std::string& o) {
                               return TJob{{znfax, "unpack", p + ".apf", o}, ""};
                           },
                           "tif"};
    const TWork tiffcp{[&](const std::string& p, const std::string& o) {
                           return TJob{{"tiffcp", "-c", "none", p + "-g3.tif", o}, ""};
                       },
                       "tif"};
    const auto jobs = [&](const TWork& w, const std::vector<std::string>& inputs, const std::string& tag) {
        std::vector<TJob> v;
        for (const std::string& n : inputs)
            v.push_back(w.job(dir + "/" + n, dir + "/out-" + tag + "-" + n + "." + w.out));
        return v;
    };
    std::vector<std::string> pages;
    for (int copy = 0; copy < 5; ++copy)
        for (int i = 1; i <= 8; ++i)
            pages.push_back("c" + std::to_string(i));

    // What was produced must be the chart again: fax files and raw MH decoded by g3topbm, pictures
    // read back by netpbm's and libtiff's readers.
    const auto asPbm = [&](const std::string& out, const std::string& kind) {
        const std::string pbm = out + ".check.pbm";
        // Raw MH is decoded by libtiff's fax2tiff (g3topbm stops at 14,400 rows).
        if (kind == "apf" || kind == "g3") {
            std::string g3 = out;
            if (kind == "apf")
                Must({{znfax, "raw", out, g3 = out + ".g3"}, ""});
            Must({{"fax2tiff", "-1", "-L", "-o", out + ".check.tif", g3}, ""});
            Must({{"tifftopnm", out + ".check.tif"}, pbm});
        } else if (kind == "bmp") {
            Must({{"bmptopnm", out}, pbm});
        } else if (kind == "tif") {
            Must({{"tifftopnm", out}, pbm});
        } else {
            return ReadPbm(out);
        }
        return ReadPbm(pbm);
    };
    const auto checkAll = [&](const TWork& w, const std::vector<std::string>& inputs, const std::string& tag) {
        for (const std::string& n : inputs) {
            const std::string out = dir + "/out-" + tag + "-" + n + "." + w.out;
            if (!SamePicture(asPbm(out, w.out), ReadPbm(dir + "/" + n + ".pbm")))
                return out + " is not " + n;
        }
        return std::string();
    };
    std::vector<std::string> notes;

    std::printf("znfax against its peers, whole processes, files in %s; median of %d rounds, each side in turn\n",
                work.c_str(), rounds);
    std::printf("%-34s %9s %9s %7s %9s %9s %7s\n", "work (ms per process)", "znfax", "peer", "ratio", "znfax MB",
                "peer MB", "ratio");
    std::vector<TRow> rows;
    const std::vector<std::string> one = {"one"}, tall = {"tall"};
    rows.push_back(
        Compare("start-up: convert 8x1 / pbmtog3", jobs(zConvert, one, "z"), jobs(pbmtog3, one, "p"), rounds * 8));
    rows.push_back(
        Compare("start-up: unpack 8x1 / g3topbm", jobs(zUnpackBmp, one, "z"), jobs(g3topbm, one, "p"), rounds * 8));
    rows.push_back(
        Compare("start-up: unpack 8x1 / tiffcp", jobs(zUnpackTif, one, "z"), jobs(tiffcp, one, "p"), rounds * 8));
    struct TPair {
        const char* name;
        const TWork &ours, &peer;
    };
    for (const TPair& p :
         {TPair{"convert / pbmtog3", zConvert, pbmtog3}, TPair{"unpack bmp / g3topbm", zUnpackBmp, g3topbm},
          TPair{"unpack tif / tiffcp -c none", zUnpackTif, tiffcp}}) {
        rows.push_back(
            Compare(std::string(p.name) + ", 40 pages", jobs(p.ours, pages, "z"), jobs(p.peer, pages, "p"), rounds));
        Check(checkAll(p.ours, pages, "z").empty(), checkAll(p.ours, pages, "z"));
        Check(checkAll(p.peer, pages, "p").empty(), checkAll(p.peer, pages, "p"));
        rows.push_back(
            Compare(std::string(p.name) + ", tall page", jobs(p.ours, tall, "z"), jobs(p.peer, tall, "p"), rounds));
        Check(checkAll(p.ours, tall, "z").empty(), checkAll(p.ours, tall, "z"));
        // A peer that cannot hold the page is reported, not failed: its figure then is for less work.
        if (const std::string peer = checkAll(p.peer, tall, "p"); !peer.empty())
            notes.push_back(rows.back().work + ": the peer's output is wrong (" + peer + ")");
    }
    for (const TRow& r : rows)
        PrintRow(r);
    std::printf("(ratio: znfax / peer; above 1 znfax is slower or larger. Every output was decoded or read back\n"
                " and compared with its chart.)\n");
    for (const std::string& n : notes)
        std::printf("NOTE %s\n", n.c_str());
    std::printf("\n");

    // Peak memory on large and hostile pictures.
    WriteHostileBmp(dir + "/hostile.bmp");
    long tiffKb = 0, bmpKb = 0;
    const auto t0 = Clock::now();
    Check(Spawn({{znfax, "convert", "--margin", "0", dir + "/tall.tif", dir + "/big.apf"}, ""}, &tiffKb), "tall TIFF");
    const auto t1 = Clock::now();
    Check(Spawn({{znfax, "convert", "--margin", "0", dir + "/hostile.bmp", dir + "/hostile.apf"}, ""}, &bmpKb),
          "hostile BMP");
    const auto t2 = Clock::now();
    Check(SamePicture(asPbm(dir + "/big.apf", "apf"), ReadPbm(dir + "/tall.pbm")), "tall TIFF's fax file");
    Check(
        Spawn({{"sh", "-c", "'" + znfax + "' info '" + dir + "/hostile.apf' | grep -q 'rows 16384, width 1728'"}, ""}),
        "hostile BMP's fax file has its 16384 rows");
    std::printf("%-40s %10s %10s\n", "convert (one process)", "peak MB", "ms");
    std::printf("%-40s %10.1f %10.0f\n", "tall TIFF, 40 ITU charts (20.5 MB)", tiffKb / 1024.0,
                std::chrono::duration<double, std::milli>(t1 - t0).count());
    std::printf("%-40s %10.1f %10.0f\n", "RLE BMP 65535 x 16384 (8.4 MB)", bmpKb / 1024.0,
                std::chrono::duration<double, std::milli>(t2 - t1).count());
    Spawn({{"rm", "-rf", dir}, ""});
    return 0;
}
