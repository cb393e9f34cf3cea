// A fresh folder under the system's temporary folder, removed with everything in it.
#pragma once
#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <string>

namespace zn::platform::testing {

class TempFolder {
public:
    std::string Path() const { return dir_.path().toStdString(); }
    std::string operator/(const std::string& name) const { return Path() + "/" + name; }

    void MakeFolder(const std::string& name) const { QDir().mkpath(QString::fromStdString(*this / name)); }
    void WriteFile(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(*this / name, std::ios::binary) << bytes;
    }
    std::string ReadFile(const std::string& name) const
    {
        std::ifstream in(*this / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    QTemporaryDir dir_;
};

} // namespace zn::platform::testing
