// The fax printer on sheets kept as images: where pages land, the header and footer rules, the print
// log and the status window through a whole job, an abort and an unpacking failure.
#include "comms/base/exceptions.h"
#include "faxdoc/apf_file.h"
#include "faxdoc/gui/fax_printer.h"
#include "faxdoc/gui/fax_printer_status.h"
#include "faxdoc/gui/tests/view_test_support.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;

// Letter paper at 100 dots per inch, without margins.
constexpr int kSheetW = 850, kSheetH = 1100;

std::string ReadText(const std::string& name)
{
    const std::vector<uint8_t> bytes = ReadFile(name);
    return std::string(bytes.begin(), bytes.end());
}

QRect Quarter(int slot)
{
    const int w = kSheetW / 2, h = kSheetH / 2;
    return QRect(QPoint((slot % 2) * w + 2, (slot / 2) * h + 2),
                 QPoint((slot % 2) * w + w - 3, (slot / 2) * h + h - 3));
}

class FaxPrinterOnImages : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override
    {
        if (!HaveProgram("pbmtog3"))
            GTEST_SKIP() << "pbmtog3 is not installed";
        printer.SetPageTarget(&target);
        printer.SetFaxPrinterLog(&log);
        printer.SetStatusDisplay(&status);
        log.LogFileName = dir.Path("FAXPRINT.LOG");
    }

    TTempDir dir;
    TImagePageTarget target{kSheetW, kSheetH, 100};
    TFxFaxPrinter printer;
    TFxFaxPrinterLog log;
    TFxFaxPrinterStatus status;
};

TEST_F(FaxPrinterOnImages, SixPagesFourASheetLandInReadingOrderUnderTheirHeaderRules)
{
    MakeChartFax(dir, "SIX.APF", {1, 2, 3, 4, 5, 6}, kPageHighResolution);
    printer.SetFileName(dir.Path("SIX.APF"));
    printer.MultiPage = true;
    printer.PrintFax();
    ASSERT_EQ(target.Sheets().size(), 2u);
    int page = 1;
    for (const QImage& sheet : target.Sheets())
        for (int slot = 0; slot < 4; ++slot, ++page) {
            if (page > 6) {
                EXPECT_EQ(Ink(sheet, Quarter(slot)), 0) << "slot " << slot << " of the last sheet is empty";
                continue;
            }
            const QRect between = BetweenRules(sheet, Quarter(slot));
            ASSERT_FALSE(between.isEmpty()) << "page " << page << " has a header and a footer rule";
            const QRect drawn(between.topLeft(),
                              QSize(static_cast<int>(Quarter(slot).width() * 0.93), between.height()));
            EXPECT_EQ(ClosestChart(sheet, drawn), page) << "page " << page;
            // Nothing of the page right of its 93% width.
            EXPECT_EQ(Ink(sheet, QRect(QPoint(drawn.right() + 3, between.top()),
                                       QPoint(Quarter(slot).right(), between.bottom()))),
                      0);
        }
    EXPECT_EQ(target.Title(), "Tarvel Fax Printer");
}

TEST_F(FaxPrinterOnImages, OnePageASheetWithoutMarginsFillsTheSheetHeight)
{
    MakeChartFax(dir, "TWO.APF", {7, 8}, kPageHighResolution);
    printer.SetFileName(dir.Path("TWO.APF"));
    printer.FaxHeader().Enabled = false;
    printer.FaxFooter().Enabled = false;
    printer.PrintFax();
    ASSERT_EQ(target.Sheets().size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const QImage& sheet = target.Sheets()[static_cast<size_t>(i)];
        EXPECT_EQ(ClosestChart(sheet, QRect(0, 0, static_cast<int>(kSheetW * 0.93), kSheetH)), 7 + i);
        EXPECT_TRUE(RuledRows(sheet, sheet.rect()).empty()) << "no header or footer rule";
    }
}

TEST_F(FaxPrinterOnImages, AJobIsLoggedAndShownInTheStatusWindowWhileItRuns)
{
    MakeChartFax(dir, "THREE.APF", {1, 2, 3}, 0);
    printer.SetFileName(dir.Path("THREE.APF"));
    printer.SetFirstPage(2);
    std::vector<std::string> statusLines;
    std::vector<int> statusCodes;
    bool visible = true;
    printer.OnNextPage = [&](TFxCustomFaxPrinter&, unsigned current, unsigned total) {
        visible = visible && status.DisplayVisible();
        statusLines.push_back(status.Display()->findChild<QLabel*>("fpsStatusLine")->text().toStdString());
        EXPECT_EQ(total, 3u);
        EXPECT_EQ(printer.CurrentPage(), current);
    };
    printer.OnFaxPrintStatus = [&](TFxCustomFaxPrinter&, int code) { statusCodes.push_back(code); };
    std::vector<TFaxPLCode> logCodes;
    printer.OnFaxPrintLog = [&](TFxCustomFaxPrinter&, TFaxPLCode code) { logCodes.push_back(code); };
    printer.PrintFax();
    EXPECT_TRUE(visible);
    EXPECT_FALSE(status.DisplayVisible());
    EXPECT_EQ(target.Sheets().size(), 2u);
    // What the window showed as each page began.
    EXPECT_EQ(statusLines, (std::vector<std::string>{"Idle 0 of 3", "Submitting 2 of 3"}));
    EXPECT_EQ(statusCodes, (std::vector<int>{4, 1, 2, 3, 4, 1, 2, 3}));
    EXPECT_EQ(logCodes, (std::vector<TFaxPLCode>{lcStart, lcFinish}));
    auto* display = status.Display();
    EXPECT_EQ(display->findChild<QLabel*>("fpsFileName")->text(), "THREE.APF");
    EXPECT_EQ(display->findChild<QLabel*>("fpsResolution")->text(), "standard");
    EXPECT_EQ(display->findChild<QLabel*>("fpsWidth")->text(), "1728");
    EXPECT_EQ(display->findChild<QLabel*>("fpsFirstPage")->text(), "2");
    const std::string text = ReadText(log.LogFileName);
    const std::string name = dir.Path("THREE.APF");
    ASSERT_EQ(text.find("Printing " + name + " started at "), 0u) << text;
    EXPECT_NE(text.find("\r\nPrinting " + name + " finished at "), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
    EXPECT_EQ(printer.CurrentPage(), 0u);
    EXPECT_EQ(printer.LastStatus(), 0);
}

TEST_F(FaxPrinterOnImages, TheAbortButtonDropsTheJobAndNothingIsLoggedAsFinished)
{
    MakeChartFax(dir, "FOUR.APF", {1, 2, 3, 4}, kPageHighResolution);
    printer.SetFileName(dir.Path("FOUR.APF"));
    printer.OnNextPage = [&](TFxCustomFaxPrinter&, unsigned current, unsigned) {
        if (current == 2)
            status.Display()->findChild<QPushButton*>("fpsAbortButton")->click();
    };
    std::vector<unsigned> rendered;
    printer.OnFaxPrintStatus = [&](TFxCustomFaxPrinter& p, int code) {
        if (code == ppRendering)
            rendered.push_back(p.CurrentPage());
    };
    EXPECT_NO_THROW(printer.PrintFax());
    EXPECT_EQ(rendered, (std::vector<unsigned>{1}));
    EXPECT_TRUE(target.Sheets().empty());
    EXPECT_FALSE(target.Printing());
    EXPECT_FALSE(status.DisplayVisible());
    const std::string text = ReadText(log.LogFileName);
    EXPECT_NE(text.find(" aborted at "), std::string::npos) << text;
    EXPECT_EQ(text.find(" finished at "), std::string::npos) << text;
    EXPECT_EQ(text.find(" failed at "), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
    EXPECT_EQ(printer.CurrentPage(), 0u);

    // The next job prints in full.
    printer.OnNextPage = nullptr;
    printer.PrintFax();
    EXPECT_EQ(target.Sheets().size(), 4u);
}

TEST_F(FaxPrinterOnImages, AnUnpackingFailureEndsTheJobAsFailed)
{
    MakeChartFax(dir, "BAD.APF", {1, 2, 3}, kPageHighResolution);
    // Page 3 loses most of its data: the file ends inside it.
    std::vector<uint8_t> bytes = ReadFile(dir.Path("BAD.APF"));
    bytes.resize(bytes.size() - 20000);
    WriteFile(dir.Path("BAD.APF"), bytes);
    printer.SetFileName(dir.Path("BAD.APF"));
    ASSERT_EQ(printer.TotalPages(), 3);
    std::vector<TFaxPLCode> logCodes;
    printer.OnFaxPrintLog = [&](TFxCustomFaxPrinter&, TFaxPLCode code) { logCodes.push_back(code); };
    EXPECT_ANY_THROW(printer.PrintFax());
    EXPECT_EQ(logCodes, (std::vector<TFaxPLCode>{lcStart, lcFailed}));
    EXPECT_FALSE(target.Printing()) << "the job is not left open";
    EXPECT_EQ(target.Jobs(), 0);
    EXPECT_FALSE(status.DisplayVisible());
    EXPECT_EQ(printer.LastStatus(), 0);
    EXPECT_EQ(printer.CurrentPage(), 0u);
    EXPECT_NE(ReadText(log.LogFileName).find(" failed at "), std::string::npos);
}

TEST_F(FaxPrinterOnImages, ADeviceThatCannotStartAJobFails)
{
    MakeChartFax(dir, "ONE.APF", {2}, kPageHighResolution);
    TImagePageTarget broken(0, 0, 100);
    printer.SetPageTarget(&broken);
    printer.SetFileName(dir.Path("ONE.APF"));
    EXPECT_THROW(printer.PrintFax(), comms::EFXException);
    EXPECT_NE(ReadText(log.LogFileName).find(" failed at "), std::string::npos);
    EXPECT_FALSE(status.DisplayVisible());
}

TEST_F(FaxPrinterOnImages, TagsInTheFileNameArePrintedAsTheyAre)
{
    MakeChartFax(dir, "A$F$P.APF", {2}, kPageHighResolution);
    printer.SetFileName(dir.Path("A$F$P.APF"));
    EXPECT_EQ(printer.ReplaceMarginTags("FILE: $F", 1), "FILE: " + dir.Path("A$F$P.APF"));
    EXPECT_EQ(printer.ReplaceMarginTags("Page: $P of $N", 1), "Page: 1 of 1");
    printer.PrintFax();
    EXPECT_EQ(target.Sheets().size(), 1u);
}

TEST_F(FaxPrinterOnImages, ANormalResolutionPageAt200DotsPerInchKeepsItsProportions)
{
    MakeChartFax(dir, "NORMAL.APF", {1}, 0);
    const int rows = ReadPbm(dir.Path("half1.pbm")).height; // 1188 rows of 3.85 lines/mm
    // A sheet tall enough to show a page of four times the rows.
    TImagePageTarget tall(900, 2600, 100);
    printer.SetPageTarget(&tall);
    printer.SetFileName(dir.Path("NORMAL.APF"));
    printer.FaxHeader().Enabled = false;
    printer.FaxFooter().Enabled = false;
    printer.PrintScale = psNone;
    printer.PrintFax();
    ASSERT_EQ(tall.Sheets().size(), 1u);
    const QImage& sheet = tall.Sheets()[0];
    // At 100 dpi the page of 2 x 1188 rows at 200 dpi is 864 x 1188 device pixels: rows doubled once,
    // not twice.
    int bottom = 0;
    for (int y = 0; y < sheet.height(); ++y)
        if (Ink(sheet, QRect(0, y, sheet.width(), 1)) > 0)
            bottom = y;
    EXPECT_GT(bottom, rows * 8 / 10);
    EXPECT_LT(bottom, rows);
    EXPECT_EQ(ClosestChart(sheet, QRect(0, 0, 864, rows)), 1);
}

TEST_F(FaxPrinterOnImages, AWidePageFittedStaysBetweenHeaderAndFooter)
{
    if (!HaveProgram("pbmmake"))
        GTEST_SKIP() << "pbmmake is not installed";
    // A black page of 2048 pixels by 3000 rows: taller than the sheet in any proportion.
    ASSERT_EQ(RunCommand("pbmmake -black 2048 3000 | pbmtog3 -nofixedwidth -reversebits > '" + dir.Path("w.g3") + "'"),
              0);
    WriteFile(dir.Path("WIDE.APF"), MakeApf({{kPageHighResolution | kPageWide, ReadFile(dir.Path("w.g3"))}}));
    printer.SetFileName(dir.Path("WIDE.APF"));
    ASSERT_TRUE(printer.FaxWidth());
    printer.PrintFax();
    ASSERT_EQ(target.Sheets().size(), 1u);
    const QImage& sheet = target.Sheets()[0];
    const std::vector<int> rules = RuledRows(sheet, QRect(0, 0, kSheetW, kSheetH));
    ASSERT_GE(rules.size(), 2u);
    // The page is the black block that starts right under the header rule; it ends above the footer
    // rule, with the footer's text below it and nothing past the sheet's space.
    const int footerRule = rules.back();
    int pageBottom = 0;
    for (int y = rules.front() + 1; y < kSheetH; ++y)
        if (Ink(sheet, QRect(10, y, 1, 1)) > 0)
            pageBottom = y;
        else if (pageBottom)
            break;
    EXPECT_LT(pageBottom, footerRule) << "the page ends above the footer rule";
    EXPECT_GT(pageBottom, footerRule - 5);
    const int footerInk = Ink(sheet, QRect(0, footerRule + 1, kSheetW, kSheetH - footerRule - 1));
    EXPECT_LT(footerInk, (kSheetH - footerRule - 1) * kSheetW / 4) << "only the footer's text below its rule";
}

TEST_F(FaxPrinterOnImages, AMissingFileRaisesWhenNamed)
{
    EXPECT_ANY_THROW(printer.SetFileName(dir.Path("NONE.APF")));
    EXPECT_EQ(printer.TotalPages(), 0);
}

} // namespace
} // namespace zn::faxdoc
