#include "faxdoc/margin_tags.h"

#include <cctype>

namespace zn::faxdoc {

std::string ReplaceMarginTags(const std::string& caption, const TMarginTagValues& values)
{
    std::string out;
    out.reserve(caption.size());
    size_t i = 0;
    while (i < caption.size()) {
        if (caption[i] != '$') {
            out += caption[i++];
            continue;
        }
        const size_t end = caption.find(' ', i);
        const char letter =
            i + 1 < caption.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(caption[i + 1]))) : 0;
        switch (letter) {
        case 'D': out += values.date; break;
        case 'F': out += values.fileName; break;
        case 'N': out += std::to_string(values.totalPages); break;
        case 'P': out += std::to_string(values.page); break;
        case 'T': out += values.time; break;
        default: break;
        }
        i = end == std::string::npos ? caption.size() : end;
    }
    return out;
}

} // namespace zn::faxdoc
