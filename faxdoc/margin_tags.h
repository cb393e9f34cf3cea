// The tags of a printed page's header and footer line: "$D" date, "$F" file name, "$N" page count,
// "$P" page number, "$T" time (letters in either case).
#pragma once

#include <string>

namespace zn::faxdoc {

struct TMarginTagValues {
    std::string date;
    std::string fileName;
    std::string time;
    int totalPages = 0;
    int page = 0;
};

// A tag runs from "$" to the next blank or the end of the text, so in "$D$T" the first tag takes
// the second with it; a tag of any other letter becomes nothing. The text is read once from left to
// right: what a tag expands to is never scanned again, so a file name holding "$F" stays as it is.
std::string ReplaceMarginTags(const std::string& caption, const TMarginTagValues& values);

} // namespace zn::faxdoc
