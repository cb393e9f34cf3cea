// The comms library's base helpers: the millisecond clock and the 55 ms tick every library
// time-out is counted in, event timers, delays, the text-line reader, path helpers and the base
// classes of the library's components.
#pragma once
#include "platform/messages.h"
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <type_traits>

namespace zn::comms {

// ---- Clock and ticks ---------------------------------------------------------------------------

constexpr int32_t MsPerTick = 55;
// Longest interval a timer holds (2^31 div 55 ticks, about 24.8 days); longer ones are cut to it.
constexpr int32_t TickLimit = 39045157;

// Milliseconds since program start, 32-bit: wraps every 49.7 days.
uint32_t MillisecondClock();
// 55 ms ticks since program start. Counted from the 64-bit clock and cut to 32 bits, so the count
// wraps only at 2^32 ticks and steps by exactly one across every wrap of the 32-bit millisecond
// clock; timers compare ticks modulo 2^32.
int32_t TickCount();

// seconds x 1675 div 92: SecondsToTicks(1) = 18, SecondsToTicks(60) = 1092.
constexpr int32_t SecondsToTicks(int32_t seconds) { return static_cast<int32_t>(int64_t{seconds} * 1675 / 92); }
// (ticks + 9) x 92 div 1675: TicksToSeconds(18) = 1.
int32_t TicksToSeconds(int32_t ticks);

// ---- Event timers ------------------------------------------------------------------------------

// Two tick counts, in this order; fax records and the dispatcher's timer triggers embed it.
struct EventTimer {
    int32_t StartTicks = 0;
    int32_t ExpireTicks = 0;
};
static_assert(sizeof(EventTimer) == 8, "event timers are stored in fixed record layouts");

void StartTimer(EventTimer& timer, int32_t ticks);
void StartTimerSecs(EventTimer& timer, int32_t seconds);
// Expired once more ticks than the interval have passed since the start: a timer of 0 ticks is not
// expired in its own tick and is in the next. Correct across any wrap of the tick count.
bool TimerExpired(const EventTimer& timer);
int32_t ElapsedTicks(const EventTimer& timer);
int32_t ElapsedSeconds(const EventTimer& timer);
int32_t RemainingTicks(const EventTimer& timer); // never below 0
int32_t RemainingSeconds(const EventTimer& timer);

// ---- Delays ------------------------------------------------------------------------------------

constexpr uint32_t QuitMessage = platform::WM_QUIT_MSG;

// Handles at most one pending message of the calling thread. Returns 0 when none was pending,
// QuitMessage when a quit request is pending (it stays pending so that the main loop still ends),
// else message number (low 16 bits) + window handle (low 16 bits) x 65536.
uint32_t PumpOneMessage();
// Waits the given ticks (at most TickLimit). With pump, keeps the thread's messages moving and
// stops at once on a quit request, returning QuitMessage; otherwise returns the last value of
// PumpOneMessage (0 without pump). Ticks below 1 return 0 at once.
uint32_t DelayTicks(int32_t ticks, bool pump);
// Waits until the millisecond clock has advanced by at least ms; returns ms.
uint32_t DelayMs(uint32_t ms);

// ---- Text lines --------------------------------------------------------------------------------

// Cuts a stream into lines ending in CR or CR LF; a lone LF is text. A CR LF split across two reads
// counts as one line break. A Ctrl-Z as the last byte of the stream ends the text, and a NUL byte
// ends the text of the block it is in. The last line is returned even without a CR.
class TLineReader {
public:
    static constexpr size_t BlockSize = 4096;

    explicit TLineReader(std::unique_ptr<std::istream> stream);
    TLineReader(const TLineReader&) = delete;
    TLineReader& operator=(const TLineReader&) = delete;

    // The next line into text. False (and text empty) when the text is used up.
    bool NextLine(std::string& text);
    bool HasMoreLines() const;

    uint32_t StreamSize() const { return size_; }
    uint32_t BytesRead() const { return bytesRead_; }

private:
    void Refill();
    bool AtTerminator() const { return block_[cursor_] == 0; }

    // A leading byte (the last CR-LF check looks one byte back) and a trailing terminator.
    char block_[BlockSize + 2] = {};
    size_t cursor_ = 1;
    std::unique_ptr<std::istream> stream_;
    uint32_t size_ = 0;
    uint32_t bytesRead_ = 0;
    bool endReached_ = false;
    bool crEndedBlock_ = false; // the last line ended in a CR that was the block's last byte
};

// ---- Bytes and bits ----------------------------------------------------------------------------

inline bool FlagIsSet(uint32_t value, uint32_t mask) { return (value & mask) != 0; }

template <typename T>
T* PointerAdd(T* pointer, ptrdiff_t count)
{
    using Byte = std::conditional_t<std::is_const_v<T>, const char, char>;
    return reinterpret_cast<T*>(reinterpret_cast<Byte*>(pointer) + count);
}

// Inverts every byte (NOT) of a raster row: four bytes at a time, then the rest one by one.
void InvertBuffer(void* buffer, size_t count);

// ---- Paths -------------------------------------------------------------------------------------
// Separators are "\" (and "/", which this system's own paths use) and the drive colon ":".

// The text before the last separator. A trailing "\" is kept only after a ":" ("C:\") or when it is
// the whole directory ("\"); empty when the path has no separator.
std::string ExtractDirPChar(const std::string& path);
// The text after the last separator, at most 255 characters.
std::string ExtractNamePChar(const std::string& path);
// The extension of the name without its dot; empty when there is none.
std::string ExtractExtPChar(const std::string& path);
// The path with a separator appended unless it is empty or ends in a separator or ":". The separator
// is "\" for a path written with "\" only, else "/".
std::string AddBackslashPChar(const std::string& path);
// As AddBackslashPChar for a path that may be enclosed in double quotes: the closing quote stays last.
std::string AddBackslashQuoted(const std::string& text);
// Whether the file exists; the name is matched without regard to letter case.
bool FileExistsPChar(const std::string& name);
// The path with its extension (if any) replaced by "." + ext.
std::string ForceExtPChar(const std::string& path, const std::string& ext);
// The path with "." + ext appended when it has no extension.
std::string DefaultExtPChar(const std::string& path, const std::string& ext);

// ---- Component bases ---------------------------------------------------------------------------

// What every library component shares: the Version property, which reads "v3.06" and ignores
// writes (so that it is saved with a form but never read back), and the loading-from-form state
// during which failing setters stay silent.
class TFxComponentCommon {
public:
    static constexpr const char* LibraryVersion = "v3.06";

    virtual ~TFxComponentCommon() = default;
    std::string Version() const { return LibraryVersion; }
    void SetVersion(const std::string&) {}

    bool Loading() const { return loading_; }
    void SetLoading(bool loading) { loading_ = loading; }

private:
    bool loading_ = false;
};

// Base of every non-visual library component.
class TFxBaseComponent : public TFxComponentCommon {};
// Base of the windowed library controls; the control's widget class derives from it as well.
class TFxBaseWinControl : public TFxComponentCommon {};

} // namespace zn::comms
