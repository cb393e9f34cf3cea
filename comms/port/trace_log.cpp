#include "comms/port/trace_log.h"

#include "comms/base/error_codes.h"
#include "comms/base/fx_misc.h"
#include "comms/base/string_resource.h"

#include "platform/folders.h"
#include "platform/io_error.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zn::comms {

namespace {

std::string TableText(uint32_t id) { return ErrorStrings().TextById(id); }

std::string& SystemTextOverride()
{
    static std::string text;
    return text;
}

std::string SystemText()
{
    if (!SystemTextOverride().empty())
        return SystemTextOverride();
    struct utsname u {};
    std::string text = "Unknown";
    if (::uname(&u) == 0)
        text = std::string(u.sysname) + " " + u.release;
    return text.substr(0, 80);
}

std::string CompilerText()
{
#if defined(__clang__)
    return "Clang " __clang_version__;
#elif defined(__GNUC__)
    return "GCC " __VERSION__;
#else
    return "C++";
#endif
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Text files of this system end their lines in CR LF.
File OpenTextFile(const std::string& fileName, bool append, int& error)
{
    std::string path = platform::ResolvePath(fileName);
    bool exists = platform::FileExistsCI(path);
    FILE* f = std::fopen(path.c_str(), append && exists ? "ab" : "wb");
    error = f ? 0 : platform::ErrnoToIoError(errno);
    return File(f);
}

int CloseTextFile(File file)
{
    bool failed = std::ferror(file.get()) != 0;
    int err = errno;
    if (std::fclose(file.release()) != 0) {
        failed = true;
        err = errno;
    }
    return failed ? -platform::ErrnoToIoError(err ? err : EIO) : 0;
}

// One byte of a dump as text: the character itself between the limit and 126, otherwise in brackets
// as hex or decimal.
std::string ByteItem(uint8_t b, bool hex, bool allHex)
{
    char item[8];
    int limit = hex ? 33 : 32;
    if (!allHex && b >= limit && b <= 126) {
        item[0] = char(b);
        item[1] = 0;
    } else if (allHex || hex) {
        std::snprintf(item, sizeof item, "[%02X]", b);
    } else {
        std::snprintf(item, sizeof item, "[%u]", b);
    }
    return item;
}

} // namespace

std::string FormatLogTime(uint32_t ms)
{
    char text[24];
    std::snprintf(text, sizeof text, "%04u.%03u", ms / 1000, ms % 1000);
    return text;
}

void SetLogSystemTextForTest(const std::string& text) { SystemTextOverride() = text; }

// ---------------------------------------------------------------- trace

int TraceBuffer::Init(uint32_t entries)
{
    if (!buffer_.empty()) {
        Clear();
    } else {
        if (entries > MaxTraceEntries)
            return ecBadArgument;
        if (entries == 0)
            entries = 1;
        buffer_.assign(size_t(entries) * 2, 0);
        capacity_ = entries;
        Clear();
    }
    on_ = true;
    return 0;
}

void TraceBuffer::Add(char kind, uint8_t byte)
{
    if (buffer_.empty())
        return;
    buffer_[size_t(writePos_) * 2] = uint8_t(kind);
    buffer_[size_t(writePos_) * 2 + 1] = byte;
    if (++writePos_ >= capacity_) {
        writePos_ = 0;
        wrapped_ = true;
    }
}

void TraceBuffer::Clear()
{
    writePos_ = 0;
    wrapped_ = false;
}

void TraceBuffer::Abort()
{
    on_ = false;
    buffer_.clear();
    buffer_.shrink_to_fit();
    capacity_ = writePos_ = 0;
    wrapped_ = false;
}

int TraceBuffer::Dump(const std::string& fileName, bool append, bool hex, bool allHex)
{
    if (buffer_.empty())
        return 0;
    on_ = false;
    uint32_t start = wrapped_ ? writePos_ : 0;
    uint32_t count = wrapped_ ? capacity_ : writePos_;
    if (count == 0) {
        Abort();
        return 0;
    }
    int error = 0;
    File file = OpenTextFile(fileName, append, error);
    if (!file) {
        Abort();
        return -error;
    }
    FILE* f = file.get();
    char previous = 0;
    bool first = true;
    int column = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t e = (start + i) % capacity_;
        char kind = char(buffer_[size_t(e) * 2]);
        uint8_t b = buffer_[size_t(e) * 2 + 1];
        if (first || kind != previous) {
            if (!first)
                std::fputs("\r\n\r\n", f);
            if (kind == 'T')
                std::fputs("Transmit: ", f);
            else if (kind == 'R')
                std::fputs("Receive: ", f);
            else
                std::fprintf(f, "Special-%c: ", kind);
            std::fputs("\r\n", f);
            column = 0;
            first = false;
            previous = kind;
        }
        std::string item = ByteItem(b, hex, allHex);
        int width = int(item.size());
        if (column + width > 78) {
            std::fputs("\r\n", f);
            column = width;
        } else {
            column += width;
        }
        std::fputs(item.c_str(), f);
    }
    std::fputs("\r\n", f);
    int result = CloseTextFile(std::move(file));
    Abort();
    return result;
}

// ---------------------------------------------------------------- dispatch log

void DispatchLog::Init(uint32_t size, uint32_t dataSize)
{
    if (!buffer_.empty()) {
        Clear();
    } else {
        buffer_.assign(size, 0);
        size_ = size;
        dataSize_ = dataSize;
        Clear();
    }
    on_ = !buffer_.empty();
}

void DispatchLog::Clear()
{
    writePos_ = readPos_ = 0;
    free_ = size_;
}

void DispatchLog::Abort()
{
    on_ = false;
    buffer_.clear();
    buffer_.shrink_to_fit();
    size_ = free_ = writePos_ = readPos_ = 0;
}

void DispatchLog::Put(const uint8_t* bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        buffer_[writePos_] = bytes[i];
        if (++writePos_ == size_)
            writePos_ = 0;
    }
    free_ -= count;
}

void DispatchLog::Get(uint8_t* bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        bytes[i] = buffer_[readPos_];
        if (++readPos_ == size_)
            readPos_ = 0;
    }
    free_ += count;
}

void DispatchLog::Add(uint8_t kind, uint8_t subKind, uint32_t time, uint32_t value, uint32_t dataLength,
                      const void* data)
{
    if (buffer_.empty() || uint64_t(LogHeaderSize) + dataLength >= size_)
        return;
    uint8_t header[LogHeaderSize] = {kind, subKind, 0, 0};
    auto put32 = [&header](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = uint8_t(v >> (8 * i));
    };
    put32(4, time);
    put32(8, value);
    put32(12, data ? dataLength : 0);
    // Room for the whole entry first, so that the header and its data are never split by a drop.
    LogEntryHeader dropped;
    std::vector<uint8_t> droppedData;
    uint32_t need = LogHeaderSize + (data ? dataLength : 0);
    while (free_ < need && TakeOldest(dropped, droppedData)) {}
    Put(header, LogHeaderSize);
    if (data && dataLength)
        Put(static_cast<const uint8_t*>(data), dataLength);
}

bool DispatchLog::TakeOldest(LogEntryHeader& header, std::vector<uint8_t>& data)
{
    if (buffer_.empty() || free_ == size_)
        return false;
    uint8_t raw[LogHeaderSize];
    Get(raw, LogHeaderSize);
    auto get32 = [&raw](int at) {
        return uint32_t(raw[at]) | uint32_t(raw[at + 1]) << 8 | uint32_t(raw[at + 2]) << 16
               | uint32_t(raw[at + 3]) << 24;
    };
    header.kind = raw[0];
    header.subKind = raw[1];
    header.time = get32(4);
    header.value = get32(8);
    header.dataLength = get32(12);
    data.resize(header.dataLength);
    if (header.dataLength)
        Get(data.data(), header.dataLength);
    return true;
}

int DispatchLog::Dump(const std::string& fileName, bool append, bool allHex, bool hex, const std::string& deviceName)
{
    if (Empty()) {
        Abort();
        return 0;
    }
    on_ = false;
    int error = 0;
    File file = OpenTextFile(fileName, append, error);
    if (!file)
        return -error;
    FILE* f = file.get();
    std::fprintf(f, "FXC %s\r\n", TFxComponentCommon::LibraryVersion);
    std::fprintf(f, "Compiler : %s\r\n", CompilerText().c_str());
    std::fprintf(f, "Operating System : %s\r\n", SystemText().c_str());
    std::fprintf(f, "Device: %s\r\n", deviceName.c_str());
    std::fprintf(f, "%s\r\n", TableText(idsLogHeader1).c_str());
    std::fprintf(f, "%s\r\n", TableText(idsLogHeader2).c_str());

    static const char* const StatusTypeNames[] = {"(Not active)",         "(Modem status)",       "(Line status)",
                                                  "(Output buffer free)", "(Output buffer used)", "(Output sent)"};
    LogEntryHeader h;
    std::vector<uint8_t> data;
    while (TakeOldest(h, data)) {
        std::string subWord = h.subKind ? TableText(uint32_t(idsLogSubKindBase + h.subKind)) : std::string();
        std::fprintf(f, "%8s  %-8s  %-12s  %08x  ", FormatLogTime(h.time).c_str(),
                     TableText(uint32_t(idsLogKindBase + h.kind)).c_str(), subWord.c_str(), h.value);
        bool triggerType = h.subKind == 15 && (h.kind == 5 || h.kind == 6);
        if (triggerType && !data.empty()) {
            if (data[0] < 6)
                std::fputs(StatusTypeNames[data[0]], f);
        } else {
            int column = 45;
            for (uint8_t b : data) {
                std::string item = allHex && h.kind == 19 ? std::string(1, char(b)) : ByteItem(b, hex, allHex);
                int width = int(item.size());
                if (column + width > 79) {
                    std::fprintf(f, "\r\n%44s", "");
                    column = 45 + width;
                } else {
                    column += width;
                }
                std::fputs(item.c_str(), f);
            }
        }
        if (h.subKind == 4) {
            std::string names;
            for (int bit = 0; bit < 8; ++bit)
                if (h.value & (1u << bit))
                    names += TableText(uint32_t(idsModemStatusBitBase + bit));
            while (!names.empty() && names.back() == ' ')
                names.pop_back();
            std::fprintf(f, " (%s)", names.c_str());
        }
        std::fputs("\r\n", f);
    }
    int result = CloseTextFile(std::move(file));
    Abort();
    return result;
}

} // namespace zn::comms
