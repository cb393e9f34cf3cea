#include "test_support.h"

#include <QApplication>

#include <dirent.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zn::foundation::test {

TempHome::TempHome()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zn-foundation-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (const char* home = std::getenv("ZN_HOME")) {
        hadHome_ = true;
        oldHome_ = home;
    }
    ::setenv("ZN_HOME", path_.c_str(), 1);
}

TempHome::~TempHome()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    if (hadHome_)
        ::setenv("ZN_HOME", oldHome_.c_str(), 1);
    else
        ::unsetenv("ZN_HOME");
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

int LockFilesOf(long pid)
{
    int n = 0;
    if (DIR* d = ::opendir("/var/lock")) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.rfind("LCK.", 0) == 0 && std::atol(ReadFile("/var/lock/" + name).c_str()) == pid)
                ++n;
        }
        ::closedir(d);
    }
    return n;
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "foundation_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        new QApplication(argc, argv); // lives until the test program ends
    }
}

} // namespace zn::foundation::test
