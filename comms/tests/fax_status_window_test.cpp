// The fax status window's field texts and the meter's blocks, on Qt's offscreen platform; the
// history log's lines and the components' defaults without a line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "comms/fax/fax_component_port.h"
#include "comms/fax/fax_components.h"
#include "comms/gui/fax_meter.h"
#include "comms/gui/fax_status_window.h"
#include "platform/clock.h"
#include "apf_test_pages.h"
#include "class2_sim_process.h"
#include "comms/fax/fax_component_port.h"
#include "faxline_harness.h"

using namespace zn::comms;

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "fax_status_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// A component whose engine calls the test makes up.
template <class Base>
class Scripted : public Base {
public:
    using Call = typename Base::EngineCall;
    void Status(const TFaxProgress& p, int flags = 0) { Deliver(fmFaxStatus, flags, p); }
    void Log(int code, const TFaxProgress& p = {}) { Deliver(fmFaxLog, code, p); }
    bool Next(std::string& phone, std::string& file, std::string& cover)
    {
        Call call;
        call.msg = fmFaxNext;
        this->DeliverCall(call);
        phone = call.phoneNumber;
        file = call.faxFile;
        cover = call.coverFile;
        return call.answer;
    }
    void Deliver(uint32_t msg, int code, const TFaxProgress& p)
    {
        Call call;
        call.msg = msg;
        call.code = code;
        call.progress = p;
        this->DeliverCall(call);
    }
};

// ---- Meter --------------------------------------------------------------------------------------

struct MeterCase {
    int width, step, min, max, position;
    int blocks;
    bool partial;
    int partialWidth;
};

class MeterBlocks : public ::testing::TestWithParam<MeterCase> {};

TEST_P(MeterBlocks, FollowThePosition)
{
    App();
    const MeterCase& c = GetParam();
    TFxMeter meter;
    meter.resize(c.width, 16);
    meter.SetStep(c.step);
    meter.SetMin(c.min);
    meter.SetMax(c.max);
    meter.SetPosition(c.position);
    EXPECT_EQ(meter.Blocks(), c.blocks);
    EXPECT_EQ(meter.PartialBlock(), c.partial);
    if (c.partial) {
        EXPECT_EQ(meter.PartialWidth(), c.partialWidth);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MeterBlocks,
                         ::testing::Values(MeterCase{150, 8, 0, 100, 0, 0, false, 0}, // at Min: nothing
                                           MeterCase{150, 8, 0, 100, 1, 1, false, 0}, // just above Min
                                           MeterCase{150, 8, 0, 100, 50, 10, false, 0},
                                           MeterCase{150, 8, 0, 100, 100, 18, true, 2}, // at Max
                                           MeterCase{150, 8, 20, 40, 30, 10, false, 0},
                                           MeterCase{406, 10, 0, 100, 100, 40, true, 2},   // the window's meter
                                           MeterCase{406, 10, 0, 100, 250, 40, true, 2}),
                         [](const ::testing::TestParamInfo<MeterCase>& info) {
                             const MeterCase& c = info.param;
                             return "Width" + std::to_string(c.width) + "_Step" + std::to_string(c.step) + "_" + std::to_string(c.min)
                                    + "To" + std::to_string(c.max) + "_At" + std::to_string(c.position);
                         }); // past Max: clipped

TEST(Meter, PaintsBlocksWithGapsAndFiresOnChangeOnly)
{
    App();
    TFxMeter meter;
    meter.resize(150, 16);
    meter.SetBarColor(Qt::blue);
    meter.SetBevelColor1(Qt::white);
    meter.SetBevelColor2(Qt::black);
    int changes = 0;
    meter.OnPosChange = [&](TFxMeter&) { ++changes; };
    meter.SetPosition(10); // 10 * 18 / 100 + 1 = 2 blocks
    meter.SetPosition(11); // still 2 blocks
    EXPECT_EQ(changes, 1);
    QImage image = meter.grab().toImage();
    EXPECT_EQ(QColor(image.pixel(0, 0)), QColor(Qt::black));    // lowered: dark top and left
    EXPECT_EQ(QColor(image.pixel(149, 15)), QColor(Qt::white)); // light bottom and right
    EXPECT_EQ(QColor(image.pixel(2, 2)), QColor(Qt::blue));     // block 0: x 2..7
    EXPECT_EQ(QColor(image.pixel(7, 13)), QColor(Qt::blue));
    EXPECT_NE(QColor(image.pixel(8, 8)), QColor(Qt::blue));  // the gap
    EXPECT_EQ(QColor(image.pixel(10, 8)), QColor(Qt::blue)); // block 1: x 10..15
    EXPECT_NE(QColor(image.pixel(18, 8)), QColor(Qt::blue)); // no third block
}

// ---- Status window -----------------------------------------------------------------------------

QString Field(TFxFaxStatus& status, QLabel* TStandardFaxDisplay::*field) { return (status.Form()->*field)->text(); }

TEST(StatusWindow, ShowsTheSendersFields)
{
    App();
    TFxFaxStatus status;
    EXPECT_EQ(status.Caption(), "Fax Status");
    Scripted<TFxSendFax> fax;
    fax.SetStatusDisplay(&status);
    fax.PhoneNumber = "5550100";
    fax.SetFaxFile("/some/folder/ABCDEFGHIJKLMNOPQRSTUVW.APF"); // 27 characters
    fax.CoverFile = "/covers/short.txt";
    TFaxProgress p;
    p.statusCode = 4804;
    p.currentPage = 0;
    p.totalPages = 3;
    p.remoteID = "FAR END";
    p.connectBPS = 14400;
    p.hiRes = true;
    p.wideWidth = true;
    p.errorCorrection = false;
    p.pageLength = 2000;
    p.bytesTransferred = 500;
    p.dialAttempt = 1;
    fax.Status(p, 1);
    ASSERT_TRUE(status.Form()->isVisible());
    EXPECT_EQ(status.Form()->windowTitle(), "Fax Status");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsPhoneNumber), "5550100");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsFaxFileName), "ABCDEFGHIJKLMNOPQRST...");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsCoverFileName), "short.txt");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsTotalPages), "3");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsDialAttempt), "2");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsRemoteID), "FAR END");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsConnectBPS), "14400");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsResolution), "high");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsWidth), "2048");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsErrorControl), "off");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsCurrentPage), "<cover page>");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsPageLength), "2000");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsBytesTransferred), "500");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsElapsedTime), "00:00");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsStatusMsg), QString::fromStdString(StatusText(4804)));
    EXPECT_EQ(status.Form()->Meter->Position(), 25);
    EXPECT_TRUE(status.Form()->Meter->isVisibleTo(status.Form()));

    p.statusCode = 4840; // session parameters: the elapsed clock starts
    p.currentPage = 2;
    p.hiRes = false;
    p.wideWidth = false;
    p.errorCorrection = true;
    fax.Status(p);
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsCurrentPage), "2");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsResolution), "standard");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsWidth), "1728");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsErrorControl), "on");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsElapsedTime), "  0:00");

    if (const char* dir = std::getenv("ZN_SCREENSHOT_DIR"))
        status.Form()->grab().save(QString(dir) + "/fax_status_send.png");

    fax.Status(p, 2);
    EXPECT_FALSE(status.Form()->isVisible());
}

TEST(StatusWindow, ReceiverHasNoMeterAndCountsDownARedial)
{
    App();
    TFxFaxStatus status;
    Scripted<TFxReceiveFax> fax;
    fax.SetStatusDisplay(&status);
    fax.SetFaxFile("/in/FAX0001.APF");
    TFaxProgress p;
    p.statusCode = 4824;
    p.currentPage = 1;
    fax.Status(p, 1);
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsPhoneNumber), "");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsCoverFileName), "");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsFaxFileName), "FAX0001.APF");
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsDialAttempt), "1");
    EXPECT_FALSE(status.Form()->Meter->isVisibleTo(status.Form()));
    EXPECT_EQ(status.Form()->fsLabel19->text(), "Page progress: N/A");
    if (const char* dir = std::getenv("ZN_SCREENSHOT_DIR"))
        status.Form()->grab().save(QString(dir) + "/fax_status_receive.png");

    Scripted<TFxSendFax> sender;
    sender.SetStatusDisplay(&status);
    sender.DialRetryWait = 90;
    p.statusCode = 4803;
    sender.Status(p, 1);
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsStatusMsg), QString::fromStdString(StatusText(4803)) + "  1:30");
}

// Each session of the component times itself from its own start, also when the last one ended
// without its closing status (the line dropped, the user cancelled).
TEST(StatusWindow, TheElapsedTimeStartsAtZeroForEachSession)
{
    App();
    TFxFaxStatus status;
    Scripted<TFxSendFax> fax;
    fax.SetStatusDisplay(&status);
    TFaxProgress p;
    p.statusCode = 4841; // the far end named itself: the clock starts
    fax.Status(p, 1);
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsElapsedTime), "  0:00");
    zn::platform::SetClockOffsetForTest(188000); // a call of 3:08
    fax.Status(p);
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsElapsedTime), "  3:08");
    p.statusCode = 4805; // the line drops: the session ends without its closing status
    fax.Status(p, 2);

    p.statusCode = 4801;
    fax.Status(p, 1);
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsElapsedTime), "00:00");
    p.statusCode = 4841;
    fax.Status(p);
    EXPECT_EQ(Field(status, &TStandardFaxDisplay::fsElapsedTime), "  0:00");
    zn::platform::SetClockOffsetForTest(0);
}

TEST(StatusWindow, TimeTexts)
{
    EXPECT_EQ(MinutesSeconds(0), "  0:00");
    EXPECT_EQ(MinutesSeconds(65), "  1:05");
    EXPECT_EQ(MinutesSeconds(6000), "100:00");
    EXPECT_EQ(ShortFaxFileName("C:\\FAX\\A.APF"), "A.APF");
    EXPECT_EQ(ShortFaxFileName("12345678901234567890"), "12345678901234567890");
}

// ---- History log and component defaults --------------------------------------------------------

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FaxLog, SendLinesAsTheHistoryKeepsThem)
{
    App();
    Scripted<TFxSendFax> fax;
    fax.FaxFileList = {"A.APF", "B.APF"};
    fax.PhoneNumber = "5550100";
    TFaxProgress p;
    p.remoteID = "FAR END";
    p.hangupCode = 0;
    fax.Status(p);
    EXPECT_EQ(TFxFaxLog::EntryText(fax, 1, "DT"),
              "Transmit A.APF to 5550100 started at DT\r\nTransmit B.APF to 5550100 started at DT\r\n");
    EXPECT_EQ(TFxFaxLog::EntryText(fax, 2, "DT"), "Transmit to FAR END finished OK at DT 0\r\n\r\n");
    p.errorCode = -8064;
    p.hangupCode = 11;
    fax.Status(p);
    EXPECT_EQ(TFxFaxLog::EntryText(fax, 3, "DT"),
              "Transmit failed at DT\r\n  (" + FaxErrorText(-8064) + ") 11\r\n\r\n");
}

TEST(FaxLog, ReceiveLinesAsTheHistoryKeepsThem)
{
    App();
    Scripted<TFxReceiveFax> fax;
    fax.SetFaxFile("FAX0001.APF");
    TFaxProgress p;
    p.remoteID = "FAR END";
    p.errorCode = -6006;
    fax.Status(p);
    EXPECT_EQ(TFxFaxLog::EntryText(fax, 4, "DT"), "Receive FAX0001.APF from FAR END started at DT\r\n");
    EXPECT_EQ(TFxFaxLog::EntryText(fax, 5, "DT"), "Receive finished OK at DT\r\n\r\n");
    EXPECT_EQ(TFxFaxLog::EntryText(fax, 6, "DT"), "Receive skipped at DT\r\n\r\n");
    EXPECT_EQ(TFxFaxLog::EntryText(fax, 7, "DT"), "Receive failed at DT\r\n  (" + FaxErrorText(-6006) + ")\r\n\r\n");
}

TEST(FaxLog, AppendsToTheFileAndAnEmptyNameWritesNothing)
{
    App();
    faxline::TempDir dir;
    TFxFaxLog log;
    log.FaxHistoryName = dir.File("FXCFAX.HIS");
    Scripted<TFxReceiveFax> fax;
    fax.SetFaxLog(&log);
    EXPECT_EQ(log.Fax(), &fax);
    fax.Log(6);
    fax.Log(6);
    std::string text = ReadFile(dir.File("FXCFAX.HIS"));
    size_t second = text.find("Receive skipped at ", 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(text.substr(0, second), text.substr(second));
    EXPECT_EQ(text.substr(0, 19), "Receive skipped at ");
    EXPECT_EQ(text.substr(second - 4, 4), "\r\n\r\n");

    log.FaxHistoryName.clear();
    fax.Log(6);
    EXPECT_EQ(ReadFile(dir.File("FXCFAX.HIS")), text);

    log.FaxHistoryName = dir.File("no/such/folder/FXCFAX.HIS");
    EXPECT_THROW(log.WriteLogEntry(6), std::exception);
}

TEST(SendFax, OneFileWithoutOnFaxNextIsGivenOnce)
{
    App();
    Scripted<TFxSendFax> fax;
    fax.SetFaxFile("ONE.APF");
    fax.PhoneNumber = "123";
    fax.CoverFile = "COVER.TXT";
    std::string phone, file, cover;
    EXPECT_TRUE(fax.Next(phone, file, cover));
    EXPECT_EQ(phone, "123");
    EXPECT_EQ(file, "ONE.APF");
    EXPECT_EQ(cover, "COVER.TXT");
    EXPECT_FALSE(fax.Next(phone, file, cover));
    EXPECT_EQ(phone, "");
}

TEST(SendFax, Defaults)
{
    App();
    TFxSendFax fax;
    fax.SetDialWait(60);
    EXPECT_EQ(fax.DialWait(), 60);
    EXPECT_EQ(fax.DialAttempts, 3);
    EXPECT_EQ(fax.DialRetryWait, 60);
    EXPECT_EQ(fax.FaxFileExt, "APF");
    EXPECT_EQ(fax.StatusInterval, 1);
    fax.SetModemInit("e0v1");
    EXPECT_EQ(fax.ModemInit(), "ATE0V1");
    TFxReceiveFax rx;
    EXPECT_EQ(rx.FaxClass, fcDetect);
    rx.SetDestinationDir("/in");
    EXPECT_EQ(rx.DestinationDir(), "/in/");
}

} // namespace

namespace {

size_t LongestRow(const std::vector<std::vector<uint8_t>>& rows)
{
    size_t n = 0;
    for (const auto& r : rows)
        n = std::max(n, r.size());
    return n;
}

TEST(FaxText, HeaderAndCoverRowsInTheFaxFontOrTheToolkitFont)
{
    App();
    FaxFontTextRows text;
    std::vector<std::vector<uint8_t>> rows;
    ASSERT_EQ(text.CodeText("PAGE 1", true, false, false, rows), 0);
    EXPECT_EQ(rows.size(), 8u); // the small fax font
    ASSERT_EQ(text.CodeText("PAGE 1", true, true, false, rows), 0);
    EXPECT_EQ(rows.size(), 16u); // doubled in high resolution
    ASSERT_EQ(text.CodeText("COVER", false, false, false, rows), 0);
    EXPECT_EQ(rows.size(), 16u); // the large fax font

    text.enhanced = true; // without a maker the fax font stays
    ASSERT_EQ(text.CodeText("PAGE 1", true, false, false, rows), 0);
    EXPECT_EQ(rows.size(), 8u);

    InstallEnhancedFaxText();
    text.headerFont = {"DejaVu Sans", 24, true, false};
    ASSERT_EQ(text.CodeText("PAGE 1", true, false, false, rows), 0);
    const size_t normal = rows.size();
    EXPECT_GT(normal, 16u);
    EXPECT_GT(LongestRow(rows), 8u) << "the text draws black runs";
    ASSERT_EQ(text.CodeText("PAGE 1", true, true, false, rows), 0);
    EXPECT_GT(rows.size(), normal) << "high resolution draws the font at twice its size";
    ASSERT_EQ(text.CodeText("", true, false, false, rows), 0);
    EXPECT_LE(LongestRow(rows), 8u) << "an empty line is white";
    SetEnhancedTextMaker(nullptr);
}

} // namespace

namespace {

// Starts sending and processes events until the session's FaxFinish: its code, none when it did not
// come within `limit`.
std::optional<int> SendUntilFinished(TFxSendFax& fax, std::chrono::seconds limit)
{
    std::optional<int> finish;
    fax.OnFaxFinish = [&](TFxCustomAbstractFax&, int code) { finish = code; };
    fax.StartTransmit();
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!finish && std::chrono::steady_clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return finish;
}

// A real session with the window tied to it: the window shows the sending, and its Cancel button
// ends the session.
TEST(StatusWindow, FollowsASessionAndItsCancelButtonEndsIt)
{
    App();
    faxline::TempDir dir;
    // Page data flows slowly enough (real-time simulator) for the click to land inside the page.
    zn::comms::test::Class2SimProcess sim(dir, {"--rx-dir", dir.File("rx")});
    ASSERT_FALSE(sim.Device().empty());
    ::setenv("ZN_COM8", sim.Device().c_str(), 1);
    auto page = faxline::ReadPbm(faxline::ItuChartPath(1));
    ASSERT_TRUE(page);
    ASSERT_TRUE(zn::comms::test::WriteApf(dir.File("a.apf"), {*page}, true));

    ComPortPtr port = MakeFaxComPort(8);
    TFxFaxStatus status;
    TFxSendFax fax;
    fax.SetComPort(port.get());
    fax.SetStatusDisplay(&status);
    fax.FaxClass = fcClass2;
    fax.SetFaxFile(dir.File("a.apf"));
    fax.PhoneNumber = "5550100";
    bool shownWhileSending = false;
    QString statusWhileSending;
    fax.OnFaxStatus = [&](TFxCustomAbstractFax& f, bool, bool last) {
        if (!last && f.GetProgressCode() == 4804 && !shownWhileSending) {
            shownWhileSending = status.Form()->isVisible();
            statusWhileSending = status.Form()->fsStatusMsg->text();
            status.Form()->fsCancel->click();
        }
    };
    const std::optional<int> finish = SendUntilFinished(fax, std::chrono::seconds(120));
    ASSERT_TRUE(finish) << sim.Log();
    EXPECT_TRUE(shownWhileSending);
    EXPECT_EQ(statusWhileSending, QString::fromStdString(StatusText(4804)));
    EXPECT_EQ(*finish, -6005);
    EXPECT_FALSE(status.Form()->isVisible());
}

} // namespace

namespace {

// What the status window shows at one status report while a page is sent.
struct Reading {
    int page;
    long long bytes, length;
    int meter;
};

struct ProgressCase {
    const char* name;
    TFaxClass faxClass;
};

class StatusWindowProgress : public ::testing::TestWithParam<ProgressCase> {};

// Three pages go out to the test bed in real time (the fax terminal for Class 1, the Class 2
// simulator otherwise). Each page is smaller than what the system's and the modem's queues take at
// once, as a page of text is: while the line carries it, the window shows that page, its bytes and
// its meter growing.
TEST_P(StatusWindowProgress, ShowsTheBytesAndTheMeterAsEachPageGoes)
{
    App();
    faxline::TempDir dir;
    const TFaxClass faxClass = GetParam().faxClass;
    std::unique_ptr<faxline::Line> line;
    std::unique_ptr<zn::comms::test::Class2SimProcess> sim;
    std::string device;
    if (faxClass == fcClass1) {
        line = faxline::Line::Start(dir.Path(), {"answer", "--rx-file", dir.File("rx.tif")});
        ASSERT_TRUE(line);
        device = line->Port('A');
    } else {
        sim = std::make_unique<zn::comms::test::Class2SimProcess>(dir, std::vector<std::string>{"--rx-dir", dir.File("rx")});
        device = sim->Device();
    }
    ASSERT_FALSE(device.empty());
    ::setenv("ZN_COM8", device.c_str(), 1);
    std::vector<faxline::Bitmap> pages;
    for (int n : {1, 4, 5}) {
        auto chart = faxline::ReadPbm(faxline::ItuChartPath(n));
        ASSERT_TRUE(chart);
        pages.push_back(chart->Rows(0, 500)); // about 8 KB each: 5 s on the line
    }
    ASSERT_TRUE(zn::comms::test::WriteApf(dir.File("a.apf"), pages, false));

    ComPortPtr port = MakeFaxComPort(8);
    TFxFaxStatus status;
    TFxSendFax fax;
    fax.SetComPort(port.get());
    fax.SetStatusDisplay(&status);
    fax.FaxClass = faxClass;
    fax.DesiredBPS = 14400;
    fax.SetFaxFile(dir.File("a.apf"));
    fax.PhoneNumber = "5550100";
    std::vector<Reading> readings;
    fax.OnFaxStatus = [&](TFxCustomAbstractFax& f, bool, bool last) {
        TStandardFaxDisplay& form = *status.Form();
        // Class 1 says "sending page data" while the line carries the page, Class 2 and 2.0 already
        // wait for the page's verdict.
        if (last || f.GetPageLength() == 0 || !form.isVisible())
            return;
        readings.push_back({form.fsCurrentPage->text().toInt(), form.fsBytesTransferred->text().toLongLong(),
                            form.fsPageLength->text().toLongLong(), form.Meter->Position()});
    };
    const std::optional<int> finish = SendUntilFinished(fax, std::chrono::seconds(180));
    ASSERT_TRUE(finish);
    EXPECT_EQ(*finish, 0);
    std::string shown;
    for (const Reading& r : readings)
        shown += " p" + std::to_string(r.page) + ":" + std::to_string(r.bytes) + "/" + std::to_string(r.length);
    for (int page = 1; page <= 3; ++page) {
        int midPage = 0;
        long long last = -1;
        for (const Reading& r : readings) {
            if (r.page != page)
                continue;
            EXPECT_GE(r.bytes, last) << "page " << page << ": the count went back;" << shown;
            last = r.bytes;
            if (r.bytes > 0 && r.bytes < r.length && r.meter > 0 && r.meter < 100)
                ++midPage;
        }
        EXPECT_GE(midPage, 2) << "page " << page << " showed no progress while the line carried it;" << shown;
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, StatusWindowProgress,
                         ::testing::Values(ProgressCase{"Class1", fcClass1}, ProgressCase{"Class2", fcClass2},
                                           ProgressCase{"Class20", fcClass2_0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
