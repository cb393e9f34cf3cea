// The modem command layer every session uses: commands with CR and the response they wait for, the
// collector that turns the modem's bytes into response lines and HDLC frames, the synchronous
// command of the prepare steps, class detection, baud switching, hang-up, the DLE-doubling writers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "fax_engine.h"
#include "comms/base/fx_misc.h"
#include "fax_port.h"

namespace zn::comms {

// Milliseconds of the monotonic clock, for deadlines that must not wrap.
int64_t NowMs();

// What a response line of the modem says. A line is classified once, when it is complete; the
// sessions' steps look only at its class (and read report lines by their keyword).
enum class ModemReply : uint8_t {
    None, // no line, or a frame
    Ok,
    Connect,
    NoCarrier, // "NO CARRIER"
    Error,
    FcError, // "+FCERROR": another carrier than the one asked for; the command is given again
    Busy,
    NoAnswer,   // "NO ANSWER"
    Voice,      // "VOICE", "VCON"
    NoDialTone, // "NO DIALTONE", "NO DIAL TONE"
    Ring,
    Report, // a Class 2/2.0 report "+F...": its text is the far end's, and says no result
    Other,
};
ModemReply ClassifyReply(const std::string& line);

// Collects the modem's bytes into response lines (ended by CR LF, trimmed, never empty) and HDLC
// frames. A frame begins at its address byte 0xFF, which no response line holds; inside it DLE DLE
// stands for one DLE, CR and LF are data, and only an un-stuffed DLE ETX ends it.
class ResponseCollector {
public:
    enum Item { None, Line, Frame };
    void Clear();
    Item Add(uint8_t c);
    // The last complete line, or the bytes of the last complete frame.
    const std::string& Text() const { return text_; }
    bool Has(const char* word) const { return text_.find(word) != std::string::npos; }
    // The class of the last complete line; None after a frame or Clear.
    ModemReply Reply() const { return reply_; }
    bool InFrame() const { return inFrame_; }

private:
    std::string buffer_;
    std::string text_;
    ModemReply reply_ = ModemReply::None;
    bool inFrame_ = false;
    bool dle_ = false;
};

// Joins stored rows into one bit stream for the line: each row's EOL as twelve bits (eleven zeros
// and a one) right behind the previous row, without the sixteen-bit EOL, the byte alignment and
// the fill of the stored form. A row is padded with zero bits to the minimum scan-line length.
class RowPacker {
public:
    // Appends a stored row (it must begin with an EOL); false leaves it to be sent as it is.
    bool AddRow(const std::vector<uint8_t>& row, int32_t minimumBits);
    // Ends the stream at a byte boundary (zero fill bits, as in front of an EOL).
    void Flush();
    std::vector<uint8_t>& Bytes() { return bytes_; }
    void Reset()
    {
        bytes_.clear();
        acc_ = 0;
        bits_ = 0;
    }

private:
    void Put(uint32_t bit);
    std::vector<uint8_t> bytes_;
    uint32_t acc_ = 0;
    int bits_ = 0;
};

class FaxModemCommands {
public:
    FaxModemCommands();
    virtual ~FaxModemCommands();

    TFaxCommonRec common;
    TFaxModemRec modem;
    ResponseCollector response;

    FaxPort& Port() { return *common.dispatcher; }

    // Waits (100 ms; 40 ms for the frame commands AT+FRH=3 / AT+FTH=3), writes the text and CR,
    // and on success resets the response. waitMs 0 sends at once.
    [[nodiscard]] int SendCommand(const std::string& text, int waitMs = 100);
    [[nodiscard]] int SendFrameCommand(const std::string& text) { return SendCommand(text, 40); }
    // Clears the response and arms the response timer (and the response deadline).
    void ResponseReset(int32_t ticks = -1);
    void ArmResponseTimer(int32_t ticks);
    void StopResponseTimer();
    bool ResponseDeadlinePassed() const { return NowMs() >= modem.responseDeadlineMs; }
    ModemReply Reply() const { return response.Reply(); }
    bool IsOK() const { return Reply() == ModemReply::Ok; }
    bool IsConnect() const { return Reply() == ModemReply::Connect; }
    bool IsNoCarrier() const { return Reply() == ModemReply::NoCarrier; }
    bool IsFcError() const { return Reply() == ModemReply::FcError; }
    bool IsError() const { return Reply() == ModemReply::Error; }
    bool IsHangupWord() const;
    // A Class 2/2.0 report line of this keyword ("+FCSI:..."), and the text after its colon.
    bool KeywordLine(int slot) const;
    std::string KeywordValue() const;
    // The first character of a report's value, or of a bare value line ("+FPTS:1,..." and "1,..."
    // give '1'); 0 when there is none.
    char ReportDigit() const;

    // Synchronous command of the prepare steps: sends the text, reads the answer lines directly
    // (the port's notifications held meanwhile). True for OK, or for a line followed by another.
    // The lines other than the echo are kept in syncLines.
    bool SynchronousCommand(const std::string& text, int32_t ticks = -1);
    std::vector<std::string> syncLines;
    // AT+FCLASS=? → the classes offered.
    struct Classes {
        bool class1 = false, class2 = false, class20 = false, answered = false;
    };
    Classes DetectClasses(bool withInit);
    // The modulations of AT+FTM=? (transmit) or AT+FRM=? (receive), after AT+FCLASS=1.
    bool QueryModemSpeeds(bool transmit);

    void BaudSwitch(bool toInit);
    void HangupByDtr();
    // Whether the modem hangs up when DTR drops, as its set-up commands left it.
    bool ModemHangsUpOnDtr() const;
    // Drops DTR until the carrier goes (bounded) and raises it again: true when the carrier went.
    bool HangupByDtrConfirmed();
    void SendSideHangup(bool inDataMode);
    void ReceiveSideHangup();
    void DrainInput();
    void LoadKeywords();

    // DLE-doubling writers. The row variant pads to the minimum row bytes and counts the bytes.
    [[nodiscard]] int WriteStuffed(const uint8_t* data, size_t n);
    [[nodiscard]] int WriteRow(const std::vector<uint8_t>& row);
    [[nodiscard]] int WriteBlankRows(int n, bool wide);
    [[nodiscard]] int WriteRaw(const uint8_t* data, size_t n);
    [[nodiscard]] int WriteZeros(size_t n);
    // Bytes handed to the port so far (commands, frames and page data).
    int64_t BytesWritten() const { return bytesWritten_; }

    // The session's own sends: a failed command or write is kept (the first one counts) and ends
    // the session after its pass, so that no step goes on as if the modem had it.
    void Command(const std::string& text, int waitMs = 100) { Keep(SendCommand(text, waitMs)); }
    void FrameCommand(const std::string& text) { Keep(SendFrameCommand(text)); }
    void Keep(int rc)
    {
        if (rc < 0 && writeFailure_ == 0)
            writeFailure_ = rc;
    }
    // The kept failure, cleared; 0 when every send went through.
    int TakeWriteFailure()
    {
        int rc = writeFailure_;
        writeFailure_ = 0;
        return rc;
    }

    // Recomputes the minimum row bytes from the scan time, resolution and bit rate.
    void UpdateMinimumRowBytes();

protected:
    bool ReadLineDirect(std::string& line, int64_t deadlineMs);
    std::vector<uint8_t> stuffed_;
    int writeFailure_ = 0;
    int64_t bytesWritten_ = 0;
};

} // namespace zn::comms
