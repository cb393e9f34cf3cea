// The tagged values of the component stream: the one codec of the .FCS templates (with the item
// records around them) and of the .FCT render files. Plain C++, no toolkit.
//
// Every length read from a file (strings, binary blocks, raw blocks, lists) is checked against the
// bytes left before anything is allocated: a corrupt file gives a TStreamError, never a huge
// allocation or a read past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zn::cover {

enum TValueType : uint8_t {
    vaNull = 0,
    vaList = 1,
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaExtended = 5,
    vaString = 6,
    vaIdent = 7,
    vaFalse = 8,
    vaTrue = 9,
    vaBinary = 10,
    vaSet = 11,
    vaLString = 12,
    vaNil = 13,
    vaCollection = 14,
    vaSingle = 15,
    vaCurrency = 16,
    vaDate = 17,
    vaWString = 18,
    vaInt64 = 19,
    vaUTF8String = 20,
    vaDouble = 21,
};

class TStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TValueWriter {
public:
    void WriteListBegin() { Byte(vaList); }
    void WriteListEnd() { Byte(vaNull); }
    // The smallest of the three integer forms that holds the value.
    void WriteInteger(int64_t value);
    void WriteBoolean(bool value) { Byte(value ? vaTrue : vaFalse); }
    // Up to 255 characters with the short tag, a longer text with the long one.
    void WriteString(const std::string& text);
    void WriteIdent(const std::string& name);
    void WriteSet(const std::vector<std::string>& members);
    void WriteBinary(const std::vector<uint8_t>& data);
    // An integer count and then the bytes without a tag (the render file's blocks).
    void WriteRawBlock(const std::vector<uint8_t>& data);
    // A length byte and the characters, no tag (names, class names); longer names are refused.
    void WriteShortString(const std::string& text);
    void WriteBytes(const void* data, size_t size);
    void Byte(uint8_t b) { out_.push_back(b); }

    const std::vector<uint8_t>& Bytes() const { return out_; }
    std::vector<uint8_t>& Bytes() { return out_; }

private:
    std::vector<uint8_t> out_;
};

class TValueReader {
public:
    TValueReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit TValueReader(const std::vector<uint8_t>& data) : TValueReader(data.data(), data.size()) {}

    size_t Position() const { return pos_; }
    size_t Left() const { return size_ - pos_; }
    bool AtEnd() const { return pos_ >= size_; }

    TValueType NextValue() const; // the tag ahead, not consumed; throws at the end
    void ReadListBegin();
    void ReadListEnd();
    bool EndOfList() const { return NextValue() == vaNull; }
    int64_t ReadInteger(); // tags 2, 3, 4 and 19
    int32_t ReadInt32();   // an integer that must fit 32 bits
    bool ReadBoolean();
    std::string ReadString(); // tags 6, 12, 18 (UTF-16, kept as Latin-1 where it fits) and 20
    std::string ReadIdent();  // tag 7 (also accepts false, true and nil as their names)
    std::vector<std::string> ReadSet();
    std::vector<uint8_t> ReadBinary();
    std::vector<uint8_t> ReadRawBlock();
    std::string ReadShortString();
    void ReadBytes(void* out, size_t size);
    uint8_t ReadByte();
    // Skips one value of any type (unknown properties of a template).
    void SkipValue();

private:
    void Need(size_t n) const;
    uint32_t ReadLength(); // a 4-byte length, checked against the bytes left
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

} // namespace zn::cover
