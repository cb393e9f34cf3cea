// Result codes of the comms library: 0 is success, every failure a negative code. The text of code c
// is entry |c| of the "FXC_ERROR_STRINGS_ENGLISH" string table (ErrorCodeToText).
#pragma once
#include <cstdint>

namespace zn::comms {

constexpr int ecOK = 0;

// File and device errors: minus the DOS-style I/O code of platform/io_error.h.
constexpr int ecFileNotFound = -2;
constexpr int ecPathNotFound = -3;
constexpr int ecTooManyFiles = -4;
constexpr int ecAccessDenied = -5;
constexpr int ecInvalidHandle = -6;
constexpr int ecOutOfMemory = -8;
constexpr int ecInvalidDrive = -15;
constexpr int ecNoMoreFiles = -18;
constexpr int ecDiskRead = -100;
constexpr int ecDiskFull = -101;
constexpr int ecNotAssigned = -102;
constexpr int ecNotOpen = -103;
constexpr int ecNotOpenInput = -104;
constexpr int ecNotOpenOutput = -105;
constexpr int ecWriteProtected = -150;
constexpr int ecUnknownUnit = -151;
constexpr int ecDriveNotReady = -152;
constexpr int ecUnknownCommand = -153;
constexpr int ecCRCError = -154;
constexpr int ecBadStructLen = -155;
constexpr int ecSeekError = -156;
constexpr int ecUnknownMedia = -157;
constexpr int ecSectorNotFound = -158;
constexpr int ecOutOfPaper = -159;
constexpr int ecDeviceWrite = -160;
constexpr int ecDeviceRead = -161;
constexpr int ecHardwareFailure = -162;
// Codes -2 to -162 are file and device errors (the input/output exception carries |code|).
constexpr int ecLastIoError = -162;

// General.
constexpr int ecBadArgument = -1002;
constexpr int ecGotQuitMsg = -1003;
constexpr int ecBufferTooBig = -1004;
constexpr int ecPortNotAssigned = -1005;
constexpr int ecInternal = -1006;
constexpr int ecModemNotAssigned = -1007;
constexpr int ecPhonebookNotAssigned = -1008;
constexpr int ecCannotUseWithWinSock = -1009;

// Opening a port.
constexpr int ecBadId = -2001;
constexpr int ecBaudRate = -2002;
constexpr int ecByteSize = -2003;
constexpr int ecDefault = -2004;
constexpr int ecHardware = -2005;
constexpr int ecMemory = -2006;
constexpr int ecCommNotOpen = -2007;
constexpr int ecAlreadyOpen = -2008;
constexpr int ecNoHandles = -2009;
constexpr int ecNoTimers = -2010;
constexpr int ecNoPortSelected = -2011;
constexpr int ecNotOpenedByTapi = -2012;

// Serial input and output.
constexpr int ecNullApi = -3001;
constexpr int ecRegisterHandlerFailed = -3003;
constexpr int ecPutBlockFail = -3004;
constexpr int ecGetBlockFail = -3005;
constexpr int ecOutputBufferTooSmall = -3006;
constexpr int ecBufferIsEmpty = -3007;
constexpr int ecTracingNotEnabled = -3008;
constexpr int ecLoggingNotEnabled = -3009;
constexpr int ecBaseAddressNotSet = -3010;

// Modem and dialer.
constexpr int ecModemNotStarted = -4001;
constexpr int ecModemBusy = -4002;
constexpr int ecModemNotDialing = -4003;
constexpr int ecNotDialing = -4004;
constexpr int ecAlreadyDialing = -4005;
constexpr int ecModemNotResponding = -4006;
constexpr int ecModemRejectedCommand = -4007;
constexpr int ecModemStatusMismatch = -4008;

// Triggers.
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecTriggerTooLong = -5002;
constexpr int ecBadTriggerHandle = -5003;

// Protocol.
constexpr int ecCancelRequested = -6005; // user abort or remote disconnect (DCN)
constexpr int ecTimeout = -6006;
constexpr int ecTooManyErrors = -6008;
constexpr int ecSequenceError = -6009;
constexpr int ecNoFilename = -6010; // neither a fax file nor an existing cover file
constexpr int ecFileRejected = -6011;

// INI database.
constexpr int ecKeyTooLong = -7001;
constexpr int ecDataTooLarge = -7002;
constexpr int ecNoFieldsDefined = -7003;
constexpr int ecIniWrite = -7004;
constexpr int ecIniRead = -7005;
constexpr int ecNoIndexKey = -7006;
constexpr int ecRecordExists = -7007;
constexpr int ecRecordNotFound = -7008;
constexpr int ecDatabaseFull = -7010;
constexpr int ecDatabaseEmpty = -7011;
constexpr int ecDatabaseNotPrepared = -7012;
constexpr int ecBadFieldList = -7013;
constexpr int ecBadFieldForIndex = -7014;

// Fax.
constexpr int ecFaxBadFormat = -8001;
constexpr int ecBadGraphicsFormat = -8002;
constexpr int ecConvertAbort = -8003;
constexpr int ecUnpackAbort = -8004;
constexpr int ecCantMakeBitmap = -8005;
constexpr int ecNoImageLoaded = -8050;
constexpr int ecNoImageBlockMarked = -8051;
constexpr int ecFontFileNotFound = -8052;
constexpr int ecInvalidPageNumber = -8053;
constexpr int ecBmpTooBig = -8054;
constexpr int ecEnhFontTooBig = -8055;
constexpr int ecPageTooLong = -8056;
constexpr int ecTooManyPages = -8057;
constexpr int ecPageTooTallForFormat = -8058;
constexpr int ecPictureTooLarge = -8059;
constexpr int ecFaxBadMachine = -8060;
constexpr int ecFaxBadModemResult = -8061;
constexpr int ecFaxTrainError = -8062;
constexpr int ecFaxInitError = -8063;
constexpr int ecFaxBusy = -8064;
constexpr int ecFaxVoiceCall = -8065;
constexpr int ecFaxDataCall = -8066;
constexpr int ecFaxNoDialTone = -8067;
constexpr int ecFaxNoCarrier = -8068;
constexpr int ecFaxSessionError = -8069;
constexpr int ecFaxPageError = -8070;
constexpr int ecFaxGDIPrintError = -8071;
constexpr int ecFaxMixedResolution = -8072;
constexpr int ecFaxConverterInitFail = -8073;
constexpr int ecNoAnswer = -8074;
constexpr int ecAlreadyMonitored = -8075;

// TAPI. A TAPI line error 0x80000000 + n is the code -(13800 + n).
constexpr int ecTapiLineErrorBase = -13800;
constexpr int ecTapiAllocated = -13801;
constexpr int ecTapiBadDeviceID = -13802;
constexpr int ecTapiCallUnavail = -13805;
constexpr int ecTapiNoMultipleInstance = -13886;
constexpr int ecTapiBusy = -13928;
constexpr int ecTapiNotSet = -13929;
constexpr int ecTapiNoSelect = -13930;
constexpr int ecTapiLoadFail = -13931;
constexpr int ecTapiGetAddrFail = -13932;
constexpr int ecTapi16Disabled = -13933;
constexpr int ecTapiUnexpected = -13934;
constexpr int ecTapiVoiceNotSupported = -13935;
constexpr int ecTapiWaveFail = -13936;
constexpr int ecTapiWaveDeviceError = -13937;
constexpr int ecTapiWaveFormatError = -13938;
constexpr int ecTapiTranslateFail = -13942;

// Remote access.
constexpr int ecRasLoadFail = -13980;

// What ExceptionToErrorCode gives for an exception that carries no code.
constexpr int ecUnknownException = -9999;

// The library code of a TAPI line error (a LINEERR value, 0x80000000 + n): -(13800 + n).
constexpr int LineErrorToCode(uint32_t lineError)
{
    return ecTapiLineErrorBase - static_cast<int>(lineError & 0x7FFFFFFFu);
}

// Fax status codes (FaxStatus texts, ids 4801-4843).
constexpr int fsInitializing = 4801;
constexpr int fsDialing = 4802;
constexpr int fsBusyWait = 4803;
constexpr int fsSendingPage = 4804;
constexpr int fsSendingEOP = 4805;
constexpr int fsPageError = 4806;
constexpr int fsPageAccepted = 4807;
constexpr int fsConnecting = 4808;
constexpr int fsWaitingForCall = 4820;
constexpr int fsNoConnect = 4821;
constexpr int fsAnswering = 4822;
constexpr int fsValidatedAsFax = 4823;
constexpr int fsGettingPage = 4824;
constexpr int fsGettingEOP = 4825;
constexpr int fsGettingDocStatus = 4826;
constexpr int fsGettingHangup = 4827;
constexpr int fsGotFHNG = 4828;
constexpr int fsSwitchingModes = 4830;
constexpr int fsMonitoring = 4831;
constexpr int fsNotMonitoring = 4832;
constexpr int fsGettingParams = 4840;
constexpr int fsGotRemoteID = 4841;
constexpr int fsUserAbort = 4842;
constexpr int fsFinished = 4843;

// Ids of the dispatch log's words.
constexpr int idsLogKindBase = 15001;      // + kind
constexpr int idsLogSubKindBase = 15100;   // + sub-kind (1..19); sub-kind 0 has none
constexpr int idsSendStateBase = 15130;    // + send state (tfNone .. tfDone)
constexpr int idsReceiveStateBase = 15179; // + receive state (rfNone .. rfDone)
constexpr int idsLogHeader1 = 15501;
constexpr int idsLogHeader2 = 15502;
constexpr int idsModemStatusBitBase = 15601; // + bit number 0..7

} // namespace zn::comms
