// "Configuration Information": a plain-text report on the program, this machine, its serial modem
// devices, the program's settings, the other windows on the desktop and the last fax sessions, for
// a support request. The report is built from gathered facts (GatherSystemFacts reads them from
// this machine) so that every line can be checked; TConfigurationInfo shows it, copies it to the
// clipboard and saves it as a text file.
#pragma once
#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace zn::app {

// One serial device that can hold a modem, as the kernel lists it.
struct TSerialDevice {
    std::string port;         // "/dev/ttyACM0"
    std::string manufacturer; // empty when the device does not say
    std::string model;
    std::string driver;
};

// A top-level window: its title, its class and whether it is shown.
struct TDesktopWindow {
    std::string title, className;
    bool visible = true;
};

struct TSystemFacts {
    std::string osName;         // os-release PRETTY_NAME (NAME when absent)
    std::string kernelRelease;  // uname -r
    std::string kernelVersion;  // uname -v
    std::string machine;        // uname -m
    std::string processorModel; // the first "model name" of /proc/cpuinfo
    int screenWidth = 0, screenHeight = 0, screenDepth = 0, pixelsPerInch = 0;
    bool screenSaverActive = false;
    // Bytes; "available" is what can still be taken.
    uint64_t physTotal = 0, physAvailable = 0, swapTotal = 0, swapFree = 0, commitTotal = 0, commitAvailable = 0;
    std::string userLanguage, systemLanguage, userCountry, systemCountry;
    std::vector<TSerialDevice> modems;
    std::vector<TDesktopWindow> windows;
};

// Reads the facts of this machine. `root` stands for "/" (tests give a folder holding etc/os-release,
// proc/cpuinfo, proc/meminfo and sys/class/tty); the screen, the locale and the windows come from
// the running application.
TSystemFacts GatherSystemFacts(const std::string& root = "/");
// The serial devices under root + "sys/class/tty": USB and ACM devices, and built-in ports that have
// a UART.
std::vector<TSerialDevice> FindSerialDevices(const std::string& root);

// "%.0n": decimal with thousand separators.
std::string GroupedNumber(uint64_t value);
// Colours of a screen depth in bits per pixel.
std::string ColorsOfDepth(int bitsPerPixel);
// The applications block's entries: titles of shown windows with their class, without the
// program's own windows, sorted.
std::vector<std::string> OtherApplications(const std::vector<TDesktopWindow>& windows);

// The report's lines. `status` shows each step's text (may be empty).
using StatusCaption = std::function<void(const std::string&)>;
std::vector<std::string> BuildConfigurationReport(const TSystemFacts& facts, const StatusCaption& status = {});

class TConfigurationInfo : public QDialog {
    Q_OBJECT
public:
    explicit TConfigurationInfo(QWidget* parent = nullptr);
    QPlainTextEdit* Memo1;
    QWidget* CopyPastePanel;
    QPlainTextEdit* CopyPasteMemo;
    QPushButton *Button1, *Button2, *Button3;
    QLabel* StatusLabel = nullptr; // the main window's status panel, set by the caller

    void SetStatusCaption(const std::string& text);
    void SetLines(const std::vector<std::string>& lines);
    void Button1Click();
    void Button3Click();
    // The save dialog: the chosen file name, empty when cancelled (tests answer it themselves).
    std::function<std::string(const std::string& folder)> RunSaveDialog;

protected:
    void showEvent(QShowEvent* event) override;
};

// The main window's "Configuration Information" command: gathers, shows and frees the report.
void ShowConfigurationInformation(QWidget* parent, QLabel* status);

} // namespace zn::app
