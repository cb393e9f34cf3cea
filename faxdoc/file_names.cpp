#include "faxdoc/file_names.h"

namespace zn::faxdoc {
namespace {

// Position of the extension's dot in the last component, or npos.
size_t ExtensionDot(const std::string& name)
{
    const size_t slash = name.find_last_of('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot <= start)
        return std::string::npos;
    return dot;
}

} // namespace

bool HasExtension(const std::string& name) { return ExtensionDot(name) != std::string::npos; }

std::string ForceExtension(const std::string& name, const std::string& ext)
{
    const size_t dot = ExtensionDot(name);
    return (dot == std::string::npos ? name : name.substr(0, dot)) + "." + ext;
}

std::string DefaultExtension(const std::string& name, const std::string& ext)
{
    return HasExtension(name) ? name : name + "." + ext;
}

} // namespace zn::faxdoc
