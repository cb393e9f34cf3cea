#include "comms/base/fx_misc.h"

#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/messages.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

namespace zn::comms {

uint32_t MillisecondClock() { return static_cast<uint32_t>(platform::MonotonicMs()); }

int32_t TickCount() { return static_cast<int32_t>(static_cast<uint32_t>(platform::MonotonicMs() / MsPerTick)); }

int32_t TicksToSeconds(int32_t ticks) { return static_cast<int32_t>((int64_t{ticks} + 9) * 92 / 1675); }

// Tick arithmetic is modulo 2^32: a timer's interval and the ticks elapsed since its start are both
// differences of 32-bit counts, so they stay right however often the count has wrapped meanwhile.
namespace {

uint32_t TickDiff(int32_t later, int32_t earlier)
{
    return static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier);
}

uint32_t Interval(const EventTimer& timer) { return TickDiff(timer.ExpireTicks, timer.StartTicks); }

uint32_t Elapsed(const EventTimer& timer) { return TickDiff(TickCount(), timer.StartTicks); }

} // namespace

void StartTimer(EventTimer& timer, int32_t ticks)
{
    const int32_t interval = std::clamp(ticks, 0, TickLimit);
    timer.StartTicks = TickCount();
    timer.ExpireTicks = static_cast<int32_t>(static_cast<uint32_t>(timer.StartTicks) + static_cast<uint32_t>(interval));
}

void StartTimerSecs(EventTimer& timer, int32_t seconds) { StartTimer(timer, SecondsToTicks(seconds)); }

bool TimerExpired(const EventTimer& timer) { return Elapsed(timer) > Interval(timer); }

int32_t ElapsedTicks(const EventTimer& timer)
{
    return static_cast<int32_t>(std::min<uint32_t>(Elapsed(timer), INT32_MAX));
}

int32_t ElapsedSeconds(const EventTimer& timer) { return TicksToSeconds(ElapsedTicks(timer)); }

int32_t RemainingTicks(const EventTimer& timer)
{
    const uint32_t interval = Interval(timer);
    const uint32_t elapsed = Elapsed(timer);
    return elapsed >= interval ? 0 : static_cast<int32_t>(std::min<uint32_t>(interval - elapsed, INT32_MAX));
}

int32_t RemainingSeconds(const EventTimer& timer) { return TicksToSeconds(RemainingTicks(timer)); }

uint32_t PumpOneMessage() { return platform::PumpOneMessage(); }

uint32_t DelayTicks(int32_t ticks, bool pump)
{
    if (ticks < 1)
        return 0;
    EventTimer timer;
    StartTimer(timer, ticks);
    uint32_t last = 0;
    while (!TimerExpired(timer)) {
        if (pump) {
            last = PumpOneMessage();
            if (last == QuitMessage)
                return QuitMessage;
            if (last != 0)
                continue;
        }
        // A tick is 55 ms: a short sleep keeps the wait as exact as a spin without using a processor.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return last;
}

uint32_t DelayMs(uint32_t ms)
{
    const uint32_t start = MillisecondClock();
    while (MillisecondClock() - start < ms)
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    return ms;
}

// ---- TLineReader -------------------------------------------------------------------------------

TLineReader::TLineReader(std::unique_ptr<std::istream> stream) : stream_(std::move(stream))
{
    if (stream_) {
        const std::istream::pos_type here = stream_->tellg();
        stream_->seekg(0, std::ios::end);
        const std::istream::pos_type end = stream_->tellg();
        if (here != std::istream::pos_type(-1) && end != std::istream::pos_type(-1) && end >= here) {
            size_ = static_cast<uint32_t>(std::min<std::streamoff>(end - here, UINT32_MAX));
            stream_->seekg(here);
        } else {
            size_ = UINT32_MAX; // not seekable: the end shows as an empty read
            stream_->clear();
        }
    }
    Refill();
}

void TLineReader::Refill()
{
    size_t count = 0;
    if (stream_ && stream_->good()) {
        stream_->read(block_ + 1, BlockSize);
        count = static_cast<size_t>(stream_->gcount());
    }
    bytesRead_ += static_cast<uint32_t>(count);
    endReached_ = count == 0;
    cursor_ = 1;
    if (count == 0) {
        block_[1] = 0;
    } else {
        if (block_[count] == 26)
            block_[count] = 0;
        else
            block_[count + 1] = 0;
        // The second half of a CR LF that was split between two blocks.
        if (crEndedBlock_ && block_[1] == '\n')
            cursor_ = 2;
    }
    crEndedBlock_ = false;
}

bool TLineReader::HasMoreLines() const { return !AtTerminator() || (!endReached_ && bytesRead_ < size_); }

bool TLineReader::NextLine(std::string& text)
{
    text.clear();
    if (!HasMoreLines())
        return false;
    for (;;) {
        const char* start = block_ + cursor_;
        const char* p = start;
        while (*p != 0 && *p != '\r')
            ++p;
        text.append(start, p);
        if (*p == '\r') {
            cursor_ = static_cast<size_t>(p - block_) + 1;
            if (block_[cursor_] == '\n')
                ++cursor_;
            else if (block_[cursor_] == 0)
                crEndedBlock_ = true;
            return true;
        }
        Refill();
        if (endReached_)
            return true;
    }
}

// ---- Bytes -------------------------------------------------------------------------------------

void InvertBuffer(void* buffer, size_t count)
{
    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint32_t word;
        std::memcpy(&word, bytes + i, 4);
        word = ~word;
        std::memcpy(bytes + i, &word, 4);
    }
    for (; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(~bytes[i]);
}

// ---- Paths -------------------------------------------------------------------------------------

namespace {

constexpr const char* Separators = "\\/:";

bool IsSlash(char c) { return c == '\\' || c == '/'; }

// Index where the name part of the path begins.
size_t NameStart(const std::string& path)
{
    const size_t pos = path.find_last_of(Separators);
    return pos == std::string::npos ? 0 : pos + 1;
}

// Index of the dot that begins the extension, or npos.
size_t ExtDot(const std::string& path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos || dot < NameStart(path) ? std::string::npos : dot;
}

} // namespace

std::string ExtractDirPChar(const std::string& path)
{
    const size_t pos = path.find_last_of(Separators);
    if (pos == std::string::npos)
        return {};
    std::string dir = path.substr(0, pos + 1);
    if (dir.size() > 1 && IsSlash(dir.back()) && dir[dir.size() - 2] != ':')
        dir.pop_back();
    return dir;
}

std::string ExtractNamePChar(const std::string& path) { return path.substr(NameStart(path), 255); }

std::string ExtractExtPChar(const std::string& path)
{
    const size_t dot = ExtDot(path);
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

std::string AddBackslashPChar(const std::string& path)
{
    if (path.empty() || IsSlash(path.back()) || path.back() == ':')
        return path;
    const bool backslashes = path.find('\\') != std::string::npos && path.find('/') == std::string::npos;
    return path + (backslashes ? '\\' : '/');
}

std::string AddBackslashQuoted(const std::string& text)
{
    if (text.empty() || text.back() != '"')
        return AddBackslashPChar(text);
    const std::string inner = text.substr(0, text.size() - 1);
    // A lone quote, or "" around nothing, names no folder.
    if (inner.empty() || inner == "\"")
        return text;
    return AddBackslashPChar(inner) + '"';
}

bool FileExistsPChar(const std::string& name) { return !name.empty() && platform::FileExistsCI(name); }

std::string ForceExtPChar(const std::string& path, const std::string& ext)
{
    const size_t dot = ExtDot(path);
    return (dot == std::string::npos ? path : path.substr(0, dot)) + '.' + ext;
}

std::string DefaultExtPChar(const std::string& path, const std::string& ext)
{
    return ExtDot(path) == std::string::npos ? path + '.' + ext : path;
}

} // namespace zn::comms
