// INI files with the semantics of the Windows private-profile calls (QSettings has others: it splits
// "AT&F,E0" and mangles backslashes). Use this class for ZN.INI and ZNPD.INI.
#pragma once
#include <string>
#include <vector>

namespace zn::platform {

// Sections and keys compare without regard to case; the first match wins (the first section of a
// name, then the first key of a name inside it). Values are trimmed and one pair of surrounding
// quotes (double or single) is removed; nothing else is interpreted, so "AT&F,E0" and
// "C:\Covers\a.fcs" come back as written. Lines starting with ";" are comments. Comments, blank
// lines and unknown sections are kept. A new key goes after the last key of its section (after
// its header when it has none), a new section (after a blank line) to the end of the file. Lines end in CR LF when
// written; LF or CR LF are read. Every access reads the file again; every write goes to a temporary
// file in the same folder that is then renamed over the file, so a reader never sees half a file;
// changes are serialised within the process and, through a lock on the folder, between processes.
// The path is resolved case-insensitively (ResolvePath) at each access.
class IniFile {
public:
    explicit IniFile(std::string path); // the file need not exist
    const std::string& Path() const { return path_; }

    // At most 1023 characters, as through a 1024-byte buffer. def loses its trailing blanks.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // Decimal with an optional sign, or hexadecimal after "0x"/"0X" (up to 0xFFFFFFFF, taken as
    // 32-bit); def when the key is missing or its value does not parse as a whole.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const; // "0" false, other integers true

    // Writes return false (errno set) when the file could not be written, or with EINVAL when a
    // name or value would break the file's lines (CR or LF anywhere, "=" or a leading "[" or ";" in
    // a key, "]" in a section name, an empty section or key).
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, int value);
    bool WriteBool(const std::string& section, const std::string& key, bool value); // "1" / "0"
    bool DeleteKey(const std::string& section, const std::string& key);             // true when it is gone
    bool EraseSection(const std::string& section);                                  // the section with its lines
    bool SectionExists(const std::string& section) const;                           // it has at least one key
    bool ValueExists(const std::string& section, const std::string& key) const;     // also with an empty value
    std::vector<std::string> ReadSection(const std::string& section) const;         // key names, in file order
    std::vector<std::string> ReadSections() const;                                  // section names, in file order

private:
    std::string path_;
};

} // namespace zn::platform
