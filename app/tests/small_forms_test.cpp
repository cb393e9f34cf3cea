// The error window, the About box, the sender form, the receive-log notice and the delete choice,
// as a user sees and answers them.
#include "app/error_display_form.h"
#include "app/small_forms.h"
#include "foundation/dialogs.h"
#include "foundation/help_window.h"
#include "foundation/gui/url_label.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "foundation/tests/test_support.h"
#include "modal_driver.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <gtest/gtest.h>

using namespace zn::app;
using zn::app::test::Find;
using zn::app::test::ModalDriver;

namespace {
void Click(QWidget* dialog, const char* name)
{
    auto* b = Find<QPushButton>(dialog, name);
    ASSERT_NE(b, nullptr) << name;
    b->click();
}
} // namespace

class ErrorWindowTest : public ::testing::Test {
protected:
    ErrorWindowTest() { CloseHelp(); }
    ~ErrorWindowTest() override
    {
        SetErrorWindowTimeoutForTest(0);
        CloseHelp();
    }
    static void CloseHelp()
    {
        if (QWidget* help = zn::foundation::OpenHelpWindow())
            help->close();
    }
};

TEST_F(ErrorWindowTest, ShowsCaptionTextAndButtonsAndOkAnswersOne)
{
    ModalDriver driver;
    QString caption, text, label;
    bool continueShown = true, timerOn = true;
    int timerInterval = 0;
    driver.Then([&](QWidget* d) {
        caption = d->windowTitle();
        text = Find<QPlainTextEdit>(d, "Memo1")->toPlainText();
        label = Find<QLabel>(d, "Label1")->text();
        continueShown = Find<QPushButton>(d, "ContinueButton")->isVisible();
        auto* timer = d->findChild<QTimer*>("Timer1");
        timerOn = timer->isActive();
        timerInterval = timer->interval();
        EXPECT_EQ(Find<QPushButton>(d, "BitBtn1")->text(), "Ok");
        EXPECT_EQ(Find<QPushButton>(d, "BitBtn2")->text(), "Technical Help");
        Click(d, "BitBtn1");
    });
    EXPECT_EQ(ShowErrorWindow("Fax Failure", "The line dropped.\r\nTry again.", true, false), 1);
    EXPECT_EQ(caption, "Fax Failure");
    EXPECT_TRUE(text.contains("The line dropped."));
    EXPECT_EQ(label, "For more information and possible solutions, click the Fax Problem Solver button");
    EXPECT_FALSE(continueShown);
    EXPECT_FALSE(timerOn); // waiting for the user
    EXPECT_EQ(timerInterval, 30000);
}

TEST_F(ErrorWindowTest, AnUnansweredWindowClosesItselfAsOkNotContinue)
{
    SetErrorWindowTimeoutForTest(200);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(AskContinue("No Response From Modem", "The modem did not answer.", false));
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_LT(clock.elapsed(), 5000);
    SetErrorWindowTimeoutForTest(200);
    EXPECT_EQ(ShowErrorWindow("Unable to Continue", "x", false, false), 1);
}

TEST_F(ErrorWindowTest, ContinueAnswersContinue)
{
    ModalDriver driver;
    driver.Then([](QWidget* d) {
        EXPECT_TRUE(Find<QPushButton>(d, "ContinueButton")->isVisible());
        Click(d, "ContinueButton");
    });
    EXPECT_TRUE(AskContinue("No Response From Modem", "The modem did not answer.", true));
}

TEST_F(ErrorWindowTest, TechnicalHelpWithoutContinueClosesThenOpensHelp)
{
    ModalDriver driver;
    QString helpWhileOpen = "-";
    driver.Then([&](QWidget* d) {
        Click(d, "BitBtn2");
        helpWhileOpen = zn::foundation::ShownHelpTopic();
    });
    EXPECT_EQ(ShowErrorWindow("Fax Failure", "x", true, false), kTechnicalHelpResult);
    EXPECT_EQ(helpWhileOpen, ""); // the help comes after the window has closed
    EXPECT_EQ(zn::foundation::ShownHelpTopic(), "Fax Problem Solver");
}

TEST_F(ErrorWindowTest, TechnicalHelpWithContinueOpensHelpAndKeepsTheWindow)
{
    ModalDriver driver;
    bool stillOpen = false;
    driver.Then([&](QWidget* d) {
        Click(d, "BitBtn2");
        stillOpen = d->isVisible();
        EXPECT_EQ(zn::foundation::ShownHelpTopic(), "Fax Problem Solver");
        Click(d, "BitBtn1");
    });
    EXPECT_EQ(ShowErrorWindow("No Response From Modem", "x", true, true), 1);
    EXPECT_TRUE(stillOpen);
}

TEST_F(ErrorWindowTest, ASecondErrorWhileOneIsUpIsDropped)
{
    ModalDriver driver;
    int nested = -1;
    driver.Then([&](QWidget* d) {
        nested = ShowErrorWindow("Failed To Receive Incoming Fax", "second", false, false);
        Click(d, "BitBtn1");
    });
    EXPECT_EQ(ShowErrorWindow("Fax Failure", "first", true, false), 1);
    EXPECT_EQ(nested, 0);
}

TEST_F(ErrorWindowTest, TheWindowGrowsWithTheTextSoEveryLineShows)
{
    TShowErrorForm shortForm, longForm;
    shortForm.SetText("one line");
    QStringList lines;
    for (int i = 0; i < 12; ++i)
        lines << QString("line %1").arg(i);
    longForm.SetText(lines.join("\r\n"));
    EXPECT_GT(longForm.height(), shortForm.height());
    longForm.show();
    QApplication::processEvents();
    EXPECT_EQ(longForm.Memo1->verticalScrollBar()->maximum(), 0);
}

class FormsWithSettings : public ::testing::Test {
protected:
    FormsWithSettings()
    {
        zn::foundation::Settings() = zn::foundation::SettingsValues();
        zn::foundation::Settings().ProgramVersion = "2.9z Build 6";
    }
    zn::foundation::test::TempHome home;
};

TEST_F(FormsWithSettings, AboutBoxNamesTheVersionAndOpensTheStore)
{
    TSplashform about;
    EXPECT_EQ(about.windowTitle(), "About Tarvel");
    EXPECT_EQ(about.versionlabel->text(), "Version 2.9z Build 6");
    EXPECT_EQ(about.Label3216->text(), "32-bit version");
    EXPECT_EQ(about.URLPanelLabel->text(), "Visit our online store:");
    EXPECT_EQ(about.OKButton->text(), "Ok");
    QString opened;
    zn::foundation::gui::TUrlLabel::SetOpenerForTest([&](const QString& t) { opened = t; });
    about.UrlLabel1->Click();
    zn::foundation::gui::TUrlLabel::SetOpenerForTest({});
    EXPECT_EQ(opened, kStoreAddress);
}

TEST_F(FormsWithSettings, SenderFormCancelLeavesSettingsAndFileAlone)
{
    auto& s = zn::foundation::Settings();
    s.Name = "Ann";
    s.Fax = "+44 1";
    ModalDriver driver;
    driver.Then([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), "Sender Information");
        EXPECT_EQ(Find<QLineEdit>(d, "Name")->text(), "Ann");
        Find<QLineEdit>(d, "Name")->setText("Bob");
        Click(d, "Cancelbutton");
    });
    EXPECT_FALSE(EditSenderInformation(nullptr));
    EXPECT_EQ(s.Name, "Ann");
    EXPECT_FALSE(std::filesystem::exists(zn::foundation::GetIniFileName()));
}

TEST_F(FormsWithSettings, SenderFormAcceptStoresAndSavesAndLimitsTheStationId)
{
    ModalDriver driver;
    driver.Then([](QWidget* d) {
        auto* fax = Find<QLineEdit>(d, "FaxNumber");
        fax->setFocus();
        QTest::keyClicks(fax, "+1 555 0100 2000 3000 4000");
        EXPECT_EQ(fax->text().size(), 20);
        Find<QLineEdit>(d, "Name")->setText("Carol");
        Find<QLineEdit>(d, "Voicenumber")->setText("555-0101");
        Find<QLineEdit>(d, "Company")->setText("Example Ltd");
        EXPECT_EQ(Find<QLineEdit>(d, "Company")->maxLength(), 35);
        Click(d, "OKButton");
    });
    EXPECT_TRUE(EditSenderInformation(nullptr));
    auto& s = zn::foundation::Settings();
    EXPECT_EQ(s.Fax, "+1 555 0100 2000 300");
    EXPECT_EQ(s.Name, "Carol");
    const std::string ini = zn::foundation::test::ReadFile(zn::foundation::GetIniFileName());
    EXPECT_NE(ini.find("Carol"), std::string::npos);
    EXPECT_NE(ini.find("Example Ltd"), std::string::npos);
}

TEST_F(FormsWithSettings, ReceiveLogNoticeNamesTheLogFile)
{
    TTellUserAboutReceiveLog notice;
    EXPECT_EQ(notice.windowTitle(), "Logging ON");
    EXPECT_EQ(notice.LogFileNAme->text().toStdString(), zn::foundation::GetProgramFolder() + "ZNIN.LOG.");
    ModalDriver driver;
    driver.Then([](QWidget* d) { Click(d, "Button1"); });
    TellUserAboutReceiveLog();
    EXPECT_TRUE(driver.Done());
}

TEST(TDeleteWhat, OffersTheThreeChoicesAndReportsTheOneTaken)
{
    TDeleteWhat form;
    EXPECT_EQ(form.windowTitle(), "Delete Fax");
    EXPECT_EQ(form.Choices[2]->text(), "Delete Both Fax Cover && Fax Body");
    ModalDriver driver;
    driver.Then([](QWidget* d) {
        d->findChild<QRadioButton*>("WhatToDelete1")->click();
        Click(d, "OkButton");
    });
    EXPECT_EQ(form.exec(), 1);
    EXPECT_EQ(form.ItemIndex(), 1);
}
