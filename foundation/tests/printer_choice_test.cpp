#include "foundation/printer_choice.h"

#include "foundation/settings.h"
#include "platform/message_box.h"
#include "test_support.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace zn::foundation {
namespace {

class PrinterChoiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::EnsureApplication();
        platform::SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            boxes_.push_back(text);
            return platform::IDOK;
        });
        Settings() = SettingsValues();
        SetPrinterIndex(-1);
    }
    void TearDown() override
    {
        platform::SetMessageBoxHook({});
        SetPrinterNamesForTest(std::nullopt);
    }
    // Answers the printer dialog: checks which row it offers, picks another row, presses Ok.
    void AnswerDialog(int expectedRow, int pickRow)
    {
        QTimer::singleShot(0, [=] {
            QWidget* dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle(), "Select Printer");
            auto* list = dialog->findChild<QListWidget*>("listofprinters");
            ASSERT_NE(list, nullptr);
            offered_ = list->currentRow();
            EXPECT_EQ(offered_, expectedRow);
            list->setCurrentRow(pickRow);
            dialog->findChild<QPushButton*>("OkButton")->click();
        });
    }
    std::vector<std::string> boxes_;
    int offered_ = -2;
};

TEST_F(PrinterChoiceTest, NoPrintersTellsTheUser)
{
    SetPrinterNamesForTest(std::vector<std::string>{});
    EXPECT_FALSE(SelectUsablePrinter(false));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(SelectUsablePrinter(true));
    EXPECT_EQ(boxes_, std::vector<std::string>{"Tarvel cannot find any installed printers."});
}

TEST_F(PrinterChoiceTest, ChosenPrinterBeyondTheFirstIsUsable)
{
    SetPrinterNamesForTest(std::vector<std::string>{"Laser", "Inkjet"});
    SetPrinterIndex(1);
    EXPECT_TRUE(SelectUsablePrinter(false));
    EXPECT_EQ(CurrentPrinterName(), "Inkjet");
}

TEST_F(PrinterChoiceTest, PrintOnReceiptPrinterIsSelected)
{
    SetPrinterNamesForTest(std::vector<std::string>{"Laser", "Inkjet", "Plotter"});
    Settings().PrintOnReceiptPrinter = "Plotter";
    EXPECT_TRUE(SelectUsablePrinter(false));
    EXPECT_EQ(PrinterIndex(), 2);
}

TEST_F(PrinterChoiceTest, WithoutAskingNoChoiceIsMade)
{
    SetPrinterNamesForTest(std::vector<std::string>{"Laser", "Inkjet"});
    Settings().PrintOnReceiptPrinter = "Laser"; // first place counts like the default
    EXPECT_FALSE(SelectUsablePrinter(false));
    EXPECT_EQ(PrinterIndex(), -1);
}

TEST_F(PrinterChoiceTest, DialogOffersTheLastPrinterWhenTheFirstIsOurs)
{
    SetPrinterNamesForTest(std::vector<std::string>{"Tarvel Fax Printer", "Laser", "Inkjet"});
    AnswerDialog(2, 1);
    EXPECT_TRUE(SelectUsablePrinter(true));
    EXPECT_EQ(offered_, 2);
    EXPECT_EQ(PrinterIndex(), 1);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(PrinterChoiceTest, DialogOffersTheFirstOtherwise)
{
    SetPrinterNamesForTest(std::vector<std::string>{"Laser", "Inkjet"});
    AnswerDialog(0, 0);
    EXPECT_TRUE(SelectUsablePrinter(true));
    EXPECT_EQ(PrinterIndex(), 0);
}

TEST_F(PrinterChoiceTest, IndexOutsideTheListIsIgnored)
{
    SetPrinterNamesForTest(std::vector<std::string>{"Laser"});
    SetPrinterIndex(5);
    EXPECT_EQ(PrinterIndex(), -1);
    EXPECT_EQ(CurrentPrinterName(), "");
}

} // namespace
} // namespace zn::foundation
