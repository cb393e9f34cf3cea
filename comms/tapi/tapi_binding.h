// The TAPI line functions the line device uses, with TAPI's signatures and results, over the line
// provider installed (line_provider.h). No provider is a missing TAPI library: every wrapper then
// answers -13931 (ETapiLoadFail) and looks again on the next call; a function the provider does
// not offer answers -13932 (ETapiGetAddrFail). Otherwise the provider's answer comes back as TAPI
// gives it: 0, a positive request identifier, or a negative LINEERR value.
#pragma once

#include "comms/tapi/line_provider.h"

#include <cstdint>
#include <memory>

namespace zn::comms::tapi {

// The variable-size structures: a fixed part that starts with its total, needed and used sizes, and
// texts placed after it (offset and size from the structure's start).
struct VarHeader {
    uint32_t totalSize = 0;
    uint32_t neededSize = 0;
    uint32_t usedSize = 0;
};

struct LINEDEVCAPS : VarHeader {
    uint32_t providerInfoSize, providerInfoOffset, switchInfoSize, switchInfoOffset;
    uint32_t permanentLineId, lineNameSize, lineNameOffset, stringFormat;
    uint32_t addressModes, numAddresses, bearerModes, maxRate, mediaModes;
    uint32_t rest[33]; // tones, dialing and terminal parameters nobody reads here
    uint32_t lineFeatures;
    uint32_t rest2[9];
};
static_assert(sizeof(LINEDEVCAPS) == 236, "the 1.4 fixed part");

struct LINECALLINFO : VarHeader {
    uint32_t lineHandle, lineDeviceId, addressId, bearerMode, rate, mediaMode, appSpecific, callId, relatedCallId,
        callParamFlags, callStates;
    uint32_t monitorDigitModes, monitorMediaModes;
    uint32_t dialParams[4];
    uint32_t origin, reason, completionId, numOwners, numMonitors, countryCode, trunk;
    uint32_t callerIdFlags, callerIdSize, callerIdOffset, callerIdNameSize, callerIdNameOffset;
    uint32_t rest[42];
};
static_assert(sizeof(LINECALLINFO) == 296, "the 1.4 fixed part");

struct LINECALLSTATUS : VarHeader {
    uint32_t callState, callStateMode, callPrivilege, callFeatures, devSpecificSize, devSpecificOffset;
};
static_assert(sizeof(LINECALLSTATUS) == 36, "the 1.4 fixed part");

struct VARSTRING : VarHeader {
    uint32_t stringFormat, stringSize, stringOffset;
};

struct LINECALLPARAMS {
    uint32_t totalSize, bearerMode, minRate, maxRate, mediaMode, callParamFlags, addressMode, addressId;
    uint32_t rest[20];
};
static_assert(sizeof(LINECALLPARAMS) == 112, "as the line device builds it");

// A passthrough call's parameters (the modem handed over as it is): bearer mode PASSTHROUGH, the
// media mode given, all else zero.
inline LINECALLPARAMS PassthroughCallParams(uint32_t mediaMode = MediaModeDataModem)
{
    LINECALLPARAMS params{};
    params.totalSize = sizeof params;
    params.bearerMode = BearerModePassthrough;
    params.mediaMode = mediaMode;
    return params;
}

struct LINEEXTENSIONID {
    uint32_t id[4];
};

constexpr uint32_t CallSelectCall = 4;

// The first buffer each structure helper tries; process-wide, set once.
struct InitialSizes {
    uint32_t devCaps = 240;
    uint32_t callInfo = 296;
    uint32_t callStatus = 36;
};
InitialSizes& StructureSizes();

// A buffer a structure helper hands back.
struct FreeStructure {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using StructurePtr = std::unique_ptr<T, FreeStructure>;

int32_t lineInitialize(HLineApp* app, void* instance, LineCallback callback, const char* appName, uint32_t* numDevs);
int32_t lineShutdown(HLineApp app);
int32_t lineNegotiateAPIVersion(HLineApp app, uint32_t deviceId, uint32_t apiLowVersion, uint32_t apiHighVersion,
                                uint32_t* apiVersion, LINEEXTENSIONID* extensionId);
int32_t lineOpen(HLineApp app, uint32_t deviceId, HLine* line, uint32_t apiVersion, uint32_t extVersion,
                 uintptr_t callbackInstance, uint32_t privileges, uint32_t mediaModes, const LINECALLPARAMS* params);
int32_t lineMakeCall(HLine line, HCall* call, const char* destAddress, uint32_t countryCode,
                     const LINECALLPARAMS* params);
int32_t lineAccept(HCall call, const char* userUserInfo, uint32_t size);
int32_t lineAnswer(HCall call, const char* userUserInfo, uint32_t size);
int32_t lineDeallocateCall(HCall call);
int32_t lineDrop(HCall call, const char* userUserInfo, uint32_t size);
int32_t lineClose(HLine line);
// Class "comm/datamodem" with select CALL: the call's descriptor in the first four bytes of the
// string part.
int32_t lineGetID(HLine line, uint32_t addressId, HCall call, uint32_t select, VARSTRING* deviceId,
                  const char* deviceClass);
int32_t lineSetStatusMessages(HLine line, uint32_t lineStates, uint32_t addressStates);
int32_t lineMonitorDigits(HCall call, uint32_t digitModes);

// Structure helpers: the result, and the structure in a buffer of the size it needs (null on
// failure). The first try uses the initial size; TOOSMALL brings a try with 1024 bytes; a needed
// size beyond the buffer one more try with exactly that.
int32_t lineGetDevCaps(HLineApp app, uint32_t deviceId, uint32_t apiVersion, uint32_t extVersion,
                       StructurePtr<LINEDEVCAPS>& out);
int32_t lineGetCallInfo(HCall call, StructurePtr<LINECALLINFO>& out);
int32_t lineGetCallStatus(HCall call, StructurePtr<LINECALLSTATUS>& out);

// A text of a structure by its offset and size (a trailing NUL dropped); empty when out of bounds.
std::string StructureText(const void* structure, uint32_t offset, uint32_t size);
// `text` without its leading and trailing blanks and tabs.
std::string TrimmedText(const std::string& text);

} // namespace zn::comms::tapi
