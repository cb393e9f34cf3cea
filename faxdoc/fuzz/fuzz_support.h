// Shared by the fuzz targets: the input as a file, and the checks every reader must pass.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// Output files are flushed to disk when put in place (platform/file_replacement.h); for the
// fuzzers, which look at what is read and written and not at what survives a power cut, that would
// only cost runs.
extern "C" int fsync(int) { return 0; }
extern "C" int fdatasync(int) { return 0; }

namespace zn::faxdoc::fuzz {

// Where the targets put their files: $TMPDIR (run_fuzzers.sh points it into the build folder and
// clears it), else /tmp.
inline std::string TempRoot()
{
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

// The fuzz input as a file the readers can open by name (a memory file, rewritten each run).
inline std::string InputFile(const uint8_t* data, size_t size, const char* extension)
{
    static int fd = memfd_create("fuzz-input", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        abort();
    // The readers add their default extension to names without one; a link with the extension
    // points at the memory file.
    static std::string dir = [] {
        std::string tmpl = TempRoot() + "/znfuzz-XXXXXX";
        if (!mkdtemp(tmpl.data()))
            abort();
        return tmpl;
    }();
    const std::string name = dir + "/input." + extension;
    static bool linked = false;
    if (!linked) {
        const std::string target = "/proc/self/fd/" + std::to_string(fd);
        unlink(name.c_str());
        if (symlink(target.c_str(), name.c_str()) != 0)
            abort();
        linked = true;
    }
    return name;
}

inline std::string OutputFile(const char* name)
{
    return TempRoot() + "/znfuzz-out-" + std::to_string(getpid()) + "-" + name;
}

// A failed conversion must leave no output file; a successful one leaves it, and it is removed here.
inline void CheckOutput(int rc, const std::string& out)
{
    const bool exists = access(out.c_str(), F_OK) == 0;
    if (rc < 0 && exists)
        abort();
    if (rc >= 0 && !exists)
        abort();
    unlink(out.c_str());
}

} // namespace zn::faxdoc::fuzz
