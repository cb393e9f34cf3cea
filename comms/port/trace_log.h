// The two in-memory records a dispatcher can keep, and their text dumps:
//  - the trace: every byte read from ('R') or written to ('T') the port, in a ring of 2-byte entries;
//  - the dispatch log: time-stamped entries (16-byte header + data) in a byte ring that drops its
//    oldest entries whole.
// The dispatcher calls these under its general lock; they keep no lock of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zn::comms {

// Dispatch-log kinds and sub-kinds this system writes.
namespace log_kind {
constexpr uint8_t Dispatch = 1, Trigger = 2, TrigAllc = 5, TrigDisp = 6, TrgHdAlc = 7, TrgHdDsp = 8, TrDatChg = 9,
                  Fax = 11, User = 19;
}
namespace log_sub {
constexpr uint8_t ReadCom = 1, WriteCom = 2, ModemStatus = 4, Avail = 5, Timer = 6, Status = 8, TimerTrigger = 14,
                  StatusTrigger = 15, AvailTrigger = 16, Window = 17, Procedure = 18;
}

constexpr uint32_t MaxTraceEntries = 4000000;

class TraceBuffer {
public:
    // Empties an existing buffer, else allocates one; -1002 above the maximum. Tracing on.
    int Init(uint32_t entries);
    void Add(char kind, uint8_t byte);
    void Clear();
    void Start() { on_ = !buffer_.empty(); }
    void Stop() { on_ = false; }
    void Abort();
    bool On() const { return on_; }
    bool Exists() const { return !buffer_.empty(); }
    // Writes the trace as text and frees it. 0, or minus the file error.
    int Dump(const std::string& fileName, bool append, bool hex, bool allHex);

private:
    std::vector<uint8_t> buffer_; // capacity x 2 bytes
    uint32_t writePos_ = 0;
    uint32_t capacity_ = 0;
    bool wrapped_ = false;
    bool on_ = false;
};

struct LogEntryHeader {
    uint8_t kind = 0;
    uint8_t subKind = 0;
    uint32_t time = 0;
    uint32_t value = 0;
    uint32_t dataLength = 0;
};
constexpr uint32_t LogHeaderSize = 16;

class DispatchLog {
public:
    // Empties an existing log, else allocates size bytes and an entry buffer of dataSize. Logging on.
    void Init(uint32_t size, uint32_t dataSize);
    void Add(uint8_t kind, uint8_t subKind, uint32_t time, uint32_t value, uint32_t dataLength, const void* data);
    void Clear();
    void Start() { on_ = !buffer_.empty(); }
    void Stop() { on_ = false; }
    void Abort();
    bool On() const { return on_; }
    bool Empty() const { return buffer_.empty() || free_ == size_; }
    // Takes the oldest entry out (its data into the entry buffer). False when empty.
    bool TakeOldest(LogEntryHeader& header, std::vector<uint8_t>& data);
    // Writes the log as text and frees it. 0, or minus the file error (the log stays then).
    int Dump(const std::string& fileName, bool append, bool allHex, bool hex, const std::string& deviceName);

private:
    void Put(const uint8_t* bytes, uint32_t count);
    void Get(uint8_t* bytes, uint32_t count);

    std::vector<uint8_t> buffer_;
    uint32_t writePos_ = 0;
    uint32_t readPos_ = 0;
    uint32_t free_ = 0;
    uint32_t size_ = 0;
    uint32_t dataSize_ = 0;
    bool on_ = false;
};

// "%07.7d" of the milliseconds with the point before the last three digits and at least four digits
// in front of it: 12345 gives "0012.345", 10000000 gives "10000.000".
std::string FormatLogTime(uint32_t ms);

// The operating-system line of the dump header; tests set a fixed text.
void SetLogSystemTextForTest(const std::string& text);

} // namespace zn::comms
