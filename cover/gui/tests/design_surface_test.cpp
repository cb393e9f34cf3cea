// The design surface offscreen: tools, selection, clipboard commands and zoom, driven with mouse
// and key events as a user gives them, on a test clock.
#include "cover/gui/design_surface.h"
#include "cover/template_files.h"
#include "faxdoc/tests/test_support.h"
#include "platform/folders.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <cstdlib>

namespace zn::cover::gui {
namespace {

using faxdoc::test::ReadFile;
using faxdoc::test::TTempDir;

// The item dialogs answer as a user would: the text "Hello", the first symbol, one line.
class TAnsweringEditor : public TItemEditor {
public:
    std::optional<TFontSpec> EditFont(const TFontSpec& font, bool) override
    {
        TFontSpec bigger = font;
        bigger.SetSize(20);
        return bigger;
    }
    std::optional<std::string> EditLabelText(const std::string&) override { return "Hello"; }
    std::optional<TSymbolChoice> SelectSymbol(uint8_t, const TFontSpec& font) override
    {
        return TSymbolChoice{65, font};
    }
    std::optional<std::vector<std::string>> EditLines(const std::vector<std::string>&, const TFontSpec&) override
    {
        return std::vector<std::string>{"one line"};
    }
    std::optional<TImageChoice> BrowseImage(const std::string&) override { return std::nullopt; }
    void ShowError(const std::string&) override {}
};

struct SurfaceFixture : ::testing::Test {
    TTempDir home;
    int64_t now = 5000;
    TAnsweringEditor editor;
    std::unique_ptr<TFaxCoverPanelX> surface;

    void SetUp() override
    {
        setenv("ZN_HOME", home.Path("").c_str(), 1);
        surface = std::make_unique<TFaxCoverPanelX>(nullptr, [this] { return now; });
        surface->SetEditor(&editor);
        surface->show();
    }
    void TearDown() override
    {
        surface.reset();
        unsetenv("ZN_HOME");
    }

    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QMouseEvent event(type, QPointF(at), QPointF(surface->mapToGlobal(at)), button, buttons, modifiers);
        QApplication::sendEvent(surface.get(), &event);
    }
    // A drag of the left button, slow enough to move things.
    void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, modifiers);
        now += 200;
        Mouse(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton, modifiers);
        Mouse(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, modifiers);
        Mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, modifiers);
        now += 200;
    }
    void Click(QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { Drag(at, at, modifiers); }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(surface.get(), &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers);
        QApplication::sendEvent(surface.get(), &release);
    }
    TFaxGraphicControl* Draw(TLPanelState tool, QRect r)
    {
        surface->SetPanelState(tool);
        Drag(r.topLeft(), r.topLeft() + QPoint(r.width(), r.height()));
        surface->SetPanelState(psPointing);
        return surface->Items().back().get();
    }
    QAction* SurfaceEntry(const QString& caption)
    {
        for (QAction* a : surface->SurfacePopup()->actions())
            if (a->text() == caption)
                return a;
        return nullptr;
    }
};

struct TToolCase {
    TLPanelState tool;
    const char* className;
    int width, height; // -1: grows to its text
};
class SurfaceTools : public SurfaceFixture, public ::testing::WithParamInterface<TToolCase> {};

TEST_P(SurfaceTools, AClickMakesTheToolsItemAtThePoint)
{
    surface->SetPanelState(GetParam().tool);
    Click(QPoint(100, 200));
    ASSERT_EQ(surface->Items().size(), 1u);
    const TFaxGraphicControl& item = *surface->Items().front();
    EXPECT_STREQ(item.ClassName(), GetParam().className);
    EXPECT_EQ(item.Name, "Special1");
    EXPECT_EQ(item.Left, 100);
    EXPECT_EQ(item.Top, 200);
    if (GetParam().width == 0) { // a symbol fits its character
        EXPECT_GT(item.Width, 0);
    } else if (GetParam().width > 0) {
        EXPECT_EQ(item.Width, GetParam().width);
        EXPECT_EQ(item.Height, GetParam().height);
    } else {
        EXPECT_GE(item.Width, 50);
        EXPECT_GE(item.Height, 15);
    }
}

INSTANTIATE_TEST_SUITE_P(CoverSurface, SurfaceTools,
                         ::testing::Values(TToolCase{psRectangle, "TFaxCoverShapes", 50, 15},
                                           TToolCase{psEllipse, "TFaxCoverShapes", 50, 15},
                                           TToolCase{psRoundRectangle, "TFaxCoverShapes", 50, 15},
                                           TToolCase{psLine, "TFaxCoverLine", 50, 15},
                                           TToolCase{psMessage, "TFaxCoverMessage", 50, 15},
                                           TToolCase{psLabel, "TFaxCoverLabel", -1, -1},
                                           TToolCase{psSymbolLabel, "TFaxCoverSymbol", 0, 0},
                                           TToolCase{psField, "TFaxCoverField", -1, -1},
                                           TToolCase{psImportance, "TFaxCoverImportance", -1, -1},
                                           TToolCase{psMultiLineLabel, "TFaxMultiLineLabel", -1, -1}),
                         ([](const ::testing::TestParamInfo<TToolCase>& info) {
                             const char* tools[] = {"Pointing", "Label",  "SymbolLabel", "Rectangle", "Ellipse",
                                                    "RoundRectangle", "Line", "Message", "Importance", "Field",
                                                    "Image", "MultiLineLabel"};
                             return std::string(tools[info.param.tool]);
                         }));

TEST_F(SurfaceFixture, ToolItemsCarryWhatTheDialogsAnswered)
{
    auto* label = dynamic_cast<TFaxCoverLabel*>(Draw(psLabel, QRect(10, 10, 100, 30)));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->Caption, "Hello");
    auto* line = dynamic_cast<TFaxCoverLine*>(Draw(psLine, QRect(10, 100, 5, 200)));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->LineStyle, stVertical);
    auto* lines = dynamic_cast<TFaxMultiLineLabel*>(Draw(psMultiLineLabel, QRect(300, 100, 200, 60)));
    ASSERT_NE(lines, nullptr);
    EXPECT_TRUE(lines->WordWrap());
    EXPECT_EQ(surface->PanelState(), psPointing);
    // No picture chosen: the image item goes again.
    surface->SetPanelState(psImage);
    Click(QPoint(400, 400));
    QApplication::processEvents();
    EXPECT_EQ(surface->Items().size(), 3u);
}

TEST_F(SurfaceFixture, ADragFromRightToLeftMakesTheItemOverTheNormalisedRectangle)
{
    surface->SetPanelState(psRectangle);
    Drag(QPoint(300, 250), QPoint(200, 150));
    const TFaxGraphicControl& box = *surface->Items().front();
    EXPECT_EQ(QRect(box.Left, box.Top, box.Width, box.Height), QRect(200, 150, 100, 100));
}

TEST_F(SurfaceFixture, ItemsAreSelectedByClickShiftClickAndBand)
{
    TFaxGraphicControl* a = Draw(psRectangle, QRect(100, 100, 60, 40));
    TFaxGraphicControl* b = Draw(psRectangle, QRect(300, 100, 60, 40));
    Click(QPoint(120, 120));
    EXPECT_EQ(surface->Handle().Selection(), (std::vector<TFaxGraphicControl*>{a}));
    Click(QPoint(320, 120), Qt::ShiftModifier);
    EXPECT_EQ(surface->Handle().Count(), 2);
    Click(QPoint(600, 600)); // the empty page: a band around nothing
    EXPECT_EQ(surface->Handle().Count(), 0);
    // A band touching both selects both; with Shift over a selected and an unselected item, only the
    // unselected one stays.
    Drag(QPoint(90, 90), QPoint(400, 150));
    EXPECT_EQ(surface->Handle().Count(), 2);
    Click(QPoint(600, 600));
    Click(QPoint(320, 120)); // b alone
    ASSERT_EQ(surface->Handle().Selection(), (std::vector<TFaxGraphicControl*>{b}));
    surface->Handle().ClearSelection();
    surface->Handle().Select(a);
    Drag(QPoint(90, 300), QPoint(400, 130), Qt::ShiftModifier);
    EXPECT_EQ(surface->Handle().Selection(), (std::vector<TFaxGraphicControl*>{b}));
}

TEST_F(SurfaceFixture, CopyPasteCutAndDeleteWithTheKeys)
{
    TFaxGraphicControl* a = Draw(psRectangle, QRect(100, 100, 60, 40));
    EXPECT_FALSE(platform::FileExistsCI(surface->ClipboardFile()));
    Click(QPoint(120, 120));
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(platform::FileExistsCI(surface->ClipboardFile()));
    Key(Qt::Key_V, Qt::ControlModifier);
    Key(Qt::Key_V, Qt::ControlModifier); // the same key arriving twice within a second pastes once
    ASSERT_EQ(surface->Items().size(), 2u);
    const TFaxGraphicControl& pasted = *surface->Items().back();
    EXPECT_EQ(QRect(pasted.Left, pasted.Top, pasted.Width, pasted.Height), QRect(115, 115, 60, 40));
    EXPECT_EQ(surface->Handle().Selection(), (std::vector<TFaxGraphicControl*>{a})); // pasted items are not selected
    now += 1001;
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(surface->Items().size(), 3u);
    // Cut takes the selection away; a paste brings it back.
    Key(Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(surface->Items().size(), 2u);
    EXPECT_EQ(surface->Handle().Count(), 0);
    now += 1001;
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(surface->Items().size(), 3u);
    surface->SelectAll();
    Key(Qt::Key_Delete);
    EXPECT_TRUE(surface->Items().empty());
    Key(Qt::Key_Delete); // a second delete finds nothing
}

// A pasted multi-line text shows its lines, as the item it was copied from did.
TEST_F(SurfaceFixture, APastedMultiLineTextShowsItsLines)
{
    TFaxGraphicControl* text = Draw(psMultiLineLabel, QRect(100, 100, 200, 60));
    const QRect was(text->Left, text->Top, text->Width, text->Height);
    Click(QPoint(600, 600)); // nothing selected: the page alone
    const QImage shown = surface->Snapshot().copy(was);
    Click(was.center());
    ASSERT_EQ(surface->Handle().Count(), 1);
    Key(Qt::Key_C, Qt::ControlModifier);
    Key(Qt::Key_Delete);
    ASSERT_TRUE(surface->Items().empty());
    now += 1001;
    Key(Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(surface->Items().size(), 1u);
    EXPECT_EQ(surface->Snapshot().copy(was.translated(15, 15)), shown);
}

TEST_F(SurfaceFixture, TheContextMenuEnablesWhatApplies)
{
    Draw(psRectangle, QRect(100, 100, 60, 40));
    Mouse(QEvent::MouseButtonPress, QPoint(600, 600), Qt::RightButton, Qt::RightButton);
    Mouse(QEvent::MouseButtonRelease, QPoint(600, 600), Qt::RightButton, Qt::NoButton);
    ASSERT_EQ(surface->ShownMenu(), surface->SurfacePopup());
    EXPECT_FALSE(SurfaceEntry("Paste")->isEnabled());
    EXPECT_FALSE(SurfaceEntry("Cut")->isEnabled());
    EXPECT_TRUE(SurfaceEntry("Select All")->isEnabled());
    EXPECT_TRUE(SurfaceEntry("Lock All")->isEnabled());
    surface->SurfacePopup()->hide();
    SurfaceEntry("Select All")->trigger();
    Key(Qt::Key_C, Qt::ControlModifier);
    Mouse(QEvent::MouseButtonPress, QPoint(600, 600), Qt::RightButton, Qt::RightButton);
    Mouse(QEvent::MouseButtonRelease, QPoint(600, 600), Qt::RightButton, Qt::NoButton);
    EXPECT_TRUE(SurfaceEntry("Paste")->isEnabled());
    surface->SurfacePopup()->hide();
    // A right click on the one selected item shows the item's own menu.
    Click(QPoint(120, 120));
    Mouse(QEvent::MouseButtonPress, QPoint(120, 120), Qt::RightButton, Qt::RightButton);
    Mouse(QEvent::MouseButtonRelease, QPoint(120, 120), Qt::RightButton, Qt::NoButton);
    ASSERT_NE(surface->ShownMenu(), surface->SurfacePopup());
    EXPECT_EQ(surface->ShownMenu()->actions().front()->text(), "Bring To Front");
    surface->ShownMenu()->hide();
}

TEST_F(SurfaceFixture, ADoubleClickShowsTheItemsMenuWhoseCloneTakesItsPlaceInTheSelection)
{
    TFaxGraphicControl* a = Draw(psRectangle, QRect(100, 100, 60, 40));
    Click(QPoint(120, 120));
    Mouse(QEvent::MouseButtonDblClick, QPoint(120, 120), Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, QPoint(120, 120), Qt::LeftButton, Qt::NoButton);
    ASSERT_NE(surface->ShownMenu(), nullptr);
    ASSERT_NE(surface->ShownMenu(), surface->SurfacePopup());
    QAction* clone = nullptr;
    for (QAction* action : surface->ShownMenu()->actions())
        if (action->text() == "Clone")
            clone = action;
    ASSERT_NE(clone, nullptr);
    surface->ShownMenu()->hide();
    clone->trigger();
    ASSERT_EQ(surface->Items().size(), 2u);
    const TFaxGraphicControl& copy = *surface->Items().back();
    EXPECT_EQ(QRect(copy.Left, copy.Top, copy.Width, copy.Height), QRect(100, 125, 60, 40));
    EXPECT_NE(copy.Name, a->Name);
    EXPECT_EQ(surface->Handle().Selection(), (std::vector<TFaxGraphicControl*>{surface->Items().back().get()}));
}

TEST_F(SurfaceFixture, AlignLockAndFontCommands)
{
    TFaxGraphicControl* a = Draw(psRectangle, QRect(100, 100, 60, 40));
    TFaxGraphicControl* b = Draw(psRectangle, QRect(300, 180, 80, 30));
    auto* c = dynamic_cast<TFaxCoverLabel*>(Draw(psLabel, QRect(200, 300, 80, 30)));
    surface->SelectAll();
    SurfaceEntry("Align Left")->trigger();
    EXPECT_EQ(b->Left, 100);
    SurfaceEntry("Align Bottoms")->trigger();
    EXPECT_EQ(a->Top + a->Height, c->Top + c->Height);
    SurfaceEntry("Font")->trigger();
    EXPECT_EQ(c->Font.Size(), 20);
    SurfaceEntry("Lock All")->trigger();
    EXPECT_TRUE(a->Locked && b->Locked && c->Locked);
    const int left = a->Left;
    surface->Handle().ClearSelection();
    Click(QPoint(a->Left + 10, a->Top + 10));
    Drag(QPoint(a->Left + 10, a->Top + 10), QPoint(a->Left + 60, a->Top + 10));
    EXPECT_EQ(a->Left, left); // locked items stay
}

TEST_F(SurfaceFixture, DraggingAtAZoomMovesTheModelByThe100PercentDistance)
{
    TFaxGraphicControl* a = Draw(psRectangle, QRect(100, 100, 60, 40));
    surface->SetSurfaceZoom(1.5f);
    EXPECT_EQ(surface->size(), QSize(1152, 1440));
    Click(QPoint(200, 200)); // (133, 133) at 100%: on the item
    ASSERT_EQ(surface->Handle().Count(), 1);
    Drag(QPoint(200, 200), QPoint(260, 230));
    EXPECT_EQ(QRect(a->Left, a->Top, a->Width, a->Height), QRect(140, 120, 60, 40));
    // A quick click moves nothing.
    Mouse(QEvent::MouseButtonPress, QPoint(260, 230), Qt::LeftButton, Qt::LeftButton);
    now += 20;
    Mouse(QEvent::MouseMove, QPoint(300, 300), Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, QPoint(300, 300), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(a->Left, 140);
}

TEST_F(SurfaceFixture, SnapToGridMovesInStepsOfTheGrid)
{
    TFaxGraphicControl* a = Draw(psRectangle, QRect(101, 101, 60, 40));
    surface->SetSnapToGrid(true);
    Click(QPoint(120, 120));
    Drag(QPoint(120, 120), QPoint(131, 126));
    EXPECT_EQ((a->Left - 2) % 4, 0);
    EXPECT_EQ((a->Top - 2) % 4, 0);
    surface->SetSnapToGrid(false);
    const int left = a->Left;
    Drag(QPoint(130, 130), QPoint(133, 130));
    EXPECT_EQ(a->Left, left + 3);
}

TEST_F(SurfaceFixture, ZoomingTwentyTimesKeepsTheModelAndTheRenderFile)
{
    Draw(psRectangle, QRect(101, 57, 63, 41));
    Draw(psLine, QRect(333, 444, 7, 123));
    const std::vector<uint8_t> before = RenderFileBytes(surface->ItemList());
    float zoom = 1.0f;
    for (int i = 0; i < 20; ++i)
        surface->SetSurfaceZoom(zoom += (i % 2 ? -0.1f : 0.1f) * 3);
    surface->SetSurfaceZoom(1.1f);
    EXPECT_EQ(surface->size(), QSize(845, 1056));
    surface->SetSurfaceZoom(1.0f);
    EXPECT_EQ(surface->size(), QSize(768, 960));
    surface->WriteRenderFile(home.Path("out.fct"));
    EXPECT_EQ(ReadFile(home.Path("out.fct")), before);
}

TEST_F(SurfaceFixture, PurgeDropsItemsOffThePage)
{
    Draw(psRectangle, QRect(100, 100, 60, 40));
    TFaxGraphicControl* low = Draw(psRectangle, QRect(100, 600, 60, 40));
    low->SetBounds(100, 960 - 5, 60, 40);
    surface->PurgeItems();
    QApplication::processEvents();
    EXPECT_EQ(surface->Items().size(), 1u);
}

TEST_F(SurfaceFixture, ArrowKeysMoveTheSelectionOnRelease)
{
    TFaxGraphicControl* a = Draw(psRectangle, QRect(100, 100, 60, 40));
    Click(QPoint(120, 120));
    Key(Qt::Key_Right);
    Key(Qt::Key_Down);
    EXPECT_EQ(QPoint(a->Left, a->Top), QPoint(101, 101));
}

} // namespace
} // namespace zn::cover::gui
