// File-name extensions as the converter and unpacker handle them. The engines keep these three
// small helpers of their own so that the command-line tools need nothing of the library's
// case-insensitive file lookup (and its toolkit) at start.
#pragma once

#include <string>

namespace zn::faxdoc {

// True when the last component of `name` has an extension (a dot not at its start).
bool HasExtension(const std::string& name);
// `name` with its extension replaced by (or, without one, extended with) `ext` (no dot).
std::string ForceExtension(const std::string& name, const std::string& ext);
// `name` unchanged when it has an extension, else with `ext` added.
std::string DefaultExtension(const std::string& name, const std::string& ext);

} // namespace zn::faxdoc
