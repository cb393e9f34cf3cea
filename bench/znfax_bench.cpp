// Whole processes: `znfax convert` and `znfax unpack` against netpbm's pbmtog3 and g3topbm, one
// process per page for both, over 40 pages (the eight ITU charts five times).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs a program (with standard output to `out` when given) and waits for it; false on failure.
bool Spawn(const std::vector<std::string>& args, const std::string& out = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!out.empty())
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double TimeMs(const std::vector<std::pair<std::vector<std::string>, std::string>>& jobs) {
  const auto t0 = Clock::now();
  for (const auto& [args, out] : jobs)
    if (!Spawn(args, out)) {
      std::fprintf(stderr, "failed: %s\n", args[0].c_str());
      std::exit(1);
    }
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
  const std::string charts = argc > 1 ? argv[1] : std::string(ZN_SOURCE_DIR) + "/tests/data/itu-charts";
  const std::string znfax = ZN_ZNFAX_PATH;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  char tmpl[] = "/tmp/znfax-bench-XXXXXX";
  const std::string dir = mkdtemp(tmpl);

  // Inputs, made once: an uncompressed TIFF of each chart for znfax, the PBM for pbmtog3, and each
  // coded page in both forms for the unpackers.
  for (int i = 1; i <= 8; ++i) {
    const std::string n = std::to_string(i);
    const std::string pbm = charts + "/itu" + n + ".pbm";
    if (!Spawn({"pamtotiff", "-none", pbm}, dir + "/c" + n + ".tif") ||
        !Spawn({znfax, "convert", "--margin", "0", dir + "/c" + n + ".tif", dir + "/c" + n + ".apf"}) ||
        !Spawn({"pbmtog3", "-reversebits", pbm}, dir + "/c" + n + ".g3")) {
      std::fprintf(stderr, "could not prepare chart %d (netpbm and znfax needed)\n", i);
      Spawn({"rm", "-rf", dir});
      return 1;
    }
  }
  std::vector<std::pair<std::vector<std::string>, std::string>> znConvert, pbmtog3, znUnpack, g3topbm;
  for (int copy = 0; copy < 5; ++copy)
    for (int i = 1; i <= 8; ++i) {
      const std::string n = std::to_string(i), page = dir + "/c" + n, out = dir + "/out";
      znConvert.push_back({{znfax, "convert", "--margin", "0", page + ".tif", out + ".apf"}, ""});
      pbmtog3.push_back({{"pbmtog3", "-reversebits", charts + "/itu" + n + ".pbm"}, out + ".g3"});
      znUnpack.push_back({{znfax, "unpack", page + ".apf", out + ".bmp"}, ""});
      g3topbm.push_back({{"g3topbm", "-reversebits", page + ".g3"}, out + ".pbm"});
    }

  double zc = 1e100, pc = 1e100, zu = 1e100, gu = 1e100;
  for (int r = 0; r < rounds; ++r) {
    zc = std::min(zc, TimeMs(znConvert));
    pc = std::min(pc, TimeMs(pbmtog3));
    zu = std::min(zu, TimeMs(znUnpack));
    gu = std::min(gu, TimeMs(g3topbm));
  }
  Spawn({"rm", "-rf", dir});
  const double pages = static_cast<double>(znConvert.size());
  std::printf("One process per page, %.0f pages (ms per page, best of %d rounds)\n", pages, rounds);
  std::printf("%-22s %10s %10s %14s\n", "work", "znfax", "netpbm", "netpbm/znfax");
  std::printf("%-22s %10.2f %10.2f %14.2f\n", "convert / pbmtog3", zc / pages, pc / pages, pc / zc);
  std::printf("%-22s %10.2f %10.2f %14.2f\n", "unpack / g3topbm", zu / pages, gu / pages, gu / zu);
  return 0;
}
