// The exception tree of the library components: a failing call's negative code becomes the
// exception of its class (CheckErrorCode), and an exception becomes a code again
// (ExceptionToErrorCode). Inside the engines failures stay codes; exceptions are raised only at the
// component boundary and never cross a thread or a C callback.
#pragma once
#include "comms/base/error_codes.h"
#include "comms/base/fx_misc.h"

#include <new>
#include <stdexcept>
#include <string>

namespace zn::comms {

class EFXException : public std::runtime_error {
public:
    EFXException(const std::string& message, int errorCode) : std::runtime_error(message), errorCode_(errorCode) {}

    // ErrorCode := code, message := the text of |code| (empty when there is none).
    static EFXException CreateForCode(int code);
    // ErrorCode := 0.
    static EFXException CreateWithMessage(const std::string& message);

    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

// A file or device error (codes -2 to -162, except -8); ErrorCode is the positive I/O code.
class EInOutError : public std::runtime_error {
public:
    EInOutError(const std::string& message, int errorCode) : std::runtime_error(message), errorCode_(errorCode) {}
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

// Code -8. A std::bad_alloc, so that it is caught with the language's own out-of-memory failures.
class EOutOfMemory : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "Out of memory"; }
};

#define ZN_FX_EXCEPTION(Name, Parent)                                                                                  \
    class Name : public Parent {                                                                                       \
    public:                                                                                                            \
        using Parent::Parent;                                                                                          \
    };

// Families. EProtocol has no leaves: it is raised itself.
ZN_FX_EXCEPTION(EGeneral, EFXException)
ZN_FX_EXCEPTION(EOpenComm, EFXException)
ZN_FX_EXCEPTION(ESerialIO, EFXException)
ZN_FX_EXCEPTION(EModem, EFXException)
ZN_FX_EXCEPTION(ETrigger, EFXException)
ZN_FX_EXCEPTION(EProtocol, EFXException)
ZN_FX_EXCEPTION(EINI, EFXException)
ZN_FX_EXCEPTION(EFax, EFXException)
ZN_FX_EXCEPTION(ETapi, EFXException)
ZN_FX_EXCEPTION(ERas, EFXException)

// Leaves, by family. EInternal also stands for the INI database's -7003, -7006 and -7012;
// ETapiInvalCallHandle and ETapiUnexpected have no code of their own in the table.
// EGeneral
ZN_FX_EXCEPTION(EBadArgument, EGeneral)
ZN_FX_EXCEPTION(EGotQuitMsg, EGeneral)
ZN_FX_EXCEPTION(EBufferTooBig, EGeneral)
ZN_FX_EXCEPTION(EPortNotAssigned, EGeneral)
ZN_FX_EXCEPTION(EInternal, EGeneral)
ZN_FX_EXCEPTION(EModemNotAssigned, EGeneral)
ZN_FX_EXCEPTION(EPhonebookNotAssigned, EGeneral)
ZN_FX_EXCEPTION(ECannotUseWithWinSock, EGeneral)
// EOpenComm
ZN_FX_EXCEPTION(EBadId, EOpenComm)
ZN_FX_EXCEPTION(EBaudRate, EOpenComm)
ZN_FX_EXCEPTION(EByteSize, EOpenComm)
ZN_FX_EXCEPTION(EDefault, EOpenComm)
ZN_FX_EXCEPTION(EHardware, EOpenComm)
ZN_FX_EXCEPTION(EMemory, EOpenComm)
ZN_FX_EXCEPTION(ECommNotOpen, EOpenComm)
ZN_FX_EXCEPTION(EAlreadyOpen, EOpenComm)
ZN_FX_EXCEPTION(ENoHandles, EOpenComm)
ZN_FX_EXCEPTION(ENoTimers, EOpenComm)
ZN_FX_EXCEPTION(ENoPortSelected, EOpenComm)
ZN_FX_EXCEPTION(ENotOpenedByTapi, EOpenComm)
// ESerialIO
ZN_FX_EXCEPTION(ENullApi, ESerialIO)
ZN_FX_EXCEPTION(ERegisterHandlerFailed, ESerialIO)
ZN_FX_EXCEPTION(EPutBlockFail, ESerialIO)
ZN_FX_EXCEPTION(EGetBlockFail, ESerialIO)
ZN_FX_EXCEPTION(EOutputBufferTooSmall, ESerialIO)
ZN_FX_EXCEPTION(EBufferIsEmpty, ESerialIO)
ZN_FX_EXCEPTION(ETracingNotEnabled, ESerialIO)
ZN_FX_EXCEPTION(ELoggingNotEnabled, ESerialIO)
ZN_FX_EXCEPTION(EBaseAddressNotSet, ESerialIO)
// EModem
ZN_FX_EXCEPTION(EModemNotStarted, EModem)
ZN_FX_EXCEPTION(EModemBusy, EModem)
ZN_FX_EXCEPTION(EModemNotDialing, EModem)
ZN_FX_EXCEPTION(ENotDialing, EModem)
ZN_FX_EXCEPTION(EAlreadyDialing, EModem)
ZN_FX_EXCEPTION(EModemNotResponding, EModem)
ZN_FX_EXCEPTION(EModemRejectedCommand, EModem)
ZN_FX_EXCEPTION(EModemStatusMismatch, EModem)
// ETrigger
ZN_FX_EXCEPTION(ETriggerTooLong, ETrigger)
ZN_FX_EXCEPTION(EBadTriggerHandle, ETrigger)
// EProtocol
// EINI
ZN_FX_EXCEPTION(EKeyTooLong, EINI)
ZN_FX_EXCEPTION(EDataTooLarge, EINI)
ZN_FX_EXCEPTION(EIniWrite, EINI)
ZN_FX_EXCEPTION(EIniRead, EINI)
ZN_FX_EXCEPTION(ERecordExists, EINI)
ZN_FX_EXCEPTION(ERecordNotFound, EINI)
ZN_FX_EXCEPTION(EDatabaseFull, EINI)
ZN_FX_EXCEPTION(EDatabaseEmpty, EINI)
ZN_FX_EXCEPTION(EBadFieldList, EINI)
ZN_FX_EXCEPTION(EBadFieldForIndex, EINI)
// EFax
ZN_FX_EXCEPTION(EFaxBadFormat, EFax)
ZN_FX_EXCEPTION(EBadGraphicsFormat, EFax)
ZN_FX_EXCEPTION(EConvertAbort, EFax)
ZN_FX_EXCEPTION(EUnpackAbort, EFax)
ZN_FX_EXCEPTION(ECantMakeBitmap, EFax)
ZN_FX_EXCEPTION(EInvalidPageNumber, EFax)
ZN_FX_EXCEPTION(EFaxBadMachine, EFax)
ZN_FX_EXCEPTION(EFaxBadModemResult, EFax)
ZN_FX_EXCEPTION(EFaxTrainError, EFax)
ZN_FX_EXCEPTION(EFaxInitError, EFax)
ZN_FX_EXCEPTION(EFaxBusy, EFax)
ZN_FX_EXCEPTION(EFaxVoiceCall, EFax)
ZN_FX_EXCEPTION(EFaxDataCall, EFax)
ZN_FX_EXCEPTION(EFaxNoDialTone, EFax)
ZN_FX_EXCEPTION(EFaxNoCarrier, EFax)
ZN_FX_EXCEPTION(EFaxSessionError, EFax)
ZN_FX_EXCEPTION(EFaxPageError, EFax)
// ETapi
ZN_FX_EXCEPTION(ETapiAllocated, ETapi)
ZN_FX_EXCEPTION(ETapiBadDeviceID, ETapi)
ZN_FX_EXCEPTION(ETapiBearerModeUnavail, ETapi)
ZN_FX_EXCEPTION(ETapiCallUnavail, ETapi)
ZN_FX_EXCEPTION(ETapiCompletionOverrun, ETapi)
ZN_FX_EXCEPTION(ETapiConferenceFull, ETapi)
ZN_FX_EXCEPTION(ETapiDialBilling, ETapi)
ZN_FX_EXCEPTION(ETapiDialDialtone, ETapi)
ZN_FX_EXCEPTION(ETapiDialPrompt, ETapi)
ZN_FX_EXCEPTION(ETapiDialQuiet, ETapi)
ZN_FX_EXCEPTION(ETapiIncompatibleApiVersion, ETapi)
ZN_FX_EXCEPTION(ETapiIncompatibleExtVersion, ETapi)
ZN_FX_EXCEPTION(ETapiIniFileCorrupt, ETapi)
ZN_FX_EXCEPTION(ETapiInUse, ETapi)
ZN_FX_EXCEPTION(ETapiInvalAddress, ETapi)
ZN_FX_EXCEPTION(ETapiInvalAddressID, ETapi)
ZN_FX_EXCEPTION(ETapiInvalAddressMode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalAddressState, ETapi)
ZN_FX_EXCEPTION(ETapiInvalAppHandle, ETapi)
ZN_FX_EXCEPTION(ETapiInvalAppName, ETapi)
ZN_FX_EXCEPTION(ETapiInvalBearerMode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCallComplMode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCallParams, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCallPrivilege, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCallSelect, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCallState, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCallStatelist, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCard, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCompletionID, ETapi)
ZN_FX_EXCEPTION(ETapiInvalConfCallHandle, ETapi)
ZN_FX_EXCEPTION(ETapiInvalConsultCallHandle, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCountryCode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalDeviceClass, ETapi)
ZN_FX_EXCEPTION(ETapiInvalDeviceHandle, ETapi)
ZN_FX_EXCEPTION(ETapiInvalDialParams, ETapi)
ZN_FX_EXCEPTION(ETapiInvalDigitList, ETapi)
ZN_FX_EXCEPTION(ETapiInvalDigitMode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalDigits, ETapi)
ZN_FX_EXCEPTION(ETapiInvalExtVersion, ETapi)
ZN_FX_EXCEPTION(ETapiInvalGroupID, ETapi)
ZN_FX_EXCEPTION(ETapiInvalLineHandle, ETapi)
ZN_FX_EXCEPTION(ETapiInvalLineState, ETapi)
ZN_FX_EXCEPTION(ETapiInvalLocation, ETapi)
ZN_FX_EXCEPTION(ETapiInvalMediaList, ETapi)
ZN_FX_EXCEPTION(ETapiInvalMediaMode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalMessageID, ETapi)
ZN_FX_EXCEPTION(ETapiInvalParam, ETapi)
ZN_FX_EXCEPTION(ETapiInvalParkID, ETapi)
ZN_FX_EXCEPTION(ETapiInvalParkMode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalPointer, ETapi)
ZN_FX_EXCEPTION(ETapiInvalPrivSelect, ETapi)
ZN_FX_EXCEPTION(ETapiInvalRate, ETapi)
ZN_FX_EXCEPTION(ETapiInvalRequestMode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalTerminalID, ETapi)
ZN_FX_EXCEPTION(ETapiInvalTerminalMode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalTimeout, ETapi)
ZN_FX_EXCEPTION(ETapiInvalTone, ETapi)
ZN_FX_EXCEPTION(ETapiInvalToneList, ETapi)
ZN_FX_EXCEPTION(ETapiInvalToneMode, ETapi)
ZN_FX_EXCEPTION(ETapiInvalTransferMode, ETapi)
ZN_FX_EXCEPTION(ETapiLineMapperFailed, ETapi)
ZN_FX_EXCEPTION(ETapiNoConference, ETapi)
ZN_FX_EXCEPTION(ETapiNoDevice, ETapi)
ZN_FX_EXCEPTION(ETapiNoDriver, ETapi)
ZN_FX_EXCEPTION(ETapiNoMem, ETapi)
ZN_FX_EXCEPTION(ETapiNoRequest, ETapi)
ZN_FX_EXCEPTION(ETapiNotOwner, ETapi)
ZN_FX_EXCEPTION(ETapiNotRegistered, ETapi)
ZN_FX_EXCEPTION(ETapiOperationFailed, ETapi)
ZN_FX_EXCEPTION(ETapiOperationUnavail, ETapi)
ZN_FX_EXCEPTION(ETapiRateUnavail, ETapi)
ZN_FX_EXCEPTION(ETapiResourceUnavail, ETapi)
ZN_FX_EXCEPTION(ETapiRequestOverrun, ETapi)
ZN_FX_EXCEPTION(ETapiStructureTooSmall, ETapi)
ZN_FX_EXCEPTION(ETapiTargetNotFound, ETapi)
ZN_FX_EXCEPTION(ETapiTargetSelf, ETapi)
ZN_FX_EXCEPTION(ETapiUninitialized, ETapi)
ZN_FX_EXCEPTION(ETapiUserUserInfoTooBig, ETapi)
ZN_FX_EXCEPTION(ETapiReinit, ETapi)
ZN_FX_EXCEPTION(ETapiAddressBlocked, ETapi)
ZN_FX_EXCEPTION(ETapiBillingRejected, ETapi)
ZN_FX_EXCEPTION(ETapiInvalFeature, ETapi)
ZN_FX_EXCEPTION(ETapiNoMultipleInstance, ETapi)
ZN_FX_EXCEPTION(ETapiBusy, ETapi)
ZN_FX_EXCEPTION(ETapiNotSet, ETapi)
ZN_FX_EXCEPTION(ETapiNoSelect, ETapi)
ZN_FX_EXCEPTION(ETapiLoadFail, ETapi)
ZN_FX_EXCEPTION(ETapiGetAddrFail, ETapi)
ZN_FX_EXCEPTION(ETapi16Disabled, ETapi)
ZN_FX_EXCEPTION(ETapiVoiceNotSupported, ETapi)
ZN_FX_EXCEPTION(ETapiWaveFail, ETapi)
ZN_FX_EXCEPTION(ETapiTranslateFail, ETapi)
ZN_FX_EXCEPTION(ETapiInvalCallHandle, ETapi)
ZN_FX_EXCEPTION(ETapiUnexpected, ETapi)
// ERas
ZN_FX_EXCEPTION(ERasLoadFail, ERas)

#undef ZN_FX_EXCEPTION

// The text of |code| from the error-string table, at most 255 characters. When the table has none
// and the code is a file or device error, the system's text of the matching errno, with control
// characters blanked and double spaces reduced. Empty when neither has one.
std::string LookupErrorText(int code);
// The public name of LookupErrorText.
std::string ErrorCodeToText(int code);
// The table text of |code| (no system text) into a buffer of ErrorTextBufferSize bytes, cut to fit
// with its terminator. Returns buffer.
constexpr size_t ErrorTextBufferSize = 80;
char* ErrorCodeToPChar(char* buffer, int code);

// Returns code when it is 0 or more, or when the component is being loaded from its form (a setter
// that fails then stays silent). Otherwise raises: the class of the code; for -8 EOutOfMemory; for
// -2..-162 EInOutError with the code's text and ErrorCode |code|; for any other code EFXException
// "Fxc exception" with ErrorCode 0.
int CheckErrorCode(const TFxComponentCommon* component, int code);

// EFXException: its ErrorCode; EInOutError: minus its ErrorCode; out of memory: -8; else -9999.
int ExceptionToErrorCode(const std::exception& e);

} // namespace zn::comms
