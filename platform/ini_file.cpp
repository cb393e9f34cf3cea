#include "ini_file.h"

#include "file_replacement.h"
#include "folders.h"

#include <QString>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zn::platform {
namespace {

constexpr size_t kMaxValue = 1023; // what a 1024-byte buffer holds
const std::string kBom = "\xEF\xBB\xBF";

// One read-modify-write at a time within the process.
std::mutex& WriteMutex()
{
    static std::mutex m;
    return m;
}

// One read-modify-write at a time across processes (zn and znptf share ZNPD.INI): an exclusive
// flock on the file's folder, which, unlike the file, is not replaced by the write.
class FolderLock {
public:
    explicit FolderLock(const std::string& path)
    {
        const auto slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ >= 0) {
            while (flock(fd_, LOCK_EX) < 0 && errno == EINTR) {}
        }
    }
    ~FolderLock()
    {
        if (fd_ >= 0)
            close(fd_); // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_ = -1;
};

// Both locks, for the span of one change.
struct WriteLock {
    explicit WriteLock(const std::string& path) : local(WriteMutex()), shared(path) {}
    std::lock_guard<std::mutex> local;
    FolderLock shared;
};

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool EqualCI(const std::string& a, const std::string& b)
{
    return QString::compare(QString::fromUtf8(a.data(), qsizetype(a.size())),
                            QString::fromUtf8(b.data(), qsizetype(b.size())), Qt::CaseInsensitive)
           == 0;
}

struct Line {
    enum Kind { Other, Section, Key } kind = Other;
    std::string text;  // as in the file, without its line end
    std::string name;  // section or key name, trimmed
    std::string value; // trimmed, quotes not yet removed
};

Line ParseLine(std::string text)
{
    Line line;
    const std::string t = Trim(text);
    if (!t.empty() && t.front() == '[') {
        line.kind = Line::Section;
        const auto close = t.find(']');
        line.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else if (!t.empty() && t.front() != ';') {
        const auto eq = t.find('=');
        if (eq != std::string::npos) {
            line.kind = Line::Key;
            line.name = Trim(t.substr(0, eq));
            line.value = Trim(t.substr(eq + 1));
        }
    }
    line.text = std::move(text);
    return line;
}

class Document {
public:
    std::vector<Line> lines;

    // Missing file: empty document. Unreadable file: nullopt (errno set).
    static std::optional<Document> Load(const std::string& path)
    {
        Document doc;
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) {
            if (errno == ENOENT || errno == ENOTDIR)
                return doc;
            return std::nullopt;
        }
        std::string data;
        char buffer[8192];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            data.append(buffer, n);
        const bool failed = std::ferror(f);
        std::fclose(f);
        if (failed) {
            errno = EIO;
            return std::nullopt;
        }
        size_t pos = 0;
        while (pos < data.size()) {
            size_t end = data.find('\n', pos);
            if (end == std::string::npos)
                end = data.size();
            std::string text = data.substr(pos, end - pos);
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
            // A UTF-8 byte-order mark (from some editors) is kept but does not hide the first line.
            Line line = ParseLine(pos == 0 && text.rfind(kBom, 0) == 0 ? text.substr(kBom.size()) : text);
            line.text = std::move(text);
            doc.lines.push_back(std::move(line));
            pos = end + 1;
        }
        return doc;
    }

    // Index of the first section header of that name, or -1.
    long FindSection(const std::string& section) const
    {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].kind == Line::Section && EqualCI(lines[i].name, section))
                return long(i);
        }
        return -1;
    }

    // One past the last line of the section whose header is at index header.
    size_t SectionEnd(long header) const
    {
        size_t i = size_t(header) + 1;
        while (i < lines.size() && lines[i].kind != Line::Section)
            ++i;
        return i;
    }

    // Index of the first key of that name in the section, or -1.
    long FindKey(const std::string& section, const std::string& key) const
    {
        const long header = FindSection(section);
        if (header < 0)
            return -1;
        for (size_t i = size_t(header) + 1, end = SectionEnd(header); i < end; ++i) {
            if (lines[i].kind == Line::Key && EqualCI(lines[i].name, key))
                return long(i);
        }
        return -1;
    }

    std::string Serialize() const
    {
        std::string out;
        for (const auto& line : lines) {
            out += line.text;
            out += "\r\n";
        }
        return out;
    }
};

// The file a write replaces: the target of a symbolic link rather than the link.
std::string WriteTarget(const std::string& path)
{
    char real[PATH_MAX];
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && realpath(path.c_str(), real))
        return real;
    return path;
}

// Writes data to a new file next to path and puts it in place (platform/file_replacement.h).
bool ReplaceFileAtomically(const std::string& path, const std::string& data)
{
    FileReplacement out(WriteTarget(path));
    if (int error = out.Open(); error != 0) {
        errno = error;
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(out.Descriptor(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            out.Discard();
            errno = error;
            return false;
        }
        done += size_t(n);
    }
    if (int error = out.Commit(); error != 0) {
        errno = error;
        return false;
    }
    return true;
}

bool ValidName(const std::string& name)
{
    return !Trim(name).empty() && name.find_first_of("\r\n") == std::string::npos;
}

bool ValidEntry(const std::string& section, const std::string& key, const std::string* value)
{
    if (!ValidName(section) || section.find(']') != std::string::npos)
        return false;
    if (!key.empty()) {
        const std::string k = Trim(key);
        if (!ValidName(key) || k.find('=') != std::string::npos || k.front() == '[' || k.front() == ';')
            return false;
    }
    return !value || value->find_first_of("\r\n") == std::string::npos;
}

std::string Unquote(const std::string& value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Parses the whole text as an integer the way the settings file is read; nullopt when it doesn't.
std::optional<int> ParseInteger(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (!std::isxdigit(static_cast<unsigned char>(text[2])))
            return std::nullopt;
        const unsigned long long v = std::strtoull(begin + 2, &end, 16);
        if (*end || errno == ERANGE || v > 0xFFFFFFFFull)
            return std::nullopt;
        return int(int32_t(uint32_t(v)));
    }
    const char* digits = begin + ((text[0] == '-' || text[0] == '+') ? 1 : 0);
    if (!std::isdigit(static_cast<unsigned char>(*digits)))
        return std::nullopt;
    const long long v = std::strtoll(begin, &end, 10);
    if (*end || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return std::nullopt;
    return int(v);
}

// The value of the key as read through a 1024-byte buffer; nullopt when the key is missing.
std::optional<std::string> Lookup(const std::string& path, const std::string& section, const std::string& key)
{
    const auto doc = Document::Load(ResolvePath(path));
    const long i = doc ? doc->FindKey(section, key) : -1;
    if (i < 0)
        return std::nullopt;
    return Unquote(doc->lines[size_t(i)].value).substr(0, kMaxValue);
}

} // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const
{
    if (auto value = Lookup(path_, section, key))
        return *value;
    return def.substr(0, def.find_last_not_of(' ') + 1).substr(0, kMaxValue);
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const
{
    const auto value = Lookup(path_, section, key);
    return value ? ParseInteger(*value).value_or(def) : def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    if (!ValidEntry(section, key, &value) || key.empty()) {
        errno = EINVAL;
        return false;
    }
    const std::string path = ResolvePath(path_);
    WriteLock lock(path);
    auto doc = Document::Load(path);
    if (!doc)
        return false;
    const long keyIndex = doc->FindKey(section, key);
    if (keyIndex >= 0) {
        Line& line = doc->lines[size_t(keyIndex)];
        const std::string text = line.name + "=" + value;
        if (line.text == text)
            return true;
        line = ParseLine(text);
    } else {
        const long header = doc->FindSection(section);
        if (header < 0) {
            if (!doc->lines.empty() && !Trim(doc->lines.back().text).empty())
                doc->lines.push_back(ParseLine(""));
            doc->lines.push_back(ParseLine("[" + Trim(section) + "]"));
            doc->lines.push_back(ParseLine(Trim(key) + "=" + value));
        } else {
            // After the section's last key: blank lines and comments before the next header
            // belong to that header.
            size_t at = doc->SectionEnd(header);
            while (at > size_t(header) + 1 && doc->lines[at - 1].kind != Line::Key)
                --at;
            doc->lines.insert(doc->lines.begin() + long(at), ParseLine(Trim(key) + "=" + value));
        }
    }
    return ReplaceFileAtomically(path, doc->Serialize());
}

bool IniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

bool IniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    return WriteString(section, key, value ? "1" : "0");
}

bool IniFile::DeleteKey(const std::string& section, const std::string& key)
{
    const std::string path = ResolvePath(path_);
    WriteLock lock(path);
    auto doc = Document::Load(path);
    if (!doc)
        return false;
    const long i = doc->FindKey(section, key);
    if (i < 0)
        return true;
    doc->lines.erase(doc->lines.begin() + i);
    return ReplaceFileAtomically(path, doc->Serialize());
}

bool IniFile::EraseSection(const std::string& section)
{
    const std::string path = ResolvePath(path_);
    WriteLock lock(path);
    auto doc = Document::Load(path);
    if (!doc)
        return false;
    const long header = doc->FindSection(section);
    if (header < 0)
        return true;
    doc->lines.erase(doc->lines.begin() + header, doc->lines.begin() + long(doc->SectionEnd(header)));
    return ReplaceFileAtomically(path, doc->Serialize());
}

bool IniFile::SectionExists(const std::string& section) const { return !ReadSection(section).empty(); }

bool IniFile::ValueExists(const std::string& section, const std::string& key) const
{
    const auto doc = Document::Load(ResolvePath(path_));
    return doc && doc->FindKey(section, key) >= 0;
}

std::vector<std::string> IniFile::ReadSection(const std::string& section) const
{
    std::vector<std::string> keys;
    const auto doc = Document::Load(ResolvePath(path_));
    const long header = doc ? doc->FindSection(section) : -1;
    if (header < 0)
        return keys;
    for (size_t i = size_t(header) + 1, end = doc->SectionEnd(header); i < end; ++i) {
        if (doc->lines[i].kind == Line::Key)
            keys.push_back(doc->lines[i].name);
    }
    return keys;
}

std::vector<std::string> IniFile::ReadSections() const
{
    std::vector<std::string> names;
    const auto doc = Document::Load(ResolvePath(path_));
    if (!doc)
        return names;
    for (const auto& line : doc->lines) {
        if (line.kind != Line::Section)
            continue;
        bool seen = false;
        for (const auto& name : names)
            seen = seen || EqualCI(name, line.name);
        if (!seen)
            names.push_back(line.name);
    }
    return names;
}

} // namespace zn::platform
