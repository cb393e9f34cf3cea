// Benchmark: listing every row of ZNOUT in an order, the rows a filter lets through, and every row
// in record order, as a user of a table shared with another program does: `xbtool list` (the table
// opened shared, so that every step sees what other processes changed) against the sqlite3 shell
// over the same rows.
//   listing_bench [rows] [folder] [runs]
// Four tables, each made by xbase_bench in a folder of its own (run first when the folder lacks
// it): random subjects, subjects rising with the record number, 15 subjects repeated over all rows,
// and a fax log's mix (dates in the order of the records, recurring and one-off subjects). Each
// command is a whole process, run in turn (A B A B ...), its output read through a pipe; medians
// and the ratio of each pair. Both sides' outputs are checked to list the same records with their
// keys in the same order (rows of equal keys may come in either order).
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
    std::vector<std::string> keys; // the order's key of each row listed, in order
    std::vector<std::string> rows; // record number and subject of each row listed
};

// Which fields make a listing's key, counted after the record number: 1 the subject (upper-cased),
// 2 and 3 the date and time sent; none: the record number.
struct Key {
    std::vector<int> fields;
    bool upper = false;
};

std::string KeyOf(const std::string& recno, const std::vector<std::string>& fields, const Key& key)
{
    if (key.fields.empty())
        return recno;
    std::string k;
    for (int f : key.fields)
        k += (f < static_cast<int>(fields.size()) ? fields[f] : std::string()) + "|";
    if (key.upper)
        for (char& c : k)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return k;
}

// Runs argv with its output read here; keeps every line's key and its record number and subject.
Run RunListing(const std::vector<std::string>& args, const Key* keep)
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
            std::vector<std::string> fields;
            for (size_t at = 0;;) {
                const size_t bar = line.find('|', at);
                fields.push_back(line.substr(at, bar - at));
                if (bar == std::string::npos)
                    break;
                at = bar + 1;
            }
            const std::string recno = fields[0].substr(0, fields[0].find(' '));
            run.keys.push_back(KeyOf(recno, fields, *keep));
            run.rows.push_back(recno + "|" + (fields.size() > 1 ? fields[1] : std::string()));
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
    struct Case {
        const char* name;
        std::vector<std::string> ours; // after "xbtool list TABLE"
        std::string peer;              // the statement
        Key key;
    };
    const Case cases[] = {
        {"subject order", {"--tag", "SUBJECT"}, "SELECT rowid, * FROM znout ORDER BY upper(subject)", {{1}, true}},
        {"newest first", {"--tag", "DATESENT"}, "SELECT rowid, * FROM znout ORDER BY datesent DESC, timesent DESC",
         {{2, 3}, false}},
        {"not archived, subject order",
         {"--tag", "SUBJECT", "--filter", ".not. archived"},
         "SELECT rowid, * FROM znout WHERE NOT archived ORDER BY upper(subject)",
         {{1}, true}},
        {"record order", {}, "SELECT rowid, * FROM znout", {}},
    };
    const char* tables[][2] = {{"random", "random subjects"},
                               {"ordered", "subjects in record order"},
                               {"repeated", "15 subjects repeated"},
                               {"mixed", "a fax log's dates and subjects"}};
    std::printf("Listing ZNOUT (%s rows, opened shared) to a pipe, whole processes, median of %d runs in turn\n\n",
                rows.c_str(), runs);
    std::printf("| table | listing | xbtool list (s) | sqlite3 shell (s) | ratio |\n|---|---|---:|---:|---:|\n");
    int status = 0;
    double worst = 0;
    for (const auto& [kind, title] : tables) {
        const std::string dir = folder + "/" + kind;
        const std::string table = dir + "/ZNOUT.DBF", database = dir + "/znout.sqlite";
        if (access(table.c_str(), R_OK) != 0 || access(database.c_str(), R_OK) != 0) {
            const std::string make =
                std::string("'") + XBASE_BENCH_PATH + "' " + rows + " '" + dir + "' both " + kind + " >/dev/null";
            if (std::system(make.c_str()) != 0)
                return 1;
        }
        for (const Case& c : cases) {
            std::vector<std::string> ours = {XBTOOL_PATH, "list", table};
            ours.insert(ours.end(), c.ours.begin(), c.ours.end());
            const std::vector<std::string> peer = {"sqlite3", database, c.peer};
            // A warm-up, and the check: the same keys in the same order, the same rows.
            Run a = RunListing(ours, &c.key), b = RunListing(peer, &c.key);
            std::sort(a.rows.begin(), a.rows.end());
            std::sort(b.rows.begin(), b.rows.end());
            if (a.keys != b.keys || a.rows != b.rows || a.rows.empty()) {
                std::fprintf(stderr, "%s, %s: the two listings differ (%zu and %zu rows)\n", title, c.name,
                             a.rows.size(), b.rows.size());
                status = 1;
            }
            std::vector<double> ourTimes, peerTimes, ratios;
            for (int r = 0; r < runs; ++r) {
                ourTimes.push_back(RunListing(ours, nullptr).seconds);
                peerTimes.push_back(RunListing(peer, nullptr).seconds);
                ratios.push_back(ourTimes.back() / peerTimes.back());
            }
            worst = std::max(worst, Median(ratios));
            std::printf("| %s | %s | %.3f | %.3f | %.2f |\n", title, c.name, Median(ourTimes), Median(peerTimes),
                        Median(ratios));
            std::fflush(stdout);
        }
    }
    std::printf("\nhighest ratio %.2f\n", worst);
    if (!status)
        std::printf("both sides list the same records with their keys in the same order: ok\n");
    return status;
}
