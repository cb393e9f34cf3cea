// One print job through znptf: naming the image, the job dialog, the job file and the switch to zn,
// driven through the real channel where the driver takes part.
#include "ptf/main_form.h"
#include "ptf/print_job.h"

#include "faxdoc/converter.h"
#include "platform/ini_file.h"
#include "platform/message_box.h"
#include "platform/messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <stdexcept>
#include <map>
#include <vector>

namespace zn::ptf {
namespace {

struct Box {
    std::string text;
    std::string caption;
    unsigned flags;
};

class PrintJob : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home_.isValid() && windir_.isValid() && runtime_.isValid());
        qputenv("ZN_HOME", home_.path().toUtf8());
        qputenv("ZN_WINDIR", windir_.path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
        platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned flags) {
            boxes_.push_back({text, caption, flags});
            return answer_;
        });
    }
    void TearDown() override { platform::SetMessageBoxHook({}); }

    std::string Send() const { return home_.path().toStdString() + "/SEND"; }
    std::string Exe() const { return home_.path().toStdString() + "/zn"; }
    void WriteZnpd(const std::string& outPath, const std::string& executable)
    {
        platform::IniFile ini(windir_.path().toStdString() + "/ZNPD.INI");
        ASSERT_TRUE(ini.WriteString("Location", "ZNOutPath", outPath));
        ASSERT_TRUE(ini.WriteString("Location", "ZNExecutable", executable));
        std::ofstream(Exe()) << "#!/bin/sh\n";
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

    QTemporaryDir home_, windir_, runtime_;
    std::vector<Box> boxes_;
    int answer_ = platform::IDYES;
};

TEST_F(PrintJob, TheNextFreeNameIsReservedInTheSendFolder)
{
    WriteZnpd(Send() + "\\", Exe()); // a trailing separator gives no doubled one
    QDir().mkpath(QString::fromStdString(Send()));
    std::ofstream(Send() + "/FAX00000.APF") << "x";
    std::ofstream(Send() + "/fax00001.apf") << "x"; // taken in any letter case
    const TJobName first = NameJobImage();
    EXPECT_TRUE(first.usable);
    EXPECT_EQ(first.path, Send() + "/FAX00002.APF");
    // Reserved at once: the next job cannot get the same name.
    EXPECT_TRUE(Exists(first.path));
    EXPECT_EQ(NameJobImage().path, Send() + "/FAX00003.APF");
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(PrintJob, AFullSendFolderRefusesTheJobAndOverwritesNothing)
{
    WriteZnpd(Send(), Exe());
    QDir().mkpath(QString::fromStdString(Send()));
    for (int n = 0; n <= 99999; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/FAX%05d.APF", n);
        const int fd = ::open((Send() + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << name;
        if (n == 99999)
            ASSERT_EQ(::write(fd, "last", 4), 4);
        ::close(fd);
    }
    const TJobName name = NameJobImage();
    EXPECT_FALSE(name.usable);
    EXPECT_EQ(name.path.find("/SEND/"), std::string::npos) << name.path;
    EXPECT_NE(name.problem.find("no name is left"), std::string::npos) << name.problem;
    EXPECT_EQ(Read(Send() + "/FAX99999.APF"), "last");
}

TEST_F(PrintJob, AMissingSendFolderIsCreatedFirst)
{
    WriteZnpd(Send() + "/deeper", Exe());
    const TJobName name = NameJobImage();
    EXPECT_TRUE(name.usable);
    EXPECT_EQ(name.path, Send() + "/deeper/FAX00000.APF");
}

TEST_F(PrintJob, SettingsProblemsAreShownWithTheirTexts)
{
    // No ZNPD.INI at all.
    TJobName name = NameJobImage();
    EXPECT_FALSE(name.usable);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Missing Tarvel initialization file\r\r" + windir_.path().toStdString()
                                  + "/ZNPD.INI\r\rPlease run Tarvel to create or recreate this file.");
    EXPECT_EQ(boxes_[0].caption, "Information");
    // The image still has somewhere to go, outside the send folder.
    EXPECT_EQ(name.path.rfind(home_.path().toStdString(), 0), 0u);
    EXPECT_EQ(name.path.find("/SEND/"), std::string::npos);

    // No output folder and a wrong program path: both said, and the job is not usable.
    boxes_.clear();
    WriteZnpd("", "/nowhere/ZN.EXE");
    name = NameJobImage();
    EXPECT_FALSE(name.usable);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text, "Tarvel initialization file error (ZNPD.INI).\rMissing entry for fax file output.\r\r"
                              "Please run Tarvel to recreate this file.");
    EXPECT_EQ(boxes_[1].text, "Tarvel initialization file error (ZNPD.INI).\rMissing or bad entry for ZN.EXE "
                              "path.\r(/nowhere/ZN.EXE)\rPlease run Tarvel to recreate this file.");

    // A fax folder that is not a full path: the driver would write the pages elsewhere than zn
    // looks, so no name is given out and nothing is made in a folder of that name here.
    boxes_.clear();
    WriteZnpd("SEND", Exe());
    name = NameJobImage();
    EXPECT_FALSE(name.usable);
    EXPECT_EQ(name.problem, "Tarvel's initialization file (ZNPD.INI) names the folder for faxes as SEND, which is "
                            "not a full path. Please run Tarvel to recreate this file.");
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(QDir("SEND").exists());
}

TEST_F(PrintJob, JobFieldsLoseLineBreaksAndKeepTheirBlanksWithinTheTableWidths)
{
    struct Case {
        std::string typed;
        int width;
        std::string stored;
    } cases[] = {
        {"  Ann Smith", kRecipientWidth, "  Ann Smith"},
        {"555\r\n0100", kPhoneWidth, "5550100"},
        {"line one\nline two", kSubjectWidth, "line oneline two"},
        {std::string(40, 'r'), kRecipientWidth, std::string(35, 'r')},
        {"Zoë Ärger", 4, "Zoë "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JobFieldText(c.typed, c.width), c.stored) << c.typed;

    const std::string image = Send() + "/FAX00004.APF";
    QDir().mkpath(QString::fromStdString(Send()));
    ASSERT_TRUE(WriteJobFile(image, "555 0100", "  Ann\rSmith", "Offer\n2027"));
    EXPECT_EQ(Read(Send() + "/FAX00004.JFD"), "555 0100\r\n  AnnSmith\r\nOffer2027\r\n");
}

// The whole job through the channel, as the driver runs it.
class PrintJobThroughChannel : public PrintJob {
protected:
    // One driver request; returns the text of the answer (empty when none).
    std::string Request(TMainForm& form, uint8_t code, const std::string& text)
    {
        auto driver = std::async(std::launch::async, [&] {
            const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, form.FaxConvController1->SocketPath().c_str(), sizeof address.sun_path - 1);
            std::string answer;
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                const ChannelMessage m = MakeChannelMessage(code, text);
                ::send(fd, m.data(), m.size(), MSG_NOSIGNAL);
                // A channel that never answers fails the test instead of holding it.
                pollfd p{fd, POLLIN, 0};
                ChannelMessage reply{};
                const ssize_t n = ::poll(&p, 1, 20000) == 1 ? ::recv(fd, reply.data(), reply.size(), 0) : -1;
                if (n == 257 && reply[0] == kCodeFileName)
                    answer = ChannelMessageText(reply.data(), 257);
            }
            ::close(fd);
            return answer;
        });
        while (driver.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents(); // a document end is handled once it has been taken
        return driver.get();
    }
};

TEST_F(PrintJobThroughChannel, OkWritesTheJobFileAndOffersTheSwitch)
{
    WriteZnpd(Send(), Exe());
    TMainForm form;
    EXPECT_FALSE(form.isVisible());
    int dialogs = 0;
    form.RunJobDialog = [&](TGetDataForm& dialog) {
        ++dialogs;
        EXPECT_EQ(dialog.windowTitle(), "Tarvel NT Print To Fax");
        EXPECT_EQ(dialog.Phone->maxLength(), 25);
        dialog.Phone->setText("555-0100");
        dialog.Recipient->setText(" Ann");
        dialog.Subject->setText("Offer");
        return 1;
    };
    std::vector<std::string> switched;
    form.Switch = [&](const std::string& exe) {
        switched.push_back(exe);
        return true;
    };
    const std::string image = Request(form, kCodeDocStart, "offer.pdf");
    ASSERT_EQ(image, Send() + "/FAX00000.APF");
    std::ofstream(image) << "APF10\x1A";
    EXPECT_EQ(Request(form, kCodeDocEnd, ""), "");
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(Read(Send() + "/FAX00000.JFD"), "555-0100\r\n Ann\r\nOffer\r\n");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Switch to Tarvel now?");
    EXPECT_EQ(boxes_[0].caption, "FAX CREATED");
    EXPECT_EQ(switched, std::vector<std::string>{Exe()});
}

TEST_F(PrintJobThroughChannel, CancelDeletesTheImageAndWritesNoJobFile)
{
    WriteZnpd(Send(), Exe());
    TMainForm form;
    form.RunJobDialog = [](TGetDataForm&) { return 2; };
    const std::string image = Request(form, kCodeDocStart, "offer.pdf");
    std::ofstream(image) << "APF10\x1A";
    Request(form, kCodeDocEnd, "");
    EXPECT_FALSE(Exists(image));
    EXPECT_FALSE(Exists(Send() + "/FAX00000.JFD"));
    EXPECT_TRUE(boxes_.empty());
}

// At its start znptf offers again the printed faxes an earlier znptf left with their dialog
// unanswered, found by their marks. A mark proves nothing but that znptf made it for that very file:
// one put there by hand, or one whose file has changed since, neither offers the file (whose Cancel
// would delete it) nor removes it; only the mark goes.
TEST_F(PrintJobThroughChannel, OnlyTheFaxesZnptfMarkedAreOfferedAgainAndAnyOtherFileStays)
{
    WriteZnpd(Send(), Exe());
    QDir().mkpath(QString::fromStdString(Send()));
    const auto file = [&](const std::string& name) { return Send() + "/" + name; };
    const auto write = [&](const std::string& name, const std::string& text) {
        // As the driver puts a fax in place: a new file under the name.
        std::ofstream(file(name) + ".new", std::ios::binary) << text;
        ASSERT_EQ(::rename((file(name) + ".new").c_str(), file(name).c_str()), 0);
    };
    struct Case {
        const char* what;
        const char* name;
        std::function<void()> make;
        bool offered;
        bool kept;
    } cases[] = {
        {"a mark put by hand beside the user's file", "FAX00001",
         [&] {
             write("FAX00001.APF", "the user's own letter");
             std::ofstream(file("FAX00001.PTF"));
         },
         false, true},
        {"the mark of another fax copied beside the user's file", "FAX00002",
         [&] {
             write("FAX00002.APF", "the user's own letter");
             write("FAX00009.APF", "APF10\x1A a printed fax");
             ASSERT_TRUE(MarkUnfinished(file("FAX00009.APF")));
             ASSERT_TRUE(QFile::copy(QString::fromStdString(file("FAX00009.PTF")),
                                     QString::fromStdString(file("FAX00002.PTF"))));
             ::unlink(file("FAX00009.PTF").c_str());
         },
         false, true},
        {"a printed fax replaced by another file after it was marked", "FAX00003",
         [&] {
             write("FAX00003.APF", "APF10\x1A a printed fax");
             ASSERT_TRUE(MarkUnfinished(file("FAX00003.APF")));
             write("FAX00003.APF", "APF10\x1A a printed fax");
         },
         false, true},
        {"a printed fax written to after it was marked", "FAX00004",
         [&] {
             write("FAX00004.APF", "APF10\x1A a printed fax");
             ASSERT_TRUE(MarkUnfinished(file("FAX00004.APF")));
             std::ofstream(file("FAX00004.APF"), std::ios::app) << " and more";
         },
         false, true},
        {"a printed fax as znptf marked it", "FAX00005",
         [&] {
             write("FAX00005.APF", "APF10\x1A a printed fax");
             ASSERT_TRUE(MarkUnfinished(file("FAX00005.APF")));
         },
         true, true},
        {"a name reserved and marked whose fax was never written", "FAX00006",
         [&] {
             std::ofstream(file("FAX00006.APF"));
             ASSERT_TRUE(MarkUnfinished(file("FAX00006.APF")));
         },
         false, false},
    };
    for (const Case& c : cases)
        c.make();
    std::map<std::string, std::string> before;
    for (const Case& c : cases)
        before[c.name] = Read(file(std::string(c.name) + ".APF"));

    // Each offer is answered Ok: the file offered becomes a fax with a job file beside it.
    TMainForm form;
    int dialogs = 0;
    form.RunJobDialog = [&](TGetDataForm& dialog) {
        dialog.Subject->setText("Offered");
        return ++dialogs, 1;
    };
    form.Switch = [](const std::string&) { return true; };
    for (int i = 0; i < 20; ++i) // the offer runs once the loop runs
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    int offers = 0;
    for (const Case& c : cases) {
        const std::string image = file(std::string(c.name) + ".APF");
        const bool wasOffered = Exists(file(std::string(c.name) + ".JFD"));
        offers += wasOffered;
        EXPECT_EQ(wasOffered, c.offered) << c.what;
        EXPECT_EQ(Exists(image), c.kept) << c.what;
        if (c.kept) {
            EXPECT_EQ(Read(image), before[c.name]) << c.what;
        }
        EXPECT_FALSE(Exists(file(std::string(c.name) + ".PTF"))) << c.what;
    }
    EXPECT_EQ(dialogs, offers);
}

// A logout while the job dialog is open: the dialog's loop ends, and the printed pages are kept as
// a fax with what was typed so far, for zn to list; nothing asks the user anything.
TEST_F(PrintJobThroughChannel, EndedBySignalWhileTheDialogIsOpenKeepsThePagesWithWhatWasTyped)
{
    WriteZnpd(Send(), Exe());
    TMainForm form;
    int result = -1;
    form.RunJobDialog = [&](TGetDataForm& dialog) {
        QTimer::singleShot(50, &dialog, [&] {
            dialog.Phone->setText("555-0100");
            dialog.Recipient->setText("Ann");
            form.EndBySignal();
        });
        result = dialog.exec();
        return result;
    };
    bool switched = false;
    form.Switch = [&](const std::string&) { return switched = true; };
    const std::string image = Request(form, kCodeDocStart, "offer.pdf");
    std::ofstream(image) << "APF10\x1A";
    Request(form, kCodeDocEnd, "");
    platform::ClearQuitRequest(); // the program would end here; the test goes on
    EXPECT_NE(result, 1);
    EXPECT_NE(result, 2);
    EXPECT_TRUE(Exists(image));
    EXPECT_EQ(Read(Send() + "/FAX00000.JFD"), "555-0100\r\nAnn\r\n\r\n");
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(switched);
}

TEST_F(PrintJobThroughChannel, AJobThatCouldNotBeMadeIsNeverReportedAsCreated)
{
    // No ZNPD.INI: the pages are kept and the user is told, with no dialog and no switch.
    {
        TMainForm form;
        form.RunJobDialog = [](TGetDataForm&) -> int {
            ADD_FAILURE() << "dialog shown";
            return 1;
        };
        const std::string image = Request(form, kCodeDocStart, "offer.pdf");
        std::ofstream(image) << "APF10\x1A";
        Request(form, kCodeDocEnd, "");
        EXPECT_TRUE(Exists(image));
        ASSERT_EQ(boxes_.size(), 2u);
        EXPECT_EQ(boxes_[1].text.rfind("The fax was not created.", 0), 0u) << boxes_[1].text;
        EXPECT_NE(boxes_[1].text.find(image), std::string::npos);
    }
    // A job file that cannot be written (a folder stands in its place): the same, and no "FAX CREATED".
    boxes_.clear();
    WriteZnpd(Send(), Exe());
    TMainForm form;
    form.RunJobDialog = [](TGetDataForm&) { return 1; };
    const std::string image = Request(form, kCodeDocStart, "offer.pdf");
    std::ofstream(image) << "APF10\x1A";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Send() + "/FAX00000.JFD/in-the-way")));
    Request(form, kCodeDocEnd, "");
    EXPECT_TRUE(Exists(image));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text.rfind("The fax was not created: its job file", 0), 0u) << boxes_[0].text;
}

TEST_F(PrintJobThroughChannel, ADriverGoneBeforeItsAnswerLeavesNoReservedFile)
{
    WriteZnpd(Send(), Exe());
    TMainForm form;
    form.RunJobDialog = [](TGetDataForm&) { return 1; };
    form.Switch = [](const std::string&) { return true; };
    // The driver asks and hangs up before znptf has answered (it gave up waiting, or was cancelled).
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, form.FaxConvController1->SocketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const ChannelMessage m = MakeChannelMessage(kCodeDocStart, "gone.pdf");
    ASSERT_EQ(::send(fd, m.data(), m.size(), MSG_NOSIGNAL), 257);
    ::close(fd);
    const QDir send(QString::fromStdString(Send()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(send.exists() && send.entryList(QDir::Files).isEmpty()) && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(send.exists());
    EXPECT_TRUE(send.entryList(QDir::Files).isEmpty()) << send.entryList(QDir::Files).join(' ').toStdString();
    // The name is free again and the next job goes through as usual.
    const std::string image = Request(form, kCodeDocStart, "next.pdf");
    EXPECT_EQ(image, Send() + "/FAX00000.APF");
    std::ofstream(image) << "APF10\x1A";
    Request(form, kCodeDocEnd, "");
    EXPECT_TRUE(Exists(Send() + "/FAX00000.JFD"));
    EXPECT_TRUE(boxes_.size() == 1 && boxes_[0].text == "Switch to Tarvel now?");
}

TEST_F(PrintJobThroughChannel, TheNextJobIsNamedWhileTheDialogOfTheFirstIsOpen)
{
    WriteZnpd(Send(), Exe());
    TMainForm form;
    form.Switch = [](const std::string&) { return true; };
    std::vector<std::string> asked; // the job dialogs in the order they came up
    std::string second;
    form.RunJobDialog = [&](TGetDataForm& dialog) {
        asked.push_back("dialog " + std::to_string(asked.size() + 1));
        if (asked.size() == 1) {
            // The user has not answered yet when the next document is printed.
            second = Request(form, kCodeDocStart, "second.pdf");
            if (!second.empty()) {
                std::ofstream(second) << "APF10\x1A";
                Request(form, kCodeDocEnd, "");
            }
            dialog.Subject->setText("First");
        } else {
            dialog.Subject->setText("Second");
        }
        return 1;
    };
    const std::string first = Request(form, kCodeDocStart, "first.pdf");
    std::ofstream(first) << "APF10\x1A";
    Request(form, kCodeDocEnd, "");
    EXPECT_EQ(second, Send() + "/FAX00001.APF");
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(Read(Send() + "/FAX00000.JFD"), "\r\n\r\nFirst\r\n");
    EXPECT_EQ(Read(Send() + "/FAX00001.JFD"), "\r\n\r\nSecond\r\n");
}

// Documents printed while the user answers the dialog of an earlier one wait for it, and come up
// in the order they were printed, each dialog saying which document it asks about.
TEST_F(PrintJobThroughChannel, JobsAreAskedOneAtATimeOldestFirstAndEachDialogNamesItsDocument)
{
    WriteZnpd(Send(), Exe());
    TMainForm form;
    form.Switch = [](const std::string&) { return true; };
    const struct Job {
        const char* title;
        const char* text; // the document's pages, a form feed between two
        const char* shown;
    } jobs[] = {
        {"Offer 2027.pdf", "page one\fpage two", "Document: \"Offer 2027.pdf\", 2 pages"},
        {"letter.txt", "Dear reader", "Document: \"letter.txt\", 1 page"},
        {"  Minutes\tof the <b>board</b>  ", "a\fb\fc", "Document: \"Minutes of the <b>board</b>\", 3 pages"},
    };
    // What the driver does for one document: the start, the fax written, the end.
    const auto print = [&](const Job& job) {
        const std::string image = Request(form, kCodeDocStart, job.title);
        ASSERT_FALSE(image.empty());
        const std::string text = image + ".txt";
        std::ofstream(text) << job.text;
        auto reader = std::make_unique<faxdoc::TTextReader>();
        ASSERT_EQ(reader->LoadFaxFont("APFAX.FNT", 48, false), 0);
        faxdoc::ConverterState converter(std::move(reader));
        ASSERT_EQ(converter.ConvertFile(text, image), 0);
        ::unlink(text.c_str());
        Request(form, kCodeDocEnd, "");
    };
    std::vector<std::string> seen; // each dialog's coming and going, as the user meets them
    form.RunJobDialog = [&](TGetDataForm& dialog) {
        const std::string shown = dialog.Document->text().toStdString();
        seen.push_back("open " + shown);
        dialog.Subject->setText(QString::number(seen.size()));
        if (seen.size() == 1) {
            // The user has not answered yet when two more documents are printed.
            print(jobs[1]);
            print(jobs[2]);
        }
        seen.push_back("close " + shown);
        return 1;
    };
    print(jobs[0]);
    std::vector<std::string> expected;
    for (const Job& job : jobs) {
        expected.push_back(std::string("open ") + job.shown);
        expected.push_back(std::string("close ") + job.shown);
    }
    EXPECT_EQ(seen, expected);
    // Each answer went with its own document.
    EXPECT_EQ(Read(Send() + "/FAX00000.JFD"), "\r\n\r\n1\r\n");
    EXPECT_EQ(Read(Send() + "/FAX00001.JFD"), "\r\n\r\n3\r\n");
    EXPECT_EQ(Read(Send() + "/FAX00002.JFD"), "\r\n\r\n5\r\n");
}

// A job whose dialog fails keeps no later job from being asked.
TEST_F(PrintJobThroughChannel, AJobWhoseDialogFailedHoldsUpNoLaterJob)
{
    WriteZnpd(Send(), Exe());
    TMainForm form;
    form.Switch = [](const std::string&) { return true; };
    std::vector<std::string> logged;
    form.FaxConvController1->OnLog = [&](const std::string& line) { logged.push_back(line); };
    const auto print = [&](const char* title) {
        const std::string image = Request(form, kCodeDocStart, title);
        std::ofstream(image) << "APF10\x1A";
        Request(form, kCodeDocEnd, "");
    };
    std::vector<std::string> asked;
    form.RunJobDialog = [&](TGetDataForm& dialog) -> int {
        asked.push_back(dialog.Document->text().toStdString());
        if (asked.size() == 1) {
            print("second.pdf"); // waits for the first dialog
            throw std::runtime_error("the dialog could not be shown");
        }
        return 1;
    };
    print("first.pdf");
    print("third.pdf");
    EXPECT_EQ(logged, std::vector<std::string>{"the dialog could not be shown"});
    EXPECT_EQ(asked, (std::vector<std::string>{"Document: \"first.pdf\"", "Document: \"second.pdf\"",
                                               "Document: \"third.pdf\""}));
    EXPECT_TRUE(Exists(Send() + "/FAX00001.JFD"));
    EXPECT_TRUE(Exists(Send() + "/FAX00002.JFD"));
}

TEST_F(PrintJobThroughChannel, AnEndWithoutAStartNamesNoPagesThatAreNotThere)
{
    WriteZnpd(Send(), Exe());
    TMainForm form;
    form.RunJobDialog = [](TGetDataForm&) -> int {
        ADD_FAILURE() << "dialog shown";
        return 1;
    };
    Request(form, kCodeDocEnd, "");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "The fax was not created.\r\rNo print job was started for this document.");
}

TEST_F(PrintJobThroughChannel, TheTrayMenuAndAbout)
{
    TMainForm form;
    EXPECT_EQ(form.TrayIcon1->TipText(), "Tarvel NT Print To Fax");
    QStringList items;
    for (QAction* action : form.PopupMenu1->actions())
        items << action->text();
    EXPECT_EQ(items, (QStringList{"Close", "About", "Start Tarvel"}));
    form.About1->trigger();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, TMainForm::kAboutText);
    // The left button pops the menu up.
    int popups = 0;
    form.TrayIcon1->PopupAt = [&](QMenu* menu, QPoint) {
        EXPECT_EQ(menu, form.PopupMenu1);
        ++popups;
    };
    form.TrayIcon1->HandleTrayMessage(TTrayIcon::WM_LBUTTONDOWN);
    form.TrayIcon1->HandleTrayMessage(TTrayIcon::WM_LBUTTONUP);
    EXPECT_EQ(popups, 1);
}

} // namespace
} // namespace zn::ptf
