#include "foundation/form_placement.h"

#include "foundation/program_folders.h"
#include "platform/ini_file.h"
#include "test_support.h"

#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

namespace zn::foundation {

// Forms named like the program's own, so that their class names select the rules under test.
class TMainScreen : public QWidget {
    Q_OBJECT
};

class TViewerForm : public QWidget {
    Q_OBJECT
};

namespace {

using test::TempHome;

const ScreenMetrics kScreen{1024, 768, 96};

class FormPlacementTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureApplication(); }
    void TearDown() override { SetMainForm(nullptr); }
    platform::IniFile Ini() const { return platform::IniFile(GetIniFileName()); }
    void Store(const std::string& section, int l, int t, int r, int b)
    {
        platform::IniFile ini = Ini();
        ini.WriteInteger(section, "Left", l);
        ini.WriteInteger(section, "Top", t);
        ini.WriteInteger(section, "Right", r);
        ini.WriteInteger(section, "Bottom", b);
    }
    TempHome home_;
};

TEST_F(FormPlacementTest, SectionNameCarriesPixelsPerInchAbove96)
{
    EXPECT_EQ(PlacementSectionName("TMainScreen", 96), "TMainScreen_Placement");
    EXPECT_EQ(PlacementSectionName("TMainScreen", 72), "TMainScreen_Placement");
    EXPECT_EQ(PlacementSectionName("TMainScreen", 120), "TMainScreen_Placement120");
}

struct FitCase {
    PlacementRect rect;
    bool fits;
};

class PlacementFitTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(PlacementFitTest, AcceptsOnlyRectanglesOnTheScreen)
{
    const PlacementRect& r = GetParam().rect;
    EXPECT_EQ(PlacementFitsScreen(r, kScreen), GetParam().fits)
        << r.left << "," << r.top << "," << r.right << "," << r.bottom;
}

INSTANTIATE_TEST_SUITE_P(Rects, PlacementFitTest,
                         ::testing::Values(FitCase{{10, 10, 410, 310}, true}, FitCase{{0, 0, 1024, 768}, true},
                                           FitCase{{10, 10, 100, 310}, false},   // 90 wide
                                           FitCase{{10, 10, 410, 109}, false},   // 99 high
                                           FitCase{{10, 10, 110, 110}, true},    // 100 x 100
                                           FitCase{{900, 10, 1100, 310}, false}, // beyond the right edge
                                           FitCase{{-5, 10, 395, 310}, false},   // left of the screen
                                           FitCase{{10, 600, 410, 900}, false},  // below the screen
                                           FitCase{{410, 10, 10, 310}, false}),
                         [](const ::testing::TestParamInfo<FitCase>& info) {
                             const PlacementRect& r = info.param.rect;
                             const auto n = [](int v) { return (v < 0 ? "Minus" : "") + std::to_string(v < 0 ? -v : v); };
                             return "Left" + n(r.left) + "_Top" + n(r.top) + "_Right" + n(r.right) + "_Bottom" + n(r.bottom);
                         });

TEST_F(FormPlacementTest, StoredRectangleIsApplied)
{
    TViewerForm form;
    Store("TViewerForm_Placement", 100, 50, 600, 450);
    LoadFormPlacement(form, kScreen);
    EXPECT_EQ(form.geometry(), QRect(100, 50, 500, 400));
}

TEST_F(FormPlacementTest, RejectedOrMissingRectangleCentresTheForm)
{
    TViewerForm form;
    form.resize(400, 300);
    Store("TViewerForm_Placement", 10, 10, 100, 310); // 90 wide
    LoadFormPlacement(form, kScreen);
    EXPECT_EQ(form.geometry(), QRect(312, 234, 400, 300));

    Ini().EraseSection("TViewerForm_Placement");
    form.move(0, 0);
    LoadFormPlacement(form, kScreen);
    EXPECT_EQ(form.geometry(), QRect(312, 234, 400, 300));
}

TEST_F(FormPlacementTest, StoredMaximizedStateMaximizes)
{
    TViewerForm form;
    Ini().WriteBool("TViewerForm_Placement", "Maximized", true);
    LoadFormPlacement(form, kScreen);
    EXPECT_TRUE(form.windowState() & Qt::WindowMaximized);
}

TEST_F(FormPlacementTest, PlacementsAtHigherResolutionAreKeptApart)
{
    TMainScreen form;
    form.setGeometry(20, 30, 500, 400);
    SaveFormPlacement(form, kScreen);
    form.setGeometry(40, 60, 300, 200);
    SaveFormPlacement(form, ScreenMetrics{1024, 768, 120});
    const platform::IniFile ini = Ini();
    EXPECT_EQ(ini.ReadInteger("TMainScreen_Placement", "Right", 0), 520);
    EXPECT_EQ(ini.ReadInteger("TMainScreen_Placement", "Bottom", 0), 430);
    EXPECT_FALSE(ini.ReadBool("TMainScreen_Placement", "Maximized", true));
    EXPECT_EQ(ini.ReadInteger("TMainScreen_Placement120", "Left", 0), 40);

    form.setGeometry(0, 0, 200, 200);
    LoadFormPlacement(form, kScreen);
    EXPECT_EQ(form.geometry(), QRect(20, 30, 500, 400));
    LoadFormPlacement(form, ScreenMetrics{1024, 768, 120});
    EXPECT_EQ(form.geometry(), QRect(40, 60, 300, 200));
}

TEST_F(FormPlacementTest, MainScreenIsCentredOnTheScreenEvenWithAMainForm)
{
    TViewerForm mainForm;
    mainForm.setGeometry(0, 0, 300, 300);
    SetMainForm(&mainForm);
    TMainScreen form;
    form.resize(401, 301);
    CenterForm(form, kScreen);
    EXPECT_EQ(form.pos(), QPoint(311, 233));
}

TEST_F(FormPlacementTest, OtherFormsAreCentredOnTheMainForm)
{
    TMainScreen mainForm;
    mainForm.setGeometry(100, 100, 600, 400);
    SetMainForm(&mainForm);
    TViewerForm form;
    form.resize(200, 101);
    CenterForm(form, kScreen);
    EXPECT_EQ(form.pos(), QPoint(300, 249)); // 100 + (400 - 101) div 2
}

TEST_F(FormPlacementTest, AFormSizedByItsLayoutIsCentredBySizeItWillShowWith)
{
    TMainScreen mainForm;
    mainForm.setGeometry(100, 100, 900, 700);
    SetMainForm(&mainForm);
    TViewerForm form;
    auto* layout = new QVBoxLayout(&form);
    auto* big = new QWidget;
    big->setMinimumSize(700, 520);
    layout->addWidget(big);
    CenterForm(form, kScreen);
    const QSize shown = form.size();
    EXPECT_GE(shown.width(), 700);
    EXPECT_GE(shown.height(), 520);
    EXPECT_EQ(form.pos(), QPoint(100 + (900 - shown.width()) / 2, 100 + (700 - shown.height()) / 2));
    form.show();
    EXPECT_EQ(form.size(), shown);
}

TEST_F(FormPlacementTest, MaximizeButtonBringsTheSystemMenu)
{
    TViewerForm form;
    form.setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowMaximizeButtonHint);
    CenterForm(form, kScreen);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowSystemMenuHint);
}

} // namespace
} // namespace zn::foundation

#include "form_placement_test.moc"
