// Setting zn up: the init-string helper and the analysis' page order as tables; the port scan and
// the fax-class check against the test bed's Class 1 modem, the Class 2 / 2.0 simulator, a port
// held by another program, a missing device and a pseudo-terminal that answers nothing; the
// settings wizard walked page by page; quick setup on a fresh program folder, then a fax sent.
#include "app/modem_choice.h"
#include "app/modem_forms.h"
#include "app/preferences.h"
#include "app/quick_setup.h"
#include "app/send_fax_form.h"
#include "comms/tapi/device_selection_form.h"
#include "comms/tapi/serial_line_provider.h"
#include "comms/tests/pty_pair.h"
#include "fax_pages.h"
#include "foundation/dialogs.h"
#include "foundation/help_window.h"
#include "foundation/modem_probe.h"
#include "foundation/printer_choice.h"
#include "main_screen_fixture.h"
#include "modal_driver.h"
#include "platform/ini_file.h"

#include "faxline_harness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <tuple>

namespace zn::app::test {
namespace {

using namespace ::faxline;

// Pictures of the windows for looking at them, when ZN_SHOT_DIR names a folder.
void Shot(QWidget& w, const std::string& name)
{
    const QString dir = qEnvironmentVariable("ZN_SHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    w.grab().save(dir + "/" + QString::fromStdString(name) + ".png");
}

// Runs the user's steps in a window of their own: the driver then answers the windows they open.
ModalDriver::Action Steps(std::function<void(QWidget*)> steps)
{
    return [steps](QWidget* w) { QTimer::singleShot(0, w, [steps, w] { steps(w); }); };
}

// Waits without blocking the windows below (a scan runs further down the stack) until ready()
// holds, then runs the step.
void WhenReady(QWidget* w, std::function<bool()> ready, std::function<void()> step)
{
    auto* poll = new QTimer(w);
    QObject::connect(poll, &QTimer::timeout, w, [poll, ready, step] {
        if (!ready())
            return;
        poll->stop();
        poll->deleteLater();
        step();
    });
    poll->start(20);
}

void PumpUntil(const std::function<bool()>& done, int limitMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// --- The init-string helper ---

TEST(InitStringHelper, TheDialWaitTestAndTheModemTypeGuess)
{
    struct Case {
        const char* init;
        bool longWait;
        int type;
    } cases[] = {
        {"AT&H3&I2&R2S7=90S36=8", false, 3}, // 90 is not above 90 with &H3
        {"AT&H3&I2&R2S7=91S36=0", true, 2},
        {"ATS7=120", true, 0},
        {"ATS7=65", false, 0},
        {"ats7=66", true, 0},
        {"AT&h3S7=80", true, 0}, // the &H3 test is case-sensitive
        {"ATS7=", false, 0},
        {"ATS7=X9", false, 0},
        {"AT&F&C1&D2\\Q3S7=90", true, 5},
        {"AT&H3&I2&R2S7=90S36=8S33=34", false, 4}, // S33=34 is looked for before S36=8
        {"AT&H3&I2&R2S33=34", false, 4},
        {"AT&R2", false, 1},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InitStringHasLongDialWait(c.init), c.longWait) << c.init;
        EXPECT_EQ(GuessModemType(c.init), c.type) << c.init;
    }
}

TEST(InitStringHelper, TheStringForEachModemType)
{
    struct Case {
        int type;
        bool sending, longWait;
        const char* init;
    } cases[] = {
        {0, true, false, "AT&F&C1&D2&K3S7=65"},
        {0, true, true, "AT&F&C1&D2&K3S7=120"},
        {1, true, false, "AT&H3&I2&R2S7=90"},
        {1, false, false, "AT&H3&I2&R2S7=65"},
        {2, true, false, "AT&H3&I2&R2S7=90S36=0"},
        {3, true, false, "AT&H3&I2&R2S7=90S36=8"},
        {4, true, true, "AT&H3&I2&R2S7=120S36=8S33=34"},
        {5, false, false, "AT&F&C1&D2\\Q3S7=65"},
        {5, true, false, "AT&F&C1&D2\\Q3S7=90"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildInitString(c.type, c.sending, c.longWait), c.init) << c.type << c.sending << c.longWait;
}

TEST(InitStringHelper, TheDialogPresetsItselfFromTheStringAndAnswersEachButton)
{
    foundation::test::TempHome home;
    struct Case {
        std::string init;
        bool sending;
        std::function<void(TModemInitStringHelperForm&)> user;
        std::string result;
    } cases[] = {
        {"AT&H3&I2&R2S7=90S36=8", true,
         [](TModemInitStringHelperForm& f) {
             EXPECT_FALSE(f.CheckAT7->isChecked());
             EXPECT_EQ(f.ItemIndex(), 3);
             f.BitBtn1->click();
         },
         "AT&H3&I2&R2S7=90S36=8"},
        {"ATS7=120", true,
         [](TModemInitStringHelperForm& f) {
             EXPECT_TRUE(f.CheckAT7->isChecked());
             EXPECT_TRUE(f.CheckAT7->isVisible());
             f.BitBtn1->click();
         },
         "AT&F&C1&D2&K3S7=120"},
        {"", false,
         [](TModemInitStringHelperForm& f) {
             EXPECT_FALSE(f.CheckAT7->isVisible());
             EXPECT_FALSE(f.CheckAT7Label->isVisible());
             f.ModemTypeItems[1]->click();
             f.BitBtn1->click();
         },
         "AT&H3&I2&R2S7=65"},
        {"ATX3", true, [](TModemInitStringHelperForm& f) { f.BitBtn3->click(); }, ""},
        {"ATX3", true, [](TModemInitStringHelperForm& f) { f.BitBtn2->click(); }, "ATX3"},
    };
    for (Case& c : cases) {
        ModalDriver modal;
        modal.Then([&c](QWidget* w) { c.user(*static_cast<TModemInitStringHelperForm*>(w)); });
        EXPECT_EQ(ModemInitStringHelper(nullptr, c.init, c.sending), c.result) << c.init;
        EXPECT_TRUE(modal.Done());
    }
    // A click on the long label ticks the box beside it.
    TModemInitStringHelperForm form;
    form.show();
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(form.CheckAT7Label, &release);
    EXPECT_TRUE(form.CheckAT7->isChecked());
    Shot(form, "init_string_helper");
}

// --- The analysis' page order ---

SuggestFlags Flags(std::initializer_list<int> pages)
{
    SuggestFlags f{};
    for (int p : pages)
        f[size_t(p)] = true;
    return f;
}

TEST(QuickSuggestNavigation, NextAndBackVisitOnlyTheModesPagesWithSomethingToOffer)
{
    struct Case {
        std::initializer_list<int> flagged;
        bool sending;
        int page;
        bool next;
        int result;
    } cases[] = {
        {{8}, true, 0, true, 8},          {{8}, true, 8, true, 14},        {{8}, true, 14, false, 8},
        {{8}, true, 8, false, 0},         {{}, true, 0, true, 14},         {{}, false, 0, true, 14},
        {{1, 5, 9}, true, 0, true, 1},    {{1, 5, 9}, true, 1, true, 5},   {{1, 5, 9}, true, 5, true, 14},
        {{1, 5, 9}, false, 0, true, 9},   {{1, 5, 9}, false, 9, true, 14}, {{1, 5, 9}, false, 14, false, 9},
        {{12, 13}, false, 0, true, 12},   {{12, 13}, false, 12, true, 13}, {{12, 13}, false, 13, true, 14},
        {{12, 13}, false, 13, false, 12}, {{12, 13}, true, 0, true, 14},   {{2, 3, 4}, true, 14, false, 4},
        {{2, 3, 4}, true, 3, false, 2},   {{2, 3, 4}, true, 2, false, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SuggestPage(Flags(c.flagged), c.sending, c.page, c.next), c.result)
            << "page " << c.page << (c.next ? " next" : " back") << (c.sending ? " sending" : " receiving");
}

TEST(QuickSuggestNavigation, TheButtonsFollowThePageTheModeAndTheChoices)
{
    struct Case {
        std::initializer_list<int> flagged;
        bool sending;
        int page;
        bool anyChanged;
        SuggestButtons b;
    } cases[] = {
        {{8}, true, 0, false, {false, true, false, true, false, false}},
        {{8}, true, 8, true, {true, true, true, true, false, false}},
        {{8}, false, 14, true, {true, false, false, false, true, true}},
        {{}, true, 14, false, {true, false, false, false, true, true}},
        {{13}, false, 13, true, {true, true, true, true, false, false}},
    };
    for (const Case& c : cases) {
        const SuggestButtons b = SuggestButtonsFor(Flags(c.flagged), c.sending, c.page, c.anyChanged);
        EXPECT_EQ(std::make_tuple(b.back, b.next, b.finish, b.conclusion, b.noProblems, b.problemSolver),
                  std::make_tuple(c.b.back, c.b.next, c.b.finish, c.b.conclusion, c.b.noProblems, c.b.problemSolver))
            << "page " << c.page;
    }
}

class Suggest : public ::testing::Test {
protected:
    Suggest()
    {
        auto& s = foundation::Settings();
        s = foundation::SettingsValues();
        // Nothing to suggest: a reset string and both init strings set.
        s.ResetString = "ATZ";
        s.InitString = "AT&F";
        s.InitStringReceive = "AT&F";
    }
    foundation::test::TempHome home_;
};

// Enter in either wizard goes on to the next page, on every page that has one.
TEST_F(Suggest, EnterGoesToTheNextPageInBothWizards)
{
    const auto enter = [](QDialog& d) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(&d, &press);
    };
    foundation::Settings().IgnoreBusy = true;
    foundation::Settings().BlindDial = true;
    TQuickSuggest q;
    q.show();
    QApplication::processEvents();
    EXPECT_TRUE(q.Nextbutton->isDefault());
    // Each Enter lands where Next would, until the closing page.
    while (q.Page() < 14) {
        const int before = q.Page();
        enter(q);
        ASSERT_GT(q.Page(), before);
        EXPECT_TRUE(q.Page() == 14 || q.Page() == 7 || q.Page() == 8 || q.Page() <= 5) << q.Page();
    }
    EXPECT_TRUE(q.Nextbutton->isDefault());
    EXPECT_FALSE(q.BackButton->isDefault());

    TPreferences p;
    p.show();
    QApplication::processEvents();
    EXPECT_TRUE(p.Nextbutton->isDefault());
    for (int page = 1; page <= 3; ++page) {
        enter(p);
        EXPECT_EQ(p.Page(), page);
    }
    EXPECT_FALSE(p.BackButton->isDefault());
    EXPECT_FALSE(p.HelpButton->isDefault());
}

TEST_F(Suggest, OnlyIgnoreBusyShowsItsPageAndFinishClearsIt)
{
    foundation::Settings().IgnoreBusy = true;
    TQuickSuggest q;
    EXPECT_EQ(q.Page(), 0);
    q.Nextbutton->click();
    EXPECT_EQ(q.Page(), 8);
    EXPECT_FALSE(q.Finishbutton->isEnabled());
    q.UseDisableIgnoreBusySend->click();
    EXPECT_TRUE(q.Finishbutton->isEnabled());
    q.Nextbutton->click();
    EXPECT_EQ(q.Page(), 14);
    q.show();
    EXPECT_TRUE(q.Conclusion->isVisible());
    EXPECT_FALSE(q.NoProblems->isVisible());
    Shot(q, "quick_suggest_conclusion");
    q.Finishbutton->click();
    EXPECT_EQ(q.result(), 1);
    EXPECT_FALSE(foundation::Settings().IgnoreBusy);
}

TEST_F(Suggest, NothingToSuggestEndsOnTheNoProblemsPageWithTheProblemSolver)
{
    TQuickSuggest q;
    q.show();
    q.Nextbutton->click();
    EXPECT_EQ(q.Page(), 14);
    EXPECT_TRUE(q.NoProblems->isVisible());
    EXPECT_FALSE(q.Conclusion->isVisible());
    EXPECT_TRUE(q.ProblemSolverButton->isVisible());
    EXPECT_FALSE(q.Finishbutton->isEnabled());
    Shot(q, "quick_suggest_no_problems");
    q.ProblemSolverButton->click();
    EXPECT_EQ(q.result(), TQuickSuggest::kProblemSolver);
}

TEST_F(Suggest, ReceivingVisitsTheInitAndErrorControlPagesAndChangesOnlyTheReceiveValues)
{
    auto& s = foundation::Settings();
    s.InitStringReceive.clear();
    s.ECMReceive = true;
    s.ECM = true;
    TQuickSuggest q;
    q.UseRec->click();
    q.Nextbutton->click();
    EXPECT_EQ(q.Page(), 12);
    q.UseInitRec[4]->click();
    q.Nextbutton->click();
    EXPECT_EQ(q.Page(), 13);
    q.UseDisableECMRec->click();
    q.Nextbutton->click();
    EXPECT_EQ(q.Page(), 14);
    q.BackButton->click();
    EXPECT_EQ(q.Page(), 13);
    q.FinishbuttonClick();
    EXPECT_EQ(s.InitStringReceive, "AT&H3&I2&R2S7=90S36=8");
    EXPECT_EQ(s.InitString, "AT&F");
    EXPECT_FALSE(s.ECMReceive);
    EXPECT_TRUE(s.ECM);
}

// --- The modem on the test bed ---

// COM1..COM8 pointed at devices of the test; those not given are missing devices.
class PortMap {
public:
    explicit PortMap(std::map<int, std::string> devices)
    {
        for (int n = 1; n <= 8; ++n) {
            const std::string var = "ZN_COM" + std::to_string(n);
            auto it = devices.find(n);
            ::setenv(var.c_str(), it != devices.end() ? it->second.c_str() : "/dev/zn-test-no-such-port", 1);
        }
    }
    ~PortMap()
    {
        for (int n = 1; n <= 8; ++n)
            ::unsetenv(("ZN_COM" + std::to_string(n)).c_str());
    }
};

// Another program holding a port: flock(1) keeps the device locked while its command runs.
class PortHolder {
public:
    explicit PortHolder(const std::string& device, const TempDir& dir)
        : device_(device), process_({"/usr/bin/flock", "-w", "10", device, "/bin/sleep", "120"}, dir.File("flock.out"),
                                    dir.File("flock.err"))
    {
        PumpUntil([this] { return Held(); }, 5000);
    }
    // Whether a lock on the device is refused, as it is while the holder has it.
    bool Held() const
    {
        const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool refused = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        return refused;
    }
    ChildProcess& Process() { return process_; }

private:
    std::string device_;
    ChildProcess process_;
};

class ModemProbe : public ::testing::Test {
protected:
    ModemProbe()
    {
        foundation::Settings() = foundation::SettingsValues();
        platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned) {
            boxes.push_back({text, caption});
            if (answers.empty())
                return int(platform::IDOK);
            const int a = answers.front();
            answers.pop_front();
            return a;
        });
        foundation::SetFaxPortDefaults(port);
    }
    ~ModemProbe() override { platform::SetMessageBoxHook({}); }

    std::vector<std::string> Scan(TFindModemForm& form)
    {
        form.show();
        PumpUntil([&] { return form.Scanned(); });
        std::vector<std::string> labels;
        for (QLabel* l : form.Labels)
            labels.push_back(l->text().toStdString());
        return labels;
    }

    foundation::test::TempHome home_;
    TempDir dir_;
    comms::TFxComPort port;
    std::deque<int> answers;
    std::vector<Box> boxes;
};

TEST_F(ModemProbe, TheScanNamesEachPortAndSuggestsTheFirstModem)
{
    auto class1 = Line::Start(dir_.Path(), {"pair"});
    ASSERT_TRUE(class1);
    auto class2 = Line::StartClass2Sim(dir_.Path(), {});
    ASSERT_TRUE(class2);
    comms::test::PtyPair held, silent;
    ASSERT_TRUE(held.Ok() && silent.Ok());
    PortHolder holder(held.SlavePath(), dir_);
    ASSERT_TRUE(holder.Held());
    PortMap map({{1, held.SlavePath()}, {2, silent.SlavePath()}, {3, class1->Port('A')}, {5, class2->Port('A')}});

    TFindModemForm form(port);
    EXPECT_EQ(form.windowTitle().toStdString(), "Finding Modem...Please wait");
    EXPECT_EQ(form.infolabel->text().toStdString(), "Testing Communications ports...please wait.");
    const std::vector<std::string> labels = Scan(form);
    EXPECT_EQ(labels, (std::vector<std::string>{"Com 1: Port is already open (could be modem)", "Com 2: Unknown",
                                                "Com 3: MODEM", "Com 4: Port does not exist", "Com 5: MODEM",
                                                "Com 6: Port does not exist", "Com 7: Port does not exist",
                                                "Com 8: Port does not exist"}));
    EXPECT_EQ(form.Result(), 3);
    EXPECT_EQ(form.infolabel->text().toStdString(),
              "A modem was found on Com Port 3. We suggest setting the Port as Com 3.");
    EXPECT_EQ(form.windowTitle().toStdString(), "Find Modem");
    EXPECT_TRUE(form.OkButton->isVisible());
    Shot(form, "find_modem");
    // The port held by the other program is still its own, and the scan closed every port it opened.
    EXPECT_TRUE(holder.Held());
    EXPECT_TRUE(holder.Process().Running());
    EXPECT_FALSE(port.Open());
    // The modem found answers the next program that opens it.
    ModemChat chat(class1->Port('A'));
    ASSERT_TRUE(chat.IsOpen());
    EXPECT_EQ(chat.Command("+FCLASS=?"), "OK");
}

TEST_F(ModemProbe, NoModemSaysWhetherAPortWasInUse)
{
    comms::test::PtyPair held;
    ASSERT_TRUE(held.Ok());
    {
        PortHolder holder(held.SlavePath(), dir_);
        ASSERT_TRUE(holder.Held());
        PortMap map({{4, held.SlavePath()}});
        TFindModemForm form(port);
        Scan(form);
        EXPECT_EQ(form.Result(), -1);
        EXPECT_EQ(form.Labels[3]->text().toStdString(), "Com 4: Port is already open (could be modem)");
        EXPECT_EQ(form.infolabel->text().toStdString(),
                  "No modem found. Please make sure that all communication programs (internet, AOL, etc) are closed, "
                  "and then try again. If you know which Com port your modem uses, you can also just set the Port to "
                  "that setting");
    }
    PortMap map({});
    TFindModemForm form(port);
    Scan(form);
    EXPECT_EQ(form.Result(), -1);
    EXPECT_EQ(form.infolabel->text().toStdString(),
              "No modem found. If you know which Com port your modem uses, you can also just set the Port to that "
              "setting. Please note that Tarveldoes not work with CABLE, DSL or ISDN connections.");
}

TEST(FaxClassReport, TheLabelsAndTheRecommendation)
{
    struct Case {
        bool c1, c2, c20;
        const char *l1, *l2, *l3;
        int recommended;
        bool bold;
    } cases[] = {
        {true, false, false, "Class 1   : Supported (recommended)", "Class 2   : Not Supported",
         "Class 2.0 : Not Supported", 0, false},
        {false, true, true, "Class 1   : Not Supported", "Class 2   : Supported (recommended)", "Class 2.0 : Supported",
         1, false},
        {false, false, true, "Class 1   : Not Supported", "Class 2   : Not Supported", "Class 2.0 : Supported", 2,
         true},
        {true, true, true, "Class 1   : Supported (recommended)", "Class 2   : Supported", "Class 2.0 : Supported", 0,
         false},
    };
    for (const Case& c : cases) {
        const FaxClassReport r = ReportFaxClasses(c.c1, c.c2, c.c20);
        EXPECT_EQ(r.label1.toStdString(), c.l1);
        EXPECT_EQ(r.label2.toStdString(), c.l2);
        EXPECT_EQ(r.label3.toStdString(), c.l3);
        EXPECT_EQ(r.recommended, c.recommended);
        EXPECT_EQ(r.label3Bold, c.bold);
    }
}

class FaxClassCheck : public ModemProbe {
protected:
    // Checks the port COM4 and returns the three labels.
    std::vector<std::string> Check(const std::string& device, std::unique_ptr<TCheckFaxClassForm>& form)
    {
        PortMap map({{4, device}});
        form = std::make_unique<TCheckFaxClassForm>(port, fax, tapi);
        form->ComNumber = 4;
        form->show();
        PumpUntil([&] { return form->Checked(); });
        return {form->Label1->text().toStdString(), form->Label2->text().toStdString(),
                form->Label3->text().toStdString()};
    }
    comms::TFxSendFax fax;
    comms::TFxTapiDevice tapi;
};

TEST_F(FaxClassCheck, TheClassesOfEachModemAndTheRecommendation)
{
    struct Case {
        std::vector<std::string> simArgs; // empty: the Class 1 modem of the bed
        std::vector<std::string> labels;
        int recommended;
        std::string name;
    } cases[] = {
        {{},
         {"Class 1   : Supported (recommended)", "Class 2   : Not Supported", "Class 2.0 : Not Supported"},
         0,
         "Class 1"},
        {{"--fclass-list", "0,2"},
         {"Class 1   : Not Supported", "Class 2   : Supported (recommended)", "Class 2.0 : Not Supported"},
         1,
         "Class 2"},
        {{"--fclass-list", "0,2.0"},
         {"Class 1   : Not Supported", "Class 2   : Not Supported", "Class 2.0 : Supported"},
         2,
         "Class 2.0"},
        {{"--fclass-list", "(0,1,2,2.0)"},
         {"Class 1   : Supported (recommended)", "Class 2   : Supported", "Class 2.0 : Supported"},
         0,
         "Class 1"},
    };
    int shot = 0;
    for (const Case& c : cases) {
        TempDir dir;
        auto line = c.simArgs.empty() ? Line::Start(dir.Path(), {"pair"}) : Line::StartClass2Sim(dir.Path(), c.simArgs);
        ASSERT_TRUE(line);
        std::unique_ptr<TCheckFaxClassForm> form;
        EXPECT_EQ(Check(line->Port('A'), form), c.labels) << c.name;
        EXPECT_EQ(form->RecommendedIndex, c.recommended);
        EXPECT_EQ(form->RecommendedName.toStdString(), c.name);
        EXPECT_EQ(form->Label3->font().bold(), c.recommended == 2);
        EXPECT_EQ(form->Status->text().toStdString(), "Try using the recommended Fax Class (" + c.name
                                                          + "). \n\nIf you experience problems, try other "
                                                            "supported classes or auto detect.");
        EXPECT_EQ(form->windowTitle().toStdString(), "Check Fax Class");
        EXPECT_FALSE(port.Open());
        Shot(*form, "check_fax_class_" + std::to_string(++shot));
    }
}

TEST_F(FaxClassCheck, AModemWithoutAFaxClassAndADeviceThatIsNoModem)
{
    const std::vector<std::string> unknown = {"Class 1   : unknown", "Class 2   : unknown", "Class 2.0 : unknown"};
    {
        auto line = Line::StartClass2Sim(dir_.Path(), {"--fclass-list", "0"});
        ASSERT_TRUE(line);
        std::unique_ptr<TCheckFaxClassForm> form;
        EXPECT_EQ(Check(line->Port('A'), form), unknown);
        EXPECT_EQ(form->Status->text().toStdString(), "Unable to determine Fax Class support from modem on Com 4");
        EXPECT_EQ(form->RecommendedIndex, -1);
    }
    comms::test::PtyPair silent;
    ASSERT_TRUE(silent.Ok());
    answers.push_back(platform::IDNO);
    std::unique_ptr<TCheckFaxClassForm> form;
    EXPECT_EQ(Check(silent.SlavePath(), form), unknown);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "NO MODEM RESPONSE");
    EXPECT_EQ(boxes[0].text, "The device on COM4 is not responding and may\rnot be a modem. Continue with Fax Class "
                             "Analysis?");
    EXPECT_EQ(form->Status->text().toStdString(), "No response from device on COM4. May not be a modem.");
    // A port that is not there: the open message, and nothing asked.
    boxes.clear();
    EXPECT_EQ(Check("/dev/zn-test-no-such-port", form), unknown);
    EXPECT_EQ(form->Status->text().toStdString(), "Unable to open the specified communications port ( Com4 )");
    EXPECT_TRUE(boxes.empty());
}

// The result windows of the port scan and of the fax-class check close with Enter or Space, as a
// message does: their Ok is the default button and has the focus once the result is in.
TEST_F(FaxClassCheck, TheResultWindowsCloseWithEnterOrSpace)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        // The key goes where a user's key goes: to the control with the focus, else the window.
        const auto press = [key](QDialog& window) {
            window.activateWindow();
            QApplication::setActiveWindow(&window);
            QApplication::processEvents();
            QTest::keyClick(window.focusWidget() ? window.focusWidget() : &window, key);
            QApplication::processEvents();
            EXPECT_FALSE(window.isVisible());
            EXPECT_EQ(window.result(), 1);
        };
        {
            PortMap map({});
            TFindModemForm scan(port);
            Scan(scan);
            ASSERT_TRUE(scan.OkButton->isVisible());
            press(scan);
        }
        std::unique_ptr<TCheckFaxClassForm> check;
        Check("/dev/zn-test-no-such-port", check);
        ASSERT_TRUE(check->OkButton->isVisible());
        press(*check);
    }
}

// --- The settings wizard ---

class Wizard : public MainScreenFixture {
protected:
    Wizard() { foundation::SetPrinterNamesForTest(std::vector<std::string>{"Office Laser", "Tarvel Fax"}); }
    ~Wizard() override { foundation::SetPrinterNamesForTest(std::nullopt); }
    std::string Ini() const { return foundation::test::ReadFile(home_.Path() + "/ZN.INI"); }
    std::string Key(const std::string& section, const std::string& key) const
    {
        return platform::IniFile(home_.Path() + "/ZN.INI").ReadString(section, key, "<missing>");
    }
    ModalDriver modal_;
};

TEST_F(Wizard, WalkedPageByPageAndFinishedItWritesEveryValue)
{
    foundation::test::WriteFile(home_.Path() + "/ZN.INI", "[Modem]\r\nComPort=1\r\n[Receive]\r\nAnswerOnRing=1\r\n");
    foundation::LoadSettings();
    bool saved = false;
    modal_.Then([this](QWidget* w) {
        auto& p = *static_cast<TPreferences*>(w);
        auto next = [&p](int expected) {
            Shot(p, "preferences_page_" + std::to_string(p.Page()));
            p.Nextbutton->click();
            EXPECT_EQ(p.Page(), expected);
            EXPECT_EQ(p.PageLabel->text().toStdString(), TPreferences::kPageTitles[size_t(expected)]);
        };
        EXPECT_EQ(p.windowTitle().toStdString(), "Preferences Wizard");
        EXPECT_TRUE(p.Finishbutton->isEnabled()); // a port is configured: Finish on any page
        EXPECT_FALSE(p.BackButton->isEnabled());
        next(1);
        EXPECT_FALSE(p.Modem->UseTapiCheckbox->isChecked()); // no line devices here
        EXPECT_FALSE(p.Modem->TapiCombo->isEnabled());
        EXPECT_EQ(p.Modem->ComPort->currentText().toStdString(), "Com2");
        p.Modem->ComPort->setCurrentIndex(4);
        p.ToneOrPulse->setCurrentIndex(1);
        p.UseATZBeforeButton->click();
        p.ResetAfterString->setText("ATH0");
        next(2);
        p.FaxClass->setCurrentIndex(3);
        p.TransferRate->setCurrentIndex(5);
        p.ModemInit->setText("AT&F&C1");
        next(3);
        p.FaxNumber->setText("+1 555 0101");
        p.Name->setText("Ann Sender");
        p.Company->setText("Sender Ltd");
        p.Voicenumber->setText("555 0102");
        p.UseECM->setChecked(true);
        p.DialPrefix->setText("9,");
        p.DialSuffix->setText("#");
        next(4);
        p.CheckBlindDial->setChecked(true);
        p.DialAttempts->setValue(5);
        p.RetryWait->setValue(90);
        p.CheckIgnoreBusy->setChecked(true);
        p.RenegotiateBetween->setChecked(true);
        next(5);
        EXPECT_FALSE(p.TransferRateReceiveNote->isVisible());
        p.RecClassSameAsSendButton->click();
        EXPECT_EQ(p.FaxClassReceive->currentIndex(), 3);
        p.TransferRateReceive->setCurrentIndex(4);
        EXPECT_TRUE(p.TransferRateReceiveNote->isVisible());
        p.RecInitSameAsSendButton->click();
        next(6);
        EXPECT_EQ(p.AnswerOnRing->currentText().toStdString(), "1");
        p.AnswerOnRing->setCurrentIndex(3);
        p.ReceiveAtStartup->setChecked(true);
        p.UseECMReceive->setChecked(false);
        next(7);
        const std::string wav = home_.Path() + "/ring.wav";
        foundation::test::WriteFile(wav, "RIFF");
        p.ChooseWaveFile = [wav](const QString&, const QString&) { return QString::fromStdString(wav); };
        p.SelectWavButton->click();
        EXPECT_EQ(p.WaveFileEdit->text().toStdString(), wav);
        std::string played;
        p.PlaySound = [&played](const std::string& path) { played = path; };
        p.PlayWAVbutton->click();
        EXPECT_EQ(played, wav);
        std::vector<std::string> printers;
        for (int i = 0; i < p.PrintFaxOnReceiptPrinter->count(); ++i)
            printers.push_back(p.PrintFaxOnReceiptPrinter->itemText(i).toStdString());
        EXPECT_EQ(printers, (std::vector<std::string>{"Default Windows Printer", "Office Laser", "Tarvel Fax"}));
        p.PrintFaxOnReceipt->setChecked(true);
        p.PrintFaxOnReceiptPrinter->setCurrentIndex(2); // our own fax printer stands for the default
        p.DisableReceivingFaxesNotification->setChecked(false);
        next(8);
        EXPECT_FALSE(p.Nextbutton->isEnabled());
        for (QCheckBox* c : {p.UseAltHeaderFont, p.UseAlternateNameReceive, p.UseLargerSendBuffer,
                             p.UseLargerReceiveBuffer, p.UseAlternateFaxViewer})
            c->setChecked(true);
        Shot(p, "preferences_page_8");
        answers.push_back(platform::IDYES);
        p.Finishbutton->click();
    });
    saved = EditPreferences(nullptr);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(modal_.Done());
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "Save changes?");
    EXPECT_EQ(boxes.back().caption, "Save Preferences");

    const std::pair<std::pair<const char*, const char*>, std::string> expected[] = {
        {{"Modem", "ComPort"}, "4"},
        {{"Dialing", "ToneOrPulse"}, "1"},
        {{"Resetting", "String"}, "ATZ"},
        {{"Resetting", "AfterString"}, "ATH0"},
        {{"Modem", "FaxClass"}, "3"},
        {{"Modem", "MaximumBPS"}, "14400"},
        {{"Modem", "InitString"}, "AT&F&C1"},
        {{"User", "Fax"}, "+1 555 0101"},
        {{"User", "Name"}, "Ann Sender"},
        {{"User", "Company"}, "Sender Ltd"},
        {{"User", "Voice"}, "555 0102"},
        {{"Dialing", "ECM"}, "1"},
        {{"Dialing", "DialPrefix"}, "9,"},
        {{"Dialing", "DialSuffix"}, "#"},
        {{"Dialing", "BlindDial"}, "1"},
        {{"Dialing", "DialAttempts"}, "5"},
        {{"Dialing", "RetryWait"}, "90"},
        {{"Dialing", "IgnoreBusy"}, "1"},
        {{"Modem", "RenegotiateBetween"}, "1"},
        {{"Modem", "FaxClassReceive"}, "3"},
        {{"Modem", "MaximumBPSReceive"}, "12000"},
        {{"Modem", "InitStringReceive"}, "AT&F&C1"},
        {{"Receive", "AnswerOnRing"}, "4"},
        {{"Receive", "AtStartup"}, "1"},
        {{"Receive", "ECMReceive"}, "0"},
        {{"Receive", "Wav"}, home_.Path() + "/ring.wav"},
        {{"Receive", "PrintOnReceipt"}, "1"},
        {{"Receive", "PrintOnReceiptPrinter"}, "Default Windows Printer"},
        {{"Receive", "DisableReceivingFaxesNotification"}, "0"},
        {{"Other", "UseAlternateHeaderFont"}, "1"},
        {{"Other", "GlobalUseAlternateNamingRec"}, "1"},
        {{"Other", "GlobalLargerSendBuffer"}, "1"},
        {{"Other", "GlobalLargerReceiveBuffer"}, "1"},
        {{"Other", "UseAlternateFaxViewer"}, "1"},
        {{"Modem", "UseTAPI"}, "0"},
    };
    for (const auto& [where, value] : expected)
        EXPECT_EQ(Key(where.first, where.second), value) << where.first << " " << where.second;
}

// The sending and the receiving fax class are each a group of radio buttons, one per class.
TEST_F(Wizard, TheFaxClassesAreRadioGroups)
{
    foundation::Settings().FaxClass = 2;
    foundation::Settings().FaxClassReceive = 3;
    TPreferences p;
    p.show();
    QApplication::processEvents();
    const struct {
        const char* name;
        QStringList captions;
        int checked;
    } groups[] = {
        {"FaxClass", {"auto detect", "class 1 (recommended)", "class 2", "class 2.0"}, 0},
        {"FaxClassReceive", {"auto detect", "class 1", "class 2", "class 2.0"}, 0},
    };
    for (const auto& g : groups) {
        auto* box = p.findChild<QGroupBox*>(g.name);
        ASSERT_NE(box, nullptr) << g.name;
        const QList<QRadioButton*> radios = box->findChildren<QRadioButton*>();
        QStringList captions;
        for (QRadioButton* r : radios)
            captions << r->text();
        EXPECT_EQ(captions, g.captions) << g.name;
    }
    p.LoadFromSettings();
    EXPECT_TRUE(p.findChild<QRadioButton*>("FaxClass2")->isChecked());
    EXPECT_TRUE(p.findChild<QRadioButton*>("FaxClassReceive3")->isChecked());
    p.findChild<QRadioButton*>("FaxClass1")->click();
    EXPECT_EQ(p.FaxClass->currentIndex(), 1);
    p.RecClassSameAsSendButton->click();
    EXPECT_TRUE(p.findChild<QRadioButton*>("FaxClassReceive1")->isChecked());
}

TEST_F(Wizard, CancelLeavesTheFileAsItWasAndAFirstSetupStillUnconfigured)
{
    // A fresh folder: no port chosen yet.
    foundation::LoadSettings();
    ASSERT_TRUE(foundation::Settings().PortNotConfigured);
    foundation::SaveSettings();
    const std::string before = Ini();
    ASSERT_NE(before.find("ComPort=-1"), std::string::npos);
    modal_.Then([](QWidget* w) {
        auto& p = *static_cast<TPreferences*>(w);
        EXPECT_TRUE(p.FirstSetup);
        for (int page = 0; page < TPreferences::kPageCount - 1; ++page) {
            EXPECT_FALSE(p.Finishbutton->isEnabled()) << page; // a first setup walks every page
            p.Nextbutton->click();
        }
        EXPECT_TRUE(p.Finishbutton->isEnabled());
        p.Modem->ComPort->setCurrentIndex(2);
        p.Name->setText("Changed");
        p.Cancelbutton->click();
    });
    EXPECT_FALSE(EditPreferences(nullptr));
    EXPECT_EQ(Ini(), before);
    // Quick setup still comes before the first fax, and a later save keeps the port unchosen.
    EXPECT_TRUE(foundation::Settings().PortNotConfigured);
    foundation::SaveSettings();
    EXPECT_EQ(Key("Modem", "ComPort"), "-1");
}

TEST_F(Wizard, NumbersOutsideTheirRangeCannotBeKept)
{
    foundation::test::WriteFile(home_.Path() + "/ZN.INI",
                                "[Modem]\r\nComPort=0\r\n[Dialing]\r\nDialAttempts=0\r\nRetryWait=-5\r\n"
                                "[Receive]\r\nAnswerOnRing=12\r\n");
    foundation::LoadSettings();
    modal_.Then([this](QWidget* w) {
        auto& p = *static_cast<TPreferences*>(w);
        EXPECT_EQ(p.DialAttempts->value(), 1);
        EXPECT_EQ(p.RetryWait->value(), 0);
        EXPECT_EQ(p.AnswerOnRing->currentText().toStdString(), "1");
        p.DialAttempts->setValue(-3);
        EXPECT_EQ(p.DialAttempts->value(), 1);
        p.RetryWait->setValue(1000000);
        EXPECT_EQ(p.RetryWait->value(), 65535);
        answers.push_back(platform::IDYES);
        p.Finishbutton->click();
    });
    EXPECT_TRUE(EditPreferences(nullptr));
    EXPECT_EQ(Key("Dialing", "DialAttempts"), "1");
    EXPECT_EQ(Key("Dialing", "RetryWait"), "65535");
    EXPECT_EQ(Key("Receive", "AnswerOnRing"), "1");
}

TEST_F(Wizard, TheInitHelperAndTheFaxClassCheckFillTheirControls)
{
    TempDir dir;
    auto line = Line::StartClass2Sim(dir.Path(), {"--fclass-list", "0,2"});
    ASSERT_TRUE(line);
    PortMap map({{2, line->Port('A')}});
    foundation::test::WriteFile(home_.Path() + "/ZN.INI", "[Modem]\r\nComPort=1\r\nFaxClass=1\r\n");
    foundation::LoadSettings();
    modal_.Then(Steps([this](QWidget* w) {
        auto& p = *static_cast<TPreferences*>(w);
        p.SetPage(2);
        // The helper, answered in its own window.
        modal_.Then([](QWidget* h) {
            auto& helper = *static_cast<TModemInitStringHelperForm*>(h);
            helper.ModemTypeItems[2]->click();
            helper.BitBtn1->click();
        });
        p.HelpWithInitbutton->click();
        EXPECT_EQ(p.ModemInit->text().toStdString(), "AT&H3&I2&R2S7=90S36=0");
        // The check on COM2 finds Class 2 and offers it.
        modal_.Then([](QWidget* c) {
            auto* check = static_cast<TCheckFaxClassForm*>(c);
            WhenReady(
                c, [check] { return check->Checked(); }, [check] { check->OkButton->click(); });
        });
        answers.push_back(platform::IDYES);
        p.CheckFaxClassButton->click();
        EXPECT_EQ(p.FaxClass->currentIndex(), 2);
        p.Cancelbutton->click();
    }));
    EditPreferences(nullptr);
    EXPECT_TRUE(modal_.Done());
    bool asked = false;
    for (const Box& b : boxes)
        asked = asked || (b.text == "Set fax class as Class 2 ?" && b.caption == "Fax Class");
    EXPECT_TRUE(asked);
}

TEST_F(Wizard, HelpOpensTheTopicOfEachPage)
{
    foundation::LoadSettings();
    TPreferences p;
    const char* general = "Preferences Wizard";
    const char* modem = "Preferences: Modem and Communications Port";
    const char* sending = "Preferences: Sending Faxes";
    const char* receiving = "Preferences: Receiving Faxes";
    const char* topics[TPreferences::kPageCount] = {general, modem,     sending,   sending, sending,
                                                     receiving, receiving, receiving, general};
    for (int page = 0; page < TPreferences::kPageCount; ++page) {
        p.SetPage(page);
        p.HelpButton->click();
        EXPECT_EQ(foundation::ShownHelpTopic(), topics[page]) << "page " << page;
    }
    p.ProblemSolverButton->click();
    EXPECT_EQ(foundation::ShownHelpTopic(), "Fax Problem Solver");
}

TEST_F(Wizard, TheSendDialogsPreferencesButtonTakesTheSavedDialPrefixAndSuffix)
{
    foundation::test::WriteFile(home_.Path() + "/ZN.INI", "[Modem]\r\nComPort=0\r\n");
    foundation::LoadSettings();
    TSendFaxForm dialog;
    modal_.Then([this](QWidget* w) {
        auto& p = *static_cast<TPreferences*>(w);
        p.DialPrefix->setText("0,");
        p.DialSuffix->setText("*");
        answers.push_back(platform::IDYES);
        p.Finishbutton->click();
    });
    dialog.PreferencesButton->click();
    EXPECT_TRUE(modal_.Done());
    EXPECT_EQ(dialog.sfDialPrefix->text().toStdString(), "0,");
    EXPECT_EQ(dialog.sfDialsuffix->text().toStdString(), "*");
    EXPECT_EQ(Key("Dialing", "DialPrefix"), "0,");
}

// --- Quick setup ---

class QuickSetup : public MainScreenFixture {
protected:
    ~QuickSetup() override { comms::tapi::SetLineProvider(nullptr); }
    ModalDriver modal_;
};

TEST_F(QuickSetup, CancelKeepsThePortUnchosenAndWritesNothing)
{
    modal_.Then([](QWidget* w) {
        auto& q = *static_cast<TQuickSetupForm*>(w);
        EXPECT_EQ(q.windowTitle().toStdString(), "Quick Setup Form");
        // No line devices on this machine: the line-device choice is off.
        EXPECT_FALSE(q.Modem->UseTapiCheckbox->isChecked());
        EXPECT_FALSE(q.Modem->TapiCombo->isEnabled());
        EXPECT_FALSE(q.Modem->TestTAPIButton->isEnabled());
        EXPECT_TRUE(q.Modem->UseComPortCheckBox->isChecked());
        q.Name->setText("Someone");
        q.Cancelbutton->click();
    });
    EXPECT_FALSE(RunQuickSetup(nullptr));
    EXPECT_TRUE(foundation::Settings().PortNotConfigured);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(home_.Path() + "/ZN.INI")));
}

TEST_F(QuickSetup, TheTestButtonOpensAModemOfferedAsALineDevice)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair"});
    ASSERT_TRUE(line);
    QDir().mkpath(QString::fromStdString(windir_));
    foundation::test::WriteFile(windir_ + "/ZNPORTS.INI", "[Lines]\r\nBench Modem=" + line->Port('A') + "\r\n");
    comms::tapi::SerialLineProvider provider;
    comms::tapi::SetLineProvider(&provider);
    modal_.Then([](QWidget* w) {
        auto& q = *static_cast<TQuickSetupForm*>(w);
        ASSERT_GE(q.Modem->TapiCombo->count(), 1);
        EXPECT_EQ(q.Modem->TapiCombo->itemText(0).toStdString(), "Bench Modem");
        q.Modem->UseTapiCheckbox->click();
        EXPECT_TRUE(q.Modem->TestTAPIButton->isEnabled());
        EXPECT_FALSE(q.Modem->FindModemButton->isEnabled());
        q.Modem->TestTAPIButton->click();
        EXPECT_TRUE(q.Modem->TestTAPIButton->isEnabled()); // again, once the test is over
        q.Name->setText("Line User");
        q.Finishbutton->click();
    });
    EXPECT_TRUE(RunQuickSetup(nullptr));
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.front().text, "Opened with TAPI\r..modem responded properly");
    EXPECT_EQ(foundation::test::ReadFile(home_.Path() + "/ZN.INI").find("UseTAPI=1") != std::string::npos, true);
    EXPECT_EQ(foundation::Settings().TAPIDevice, "Bench Modem");
    EXPECT_FALSE(foundation::Settings().PortNotConfigured);
}

TEST_F(QuickSetup, ReceivingOnAFreshFolderAsksFirstAndACancelLeavesReceiveModeOff)
{
    Start();
    ASSERT_TRUE(foundation::Settings().PortNotConfigured);
    modal_.Then([](QWidget* w) { static_cast<TQuickSetupForm*>(w)->Cancelbutton->click(); });
    screen->ReceiveButtonClick();
    EXPECT_EQ(modal_.Seen(), std::vector<std::string>{"QuickSetupForm"});
    EXPECT_FALSE(screen->ReceiveModeOn);
    EXPECT_TRUE(foundation::Settings().PortNotConfigured);
}

TEST_F(QuickSetup, AModemFoundOnTheChosenPortAsksNothing)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair"});
    ASSERT_TRUE(line);
    PortMap map({{1, line->Port('A')}});
    int found = 0;
    modal_.Then(Steps([this, &found](QWidget* w) {
        auto& q = *static_cast<TQuickSetupForm*>(w);
        EXPECT_EQ(q.Modem->ComPort->currentText().toStdString(), "Com1");
        modal_.Then([&found](QWidget* f) {
            auto* scan = static_cast<TFindModemForm*>(f);
            WhenReady(
                f, [scan] { return scan->Scanned(); },
                [scan, &found] {
                    found = scan->Result();
                    scan->OkButton->click();
                });
        });
        q.Modem->FindModemButton->click();
        EXPECT_EQ(q.Modem->FxComPort1.ComNumber(), 1);
        q.Cancelbutton->click();
    }));
    EXPECT_FALSE(RunQuickSetup(nullptr));
    EXPECT_EQ(found, 1);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(QuickSetup, ALineDeviceNotListedAsksTheUserAndCancellingAssignsNone)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair"});
    ASSERT_TRUE(line);
    QDir().mkpath(QString::fromStdString(windir_));
    foundation::test::WriteFile(windir_ + "/ZNPORTS.INI", "[Lines]\r\nBench Modem=" + line->Port('A') + "\r\n");
    comms::tapi::SerialLineProvider provider;
    comms::tapi::SetLineProvider(&provider);
    comms::TFxComPort port;
    foundation::SetFaxPortDefaults(port);
    comms::TFxTapiDevice device;
    device.ShowPorts = false;
    comms::InstallDeviceSelectionForm(device);
    modal_.Then([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    std::string message;
    EXPECT_FALSE(foundation::OpenTapiPort(device, "Modem That Went Away", port, message));
    EXPECT_EQ(message, "Unable to assign TAPI device");
    EXPECT_EQ(modal_.Seen().size(), 1u);
    EXPECT_FALSE(port.Open());
    // The listed name opens without asking, and the modem answers through the call's port.
    EXPECT_TRUE(foundation::OpenTapiPort(device, "Bench Modem", port, message)) << message;
    EXPECT_TRUE(port.Open());
    EXPECT_TRUE(foundation::CheckModemResponds(port));
    foundation::CloseTapiPort(device);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(modal_.Seen().size(), 1u);
    comms::tapi::SetLineProvider(nullptr);
}

TEST_F(QuickSetup, AFreshFolderFindsTheModemInQuickSetupAndSendsAFaxRightAfter)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"answer", "--rx-file", dir.File("rx.tif"), "--ident", "FAR END", "--fast"});
    ASSERT_TRUE(line);
    PortMap map({{3, line->Port('A')}});
    Start();
    ASSERT_TRUE(foundation::Settings().PortNotConfigured);
    const std::string document = MakeFax("FAX00001.APF", 3);
    AddOutgoing("First", "FAX00001.APF");
    ASSERT_TRUE(GoToSubject("First"));

    modal_.Then(Steps([this](QWidget* w) {
        auto& q = *static_cast<TQuickSetupForm*>(w);
        Shot(q, "quick_setup");
        q.Name->setText("New User");
        q.FaxNumber->setText("+1 555 0142");
        modal_.Then([](QWidget* f) {
            auto* scan = static_cast<TFindModemForm*>(f);
            WhenReady(
                f, [scan] { return scan->Scanned(); },
                [scan] {
                    Shot(*scan, "find_modem_in_quick_setup");
                    scan->OkButton->click();
                });
        });
        answers.push_back(platform::IDYES); // "Set Com Port to Com 3"
        q.Modem->FindModemButton->click();
        EXPECT_EQ(q.Modem->ComPort->currentText().toStdString(), "Com3");
        q.Finishbutton->click();
    }));
    bool sent = false;
    screen->RunSendDialog = [&sent](TSendFaxForm& dialog) {
        dialog.show();
        dialog.SendFaxButtonClick();
        PumpUntil([&] { return !dialog.Busy; }, 120000);
        sent = !dialog.Busy;
        dialog.CloseButtonClick();
        return 1;
    };
    screen->SendButtonClick();
    EXPECT_TRUE(modal_.Done());
    ASSERT_TRUE(sent);
    bool offered = false;
    for (const Box& b : boxes)
        offered = offered || (b.text == "Set Com Port to Com 3" && b.caption == "Com Port");
    EXPECT_TRUE(offered);

    const std::string ini = foundation::test::ReadFile(home_.Path() + "/ZN.INI");
    EXPECT_NE(ini.find("ComPort=2"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Name=New User"), std::string::npos) << ini;
    EXPECT_FALSE(foundation::Settings().PortNotConfigured);

    auto got = ReadTiffPages(dir.File("rx.tif"));
    ASSERT_TRUE(got) << line->Errors();
    const std::vector<Bitmap> pages = FaxFilePages(document);
    ASSERT_EQ(got->size(), pages.size());
    const Bitmap& g = (*got)[0];
    ASSERT_GE(g.height, pages[0].height);
    EXPECT_TRUE(g.Rows(g.height - pages[0].height, pages[0].height) == pages[0]);
    ASSERT_TRUE(GoToSubject("First"));
    EXPECT_EQ(screen->FaxTable.FieldByName("LASTRESULT").AsString(), "Sent");
}

} // namespace
} // namespace zn::app::test
