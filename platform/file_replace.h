// Replacing a file's contents as one step: the new data goes to a temporary file next to it, is
// flushed, and then takes the old file's place, so that a failed write (a full disk, a crash)
// leaves the old file as it was.
#pragma once

#include <string>

namespace zn::platform {

// Writes data to a temporary file next to path (the target of a symbolic link rather than the
// link), then renames it over path, keeping an existing file's mode. False with errno set when
// anything fails; the temporary file is removed then.
bool ReplaceFileAtomically(const std::string& path, const std::string& data);

} // namespace zn::platform
