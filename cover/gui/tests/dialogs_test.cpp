// The cover dialogs offscreen, driven by their component names.
#include "cover/gui/cover_dialogs.h"
#include "cover/picture.h"
#include "faxdoc/tests/test_support.h"
#include "platform/message_box.h"
#include "platform/window_title.h"
#include "cover/gui/template_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

namespace zn::cover::gui {
namespace {

using faxdoc::test::TTempDir;
using faxdoc::test::WriteFile;

TEST(CoverDialogs, LabelTextDialogHasItsTextsAndEditField)
{
    TFaxGetLabelText dialog;
    EXPECT_EQ(dialog.windowTitle(), "Text");
    EXPECT_NE(dialog.findChild<QLineEdit*>("LabelText"), nullptr);
    QStringList buttons;
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        buttons << b->text();
    EXPECT_EQ(buttons, (QStringList{"Ok", "Cancel", "Help"}));
}

struct TColumnsCase {
    int points, columns;
};
class SymbolColumns : public ::testing::TestWithParam<TColumnsCase> {};
TEST_P(SymbolColumns, FollowTheFontSize)
{
    EXPECT_EQ(TFaxGetSymbol::ColumnsForSize(GetParam().points), GetParam().columns);
}
INSTANTIATE_TEST_SUITE_P(CoverDialogs, SymbolColumns,
                         ::testing::Values(TColumnsCase{5, 1}, TColumnsCase{6, 14}, TColumnsCase{10, 14},
                                           TColumnsCase{11, 10}, TColumnsCase{24, 8}, TColumnsCase{40, 6},
                                           TColumnsCase{50, 4}, TColumnsCase{60, 3}, TColumnsCase{72, 2},
                                           TColumnsCase{73, 1}),
                         [](const ::testing::TestParamInfo<TColumnsCase>& info) { return std::to_string(info.param.points) + "Points"; });

TEST(CoverDialogs, SymbolSelectorListsCodes32To255AndNamesItsFont)
{
    TFaxGetSymbol dialog;
    EXPECT_EQ(dialog.windowTitle(), "Symbol Selector");
    ASSERT_EQ(dialog.SymbolList->count(), 224);
    dialog.SymbolList->setCurrentRow('[' - 32);
    EXPECT_EQ(dialog.SymbolList->currentRow(), 59);
    EXPECT_EQ(dialog.Fontbutton->text(), "WingDings, 24pt ");
    TFontSpec bold;
    bold.name = "WingDings";
    bold.SetSize(12);
    bold.bold = true;
    dialog.SetSymbolFont(bold);
    EXPECT_EQ(dialog.Fontbutton->text(), "WingDings, 12pt Bold ");
    bold.italic = true;
    dialog.SetSymbolFont(bold);
    EXPECT_EQ(dialog.Fontbutton->text(), "WingDings, 12pt Italic ");
}

TEST(CoverDialogs, ImageBrowserListsPicturesInAnyCaseAndShowsThemBlackAndWhite)
{
    TTempDir dir;
    QImage photo(120, 80, QImage::Format_RGB32);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            photo.setPixel(x, y, qRgb(x * 2, y * 3, (x + y) % 256));
    WriteFile(dir.Path("photo.BMP"), EncodeBmpImage(photo));
    WriteFile(dir.Path("broken.jpg"), std::string("\xFF\xD8\xFF\xE0 not a jpeg"));
    WriteFile(dir.Path("notes.txt"), std::string("text"));
    TFaxImageBrowser browser;
    EXPECT_EQ(browser.windowTitle(), "Load Image File");
    browser.SetDirectory(QString::fromStdString(dir.Path("")));
    QStringList files;
    for (int i = 0; i < browser.FileListBox1->count(); ++i)
        files << browser.FileListBox1->item(i)->text();
    EXPECT_EQ(files, (QStringList{"broken.jpg", "photo.BMP"}));
    std::string shown;
    platform::SetMessageBoxHook([&shown](const std::string& text, const std::string&, unsigned) {
        shown = text;
        return platform::IDOK;
    });
    browser.SelectFile("photo.BMP");
    ASSERT_FALSE(browser.Picture().Empty());
    const QImage& mono = browser.Picture().bitmap;
    EXPECT_EQ(mono.size(), QSize(120, 80));
    EXPECT_EQ(mono.colorCount(), 2);
    EXPECT_FALSE(browser.Image1->pixmap().isNull());
    EXPECT_TRUE(shown.empty());
    browser.SelectFile("broken.jpg");
    EXPECT_EQ(shown, "Error loading file!");
    EXPECT_TRUE(browser.Picture().Empty());
    EXPECT_TRUE(browser.Image1->pixmap().isNull());
    platform::SetMessageBoxHook(nullptr);
}

// The whole caption fits the title bar: the dialog is wider than its few fields need.
TEST(CoverDialogs, SaveTemplateAsLeavesRoomForItsCaption)
{
    TSaveTemplateAs dialog("/nonexistent/Covers/");
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.windowTitle(), "Save fax cover template as");
    EXPECT_GE(dialog.width(), zn::platform::WidthForTitle(dialog.windowTitle()));
}

TEST(CoverDialogs, ItemMenusBecomeWidgetMenusWithChecksAndSubmenus)
{
    TFaxCoverShapes shape;
    shape.Shape = stRoundRect;
    shape.Pen.width = 3;
    QMenu menu;
    BuildMenu(menu, shape.Menu());
    QStringList captions;
    for (QAction* a : menu.actions())
        if (!a->isSeparator())
            captions << a->text();
    EXPECT_EQ(captions.mid(0, 6), (QStringList{"Bring To Front", "Send To Back", "Cut", "Copy", "Delete", "Clone"}));
    EXPECT_TRUE(captions.contains("Degree of Rounding"));
    QMenu* thickness = nullptr;
    for (QAction* a : menu.actions())
        if (a->text() == "Line Thickness")
            thickness = a->menu();
    ASSERT_NE(thickness, nullptr);
    ASSERT_EQ(thickness->actions().size(), 10);
    EXPECT_TRUE(thickness->actions()[2]->isChecked());
    thickness->actions()[5]->trigger();
    EXPECT_EQ(shape.Pen.width, 6);
}

} // namespace
} // namespace zn::cover::gui
