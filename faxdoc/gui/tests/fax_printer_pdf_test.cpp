// The fax printer through the toolkit's printer object into a PDF file, read back with poppler's
// tools: the sheet count, the footer and header texts, the fax pages embedded pixel for pixel, and
// the rasterised sheets with each page in its quarter.
#include "faxdoc/apf_file.h"
#include "faxdoc/gui/fax_printer.h"
#include "faxdoc/gui/tests/view_test_support.h"
#include "faxdoc/unpacker.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>

#include <gtest/gtest.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;

#define REQUIRE_PROGRAMS(...)                                                                                          \
    for (const char* p : {__VA_ARGS__})                                                                                \
        if (!HaveProgram(p))                                                                                           \
            GTEST_SKIP() << p << " is not installed";

TEST(FaxPrinterPdf, SixPagesFourASheetGiveTwoSheetsWithFootersAndTheExactPages)
{
    REQUIRE_PROGRAMS("pbmtog3", "pdfinfo", "pdftotext", "pdftoppm", "pdfimages");
    EnsureApplication();
    TTempDir dir;
    MakeChartFax(dir, "SIX.APF", {1, 2, 3, 4, 5, 6}, kPageHighResolution);
    TFxFaxPrinter printer;
    printer.SetFileName(dir.Path("SIX.APF"));
    printer.Printer().setOutputFormat(QPrinter::PdfFormat);
    printer.Printer().setOutputFileName(QString::fromStdString(dir.Path("out.pdf")));
    printer.Printer().setPageLayout(
        QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(18, 18, 18, 18)));
    printer.MultiPage = true;
    printer.FaxHeader().Caption = "Fax from Tarvel Test";
    printer.FaxFooter().Caption = "Page: $P of $N";
    printer.PrintFax();

    std::string info;
    ASSERT_EQ(RunCommand("pdfinfo '" + dir.Path("out.pdf") + "'", &info), 0);
    const size_t pages = info.find("Pages:");
    ASSERT_NE(pages, std::string::npos) << info;
    EXPECT_EQ(std::stoi(info.substr(pages + 6)), 2) << info;
    EXPECT_NE(info.find("Tarvel Fax Printer"), std::string::npos) << "the job title: " << info;

    std::string text;
    ASSERT_EQ(RunCommand("pdftotext -layout '" + dir.Path("out.pdf") + "' -", &text), 0);
    for (int page = 1; page <= 6; ++page)
        EXPECT_NE(text.find("Page: " + std::to_string(page) + " of 6"), std::string::npos) << text;
    EXPECT_NE(text.find("Fax from Tarvel Test"), std::string::npos) << text;
    // Pages 1-4 on the first sheet, 5 and 6 on the second.
    const size_t sheetBreak = text.find('\f');
    ASSERT_NE(sheetBreak, std::string::npos);
    EXPECT_LT(text.find("Page: 4 of 6"), sheetBreak);
    EXPECT_GT(text.find("Page: 5 of 6"), sheetBreak);

    // The fax pages go into the PDF at their own resolution, one bit a pixel: nothing is lost.
    ASSERT_EQ(RunCommand("cd '" + dir.Path("") + "' && pdfimages out.pdf img"), 0);
    std::vector<std::string> images;
    for (const std::string& f : dir.Files())
        if (f.rfind("img-", 0) == 0)
            images.push_back(f);
    std::sort(images.begin(), images.end());
    ASSERT_EQ(images.size(), 6u);
    for (int page = 1; page <= 6; ++page) {
        const std::string& image = images[static_cast<size_t>(page - 1)];
        ASSERT_EQ(image.substr(image.size() - 4), ".pbm") << "a 1-bit image";
        EXPECT_TRUE(ReadPbm(dir.Path(image)) == ReadPbm(ChartPath(page))) << "page " << page;
    }

    // Rasterised, each page sits in its quarter of the printable area, between its rules.
    ASSERT_EQ(RunCommand("pdftoppm -r 100 -gray -aa no -aaVector no '" + dir.Path("out.pdf") + "' '" + dir.Path("sheet")
                         + "'"),
              0);
    const QRectF paint = printer.Printer().pageLayout().paintRect(QPageLayout::Inch);
    const QRect area(qRound(paint.left() * 100), qRound(paint.top() * 100), int(paint.width() * 100),
                     int(paint.height() * 100));
    for (int sheetNo = 1; sheetNo <= 2; ++sheetNo) {
        QImage sheet(QString::fromStdString(dir.Path("sheet-" + std::to_string(sheetNo) + ".pgm")));
        ASSERT_FALSE(sheet.isNull());
        for (int slot = 0; slot < 4; ++slot) {
            const int page = (sheetNo - 1) * 4 + slot + 1;
            const int w = area.width() / 2, h = area.height() / 2;
            const QRect quarter(area.left() + (slot % 2) * w + 3, area.top() + (slot / 2) * h + 3, w - 6, h - 6);
            if (page > 6) {
                EXPECT_EQ(Ink(sheet, quarter), 0);
                continue;
            }
            const QRect between = BetweenRules(sheet, quarter);
            ASSERT_FALSE(between.isEmpty()) << "page " << page;
            EXPECT_EQ(
                ClosestChart(sheet, QRect(between.topLeft(), QSize(int(quarter.width() * 0.92), between.height()))),
                page);
        }
    }
}

TEST(FaxPrinterPdf, APdfFileThatCannotBeWrittenFailsTheJob)
{
    EnsureApplication();
    if (!HaveProgram("pbmtog3"))
        GTEST_SKIP() << "pbmtog3 is not installed";
    TTempDir dir;
    MakeChartFax(dir, "ONE.APF", {1}, kPageHighResolution);
    TFxFaxPrinter printer;
    TFxFaxPrinterLog log;
    log.LogFileName = dir.Path("FAXPRINT.LOG");
    printer.SetFaxPrinterLog(&log);
    printer.SetFileName(dir.Path("ONE.APF"));
    printer.Printer().setOutputFormat(QPrinter::PdfFormat);
    printer.Printer().setOutputFileName(QString::fromStdString(dir.Path("no/such/folder/out.pdf")));
    EXPECT_ANY_THROW(printer.PrintFax());
    const std::vector<uint8_t> bytes = ReadFile(log.LogFileName);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find(" failed at "), std::string::npos) << text;
    EXPECT_EQ(text.find(" finished at "), std::string::npos) << text;
    EXPECT_FALSE(printer.PageTarget().Printing());
}

} // namespace
} // namespace zn::faxdoc
