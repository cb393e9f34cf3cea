// The program's folders, and case-insensitive file lookup inside them.
//
// The rest of the system was written for a disk that ignores letter case ("SEND", "Send\", "send";
// "*.jfd" against "FAXnnnnn.JFD"). Every open, exists, delete and folder scan goes through
// ResolvePath or the *CI calls below, so one spelling on disk serves every spelling in the code.
#pragma once
#include <string>
#include <vector>

namespace zn::platform {

// $ZN_HOME, else $XDG_DATA_HOME/tarvel, else ~/.local/share/tarvel. Ends without "/". Created when
// missing (an existing folder of the same name in another letter case is used instead).
std::string ProgramFolder();
// $ZN_WINDIR, else $XDG_CONFIG_HOME/tarvel, else ~/.config/tarvel. Created when missing.
std::string WindowsFolder();

// Turns a path written the Windows way (any of "\" or "/", any letter case) into an existing path
// on this disk when one exists: each component is matched case-insensitively against its folder
// (an exact match first; among several case variants, the first in byte order).
// When nothing matches, the spelling given is kept for the missing components (with "/" separators),
// so the result can be used to create the file. Paths outside the program's folders are resolved the
// same way; a drive prefix "C:" is dropped. A trailing separator is kept; "." and empty components
// are dropped.
std::string ResolvePath(const std::string& path);

// An existing entry that is not a folder.
bool FileExistsCI(const std::string& path);
bool DirectoryExistsCI(const std::string& path);
// False with errno set when it could not be deleted (ENOENT when there is no such file).
bool DeleteFileCI(const std::string& path);
// Names (not paths) in folder matching a DOS wildcard pattern ("*.jfd", "FAX?????.APF", "*.*"),
// compared without regard to case, sorted by name without regard to case. Files only, unless
// includeFolders (never "." and "..").
std::vector<std::string> ListFolderCI(const std::string& folder, const std::string& pattern,
                                      bool includeFolders = false);
// Creates the folder (and parents) unless a folder of that name in any case exists; returns its
// path, or an empty text (errno set) when it could not be created.
std::string EnsureFolderCI(const std::string& path);

// DOS wildcard match without regard to case: "*" any run of characters, "?" one character; "*.*"
// matches every name, with or without a dot.
bool WildcardMatchCI(const std::string& name, const std::string& pattern);

} // namespace zn::platform
