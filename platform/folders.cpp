#include "folders.h"

#include <QDir>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zn::platform {
namespace {

QString Folded(const std::string& text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size())).toCaseFolded();
}

bool EqualCI(const std::string& a, const std::string& b) { return Folded(a) == Folded(b); }

bool LessCI(const std::string& a, const std::string& b)
{
    const int c = Folded(a).compare(Folded(b));
    return c != 0 ? c < 0 : a < b;
}

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool Exists(const std::string& path, struct stat* st = nullptr)
{
    struct stat local {};
    return lstat(path.c_str(), st ? st : &local) == 0;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// Names in folder, without "." and "..". Empty when the folder cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    DirHandle dir(opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir)
        return names;
    while (dirent* e = readdir(dir.get())) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    return names;
}

// The entry of folder that matches name case-insensitively; empty when none.
std::string MatchInFolder(const std::string& folder, const std::string& name)
{
    std::string best;
    for (const auto& entry : FolderEntries(folder)) {
        if (EqualCI(entry, name) && (best.empty() || entry < best))
            best = entry;
    }
    return best;
}

std::string EnvOrEmpty(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeFolder()
{
    std::string home = EnvOrEmpty("HOME");
    if (home.empty()) {
        if (const passwd* pw = getpwuid(getuid()))
            home = pw->pw_dir;
    }
    return home;
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// $override, else $xdgVar/tarvel, else ~/fallback/tarvel; created when missing.
std::string ConfiguredFolder(const char* override, const char* xdgVar, const char* fallback)
{
    std::string folder = EnvOrEmpty(override);
    if (folder.empty()) {
        std::string base = EnvOrEmpty(xdgVar);
        if (base.empty() || base.front() != '/') // XDG: relative values are to be ignored
            base = HomeFolder() + "/" + fallback;
        folder = base + "/tarvel";
    }
    // A relative folder is taken from where the program starts: the printer driver and the
    // programs started later must find the same folder from wherever they run.
    if (folder.front() != '/') {
        char here[4096];
        if (::getcwd(here, sizeof here))
            folder = std::string(here) + "/" + folder;
    }
    folder = WithoutTrailingSlash(folder);
    const std::string made = EnsureFolderCI(folder);
    return made.empty() ? folder : WithoutTrailingSlash(made);
}

} // namespace

std::string ProgramFolder() { return ConfiguredFolder("ZN_HOME", "XDG_DATA_HOME", ".local/share"); }

std::string WindowsFolder() { return ConfiguredFolder("ZN_WINDIR", "XDG_CONFIG_HOME", ".config"); }

std::string ResolvePath(const std::string& path)
{
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0])))
        p.erase(0, 2);
    if (p.empty())
        return p;
    const bool absolute = p.front() == '/';
    const bool trailing = p.size() > 1 && p.back() == '/';

    std::string result = absolute ? "/" : "";
    bool missing = false; // once a component is missing, nothing below it can exist
    size_t pos = 0;
    while (pos <= p.size()) {
        size_t end = p.find('/', pos);
        if (end == std::string::npos)
            end = p.size();
        std::string part = p.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (!missing && part != ".." && !Exists(Join(result, part))) {
            std::string match = MatchInFolder(result, part);
            if (match.empty())
                missing = true;
            else
                part = match;
        }
        result = Join(result, part);
    }
    if (trailing && result.back() != '/')
        result += '/';
    return result.empty() ? "." : result;
}

bool FileExistsCI(const std::string& path)
{
    struct stat st {};
    return stat(ResolvePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExistsCI(const std::string& path)
{
    struct stat st {};
    return stat(ResolvePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFileCI(const std::string& path) { return unlink(ResolvePath(path).c_str()) == 0; }

bool WildcardMatchCI(const std::string& name, const std::string& pattern)
{
    if (pattern == "*.*" || pattern == "*")
        return true;
    const QString n = Folded(name);
    const QString p = Folded(pattern);
    // Iterative match with back-tracking to the last "*".
    qsizetype ni = 0, pi = 0, starP = -1, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == u'?' || p[pi] == n[ni])) {
            ++ni;
            ++pi;
        } else if (pi < p.size() && p[pi] == u'*') {
            starP = pi++;
            starN = ni;
        } else if (starP >= 0) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == u'*')
        ++pi;
    return pi == p.size();
}

std::vector<std::string> ListFolderCI(const std::string& folder, const std::string& pattern, bool includeFolders)
{
    const std::string dir = ResolvePath(folder);
    std::vector<std::string> names;
    for (auto& name : FolderEntries(dir)) {
        if (!WildcardMatchCI(name, pattern))
            continue;
        struct stat st {};
        if (stat(Join(dir, name).c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode) && !includeFolders)
            continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), LessCI);
    return names;
}

std::string EnsureFolderCI(const std::string& path)
{
    std::string resolved = ResolvePath(path);
    struct stat st {};
    if (stat(resolved.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return resolved;
        errno = ENOTDIR;
        return {};
    }
    errno = 0;
    if (!QDir().mkpath(QString::fromStdString(resolved))) {
        if (errno == 0)
            errno = EACCES;
        return {};
    }
    return resolved;
}

} // namespace zn::platform
