// A main window over a private program folder, real fax files made by znfax, and message boxes
// answered from a script.
#pragma once
#include "app/main_screen.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "foundation/tests/test_support.h"
#include "platform/message_box.h"

#include <QFile>
#include <QProcess>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zn::app::test {

struct Box {
    std::string text, caption;
};

class MainScreenFixture : public ::testing::Test {
protected:
    MainScreenFixture()
    {
        windir_ = home_.Path() + "/win";
        ::setenv("ZN_WINDIR", windir_.c_str(), 1);
        foundation::Settings() = foundation::SettingsValues();
        platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned) {
            boxes.push_back({text, caption});
            if (answers.empty())
                return int(platform::IDOK);
            const int a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    ~MainScreenFixture() override
    {
        screen.reset();
        platform::SetMessageBoxHook({});
        ::unsetenv("ZN_WINDIR");
    }

    // The modem settings for a Class 1 modem on COM7 (ZN_COM7), after the start has read ZN.INI.
    void ConfigureModem()
    {
        auto& s = foundation::Settings();
        s.PortNotConfigured = false;
        s.ComPort = 6; // COM7
        s.FaxClass = 1;
        s.MaximumBPS = 14400;
        s.DialAttempts = 1;
        s.Name = "Ann Sender";
        s.Fax = "+1 555 0199";
    }

    // Creates the main window and runs its first activation.
    TMainScreen& Start()
    {
        screen = std::make_unique<TMainScreen>();
        screen->FormActivate();
        return *screen;
    }

    // A real fax file in the send folder, converted from a text of `lines` lines.
    std::string MakeFax(const std::string& name, int lines = 3, const std::string& folder = {})
    {
        const std::string text = home_.Path() + "/" + name + ".txt";
        std::string body;
        for (int i = 0; i < lines; ++i)
            body += "Line " + std::to_string(i + 1) + " of " + name + "\n";
        foundation::test::WriteFile(text, body);
        foundation::CreateDataFolders();
        const std::string out = (folder.empty() ? foundation::GetSendFolder() : folder) + name;
        const QString znfax = qEnvironmentVariable("ZN_BUILD_DIR") + "/tools/znfax/znfax";
        EXPECT_EQ(QProcess::execute(znfax, {"convert", QString::fromStdString(text), QString::fromStdString(out)}), 0);
        return out;
    }

    // Appends an outgoing row naming files of the send folder.
    void AddOutgoing(const std::string& subject, const std::string& doc, const std::string& cover = {})
    {
        data::TTable& t = screen->FaxTable;
        t.Append();
        t.FieldByName("SUBJECT").SetAsString(subject);
        t.FieldByName("RECIPIENT").SetAsString("Recipient of " + subject);
        t.FieldByName("PHONE").SetAsString("555-0100");
        t.FieldByName("FAXDOC").SetAsString(doc);
        t.FieldByName("FAXCOVER").SetAsString(cover);
        t.Post();
        screen->SetButtons();
    }

    void AddReceived(const std::string& from, const std::string& file)
    {
        data::TTable& t = screen->RecTable;
        t.Append();
        t.FieldByName("DATEREC").SetAsDate(QDate(2026, 12, 1));
        t.FieldByName("TIMEREC").SetAsString("10:30");
        t.FieldByName("FROM").SetAsString(from);
        t.FieldByName("PAGES").SetAsInteger(1);
        t.FieldByName("FAXFILE").SetAsString(file);
        t.Post();
        screen->SetButtons();
    }

    // The outgoing row with this subject becomes the current one.
    bool GoToSubject(const std::string& subject)
    {
        data::TTable& t = screen->FaxTable;
        for (t.First(); !t.Eof(); t.Next())
            if (t.FieldByName("SUBJECT").AsString() == subject)
                return true;
        return false;
    }

    // Subjects of the rows the outgoing list shows.
    std::vector<std::string> Subjects()
    {
        std::vector<std::string> out;
        data::TTable& t = screen->FaxTable;
        const long keep = t.RecNo();
        for (t.First(); !t.Eof(); t.Next())
            out.push_back(t.FieldByName("SUBJECT").AsString());
        if (keep > 0)
            t.GoToRecord(keep);
        return out;
    }

    bool SendFileExists(const std::string& name) const
    {
        return QFile::exists(QString::fromStdString(foundation::GetSendFolder() + name));
    }

    foundation::test::TempHome home_;
    std::string windir_;
    std::unique_ptr<TMainScreen> screen;
    std::deque<int> answers;
    std::vector<Box> boxes;
};

} // namespace zn::app::test
