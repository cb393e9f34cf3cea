// A private program folder per test and the offscreen application object the form tests need.
#pragma once
#include <string>

namespace zn::foundation::test {

// Makes a fresh temporary folder the program folder ($ZN_HOME) and removes it again.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;
    const std::string& Path() const { return path_; } // without a trailing "/"

private:
    std::string path_;
    std::string oldHome_;
    bool hadHome_ = false;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
void EnsureApplication(); // one QApplication for the whole test program
// The UUCP lock files in /var/lock (by name and by device number) that name process pid as their owner.
int LockFilesOf(long pid);

} // namespace zn::foundation::test
