#include "app/config_report.h"

#include "app/form_controls.h"
#include "app/main_screen.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/locale_formats.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "foundation/text_values.h"
#include "platform/date_format.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QGuiApplication>

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#define ZN_HAVE_XCB 1
#include <xcb/xcb.h>
#else
#define ZN_HAVE_XCB 0
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <fstream>
#include <map>
#include <sys/utsname.h>
#include <unistd.h>

namespace zn::app {

namespace {

constexpr const char* kCaption = "Configuration Information";
constexpr size_t kMaxReceiveLogLines = 101;

std::string YesNo(bool value) { return value ? "Yes" : "No"; }

std::string ReadFirstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// "KEY=value" lines, values without their quotes.
std::map<std::string, std::string> ReadOsRelease(const std::string& path)
{
    std::map<std::string, std::string> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || line[0] == '#')
            continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        out[line.substr(0, eq)] = value;
    }
    return out;
}

std::string Trimmed(const std::string& text) { return QString::fromStdString(text).trimmed().toStdString(); }

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(platform::ResolvePath(path), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void AddSettingsBlock(std::vector<std::string>& r)
{
    const auto& s = foundation::Settings();
    const auto& p = foundation::PrintSettings();
    r.push_back("{general}");
    r.push_back("COM Port:             \t" + std::to_string(s.ComPort + 1));
    r.push_back(std::string("Tone/Pulse:           \t")
                + (s.ToneOrPulse == 0   ? "Tone"
                   : s.ToneOrPulse == 1 ? "Pulse"
                                        : "unknown"));
    r.push_back("Reset String          \t" + s.ResetString);
    r.push_back("Post Reset String:    \t" + s.AfterString);
    r.push_back("{sending}");
    r.push_back("Fax Class:            \t" + foundation::FaxClassToText(s.FaxClass));
    r.push_back("Max BPS:              \t" + std::to_string(s.MaximumBPS));
    r.push_back("Modem Init:           \t" + s.InitString);
    r.push_back("ECM:                  \t" + YesNo(s.ECM));
    r.push_back("Dial Prefix:          \t" + s.DialPrefix);
    r.push_back("Dial Suffix:          \t" + s.DialSuffix);
    r.push_back("Dial Attempts:        \t" + std::to_string(s.DialAttempts));
    r.push_back("Retry Wait:           \t" + std::to_string(s.RetryWait));
    r.push_back("Blind Dial:           \t" + YesNo(s.BlindDial));
    r.push_back("Ignore Busy:          \t" + YesNo(s.IgnoreBusy));
    r.push_back("Renegotiate Between:  \t" + YesNo(s.RenegotiateBetween));
    r.push_back("Alternate header font \t" + YesNo(s.UseAlternateHeaderFont));
    r.push_back("Larger send buffer    \t" + YesNo(s.GlobalLargerSendBuffer));
    r.push_back("{receiving}");
    r.push_back("Receive Fax Class:    \t" + foundation::FaxClassToText(s.FaxClassReceive));
    r.push_back("Receive Max BPS:      \t" + std::to_string(s.MaximumBPSReceive));
    r.push_back("Receive Init String:  \t" + s.InitStringReceive);
    r.push_back("Answer On Ring:       \t" + std::to_string(s.AnswerOnRing));
    r.push_back("Receive Startup:      \t" + YesNo(s.AtStartup));
    r.push_back("ECM Receive:          \t" + YesNo(s.ECMReceive));
    r.push_back("WAV File:             \t" + s.Wav);
    r.push_back("Print On Receipt:     \t" + YesNo(s.PrintOnReceipt));
    r.push_back("Printer (POR):        \t" + s.PrintOnReceiptPrinter);
    r.push_back("Alternate naming rec  \t" + YesNo(s.GlobalUseAlternateNamingRec));
    r.push_back("Larger rec buffer     \t" + YesNo(s.GlobalLargerReceiveBuffer));
    r.push_back("{misc}");
    r.push_back("ShowHint:             \t" + YesNo(s.HintsOn));
    r.push_back("Disable Prefix:       \t" + YesNo(s.PrefixDisable));
    r.push_back("{printing}");
    r.push_back("Print Multi           \t" + YesNo(p.MultiPage));
    r.push_back("Print Header          \t" + YesNo(p.Header));
    r.push_back("Print Footer          \t" + YesNo(p.Footer));
    r.push_back("Print Stretch         \t" + YesNo(p.Stretch));
}

void AddZnpdBlock(std::vector<std::string>& r)
{
    const std::string path = platform::WindowsFolder() + "/ZNPD.INI";
    std::string out = "not found", exe = "not found";
    // A file that is there but cannot be read gives neither value.
    if (platform::FileExistsCI(path) && ::access(platform::ResolvePath(path).c_str(), R_OK) != 0) {
        out.clear();
        exe.clear();
    } else {
        const platform::IniFile ini(path);
        out = ini.ReadString("Location", "ZNOutPath", "not found");
        exe = ini.ReadString("Location", "ZNExecutable", "not found");
    }
    r.push_back("{znpd}");
    r.push_back("ZNPDOUT:              \t" + out);
    r.push_back("ZNPDEXE:              \t" + exe);
    r.push_back("Program Path          \t" + foundation::GetProgramFolder());
    r.push_back("");
}

void AddModemBlock(std::vector<std::string>& r, const std::vector<TSerialDevice>& modems)
{
    r.push_back("[Modem Settings in Registry]");
    r.push_back("");
    for (size_t i = 0; i < modems.size(); ++i) {
        const TSerialDevice& m = modems[i];
        if (!m.manufacturer.empty())
            r.push_back("Manufacturer:         \t" + m.manufacturer);
        if (!m.model.empty())
            r.push_back("Model:                \t" + m.model);
        if (!m.driver.empty())
            r.push_back("Driver:               \t" + m.driver);
        r.push_back("Port:                 \t" + m.port);
        if (i + 1 < modems.size())
            r.push_back("");
    }
}

void AddLogBlock(std::vector<std::string>& r)
{
    const std::string folder = foundation::GetProgramFolder();
    if (platform::FileExistsCI(folder + "Lastsend.log")) {
        r.push_back("");
        r.push_back("[Last Send Session]");
        r.push_back("");
        for (const std::string& line : ReadLines(folder + "Lastsend.log"))
            r.push_back(line);
        r.push_back("");
    }
    if (platform::FileExistsCI(folder + "Lastrec.log")) {
        r.push_back("");
        r.push_back("[Last Receive Session]");
        r.push_back("");
        const std::vector<std::string> lines = ReadLines(folder + "Lastrec.log");
        for (size_t i = 0; i < lines.size() && i < kMaxReceiveLogLines; ++i)
            r.push_back(lines[i]);
        if (lines.size() > kMaxReceiveLogLines)
            r.push_back("...maximum log lines copied...");
        r.push_back("");
    }
}

// A screen saver service on the session bus: the desktop may blank the screen during a call.
bool ScreenSaverServiceRunning()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> reply = bus.interface()->isServiceRegistered("org.freedesktop.ScreenSaver");
    return reply.isValid() && reply.value();
}

#if ZN_HAVE_XCB
std::string WindowProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type)
{
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, type, 0, 1024), nullptr), &std::free);
    if (!reply)
        return {};
    const int length = xcb_get_property_value_length(reply.get());
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())), size_t(std::max(length, 0)));
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}
#endif

// The top-level windows of other programs on an X11 desktop: the window manager's client list, or
// the root window's children without one. Nothing on other desktops.
std::vector<TDesktopWindow> OtherProgramsWindows()
{
    std::vector<TDesktopWindow> out;
#if ZN_HAVE_XCB
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || xcb_connection_has_error(c))
        return out;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return out;
    const xcb_atom_t utf8 = Atom(c, "UTF8_STRING"), netName = Atom(c, "_NET_WM_NAME"),
                     clients = Atom(c, "_NET_CLIENT_LIST");
    std::vector<xcb_window_t> windows;
    const std::string list = WindowProperty(c, screen->root, clients, XCB_ATOM_WINDOW);
    for (size_t i = 0; i + sizeof(xcb_window_t) <= list.size(); i += sizeof(xcb_window_t)) {
        xcb_window_t w;
        std::memcpy(&w, list.data() + i, sizeof w);
        windows.push_back(w);
    }
    if (windows.empty()) {
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr), &std::free);
        if (tree) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
        }
    }
    // Windows made through our own connection carry its resource base: ours are listed above by
    // their form class.
    const xcb_setup_t* setup = xcb_get_setup(c);
    for (xcb_window_t w : windows) {
        if ((w & ~setup->resource_id_mask) == setup->resource_id_base)
            continue;
        std::string title = WindowProperty(c, w, netName, utf8);
        if (title.empty())
            title = WindowProperty(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
        // WM_CLASS holds the instance and the class, each ended by a zero byte.
        const std::string wmClass = WindowProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
        const size_t zero = wmClass.find('\0');
        std::string className = zero == std::string::npos ? wmClass : wmClass.substr(zero + 1);
        if (!className.empty() && className.back() == '\0')
            className.pop_back();
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr), &std::free);
        const bool visible = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        out.push_back({title, className, visible});
    }
#endif
    return out;
}

} // namespace

std::string GroupedNumber(uint64_t value)
{
    const char separator = foundation::CurrentLocaleFormats().ThousandSeparator;
    std::string digits = std::to_string(value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0 && separator)
            out += separator;
        out += digits[i];
    }
    return out;
}

std::string ColorsOfDepth(int bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 1: return "2";
    case 4: return "16";
    case 8: return "256";
    case 15: return GroupedNumber(32768);
    case 16: return GroupedNumber(65535);
    case 24:
    case 32: return GroupedNumber(16777216);
    default: return GroupedNumber(uint64_t(std::max(bitsPerPixel, 0)));
    }
}

std::vector<TSerialDevice> FindSerialDevices(const std::string& root)
{
    namespace fs = std::filesystem;
    std::vector<TSerialDevice> out;
    const fs::path ttys = fs::path(root) / "sys/class/tty";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ttys, ec)) {
        const std::string name = entry.path().filename().string();
        const bool usb = name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
        const bool builtIn = name.rfind("ttyS", 0) == 0;
        if (!usb && !builtIn)
            continue;
        // A built-in port without a UART behind it reports type 0.
        if (builtIn && Trimmed(ReadFirstLine((entry.path() / "type").string())) == "0")
            continue;
        if (builtIn && !fs::exists(entry.path() / "device", ec))
            continue;
        TSerialDevice d;
        d.port = "/dev/" + name;
        std::error_code linkError;
        const fs::path driver = fs::read_symlink(entry.path() / "device/driver", linkError);
        if (!linkError)
            d.driver = driver.filename().string();
        // USB serial devices name their maker and product a level or two up.
        for (const char* up : {"device/..", "device/../.."}) {
            const fs::path dir = entry.path() / up;
            if (d.manufacturer.empty())
                d.manufacturer = Trimmed(ReadFirstLine((dir / "manufacturer").string()));
            if (d.model.empty())
                d.model = Trimmed(ReadFirstLine((dir / "product").string()));
        }
        out.push_back(d);
    }
    std::sort(out.begin(), out.end(), [](const TSerialDevice& a, const TSerialDevice& b) { return a.port < b.port; });
    return out;
}

std::vector<std::string> OtherApplications(const std::vector<TDesktopWindow>& windows)
{
    static const char* const kOwnClasses[] = {
        "TConfigurationInfo", "TInputQueryForm", "TStandardFaxPrinterStatusDisplay",
        "TStartingFaxForm",   "OleDdeWndClass",  "OleMainThreadWndClass"};
    std::vector<std::string> out;
    for (const TDesktopWindow& w : windows) {
        const std::string title = Trimmed(w.title);
        if (title.empty())
            continue;
        std::string entry = title + "  (" + Trimmed(w.className) + ")";
        if (!w.visible)
            entry += " (hidden)";
        bool own = QString::fromStdString(entry).contains("TARVEL", Qt::CaseInsensitive);
        for (const char* c : kOwnClasses)
            own = own || entry.find(c) != std::string::npos;
        if (!own)
            out.push_back(entry);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TSystemFacts GatherSystemFacts(const std::string& root)
{
    TSystemFacts f;
    const std::string base = root.empty() || root.back() == '/' ? root : root + "/";
    const auto os = ReadOsRelease(base + "etc/os-release");
    f.osName = os.count("PRETTY_NAME") ? os.at("PRETTY_NAME") : os.count("NAME") ? os.at("NAME") : std::string();
    struct utsname u {};
    if (::uname(&u) == 0) {
        f.kernelRelease = u.release;
        f.kernelVersion = u.version;
        f.machine = u.machine;
    }
    {
        std::ifstream in(base + "proc/cpuinfo");
        std::string line;
        while (std::getline(in, line) && f.processorModel.empty())
            if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
                f.processorModel = Trimmed(line.substr(line.find(':') + 1));
    }
    {
        std::map<std::string, uint64_t> mem;
        std::ifstream in(base + "proc/meminfo");
        std::string line;
        while (std::getline(in, line)) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            try {
                mem[line.substr(0, colon)] = std::stoull(line.substr(colon + 1)) * 1024;
            } catch (const std::exception&) {
            }
        }
        f.physTotal = mem["MemTotal"];
        f.physAvailable = mem.count("MemAvailable") ? mem["MemAvailable"] : mem["MemFree"];
        f.swapTotal = mem["SwapTotal"];
        f.swapFree = mem["SwapFree"];
        f.commitTotal = mem["CommitLimit"];
        f.commitAvailable = f.commitTotal > mem["Committed_AS"] ? f.commitTotal - mem["Committed_AS"] : 0;
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        f.screenWidth = screen->geometry().width();
        f.screenHeight = screen->geometry().height();
        f.screenDepth = screen->depth();
        f.pixelsPerInch = int(screen->logicalDotsPerInch() + 0.5);
    }
    const QLocale user;
    const QLocale system = QLocale::system();
    f.userLanguage = QLocale::languageToString(user.language()).toStdString();
    f.systemLanguage = QLocale::languageToString(system.language()).toStdString();
    // A locale without a country (the C locale) goes by its own name.
    auto country = [](const QLocale& locale) {
        const QString code = QLocale::territoryToCode(locale.territory());
        return (code.isEmpty() ? locale.name() : code).toStdString();
    };
    f.userCountry = country(user);
    f.systemCountry = country(system);
    f.modems = FindSerialDevices(base);
    // Our own windows by their form class (so that the report's filter knows them), then the other
    // programs' windows as far as the desktop lists them.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->parentWidget())
            continue;
        f.windows.push_back({w->windowTitle().toStdString(), foundation::FormClassName(*w), w->isVisible()});
    }
    for (TDesktopWindow& w : OtherProgramsWindows())
        f.windows.push_back(std::move(w));
    f.screenSaverActive = ScreenSaverServiceRunning();
    return f;
}

std::vector<std::string> BuildConfigurationReport(const TSystemFacts& f, const StatusCaption& status)
{
    auto step = [&status](const char* text) {
        if (status)
            status(text);
    };
    std::vector<std::string> r;
    step("Finding program info....");
    r.push_back(platform::FormatDateTime(platform::LongDateFormat(), platform::Now()));
    r.push_back("");
    r.push_back("[Product]");
    r.push_back(std::string("Version:     \t") + kProgramVersion);
    r.push_back("AP:          \tv3.06");
    r.push_back("");
    step("Finding environment info...");
    r.push_back("[Environment]");
    if (f.screenSaverActive)
        r.push_back("Screen Saver:\tPossible Active Screen Saver Detected");

    step("Finding general Windows info...");
    step("Finding Windows Version...");
    r.push_back("Windows:     \t" + f.osName + " (version " + f.kernelRelease + " build:" + f.kernelVersion + ")");
    step("Finding processor info...");
    r.push_back("CPU:         \tProcessor:  " + f.machine + " " + f.processorModel);
    step("Finding video info...");
    r.push_back("Video:       \t" + GroupedNumber(uint64_t(std::max(f.screenWidth, 0))) + " x "
                + GroupedNumber(uint64_t(std::max(f.screenHeight, 0))) + " x " + ColorsOfDepth(f.screenDepth)
                + " colors");
    step("Finding font size...");
    r.push_back(std::string("Font:        \t")
                + (f.pixelsPerInch == 96    ? "Small Fonts in use"
                   : f.pixelsPerInch == 120 ? "Large Fonts in use"
                                            : "Custom font size in use"));
    step("Finding memory info...");
    const uint64_t load = f.physTotal ? (f.physTotal - std::min(f.physAvailable, f.physTotal)) * 100 / f.physTotal : 0;
    r.push_back("Memory Load: \t" + std::to_string(load));
    auto amounts = [](uint64_t total, uint64_t available) {
        return "Total: " + GroupedNumber(total) + ";    Available: " + GroupedNumber(available);
    };
    r.push_back("Phys Memory: \t" + amounts(f.physTotal, f.physAvailable));
    r.push_back("Page File:   \t" + amounts(f.swapTotal, f.swapFree));
    r.push_back("Virt Memory: \t" + amounts(f.commitTotal, f.commitAvailable));
    step("Finding language info...");
    r.push_back("Language:    \tUser: " + f.userLanguage + ";    System: " + f.systemLanguage);
    step("Finding country info...");
    r.push_back("Country:     \tUser: " + f.userCountry + ";    System: " + f.systemCountry);
    r.push_back("Date Format: \tShort: " + platform::ShortDateFormat() + ";    Long: " + platform::LongDateFormat());
    r.push_back("Time Format: \tShort: " + platform::ShortTimeFormat() + ";    Long: " + platform::LongTimeFormat());

    step("Finding modem data...");
    r.push_back("");
    AddModemBlock(r, f.modems);

    step("Loading program configuration data...");
    r.push_back("");
    r.push_back("[" + foundation::GetIniFileName() + "]");
    r.push_back("");
    AddSettingsBlock(r);
    AddZnpdBlock(r);

    step("Finding other Windows apps...");
    step("Finding Windows for other apps...");
    step("Removing redundant info...");
    step("Sorting Window info...");
    r.push_back("[Other Running Applications (Window, Window Class)]");
    r.push_back("");
    for (const std::string& entry : OtherApplications(f.windows))
        r.push_back(entry);

    step("Loading logs...");
    AddLogBlock(r);
    return r;
}

// --- The window ---

TConfigurationInfo::TConfigurationInfo(QWidget* parent) : QDialog(parent)
{
    setObjectName("TConfigurationInfo");
    setWindowTitle(kCaption);
    setFont(QFont("Arial", 9));
    auto* note = new QLabel("Please copy this information into your message to Tarvel technical support: click "
                            "\"Copy to Clipboard\" and paste it into the message, or save it as a file and attach it.",
                            this);
    note->setObjectName("Label1");
    note->setWordWrap(true);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setFont(QFont("Courier New", 9));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setMinimumSize(620, 400);
    CopyPastePanel = new QWidget(this);
    CopyPastePanel->setObjectName("CopyPastePanel");
    CopyPasteMemo = new QPlainTextEdit(CopyPastePanel);
    CopyPasteMemo->setObjectName("CopyPasteMemo");
    CopyPastePanel->hide();
    Button1 = MakeButton(this, "Button1", "Copy to Clipboard");
    Button2 = MakeButton(this, "Button2", "OK");
    Button2->setDefault(true);
    Button3 = MakeButton(this, "Button3", "Save As...");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addWidget(Memo1, 1);
    layout->addLayout(ButtonRow({Button1, Button3, Button2}));
    TabOrder({Button1, Button3, Button2});
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { done(1); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    RunSaveDialog = [this](const std::string& folder) {
        return QFileDialog::getSaveFileName(this, "Save As", QString::fromStdString(folder + "ConfigInfo.txt"),
                                            "Text files (*.TXT)")
            .toStdString();
    };
}

void TConfigurationInfo::SetStatusCaption(const std::string& text)
{
    if (!StatusLabel)
        return;
    StatusLabel->setText(QString::fromStdString(text));
    QCoreApplication::processEvents();
}

void TConfigurationInfo::SetLines(const std::vector<std::string>& lines)
{
    QStringList all;
    for (const std::string& line : lines)
        all << QString::fromStdString(line);
    Memo1->setPlainText(all.join('\n'));
}

void TConfigurationInfo::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    QTextCursor start = Memo1->textCursor();
    start.movePosition(QTextCursor::Start);
    Memo1->setTextCursor(start);
    Memo1->ensureCursorVisible();
}

void TConfigurationInfo::Button1Click()
{
    CopyPasteMemo->setPlainText(Memo1->toPlainText());
    CopyPasteMemo->selectAll();
    QApplication::clipboard()->setText(CopyPasteMemo->toPlainText());
    foundation::ShowMessageBox("Information copied to Windows clipboard", kCaption,
                               platform::MB_OK | platform::MB_ICONINFORMATION);
}

void TConfigurationInfo::Button3Click()
{
    if (!RunSaveDialog)
        return;
    std::string name = RunSaveDialog(foundation::GetProgramFolder());
    if (name.empty())
        return;
    if (QString::fromStdString(name).section('/', -1).indexOf('.') < 0)
        name += ".TXT";
    CopyPasteMemo->setPlainText(Memo1->toPlainText());
    // Lines end in CR LF, as a text file for the support desk should.
    QByteArray bytes = CopyPasteMemo->toPlainText().toUtf8().replace("\n", "\r\n");
    if (!bytes.isEmpty())
        bytes += "\r\n";
    QSaveFile file(QString::fromStdString(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        foundation::ShowMessageBox("The information could not be saved as: " + name + "\r("
                                       + file.errorString().toStdString() + ")",
                                   kCaption, platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    foundation::ShowMessageBox("Information was saved as: " + name, kCaption,
                               platform::MB_OK | platform::MB_ICONINFORMATION);
}

void ShowConfigurationInformation(QWidget* parent, QLabel* status)
{
    auto show = [status](const std::string& text) {
        if (status) {
            status->setText(QString::fromStdString(text));
            QCoreApplication::processEvents();
        }
    };
    show("Loading Config Info...determining Windows version...");
    TConfigurationInfo form(parent);
    form.StatusLabel = status;
    const TSystemFacts facts = GatherSystemFacts();
    form.SetLines(BuildConfigurationReport(facts, [&form](const std::string& t) { form.SetStatusCaption(t); }));
    foundation::CenterForm(form);
    show("Done");
    form.exec();
    if (status)
        status->clear();
}

} // namespace zn::app
