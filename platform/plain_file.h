// Opening an input file: only a plain file is read. A FIFO would block the open (and every read)
// until someone writes to it; a folder, device or socket is no document either.
// Plain C++ (no Qt), beside file_replacement.h.
#pragma once
#include <cstdio>
#include <string>

namespace zn::platform {

// A descriptor open for reading (close-on-exec, blocking reads), or -1 with errno set: EISDIR for
// anything that is not a plain file.
int OpenPlainFileForReading(const std::string& path);
// The same as a stdio stream ("rb"); nullptr with errno set.
std::FILE* OpenPlainFileStream(const std::string& path);

} // namespace zn::platform
