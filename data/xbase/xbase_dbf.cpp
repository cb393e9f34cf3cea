#include "xbase_dbf.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zn::xbase {

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutToday(uint8_t* p)
{
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    p[0] = static_cast<uint8_t>(local.tm_year); // years since 1900, the dBASE convention
    p[1] = static_cast<uint8_t>(local.tm_mon + 1);
    p[2] = static_cast<uint8_t>(local.tm_mday);
}

bool ValidFieldName(const std::string& name)
{
    if (name.empty() || name.size() > 10)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(name[0])) && name[0] != '_')
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return true;
}

} // namespace

std::vector<uint8_t> DbfTable::HeaderBytes(const std::vector<Field>& fields, uint32_t count, uint8_t flags)
{
    size_t headerLength = 32 + 32 * fields.size() + 1;
    std::vector<uint8_t> h(headerLength, 0);
    int recordLength = 1;
    for (const Field& f : fields)
        recordLength += f.length;
    h[0] = 0x03; // FoxPro 2.x / dBASE III table without memo
    PutToday(&h[1]);
    PutLe32(&h[4], count);
    PutLe16(&h[8], static_cast<uint16_t>(headerLength));
    PutLe16(&h[10], static_cast<uint16_t>(recordLength));
    h[28] = flags;
    h[29] = 0x03; // code page 1252
    int offset = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        uint8_t* d = &h[32 + 32 * i];
        memcpy(d, fields[i].name.data(), fields[i].name.size());
        d[11] = static_cast<uint8_t>(fields[i].type);
        PutLe32(d + 12, static_cast<uint32_t>(offset));
        d[16] = static_cast<uint8_t>(fields[i].length);
        d[17] = static_cast<uint8_t>(fields[i].decimals);
        offset += fields[i].length;
    }
    h[headerLength - 1] = 0x0D;
    return h;
}

Err DbfTable::Create(const std::string& path, const std::vector<Field>& fields)
{
    if (fields.empty() || fields.size() > 255)
        return Err::BadField;
    int recordLength = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        if (!ValidFieldName(f.name))
            return Err::BadField;
        for (size_t j = 0; j < i; ++j)
            if (fields[j].name == f.name)
                return Err::BadField;
        bool ok = false;
        switch (f.type) {
        case 'C': ok = f.length >= 1 && f.length <= 254 && f.decimals == 0; break;
        case 'D': ok = f.length == 8 && f.decimals == 0; break;
        case 'L': ok = f.length == 1 && f.decimals == 0; break;
        case 'N':
            ok = f.length >= 1 && f.length <= 20 && f.decimals >= 0 && (f.decimals == 0 || f.decimals <= f.length - 2);
            break;
        default: ok = false;
        }
        if (!ok)
            return Err::BadField;
        recordLength += f.length;
    }
    if (recordLength > 65535)
        return Err::BadField;
    std::vector<uint8_t> header = HeaderBytes(fields, 0, 0);
    header.push_back(0x1A);
    // Written aside and renamed, so that a table is never seen half-made.
    FileReplacement out(path);
    if (Err e = out.Open(); e != Err::Ok)
        return e;
    if (Err e = out.Out().WriteAt(0, header.data(), header.size()); e != Err::Ok)
        return e;
    return out.Commit();
}

Err DbfTable::Open(const std::string& path, OpenMode mode)
{
    Close();
    mode_ = mode;
    if (Err e = file_.Open(path, mode != OpenMode::ReadOnly); e != Err::Ok)
        return e;
    if (!file_.TryLock(kOpenLockOffset, 1, mode == OpenMode::Exclusive)) {
        file_.Close();
        return Err::InUse;
    }
    if (Err e = ReadHeader(); e != Err::Ok) {
        file_.Close();
        return e;
    }
    return Err::Ok;
}

void DbfTable::Close()
{
    file_.Close();
    fields_.clear();
    count_ = 0;
}

Err DbfTable::ReadHeader()
{
    uint64_t size = file_.Size();
    uint8_t h[32];
    if (size < 32 || file_.ReadAt(0, h, 32) != Err::Ok)
        return Err::CorruptTable;
    headerLength_ = Le16(h + 8);
    recordLength_ = Le16(h + 10);
    flags_ = h[28];
    if (headerLength_ < 65 || recordLength_ < 2 || static_cast<uint64_t>(headerLength_) > size)
        return Err::CorruptTable;
    std::vector<uint8_t> d(headerLength_ - 32);
    if (file_.ReadAt(32, d.data(), d.size()) != Err::Ok)
        return Err::CorruptTable;
    fields_.clear();
    int offset = 1;
    for (size_t pos = 0; pos + 32 <= d.size() && d[pos] != 0x0D; pos += 32) {
        Field f;
        for (int i = 0; i < 11 && d[pos + i]; ++i)
            f.name += static_cast<char>(std::toupper(d[pos + i]));
        f.type = static_cast<char>(std::toupper(d[pos + 11]));
        f.length = d[pos + 16];
        f.decimals = d[pos + 17];
        f.offset = offset;
        if (f.name.empty() || f.length == 0)
            return Err::CorruptTable;
        if (f.type == 'F')
            f.type = 'N';
        if (f.type == 'D' && f.length != 8)
            return Err::CorruptTable;
        if (f.type == 'N' && f.decimals >= f.length)
            f.decimals = 0;
        offset += f.length;
        fields_.push_back(f);
    }
    if (fields_.empty() || offset > recordLength_)
        return Err::CorruptTable;
    uint32_t count = Le32(h + 4);
    // A header count beyond the data (a copy cut short) is trimmed to the whole records present.
    uint64_t room = (size - headerLength_) / recordLength_;
    count_ = static_cast<uint32_t>(std::min<uint64_t>(count, room));
    if (mode_ == OpenMode::Exclusive)
        count_ = WithRecordsBeyond(count_, room);
    return Err::Ok;
}

// Records past a header count that fell short (the count not written after an append, a header
// restored from an older copy) would be overwritten by the next append: the whole records there
// with a valid deletion flag belong to the table. Only sole use may take them: shared, a record
// past the count is another writer's append in progress, or the blank one of a writer that died
// before counting it.
uint32_t DbfTable::WithRecordsBeyond(uint32_t count, uint64_t room) const
{
    while (count < room) {
        char flag = 0;
        if (file_.ReadAt(headerLength_ + uint64_t(count) * recordLength_, &flag, 1) != Err::Ok
            || (flag != ' ' && flag != '*'))
            break;
        ++count;
    }
    return count;
}

int DbfTable::FieldIndex(const std::string& name) const
{
    for (size_t i = 0; i < fields_.size(); ++i) {
        const std::string& f = fields_[i].name;
        if (f.size() == name.size() && std::equal(f.begin(), f.end(), name.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
            }))
            return static_cast<int>(i);
    }
    return -1;
}

Err DbfTable::RefreshCount()
{
    uint8_t b[4];
    if (file_.ReadAt(4, b, 4) != Err::Ok)
        return Err::FileRead;
    uint64_t size = file_.Size();
    uint64_t room = size > static_cast<uint64_t>(headerLength_) ? (size - headerLength_) / recordLength_ : 0;
    count_ = static_cast<uint32_t>(std::min<uint64_t>(Le32(b), room));
    return Err::Ok;
}

Err DbfTable::ReadRecords(uint32_t first, uint32_t number, char* out) const
{
    uint64_t at = headerLength_ + uint64_t(first - 1) * recordLength_;
    return file_.ReadAt(at, out, size_t(number) * recordLength_);
}

Err DbfTable::WriteRecords(uint32_t first, uint32_t number, const char* data)
{
    if (!Writable())
        return Err::ReadOnly;
    uint64_t at = headerLength_ + uint64_t(first - 1) * recordLength_;
    size_t length = size_t(number) * recordLength_;
    unsynced_ = true;
    bool knowsTheEnd = !Shared() || headerLocked_;
    if (knowsTheEnd && first + number - 1 >= count_) {
        std::vector<char> block(data, data + length);
        block.push_back(0x1A);
        return file_.WriteAt(at, block.data(), block.size());
    }
    return file_.WriteAt(at, data, length);
}

uint64_t DbfTable::FileSize() const { return file_.Size(); }

Err DbfTable::WriteHeader(int lockTimeoutSeconds)
{
    if (!Writable())
        return Err::ReadOnly;
    if (Shared() && !headerLocked_) {
        if (Err e = LockHeader(lockTimeoutSeconds); e != Err::Ok)
            return e;
        Err e = RefreshCount();
        if (e == Err::Ok)
            e = WriteHeader();
        UnlockHeader();
        return e;
    }
    uint8_t h[8];
    PutToday(h + 1);
    PutLe32(h + 4, count_);
    unsynced_ = true;
    if (Err e = file_.WriteAt(1, h + 1, 7); e != Err::Ok)
        return e;
    return file_.WriteAt(28, &flags_, 1);
}

Err DbfTable::Sync()
{
    if (!unsynced_)
        return Err::Ok;
    if (Err e = file_.Sync(); e != Err::Ok)
        return e;
    unsynced_ = false;
    return Err::Ok;
}

void DbfTable::BlankRecord(char* buffer) const { memset(buffer, ' ', recordLength_); }

Err DbfTable::LockHeader(int timeoutSeconds)
{
    Err e = file_.Lock(kHeaderLockOffset, 1, true, timeoutSeconds);
    headerLocked_ = e == Err::Ok;
    return e;
}

void DbfTable::UnlockHeader()
{
    file_.Unlock(kHeaderLockOffset, 1);
    headerLocked_ = false;
}

Err DbfTable::CheckRecords(std::string& where) const
{
    uint8_t b[4];
    if (file_.ReadAt(4, b, 4) != Err::Ok)
        return Err::FileRead;
    uint64_t size = file_.Size();
    uint64_t room = size > static_cast<uint64_t>(headerLength_) ? (size - headerLength_) / recordLength_ : 0;
    uint32_t count = std::min<uint64_t>(Le32(b), room);
    if (Le32(b) > room) {
        where =
            "table: the header counts " + std::to_string(Le32(b)) + " records, the file holds " + std::to_string(room);
        return Err::CorruptTable;
    }
    const uint32_t per = static_cast<uint32_t>(std::max<size_t>(1, (1u << 20) / recordLength_));
    RecordScan scan(*this);
    for (uint32_t first = 1; first <= count; first += per) {
        uint32_t n = std::min(per, count - first + 1);
        const char* chunk = nullptr;
        if (Err e = scan.Read(first, n, chunk); e != Err::Ok)
            return e;
        for (uint32_t i = 0; i < n; ++i) {
            unsigned char flag = static_cast<unsigned char>(chunk[size_t(i) * recordLength_]);
            if (flag == ' ' || flag == '*')
                continue;
            char hex[8];
            snprintf(hex, sizeof hex, "0x%02X", flag);
            where = "table: record " + std::to_string(first + i) + " has the deletion flag " + hex
                    + (flag == 0x1A ? " (an end-of-file byte written over it)" : "");
            return Err::CorruptTable;
        }
    }
    return Err::Ok;
}

Err DbfTable::LockRecord(uint32_t recno, int timeoutSeconds)
{
    return file_.Lock(kHeaderLockOffset - recno, 1, true, timeoutSeconds);
}

void DbfTable::UnlockRecord(uint32_t recno) { file_.Unlock(kHeaderLockOffset - recno, 1); }

Err RecordScan::Read(uint32_t first, uint32_t number, const char*& out)
{
    size_t length = size_t(number) * table_.RecordLength();
    buffer_.resize(length);
    if (Err e = table_.ReadRecords(first, number, buffer_.data()); e != Err::Ok)
        return e;
    out = buffer_.data();
    return Err::Ok;
}

} // namespace zn::xbase
