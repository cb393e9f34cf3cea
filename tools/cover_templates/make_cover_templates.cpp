// Makes the cover templates that a new program folder starts with, through the designer window
// itself: each item is placed on the designer's page as its tool places it, given its text, font
// and field, and the template is saved as the designer saves one (its four files together).
// Usage: zn_make_cover_templates OUTPUT_FOLDER (runs on Qt's offscreen platform).
#include "cover/gui/designer_window.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zn::cover;
using zn::cover::gui::TCoverDesMainScreen;
using zn::cover::gui::TFaxCoverPanelX;

// The preview shows the page from 98 pixels in: items end well before the page's right edge.
constexpr int kMargin = 48;
constexpr int kRight = TFaxCoverPanelX::kPageWidth - 80;

TFontSpec Font(int points, bool bold = false, bool italic = false)
{
    TFontSpec font;
    font.SetSize(points);
    font.bold = bold;
    font.italic = italic;
    return font;
}

class TemplateMaker {
public:
    explicit TemplateMaker(TCoverDesMainScreen& window) : window_(window) { window_.New1Click(); }

    void Label(int left, int top, const std::string& text, const TFontSpec& font)
    {
        auto item = std::make_unique<TFaxCoverLabel>();
        item->Caption = text;
        item->Font = font;
        Place(std::move(item), QRect(left, top, 10, 15))->GrowToText();
    }
    void Field(int left, int top, TCoverFieldType type, const TFontSpec& font)
    {
        auto item = std::make_unique<TFaxCoverField>();
        item->Font = font;
        auto* field = Place(std::move(item), QRect(left, top, 10, 15));
        field->ChooseField(type);
    }
    // A caption and the field that follows it on the same line.
    void Row(int top, const std::string& caption, TCoverFieldType type, int fieldLeft = kMargin + 130)
    {
        Label(kMargin, top, caption, Font(12, true));
        Field(fieldLeft, top, type, Font(12));
    }
    // Who the fax is for and from, and what it is about, from `top` down.
    void Parties(int top, const char* faxCaption, const char* phoneCaption, const char* subjectCaption)
    {
        Row(top, "To:", cfRecipient);
        Row(top + 28, faxCaption, cfRecipientFax);
        Row(top + 64, "From:", cfSender);
        Row(top + 92, "Company:", cfSenderCompany);
        Row(top + 120, faxCaption, cfSenderFax);
        Row(top + 148, phoneCaption, cfSenderVoice);
        Row(top + 184, subjectCaption, cfRegarding);
    }
    void Line(int top, int thickness, int left = kMargin, int right = kRight)
    {
        auto item = std::make_unique<TFaxCoverLine>();
        item->LineStyle = stHorizontal;
        item->Pen.width = thickness;
        Place(std::move(item), QRect(left, top, right - left, thickness + 2));
    }
    void Box(const QRect& r, TShapeType shape, int thickness, TShapeFillType fill = sftTransparent)
    {
        auto item = std::make_unique<TFaxCoverShapes>();
        item->Shape = shape;
        item->Pen.width = thickness;
        item->ShapeFilltype = fill;
        Place(std::move(item), r);
    }
    void Importance(int top)
    {
        auto item = std::make_unique<TFaxCoverImportance>();
        item->Font = Font(10);
        Place(std::move(item), QRect(kMargin, top, 10, 15))->GrowToText();
    }
    void Message(const QRect& r)
    {
        auto item = std::make_unique<TFaxCoverMessage>();
        item->Font = Font(11);
        Place(std::move(item), r);
    }
    void Text(const QRect& r, const std::vector<std::string>& lines, const TFontSpec& font, TAlignment alignment)
    {
        auto item = std::make_unique<TFaxMultiLineLabel>();
        item->Items = lines;
        item->Font = font;
        item->Alignment = alignment;
        Place(std::move(item), r)->SetWordWrap(true);
    }
    void Save(const std::string& fcsName, const std::string& description)
    {
        window_.SaveLabelFile(fcsName, description);
    }

private:
    template <class Item>
    Item* Place(std::unique_ptr<Item> item, const QRect& r)
    {
        Item* placed = item.get();
        window_.LabelPanel->PlaceItem(std::move(item), r);
        return placed;
    }

    TCoverDesMainScreen& window_;
};

// The everyday cover: a title, who it is for and from, the flags and the message.
void MakeStandard(TCoverDesMainScreen& window, const std::string& fcsName)
{
    TemplateMaker t(window);
    t.Label(kMargin, 40, "FAX", Font(40, true));
    t.Line(112, 3);
    t.Row(128, "Date:", cfDate);
    t.Parties(164, "Fax:", "Phone:", "Regarding:");
    t.Line(384, 1);
    t.Importance(400);
    t.Line(432, 1);
    t.Message(QRect(kMargin, 452, kRight - kMargin, 440));
    t.Save(fcsName, "Fax cover sheet");
}

// The same facts in a framed header, with a note on misdirected faxes at the foot of the page.
void MakeFramed(TCoverDesMainScreen& window, const std::string& fcsName)
{
    TemplateMaker t(window);
    t.Box(QRect(kMargin - 8, 32, kRight - kMargin + 16, 76), stRectangle, 3);
    t.Label(kMargin + 12, 44, "FACSIMILE", Font(32, true));
    t.Field(kRight - 240, 62, cfDate, Font(11));
    t.Box(QRect(kMargin - 8, 124, kRight - kMargin + 16, 220), stRectangle, 1);
    t.Parties(136, "Fax number:", "Telephone:", "Subject:");
    t.Importance(364);
    t.Message(QRect(kMargin, 400, kRight - kMargin, 420));
    t.Line(840, 1);
    t.Text(QRect(kMargin, 852, kRight - kMargin, 60),
           {"This fax is meant only for the person named above. If it has reached you by mistake, "
            "please call the sender and destroy it."},
           Font(9, false, true), taCenter);
    t.Save(fcsName, "Framed fax cover sheet with a note");
}

// A plain memo: a heading and the lines of a memo, no frames.
void MakeMemo(TCoverDesMainScreen& window, const std::string& fcsName)
{
    TemplateMaker t(window);
    t.Label(kMargin, 48, "Fax Memo", Font(28, true, true));
    t.Line(100, 2);
    t.Row(124, "To:", cfRecipient, kMargin + 110);
    t.Row(152, "Fax:", cfRecipientFax, kMargin + 110);
    t.Row(180, "From:", cfSender, kMargin + 110);
    t.Row(208, "Date:", cfDate, kMargin + 110);
    t.Row(236, "Re:", cfRegarding, kMargin + 110);
    t.Line(272, 2);
    t.Message(QRect(kMargin, 296, kRight - kMargin, 560));
    t.Save(fcsName, "Fax memo");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    // The designer keeps its preferences and recent list in a program folder of its own here.
    QTemporaryDir home;
    setenv("ZN_HOME", home.path().toLocal8Bit().constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::string out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath().toStdString() + "/";
    QDir().mkpath(QString::fromStdString(out));
    try {
        TCoverDesMainScreen window;
        MakeStandard(window, out + "ZN0001.FCS");
        MakeFramed(window, out + "ZN0002.FCS");
        MakeMemo(window, out + "ZN0003.FCS");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
