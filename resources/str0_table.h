// Building "STR0" string tables from their text source.
//
// Source: one entry a line, the id (decimal), a TAB, then the text in UTF-8. Ids ascend. Lines
// that are empty or begin with "#" are comments. Escapes in the text: \r \n \t \\ and \xHH; a text
// may not end in an unescaped blank (editors strip those), so a trailing blank is written \x20.
//
// Table: "STR0", entry count n (32-bit), n records of id, text offset from the start of the table
// and text length in UTF-16 units (32-bit each, sorted by id), then the texts in UTF-16LE without
// terminators. All integers little-endian.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zn::resources {

struct StringEntry {
    uint32_t Id = 0;
    std::u16string Text;
};

// Parses a source; on failure returns false and sets error to "line N: what".
bool ParseStringSource(const std::string& source, std::vector<StringEntry>& entries, std::string& error);
// The table of entries, which must ascend by id without duplicates.
std::vector<uint8_t> BuildStr0(const std::vector<StringEntry>& entries);
// Checks a table's layout: signature, entries inside the table and ascending by id without
// duplicates, texts packed one after another right behind the records up to the end. Returns an
// empty text when the table is sound, else what is wrong.
std::string CheckStr0(const std::vector<uint8_t>& table);
// The entries of a sound table (CheckStr0 first).
std::vector<StringEntry> ReadStr0(const std::vector<uint8_t>& table);

} // namespace zn::resources
