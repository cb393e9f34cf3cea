// Joining fax image files (.APF) into one.
#pragma once
#include <string>
#include <vector>

namespace zn::faxdoc {

// Writes target = every page of every file, in order. The pages are found by walking each file's
// page headers from its own page-1 offset (bytes after the last page are left out); the result has
// the first file's header with page 1 at offset 64 and the summed page count. Returns 0;
// ecFaxBadFormat when a file is not a fax file, is cut short or the pages would exceed 65535;
// ecBadArgument for an empty list; or the negated I/O code. The target is written beside itself
// and put in place through the file replacement helper (a link there is replaced, not followed).
// On failure the target holds what was written so far, under a header that counts the pages of
// the first file (exactly the first file when a later one is bad).
int JoinApfFiles(const std::vector<std::string>& files, const std::string& target);

} // namespace zn::faxdoc
