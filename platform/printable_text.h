// Text that came from outside (a job file another program wrote, a modem's caller ID report) made
// fit to show and to store: only whole UTF-8 characters, no control or format characters (no
// escape sequences, no bells, no line ends, no direction marks), and no longer than its place.
#pragma once
#include <string>

namespace zn::platform {

// The printable characters of raw, at most maxChars of them (UTF-16 units, as the tables count
// them; a pair is never cut in two). Bytes that are not UTF-8 are left out.
std::string PrintableText(const std::string& raw, int maxChars);

} // namespace zn::platform
