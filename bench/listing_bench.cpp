// Benchmark: listing every row of ZNOUT in an order, and the rows a filter lets through, as a user
// of a table shared with another program does: `xbtool list` (the table opened shared, so that every
// step checks what other processes changed) against the sqlite3 shell over the same rows.
//   listing_bench [rows] [folder] [runs]
// The rows are those of xbase_bench (run first when the folder lacks them). Each command is a
// whole process, run in turn (A B A B ...), its output read through a pipe; medians and the ratio
// of each pair. Both sides' outputs are checked to list the same records in the same order.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double seconds = 0;
    std::vector<std::string> keys; // record number and subject of each row listed, in order
};

// Runs argv with its output read here; keeps the first two '|'-separated fields of every line.
Run RunListing(const std::vector<std::string>& args, bool keep)
{
    int fd[2];
    if (pipe(fd) != 0)
        std::exit(1);
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fd[1], 1);
        close(fd[0]);
        close(fd[1]);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fd[1]);
    Run run;
    std::string line;
    char buffer[65536];
    for (ssize_t n; (n = read(fd[0], buffer, sizeof buffer)) > 0;) {
        if (!keep)
            continue;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n') {
                line += buffer[i];
                continue;
            }
            // xbtool: "recno flag|subject|..."; sqlite3: "rowid|subject|..."
            const size_t bar = line.find('|');
            const size_t next = line.find('|', bar + 1);
            std::string recno = line.substr(0, std::min(line.find(' '), bar));
            run.keys.push_back(recno + "|" + line.substr(bar + 1, next - bar - 1));
            line.clear();
        }
    }
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", args[0].c_str());
        std::exit(1);
    }
    return run;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const std::string rows = argc > 1 ? argv[1] : "857143";
    const std::string folder = argc > 2 ? argv[2] : "/tmp/zn-listing-bench";
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    if (std::system("command -v sqlite3 >/dev/null") != 0) {
        std::fprintf(stderr, "listing_bench: the sqlite3 shell is not installed\n");
        return 1;
    }
    const std::string table = folder + "/ZNOUT.DBF", database = folder + "/znout.sqlite";
    if (access(table.c_str(), R_OK) != 0 || access(database.c_str(), R_OK) != 0) {
        const std::string make = std::string("'") + XBASE_BENCH_PATH + "' " + rows + " '" + folder + "' >/dev/null";
        if (std::system(make.c_str()) != 0)
            return 1;
    }
    struct Case {
        const char* name;
        std::vector<std::string> ours, peer;
    };
    const Case cases[] = {
        {"every row in subject order",
         {XBTOOL_PATH, "list", table, "--tag", "SUBJECT"},
         {"sqlite3", database, "SELECT rowid, * FROM znout ORDER BY upper(subject)"}},
        {"rows not archived, subject order",
         {XBTOOL_PATH, "list", table, "--tag", "SUBJECT", "--filter", ".not. archived"},
         {"sqlite3", database, "SELECT rowid, * FROM znout WHERE NOT archived ORDER BY upper(subject)"}},
    };
    std::printf("Listing ZNOUT (%s rows, opened shared) to a pipe, whole processes, median of %d runs in turn\n\n",
                rows.c_str(), runs);
    std::printf("| listing | xbtool list (s) | sqlite3 shell (s) | ratio |\n|---|---:|---:|---:|\n");
    int status = 0;
    for (const Case& c : cases) {
        const Run a = RunListing(c.ours, true), b = RunListing(c.peer, true); // warm-up, and the check
        if (a.keys != b.keys || a.keys.empty()) {
            std::fprintf(stderr, "%s: the two listings differ (%zu and %zu rows)\n", c.name, a.keys.size(),
                         b.keys.size());
            status = 1;
        }
        std::vector<double> ours, peer, ratios;
        for (int r = 0; r < runs; ++r) {
            ours.push_back(RunListing(c.ours, false).seconds);
            peer.push_back(RunListing(c.peer, false).seconds);
            ratios.push_back(ours.back() / peer.back());
        }
        std::printf("| %s | %.3f | %.3f | %.2f |\n", c.name, Median(ours), Median(peer), Median(ratios));
    }
    if (!status)
        std::printf("\nboth sides list the same records in the same order: ok\n");
    return status;
}
