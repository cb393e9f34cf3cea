// The cover items: defaults, zoom over the unchanging 100% geometry, paint rules, menus and the
// edits their menus start (through a scripted editor that answers like a user).
#include "cover/cover_items.h"
#include "cover/design_filer.h"

#include <gtest/gtest.h>

#include <QFontMetrics>

namespace zn::cover {
namespace {

// Answers the dialogs as scripted and records what it was shown.
class TScriptedEditor : public TItemEditor {
public:
    std::optional<TFontSpec> font;
    std::optional<std::string> text;
    std::optional<TSymbolChoice> symbol;
    std::optional<std::vector<std::string>> lines;
    int symbolShown = -1;
    std::string error;

    std::optional<TFontSpec> EditFont(const TFontSpec&, bool) override { return font; }
    std::optional<std::string> EditLabelText(const std::string&) override { return text; }
    std::optional<TSymbolChoice> SelectSymbol(uint8_t code, const TFontSpec&) override
    {
        symbolShown = code;
        return symbol;
    }
    std::optional<std::vector<std::string>> EditLines(const std::vector<std::string>&, const TFontSpec&) override
    {
        return lines;
    }
    std::optional<TImageChoice> BrowseImage(const std::string&) override { return std::nullopt; }
    void ShowError(const std::string& t) override { error = t; }
};

class TTestHost : public TItemHost {
public:
    TScriptedEditor editor;
    int changes = 0, refits = 0;
    std::string imageFolder;
    void ItemChanged() override { ++changes; }
    void RefitHandle() override { ++refits; }
    bool IsSelected(const TFaxGraphicControl&) const override { return false; }
    void Unselect(TFaxGraphicControl&) override {}
    void Command(TFaxGraphicControl&, TItemCommand) override {}
    int SurfaceWidth() const override { return 816; }
    int SurfaceHeight() const override { return 1056; }
    TItemEditor* Editor() override { return &editor; }
    std::string& LastImageFolder() override { return imageFolder; }
};

TMenuEntry* Find(std::vector<TMenuEntry>& menu, const std::string& caption)
{
    for (TMenuEntry& e : menu) {
        if (e.caption == caption)
            return &e;
        if (TMenuEntry* sub = Find(e.submenu, caption))
            return sub;
    }
    return nullptr;
}

struct TDefaultCase {
    const char* className;
    int width, height;
    const char* caption; // nullptr: no caption
};

class ItemDefaults : public ::testing::TestWithParam<TDefaultCase> {};

TEST_P(ItemDefaults, NewItemsHaveTheirSizeAndContent)
{
    const auto item = CreateItem(GetParam().className);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Width, GetParam().width);
    EXPECT_EQ(item->Height, GetParam().height);
    if (GetParam().caption)
        EXPECT_EQ(dynamic_cast<TFaxCoverBaseLabel&>(*item).Caption, GetParam().caption);
}

INSTANTIATE_TEST_SUITE_P(
    CoverItems, ItemDefaults,
    ::testing::Values(TDefaultCase{"TFaxCoverLabel", 142, 33, "Text"}, TDefaultCase{"TFaxCoverSymbol", 142, 33, "["},
                      TDefaultCase{"TFaxCoverImportance", 142, 33, TFaxCoverImportance::kLine},
                      TDefaultCase{"TFaxCoverField", 142, 33, "[Date]"},
                      TDefaultCase{
                          "TFaxCoverMessage", 142, 33,
                          "[Fax Message - note: this is for short messages - it will not continue onto a 2nd page]"},
                      TDefaultCase{"TFaxCoverShapes", 25, 25, nullptr}, TDefaultCase{"TFaxCoverLine", 10, 10, nullptr},
                      TDefaultCase{"TFaxImage", 105, 105, nullptr},
                      TDefaultCase{"TFaxMultiLineLabel", 190, 33, nullptr}),
                         [](const ::testing::TestParamInfo<TDefaultCase>& info) { return std::string(info.param.className); });

TEST(CoverItems, ZoomShowsTheModelScaledAndNeverMovesIt)
{
    TFaxCoverLabel label;
    label.SetBounds(10, 10, 142, 33);
    label.SetZoom(1.2f);
    EXPECT_EQ(label.DisplayRect(), QRect(12, 12, 170, 40));
    // Twenty steps in and out and back: the model is where it was placed.
    TFaxCoverShapes shape;
    shape.SetBounds(33, 57, 101, 43);
    const float zooms[] = {0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 1.0f, 1.1f, 1.2f, 1.3f, 1.4f, 1.5f};
    for (int round = 0; round < 20; ++round)
        for (float z : zooms)
            shape.SetZoom(round % 2 ? z : zooms[10 - (&z - zooms)]);
    shape.SetZoom(1.0f);
    EXPECT_EQ(shape.DisplayRect(), QRect(33, 57, 101, 43));
    // A move made at 150% lands at the 100% place it stands for; the unchanged size is kept exactly.
    shape.SetZoom(1.5f);
    QRect moved = shape.DisplayRect();
    moved.moveTo(moved.left() + 30, moved.top());
    shape.SetDisplayBounds(moved);
    EXPECT_EQ(shape.Left, 53);
    EXPECT_EQ(shape.Width, 101);
    EXPECT_EQ(shape.Height, 43);
}

TEST(CoverItems, FontAndPenFollowTheZoomWithTheirRounding)
{
    TFontSpec ten;
    ten.SetSize(10);
    EXPECT_EQ(ten.height, -13);
    EXPECT_EQ(ZoomedFont(ten, 0.9f).pixelSize(), 11); // 10 x 0.899999976 truncated: 8 points
    EXPECT_EQ(ZoomedFont(ten, 1.0f).pixelSize(), 13);
    EXPECT_EQ(ZoomedPenWidth(3, 0.2f), 1);
    EXPECT_EQ(ZoomedPenWidth(2, 0.2f), 0); // shapes raise it to 1, lines do not
    EXPECT_EQ(ZoomedPenWidth(5, 1.0f), 5);
}

TEST(CoverItems, ShapeWithAThinZoomedPenStillShowsItsOutline)
{
    TFaxCoverShapes shape;
    shape.SetBounds(0, 0, 100, 40);
    shape.Pen.width = 2;
    shape.SetZoom(0.2f);
    QImage img(30, 20, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        shape.Paint(p);
    }
    EXPECT_EQ(qGray(img.pixel(0, 0)), 0);
    EXPECT_EQ(qGray(img.pixel(10, 0)), 0);
    EXPECT_EQ(qGray(img.pixel(10, 4)), 255);
}

TEST(CoverItems, FieldMenuSetsTypeAndBracketedCaption)
{
    TTestHost host;
    TFaxCoverField field;
    field.SetHost(&host);
    TMenuEntry* phone = Find(field.Menu(), "Sender Phone");
    ASSERT_NE(phone, nullptr);
    phone->action();
    EXPECT_EQ(field.CoverFieldType, cfSenderVoice);
    EXPECT_EQ(field.Caption, "[Sender Phone]");
    field.Menu();
    EXPECT_TRUE(Find(field.Menu(), "Sender Phone")->checked);
    EXPECT_FALSE(Find(field.Menu(), "Date")->checked);
    EXPECT_GT(host.changes, 0);
}

TEST(CoverItems, LabelGrowsToLongerTextAndKeepsItsSizeForShorter)
{
    TTestHost host;
    TFaxCoverLabel label;
    label.SetHost(&host);
    host.editor.text = "A much longer caption than the label was made for";
    Find(label.Menu(), "Text")->action();
    EXPECT_EQ(label.Caption, host.editor.text);
    const int grown = label.Width;
    EXPECT_GT(grown, 142);
    host.editor.text = "Hi";
    label.EditText();
    EXPECT_EQ(label.Width, grown);
    // Cancel changes nothing.
    host.editor.text.reset();
    label.EditText();
    EXPECT_EQ(label.Caption, "Hi");
}

TEST(CoverItems, FontColoursOtherThanWhiteBecomeBlack)
{
    TTestHost host;
    TFaxCoverLabel label;
    label.SetHost(&host);
    TFontSpec red;
    red.color = 0x0000FF;
    host.editor.font = red;
    label.EditFont();
    EXPECT_EQ(label.Font.color, clBlack);
    TFontSpec white;
    white.color = clWhite;
    host.editor.font = white;
    label.EditFont();
    EXPECT_EQ(label.Font.color, clWhite);
}

TEST(CoverItems, SymbolSelectorPreselectsTheCaptionAndCopesWithAnEmptyOne)
{
    TTestHost host;
    TFaxCoverSymbol symbol;
    symbol.SetHost(&host);
    EXPECT_EQ(Find(symbol.Menu(), "Font"), nullptr);
    ASSERT_NE(Find(symbol.Menu(), "Symbol Selector"), nullptr);
    host.editor.symbol = TItemEditor::TSymbolChoice{0x4A, symbol.Font};
    Find(symbol.Menu(), "Symbol Selector")->action();
    EXPECT_EQ(host.editor.symbolShown, '[');
    EXPECT_EQ(symbol.Caption, "J");
    symbol.Caption.clear();
    symbol.SelectSymbol();
    EXPECT_EQ(host.editor.symbolShown, 32);
    // The item fits its character.
    const QFontMetrics fm(ZoomedFont(symbol.Font, 1.0f));
    EXPECT_EQ(symbol.Height, static_cast<int>(fm.height() * 1.1));
}

TEST(CoverItems, MultiLinePlaceholdersAndWrapping)
{
    TFaxMultiLineLabel multi;
    multi.SetBounds(0, 0, 190, 60);
    QImage empty(190, 60, QImage::Format_RGB32), blanks(190, 60, QImage::Format_RGB32);
    empty.fill(Qt::white);
    blanks.fill(Qt::white);
    {
        QPainter p(&empty);
        multi.Paint(p);
    }
    multi.Items = {"   "};
    {
        QPainter p(&blanks);
        multi.Paint(p);
    }
    const QFontMetrics fm(ZoomedFont(multi.Font, 1.0f));
    const auto inkRows = [&](const QImage& img, int y0, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < img.width(); ++x)
                n += qGray(img.pixel(x, y)) < 128;
        return n;
    };
    EXPECT_GT(inkRows(empty, 0, fm.height()), 0);                // "<blank>" on the first line
    EXPECT_EQ(inkRows(blanks, 0, fm.height()), 0);               // the line of blanks
    EXPECT_GT(inkRows(blanks, fm.height(), 2 * fm.height()), 0); // then "<blank>"
    multi.Items = {"one two three four five six seven eight nine ten eleven twelve"};
    multi.SetWordWrap(true);
    EXPECT_GT(multi.WrappedLines().size(), 1u);
    for (const std::string& line : multi.WrappedLines())
        EXPECT_LE(fm.horizontalAdvance(QString::fromStdString(line)), 190) << line;
}

TEST(CoverItems, StretchToEdgesSpansHorizontalAndVerticalLinesOnly)
{
    TTestHost host;
    TFaxCoverLine line;
    line.SetHost(&host);
    line.SetBounds(40, 50, 100, 10);
    Find(line.Menu(), "Stretch To Edges")->action();
    EXPECT_EQ(line.Left, 0);
    EXPECT_EQ(line.Width, 816);
    line.LineStyle = stAngleSlopingUp;
    line.SetBounds(40, 50, 100, 10);
    line.StretchToEdges();
    EXPECT_EQ(line.Left, 40);
    EXPECT_EQ(line.Width, 100);
}

TEST(CoverItems, RoundingMenuOnlyForRoundedShapes)
{
    TFaxCoverShapes square;
    EXPECT_EQ(Find(square.Menu(), "Degree of Rounding"), nullptr);
    TFaxCoverShapes round;
    round.Shape = stRoundRect;
    TMenuEntry* fifty = Find(round.Menu(), "50 %");
    ASSERT_NE(fifty, nullptr);
    fifty->action();
    EXPECT_EQ(round.RoundPerc, 50);
    Find(round.Menu(), "7 Point")->action();
    EXPECT_EQ(round.Pen.width, 7);
}

TEST(CoverItems, ImageMirrorsAndFramesAsDrawn)
{
    TFaxImage image;
    image.SetBounds(0, 0, 4, 2);
    QImage pic(4, 2, QImage::Format_RGB32);
    pic.fill(Qt::white);
    pic.setPixel(0, 0, qRgb(0, 0, 0));
    image.Picture.kind = TPicture::pkBitmap;
    image.Picture.bitmap = pic;
    image.Flip = image.Reverse = true;
    const QImage turned = image.DrawToBitmap();
    EXPECT_EQ(qGray(turned.pixel(3, 1)), 0);
    EXPECT_EQ(qGray(turned.pixel(0, 0)), 255);
    // Without a picture a plain frame.
    TFaxImage none;
    none.SetBounds(0, 0, 10, 6);
    const QImage frame = none.DrawToBitmap();
    EXPECT_EQ(qGray(frame.pixel(0, 0)), 0);
    EXPECT_EQ(qGray(frame.pixel(9, 5)), 0);
    EXPECT_EQ(qGray(frame.pixel(4, 3)), 255);
    // Flip and Reverse are offered for bitmaps only.
    TFaxImage metafile;
    metafile.Picture.kind = TPicture::pkMetafile;
    EXPECT_FALSE(Find(metafile.Menu(), "Flip")->enabled);
    EXPECT_TRUE(Find(image.Menu(), "Flip")->enabled);
}

} // namespace
} // namespace zn::cover
