// ZN.INI and the settings values held in memory while zn runs.
#pragma once
#include <stdexcept>
#include <string>

namespace zn::foundation {

// A write to the settings file failed; the message names the file.
class IniFileError : public std::runtime_error {
public:
    explicit IniFileError(const std::string& path) : std::runtime_error("Unable to write to " + path) {}
};

// One value per key of ZN.INI, named after the key ([Hints] On is HintsOn, [Resetting] String is
// ResetString), with the defaults of a missing key. The *Receive values default to their send
// values when loaded.
struct SettingsValues {
    // [User]
    std::string Fax, Name, Voice, Company;
    bool PrefixDisable = false;
    bool SuffixDisable = false;
    // [Dialing]
    std::string DialPrefix, DialSuffix;
    int DialAttempts = 3;
    int RetryWait = 60;
    bool BlindDial = false;
    bool IgnoreBusy = false;
    int ToneOrPulse = 0; // 0 tone, else pulse
    int Timeout = 60;    // kept in the file only
    bool ECM = false;
    // [Modem]
    std::string InitString;
    int ComPort = -1; // 0-based (0 = COM1); -1 not chosen yet
    int FaxClass = 1; // 0 AutoDetect, 1 Class 1, 2 Class 2, 3 Class 2.0
    int MaximumBPS = 9600;
    bool RenegotiateBetween = false;
    std::string InitStringReceive;
    int FaxClassReceive = 1;
    int MaximumBPSReceive = 9600;
    bool UseTAPI = false;
    std::string TAPIDevice;
    // [Receive]
    bool AtStartup = false;
    std::string Wav;
    int AnswerOnRing = 1;
    bool ECMReceive = false;
    bool PrintOnReceipt = false;
    std::string PrintOnReceiptPrinter = "Default Windows Printer";
    bool DisableReceivingFaxesNotification = true;
    // [Hints]
    bool HintsOn = true;
    // [Resetting]
    std::string ResetString, AfterString;
    // [Other]
    std::string LastUsedCoversheetTemplate = "zn0001.fct";
    bool UseAlternateHeaderFont = false;
    bool GlobalUseAlternateNamingRec = false;
    bool UseAlternateFaxViewer = false;
    bool GlobalLargerSendBuffer = false;
    bool GlobalLargerReceiveBuffer = false;
    std::string LastUsedImageFilePath; // loaded with the program folder as its default

    // Not keys of the file. PortNotConfigured: no modem port chosen yet, so quick setup runs before
    // sending and every save keeps ComPort=-1 in the file. ProgramVersion: written to [Version].
    bool PortNotConfigured = false;
    std::string ProgramVersion;
};

SettingsValues& Settings(); // the process-wide values

// Reads every key (missing keys and malformed integers give the defaults). Afterwards a negative
// ComPort without TAPI sets PortNotConfigured and makes ComPort 0.
void LoadSettings();
// Writes every key and [Version] Version, one write per key, in a fixed order; with
// PortNotConfigured the file gets ComPort=-1. Throws IniFileError when a write fails.
void SaveSettings();

// The settings wizard clears PortNotConfigured while it is open; unless it is finished, the old
// state comes back when this goes, so a cancelled wizard leaves quick setup armed and ComPort=-1
// in the file.
class WizardPortState {
public:
    WizardPortState();
    ~WizardPortState();
    WizardPortState(const WizardPortState&) = delete;
    WizardPortState& operator=(const WizardPortState&) = delete;
    void Finished() { finished_ = true; }

private:
    bool saved_;
    bool finished_ = false;
};

// [Printing]
struct PrintOptions {
    bool MultiPage = false; // several fax pages on one sheet
    bool Header = false;
    bool Footer = false;
    bool Stretch = false; // scale each page to the sheet
};

PrintOptions& PrintSettings(); // the process-wide options
void LoadPrintSettings();
void SavePrintSettings(); // throws IniFileError when a write fails

} // namespace zn::foundation
