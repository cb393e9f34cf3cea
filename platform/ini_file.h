// INI files with the semantics of the Windows private-profile calls (QSettings has others: it splits
// "AT&F,E0" and mangles backslashes).
#pragma once
#include <string>
#include <vector>

namespace zn::platform {

// Sections and keys compare without regard to case; the first match wins. Values are trimmed and one
// pair of surrounding quotes is removed. Comments, blank lines and unknown sections are kept. A new
// key goes to the end of its section, a new section to the end of the file. Lines end in CR LF when
// written; LF or CR LF are read. Every write goes to a temporary file that is then renamed.
class IniFile {
public:
    explicit IniFile(std::string path); // the file need not exist
    const std::string& Path() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // Windows' integer rule: leading decimal digits (optionally signed), or "0x" hex; def when none.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const; // "0" false, other integers true
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, int value);
    bool WriteBool(const std::string& section, const std::string& key, bool value); // "1" / "0"
    bool DeleteKey(const std::string& section, const std::string& key);
    bool EraseSection(const std::string& section);
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    std::vector<std::string> ReadSection(const std::string& section) const; // key names
    std::vector<std::string> ReadSections() const;

private:
    std::string path_;
};

} // namespace zn::platform
