// Reader of "STR0" string tables: raw-data resources holding texts by numeric id.
//
// Layout (little-endian): "STR0", entry count n (32-bit), n entry records of 12 bytes sorted by id
// (id, byte offset of the text from the start of the resource, length in UTF-16 units), then the
// texts in UTF-16LE without terminators.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace zn::comms {

// Raised when a string table cannot be opened (and on a missing id when asked to).
class EMevStringResourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ResourceBytes {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
};
// A module's raw-data resources by name; nullopt when it has none of that name.
using ResourceModule = std::function<std::optional<ResourceBytes>(const std::string& name)>;
// The resources built into this program.
ResourceModule ProgramModule();

// Resource names.
constexpr const char* ErrorStringsName = "FXC_ERROR_STRINGS_ENGLISH";
constexpr const char* StringManagerName = "FXSRMGR_STRINGS";

class TFxStringResource {
public:
    // Finds and checks the table; raises EMevStringResourceError when it is missing or not a
    // string table.
    TFxStringResource(const ResourceModule& module, const std::string& resourceName);

    // Off in this system: a missing id gives an empty text.
    bool RaiseOnMissing = false;

    // The text of id, or empty when the table has no such id.
    std::string TextById(uint32_t id) const;
    // The text of id into buffer, cut so that it fits with its terminator. Returns buffer.
    char* TextByIdP(uint32_t id, char* buffer, size_t size) const;
    // The number of entries.
    uint32_t Count() const;

private:
    // The UTF-16 units of id's text; false when the id is missing.
    bool FindText(uint32_t id, std::u16string& text) const;

    ResourceBytes data_;
};

// The program's two tables, opened on first use; an opening failure raises there.
const TFxStringResource& ErrorStrings();
const TFxStringResource& StringManagerStrings();
// Opens both tables; the programs call it first thing, so that a broken table stops them at start-up
// (EMevStringResourceError) rather than at the first error text.
void OpenStringTables();

// UTF-16 units to the program's 8-bit text (UTF-8); a lone surrogate becomes U+FFFD.
std::string Utf16ToText(const std::u16string& units);

} // namespace zn::comms
