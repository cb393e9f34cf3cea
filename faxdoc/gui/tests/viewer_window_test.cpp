// The viewer window and the viewer control on Qt's offscreen platform: opening files, paging,
// display scaling that keeps thin lines, quarter turns checked against pamflip, keys, marking with
// the mouse and scrolling on its own, copying to the clipboard (checked against pamcut), dropped
// files and the control's properties.
#include "comms/base/exceptions.h"
#include "faxdoc/apf_file.h"
#include "faxdoc/gui/fax_viewer.h"
#include "faxdoc/gui/mono_image.h"
#include "faxdoc/gui/tests/view_test_support.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QUrl>

#include <gtest/gtest.h>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;

// 1 = black, from a page of either polarity.
TRaster Black(const TMonoBitmap& bm)
{
    TRaster r = Blank(bm.width, bm.height);
    for (int y = 0; y < bm.height; ++y)
        for (int x = 0; x < bm.width; ++x)
            if (bm.Pixel(x, y) == bm.blackIsOne)
                r.Set(x, y);
    return r;
}

TRaster Black(const QImage& image) { return Black(FromImage(image)); }

void Wait(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void Mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(at), target->mapToGlobal(QPointF(at)),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &e);
}

void Key(QWidget* target, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent e(QEvent::KeyPress, key, mods);
    QCoreApplication::sendEvent(target, &e);
}

class ViewerWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override
    {
        if (!HaveProgram("pbmtog3"))
            GTEST_SKIP() << "pbmtog3 is not installed";
        viewer = std::make_unique<TViewerWindow>();
        viewer->resize(400, 300);
        viewer->show();
        viewer->OnPageChange = [this](int page) { pageChanges.push_back(page); };
        viewer->OnViewerError = [this](int code) { errors.push_back(code); };
    }

    TTempDir dir;
    std::unique_ptr<TViewerWindow> viewer;
    std::vector<int> pageChanges;
    std::vector<int> errors;
};

TEST_F(ViewerWindowTest, OpensFaxFilesAndRefusesOthers)
{
    EXPECT_EQ(viewer->apwViewSetFile(dir.Path("NONE.APF")), -2);
    WriteFile(dir.Path("TEXT.APF"), std::string("not a fax file at all, just some words to fill the header out"));
    EXPECT_EQ(viewer->apwViewSetFile(dir.Path("TEXT.APF")), -8001);
    EXPECT_EQ(viewer->apwViewGetCurPage(), 0);
    MakeChartFax(dir, "THREE.APF", {1, 2, 3}, kPageHighResolution);
    EXPECT_EQ(viewer->apwViewSetFile(dir.Path("THREE.APF")), 0);
    EXPECT_EQ(viewer->apwViewGetNumPages(), 3);
    EXPECT_EQ(viewer->apwViewGetCurPage(), 1);
    EXPECT_EQ(pageChanges, std::vector<int>{1});
    EXPECT_EQ(viewer->apwViewGetPageDim(), QRect(QPoint(0, 0), QPoint(1727, 2375)));
    EXPECT_EQ(viewer->apwViewGetPageFlags(), kPageHighResolution);
    EXPECT_EQ(viewer->DecodedPages(), 1);
    EXPECT_TRUE(Black(viewer->DisplayImage()) == ReadPbm(ChartPath(1)));
    EXPECT_EQ(viewer->apwViewSetFile(""), 0);
    EXPECT_EQ(viewer->apwViewGetNumPages(), 0);
    EXPECT_EQ(viewer->apwViewGetCurPage(), 0);
}

TEST_F(ViewerWindowTest, GoesToPagesInRangeOnly)
{
    MakeChartFax(dir, "THREE.APF", {1, 2, 3}, kPageHighResolution);
    ASSERT_EQ(viewer->apwViewSetFile(dir.Path("THREE.APF")), 0);
    EXPECT_EQ(viewer->apwViewGotoPage(0), -1002);
    EXPECT_EQ(viewer->apwViewGotoPage(4), -1002);
    EXPECT_EQ(viewer->apwViewGotoPage(3), 0);
    EXPECT_TRUE(Black(viewer->DisplayImage()) == ReadPbm(ChartPath(3)));
    EXPECT_EQ(viewer->apwViewGotoPage(3), 0) << "the current page is shown again";
    EXPECT_EQ(pageChanges, (std::vector<int>{1, 3, 3}));
    EXPECT_EQ(viewer->DecodedPages(), 1) << "only the page shown is kept";
    EXPECT_EQ(viewer->apwViewSetLoadWholeFax(true), 0);
    EXPECT_EQ(viewer->DecodedPages(), 3);
    EXPECT_EQ(viewer->apwViewSetLoadWholeFax(false), 0);
    EXPECT_EQ(viewer->DecodedPages(), 1);
    auto other = viewer->apwViewGetBitmap(2);
    ASSERT_TRUE(other.has_value());
    EXPECT_TRUE(Black(*other) == ReadPbm(ChartPath(2)));
    EXPECT_EQ(viewer->DecodedPages(), 1) << "a page fetched for the caller is not kept";
    EXPECT_FALSE(viewer->apwViewGetBitmap(4).has_value());
}

TEST_F(ViewerWindowTest, NormalResolutionPagesAreShownTwiceAsTallOnce)
{
    MakeChartFax(dir, "NORMAL.APF", {4}, 0);
    const int rows = ReadPbm(dir.Path("half4.pbm")).height;
    ASSERT_EQ(viewer->apwViewSetFile(dir.Path("NORMAL.APF")), 0);
    EXPECT_EQ(viewer->apwViewGetPageDim().height(), 2 * rows);
    viewer->apwViewSetAutoScale(0);
    ASSERT_EQ(viewer->apwViewSetFile(dir.Path("NORMAL.APF")), 0);
    EXPECT_EQ(viewer->apwViewGetPageDim().height(), rows);
}

TEST_F(ViewerWindowTest, HalfSizeDisplayKeepsOnePixelLines)
{
    TRaster lines = Blank(1728, 1000);
    for (int x = 0; x < 1728; ++x)
        lines.Set(x, 501);
    for (int y = 0; y < 1000; ++y)
        lines.Set(901, y);
    WritePbm(dir.Path("lines.pbm"), lines);
    ASSERT_EQ(RunCommand("pbmtog3 -reversebits '" + dir.Path("lines.pbm") + "' > '" + dir.Path("l.g3") + "'"), 0);
    WriteFile(dir.Path("LINES.APF"), MakeApf({{kPageHighResolution, ReadFile(dir.Path("l.g3"))}}));
    ASSERT_EQ(viewer->apwViewSetFile(dir.Path("LINES.APF")), 0);
    viewer->apwViewSetScale({1, 2, 1, 2});
    EXPECT_EQ(viewer->DisplaySize(), QSize(864, 500));
    const TRaster shown = Black(viewer->DisplayImage());
    int fullRows = 0, fullColumns = 0;
    for (int y = 0; y < shown.height; ++y) {
        bool full = true;
        for (int x = 0; x < shown.width && full; ++x)
            full = shown.Row(y)[x >> 3] & (0x80 >> (x & 7));
        fullRows += full;
    }
    for (int x = 0; x < shown.width; ++x) {
        bool full = true;
        for (int y = 0; y < shown.height && full; ++y)
            full = shown.Row(y)[x >> 3] & (0x80 >> (x & 7));
        fullColumns += full;
    }
    EXPECT_EQ(fullRows, 1);
    EXPECT_EQ(fullColumns, 1);
    // Equal multiplier and divisor mean no scaling.
    viewer->apwViewSetScale({2, 2, 3, 3});
    EXPECT_EQ(viewer->Scale().horizMult, 1u);
    EXPECT_EQ(viewer->Scale().vertDiv, 1u);
    EXPECT_EQ(viewer->DisplaySize(), QSize(1728, 1000));
    // While updates are suspended a new scale waits for the end of the update.
    viewer->apwViewStartUpdate();
    viewer->apwViewSetScale({3, 2, 3, 2});
    EXPECT_EQ(viewer->DisplaySize(), QSize(1728, 1000));
    viewer->apwViewEndUpdate();
    EXPECT_EQ(viewer->DisplaySize(), QSize(2592, 1500));
}

struct TurnCase {
    int from, to;
    const char* pamflip; // from the unturned page to the result
};

class ViewerRotation : public ViewerWindowTest, public ::testing::WithParamInterface<TurnCase> {};

TEST_P(ViewerRotation, TurnsThePageAsPamflipDoes)
{
    if (!HaveProgram("pamflip"))
        GTEST_SKIP() << "pamflip is not installed";
    MakeChartFax(dir, "ONE.APF", {5, 6}, kPageHighResolution);
    ASSERT_EQ(viewer->apwViewSetFile(dir.Path("ONE.APF")), 0);
    ASSERT_EQ(viewer->apwViewSetRotation(GetParam().from), 0);
    ASSERT_EQ(viewer->apwViewSetRotation(GetParam().to), 0);
    ASSERT_EQ(RunCommand(std::string("pamflip ") + GetParam().pamflip + " '" + ChartPath(5) + "' > '"
                         + dir.Path("turned.pbm") + "'"),
              0);
    const TRaster expected = ReadPbm(dir.Path("turned.pbm"));
    EXPECT_EQ(viewer->apwViewGetPageDim(), QRect(QPoint(0, 0), QPoint(expected.width - 1, expected.height - 1)));
    EXPECT_TRUE(Black(*viewer->apwViewGetBitmap(1)) == expected);
    // A page decoded later is shown turned as well.
    ASSERT_EQ(RunCommand(std::string("pamflip ") + GetParam().pamflip + " '" + ChartPath(6) + "' > '"
                         + dir.Path("turned6.pbm") + "'"),
              0);
    ASSERT_EQ(viewer->apwViewGotoPage(2), 0);
    EXPECT_TRUE(Black(viewer->DisplayImage()) == ReadPbm(dir.Path("turned6.pbm")));
}

INSTANTIATE_TEST_SUITE_P(Turns, ViewerRotation,
                         ::testing::Values(TurnCase{0, 1, "-cw"}, TurnCase{1, 3, "-ccw"}, TurnCase{0, 2, "-r180"},
                                           TurnCase{2, 3, "-ccw"}),
                         [](const ::testing::TestParamInfo<TurnCase>& info) { return "From" + std::to_string(info.param.from) + "To" + std::to_string(info.param.to); });

TEST_F(ViewerWindowTest, KeysScrollAndTurnPages)
{
    MakeChartFax(dir, "THREE.APF", {1, 2, 3}, kPageHighResolution);
    ASSERT_EQ(viewer->apwViewSetFile(dir.Path("THREE.APF")), 0);
    QWidget* w = viewer.get();
    Key(w, Qt::Key_Down);
    EXPECT_EQ(viewer->VertPos(), 8);
    Key(w, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(viewer->VertPos(), 88);
    Key(w, Qt::Key_Right);
    EXPECT_EQ(viewer->HorizPos(), 8);
    Key(w, Qt::Key_End);
    EXPECT_EQ(viewer->HorizPos(), viewer->MaxHorizPos());
    EXPECT_EQ(viewer->MaxHorizPos(), 1728 - viewer->viewport()->width());
    Key(w, Qt::Key_Home);
    EXPECT_EQ(viewer->HorizPos(), 0);
    Key(w, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(viewer->VertPos(), viewer->MaxVertPos());
    Key(w, Qt::Key_PageDown);
    EXPECT_EQ(viewer->apwViewGetCurPage(), 2);
    EXPECT_EQ(viewer->VertPos(), 0) << "a new page starts at the top";
    Key(w, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(viewer->apwViewGetCurPage(), 3);
    Key(w, Qt::Key_PageDown);
    EXPECT_EQ(viewer->apwViewGetCurPage(), 3);
    Key(w, Qt::Key_Down);
    Key(w, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(viewer->VertPos(), 0) << "last page when already there scrolls to the top";
    Key(w, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(viewer->apwViewGetCurPage(), 1);
    Key(w, Qt::Key_PageUp);
    EXPECT_EQ(viewer->apwViewGetCurPage(), 1);
    // A page narrower than the window does not scroll sideways.
    viewer->apwViewSetScale({1, 8, 1, 8});
    Key(w, Qt::Key_Right);
    EXPECT_EQ(viewer->HorizPos(), 0);
    EXPECT_EQ(viewer->MaxHorizPos(), 0);
}

TEST_F(ViewerWindowTest, MarkingByMouseScrollsOnItsOwnAndCopiesThePart)
{
    if (!HaveProgram("pamcut"))
        GTEST_SKIP() << "pamcut is not installed";
    MakeChartFax(dir, "ONE.APF", {1}, kPageHighResolution);
    ASSERT_EQ(viewer->apwViewSetFile(dir.Path("ONE.APF")), 0);
    EXPECT_EQ(viewer->apwViewCopy(), -8051);
    QWidget* port = viewer->viewport();
    Key(viewer.get(), Qt::Key_Down, Qt::ControlModifier); // scrolled down by 80
    const QImage before = port->grab().toImage();
    Mouse(port, QEvent::MouseButtonPress, {100, 50}, Qt::LeftButton);
    Mouse(port, QEvent::MouseMove, {300, 250}, Qt::LeftButton);
    Mouse(port, QEvent::MouseButtonRelease, {300, 250}, Qt::NoButton);
    ASSERT_TRUE(viewer->HasMark());
    // The marked part is shown inverted, the rest as it was.
    const QImage after = port->grab().toImage();
    int inverted = 0, same = 0, inside = 0, outside = 0;
    for (int y = 0; y < before.height(); y += 3)
        for (int x = 0; x < before.width(); x += 3) {
            const bool in = x >= 100 && x <= 300 && y >= 50 && y <= 250;
            const bool flipped = qGray(before.pixel(x, y)) != qGray(after.pixel(x, y));
            (in ? inside : outside) += 1;
            inverted += in && flipped;
            same += !in && !flipped;
        }
    EXPECT_EQ(inverted, inside);
    EXPECT_EQ(same, outside);
    TViewerMark m = viewer->Mark();
    EXPECT_EQ((std::vector<int>{m.left, m.top, m.right, m.bottom}), (std::vector<int>{100, 130, 300, 330}));

    ASSERT_EQ(viewer->apwViewCopy(), 0);
    const QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(201, 201));
    ASSERT_EQ(RunCommand("pamcut -left 100 -top 130 -width 201 -height 201 '" + ChartPath(1) + "' > '"
                         + dir.Path("cut.pbm") + "'"),
              0);
    EXPECT_TRUE(Black(copied) == ReadPbm(dir.Path("cut.pbm")));

    // Dragged out past the right edge: one step at once (16 when more than 20 pixels out), then one
    // every 50 ms; back inside, the scrolling stops.
    const int width = port->width();
    Mouse(port, QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton);
    EXPECT_FALSE(viewer->HasMark() && viewer->Mark().right == 300) << "a new mark replaces the old";
    Mouse(port, QEvent::MouseMove, {width + 5, 100}, Qt::LeftButton);
    EXPECT_EQ(viewer->HorizPos(), 8);
    Wait(130);
    const int afterNear = viewer->HorizPos();
    EXPECT_GE(afterNear, 16);
    EXPECT_EQ(afterNear % 8, 0);
    Mouse(port, QEvent::MouseMove, {width + 30, 100}, Qt::LeftButton);
    Wait(130);
    const int afterFar = viewer->HorizPos();
    EXPECT_GE(afterFar - afterNear, 32) << "16 a step when far out";
    Mouse(port, QEvent::MouseMove, {200, 100}, Qt::LeftButton);
    const int stopped = viewer->HorizPos();
    Wait(120);
    EXPECT_EQ(viewer->HorizPos(), stopped);
    Mouse(port, QEvent::MouseButtonRelease, {200, 100}, Qt::NoButton);
    m = viewer->Mark();
    EXPECT_EQ(m.left, 50);
    EXPECT_EQ(m.right, 200 + stopped);

    // A click without a drag leaves no mark; a mark of the whole page copies it all.
    Mouse(port, QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton);
    Mouse(port, QEvent::MouseButtonRelease, {20, 20}, Qt::NoButton);
    EXPECT_FALSE(viewer->HasMark());
    viewer->apwViewSetScale({1, 2, 1, 2});
    ASSERT_EQ(viewer->apwViewSelectAll(), 0);
    ASSERT_EQ(viewer->apwViewCopy(), 0);
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(864, 1188));
    EXPECT_TRUE(Black(QGuiApplication::clipboard()->image()) == Black(viewer->DisplayImage()));

    viewer->apwViewSetFile("");
    EXPECT_EQ(viewer->apwViewCopy(), -8050);
}

TEST_F(ViewerWindowTest, APageThatFailsToDecodeIsReportedAndLeavesTheViewerEmpty)
{
    MakeChartFax(dir, "BAD.APF", {1, 2}, kPageHighResolution);
    std::vector<uint8_t> bytes = ReadFile(dir.Path("BAD.APF"));
    bytes.resize(bytes.size() - 10000);
    WriteFile(dir.Path("BAD.APF"), bytes);
    ASSERT_EQ(viewer->apwViewSetFile(dir.Path("BAD.APF")), 0);
    EXPECT_EQ(viewer->apwViewGotoPage(2), 0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_LT(errors[0], 0);
    EXPECT_EQ(viewer->apwViewGetNumPages(), 0);
    EXPECT_TRUE(viewer->DisplayImage().isNull());
}

// ---- The control ------------------------------------------------------------------------------

class FaxViewerControl : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override
    {
        if (!HaveProgram("pbmtog3"))
            GTEST_SKIP() << "pbmtog3 is not installed";
        control = std::make_unique<TFxFaxViewer>();
        control->resize(500, 400);
        control->show();
        control->OnPageChange = [this](TFxCustomFaxViewer& v) { pages.push_back(v.CurrentPage()); };
    }
    TTempDir dir;
    std::unique_ptr<TFxFaxViewer> control;
    std::vector<int> pages;
};

TEST_F(FaxViewerControl, FileNameErrorsRaiseTheLibrarysExceptions)
{
    try {
        control->SetFileName(dir.Path("NONE.APF"));
        FAIL() << "no exception";
    } catch (const comms::EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
    }
    WriteFile(dir.Path("TEXT.APF"), std::string(100, 'x'));
    try {
        control->SetFileName(dir.Path("TEXT.APF"));
        FAIL() << "no exception";
    } catch (const comms::EFXException& e) {
        EXPECT_EQ(e.ErrorCode(), -8001);
    }
    MakeChartFax(dir, "TWO.APF", {1, 2}, kPageHighResolution);
    control->SetFileName(dir.Path("TWO.APF"));
    EXPECT_EQ(pages, std::vector<int>{1});
    control->SetFileName(dir.Path("TWO.APF"));
    EXPECT_EQ(pages, std::vector<int>{1}) << "the same name again does nothing";
    EXPECT_EQ(control->NumPages(), 2);
    EXPECT_EQ(control->PageWidth(), 1728);
    EXPECT_THROW(control->SetCurrentPage(3), comms::EFXException);
}

TEST_F(FaxViewerControl, PagingStaysInsideTheFile)
{
    MakeChartFax(dir, "TWO.APF", {1, 2}, kPageHighResolution);
    control->SetFileName(dir.Path("TWO.APF"));
    control->PrevPage();
    control->NextPage();
    control->NextPage();
    control->LastPage();
    control->FirstPage();
    EXPECT_EQ(pages, (std::vector<int>{1, 2, 1}));
}

TEST_F(FaxViewerControl, ScalingPropertiesReachTheWindowOnlyWhileScalingIsOn)
{
    MakeChartFax(dir, "ONE.APF", {3}, kPageHighResolution);
    control->SetFileName(dir.Path("ONE.APF"));
    control->SetHorizMult(50);
    control->SetHorizDiv(100);
    EXPECT_EQ(control->HorizMult(), 50u);
    EXPECT_EQ(control->Window().DisplaySize(), QSize(1728, 2376));
    control->SetVertMult(50);
    control->SetVertDiv(100);
    control->SetScaling(true);
    EXPECT_EQ(control->Window().DisplaySize(), QSize(864, 1188));
    control->SetHorizDiv(0);
    EXPECT_EQ(control->HorizDiv(), 100u) << "0 is ignored";
    control->SetRotation(1);
    EXPECT_EQ(control->Rotation(), 1);
    EXPECT_EQ(control->Window().DisplaySize(), QSize(1188, 864));
    // A new file starts unturned and unscaled.
    MakeChartFax(dir, "OTHER.APF", {4}, kPageHighResolution);
    control->SetFileName(dir.Path("OTHER.APF"));
    EXPECT_EQ(control->Rotation(), 0);
    EXPECT_EQ(control->HorizMult(), 1u);
    EXPECT_EQ(control->Window().DisplaySize(), QSize(1728, 2376));
}

TEST_F(FaxViewerControl, ADroppedFaxFileIsShownAndReported)
{
    MakeChartFax(dir, "DROP.APF", {2, 3}, kPageHighResolution);
    std::string dropped;
    control->OnDropFile = [&](TFxCustomFaxViewer&, const std::string& name) { dropped = name; };
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.Path("DROP.APF")))});
    QWidget* port = control->Window().viewport();
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(port, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(port, &drop);
    EXPECT_EQ(dropped, dir.Path("DROP.APF"));
    EXPECT_EQ(control->FileName(), dir.Path("DROP.APF"));
    EXPECT_EQ(control->NumPages(), 2);
    EXPECT_EQ(pages, std::vector<int>{1});
}

} // namespace
} // namespace zn::faxdoc
