#include "foundation/settings.h"

#include "foundation/program_folders.h"
#include "test_support.h"
#include "platform/tests/param_name.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace zn::foundation {
namespace {

using test::ReadFile;
using test::TempHome;
using test::WriteFile;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings() = SettingsValues();
        PrintSettings() = PrintOptions();
    }
    void WriteIni(const std::string& content) { WriteFile(home_.Path() + "/ZN.INI", content); }
    std::string IniText() const { return ReadFile(home_.Path() + "/ZN.INI"); }
    TempHome home_;
};

// "[Section]" and "key" lines of the file, in file order, without values and blank lines.
std::vector<std::string> Layout(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        lines.push_back(line[0] == '[' ? line : line.substr(0, line.find('=')));
    }
    return lines;
}

TEST_F(SettingsTest, MissingFileGivesDefaultsAndMarksPortNotConfigured)
{
    LoadSettings();
    const SettingsValues& s = Settings();
    EXPECT_EQ(s.DialAttempts, 3);
    EXPECT_EQ(s.RetryWait, 60);
    EXPECT_EQ(s.Timeout, 60);
    EXPECT_EQ(s.FaxClass, 1);
    EXPECT_EQ(s.MaximumBPS, 9600);
    EXPECT_EQ(s.MaximumBPSReceive, 9600);
    EXPECT_EQ(s.AnswerOnRing, 1);
    EXPECT_EQ(s.PrintOnReceiptPrinter, "Default Windows Printer");
    EXPECT_TRUE(s.DisableReceivingFaxesNotification);
    EXPECT_TRUE(s.HintsOn);
    EXPECT_EQ(s.LastUsedCoversheetTemplate, "zn0001.fct");
    EXPECT_EQ(s.LastUsedImageFilePath, GetProgramFolder());
    EXPECT_FALSE(s.UseTAPI);
    EXPECT_TRUE(s.PortNotConfigured);
    EXPECT_EQ(s.ComPort, 0);
}

TEST_F(SettingsTest, SaveAfterUnconfiguredLoadKeepsComPortMinusOne)
{
    LoadSettings();
    SaveSettings();
    EXPECT_NE(IniText().find("ComPort=-1"), std::string::npos);
    Settings() = SettingsValues();
    LoadSettings();
    EXPECT_TRUE(Settings().PortNotConfigured);
}

TEST_F(SettingsTest, TapiWithoutComPortIsConfigured)
{
    WriteIni("[Modem]\r\nComPort=-1\r\nUseTAPI=1\r\n");
    LoadSettings();
    EXPECT_FALSE(Settings().PortNotConfigured);
    EXPECT_EQ(Settings().ComPort, -1);
}

TEST_F(SettingsTest, FreshFileIsWrittenInSaveOrder)
{
    Settings().ProgramVersion = "2.9z Build 6";
    Settings().LastUsedImageFilePath = "/images/";
    SaveSettings();
    const std::vector<std::string> expected = {"[User]",
                                               "Fax",
                                               "Name",
                                               "Voice",
                                               "Company",
                                               "PrefixDisable",
                                               "SuffixDisable",
                                               "[Dialing]",
                                               "DialPrefix",
                                               "DialAttempts",
                                               "RetryWait",
                                               "BlindDial",
                                               "IgnoreBusy",
                                               "ToneOrPulse",
                                               "Timeout",
                                               "DialSuffix",
                                               "ECM",
                                               "[Modem]",
                                               "InitString",
                                               "ComPort",
                                               "FaxClass",
                                               "MaximumBPS",
                                               "RenegotiateBetween",
                                               "InitStringReceive",
                                               "FaxClassReceive",
                                               "MaximumBPSReceive",
                                               "UseTAPI",
                                               "TAPIDevice",
                                               "[Resetting]",
                                               "String",
                                               "AfterString",
                                               "[Receive]",
                                               "Wav",
                                               "AnswerOnRing",
                                               "AtStartup",
                                               "ECMReceive",
                                               "PrintOnReceipt",
                                               "PrintOnReceiptPrinter",
                                               "DisableReceivingFaxesNotification",
                                               "[Hints]",
                                               "On",
                                               "[Version]",
                                               "Version",
                                               "[Other]",
                                               "LastUsedCoversheetTemplate",
                                               "UseAlternateHeaderFont",
                                               "GlobalUseAlternateNamingRec",
                                               "UseAlternateFaxViewer",
                                               "GlobalLargerSendBuffer",
                                               "GlobalLargerReceiveBuffer",
                                               "LastUsedImageFilePath"};
    const std::string text = IniText();
    EXPECT_EQ(Layout(text), expected);
    EXPECT_NE(text.find("Version=2.9z Build 6\r\n"), std::string::npos);
    EXPECT_NE(text.find("On=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("BlindDial=0\r\n"), std::string::npos);
}

TEST_F(SettingsTest, SavedValuesLoadBack)
{
    SettingsValues& s = Settings();
    s.Fax = "+49 30 1234";
    s.InitString = "AT&F,E0";
    s.ResetString = "ATZ";
    s.ComPort = 2;
    s.MaximumBPS = 14400;
    s.MaximumBPSReceive = 7200;
    s.ECM = true;
    s.HintsOn = false;
    SaveSettings();
    Settings() = SettingsValues();
    LoadSettings();
    EXPECT_EQ(s.Fax, "+49 30 1234");
    EXPECT_EQ(s.InitString, "AT&F,E0");
    EXPECT_EQ(s.ResetString, "ATZ");
    EXPECT_EQ(s.ComPort, 2);
    EXPECT_FALSE(s.PortNotConfigured);
    EXPECT_EQ(s.MaximumBPS, 14400);
    EXPECT_EQ(s.MaximumBPSReceive, 7200);
    EXPECT_TRUE(s.ECM);
    EXPECT_FALSE(s.HintsOn);
}

TEST_F(SettingsTest, ASaveWithNothingChangedLeavesTheFileAsItIs)
{
    SettingsValues& s = Settings();
    s.ComPort = 2;
    s.MaximumBPS = 14400;
    s.Name = "Ada";
    SaveSettings();
    // The same values in the user's own spelling: hexadecimal, quoted, blanks around "=".
    std::string text = IniText();
    auto respell = [&text](const std::string& from, const std::string& to) {
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    };
    respell("ComPort=2\r\n", "ComPort=0x2\r\n");
    respell("MaximumBPS=14400\r\n", "MaximumBPS = 14400\r\n");
    respell("Name=Ada\r\n", "Name=\"Ada\"\r\n");
    respell("BlindDial=0\r\n", "BlindDial=00\r\n");
    WriteIni(text);
    Settings() = SettingsValues();
    LoadSettings();
    SaveSettings();
    EXPECT_EQ(IniText(), text);
    // A changed value is written, the others keep their spelling.
    Settings().Name = "Grace";
    SaveSettings();
    EXPECT_NE(IniText().find("Name=Grace\r\n"), std::string::npos);
    EXPECT_NE(IniText().find("ComPort=0x2\r\n"), std::string::npos);
}

struct ReadCase {
    const char* ini;
    std::function<std::string(const SettingsValues&)> value;
    std::string expected;
};

class SettingsReadTest : public SettingsTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(SettingsReadTest, ReadsValue)
{
    WriteIni(GetParam().ini);
    LoadSettings();
    EXPECT_EQ(GetParam().value(Settings()), GetParam().expected) << GetParam().ini;
}

std::string Num(int n) { return std::to_string(n); }

INSTANTIATE_TEST_SUITE_P(
    Keys, SettingsReadTest,
    ::testing::Values(
        ReadCase{"[Modem]\nMaximumBPS=0x3840\n", [](auto& s) { return Num(s.MaximumBPS); }, "14400"},
        ReadCase{"[Modem]\nMaximumBPS=0X3840\n", [](auto& s) { return Num(s.MaximumBPSReceive); }, "14400"},
        ReadCase{"[Dialing]\nDialAttempts=abc\n", [](auto& s) { return Num(s.DialAttempts); }, "3"},
        ReadCase{"[Dialing]\nRetryWait=\n", [](auto& s) { return Num(s.RetryWait); }, "60"},
        ReadCase{"[Modem]\nInitString=ATX\n", [](auto& s) { return s.InitStringReceive; }, "ATX"},
        ReadCase{"[Modem]\nInitString=ATX\nInitStringReceive=ATY\n", [](auto& s) { return s.InitStringReceive; },
                 "ATY"},
        ReadCase{"[Modem]\nFaxClass=2\n", [](auto& s) { return Num(s.FaxClassReceive); }, "2"},
        ReadCase{"[Dialing]\nECM=1\n", [](auto& s) { return Num(s.ECMReceive); }, "1"},
        ReadCase{"[Dialing]\nECM=1\n[Receive]\nECMReceive=0\n", [](auto& s) { return Num(s.ECMReceive); }, "0"},
        ReadCase{"[Hints]\nOn=0\n", [](auto& s) { return Num(s.HintsOn); }, "0"},
        ReadCase{"[Resetting]\nString=AT&F\n", [](auto& s) { return s.ResetString; }, "AT&F"},
        ReadCase{"[Other]\nLastUsedImageFilePath=\n", [](auto& s) { return s.LastUsedImageFilePath; }, ""},
        ReadCase{"[Other]\nLastUsedImageFilePath=/no/such/folder/\n",
                 [](auto& s) {
                     return s.LastUsedImageFilePath == GetProgramFolder() ? "program folder" : s.LastUsedImageFilePath;
                 },
                 "program folder"},
        ReadCase{"[Other]\nLastUsedImageFilePath=/tmp/\n", [](auto& s) { return s.LastUsedImageFilePath; }, "/tmp/"},
        ReadCase{"[Modem]\nComPort=3\n", [](auto& s) { return Num(s.ComPort) + Num(s.PortNotConfigured); }, "30"}),
                         [](const ::testing::TestParamInfo<ReadCase>& info) { return zn::test::ParamName(info.param.ini); });

TEST_F(SettingsTest, LongValuesAreCutToTheReadBuffer)
{
    WriteIni("[User]\nName=" + std::string(2000, 'n') + "\n");
    LoadSettings();
    EXPECT_EQ(Settings().Name.size(), 1023u);
}

TEST_F(SettingsTest, FailedWriteRaisesNamingTheFile)
{
    std::filesystem::create_directory(home_.Path() + "/ZN.INI"); // a folder cannot take the file
    try {
        SaveSettings();
        FAIL() << "no exception";
    } catch (const IniFileError& e) {
        EXPECT_NE(std::string(e.what()).find("ZN.INI"), std::string::npos);
    }
    EXPECT_THROW(SavePrintSettings(), IniFileError);
}

TEST_F(SettingsTest, CancelledWizardKeepsPortNotConfigured)
{
    LoadSettings();
    ASSERT_TRUE(Settings().PortNotConfigured);
    {
        WizardPortState wizard;
        EXPECT_FALSE(Settings().PortNotConfigured);
    } // cancelled
    EXPECT_TRUE(Settings().PortNotConfigured);
    SaveSettings();
    EXPECT_NE(IniText().find("ComPort=-1"), std::string::npos);
}

TEST_F(SettingsTest, FinishedWizardClearsPortNotConfigured)
{
    LoadSettings();
    {
        WizardPortState wizard;
        Settings().ComPort = 1;
        wizard.Finished();
    }
    EXPECT_FALSE(Settings().PortNotConfigured);
    SaveSettings();
    EXPECT_NE(IniText().find("ComPort=1"), std::string::npos);
}

TEST_F(SettingsTest, PrintOptionsDefaultOffAndLoadBack)
{
    LoadPrintSettings();
    EXPECT_FALSE(PrintSettings().MultiPage || PrintSettings().Header || PrintSettings().Footer
                 || PrintSettings().Stretch);
    PrintSettings().MultiPage = true;
    PrintSettings().Stretch = true;
    SavePrintSettings();
    PrintSettings() = PrintOptions();
    LoadPrintSettings();
    EXPECT_TRUE(PrintSettings().MultiPage);
    EXPECT_FALSE(PrintSettings().Header);
    EXPECT_FALSE(PrintSettings().Footer);
    EXPECT_TRUE(PrintSettings().Stretch);
    EXPECT_NE(IniText().find("[Printing]"), std::string::npos);
}

} // namespace
} // namespace zn::foundation
