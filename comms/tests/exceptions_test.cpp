#include "comms/base/exceptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <typeinfo>

using namespace zn::comms;

namespace {

// Runs CheckErrorCode and hands back what it raised.
template <typename Fn>
std::exception_ptr Raised(Fn fn)
{
    try {
        fn();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

} // namespace

TEST(CheckErrorCode, ReturnsCodesThatAreNotFailures)
{
    TFxBaseComponent component;
    EXPECT_EQ(CheckErrorCode(&component, 5), 5);
    EXPECT_EQ(CheckErrorCode(&component, 0), 0);
    EXPECT_EQ(CheckErrorCode(nullptr, 5), 5);
}

TEST(CheckErrorCode, StaysSilentWhileTheComponentLoadsFromItsForm)
{
    TFxBaseComponent component;
    component.SetLoading(true);
    EXPECT_EQ(CheckErrorCode(&component, -3006), -3006);
    component.SetLoading(false);
    EXPECT_THROW(CheckErrorCode(&component, -3006), EOutputBufferTooSmall);
}

TEST(CheckErrorCode, OutputBufferTooSmall)
{
    try {
        CheckErrorCode(nullptr, -3006);
        FAIL() << "no exception";
    } catch (const EOutputBufferTooSmall& e) {
        EXPECT_STREQ(e.what(), "Output buffer too small for block");
        EXPECT_EQ(e.ErrorCode(), -3006);
        EXPECT_EQ(ExceptionToErrorCode(e), -3006);
    }
}

// One code of every family (and the codes that share EInternal): the leaf class, its family, the
// exception base, the table text and the code.
struct FamilyCase {
    int Code;
    bool (*IsLeaf)(const EFXException&);
    bool (*IsFamily)(const EFXException&);
    const char* Text;
};

template <typename T>
bool Is(const EFXException& e)
{
    return dynamic_cast<const T*>(&e) != nullptr;
}

class CheckErrorCodeFamilies : public testing::TestWithParam<FamilyCase> {};

TEST_P(CheckErrorCodeFamilies, RaisesTheClassOfTheCode)
{
    const FamilyCase& c = GetParam();
    try {
        CheckErrorCode(nullptr, c.Code);
        FAIL() << "no exception for " << c.Code;
    } catch (const EFXException& e) {
        EXPECT_TRUE(c.IsLeaf(e)) << c.Code << " raised " << typeid(e).name();
        EXPECT_TRUE(c.IsFamily(e)) << c.Code;
        EXPECT_EQ(e.ErrorCode(), c.Code);
        EXPECT_STREQ(e.what(), c.Text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Families, CheckErrorCodeFamilies,
    testing::Values(FamilyCase{-1002, Is<EBadArgument>, Is<EGeneral>, "Bad argument passed to function"},
                    FamilyCase{-1006, Is<EInternal>, Is<EGeneral>, "Internal error creating window class"},
                    FamilyCase{-7003, Is<EInternal>, Is<EGeneral>, "No fields defined in database"},
                    FamilyCase{-7012, Is<EInternal>, Is<EGeneral>, "iPrepareIniDatabase not called"},
                    FamilyCase{-2001, Is<EBadId>, Is<EOpenComm>, "ie_BadId - Specified comport doesn't exist"},
                    FamilyCase{-2012, Is<ENotOpenedByTapi>, Is<EOpenComm>, "Comport was not opened by Tapi"},
                    FamilyCase{-3001, Is<ENullApi>, Is<ESerialIO>, "No device layer specified"},
                    FamilyCase{-4006, Is<EModemNotResponding>, Is<EModem>, "Modem is not responding"},
                    FamilyCase{-5003, Is<EBadTriggerHandle>, Is<ETrigger>, "Bad trigger handle"},
                    FamilyCase{-6006, Is<EProtocol>, Is<EProtocol>, "Fatal time out"},
                    FamilyCase{-6009, Is<EProtocol>, Is<EProtocol>, "Block sequence error in Xmodem"},
                    FamilyCase{-7010, Is<EDatabaseFull>, Is<EINI>, "Maximum database records (999) reached"},
                    FamilyCase{-8001, Is<EFaxBadFormat>, Is<EFax>, "File is not an APF file"},
                    FamilyCase{-8053, Is<EInvalidPageNumber>, Is<EFax>, "Invalid page number specified for fax"},
                    FamilyCase{-8070, Is<EFaxPageError>, Is<EFax>, "Fax failed at page end"},
                    FamilyCase{-13801, Is<ETapiAllocated>, Is<ETapi>, "Already allocated"},
                    FamilyCase{-13805, Is<ETapiCallUnavail>, Is<ETapi>, "Call unavailable"},
                    FamilyCase{-13886, Is<ETapiNoMultipleInstance>, Is<ETapi>, "Multiple instances not allowed"},
                    FamilyCase{-13929, Is<ETapiNotSet>, Is<ETapi>, "TapiMode not set in TFxComPort"},
                    FamilyCase{-13942, Is<ETapiTranslateFail>, Is<ETapi>, "Unable to translate address"},
                    FamilyCase{-13980, Is<ERasLoadFail>, Is<ERas>, "Failed to find/load RASAPI32.DLL"}),
    [](const testing::TestParamInfo<FamilyCase>& info) { return "Code" + std::to_string(-info.param.Code); });

TEST(CheckErrorCode, EveryTapiLineErrorHasItsClassAndAText)
{
    for (int n = 1; n <= 86; ++n) {
        const int code = LineErrorToCode(0x80000000u + static_cast<uint32_t>(n));
        EXPECT_EQ(code, -(13800 + n));
        const bool unused = n == 4 || n == 24 || n == 49;
        const std::exception_ptr raised = Raised([code] { CheckErrorCode(nullptr, code); });
        try {
            std::rethrow_exception(raised);
        } catch (const ETapi& e) {
            EXPECT_FALSE(unused) << code;
            EXPECT_EQ(e.ErrorCode(), code);
            EXPECT_STRNE(e.what(), "") << code;
        } catch (const EFXException& e) {
            EXPECT_TRUE(unused) << code;
            EXPECT_EQ(e.ErrorCode(), 0);
        }
    }
}

TEST(CheckErrorCode, OutOfMemory)
{
    EXPECT_THROW(CheckErrorCode(nullptr, -8), EOutOfMemory);
    EXPECT_EQ(ExceptionToErrorCode(EOutOfMemory()), -8);
    EXPECT_EQ(ExceptionToErrorCode(std::bad_alloc()), -8);
}

TEST(CheckErrorCode, FileErrorsRaiseTheInputOutputException)
{
    try {
        CheckErrorCode(nullptr, -100);
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "Attempt to read beyond end of file");
        EXPECT_EQ(e.ErrorCode(), 100);
        EXPECT_EQ(ExceptionToErrorCode(e), -100);
    }
    EXPECT_THROW(CheckErrorCode(nullptr, -2), EInOutError);
    EXPECT_THROW(CheckErrorCode(nullptr, -162), EInOutError);
}

TEST(CheckErrorCode, CodesWithoutAClassRaiseFxcException)
{
    for (int code : {-6005, -1, -163, -5001, -8074, -99999}) {
        try {
            CheckErrorCode(nullptr, code);
            FAIL() << "no exception for " << code;
        } catch (const EFXException& e) {
            EXPECT_EQ(typeid(e), typeid(EFXException)) << code;
            EXPECT_STREQ(e.what(), "Fxc exception");
            EXPECT_EQ(e.ErrorCode(), 0);
            EXPECT_EQ(ExceptionToErrorCode(e), 0);
        }
    }
}

TEST(ExceptionToErrorCode, OtherExceptionsGiveMinus9999)
{
    EXPECT_EQ(ExceptionToErrorCode(std::runtime_error("x")), -9999);
}

TEST(EFXException, NamedConstructors)
{
    const EFXException forCode = EFXException::CreateForCode(-8064);
    EXPECT_STREQ(forCode.what(), "Called fax number was busy");
    EXPECT_EQ(forCode.ErrorCode(), -8064);
    const EFXException noText = EFXException::CreateForCode(-9001);
    EXPECT_STREQ(noText.what(), "");
    const EFXException withMessage = EFXException::CreateWithMessage("hello");
    EXPECT_STREQ(withMessage.what(), "hello");
    EXPECT_EQ(withMessage.ErrorCode(), 0);
}

TEST(ErrorCodeToText, TakesTheMagnitude)
{
    EXPECT_EQ(ErrorCodeToText(-2001), "ie_BadId - Specified comport doesn't exist");
    EXPECT_EQ(ErrorCodeToText(2001), "ie_BadId - Specified comport doesn't exist");
    EXPECT_EQ(ErrorCodeToText(0), "OK");
    EXPECT_EQ(ErrorCodeToText(-6005), "Fax cancelled by the user or disconnected by the remote fax");
    EXPECT_EQ(ErrorCodeToText(-6010), "Cover file not found");
    EXPECT_EQ(ErrorCodeToText(-13934), "Unexpected TAPI error");
}

TEST(ErrorCodeToText, FallsBackOnTheSystemTextOfFileErrors)
{
    // 32 (sharing violation) has no table text; it is shown as the system's text of EBUSY.
    EXPECT_EQ(ErrorCodeToText(-32), std::strerror(EBUSY));
    EXPECT_EQ(ErrorCodeToText(-9001), "");
}

TEST(ErrorCodeToText, IdIsTakenAs16Bits)
{
    EXPECT_EQ(ErrorCodeToText(-(65536 + 2001)), "ie_BadId - Specified comport doesn't exist");
}

TEST(ErrorCodeToPChar, FillsAnEightyByteBuffer)
{
    char buffer[ErrorTextBufferSize + 1];
    buffer[ErrorTextBufferSize] = '#';
    EXPECT_STREQ(ErrorCodeToPChar(buffer, -8074), "Remote fax did not answer");
    EXPECT_STREQ(ErrorCodeToPChar(buffer, -32), "") << "no system text here";
    EXPECT_EQ(buffer[ErrorTextBufferSize], '#');
}
