// Free names for new fax files. Every procedure fails (nullopt) rather than hand out the name of a
// file that exists: a stored fax must never be overwritten.
#pragma once
#include <functional>
#include <optional>
#include <string>

namespace zn::foundation {

// First free send folder + prefix + "00000".."99999" + ".APF" ("FAX" a new fax, "COV" its cover,
// "FWD" a forwarded fax).
std::optional<std::string> MakeUniqueSendFileName(const std::string& prefix);
// The same in the program folder ("Temp": a cover and document joined for viewing or printing).
std::optional<std::string> MakeUniqueProgramFileName(const std::string& prefix);
// folder + prefix + "0001".."9999" + ".APF", found with few probes on the assumption that the numbers
// are used from 1 upwards without gaps: steps of 500, 100, 25 and then 1.
std::optional<std::string> FindFreeFaxFileName(const std::string& prefix, const std::string& folder);
// The same searches over any test of "taken" (tests count the probes with it).
using NameTaken = std::function<bool(const std::string& path)>;
std::optional<std::string> FirstFreeNumberedName(const std::string& folder, const std::string& prefix,
                                                 const NameTaken& taken);
std::optional<std::string> FindFreeFaxFileName(const std::string& prefix, const std::string& folder,
                                               const NameTaken& taken);
// Received faxes: prefix "FAX", or today's "mmdd" when dated; when all 9999 numbers are taken,
// NONAME.APF or the first free NONAME1.APF, NONAME2.APF, ... A received fax always gets a new name.
std::string MakeReceivedFaxFileName(const std::string& folder, bool dated);

// A file name stored in a table row (FAXDOC, FAXCOVER, FAXFILE) stands for a file of the send or
// receive folder only when it is a plain name: not empty, no "/" or "\\", not "." or "..", no
// control characters. Rows come from other programs too: anything else must never be deleted,
// copied or opened as a fax file.
bool IsPlainFileName(const std::string& name);

// The path names an existing file that is not a folder.
bool IsExistingFile(const std::string& path);
// The name is in use, found without regard to letter case.
bool FileNameTaken(const std::string& path);

} // namespace zn::foundation
