#include "foundation/settings.h"

#include "foundation/program_folders.h"
#include "foundation/text_values.h"
#include "platform/folders.h"
#include "platform/ini_file.h"

namespace zn::foundation {

namespace {

class SettingsReader {
public:
    SettingsReader() : ini_(GetIniFileName()) {}
    std::string Text(const char* section, const char* key, const std::string& def) const
    {
        return ini_.ReadString(section, key, def);
    }
    int Integer(const char* section, const char* key, int def) const { return ini_.ReadInteger(section, key, def); }
    bool Boolean(const char* section, const char* key, bool def) const { return ini_.ReadBool(section, key, def); }

private:
    platform::IniFile ini_;
};

// Writes a key only when the file would read back another value (or lacks the key), so that a
// save with nothing changed leaves the file as it is, its own spelling of the values included
// ("0x2", "ComPort = 2").
class SettingsWriter {
public:
    SettingsWriter() : ini_(GetIniFileName()) {}
    void Text(const char* section, const char* key, const std::string& value)
    {
        if (!Holds(section, key) || ini_.ReadString(section, key, value) != value)
            Check(ini_.WriteString(section, key, value));
    }
    void Integer(const char* section, const char* key, int value)
    {
        // A value that does not parse reads as the default given, which differs from the value.
        if (!Holds(section, key) || ini_.ReadInteger(section, key, value == 0 ? 1 : 0) != value)
            Check(ini_.WriteInteger(section, key, value));
    }
    void Boolean(const char* section, const char* key, bool value)
    {
        if (!Holds(section, key) || ini_.ReadBool(section, key, !value) != value)
            Check(ini_.WriteBool(section, key, value));
    }

private:
    bool Holds(const char* section, const char* key) const { return ini_.ValueExists(section, key); }
    void Check(bool written) const
    {
        if (!written)
            throw IniFileError(ini_.Path());
    }
    platform::IniFile ini_;
};

} // namespace

SettingsValues& Settings()
{
    static SettingsValues values;
    return values;
}

PrintOptions& PrintSettings()
{
    static PrintOptions options;
    return options;
}

void LoadSettings()
{
    const SettingsValues d; // the defaults of missing keys
    SettingsValues& s = Settings();
    const SettingsReader r;
    s.BlindDial = r.Boolean("Dialing", "BlindDial", d.BlindDial);
    s.IgnoreBusy = r.Boolean("Dialing", "IgnoreBusy", d.IgnoreBusy);
    s.Fax = r.Text("User", "Fax", d.Fax);
    s.Name = r.Text("User", "Name", d.Name);
    s.Voice = r.Text("User", "Voice", d.Voice);
    s.Company = r.Text("User", "Company", d.Company);
    s.DialPrefix = r.Text("Dialing", "DialPrefix", d.DialPrefix);
    s.InitString = r.Text("Modem", "InitString", d.InitString);
    s.DialAttempts = r.Integer("Dialing", "DialAttempts", d.DialAttempts);
    s.RetryWait = r.Integer("Dialing", "RetryWait", d.RetryWait);
    s.ComPort = r.Integer("Modem", "ComPort", d.ComPort);
    s.FaxClass = r.Integer("Modem", "FaxClass", d.FaxClass);
    s.MaximumBPS = r.Integer("Modem", "MaximumBPS", d.MaximumBPS);
    s.ToneOrPulse = r.Integer("Dialing", "ToneOrPulse", d.ToneOrPulse);
    s.Timeout = r.Integer("Dialing", "Timeout", d.Timeout);
    s.AtStartup = r.Boolean("Receive", "AtStartup", d.AtStartup);
    s.Wav = r.Text("Receive", "Wav", d.Wav);
    s.AnswerOnRing = r.Integer("Receive", "AnswerOnRing", d.AnswerOnRing);
    s.HintsOn = r.Boolean("Hints", "On", d.HintsOn);
    s.ResetString = r.Text("Resetting", "String", d.ResetString);
    s.AfterString = r.Text("Resetting", "AfterString", d.AfterString);
    s.PrefixDisable = r.Boolean("User", "PrefixDisable", d.PrefixDisable);
    s.ECM = r.Boolean("Dialing", "ECM", d.ECM);
    // A file with only the send keys receives with the send settings.
    s.ECMReceive = r.Boolean("Receive", "ECMReceive", s.ECM);
    s.InitStringReceive = r.Text("Modem", "InitStringReceive", s.InitString);
    s.FaxClassReceive = r.Integer("Modem", "FaxClassReceive", s.FaxClass);
    s.MaximumBPSReceive = r.Integer("Modem", "MaximumBPSReceive", s.MaximumBPS);
    s.PrintOnReceipt = r.Boolean("Receive", "PrintOnReceipt", d.PrintOnReceipt);
    s.PrintOnReceiptPrinter = r.Text("Receive", "PrintOnReceiptPrinter", d.PrintOnReceiptPrinter);
    s.RenegotiateBetween = r.Boolean("Modem", "RenegotiateBetween", d.RenegotiateBetween);
    s.DialSuffix = r.Text("Dialing", "DialSuffix", d.DialSuffix);
    s.SuffixDisable = r.Boolean("User", "SuffixDisable", d.SuffixDisable);
    s.DisableReceivingFaxesNotification =
        r.Boolean("Receive", "DisableReceivingFaxesNotification", d.DisableReceivingFaxesNotification);
    s.LastUsedCoversheetTemplate = r.Text("Other", "LastUsedCoversheetTemplate", d.LastUsedCoversheetTemplate);
    s.UseAlternateHeaderFont = r.Boolean("Other", "UseAlternateHeaderFont", d.UseAlternateHeaderFont);
    s.GlobalUseAlternateNamingRec = r.Boolean("Other", "GlobalUseAlternateNamingRec", d.GlobalUseAlternateNamingRec);
    s.UseAlternateFaxViewer = r.Boolean("Other", "UseAlternateFaxViewer", d.UseAlternateFaxViewer);
    s.GlobalLargerSendBuffer = r.Boolean("Other", "GlobalLargerSendBuffer", d.GlobalLargerSendBuffer);
    s.GlobalLargerReceiveBuffer = r.Boolean("Other", "GlobalLargerReceiveBuffer", d.GlobalLargerReceiveBuffer);
    s.LastUsedImageFilePath = r.Text("Other", "LastUsedImageFilePath", GetProgramFolder());
    // A blank value stays blank; only a folder that has gone falls back to the program folder.
    if (!TrimBlanks(s.LastUsedImageFilePath).empty() && !platform::DirectoryExistsCI(s.LastUsedImageFilePath))
        s.LastUsedImageFilePath = GetProgramFolder();
    s.UseTAPI = r.Boolean("Modem", "UseTAPI", d.UseTAPI);
    s.TAPIDevice = r.Text("Modem", "TAPIDevice", d.TAPIDevice);

    if (s.ComPort < 0 && !s.UseTAPI) {
        s.PortNotConfigured = true;
        s.ComPort = 0;
    }
}

void SaveSettings()
{
    SettingsValues& s = Settings();
    if (s.PortNotConfigured)
        s.ComPort = -1; // the file keeps "no port chosen" until a setup completes
    SettingsWriter w;
    w.Text("User", "Fax", s.Fax);
    w.Text("User", "Name", s.Name);
    w.Text("User", "Voice", s.Voice);
    w.Text("User", "Company", s.Company);
    w.Text("Dialing", "DialPrefix", s.DialPrefix);
    w.Text("Modem", "InitString", s.InitString);
    w.Integer("Dialing", "DialAttempts", s.DialAttempts);
    w.Integer("Dialing", "RetryWait", s.RetryWait);
    w.Boolean("Dialing", "BlindDial", s.BlindDial);
    w.Boolean("Dialing", "IgnoreBusy", s.IgnoreBusy);
    w.Integer("Modem", "ComPort", s.ComPort);
    w.Integer("Modem", "FaxClass", s.FaxClass);
    w.Integer("Modem", "MaximumBPS", s.MaximumBPS);
    w.Integer("Dialing", "ToneOrPulse", s.ToneOrPulse);
    w.Integer("Dialing", "Timeout", s.Timeout);
    w.Text("Resetting", "String", s.ResetString);
    w.Text("Resetting", "AfterString", s.AfterString);
    w.Text("Receive", "Wav", s.Wav);
    w.Integer("Receive", "AnswerOnRing", s.AnswerOnRing);
    w.Boolean("Hints", "On", s.HintsOn);
    w.Boolean("User", "PrefixDisable", s.PrefixDisable);
    w.Text("Dialing", "DialSuffix", s.DialSuffix);
    w.Boolean("User", "SuffixDisable", s.SuffixDisable);
    w.Boolean("Receive", "AtStartup", s.AtStartup);
    w.Boolean("Modem", "RenegotiateBetween", s.RenegotiateBetween);
    w.Boolean("Dialing", "ECM", s.ECM);
    w.Boolean("Receive", "ECMReceive", s.ECMReceive);
    w.Text("Modem", "InitStringReceive", s.InitStringReceive);
    w.Integer("Modem", "FaxClassReceive", s.FaxClassReceive);
    w.Integer("Modem", "MaximumBPSReceive", s.MaximumBPSReceive);
    w.Boolean("Receive", "PrintOnReceipt", s.PrintOnReceipt);
    w.Text("Receive", "PrintOnReceiptPrinter", s.PrintOnReceiptPrinter);
    w.Text("Version", "Version", s.ProgramVersion);
    w.Boolean("Receive", "DisableReceivingFaxesNotification", s.DisableReceivingFaxesNotification);
    w.Text("Other", "LastUsedCoversheetTemplate", s.LastUsedCoversheetTemplate);
    w.Boolean("Other", "UseAlternateHeaderFont", s.UseAlternateHeaderFont);
    w.Boolean("Other", "GlobalUseAlternateNamingRec", s.GlobalUseAlternateNamingRec);
    w.Boolean("Other", "UseAlternateFaxViewer", s.UseAlternateFaxViewer);
    w.Boolean("Other", "GlobalLargerSendBuffer", s.GlobalLargerSendBuffer);
    w.Boolean("Other", "GlobalLargerReceiveBuffer", s.GlobalLargerReceiveBuffer);
    w.Text("Other", "LastUsedImageFilePath", s.LastUsedImageFilePath);
    w.Boolean("Modem", "UseTAPI", s.UseTAPI);
    w.Text("Modem", "TAPIDevice", s.TAPIDevice);
}

WizardPortState::WizardPortState() : saved_(Settings().PortNotConfigured) { Settings().PortNotConfigured = false; }

WizardPortState::~WizardPortState()
{
    if (!finished_)
        Settings().PortNotConfigured = saved_;
}

void LoadPrintSettings()
{
    const PrintOptions d;
    PrintOptions& p = PrintSettings();
    const SettingsReader r;
    p.MultiPage = r.Boolean("Printing", "MultiPage", d.MultiPage);
    p.Header = r.Boolean("Printing", "Header", d.Header);
    p.Footer = r.Boolean("Printing", "Footer", d.Footer);
    p.Stretch = r.Boolean("Printing", "Stretch", d.Stretch);
}

void SavePrintSettings()
{
    const PrintOptions& p = PrintSettings();
    SettingsWriter w;
    w.Boolean("Printing", "MultiPage", p.MultiPage);
    w.Boolean("Printing", "Header", p.Header);
    w.Boolean("Printing", "Footer", p.Footer);
    w.Boolean("Printing", "Stretch", p.Stretch);
}

} // namespace zn::foundation
