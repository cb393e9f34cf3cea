#include "comms/base/string_resource.h"

#include "resources/rcdata.h"

#include <cstring>

namespace zn::comms {

namespace {

constexpr size_t HeaderSize = 8;
constexpr size_t EntrySize = 12;

// Texts of the string manager's own table.
enum ManagerText : uint32_t {
    smStringNotFound = 1,
    smCannotLock = 2,
    smResourceNotFound = 3,
    smCannotOpen = 4,
    smNotAStringTable = 5,
};

uint32_t ReadU32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Replaces the first "%s" or "%d" of format with arg.
std::string FormatOne(const std::string& format, const std::string& arg)
{
    for (size_t i = 0; i + 1 < format.size(); ++i)
        if (format[i] == '%' && (format[i + 1] == 's' || format[i + 1] == 'd'))
            return format.substr(0, i) + arg + format.substr(i + 2);
    return format;
}

// The manager's text; the manager table cannot report its own failures, so while it is being
// opened (or when it cannot be) the failure is named by its argument alone.
std::string ManagerMessage(ManagerText id, const std::string& arg, const std::string& resourceName)
{
    if (resourceName != StringManagerName) {
        const std::string format = StringManagerStrings().TextById(id);
        if (!format.empty())
            return FormatOne(format, arg);
    }
    return arg;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

} // namespace

std::string Utf16ToText(const std::u16string& units)
{
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            AppendUtf8(out, 0x10000 + ((uint32_t{u} - 0xD800) << 10) + (uint32_t{units[i + 1]} - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

ResourceModule ProgramModule()
{
    return [](const std::string& name) -> std::optional<ResourceBytes> {
        const resources::RcDataEntry* entry = resources::FindRcData(name.c_str());
        if (!entry)
            return std::nullopt;
        return ResourceBytes{entry->Data, entry->Size};
    };
}

TFxStringResource::TFxStringResource(const ResourceModule& module, const std::string& resourceName)
{
    const std::optional<ResourceBytes> found = module ? module(resourceName) : std::nullopt;
    if (!found)
        throw EMevStringResourceError(ManagerMessage(smResourceNotFound, resourceName, resourceName));
    if (!found->Data)
        throw EMevStringResourceError(ManagerMessage(smCannotOpen, resourceName, resourceName));
    data_ = *found;
    // Besides the signature, the entry records must lie inside the resource: every lookup trusts them.
    const bool valid = data_.Size >= HeaderSize && std::memcmp(data_.Data, "STR0", 4) == 0
                       && (data_.Size - HeaderSize) / EntrySize >= ReadU32(data_.Data + 4);
    if (!valid)
        throw EMevStringResourceError(ManagerMessage(smNotAStringTable, resourceName, resourceName));
}

uint32_t TFxStringResource::Count() const { return ReadU32(data_.Data + 4); }

bool TFxStringResource::FindText(uint32_t id, std::u16string& text) const
{
    text.clear();
    int64_t low = 0;
    int64_t high = int64_t{Count()} - 1;
    while (low <= high) {
        const int64_t middle = (low + high) / 2;
        const uint8_t* entry = data_.Data + HeaderSize + EntrySize * static_cast<size_t>(middle);
        const uint32_t entryId = ReadU32(entry);
        if (entryId == id) {
            const size_t offset = ReadU32(entry + 4);
            const size_t length = ReadU32(entry + 8);
            if (offset > data_.Size || length > (data_.Size - offset) / 2)
                return false; // a text outside the resource reads as missing
            text.resize(length);
            for (size_t i = 0; i < length; ++i)
                text[i] = static_cast<char16_t>(data_.Data[offset + 2 * i] | data_.Data[offset + 2 * i + 1] << 8);
            return true;
        }
        if (entryId < id)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return false;
}

std::string TFxStringResource::TextById(uint32_t id) const
{
    std::u16string units;
    if (!FindText(id, units) && RaiseOnMissing)
        throw EMevStringResourceError(ManagerMessage(smStringNotFound, std::to_string(id), ""));
    return Utf16ToText(units);
}

char* TFxStringResource::TextByIdP(uint32_t id, char* buffer, size_t size) const
{
    if (size == 0)
        return buffer;
    std::u16string units;
    if (!FindText(id, units) && RaiseOnMissing)
        throw EMevStringResourceError(ManagerMessage(smStringNotFound, std::to_string(id), ""));
    std::string text = Utf16ToText(units);
    while (text.size() >= size) {
        // Drop one character from the end: both halves of a surrogate pair go together.
        const bool pair = units.size() >= 2 && IsLowSurrogate(units.back()) && IsHighSurrogate(units[units.size() - 2]);
        units.resize(units.size() - (pair ? 2 : 1));
        text = Utf16ToText(units);
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = 0;
    return buffer;
}

const TFxStringResource& StringManagerStrings()
{
    static const TFxStringResource table(ProgramModule(), StringManagerName);
    return table;
}

const TFxStringResource& ErrorStrings()
{
    static const TFxStringResource table(ProgramModule(), ErrorStringsName);
    return table;
}

void OpenStringTables()
{
    StringManagerStrings();
    ErrorStrings();
}

} // namespace zn::comms
