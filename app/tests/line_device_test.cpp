// The send dialog and receive mode with the modem chosen as a line device ([Modem] UseTAPI): the
// test bed's modem is offered under a name of its own (an alias in ZNPORTS.INI's [Lines]), the
// windows open it by that name, and afterwards no descriptor, lock file or open line remains.
#include "app/error_display_form.h"
#include "app/send_fax_form.h"
#include "comms/port/port_driver.h"
#include "comms/tests/class2_sim_process.h"
#include "comms/port/port_names.h"
#include "comms/tapi/serial_line_provider.h"
#include "fax_pages.h"
#include "main_screen_fixture.h"
#include "modal_driver.h"
#include "platform/messages.h"
#include "platform/modem_inhibition.h"

#include "faxline_harness.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace zn::app::test {
namespace {

using namespace ::faxline;

constexpr const char* kLineName = "Test bed modem";

// This process's descriptors: number and what each leads to (a file, device, socket or pipe).
std::vector<std::pair<std::string, std::string>> Descriptors()
{
    std::vector<std::pair<std::string, std::string>> out;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            char target[512] = {};
            ::readlink((std::string("/proc/self/fd/") + e->d_name).c_str(), target, sizeof target - 1);
            out.emplace_back(e->d_name, target);
        }
        ::closedir(d);
    }
    return out;
}

std::string DescriptorList()
{
    std::string out;
    for (const auto& [number, target] : Descriptors())
        out += number + " -> " + target + "\n";
    return out;
}

// What the descriptors lead to, sorted. The event descriptors of the threads Qt and the message
// layer start on first use are left out.
std::vector<std::string> DescriptorTargets()
{
    std::vector<std::string> targets;
    for (const auto& d : Descriptors())
        if (d.second != "anon_inode:[eventfd]")
            targets.push_back(d.second);
    std::sort(targets.begin(), targets.end());
    return targets;
}

int OpenDescriptors() { return int(Descriptors().size()); }

class LineDevice : public MainScreenFixture {
protected:
    void SetUp() override
    {
        SetErrorWindowTimeoutForTest(300);
        TMainScreen::SetSoundPlayerForTest([](const std::string&) {});
        comms::tapi::SetLineProvider(&provider_);
        // The message layer and the system bus connection keep descriptors of their own once used.
        platform::PumpOneMessage();
        (void)platform::ModemInhibition::Inhibit("/dev/null");
    }
    void TearDown() override
    {
        screen.reset();
        comms::tapi::SetLineProvider(nullptr);
        TMainScreen::SetSoundPlayerForTest({});
        SetErrorWindowTimeoutForTest(0);
    }
    // The modem at `device` offered as the line kLineName, and the settings naming `chosen`.
    void OfferLine(const TempDir& dir, const std::string& device, const std::string& chosen = kLineName)
    {
        alias_ = dir.File("ttyLine" + std::to_string(::getpid()));
        ASSERT_EQ(::symlink(device.c_str(), alias_.c_str()), 0);
        ::mkdir(windir_.c_str(), 0700);
        std::ofstream ini(windir_ + "/" + comms::PortsFileName);
        ini << "[Lines]\r\n" << kLineName << "=" << alias_ << "\r\n";
        ini.close();
        if (!screen)
            Start();
        auto& s = foundation::Settings();
        s.PortNotConfigured = false;
        s.UseTAPI = true;
        s.TAPIDevice = chosen;
        s.ComPort = 6;
        s.FaxClass = 1;
        s.FaxClassReceive = 1;
        s.MaximumBPS = 14400;
        s.MaximumBPSReceive = 14400;
        s.DialAttempts = 1;
        s.Fax = "+1 555 0199";
    }
    // A lock file naming this process. Pseudo-terminal numbers are the whole machine's: a test running
    // beside this one may hold, or a process killed on purpose may have left, a lock of the same name.
    static bool OursStill(const std::string& lock)
    {
        return ::access(lock.c_str(), F_OK) == 0
               && std::atol(foundation::test::ReadFile(lock).c_str()) == long(::getpid());
    }
    // Nothing of a call remains on the line's device: no lock file of ours, no descriptor of ours
    // leads to it, and (while the test bed still offers it) anyone may open it.
    void ExpectLineFree(const std::string& device, bool tryOpen = true)
    {
        // A port closed while its dispatcher's threads were still leaving finishes its close from the
        // message loop: give it the few messages it needs.
        Until(
            [&] {
                for (const std::string& lock : comms::UucpLock::LockPathsFor(alias_))
                    if (OursStill(lock))
                        return false;
                return DescriptorList().find(" -> " + device + "\n") == std::string::npos;
            },
            10000);
        for (const std::string& lock : comms::UucpLock::LockPathsFor(alias_))
            EXPECT_FALSE(OursStill(lock)) << lock << ": " << foundation::test::ReadFile(lock);
        EXPECT_EQ(DescriptorList().find(" -> " + device + "\n"), std::string::npos) << DescriptorList();
        if (!tryOpen)
            return;
        for (const std::string& name : {alias_, device}) {
            comms::TFxWin32Dispatcher after(nullptr);
            EXPECT_EQ(after.OpenPort(name, 19200, 0, 8, 1, 4096, 4096, 0), 0) << name;
            after.ClosePort();
        }
    }
    static std::string ReadLog(const char* name)
    {
        return foundation::test::ReadFile(foundation::GetProgramFolder() + name);
    }
    static bool Until(const std::function<bool()>& done, int bound = 120000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < bound)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    static std::string Plain(const QString& text) { return QString(text).replace("\r\n", "\n").toStdString(); }
    comms::tapi::SerialLineProvider provider_;
    std::string alias_;
    ModalDriver modal_;
};

TEST_F(LineDevice, AFaxSentFromTheDialogThroughTheNamedLineReachesTheFarEnd)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"answer", "--rx-file", dir.File("rx.tif"), "--ident", "FAR END", "--fast"});
    ASSERT_TRUE(line);
    OfferLine(dir, line->Port('A'));
    const std::string document = MakeFax("FAX00021.APF", 20);
    AddOutgoing("By line", "FAX00021.APF");
    ASSERT_TRUE(GoToSubject("By line"));

    // A failure's error window waits for the user: answered, it ends the test with its reasons.
    modal_.Then([](QWidget* w) { static_cast<QDialog*>(w)->done(1); });
    const std::vector<std::string> descriptorsBefore = DescriptorTargets();
    bool lineLeftOpen = true;
    screen->RunSendDialog = [&](TSendFaxForm& dialog) {
        dialog.show();
        dialog.SendFaxButtonClick();
        EXPECT_TRUE(Until([&] { return !dialog.Busy; })) << "the send did not end";
        lineLeftOpen =
            dialog.FxComPort1.Open() || dialog.FxTapiDevice1.LineActive() || dialog.FxTapiDevice1.Connected();
        dialog.CloseButtonClick();
        return 1;
    };
    screen->SendButtonClick();
    const std::string log = ReadLog("Lastsend.log");
    EXPECT_TRUE(modal_.Seen().empty()) << "the send failed; see Lastsend.log:\n" << log;
    EXPECT_FALSE(lineLeftOpen);

    const std::vector<Bitmap> sent = FaxFilePages(document);
    auto got = ReadTiffPages(dir.File("rx.tif"));
    ASSERT_TRUE(got) << line->Errors();
    ASSERT_EQ(got->size(), sent.size()) << line->Errors();
    for (size_t i = 0; i < sent.size(); ++i) {
        const Bitmap& g = (*got)[i];
        ASSERT_GE(g.height, sent[i].height);
        EXPECT_TRUE(g.Rows(g.height - sent[i].height, sent[i].height) == sent[i]) << "page " << i + 1;
    }
    ASSERT_TRUE(GoToSubject("By line"));
    EXPECT_EQ(screen->FaxTable.FieldByName("LASTRESULT").AsString(), "Sent");
    EXPECT_EQ(screen->FaxTable.FieldByName("DATESENT").AsString(),
              QDate::currentDate().toString("yyyyMMdd").toStdString());

    EXPECT_NE(log.find("Opening with TAPI using: Test bed modem\r\nOpened com port with TAPI: Test bed modem\r\n"
                       "Checking for modem\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Opening com port: COM"), std::string::npos) << log;
    EXPECT_EQ(DescriptorTargets(), descriptorsBefore) << DescriptorList();
    // The test bed's line has ended with its call: its device is not there to open any more.
    ExpectLineFree(line->Port('A'), false);
}

TEST_F(LineDevice, ReceiveModeTakesACallOnTheNamedLineAndStoppingEndsTheCall)
{
    TempDir dir;
    auto chart = ReadPbm(ItuChartPath(1));
    ASSERT_TRUE(chart);
    const std::vector<Bitmap> pages{chart->Rows(chart->height / 2 - 100, 200)};
    ASSERT_TRUE(WriteFaxTiff(dir.File("tx.tif"), pages));
    auto line = Line::Start(
        dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--fast", "--call-delay", "500"});
    ASSERT_TRUE(line);
    OfferLine(dir, line->Port('A'));
    screen->ReceiveButtonClick();
    ASSERT_TRUE(screen->ReceiveModeOn) << ReadLog("Lastrec.log");
    EXPECT_TRUE(screen->FxTapiDevice1.Connected());
    EXPECT_TRUE(screen->FxComPort1.Open());

    ASSERT_TRUE(Until([&] {
        return line->Results().size() == 1 && !screen->FaxComingIn && screen->RecTable.RecordCount() == 1;
    })) << line->Output()
        << line->Errors() << ReadLog("Lastrec.log");
    EXPECT_EQ(line->Results().front().rfind("RESULT 0 ", 0), 0u) << line->Results().front();
    data::TTable& t = screen->RecTable;
    t.First();
    EXPECT_EQ(t.FieldByName("FROM").AsString(), "FAR END");
    EXPECT_EQ(t.FieldByName("PAGES").AsInteger(), 1);
    const std::string file = foundation::GetReceiveFolder() + t.FieldByName("FAXFILE").AsString();
    const std::vector<Bitmap> got = FaxFilePages(file);
    ASSERT_EQ(got.size(), 1u) << file;

    screen->ReceiveButtonClick(); // STOP
    EXPECT_FALSE(screen->ReceiveModeOn);
    EXPECT_FALSE(screen->FxComPort1.Open());
    EXPECT_FALSE(screen->FxTapiDevice1.Connected());
    EXPECT_FALSE(screen->FxTapiDevice1.LineActive());
    const std::string log = ReadLog("Lastrec.log");
    for (const char* entry :
         {"  Opening with TAPI using: Test bed modem\r\n", "  Opened com port with TAPI: Test bed modem\r\n",
          " pages received from FAR END", "  Stopped receive mode "})
        EXPECT_NE(log.find(entry), std::string::npos) << entry << " missing from\n" << log;
    // The test bed's line has ended with its call: its device is not there to open any more.
    ExpectLineFree(line->Port('A'), false);
}

// Receive mode started and stopped again and again on the line: each stop ends the call, and the
// window keeps no more descriptors after the third stop than after the first.
TEST_F(LineDevice, StartingAndStoppingReceiveModeLeavesNothingOpen)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair"});
    ASSERT_TRUE(line);
    OfferLine(dir, line->Port('A'));
    int afterFirst = -1;
    for (int round = 0; round < 3; ++round) {
        screen->ReceiveButtonClick();
        ASSERT_TRUE(screen->ReceiveModeOn) << ReadLog("Lastrec.log");
        EXPECT_TRUE(screen->FxTapiDevice1.Connected());
        screen->ReceiveButtonClick();
        EXPECT_FALSE(screen->ReceiveModeOn);
        EXPECT_FALSE(screen->FxComPort1.Open());
        EXPECT_FALSE(screen->FxTapiDevice1.Connected());
        EXPECT_FALSE(screen->FxTapiDevice1.LineActive());
        ExpectLineFree(line->Port('A'));
        if (round == 0)
            afterFirst = OpenDescriptors();
    }
    EXPECT_EQ(OpenDescriptors(), afterFirst) << DescriptorList();
}

// The line's modem unplugged while receive mode waits for a call: noticed, shown and logged, the
// call ended; plugged in again, receive mode starts as before.
TEST_F(LineDevice, AModemThatGoesAwayEndsReceiveModeOnTheLine)
{
    TMainScreen::SetModemWatchIntervalForTest(100);
    TempDir dir;
    auto first = std::make_unique<comms::test::Class2SimProcess>(dir, std::vector<std::string>{"--speedup", "50"});
    ASSERT_FALSE(first->Device().empty());
    OfferLine(dir, first->Device());
    foundation::Settings().FaxClassReceive = 2;
    screen->ReceiveButtonClick();
    ASSERT_TRUE(screen->ReceiveModeOn) << ReadLog("Lastrec.log");

    ::kill(first->Process().Pid(), SIGKILL); // unplugged
    first->Process().Wait(std::chrono::seconds(10));
    const bool ended = Until([this] { return !screen->ReceiveModeOn; }, 60000);
    TMainScreen::SetModemWatchIntervalForTest(0);
    ASSERT_TRUE(ended) << "still waiting on a modem that is gone";
    EXPECT_TRUE(screen->ModemGone());
    EXPECT_FALSE(screen->FxComPort1.Open());
    EXPECT_FALSE(screen->FxTapiDevice1.Connected());
    EXPECT_FALSE(screen->FxTapiDevice1.LineActive());
    EXPECT_EQ(screen->Status->text().toStdString(), "No modem Test bed modem");
    const std::string log = ReadLog("Lastrec.log");
    EXPECT_NE(log.find("  The modem Test bed modem is gone\r\n"), std::string::npos) << log;
    ExpectLineFree(first->Device(), false);

    // Back again under the same name (a new device node): receive mode starts as before.
    TempDir again;
    comms::test::Class2SimProcess second(again, {"--speedup", "50"});
    ASSERT_FALSE(second.Device().empty());
    ASSERT_EQ(::unlink(alias_.c_str()), 0);
    ASSERT_EQ(::symlink(second.Device().c_str(), alias_.c_str()), 0);
    screen->ReceiveButtonClick();
    EXPECT_TRUE(screen->ReceiveModeOn) << ReadLog("Lastrec.log");
    EXPECT_FALSE(screen->ModemGone());
    screen->ReceiveButtonClick();
    EXPECT_FALSE(screen->ReceiveModeOn);
    ExpectLineFree(second.Device());
}

// SIGTERM while receive mode waits on the line: the call ends and the device is free.
TEST_F(LineDevice, EndingBySignalEndsTheReceiveCall)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair"});
    ASSERT_TRUE(line);
    OfferLine(dir, line->Port('A'));
    screen->ReceiveButtonClick();
    ASSERT_TRUE(screen->ReceiveModeOn) << ReadLog("Lastrec.log");
    screen->EndBySignal();
    platform::ClearQuitRequest(); // the program would end here; the test goes on
    EXPECT_FALSE(screen->ReceiveModeOn);
    EXPECT_FALSE(screen->FxComPort1.Open());
    EXPECT_FALSE(screen->FxTapiDevice1.Connected());
    EXPECT_FALSE(screen->FxTapiDevice1.LineActive());
    ExpectLineFree(line->Port('A'));
}

// SIGTERM while the send dialog's call rings unanswered on the line: the call ends, the dialog
// is free and the device with it.
TEST_F(LineDevice, EndingBySignalEndsTheSendCall)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair"}); // modem B never answers
    ASSERT_TRUE(line);
    OfferLine(dir, line->Port('A'));
    MakeFax("FAX00023.APF", 3);
    AddOutgoing("Rings", "FAX00023.APF");
    ASSERT_TRUE(GoToSubject("Rings"));
    bool dialing = false, busyAfter = true, lineLeftOpen = true;
    screen->RunSendDialog = [&](TSendFaxForm& dialog) {
        dialog.show();
        dialog.SendFaxButtonClick();
        dialing = Until([&] { return dialog.FxSendFax1.Busy() && dialog.FxComPort1.Open(); }, 30000);
        screen->EndBySignal();
        platform::ClearQuitRequest(); // the program would end here; the test goes on
        busyAfter = dialog.Busy;
        lineLeftOpen =
            dialog.FxComPort1.Open() || dialog.FxTapiDevice1.LineActive() || dialog.FxTapiDevice1.Connected();
        dialog.CloseButtonClick();
        return 1;
    };
    screen->SendButtonClick();
    EXPECT_TRUE(dialing) << ReadLog("Lastsend.log");
    EXPECT_FALSE(busyAfter);
    EXPECT_FALSE(lineLeftOpen);
    EXPECT_TRUE(modal_.Seen().empty());
    ExpectLineFree(line->Port('A'));
}

// A device name the machine does not list: the picker asks, Cancel gives up, and the error window
// names the device; nothing stays open. Both windows that open the modem behave alike.
struct MissingCase {
    const char* name;
    bool receive;
};

class MissingLineDevice : public LineDevice, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingLineDevice, ThePickerAsksAndCancelShowsTheOpenError)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair"});
    ASSERT_TRUE(line);
    OfferLine(dir, line->Port('A'), "Modem that is not there");
    std::string pickerTitle, caption, text;
    bool pickerOffersTheLine = false;
    // ZN_SHOT_DIR=folder keeps pictures of both windows for looking at them.
    const auto picture = [](QWidget* w, const char* name) {
        if (const char* shots = std::getenv("ZN_SHOT_DIR"))
            w->grab().save(QString("%1/%2_%3.png").arg(shots, name, GetParam().name));
    };
    modal_.Then([&](QWidget* w) {
        picture(w, "picker");
        pickerTitle = w->windowTitle().toStdString();
        if (auto* combo = Find<QComboBox>(w, "dsfComboBox"))
            pickerOffersTheLine = combo->findText(kLineName) >= 0;
        if (auto* cancel = Find<QPushButton>(w, "dsfCancelBitBtn"))
            cancel->click();
        else
            static_cast<QDialog*>(w)->reject();
    });
    modal_.Then([&](QWidget* w) {
        picture(w, "open_error");
        caption = w->windowTitle().toStdString();
        if (auto* form = dynamic_cast<TShowErrorForm*>(w)) {
            text = Plain(form->Memo1->toPlainText());
            form->BitBtn1->click();
        } else {
            static_cast<QDialog*>(w)->done(1);
        }
    });

    bool lineLeftOpen = true;
    std::string log;
    if (GetParam().receive) {
        screen->ReceiveButtonClick();
        EXPECT_FALSE(screen->ReceiveModeOn);
        lineLeftOpen =
            screen->FxComPort1.Open() || screen->FxTapiDevice1.LineActive() || screen->FxTapiDevice1.Connected();
        log = ReadLog("Lastrec.log");
    } else {
        MakeFax("FAX00022.APF", 3);
        AddOutgoing("Lost", "FAX00022.APF");
        ASSERT_TRUE(GoToSubject("Lost"));
        screen->RunSendDialog = [&](TSendFaxForm& dialog) {
            dialog.show();
            dialog.SendFaxButtonClick();
            EXPECT_FALSE(dialog.Busy);
            lineLeftOpen =
                dialog.FxComPort1.Open() || dialog.FxTapiDevice1.LineActive() || dialog.FxTapiDevice1.Connected();
            dialog.CloseButtonClick();
            return 1;
        };
        screen->SendButtonClick();
        log = ReadLog("Lastsend.log");
        ASSERT_TRUE(GoToSubject("Lost"));
        EXPECT_TRUE(screen->FaxTable.FieldByName("DATESENT").IsNull());
    }
    EXPECT_TRUE(modal_.Done());
    EXPECT_EQ(pickerTitle, "Device Selection");
    EXPECT_TRUE(pickerOffersTheLine);
    EXPECT_EQ(caption, "Error Opening Modem that is not there");
    EXPECT_EQ(text, "Unable to assign TAPI device\n\nIs the Communications Port used by Modem that is not there in "
                    "use? Please\nclick use the Preferences screen item #1 to check.");
    EXPECT_FALSE(lineLeftOpen);
    for (const char* entry :
         {"Opening with TAPI using: Modem that is not there\r\n", "Error opening : Modem that is not there\r\n",
          "Message:Unable to assign TAPI device\r\n"})
        EXPECT_NE(log.find(entry), std::string::npos) << entry << " missing from\n" << log;
    EXPECT_EQ(log.find("Opened com port with TAPI"), std::string::npos) << log;
    ExpectLineFree(line->Port('A'));
}

INSTANTIATE_TEST_SUITE_P(Windows, MissingLineDevice,
                         ::testing::Values(MissingCase{"SendDialog", false}, MissingCase{"ReceiveMode", true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zn::app::test
