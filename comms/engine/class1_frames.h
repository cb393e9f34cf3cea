// Class 1: the T.30 control frames the program itself builds and reads, the DIS/DCS capability
// octets, the data signalling rates and their modulations, and the training check (TCF).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "fax_engine.h"

namespace zn::comms {

// T.30 facsimile control fields, as this program sends them. The X bit (0x01) that the answering
// side sets is accepted on receipt.
enum T30Fcf : uint8_t {
    fcfDIS = 0x80,
    fcfCSI = 0x40,
    fcfDCS = 0x83,
    fcfTSI = 0x43,
    fcfCFR = 0x84,
    fcfFTT = 0x44,
    fcfMCF = 0x8C,
    fcfMPS = 0x4F,
    fcfEOM = 0x8F,
    fcfEOP = 0x2F,
    fcfDCN = 0xFB,
    fcfRTN = 0x4C,
    fcfRTP = 0xCC,
};
constexpr uint8_t WithoutX(uint8_t fcf) { return uint8_t(fcf & 0xFE); }

// Modulation families, as the DIS rate field and the modem's +FTM/+FRM lists name them.
enum Modulation : uint8_t { modV27ter = 0x1, modV29 = 0x2, modV17 = 0x4 };

// One data signalling rate: its bit rate, modulation, DCS rate field (octet 2, mask 0x3C) and the
// Class 1 modulation codes for long training (TCF) and short training (page data).
struct FaxRate {
    int32_t bitRate;
    Modulation modulation;
    uint8_t dcsBits;
    const char* longCode;
    const char* shortCode;
};
// From the fastest down; at the same bit rate V.17 comes before V.29, and every rate is a step-down
// target of the ones above it.
const std::vector<FaxRate>& FaxRates();
constexpr uint8_t kDcsRateMask = 0x3C;

// The rate entries a modem offers (bit i: entry i of FaxRates), from its answer to "AT+FTM=?" or
// "AT+FRM=?"; and the modulations among them.
uint8_t RatesFromCodes(const std::string& codeList);
uint8_t ModulationsOfRates(uint8_t rates);
// The modulations a DIS rate field offers (V.27ter always, being every terminal's fall-back).
uint8_t ModulationsFromDis(uint8_t octet2);
// The DIS rate field advertising these modulations.
uint8_t DisRateBits(uint8_t modulations);
// The rate entry a DCS rate field selects; -1 for a reserved value.
int RateIndexFromDcs(uint8_t octet2);
// The fastest entry, from entry `from` on, that the modem offers (localRates), whose modulation
// the far end offers and that is not above maxBps; -1 when none.
int ChooseRate(uint8_t localRates, uint8_t remoteModulations, int32_t maxBps, int from = 0);

// Scan-time code (0..7) from DIS/DCS octet 3, and the scan-time bits of DCS octet 3.
uint8_t ScanTimeCodeFromOctet3(uint8_t octet3);
uint8_t ScanTimeBitsForDcs(uint8_t code, bool fine);

// HDLC frames as the DTE gives them to the modem after CONNECT for AT+FTH=3: address, control
// (final or not), FCF, information, DLE ETX. The modem adds the check sequence and flags.
std::vector<uint8_t> BuildFrame(uint8_t fcf, bool final, const std::vector<uint8_t>& info = {});
// TSI and CSI: the station ID, 20 characters with its last character first, blank-filled in front.
std::vector<uint8_t> BuildIdFrame(uint8_t fcf, const std::string& stationId);
// The station ID carried by a received TSI/CSI information field.
std::string StationIdFromFrame(const std::vector<uint8_t>& info);

struct DisParams { // what our DIS advertises
    uint8_t modulations = modV27ter | modV29;
};
std::vector<uint8_t> BuildDIS(const DisParams& p);

struct DcsParams {
    int rateIndex = 0;
    bool fine = false;
    bool wide = false;
    uint8_t scanTimeCode = 0;
    uint8_t remoteLength = 0;
};
std::vector<uint8_t> BuildDCS(const DcsParams& p);

// The training check: zeros for 1.5 s at the bit rate, at most 8192 bytes, then DLE ETX.
std::vector<uint8_t> BuildTCF(int32_t bitRate);

// What a receiver counted of a training check: all bytes, the non-zero ones and the longest run
// of zero bytes.
struct TrainingCount {
    int32_t bytes = 0, nonZero = 0, zeroRun = 0, longestZeroRun = 0;
    void Add(uint8_t c);
};
// The training is good when it holds a clean second of zeros at the bit rate (a modem may start
// its zeros late or end in carrier-off noise), or else when fewer than 10 % of its bytes are not zero.
bool TrainingIsGood(const TrainingCount& t, int32_t bitRate);

// A frame received after AT+FRH=3 (without DLE stuffing, without DLE ETX).
struct ReceivedFrame {
    bool valid = false; // began with the address 0xFF and held a control field and an FCF
    bool final = false;
    uint8_t fcf = 0;
    std::vector<uint8_t> info; // the bytes after the FCF (a modem may leave the check sequence in)
};
ReceivedFrame ParseFrame(const std::string& bytes);

// Session parameters a DIS or DCS gives.
struct DecodedCaps {
    uint8_t modulations = 0; // DIS
    int rateIndex = -1;      // DCS
    bool fine = false;       // DIS: can receive fine; DCS: pages are fine
    bool wide = false;       // DIS: can receive 2048-pixel rows; DCS: pages are wide
    uint8_t scanTimeCode = 0;
    uint8_t length = 0; // recording-length bits (octet 3, 0x0C)
};
DecodedCaps DecodeDIS(const std::vector<uint8_t>& info);
DecodedCaps DecodeDCS(const std::vector<uint8_t>& info);

// A Class 2 / 2.0 parameter report (text after the colon of +FDIS/+FIS, +FDCS/+FCS, +FDCC/+FCC):
// comma-separated VR,BR,WD,LN,DF,EC,BF,ST[,JP]. The resolution is a bit map in Class 2.0 (bit 0 fine).
struct Class2Params {
    bool fine = false;
    int32_t bitRate = 9600;
    int width = 0; // 0 1728, 1 2048, 2 2432 pixels
    bool ECM = false;
    uint8_t scanTimeCode = 0;
    bool valid = false;
};
Class2Params ParseClass2Params(const std::string& text, bool class20);

// The numbers of a Class 2/2.0 report ("1,8F6,5,2,0"), in order; an empty item is 0. Class 2
// writes them in decimal, Class 2.0 in hexadecimal.
std::vector<long> ReportNumbers(const std::string& text, bool class20);

} // namespace zn::comms
