// The program's folders, and case-insensitive file lookup inside them.
#pragma once
#include <string>
#include <vector>

namespace zn::platform {

// $ZN_HOME, else $XDG_DATA_HOME/tarvel, else ~/.local/share/tarvel. Ends without "/". Created when missing.
std::string ProgramFolder();
// $ZN_WINDIR, else $XDG_CONFIG_HOME/tarvel, else ~/.config/tarvel. Created when missing.
std::string WindowsFolder();

// Turns a path written the Windows way (any of "\" or "/", any letter case) into an existing path
// on this disk when one exists: each component is matched case-insensitively against its folder.
// When nothing matches, the spelling given is kept for the missing components (with "/" separators),
// so the result can be used to create the file. Paths outside the program's folders are resolved the
// same way; a drive prefix "C:" is dropped.
std::string ResolvePath(const std::string& path);

bool FileExistsCI(const std::string& path);
bool DeleteFileCI(const std::string& path);
// Names (not paths) in folder matching a DOS wildcard pattern ("*.jfd", "FAX?????.APF"), compared
// without regard to case, sorted by name.
std::vector<std::string> ListFolderCI(const std::string& folder, const std::string& pattern);
// Creates the folder (and parents) unless a folder of that name in any case exists; returns its path.
std::string EnsureFolderCI(const std::string& path);

} // namespace zn::platform
