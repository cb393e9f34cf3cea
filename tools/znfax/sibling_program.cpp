// Starting a sibling program of znfax (znfax-line, znfax-cover) in place of this process.
#include "tools/znfax/commands.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace zn::tools {

int RunSiblingProgram(const char* program, const char* command, const TArgs& args)
{
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        std::fprintf(stderr, "znfax: cannot find its own folder: %s\n", std::strerror(errno));
        return kExitFailed;
    }
    self[n] = 0;
    std::string path(self);
    path = path.substr(0, path.find_last_of('/') + 1) + program;
    std::vector<std::string> words{"znfax", command};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    std::fprintf(stderr, "znfax: cannot run %s: %s\n", path.c_str(), std::strerror(errno));
    return kExitFailed;
}

} // namespace zn::tools
