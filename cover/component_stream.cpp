#include "cover/component_stream.h"

#include <cstring>

namespace zn::cover {

namespace {

constexpr int kMaxNesting = 64; // lists inside lists when skipping a value

void SkipValueAt(TValueReader& r, int depth);

} // namespace

void TValueWriter::WriteInteger(int64_t value)
{
    if (value >= -128 && value <= 127) {
        Byte(vaInt8);
        Byte(static_cast<uint8_t>(static_cast<int8_t>(value)));
    } else if (value >= -32768 && value <= 32767) {
        Byte(vaInt16);
        const uint16_t v = static_cast<uint16_t>(static_cast<int16_t>(value));
        Byte(static_cast<uint8_t>(v));
        Byte(static_cast<uint8_t>(v >> 8));
    } else if (value >= INT32_MIN && value <= INT32_MAX) {
        Byte(vaInt32);
        const uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(value));
        for (int i = 0; i < 4; ++i)
            Byte(static_cast<uint8_t>(v >> (8 * i)));
    } else {
        Byte(vaInt64);
        const uint64_t v = static_cast<uint64_t>(value);
        for (int i = 0; i < 8; ++i)
            Byte(static_cast<uint8_t>(v >> (8 * i)));
    }
}

void TValueWriter::WriteString(const std::string& text)
{
    if (text.size() <= 255) {
        Byte(vaString);
        Byte(static_cast<uint8_t>(text.size()));
    } else {
        Byte(vaLString);
        const uint32_t n = static_cast<uint32_t>(text.size());
        for (int i = 0; i < 4; ++i)
            Byte(static_cast<uint8_t>(n >> (8 * i)));
    }
    WriteBytes(text.data(), text.size());
}

void TValueWriter::WriteIdent(const std::string& name)
{
    Byte(vaIdent);
    WriteShortString(name);
}

void TValueWriter::WriteSet(const std::vector<std::string>& members)
{
    Byte(vaSet);
    for (const std::string& m : members)
        WriteShortString(m);
    Byte(0);
}

void TValueWriter::WriteBinary(const std::vector<uint8_t>& data)
{
    Byte(vaBinary);
    const uint32_t n = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i)
        Byte(static_cast<uint8_t>(n >> (8 * i)));
    WriteBytes(data.data(), data.size());
}

void TValueWriter::WriteRawBlock(const std::vector<uint8_t>& data)
{
    WriteInteger(static_cast<int64_t>(data.size()));
    WriteBytes(data.data(), data.size());
}

void TValueWriter::WriteShortString(const std::string& text)
{
    if (text.size() > 255)
        throw TStreamError("a name longer than 255 characters");
    Byte(static_cast<uint8_t>(text.size()));
    WriteBytes(text.data(), text.size());
}

void TValueWriter::WriteBytes(const void* data, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + size);
}

void TValueReader::Need(size_t n) const
{
    if (n > Left())
        throw TStreamError("unexpected end of the stream");
}

uint8_t TValueReader::ReadByte()
{
    Need(1);
    return data_[pos_++];
}

void TValueReader::ReadBytes(void* out, size_t size)
{
    Need(size);
    if (size)
        std::memcpy(out, data_ + pos_, size);
    pos_ += size;
}

TValueType TValueReader::NextValue() const
{
    Need(1);
    return static_cast<TValueType>(data_[pos_]);
}

void TValueReader::ReadListBegin()
{
    if (ReadByte() != vaList)
        throw TStreamError("a list was expected");
}

void TValueReader::ReadListEnd()
{
    if (ReadByte() != vaNull)
        throw TStreamError("the end of a list was expected");
}

int64_t TValueReader::ReadInteger()
{
    const uint8_t tag = ReadByte();
    uint8_t b[8];
    switch (tag) {
    case vaInt8: return static_cast<int8_t>(ReadByte());
    case vaInt16: ReadBytes(b, 2); return static_cast<int16_t>(b[0] | b[1] << 8);
    case vaInt32:
        ReadBytes(b, 4);
        return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8
                                    | static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
    case vaInt64: {
        ReadBytes(b, 8);
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = v << 8 | b[i];
        return static_cast<int64_t>(v);
    }
    default: throw TStreamError("an integer was expected");
    }
}

int32_t TValueReader::ReadInt32()
{
    const int64_t v = ReadInteger();
    if (v < INT32_MIN || v > INT32_MAX)
        throw TStreamError("an integer out of range");
    return static_cast<int32_t>(v);
}

bool TValueReader::ReadBoolean()
{
    const uint8_t tag = ReadByte();
    if (tag == vaTrue)
        return true;
    if (tag == vaFalse)
        return false;
    throw TStreamError("a Boolean was expected");
}

uint32_t TValueReader::ReadLength()
{
    uint8_t b[4];
    ReadBytes(b, 4);
    const uint32_t n = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8
                       | static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    Need(n);
    return n;
}

std::string TValueReader::ReadString()
{
    const uint8_t tag = ReadByte();
    size_t n = 0;
    switch (tag) {
    case vaString:
        n = ReadByte();
        Need(n);
        break;
    case vaLString:
    case vaUTF8String: n = ReadLength(); break;
    case vaWString: {
        uint8_t b[4];
        ReadBytes(b, 4);
        const uint64_t chars = static_cast<uint64_t>(b[0]) | static_cast<uint64_t>(b[1]) << 8
                               | static_cast<uint64_t>(b[2]) << 16 | static_cast<uint64_t>(b[3]) << 24;
        if (chars * 2 > Left())
            throw TStreamError("unexpected end of the stream");
        std::string text;
        text.reserve(chars);
        for (uint64_t i = 0; i < chars; ++i) {
            const uint16_t c = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
            pos_ += 2;
            text.push_back(c < 256 ? static_cast<char>(c) : '?');
        }
        return text;
    }
    default: throw TStreamError("a string was expected");
    }
    std::string text(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return text;
}

std::string TValueReader::ReadShortString()
{
    const size_t n = ReadByte();
    Need(n);
    std::string text(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return text;
}

std::string TValueReader::ReadIdent()
{
    const uint8_t tag = ReadByte();
    switch (tag) {
    case vaIdent: return ReadShortString();
    case vaFalse: return "False";
    case vaTrue: return "True";
    case vaNil: return "nil";
    case vaNull: return "Null";
    default: throw TStreamError("an identifier was expected");
    }
}

std::vector<std::string> TValueReader::ReadSet()
{
    if (ReadByte() != vaSet)
        throw TStreamError("a set was expected");
    std::vector<std::string> members;
    for (;;) {
        std::string m = ReadShortString();
        if (m.empty())
            return members;
        members.push_back(std::move(m));
    }
}

std::vector<uint8_t> TValueReader::ReadBinary()
{
    if (ReadByte() != vaBinary)
        throw TStreamError("binary data was expected");
    const uint32_t n = ReadLength();
    std::vector<uint8_t> data(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return data;
}

std::vector<uint8_t> TValueReader::ReadRawBlock()
{
    const int64_t n = ReadInteger();
    if (n < 0)
        throw TStreamError("a negative block length");
    Need(static_cast<size_t>(n));
    std::vector<uint8_t> data(data_ + pos_, data_ + pos_ + n);
    pos_ += static_cast<size_t>(n);
    return data;
}

void TValueReader::SkipValue() { SkipValueAt(*this, 0); }

namespace {

void SkipValueAt(TValueReader& r, int depth)
{
    if (depth > kMaxNesting)
        throw TStreamError("values nested too deeply");
    uint8_t skip[10];
    switch (r.NextValue()) {
    case vaNull:
    case vaFalse:
    case vaTrue:
    case vaNil: r.ReadByte(); return;
    case vaList:
        r.ReadByte();
        while (!r.EndOfList())
            SkipValueAt(r, depth + 1);
        r.ReadByte();
        return;
    case vaInt8:
    case vaInt16:
    case vaInt32:
    case vaInt64: r.ReadInteger(); return;
    case vaExtended:
        r.ReadByte();
        r.ReadBytes(skip, 10);
        return;
    case vaString:
    case vaLString:
    case vaWString:
    case vaUTF8String: r.ReadString(); return;
    case vaIdent: r.ReadIdent(); return;
    case vaSet: r.ReadSet(); return;
    case vaBinary: r.ReadBinary(); return;
    case vaSingle:
        r.ReadByte();
        r.ReadBytes(skip, 4);
        return;
    case vaCurrency:
    case vaDate:
    case vaDouble:
        r.ReadByte();
        r.ReadBytes(skip, 8);
        return;
    case vaCollection:
        // Items, each a list of properties (name, value) ended by a null, after an optional order
        // integer; the collection ends with a null.
        r.ReadByte();
        while (!r.EndOfList()) {
            const TValueType t = r.NextValue();
            if (t == vaInt8 || t == vaInt16 || t == vaInt32)
                r.ReadInteger();
            r.ReadListBegin();
            while (!r.EndOfList()) {
                r.ReadShortString();
                SkipValueAt(r, depth + 1);
            }
            r.ReadByte();
        }
        r.ReadByte();
        return;
    default: throw TStreamError("an unknown value type");
    }
}

} // namespace

} // namespace zn::cover
