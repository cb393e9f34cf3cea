// The fax record: all state of one fax session, in a common part (triggers, status, counters, names,
// options) and a modem part (modem strings, Class 2/2.0 keywords, Class 1 session parameters, the
// open fax file and the buffers). The fax components own it and write its settings; the send and
// receive sessions run on it.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "comms/base/error_codes.h"
#include "comms/base/fx_misc.h"
#include "comms/engine/copy_quality.h"
#include "faxdoc/apf_file.h"
#include "faxdoc/mh_coder.h"

namespace zn::comms {

class FaxPort;

// Timer values are ticks (fx_misc.h): 182 ticks are 10 s, 1092 ticks 60 s.

// Fax class in use: 0/1 detect, then the class the session runs.
enum FaxClassCode : uint8_t { fcDetect = 1, fcClass1 = 2, fcClass2 = 3, fcClass20 = 4 };

// Option bits.
constexpr uint32_t foAbortNoConnect = 0x1;
constexpr uint32_t foExitOnError = 0x2;
constexpr uint32_t foSoftwareFlow = 0x8;

// Class 2 / Class 2.0 command and response keywords.
enum KeywordSlot : int {
    kwSelectClass,
    kwIdQuery1,
    kwIdQuery2,
    kwIdQuery3,
    kwSendCapabilities,
    kwLocalID,
    kwReceiveCapabilities,
    kwConnect,
    kwRemoteCapabilities,
    kwSessionParams,
    kwTransmitID,
    kwCalledID,
    kwPageStatus,
    kwHangup,
    kwCount
};
using KeywordTable = std::array<std::string, kwCount>;
const KeywordTable& Class2Keywords();
const KeywordTable& Class20Keywords();

struct TFaxCommonRec {
    int statusTimer = 0;
    int responseTimer = 0;
    int outputFreeTrigger = 0;
    int outputSentTrigger = 0;
    int modemStatusTrigger = 0;
    int32_t StatusInterval = 1;
    uint32_t window = 0;
    FaxPort* dispatcher = nullptr;
    bool sending = false;
    bool coverPending = false;
    bool active = false;
    bool handlerRegistered = false;
    int32_t DialAttempts = 1;
    int32_t dialAttempt = 0;
    int32_t DialRetryWait = 0;
    uint32_t options = 0;
    int32_t statusCode = 0;
    int32_t errorCode = 0;
    int32_t currentPage = 0;
    int32_t totalPages = 0;
    int32_t bytesTransferred = 0;
    int32_t pageLength = 0;
    uint8_t faxClass = 0;
    std::string StationID;      // 20
    std::string remoteID;       // 20
    std::string DestinationDir; // 255
    std::string FaxFileExt = "APF";
    std::string faxFile;     // 255
    std::string coverFile;   // 255
    std::string phoneNumber; // 40
    // The last page refused for its copy quality (RTN): its number (0: the cover), and when this
    // side received and judged it, its counts.
    int32_t refusedPage = 0;
    PageQuality refusedQuality;
};

// The fax image file's layout, page flags and pre-coded blank rows are the document library's.
using faxdoc::kBlankRow1728;
using faxdoc::kBlankRow2048;
using faxdoc::kPageHighResolution;
using faxdoc::kPageLengthPrefixed;
using faxdoc::kPageWide;

struct TFaxModemRec {
    bool forceStatus = false;
    bool morePages = false;
    bool fine = false, wide = false, ECM = false;
    bool remoteFine = false, remoteWide = false;
    bool finalFrame = false;
    bool ToneDial = true;
    bool pageGood = false;
    bool lengthWords = false;
    bool apfCover = false;
    bool modemSetUp = false;
    bool atInitBaud = false;
    bool cfrSeen = false;
    bool retrain = false;
    bool BlindDial = false;
    bool DetectBusy = true;
    char ecmDigit = '0';
    char resolutionDigit = '0', previousResolution = '0';
    char faxAndDataDigit = '0';
    uint8_t scanTimeCode = 0;
    uint8_t lastFCF = 0;
    int32_t responseTimeout = 182;
    int32_t pageTimeout = 1092;
    int32_t DesiredBPS = 9600;
    int rateIndex = 0; // entry of the Class 1 rate table in use
    int32_t minimumRowBytes = 0;
    int32_t hangupCode = 0;
    int32_t pageBufferCount = 0;
    int32_t frameRetry = 0;
    int32_t DialWait = 1092;
    int32_t AnswerOnRing = 1;
    int32_t ringCounter = 0;
    int32_t bitRate = 0;
    uint32_t InitBaud = 0, NormalBaud = 0;
    std::vector<uint8_t> pageBuffer = std::vector<uint8_t>(4096);
    std::FILE* faxFile = nullptr;
    faxdoc::TApfFileHeader apfHeader;
    faxdoc::TApfPageHeader pageHeader;
    long pageHeaderOffset = 0; // file offset of the current page header
    KeywordTable keywords;
    std::string modulationCode; // "AT+FTM="/"AT+FRM=" code of the session speed
    std::string defaultInit = "ATE0Q0V1X4S0=0S2=43";
    std::string ModemInit;
    std::string DialPrefix;
    std::string openedFileName;
    int64_t responseDeadlineMs = 0;
    uint8_t localRates = 0;        // entries of the Class 1 rate table the modem offers
    uint8_t remoteModulations = 0; // families the far end's DIS offers
    uint8_t remoteLength = 0;      // recording-length bits of the far end's DIS
};

// Default init string for the dialling options.
std::string DefaultInitString(bool blindDial, bool detectBusy);
// User init string: cut to 40, upper-cased, "AT" in front when missing.
std::string NormaliseModemInit(const std::string& text);
// Bit rate digit of the Class 2/2.0 capability commands.
char BrDigit(int32_t bps);
// Bytes per coded row for the minimum scan time of the code at this resolution and bit rate.
int32_t MinimumRowBytes(uint8_t scanTimeCode, bool fine, int32_t bitRate);
// The number in the 3 characters after the first ":" of a hang-up report; 0 without a colon.
int32_t HangupCodeOf(const std::string& response);
uint8_t ReverseBits(uint8_t b);
// A station ID as a Class 2/2.0 report gives it: quotes removed, trimmed, cut to 20.
std::string StationIdFromReport(const std::string& value);

} // namespace zn::comms
