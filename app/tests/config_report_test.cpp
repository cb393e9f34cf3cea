// The configuration report built from fixture settings files, a fixture machine (os-release,
// cpuinfo, meminfo, serial devices) and a long receive log; and its window's copy and save.
#include "app/config_report.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "foundation/tests/test_support.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

namespace zn::app {
namespace {

namespace fs = std::filesystem;
using foundation::test::WriteFile;

struct Box {
    std::string text, caption;
};

class ConfigReportTest : public ::testing::Test {
protected:
    ConfigReportTest()
    {
        windir_ = home_.Path() + "/win";
        fs::create_directories(windir_);
        ::setenv("ZN_WINDIR", windir_.c_str(), 1);
        root_ = home_.Path() + "/machine/";
        platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned) {
            boxes.push_back({text, caption});
            return int(platform::IDOK);
        });
    }
    ~ConfigReportTest() override
    {
        platform::SetMessageBoxHook({});
        ::unsetenv("ZN_WINDIR");
    }

    // A machine with one USB modem, one built-in port with a UART and one without.
    void MakeMachine()
    {
        for (const char* folder : {"etc", "proc"})
            fs::create_directories(root_ + folder);
        WriteFile(root_ + "etc/os-release",
                  "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
        WriteFile(root_ + "proc/cpuinfo", "processor\t: 0\nmodel name\t: Test CPU 3000 @ 2.0GHz\n\nprocessor\t: 1\n"
                                          "model name\t: Test CPU 3000 @ 2.0GHz\n");
        WriteFile(root_ + "proc/meminfo", "MemTotal:        8000000 kB\nMemFree:  100 kB\nMemAvailable:    2000000 kB\n"
                                          "SwapTotal:       1000000 kB\nSwapFree:         750000 kB\n"
                                          "CommitLimit:     5000000 kB\nCommitted_AS:    1000000 kB\n");
        const std::string tty = root_ + "sys/class/tty/";
        fs::create_directories(root_ + "sys/bus/usb/devices/1-1/1-1:1.0/drivers/cdc_acm");
        fs::create_directories(tty);
        WriteFile(root_ + "sys/bus/usb/devices/1-1/manufacturer", "U.S. Robotics\n");
        WriteFile(root_ + "sys/bus/usb/devices/1-1/product", "USB Modem\n");
        fs::create_directories(tty + "ttyACM0");
        fs::create_directories(root_ + "sys/bus/usb/devices/1-1/1-1:1.0/drivers");
        fs::create_directory_symlink(root_ + "sys/bus/usb/devices/1-1/1-1:1.0", tty + "ttyACM0/device");
        fs::create_directory_symlink(root_ + "sys/bus/usb/devices/1-1/1-1:1.0/drivers/cdc_acm",
                                     root_ + "sys/bus/usb/devices/1-1/1-1:1.0/driver");
        for (const char* port : {"ttyS0", "ttyS1"}) {
            fs::create_directories(tty + port + "/device");
            fs::create_directories(tty + port);
            WriteFile(tty + port + "/type", std::string(port) == "ttyS0" ? "4\n" : "0\n");
        }
        fs::create_directories(tty + "tty1");
    }

    std::vector<std::string> Report()
    {
        foundation::LoadSettings();
        foundation::LoadPrintSettings();
        TSystemFacts facts = GatherSystemFacts(root_);
        facts.screenWidth = 1024, facts.screenHeight = 768, facts.screenDepth = 24, facts.pixelsPerInch = 96;
        facts.windows = {{"Untitled - Editor", "gedit", true}, {"Tarvel", "TMainScreen", true}};
        return BuildConfigurationReport(facts);
    }

    static size_t Find(const std::vector<std::string>& lines, const std::string& line)
    {
        return size_t(std::find(lines.begin(), lines.end(), line) - lines.begin());
    }

    foundation::test::TempHome home_;
    std::string windir_, root_;
    std::vector<Box> boxes;
};

TEST_F(ConfigReportTest, LabelsAndValuesComeFromTheSettingsFilesAndTheMachine)
{
    MakeMachine();
    WriteFile(home_.Path() + "/ZN.INI", "[Modem]\r\nComPort=2\r\nFaxClass=2\r\nMaximumBPS=14400\r\nInitString=AT&F\r\n"
                                        "[Dialing]\r\nToneOrPulse=1\r\nDialPrefix=9,\r\nECM=1\r\n"
                                        "[Resetting]\r\nString=ATZ\r\n[Printing]\r\nHeader=1\r\n");
    WriteFile(windir_ + "/ZNPD.INI", "[Location]\r\nZNOutPath=/tmp/out/\r\n");
    const std::vector<std::string> r = Report();
    const std::vector<std::string> expected = {
        "[Product]",
        "AP:          \tv3.06",
        "Windows:     \tDebian GNU/Linux 12 (bookworm) (version " + GatherSystemFacts(root_).kernelRelease
            + " build:" + GatherSystemFacts(root_).kernelVersion + ")",
        "Video:       \t1,024 x 768 x 16,777,216 colors",
        "Font:        \tSmall Fonts in use",
        "Memory Load: \t75",
        "Phys Memory: \tTotal: 8,192,000,000;    Available: 2,048,000,000",
        "Page File:   \tTotal: 1,024,000,000;    Available: 768,000,000",
        "Virt Memory: \tTotal: 5,120,000,000;    Available: 4,096,000,000",
        "[Modem Settings in Registry]",
        "Manufacturer:         \tU.S. Robotics",
        "Model:                \tUSB Modem",
        "Driver:               \tcdc_acm",
        "Port:                 \t/dev/ttyACM0",
        "Port:                 \t/dev/ttyS0",
        "[" + foundation::GetIniFileName() + "]",
        "{general}",
        "COM Port:             \t3",
        "Tone/Pulse:           \tPulse",
        "Reset String          \tATZ",
        "Post Reset String:    \t",
        "{sending}",
        "Fax Class:            \tClass 2",
        "Max BPS:              \t14400",
        "Modem Init:           \tAT&F",
        "ECM:                  \tYes",
        "Dial Prefix:          \t9,",
        "Blind Dial:           \tNo",
        "{receiving}",
        "Receive Fax Class:    \tClass 2",
        "{misc}",
        "ShowHint:             \tYes",
        "{printing}",
        "Print Header          \tYes",
        "Print Footer          \tNo",
        "{znpd}",
        "ZNPDOUT:              \t/tmp/out/",
        "ZNPDEXE:              \tnot found",
        "Program Path          \t" + foundation::GetProgramFolder(),
        "[Other Running Applications (Window, Window Class)]",
        "Untitled - Editor  (gedit)",
    };
    size_t last = 0;
    for (const std::string& line : expected) {
        const size_t at = Find(r, line);
        ASSERT_LT(at, r.size()) << "missing: " << line;
        EXPECT_GT(at + 1, last) << "out of order: " << line;
        last = at;
    }
    EXPECT_EQ(r[Find(r, "[Product]") + 1], std::string("Version:     \t2.9z Build 6"));
    EXPECT_NE(Find(r, "CPU:         \tProcessor:  " + GatherSystemFacts(root_).machine + " Test CPU 3000 @ 2.0GHz"),
              r.size());
    // The port without a UART and the console are no modem ports; the program's own window is left out.
    for (const std::string& line : r) {
        EXPECT_EQ(line.find("ttyS1"), std::string::npos);
        EXPECT_EQ(line.find("tty1"), std::string::npos);
        EXPECT_EQ(line.find("TMainScreen"), std::string::npos);
    }
}

TEST_F(ConfigReportTest, WithoutZnpdIniBothLinesSayNotFound)
{
    const std::vector<std::string> r = Report();
    EXPECT_NE(Find(r, "ZNPDOUT:              \tnot found"), r.size());
    EXPECT_NE(Find(r, "ZNPDEXE:              \tnot found"), r.size());
    // No modem devices: the heading and the empty line only.
    const size_t modem = Find(r, "[Modem Settings in Registry]");
    ASSERT_LT(modem + 3, r.size());
    EXPECT_EQ(r[modem + 1], "");
    EXPECT_EQ(r[modem + 2], "");
    EXPECT_EQ(r[modem + 3], "[" + foundation::GetIniFileName() + "]");
}

TEST_F(ConfigReportTest, TheReceiveLogIsCutAfter101LinesAndTheSendLogIsWhole)
{
    std::string rec, send;
    for (int i = 1; i <= 150; ++i)
        rec += "rec line " + std::to_string(i) + "\r\n";
    for (int i = 1; i <= 120; ++i)
        send += "send line " + std::to_string(i) + "\r\n";
    WriteFile(home_.Path() + "/Lastrec.log", rec);
    WriteFile(home_.Path() + "/LASTSEND.LOG", send);
    const std::vector<std::string> r = Report();
    const size_t s = Find(r, "[Last Send Session]");
    ASSERT_LT(s, r.size());
    EXPECT_EQ(r[s - 1], "");
    EXPECT_EQ(r[s + 1], "");
    EXPECT_EQ(r[s + 2], "send line 1");
    EXPECT_EQ(r[s + 121], "send line 120");
    EXPECT_EQ(r[s + 122], "");
    const size_t at = Find(r, "[Last Receive Session]");
    ASSERT_LT(at, r.size());
    EXPECT_EQ(r[at + 1], "");
    EXPECT_EQ(r[at + 2], "rec line 1");
    EXPECT_EQ(r[at + 102], "rec line 101");
    EXPECT_EQ(r[at + 103], "...maximum log lines copied...");
    EXPECT_EQ(r[at + 104], "");
    EXPECT_EQ(r.size(), at + 105);
}

TEST(ConfigReport, OwnWindowsAreLeftOutAndTheRestSorted)
{
    const std::vector<TDesktopWindow> windows = {
        {"Zeta", "ZClass", true},
        {"  ", "Blank", true},
        {"my tarvel fax", "X", true},
        {"Alpha", "AClass", false},
        {"Info", "TConfigurationInfo", true},
        {"Notice", "TStartingFaxForm", true},
        {"Ole", "OleMainThreadWndClass", true},
        {"Lower", "tconfigurationinfo", true},
    };
    EXPECT_EQ(OtherApplications(windows),
              (std::vector<std::string>{"Alpha  (AClass) (hidden)", "Lower  (tconfigurationinfo)", "Zeta  (ZClass)"}));
}

TEST(ConfigReport, ColoursOfEachDepth)
{
    const std::pair<int, const char*> cases[] = {{1, "2"},       {4, "16"},          {8, "256"},         {15, "32,768"},
                                                 {16, "65,535"}, {24, "16,777,216"}, {32, "16,777,216"}, {12, "12"}};
    for (const auto& [depth, text] : cases)
        EXPECT_EQ(ColorsOfDepth(depth), text) << depth;
}

TEST_F(ConfigReportTest, TheWindowCopiesToTheClipboardAndSavesAsText)
{
    foundation::test::EnsureApplication();
    TConfigurationInfo form;
    form.SetLines({"[Product]", "Version:     \tx", ""});
    form.Button1->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "[Product]\nVersion:     \tx\n");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Information copied to Windows clipboard");
    EXPECT_EQ(boxes[0].caption, "Configuration Information");

    std::string offeredFolder;
    const std::string target = home_.Path() + "/ConfigInfo";
    form.RunSaveDialog = [&](const std::string& folder) {
        offeredFolder = folder;
        return target;
    };
    form.Button3->click();
    EXPECT_EQ(offeredFolder, foundation::GetProgramFolder());
    EXPECT_EQ(foundation::test::ReadFile(target + ".TXT"), "[Product]\r\nVersion:     \tx\r\n\r\n");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Information was saved as: " + target + ".TXT");

    // A folder that cannot be written says so.
    form.RunSaveDialog = [&](const std::string&) { return home_.Path() + "/no/such/folder/x.txt"; };
    form.Button3->click();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[2].text.rfind("The information could not be saved as: ", 0), 0u) << boxes[2].text;
}

} // namespace
} // namespace zn::app
