// Names for the cases of parameterised tests, made from the texts that tell the cases apart:
// letters and digits are kept, every other run of characters becomes one "_" ("UPPER(Subject)"
// gives "UPPER_Subject"), and an empty text gives "empty". Test names may hold nothing else. A name
// longer than 64 characters keeps its first 40 and says how long the text was.
#pragma once

#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zn::test {

inline std::string ParamName(std::string_view text)
{
    std::string name;
    bool gap = false;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            if (gap && !name.empty())
                name += '_';
            name += c;
            gap = false;
        } else {
            gap = true;
        }
    }
    if (name.size() > 64)
        name = name.substr(0, 40) + "_etc_" + std::to_string(text.size()) + "_characters";
    return name.empty() ? "empty" : name;
}

// The parts joined by "_", each made a name as above.
inline std::string ParamName(std::initializer_list<std::string_view> parts)
{
    std::string name;
    for (const std::string_view part : parts)
        name += (name.empty() ? "" : "_") + ParamName(part);
    return name;
}

} // namespace zn::test
