// Comparing and joining fax image files (.APF).
#pragma once
#include <string>

namespace zn::foundation {

// Whether the first pages of both files have the same resolution (flag bit 0 of the page header).
// Throws the comms library's exception for a missing or unreadable file, a file that is not a fax
// file and a file without pages.
bool SameFaxResolution(const std::string& fileA, const std::string& fileB);

// Writes destination = every page of A followed by every page of B. The pages are found by walking
// each file's page headers from its own page-1 offset; the result has page 1 at offset 64 and the
// summed page count. False when A or B is missing or is the destination itself (nothing is created
// or changed); false too when A or B is not a fax file or is cut short, when the pages would exceed
// 65535 or when writing fails: the destination then holds what was written so far (A's pages when
// B is bad). The destination is written beside its name and put in place, on disk, by
// platform/file_replacement.h: a link planted under its name is replaced, never followed.
bool ConcatFaxFiles(const std::string& destination, const std::string& fileA, const std::string& fileB);

} // namespace zn::foundation
