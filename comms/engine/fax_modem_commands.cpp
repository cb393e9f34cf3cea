#include "fax_modem_commands.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "class1_frames.h"
#include "platform/clock.h"

namespace zn::comms {

namespace {
constexpr uint8_t DLE = 0x10, ETX = 0x03;
constexpr size_t kResponseCapacity = 128;
constexpr size_t kFrameCapacity = 1024;
constexpr int kStuffedCapacity = 8192;

std::string Trim(const std::string& s)
{
    auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}
} // namespace

int64_t NowMs() { return int64_t(platform::MonotonicMs()); }

ModemReply ClassifyReply(const std::string& line)
{
    if (line.empty())
        return ModemReply::None;
    // "+FCERROR" is a result code of its own, not an ERROR.
    if (line.find("+FCERROR") != std::string::npos)
        return ModemReply::FcError;
    if (line.compare(0, 2, "+F") == 0)
        return ModemReply::Report;
    // Looked for anywhere in the line, in this order: a modem may put a code or a speed around
    // its words, and "NO CARRIER" may come with its first letters lost to the carrier's end.
    static const struct {
        const char* word;
        ModemReply reply;
    } kWords[] = {
        {"ERROR", ModemReply::Error}, {"RRIER", ModemReply::NoCarrier}, {"CONNECT", ModemReply::Connect},
        {"OK", ModemReply::Ok},       {"BUSY", ModemReply::Busy},       {"ANSWER", ModemReply::NoAnswer},
        {"VOICE", ModemReply::Voice}, {"VCON", ModemReply::Voice},      {"NO DIAL", ModemReply::NoDialTone},
        {"RING", ModemReply::Ring},
    };
    for (const auto& w : kWords)
        if (line.find(w.word) != std::string::npos)
            return w.reply;
    return ModemReply::Other;
}

void ResponseCollector::Clear()
{
    buffer_.clear();
    text_.clear();
    reply_ = ModemReply::None;
    inFrame_ = false;
    dle_ = false;
}

ResponseCollector::Item ResponseCollector::Add(uint8_t c)
{
    if (inFrame_) {
        if (dle_) {
            dle_ = false;
            if (c == ETX) {
                inFrame_ = false;
                text_ = buffer_;
                reply_ = ModemReply::None;
                buffer_.clear();
                return Frame;
            }
            // DLE DLE is one DLE; a DLE before anything else is dropped.
        } else if (c == DLE) {
            dle_ = true;
            return None;
        }
        if (buffer_.size() < kFrameCapacity)
            buffer_ += char(c);
        return None;
    }
    if (c == 0xFF) {
        // Whatever came before the address byte is line noise.
        inFrame_ = true;
        dle_ = false;
        buffer_.assign(1, char(c));
        return None;
    }
    if (c < 0x20 && c != '\r' && c != '\n')
        return None; // flow control characters (XON, XOFF) and other noise between responses
    buffer_ += char(c);
    if (buffer_.size() > kResponseCapacity)
        buffer_.erase(0, buffer_.size() - kResponseCapacity);
    if (c == '\n' && buffer_.size() >= 2 && buffer_[buffer_.size() - 2] == '\r') {
        std::string line = Trim(buffer_);
        buffer_.clear();
        if (!line.empty()) {
            text_ = line;
            reply_ = ClassifyReply(text_);
            return Line;
        }
    }
    return None;
}

void RowPacker::Put(uint32_t bit)
{
    acc_ |= bit << bits_;
    if (++bits_ == 8) {
        bytes_.push_back(uint8_t(acc_));
        acc_ = 0;
        bits_ = 0;
    }
}

bool RowPacker::AddRow(const std::vector<uint8_t>& row, int32_t minimumBits)
{
    size_t total = row.size() * 8, first = 0;
    while (first < total && !(row[first / 8] & (1u << (first % 8))))
        ++first;
    if (first < 11 || first == total)
        return false; // no EOL in front: not a row this packer may move
    size_t last = total - 1;
    while (!(row[last / 8] & (1u << (last % 8))))
        --last;
    int32_t written = 0;
    for (int i = 0; i < 11; ++i, ++written)
        Put(0);
    for (size_t b = first; b <= last; ++b, ++written)
        Put((row[b / 8] >> (b % 8)) & 1u);
    // No MH code ends in more than three zeros: three of the zeros behind the last one bit keep
    // any code whole, the rest is fill.
    for (size_t z = 0; z < std::min<size_t>(total - 1 - last, 3); ++z, ++written)
        Put(0);
    for (; written < minimumBits; ++written)
        Put(0);
    return true;
}

void RowPacker::Flush()
{
    while (bits_ != 0)
        Put(0);
}

FaxModemCommands::FaxModemCommands() { stuffed_.reserve(kStuffedCapacity); }

FaxModemCommands::~FaxModemCommands()
{
    if (modem.faxFile)
        std::fclose(modem.faxFile);
}

bool FaxModemCommands::IsHangupWord() const
{
    return !modem.keywords[kwHangup].empty() && response.Has(modem.keywords[kwHangup].c_str());
}

bool FaxModemCommands::KeywordLine(int slot) const
{
    const std::string& kw = modem.keywords[size_t(slot)];
    const std::string& t = response.Text();
    if (kw.empty() || t.compare(0, kw.size(), kw) != 0)
        return false;
    return t.size() == kw.size() || t[kw.size()] == ':' || t[kw.size()] == ' ';
}

std::string FaxModemCommands::KeywordValue() const
{
    const std::string& t = response.Text();
    auto colon = t.find(':');
    if (colon == std::string::npos)
        return {};
    auto first = t.find_first_not_of(' ', colon + 1);
    return first == std::string::npos ? std::string() : t.substr(first);
}

char FaxModemCommands::ReportDigit() const
{
    const std::string& t = response.Text();
    auto colon = t.find(':');
    auto first = t.find_first_not_of(' ', colon == std::string::npos ? 0 : colon + 1);
    return first == std::string::npos ? 0 : t[first];
}

int FaxModemCommands::SendCommand(const std::string& text, int waitMs)
{
    if (waitMs > 0)
        DelayMs(uint32_t(waitMs));
    int rc = Port().WriteString(text + "\r");
    if (rc >= 0) {
        ResponseReset();
        rc = 0;
    }
    return rc;
}

void FaxModemCommands::ArmResponseTimer(int32_t ticks)
{
    Port().SetTimerTrigger(common.responseTimer, ticks, true);
    modem.responseDeadlineMs = NowMs() + int64_t(ticks) * MsPerTick;
}

void FaxModemCommands::StopResponseTimer() { Port().SetTimerTrigger(common.responseTimer, 0, false); }

void FaxModemCommands::ResponseReset(int32_t ticks)
{
    response.Clear();
    ArmResponseTimer(ticks < 0 ? modem.responseTimeout : ticks);
}

bool FaxModemCommands::ReadLineDirect(std::string& line, int64_t deadlineMs)
{
    line.clear();
    while (NowMs() < deadlineMs) {
        uint8_t c;
        if (Port().ReadChar(c) != 0) {
            DelayMs(2);
            continue;
        }
        if (c == '\r') {
            if (!line.empty())
                return true;
        } else if (c >= 32) {
            line += char(c);
        }
    }
    return false;
}

bool FaxModemCommands::SynchronousCommand(const std::string& text, int32_t ticks)
{
    syncLines.clear();
    bool old = Port().ExchangeBusy(true);
    bool result = false;
    if (Port().WriteString(text + "\r") >= 0) {
        int64_t deadline = NowMs() + int64_t(ticks < 0 ? modem.responseTimeout : ticks) * MsPerTick;
        std::string line;
        bool first = true;
        while (ReadLineDirect(line, deadline)) {
            if (line == text)
                continue; // echo
            if (line.find("ERROR") != std::string::npos)
                break;
            if (line.find("OK") != std::string::npos) {
                result = true;
                break;
            }
            syncLines.push_back(line);
            if (!first) {
                result = true;
                break;
            }
            first = false;
        }
    }
    DrainInput();
    Port().ExchangeBusy(old);
    return result;
}

FaxModemCommands::Classes FaxModemCommands::DetectClasses(bool withInit)
{
    Classes c;
    if (withInit && !SynchronousCommand(modem.defaultInit) && !SynchronousCommand(modem.defaultInit)
        && syncLines.empty())
        return c;
    if (!SynchronousCommand("AT+FCLASS=?") || syncLines.empty())
        return c;
    std::string list = Trim(syncLines.front());
    auto sep = list.find_first_of(":=");
    if (sep != std::string::npos)
        list = list.substr(sep + 1);
    c.answered = true;
    c.class1 = list.find('1') != std::string::npos;
    c.class20 = list.find("2.0") != std::string::npos;
    c.class2 = c.class20 ? list.find("2,") != std::string::npos || (list.size() >= 1 && list.back() == '2')
                         : list.find('2') != std::string::npos;
    return c;
}

bool FaxModemCommands::QueryModemSpeeds(bool transmit)
{
    modem.localRates = 0xC0; // 4800 and 2400: every Class 1 modem has them
    if (!SynchronousCommand("AT+FCLASS=1"))
        return false;
    bool old = Port().ExchangeBusy(true);
    bool written = Port().WriteString(transmit ? "AT+FTM=?\r" : "AT+FRM=?\r") == 0;
    int64_t deadline = NowMs() + int64_t(modem.responseTimeout) * MsPerTick;
    std::string line;
    bool got = false;
    while (written && ReadLineDirect(line, deadline)) {
        if (line.find(',') != std::string::npos) {
            modem.localRates |= RatesFromCodes(line);
            got = true;
        }
        if (line.find("OK") != std::string::npos || line.find("ERROR") != std::string::npos)
            break;
        deadline = NowMs() + 36 * MsPerTick;
    }
    DrainInput();
    Port().ExchangeBusy(old);
    return got;
}

void FaxModemCommands::BaudSwitch(bool toInit)
{
    if (modem.InitBaud == 0)
        return;
    if (toInit && !modem.atInitBaud) {
        Port().SetLineBaud(19200);
        DelayTicks(9, false);
        Port().SetLineBaud(modem.InitBaud);
        modem.atInitBaud = true;
    } else if (!toInit && modem.atInitBaud) {
        Port().SetLineBaud(19200);
        DelayTicks(9, false);
        Port().SetLineBaud(modem.NormalBaud ? modem.NormalBaud : 19200);
        modem.atInitBaud = false;
    }
}

void FaxModemCommands::HangupByDtr()
{
    Port().DiscardInput();
    Port().DiscardOutput();
    Port().SetModemLines(false, false);
    DelayMs(500);
    Port().SetModemLines(true, true);
    DelayMs(500);
}

bool FaxModemCommands::ModemHangsUpOnDtr() const
{
    // The set-up commands in the order the modem got them: the last &D counts. &D2 (hang up) and
    // &D3 (hang up and reset) end the call on DTR, as does the factory setting (&F, and a modem
    // told nothing); &D0 ignores DTR and &D1 only returns to command state ("&D" alone is &D0).
    bool hangsUp = true;
    for (const std::string* text : {&modem.defaultInit, &modem.ModemInit}) {
        for (size_t i = 0; i + 1 < text->size(); ++i) {
            if ((*text)[i] != '&')
                continue;
            char what = char(std::toupper(static_cast<unsigned char>((*text)[i + 1])));
            if (what == 'F')
                hangsUp = true;
            else if (what == 'D')
                hangsUp = i + 2 < text->size() && ((*text)[i + 2] == '2' || (*text)[i + 2] == '3');
        }
    }
    return hangsUp;
}

bool FaxModemCommands::HangupByDtrConfirmed()
{
    // A modem needs DTR low for some tens of milliseconds before it takes it as a hang-up; its
    // carrier going says it did. One that keeps its carrier this long did not hang up.
    constexpr int64_t kDtrLowMinMs = 250;
    constexpr int64_t kDtrLowMaxMs = 500;
    Port().DiscardOutput();
    Port().DiscardInput();
    if (Port().SetDtrLine(false) != 0)
        return false; // DTR is under flow control: not ours to drop
    Port().SetModemLines(false, false); // RTS too, unless it is under flow control
    const int64_t dropped = NowMs();
    while (NowMs() - dropped < kDtrLowMaxMs && (NowMs() - dropped < kDtrLowMinMs || Port().ReadCarrier()))
        DelayMs(20);
    const bool hungUp = !Port().ReadCarrier();
    Port().SetModemLines(true, true);
    DelayMs(100); // what the modem says as it hangs up ("NO CARRIER", "OK")
    DrainInput();
    return hungUp;
}

void FaxModemCommands::SendSideHangup(bool inDataMode)
{
    if (Port().ReadCarrier() && ModemHangsUpOnDtr()) {
        // Dropping DTR ends the call at once; the escape sequence's guard times cost seconds.
        if (HangupByDtrConfirmed())
            return;
        inDataMode = true; // the modem ignored DTR: it may still take page data
    }
    if (inDataMode) {
        // Page data or TCF still flows to the modem: drop what is queued and end the data, so
        // that the modem takes the next line as a command again.
        Port().DiscardOutput();
        const uint8_t end[2] = {DLE, ETX};
        Port().WriteBlock(end, 2);
        DelayMs(1000);
    }
    if (Port().ReadCarrier()) {
        DelayMs(1000);
        Keep(Port().WriteString("+++"));
        DelayMs(1000);
        Keep(Port().WriteString("ATH\r"));
        DelayMs(1000);
        DrainInput();
        if (Port().ReadCarrier())
            HangupByDtr();
    } else {
        Keep(Port().WriteString("ATH\r"));
        DelayMs(1000);
        DrainInput();
    }
}

void FaxModemCommands::ReceiveSideHangup()
{
    Port().SetDtrLine(false);
    DelayMs(1000);
    Keep(Port().WriteString("+++"));
    DelayMs(1000);
    Keep(Port().WriteString("ATH\r"));
    DelayMs(1000);
    Port().SetDtrLine(true);
    DrainInput();
}

void FaxModemCommands::DrainInput()
{
    uint8_t c;
    while (Port().ReadChar(c) == 0) {}
}

void FaxModemCommands::LoadKeywords()
{
    if (common.faxClass == fcClass2)
        modem.keywords = Class2Keywords();
    else if (common.faxClass == fcClass20)
        modem.keywords = Class20Keywords();
}

int FaxModemCommands::WriteRaw(const uint8_t* data, size_t n)
{
    // The output buffer may be fuller than the block; wait for room, a little at a time.
    int64_t deadline = NowMs() + int64_t(modem.pageTimeout) * MsPerTick;
    while (n > 0) {
        uint32_t room = Port().OutputFree();
        if (room == 0) {
            if (NowMs() >= deadline)
                return ecTimeout;
            DelayMs(2);
            continue;
        }
        uint32_t piece = uint32_t(std::min<size_t>(n, room));
        int rc = Port().WriteBlock(data, piece);
        if (rc < 0) {
            if (NowMs() >= deadline)
                return rc;
            DelayMs(2);
            continue;
        }
        data += piece;
        n -= piece;
        bytesWritten_ += piece;
    }
    return 0;
}

int FaxModemCommands::WriteStuffed(const uint8_t* data, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        stuffed_.push_back(data[i]);
        if (data[i] == DLE)
            stuffed_.push_back(DLE);
        if (stuffed_.size() >= size_t(kStuffedCapacity) - 1) {
            int rc = WriteRaw(stuffed_.data(), stuffed_.size());
            stuffed_.clear();
            if (rc)
                return rc;
        }
    }
    int rc = stuffed_.empty() ? 0 : WriteRaw(stuffed_.data(), stuffed_.size());
    stuffed_.clear();
    return rc;
}

int FaxModemCommands::WriteRow(const std::vector<uint8_t>& row)
{
    if (int32_t(row.size()) >= modem.minimumRowBytes) {
        common.bytesTransferred += int32_t(row.size());
        return WriteStuffed(row.data(), row.size());
    }
    std::vector<uint8_t> padded(row);
    padded.resize(size_t(modem.minimumRowBytes), 0);
    common.bytesTransferred += int32_t(padded.size());
    return WriteStuffed(padded.data(), padded.size());
}

int FaxModemCommands::WriteBlankRows(int n, bool wide)
{
    std::vector<uint8_t> rows;
    const uint8_t* blank = wide ? kBlankRow2048 : kBlankRow1728;
    for (int i = 0; i < n; ++i) {
        rows.insert(rows.end(), blank, blank + 6);
        if (modem.minimumRowBytes >= 7)
            rows.insert(rows.end(), size_t(modem.minimumRowBytes - 5), 0);
    }
    return WriteStuffed(rows.data(), rows.size());
}

int FaxModemCommands::WriteZeros(size_t n)
{
    std::vector<uint8_t> z(n, 0);
    return WriteRaw(z.data(), z.size());
}

void FaxModemCommands::UpdateMinimumRowBytes()
{
    modem.minimumRowBytes = MinimumRowBytes(modem.scanTimeCode, modem.fine, modem.bitRate);
}

} // namespace zn::comms
