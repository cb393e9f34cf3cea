// The fax printer through a real CUPS queue: the test starts its own cupsd (configuration, spool and
// socket in a temporary folder) with a cups-pdf printer, prints a fax to it by the queue's name and
// finds the job's PDF where cups-pdf puts it ($HOME/PDF).
#include "faxdoc/apf_file.h"
#include "faxdoc/gui/fax_printer.h"
#include "faxdoc/gui/tests/view_test_support.h"

#include <QPrinter>
#include <QPrinterInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;
namespace fs = std::filesystem;

constexpr const char* kQueue = "ZNFAXPDF";

// cupsd in the foreground on a private socket; stopped (SIGTERM, then waited for) at the end.
class TPrivateCups {
public:
    explicit TPrivateCups(const TTempDir& dir) : root_(dir.Path("cups"))
    {
        for (const char* sub : {"", "/conf", "/spool", "/cache", "/state", "/log", "/tmp"})
            fs::create_directories(root_ + sub);
        socket_ = root_ + "/cups.sock";
        std::ofstream(root_ + "/conf/cupsd.conf")
            << "Listen " << socket_ << "\nLogLevel warn\nWebInterface No\nBrowsing No\nDefaultAuthType None\n"
            << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
            << "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
            << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
        std::ofstream(root_ + "/conf/cups-files.conf")
            << "ServerRoot " << root_ << "/conf\nRequestRoot " << root_ << "/spool\nCacheDir " << root_
            << "/cache\nStateDir " << root_ << "/state\nTempDir " << root_ << "/tmp\nErrorLog " << root_
            << "/log/error_log\nAccessLog " << root_ << "/log/access_log\nPageLog " << root_
            << "/log/page_log\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\nUser lp\nGroup lp\nFileDevice No\n";
        // cupsd's own user (lp) works in these folders.
        RunCommand("chgrp -R lp '" + root_ + "' && chmod -R g+rwX '" + root_ + "' && chmod o+x '" + dir.Path("") + "'");
        pid_ = fork();
        if (pid_ == 0) {
            execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", (root_ + "/conf/cupsd.conf").c_str(), "-s",
                  (root_ + "/conf/cups-files.conf").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !fs::exists(socket_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~TPrivateCups()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Running() const { return pid_ > 0 && fs::exists(socket_); }
    const std::string& Socket() const { return socket_; }
    std::string Log() const
    {
        std::string text;
        RunCommand("tail -20 '" + root_ + "/log/error_log'", &text);
        return text;
    }

private:
    std::string root_;
    std::string socket_;
    pid_t pid_ = -1;
};

TEST(FaxPrinterCups, AFaxPrintedToACupsPdfQueueComesOutAsTheJobsPdf)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "cups-pdf runs only under a cupsd started as root";
    for (const char* path :
         {"/usr/sbin/cupsd", "/usr/lib/cups/backend/cups-pdf", "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"})
        if (!fs::exists(path))
            GTEST_SKIP() << path << " is not installed";
    for (const char* p : {"pbmtog3", "pdfinfo", "pdfimages", "lpadmin"})
        if (!HaveProgram(p))
            GTEST_SKIP() << p << " is not installed";
    TTempDir dir;
    TPrivateCups cups(dir);
    ASSERT_TRUE(cups.Running()) << cups.Log();
    setenv("CUPS_SERVER", cups.Socket().c_str(), 1);
    ASSERT_EQ(RunCommand(std::string("lpadmin -p ") + kQueue
                         + " -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null"),
              0)
        << cups.Log();
    EnsureApplication();
    EXPECT_TRUE(QPrinterInfo::availablePrinterNames().contains(kQueue)) << "the queue is among the printers CUPS knows";

    MakeChartFax(dir, "SIX.APF", {1, 2, 3, 4, 5, 6}, kPageHighResolution);
    TFxFaxPrinter printer;
    printer.SetFileName(dir.Path("SIX.APF"));
    printer.Printer().setPrinterName(kQueue);
    ASSERT_EQ(printer.Printer().outputFormat(), QPrinter::NativeFormat);
    const std::string title = "znfaxjob" + std::to_string(getpid());
    printer.SetCaption(title);
    printer.MultiPage = true;
    printer.FaxFooter().Caption = "Page: $P of $N";
    printer.PrintFax();

    // cups-pdf writes <title>...pdf into the PDF folder of the job's user once the job is done.
    const fs::path outDir = fs::path(getenv("HOME") ? getenv("HOME") : "/root") / "PDF";
    fs::path found;
    for (int i = 0; i < 600 && found.empty(); ++i) {
        std::error_code ec;
        if (fs::is_directory(outDir, ec))
            for (const auto& entry : fs::directory_iterator(outDir, ec))
                if (entry.path().filename().string().rfind(title, 0) == 0 && entry.path().extension() == ".pdf") {
                    std::string state;
                    RunCommand("lpstat -W not-completed -o " + std::string(kQueue), &state);
                    if (state.empty())
                        found = entry.path();
                }
        if (found.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(found.empty()) << "no PDF from the job in " << outDir << "\n" << cups.Log();
    std::string info;
    EXPECT_EQ(RunCommand("pdfinfo '" + found.string() + "'", &info), 0);
    const size_t pages = info.find("Pages:");
    ASSERT_NE(pages, std::string::npos) << info;
    EXPECT_EQ(std::stoi(info.substr(pages + 6)), 2) << info;
    // cups-pdf rewrites the job through ghostscript, which keeps the fax pages as 1-bit images (its
    // text comes out in fonts that carry no characters): pages 1-4 on sheet 1, 5 and 6 on sheet 2,
    // each the chart it was made of, pixel for pixel.
    std::string list;
    ASSERT_EQ(RunCommand("pdfimages -list '" + found.string() + "' | tail -n +3 | awk '{print $1}'", &list), 0);
    EXPECT_EQ(list, "1\n1\n1\n1\n2\n2\n");
    ASSERT_EQ(RunCommand("pdfimages '" + found.string() + "' '" + dir.Path("img") + "'"), 0);
    for (int page = 1; page <= 6; ++page) {
        const std::string image = dir.Path("img-00" + std::to_string(page - 1) + ".pbm");
        ASSERT_TRUE(FileExists(image)) << image;
        EXPECT_TRUE(ReadPbm(image) == ReadPbm(ChartPath(page))) << "page " << page;
    }
    fs::remove(found);
}

} // namespace
} // namespace zn::faxdoc
