// The two fax viewer windows on Qt's offscreen platform, driven by their component names: page
// buttons, zoom, rotation, switching viewers, printing through the print dialog (sheets kept as
// images), and exports through the real save dialog, read back by netpbm and libtiff.
#include "app/alt_fax_viewer_form.h"
#include "app/fax_viewer_form.h"
#include "app/pre_print_form.h"
#include "app/prepared_fax.h"
#include "app/print_command.h"
#include "faxdoc/apf_file.h"
#include "faxdoc/gui/tests/view_test_support.h"
#include "foundation/printer_choice.h"
#include "foundation/settings.h"
#include "foundation/tests/test_support.h"
#include "platform/message_box.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace zn::app {
namespace {

using faxdoc::TViewerWindow;

using namespace zn::faxdoc::test;
using faxdoc::kPageHighResolution;

#define REQUIRE_PROGRAMS(...)                                                                                          \
    for (const char* p : {__VA_ARGS__})                                                                                \
        if (!HaveProgram(p))                                                                                           \
            GTEST_SKIP() << p << " is not installed";

// Runs `handle` on the next modal window of type T as soon as it is up.
template <typename T>
void WhenModal(std::function<void(T&)> handle)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, handle] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            handle(*w);
        }
    });
    timer->start();
}

// Types the name into the save dialog and presses its Save button, once the dialog has settled (it
// reads its folder in the background and may reset the name box meanwhile).
void SaveAs(QFileDialog& d, const std::string& name)
{
    QTimer::singleShot(50, &d, [&d, name] {
        d.findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(name));
        QMetaObject::invokeMethod(&d, "accept");
    });
}

enum class Kind { Regular, Alternate };

std::unique_ptr<TViewerFormBase> MakeForm(Kind kind, const std::string& file, const std::string& title)
{
    if (kind == Kind::Regular)
        return std::make_unique<TFaxViewer>(file, title, "Fax header text");
    return std::make_unique<TAltFaxViewer>(file, title, "Fax header text");
}

class ViewerForms : public ::testing::TestWithParam<Kind> {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override
    {
        REQUIRE_PROGRAMS("pbmtog3", "pamscale");
        foundation::SetPrinterNamesForTest(std::vector<std::string>{"Tarvel Fax Printer", "Paper"});
        foundation::SetPrinterIndex(1);
        foundation::Settings() = foundation::SettingsValues();
        foundation::PrintSettings() = foundation::PrintOptions();
        platform::SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return 1;
        });
    }
    void TearDown() override
    {
        platform::SetMessageBoxHook({});
        foundation::SetPrinterNamesForTest(std::nullopt);
    }
    std::unique_ptr<TViewerFormBase> Open(const std::string& file, const std::string& title = "",
                                          QSize size = {760, 560})
    {
        auto form = MakeForm(GetParam(), file, title);
        form->resize(size);
        form->show();
        QCoreApplication::processEvents();
        return form;
    }
    int CurrentPage(TViewerFormBase& form) const
    {
        if (GetParam() == Kind::Regular)
            return static_cast<TFaxViewer&>(form).FaxViewer->CurrentPage();
        return static_cast<TAltFaxViewer&>(form).CurrentPage();
    }
    // The height of the page as it is shown at 200%.
    int ShownPageHeight(TViewerFormBase& form) const
    {
        form.N100PercentItem->trigger();
        if (GetParam() == Kind::Regular)
            return static_cast<TFaxViewer&>(form).FaxViewer->Window().DisplaySize().height();
        return static_cast<TAltFaxViewer&>(form).ZoomPanel->height();
    }

    foundation::test::TempHome home;
    TTempDir dir;
    std::vector<std::string> boxes;
};

TEST_P(ViewerForms, AOnePageFaxHidesThePageButtons)
{
    MakeChartFax(dir, "ONE.APF", {1}, kPageHighResolution);
    auto form = Open(dir.Path("ONE.APF"));
    for (QPushButton* b : {form->FirstButton, form->PrevButton, form->NextButton, form->LastButton})
        EXPECT_TRUE(b->isHidden()) << b->objectName().toStdString();
    MakeChartFax(dir, "TWO.APF", {1, 2}, kPageHighResolution);
    auto two = Open(dir.Path("TWO.APF"));
    EXPECT_FALSE(two->NextButton->isHidden());
}

// At the window's own width every button of the bar is on screen, none folded behind the bar's
// extension button, and Close closes.
TEST_P(ViewerForms, EveryButtonFitsTheWindowAndCloseIsReachable)
{
    MakeChartFax(dir, "THREE.APF", {1, 2, 3}, kPageHighResolution);
    auto form = MakeForm(GetParam(), dir.Path("THREE.APF"), "From Ann");
    form->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(form->width(), 760);
    QWidget* bar = form->findChild<QWidget*>("ButtonBar");
    ASSERT_NE(bar, nullptr);
    for (QPushButton* b : bar->findChildren<QPushButton*>()) {
        EXPECT_TRUE(b->isVisible()) << b->objectName().toStdString();
        const QRect inWindow(b->mapTo(form.get(), QPoint(0, 0)), b->size());
        EXPECT_TRUE(form->rect().contains(inWindow)) << b->objectName().toStdString();
    }
    for (QWidget* extension : form->findChildren<QWidget*>("qt_toolbar_ext_button"))
        EXPECT_FALSE(extension->isVisible());
    QTest::mouseClick(form->CloseButton, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
}

TEST_P(ViewerForms, PageButtonsStayInsideTheFileAndTheStatusFollows)
{
    MakeChartFax(dir, "THREE.APF", {1, 2, 3}, kPageHighResolution);
    auto form = Open(dir.Path("THREE.APF"), "From Ann");
    const std::string percent = GetParam() == Kind::Alternate ? ", 100 percent" : "";
    EXPECT_EQ(form->StatusText().toStdString(), "From Ann: Page 1 of 3" + percent);
    form->PrevButton->click();
    EXPECT_EQ(CurrentPage(*form), 1);
    form->NextButton->click();
    EXPECT_EQ(CurrentPage(*form), 2);
    EXPECT_EQ(form->StatusText().toStdString(), "From Ann: Page 2 of 3" + percent);
    form->LastButton->click();
    form->NextButton->click();
    EXPECT_EQ(CurrentPage(*form), 3);
    form->FirstButton->click();
    EXPECT_EQ(CurrentPage(*form), 1);
}

TEST_P(ViewerForms, ZoomStepsThroughItsFourValuesAndStopsAtTheEnds)
{
    MakeChartFax(dir, "ONE.APF", {2}, kPageHighResolution);
    auto form = Open(dir.Path("ONE.APF"));
    form->N25PercentItem->trigger();
    EXPECT_EQ(form->Zoom(), 25);
    EXPECT_TRUE(form->N25PercentItem->isChecked());
    form->ZoomOutButton->click();
    EXPECT_EQ(form->Zoom(), 25);
    std::vector<int> seen;
    for (int i = 0; i < 4; ++i) {
        form->ZoomInButton->click();
        seen.push_back(form->Zoom());
    }
    EXPECT_EQ(seen, (std::vector<int>{50, 75, 100, 100}));
    EXPECT_TRUE(form->N100PercentItem->isChecked());
    EXPECT_FALSE(form->N75PercentItem->isChecked());
    EXPECT_EQ(ShownPageHeight(*form), 2376) << "the largest zoom shows the page pixel for pixel";
    form->N50PercentItem->trigger();
    if (GetParam() == Kind::Alternate)
        EXPECT_EQ(form->StatusText().toStdString(), "Page 1 of 1, 100 percent");
}

TEST_P(ViewerForms, NormalResolutionPagesAreShownAndExportedTwiceAsTallNotFourTimes)
{
    REQUIRE_PROGRAMS("bmptopnm", "pcxtoppm", "tifftopnm");
    MakeChartFax(dir, "NORMAL.APF", {3}, 0);
    const int rows = ReadPbm(dir.Path("half3.pbm")).height;
    auto form = Open(dir.Path("NORMAL.APF"));
    EXPECT_EQ(ShownPageHeight(*form), 2 * rows);
    const std::vector<std::string> kinds = GetParam() == Kind::Regular
                                               ? std::vector<std::string>{"BMP", "PCX", "TIF", "DCX"}
                                               : std::vector<std::string>{"BMP", "PCX", "DCX"};
    for (const std::string& kind : kinds) {
        const std::string out = dir.Path("page." + kind);
        WhenModal<QFileDialog>([out](QFileDialog& d) { SaveAs(d, out); });
        form->findChild<QAction*>(QString::fromStdString("Export" + kind + "Item"))->trigger();
        ASSERT_TRUE(FileExists(out)) << kind << " " << ::testing::PrintToString(dir.Files())
                                     << ::testing::PrintToString(boxes);
        std::string command;
        if (kind == "BMP")
            command = "bmptopnm '" + out + "'";
        else if (kind == "PCX")
            command = "pcxtoppm '" + out + "'";
        else if (kind == "TIF")
            command = "tifftopnm '" + out + "'";
        else // the first page of the DCX file starts behind the 4100-byte page table
            command = "tail -c +4101 '" + out + "' | pcxtoppm";
        std::string header;
        ASSERT_EQ(RunCommand(command + " 2>/dev/null | pamfile", &header), 0) << kind;
        EXPECT_NE(header.find("1728 by " + std::to_string(2 * rows)), std::string::npos) << kind << ": " << header;
    }
}

TEST_P(ViewerForms, ExportsReadBackByNetpbmAndLibtiffEqualTheUnpackedPage)
{
    REQUIRE_PROGRAMS("bmptopnm", "pcxtoppm", "tifftopnm", "tiffinfo", "pamditherbw");
    MakeChartFax(dir, "THREE.APF", {4, 5, 6}, kPageHighResolution);
    auto form = Open(dir.Path("THREE.APF"));
    form->NextButton->click();
    ASSERT_EQ(CurrentPage(*form), 2);
    const TRaster expected = ReadPbm(ChartPath(5));
    const std::vector<std::string> kinds = GetParam() == Kind::Regular
                                               ? std::vector<std::string>{"BMP", "PCX", "TIF", "DCX"}
                                               : std::vector<std::string>{"BMP", "PCX", "DCX"};
    for (const std::string& kind : kinds) {
        const std::string out = dir.Path("export." + kind);
        WhenModal<QFileDialog>([out](QFileDialog& d) { SaveAs(d, out); });
        form->findChild<QAction*>(QString::fromStdString("Export" + kind + "Item"))->trigger();
        ASSERT_TRUE(FileExists(out)) << kind << " " << ::testing::PrintToString(dir.Files())
                                     << ::testing::PrintToString(boxes);
        const std::string reader = kind == "BMP"   ? "bmptopnm '" + out + "'"
                                   : kind == "PCX" ? "pcxtoppm '" + out + "'"
                                   : kind == "TIF" ? "tifftopnm '" + out + "'"
                                                   : "tail -c +4101 '" + out + "' | pcxtoppm";
        const std::string pbm = dir.Path("back-" + kind + ".pbm");
        ASSERT_EQ(RunCommand(reader + " 2>/dev/null | pamditherbw -threshold | pamtopnm > '" + pbm + "'"), 0) << kind;
        EXPECT_TRUE(ReadPbm(pbm) == expected) << kind;
    }
    if (GetParam() == Kind::Regular) {
        std::string info;
        ASSERT_EQ(RunCommand("tiffinfo '" + dir.Path("export.TIF") + "' 2>/dev/null", &info), 0);
        EXPECT_NE(info.find("Image Width: 1728 Image Length: 2376"), std::string::npos) << info;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_P(ViewerForms, ACancelledExportWritesNothing)
{
    MakeChartFax(dir, "ONE.APF", {1}, kPageHighResolution);
    auto form = Open(dir.Path("ONE.APF"));
    const size_t before = dir.Files().size();
    std::string offered;
    WhenModal<QFileDialog>([&offered](QFileDialog& d) {
        offered = d.nameFilters().join("|").toStdString();
        d.reject();
    });
    form->findChild<QAction*>("ExportBMPItem")->trigger();
    EXPECT_EQ(offered, "BMP File (*.BMP)");
    EXPECT_EQ(dir.Files().size(), before);
    for (const std::string& f : dir.Files())
        EXPECT_EQ(f.find('*'), std::string::npos) << f;
}

TEST_P(ViewerForms, PrintingTheCurrentPagePrintsOnlyItAndOffersTheWholeRangeAfterwards)
{
    MakeChartFax(dir, "FOUR.APF", {1, 2, 3, 4}, kPageHighResolution);
    auto form = Open(dir.Path("FOUR.APF"));
    faxdoc::TImagePageTarget target(850, 1100, 100);
    form->FaxPrinter().SetPageTarget(&target);
    form->NextButton->click();
    form->NextButton->click();
    ASSERT_EQ(CurrentPage(*form), 3);
    bool rangeLocked = false;
    WhenModal<TPrePrintForm>([&](TPrePrintForm& f) {
        rangeLocked = !f.FromPage->isEnabled() && !f.ToPage->isEnabled() && !f.PrintMultiPage->isEnabled()
                      && f.FromPage->value() == 3 && f.ToPage->value() == 3;
        f.PrintHeader->setChecked(false);
        f.PrintFooter->setChecked(false);
        f.StretchToFit->setChecked(true);
        f.BitBtn1->click();
    });
    form->PrintSinglePageButton->click();
    EXPECT_TRUE(rangeLocked);
    ASSERT_EQ(target.Sheets().size(), 1u);
    EXPECT_EQ(ClosestChart(target.Sheets()[0], QRect(0, 0, 790, 1100)), 3);
    EXPECT_TRUE(foundation::PrintSettings().Stretch) << "the options are kept";

    int from = 0, to = 0, maximum = 0;
    WhenModal<TPrePrintForm>([&](TPrePrintForm& f) {
        from = f.FromPage->value();
        to = f.ToPage->value();
        maximum = f.ToPage->maximum();
        f.BitBtn2->click();
    });
    form->Printbutton->click();
    EXPECT_EQ((std::vector<int>{from, to, maximum}), (std::vector<int>{1, 4, 4}));
    EXPECT_EQ(target.Jobs(), 1) << "a cancelled dialog prints nothing";
}

TEST_P(ViewerForms, AllPagesFourToASheetWithTheCallersHeader)
{
    MakeChartFax(dir, "SIX.APF", {1, 2, 3, 4, 5, 6}, kPageHighResolution);
    auto form = Open(dir.Path("SIX.APF"));
    faxdoc::TImagePageTarget target(850, 1100, 100);
    form->FaxPrinter().SetPageTarget(&target);
    std::string footer;
    form->FaxPrinter().OnNextPage = [&](faxdoc::TFxCustomFaxPrinter& p, unsigned page, unsigned) {
        footer = p.ReplaceMarginTags(p.FaxFooter().Caption, page);
    };
    WhenModal<TPrePrintForm>([&](TPrePrintForm& f) {
        f.FromPage->setValue(2);
        f.ToPage->setValue(6);
        f.PrintMultiPage->setChecked(true);
        f.PrintHeader->setChecked(true);
        f.PrintFooter->setChecked(true);
        f.BitBtn1->click();
    });
    form->Printbutton->click();
    EXPECT_EQ(target.Sheets().size(), 2u);
    EXPECT_EQ(form->FaxPrinter().FaxHeader().Caption, "Fax header text");
    EXPECT_EQ(footer, "Page: 6 of 6");
    EXPECT_EQ(form->FaxPrinter().PrintScale, faxdoc::psNone);
}

TEST_P(ViewerForms, SwitchingViewersFlipsTheSettingAndCloses)
{
    MakeChartFax(dir, "ONE.APF", {1}, kPageHighResolution);
    auto form = Open(dir.Path("ONE.APF"));
    const bool before = foundation::Settings().UseAlternateFaxViewer;
    form->findChild<QAction*>("SwitchViewerItem")->trigger();
    EXPECT_TRUE(form->SwitchViewer());
    EXPECT_NE(foundation::Settings().UseAlternateFaxViewer, before);
    EXPECT_FALSE(form->isVisible());
}

TEST_P(ViewerForms, AFileThatCannotBeOpenedSaysSo)
{
    auto form = Open(dir.Path("NONE.APF"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Error opening fax file");
    EXPECT_EQ(form->StatusText().toStdString(), "No file loaded");
}

TEST_P(ViewerForms, WithoutPrintersThePrintButtonsAreOff)
{
    foundation::SetPrinterNamesForTest(std::vector<std::string>{});
    MakeChartFax(dir, "ONE.APF", {1}, kPageHighResolution);
    auto form = Open(dir.Path("ONE.APF"));
    EXPECT_FALSE(form->Printbutton->isEnabled());
    EXPECT_FALSE(form->PrinterSetupButton->isEnabled());
}

// A program folder and a folder for fax files, for the tests of one window.
class OneFaxFolder : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override
    {
        if (!HaveProgram("pbmtog3"))
            GTEST_SKIP() << "pbmtog3 is not installed";
    }
    foundation::test::TempHome home;
    TTempDir dir;
};

INSTANTIATE_TEST_SUITE_P(Both, ViewerForms, ::testing::Values(Kind::Regular, Kind::Alternate),
                         [](const auto& info) { return info.param == Kind::Regular ? "Regular" : "Alternate"; });

TEST_F(OneFaxFolder, AWidePageInANarrowWindowStartsAtTheSmallestZoom)
{
    MakeChartFax(dir, "ONE.APF", {1}, kPageHighResolution);
    for (const auto& [width, zoom] : {std::pair{300, 25}, {520, 50}, {1900, 50}}) {
        TFaxViewer form(dir.Path("ONE.APF"), "");
        form.resize(width, 500);
        form.show();
        QCoreApplication::processEvents();
        const int viewport = form.FaxViewer->Window().viewport()->width();
        const int r = static_cast<int>(static_cast<double>(viewport) / 1728 * 150);
        EXPECT_EQ(form.Zoom(), zoom) << "viewport " << viewport << " gives " << r;
    }
}

TEST_F(OneFaxFolder, TheRotationMenuTurnsThePageAndChecksItsItem)
{
    MakeChartFax(dir, "ONE.APF", {1}, kPageHighResolution);
    TFaxViewer form(dir.Path("ONE.APF"), "");
    form.show();
    QCoreApplication::processEvents();
    form.Rotate90Item->trigger();
    EXPECT_EQ(form.FaxViewer->Rotation(), 1);
    EXPECT_TRUE(form.Rotate90Item->isChecked());
    form.Rotate270Item->trigger();
    EXPECT_EQ(form.FaxViewer->Rotation(), 3);
    EXPECT_FALSE(form.Rotate90Item->isChecked());
    EXPECT_TRUE(form.Rotate270Item->isChecked());
    EXPECT_EQ(form.FaxViewer->Window().apwViewGetPageDim().width(), 2376);
}

TEST_F(OneFaxFolder, TheMainWindowsPrintOffersAllPagesAndKeepsTheOptions)
{
    foundation::SetPrinterNamesForTest(std::vector<std::string>{"Tarvel Fax Printer", "Paper"});
    foundation::SetPrinterIndex(1);
    foundation::PrintSettings() = foundation::PrintOptions();
    MakeChartFax(dir, "FIVE.APF", {1, 2, 3, 4, 5}, kPageHighResolution);
    faxdoc::TFxFaxPrinter printer;
    faxdoc::TImagePageTarget target(850, 1100, 100);
    printer.SetPageTarget(&target);
    std::vector<int> offered;
    WhenModal<TPrePrintForm>([&](TPrePrintForm& f) {
        offered = {f.FromPage->value(), f.ToPage->value(), f.ToPage->maximum(), f.PrintMultiPage->isEnabled()};
        f.FromPage->setValue(4);
        f.PrintHeader->setChecked(true);
        f.BitBtn1->click();
    });
    EXPECT_TRUE(PrintFaxFile(printer, dir.Path("FIVE.APF"), "From: Ann             Received: 12/10/26"));
    EXPECT_EQ(offered, (std::vector<int>{1, 5, 5, 1}));
    EXPECT_EQ(target.Sheets().size(), 2u);
    EXPECT_EQ(printer.FaxHeader().Caption, "From: Ann             Received: 12/10/26");
    EXPECT_FALSE(printer.FaxFooter().Enabled);
    foundation::PrintSettings() = foundation::PrintOptions();
    foundation::LoadPrintSettings();
    EXPECT_TRUE(foundation::PrintSettings().Header) << "saved in ZN.INI";
    foundation::SetPrinterNamesForTest(std::nullopt);
}

TEST_F(OneFaxFolder, APageThatFailsToDecodeIsReportedAndTheStatusSaysNoFile)
{
    MakeChartFax(dir, "BAD.APF", {1, 2}, kPageHighResolution);
    std::vector<uint8_t> bytes = ReadFile(dir.Path("BAD.APF"));
    bytes.resize(bytes.size() - 10000);
    WriteFile(dir.Path("BAD.APF"), bytes);
    std::vector<std::string> boxes;
    platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        return 1;
    });
    TFaxViewer form(dir.Path("BAD.APF"), "");
    form.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.StatusText().toStdString(), "Page 1 of 2");
    form.NextButton->click();
    platform::SetMessageBoxHook({});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Viewer error -", 0), 0u) << boxes[0];
    EXPECT_EQ(form.StatusText().toStdString(), "No file loaded");
}

TEST_F(OneFaxFolder, AnOutgoingFaxIsViewedAsItsCoverFollowedByItsDocument)
{
    MakeChartFax(dir, "COV00001.APF", {7}, kPageHighResolution);
    MakeChartFax(dir, "FAX00001.APF", {1, 2}, kPageHighResolution);
    std::string joined;
    {
        TPreparedFax both(dir.Path("COV00001.APF"), dir.Path("FAX00001.APF"));
        ASSERT_TRUE(both.Joined());
        joined = both.FileName();
        EXPECT_EQ(joined.substr(0, home.Path().size() + 5), home.Path() + "/Temp");
        faxdoc::TApfFileHeader header;
        ASSERT_EQ(faxdoc::ReadApfHeader(joined, header), 0);
        EXPECT_EQ(header.pageCount, 3);
        TViewerWindow viewer;
        ASSERT_EQ(viewer.apwViewSetFile(joined), 0);
        EXPECT_EQ(ClosestChart(viewer.DisplayImage(), viewer.DisplayImage().rect()), 7) << "the cover comes first";
    }
    EXPECT_FALSE(FileExists(joined)) << "the joined file is removed after use";
    EXPECT_EQ(TPreparedFax("", dir.Path("FAX00001.APF")).FileName(), dir.Path("FAX00001.APF"));
    EXPECT_EQ(TPreparedFax(dir.Path("COV00001.APF"), dir.Path("GONE.APF")).FileName(), dir.Path("COV00001.APF"));
    EXPECT_EQ(TPreparedFax(dir.Path("NONE.APF"), "").FileName(), "");
}

TEST(PrePrintForm, AToPageBelowTheFromPageKeepsTheDialogOpen)
{
    EnsureApplication();
    TPrePrintForm form;
    form.FromPage->setValue(5);
    form.ToPage->setValue(2);
    int result = -1;
    QObject::connect(&form, &QDialog::finished, [&](int r) { result = r; });
    form.show();
    form.BitBtn1->click();
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(form.isVisible());
    form.ToPage->setEnabled(false);
    form.BitBtn1->click();
    EXPECT_EQ(result, QDialog::Accepted);
}

} // namespace
} // namespace zn::app
