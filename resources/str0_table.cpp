#include "resources/str0_table.h"

#include <cstring>

namespace zn::resources {

namespace {

constexpr size_t HeaderSize = 8;
constexpr size_t EntrySize = 12;

uint32_t ReadU32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Resolves the escapes; the result is still UTF-8.
bool Unescape(const std::string& text, std::string& out, std::string& error)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            error = "a backslash ends the text";
            return false;
        }
        switch (text[i]) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                error = "\\x needs two hexadecimal digits";
                return false;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: error = std::string("unknown escape \\") + text[i]; return false;
        }
    }
    return true;
}

bool Utf8ToUtf16(const std::string& in, std::u16string& out, std::string& error)
{
    out.clear();
    for (size_t i = 0; i < in.size();) {
        const auto c = static_cast<unsigned char>(in[i]);
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || i + extra >= in.size()) {
            error = "the text is not valid UTF-8";
            return false;
        }
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(in[i + k]);
            if ((cc & 0xC0) != 0x80) {
                error = "the text is not valid UTF-8";
                return false;
            }
            cp = cp << 6 | (cc & 0x3F);
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return true;
}

} // namespace

bool ParseStringSource(const std::string& source, std::vector<StringEntry>& entries, std::string& error)
{
    entries.clear();
    size_t lineNo = 0;
    for (size_t pos = 0; pos < source.size();) {
        size_t end = source.find('\n', pos);
        if (end == std::string::npos)
            end = source.size();
        std::string line = source.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(lineNo) + ": " + what;
            return false;
        };
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || tab > 10 || line.find_first_not_of("0123456789") != tab)
            return fail("expected an id, a TAB and the text");
        const unsigned long long id = std::stoull(line.substr(0, tab));
        if (id > UINT32_MAX)
            return fail("id out of range");
        const std::string raw = line.substr(tab + 1);
        if (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t'))
            return fail("the text ends in a blank; write a trailing blank as \\x20");
        std::string text;
        std::string why;
        StringEntry entry;
        entry.Id = static_cast<uint32_t>(id);
        if (!Unescape(raw, text, why) || !Utf8ToUtf16(text, entry.Text, why))
            return fail(why);
        if (!entries.empty() && entries.back().Id == entry.Id)
            return fail("duplicate id " + std::to_string(entry.Id));
        if (!entries.empty() && entries.back().Id > entry.Id)
            return fail("id " + std::to_string(entry.Id) + " is out of order (ids ascend)");
        entries.push_back(std::move(entry));
    }
    return true;
}

std::vector<uint8_t> BuildStr0(const std::vector<StringEntry>& entries)
{
    const size_t textStart = HeaderSize + EntrySize * entries.size();
    size_t total = textStart;
    for (const StringEntry& e : entries)
        total += 2 * e.Text.size();
    std::vector<uint8_t> table(total);
    std::memcpy(table.data(), "STR0", 4);
    PutU32(table, 4, static_cast<uint32_t>(entries.size()));
    size_t offset = textStart;
    for (size_t i = 0; i < entries.size(); ++i) {
        const StringEntry& e = entries[i];
        const size_t record = HeaderSize + EntrySize * i;
        PutU32(table, record, e.Id);
        PutU32(table, record + 4, static_cast<uint32_t>(offset));
        PutU32(table, record + 8, static_cast<uint32_t>(e.Text.size()));
        for (char16_t u : e.Text) {
            table[offset++] = static_cast<uint8_t>(u & 0xFF);
            table[offset++] = static_cast<uint8_t>(u >> 8);
        }
    }
    return table;
}

std::string CheckStr0(const std::vector<uint8_t>& table)
{
    if (table.size() < HeaderSize || std::memcmp(table.data(), "STR0", 4) != 0)
        return "the signature is not STR0";
    const uint32_t count = ReadU32(table, 4);
    if ((table.size() - HeaderSize) / EntrySize < count)
        return "the entry records run past the end of the table";
    size_t expectedOffset = HeaderSize + EntrySize * size_t{count};
    for (uint32_t i = 0; i < count; ++i) {
        const size_t record = HeaderSize + EntrySize * size_t{i};
        const uint32_t id = ReadU32(table, record);
        if (i > 0 && ReadU32(table, record - EntrySize) >= id)
            return "entry " + std::to_string(i) + " (id " + std::to_string(id) + ") does not ascend";
        const uint32_t offset = ReadU32(table, record + 4);
        const uint32_t length = ReadU32(table, record + 8);
        if (offset != expectedOffset)
            return "the text of id " + std::to_string(id) + " is not where the previous one ends";
        if ((table.size() - offset) / 2 < length)
            return "the text of id " + std::to_string(id) + " runs past the end of the table";
        expectedOffset += 2 * size_t{length};
    }
    if (expectedOffset != table.size())
        return "bytes follow the last text";
    return {};
}

std::vector<StringEntry> ReadStr0(const std::vector<uint8_t>& table)
{
    std::vector<StringEntry> entries(ReadU32(table, 4));
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t record = HeaderSize + EntrySize * i;
        const uint32_t offset = ReadU32(table, record + 4);
        entries[i].Id = ReadU32(table, record);
        entries[i].Text.resize(ReadU32(table, record + 8));
        for (size_t k = 0; k < entries[i].Text.size(); ++k)
            entries[i].Text[k] = static_cast<char16_t>(table[offset + 2 * k] | table[offset + 2 * k + 1] << 8);
    }
    return entries;
}

} // namespace zn::resources
