// Shared fixture pieces for the xBase engine tests: a scratch folder and small tables.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>

#include "platform/file_replacement.h"
#include "xbase_common.h"
#include "xbase_vd.h"

namespace zn::xbase::test {

class ScratchFolder {
public:
    ScratchFolder()
    {
        char pattern[] = "/tmp/xbase_test_XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~ScratchFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

struct FieldSpec {
    const char* name;
    const char* type;
    int width;
    int decimals;
};

inline bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields)
{
    int area = vd_CreateNew(path.c_str(), "XXXXXXXXXX", 2, static_cast<int>(fields.size()));
    if (!area)
        return false;
    for (const auto& f : fields)
        vd_CreateField(f.name, f.type, f.width, f.decimals);
    int written = vd_CreateExec();
    vd_Close();
    return written != 0;
}

// The phone book's layout: NAME C 35, PHONE C 25.
inline bool CreatePhoneBook(const std::string& path, const std::vector<std::pair<std::string, std::string>>& rows)
{
    if (!CreateTable(path, {{"NAME", "C", 35, 0}, {"PHONE", "C", 25, 0}}))
        return false;
    if (!vd_Use(path.c_str(), nullptr, 2, 2))
        return false;
    for (const auto& r : rows) {
        vd_AppendBlank();
        vd_Replace("NAME", 1024, r.first.c_str());
        vd_Replace("PHONE", 1024, r.second.c_str());
    }
    vd_Close();
    return true;
}

// Record numbers visited from the top to the end.
inline std::vector<long> Walk()
{
    std::vector<long> out;
    for (vd_GoTop(); !vd_Eof() && out.size() < 100000; vd_Skip(1))
        out.push_back(vd_RecNo());
    return out;
}

inline std::vector<long> WalkBack()
{
    std::vector<long> out;
    for (vd_GoBottom(); !vd_Bof() && !vd_Eof() && out.size() < 100000; vd_Skip(-1))
        out.push_back(vd_RecNo());
    return out;
}

inline std::string RunCommand(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int rc = pclose(p);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Names of the temporaries a replacement of `target` (a full path) left beside it.
inline std::vector<std::string> TemporariesOf(const std::string& target)
{
    size_t slash = target.find_last_of('/');
    std::string folder = target.substr(0, slash), name = target.substr(slash + 1) + ".";
    std::vector<std::string> found;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (platform::IsReplacementTemporary(e->d_name) && std::string(e->d_name).rfind(name, 0) == 0)
                found.push_back(e->d_name);
        closedir(d);
    }
    return found;
}

// Engine settings back to their defaults between tests.
inline void ResetEngine()
{
    vd_CloseAll();
    vd_SetDeleted(0);
    vd_SetExact(0);
    vd_SetSoftSeek(0);
    vd_SetCentury(0);
    vd_SetDateFormat(0);
    vd_SetLockTimeout(0);
    vd_SetGaugeHook(nullptr);
}

} // namespace zn::xbase::test
