#include "cover/cover_items.h"

#include "cover/mono_canvas.h"
#include "cover/property_sink.h"

#include <QFontMetrics>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace zn::cover {

namespace {

const char* const kShapeTypes[] = {"stRectangle", "stSquare", "stRoundRect", "stRoundSquare", "stEllipse", "stCircle"};
const char* const kFillTypes[] = {"sftTransparent", "sftFilledWhite", "sftFilledBlack"};
const char* const kLineStyles[] = {"stHorizontal", "stVertical", "stAngleSlopingUp", "stAngleSlopingDown"};
const char* const kFieldTypes[] = {"cfDate",   "cfTime",          "cfRegarding", "cfRecipient",  "cfRecipientFax",
                                   "cfSender", "cfSenderCompany", "cfSenderFax", "cfSenderVoice"};
const char* const kAlignments[] = {"taLeftJustify", "taRightJustify", "taCenter"};
const char* const kBorderStyles[] = {"bsNone", "bsSingle"};
const char* const kFieldCaptions[] = {"Date",   "Time",           "Regarding",  "Recipient",   "Recipient Fax",
                                      "Sender", "Sender Company", "Sender Fax", "Sender Phone"};

TMenuEntry Entry(const std::string& caption, std::function<void()> action, int tag = 0)
{
    TMenuEntry e;
    e.caption = caption;
    e.action = std::move(action);
    e.tag = tag;
    return e;
}

TMenuEntry Separator() { return Entry("-", nullptr); }

TMenuEntry Submenu(const std::string& caption, std::vector<TMenuEntry> entries)
{
    TMenuEntry e;
    e.caption = caption;
    e.submenu = std::move(entries);
    return e;
}

// Ten entries "1 Point" .. "10 Point" setting a pen width.
TMenuEntry ThicknessMenu(TFaxGraphicControl* item, TPenSpec* pen)
{
    std::vector<TMenuEntry> entries;
    for (int n = 1; n <= 10; ++n)
        entries.push_back(Entry(
            std::to_string(n) + " Point",
            [item, pen, n] {
                pen->width = n;
                item->NotifyChanged();
            },
            n));
    return Submenu("Line Thickness", std::move(entries));
}

void CheckByTag(std::vector<TMenuEntry>& entries, int tag)
{
    for (TMenuEntry& e : entries)
        e.checked = e.tag == tag;
}

QPen ScreenPen(int width)
{
    QPen pen(Qt::black);
    pen.setWidth(width <= 1 ? 0 : width); // 0: the one-pixel cosmetic pen
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCapStyle(Qt::SquareCap);
    return pen;
}

QColor FontColor(uint32_t color) { return color == clWhite ? QColor(Qt::white) : QColor(Qt::black); }

// Rectangles as the platform draws them: right and bottom edges excluded.
QRect GdiRect(int l, int t, int r, int b) { return QRect(l, t, std::max(0, r - l - 1), std::max(0, b - t - 1)); }

TRenderRecord Geometry(const TFaxGraphicControl& item)
{
    TRenderRecord rec;
    rec.kind = item.RenderKind();
    rec.left = item.Left * 2;
    rec.top = item.Top * 2;
    rec.width = item.Width * 2;
    rec.height = item.Height * 2;
    return rec;
}

void SetRecordFont(TRenderRecord& rec, const TFontSpec& font)
{
    rec.fontName = font.name;
    // points x screen ppi x 2 / 96, in floating point and truncated
    rec.fontSize = static_cast<int>(static_cast<double>(font.Size()) * kScreenPixelsPerInch * 2 / 96);
    rec.bold = font.bold;
    rec.italic = font.italic;
    rec.underline = font.underline;
}

} // namespace

std::string TrimLeftSpaces(const std::string& s)
{
    const size_t i = s.find_first_not_of(' ');
    return i == std::string::npos ? std::string() : s.substr(i);
}

std::string TrimRightSpaces(const std::string& s)
{
    const size_t i = s.find_last_not_of(' ');
    return i == std::string::npos ? std::string() : s.substr(0, i + 1);
}

std::string TrimSpaces(const std::string& s) { return TrimLeftSpaces(TrimRightSpaces(s)); }

QFont ZoomedFont(const TFontSpec& font, float zoom)
{
    int size = font.Size();
    if (zoom != 1.0f)
        size = static_cast<int>(static_cast<double>(size) * static_cast<double>(zoom)); // 10 x 0.9f: 8
    return MakeFont(font.name, std::max(size, 1), font.bold, font.italic, font.underline);
}

int ZoomedPenWidth(int width, float zoom)
{
    if (zoom == 1.0f)
        return width;
    return static_cast<int>(std::lrint(static_cast<double>(width) * static_cast<double>(zoom)));
}

std::vector<std::string> WrapLines(const std::vector<std::string>& lines, const QFont& font,
                                   const std::string& fontName, int width)
{
    const QFontMetrics fm(font);
    const auto textWidth = [&](const std::string& s) { return fm.horizontalAdvance(DrawnText(fontName, s)); };
    const int space = textWidth(" ");
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.empty() || width <= 0 || textWidth(line) <= width) {
            out.push_back(line);
            continue;
        }
        // Words are measured once and added up, so that a long text wraps in linear time.
        std::string current;
        int currentWidth = 0;
        size_t pos = 0;
        while (pos < line.size()) {
            size_t spaces = 0;
            while (pos < line.size() && line[pos] == ' ')
                ++pos, ++spaces;
            size_t end = line.find(' ', pos);
            end = end == std::string::npos ? line.size() : end;
            std::string word = line.substr(pos, end - pos);
            pos = end;
            if (word.empty())
                break; // trailing spaces
            int wordWidth = textWidth(word);
            const int gap = current.empty() ? 0 : static_cast<int>(spaces) * space;
            if (!current.empty() && currentWidth + gap + wordWidth <= width) {
                current += std::string(spaces, ' ') + word;
                currentWidth += gap + wordWidth;
                continue;
            }
            if (!current.empty())
                out.push_back(current);
            current.clear();
            currentWidth = 0;
            // A word wider than the line: as many characters as fit, at least one, on each line.
            while (wordWidth > width && word.size() > 1) {
                size_t n = 0;
                int w = 0;
                while (n < word.size()) {
                    const int c = textWidth(word.substr(n, 1));
                    if (n > 0 && w + c > width)
                        break;
                    w += c;
                    ++n;
                }
                out.push_back(word.substr(0, n));
                word.erase(0, n);
                wordWidth = textWidth(word);
            }
            current = word;
            currentWidth = wordWidth;
        }
        if (!current.empty())
            out.push_back(current);
    }
    return out;
}

// ---- TFaxGraphicControl --------------------------------------------------------------------------

int TFaxGraphicControl::Scaled(int v, float zoom)
{
    return static_cast<int>(std::lrint(static_cast<double>(v) * static_cast<double>(zoom)));
}

QRect TFaxGraphicControl::DisplayRect() const
{
    return QRect(Scaled(Left, Zoom), Scaled(Top, Zoom), Scaled(Width, Zoom), Scaled(Height, Zoom));
}

void TFaxGraphicControl::SetDisplayBounds(const QRect& r)
{
    if (Zoom == 1.0f)
        return SetBounds(r.left(), r.top(), r.width(), r.height());
    // Only what the user changed at this zoom moves the model: an unchanged side keeps its 100%
    // value, so showing an item at another zoom never moves it.
    const QRect shown = DisplayRect();
    const auto back = [this](int v) {
        return static_cast<int>(std::lrint(static_cast<double>(v) / static_cast<double>(Zoom)));
    };
    SetBounds(r.left() == shown.left() ? Left : back(r.left()), r.top() == shown.top() ? Top : back(r.top()),
              r.width() == shown.width() ? Width : back(r.width()),
              r.height() == shown.height() ? Height : back(r.height()));
}

void TFaxGraphicControl::SetBounds(int left, int top, int width, int height)
{
    Left = left;
    Top = top;
    Width = width;
    Height = height;
    BoundsChanged();
}

void TFaxGraphicControl::SetZoom(float zoom)
{
    if (zoom == Zoom)
        return;
    Zoom = zoom;
    BoundsChanged();
}

void TFaxGraphicControl::SetUnselectable(bool value)
{
    if (value == unselectable_)
        return;
    unselectable_ = value;
    if (host_ && !host_->Loading()) {
        NotifyChanged();
        if (value)
            host_->Unselect(*this);
    }
}

void TFaxGraphicControl::SetLocked(bool value)
{
    if (value == Locked)
        return;
    Locked = value;
    if (host_ && !host_->Loading()) {
        SetCheck("Locked", Locked);
        NotifyChanged();
    }
}

void TFaxGraphicControl::NotifyChanged()
{
    if (host_)
        host_->ItemChanged();
}

void TFaxGraphicControl::RequestHandleRefit()
{
    if (host_)
        host_->RefitHandle();
}

void TFaxGraphicControl::BoundsChanged()
{
    if (inBoundsChange_)
        return;
    inBoundsChange_ = true;
    const QRect now(Left, Top, Width, Height);
    if (lastBounds_.isNull())
        lastBounds_ = now;
    if (now != lastBounds_) {
        NotifyChanged();
        lastBounds_ = now;
        RequestHandleRefit();
    }
    inBoundsChange_ = false;
}

void TFaxGraphicControl::CenterVertically()
{
    if (!host_)
        return;
    Top = host_->SurfaceHeight() / 2 - Height / 2;
    BoundsChanged();
    NotifyChanged();
}

void TFaxGraphicControl::CenterHorizontally()
{
    if (!host_)
        return;
    Left = host_->SurfaceWidth() / 2 - Width / 2;
    BoundsChanged();
    NotifyChanged();
}

std::vector<TMenuEntry>& TFaxGraphicControl::Menu()
{
    if (!menuBuilt_) {
        menuBuilt_ = true;
        const auto command = [this](TItemCommand c, bool notify) {
            return [this, c, notify] {
                if (notify)
                    NotifyChanged();
                if (host_)
                    host_->Command(*this, c);
            };
        };
        menu_.push_back(Entry("Bring To Front", command(icBringToFront, true)));
        menu_.push_back(Entry("Send To Back", command(icSendToBack, true)));
        menu_.push_back(Entry("Cut", command(icCut, true)));
        menu_.push_back(Entry("Copy", command(icCopy, false)));
        menu_.push_back(Entry("Delete", command(icDelete, true)));
        menu_.push_back(Entry("Clone", command(icClone, false)));
        menu_.push_back(Separator());
        menu_.push_back(Entry("Locked", [this] {
            Locked = !Locked;
            SetCheck("Locked", Locked);
            NotifyChanged();
        }));
        menu_.push_back(Entry("Unselectable", [this] {
            SetUnselectable(true);
            NotifyChanged();
            if (host_)
                host_->Unselect(*this);
        }));
        menu_.push_back(Separator());
        menu_.push_back(Entry("Center Vertically", [this] { CenterVertically(); }));
        menu_.push_back(Entry("Center Horizontally", [this] { CenterHorizontally(); }));
        AddMenuEntries(menu_);
    }
    SetCheck("Locked", Locked);
    UpdateMenuChecks();
    return menu_;
}

TMenuEntry* TFaxGraphicControl::FindEntry(const std::string& caption)
{
    for (TMenuEntry& e : menu_)
        if (e.caption == caption)
            return &e;
    return nullptr;
}

void TFaxGraphicControl::SetCheck(const std::string& caption, bool checked)
{
    if (TMenuEntry* e = FindEntry(caption))
        e->checked = checked;
}

void TFaxGraphicControl::WriteProperties(TPropertySink& sink) const
{
    sink.Boolean("Locked", Locked);
    sink.Boolean("Unselectable", unselectable_);
}

bool TFaxGraphicControl::ReadProperty(const std::string& name, TValueReader& r)
{
    if (name == "Left")
        Left = r.ReadInt32();
    else if (name == "Top")
        Top = r.ReadInt32();
    else if (name == "Width")
        Width = r.ReadInt32();
    else if (name == "Height")
        Height = r.ReadInt32();
    else if (name == "Locked")
        Locked = r.ReadBoolean();
    else if (name == "Unselectable")
        unselectable_ = r.ReadBoolean();
    else
        return false;
    return true;
}

TRenderRecord TFaxGraphicControl::RenderRecord() const { return Geometry(*this); }

// ---- Labels ---------------------------------------------------------------------------------------

TFaxCoverBaseLabel::TFaxCoverBaseLabel()
{
    Width = 142;
    Height = 33;
}

void TFaxCoverBaseLabel::Paint(QPainter& p) const
{
    const QRect client(0, 0, Scaled(Width, Zoom), Scaled(Height, Zoom));
    const QFont font = ZoomedFont(Font, Zoom);
    p.save();
    p.setClipRect(client);
    p.setFont(font);
    p.setPen(FontColor(Font.color));
    p.drawText(0, QFontMetrics(font).ascent(), DrawnText(Font.name, Caption));
    p.restore();
}

void TFaxCoverBaseLabel::BoundsChanged()
{
    Width = std::max(Width, 1);
    Height = std::max(Height, 1);
    TFaxGraphicControl::BoundsChanged();
    if (RefitsOnBounds() && host_ && !host_->Loading())
        RequestHandleRefit();
}

void TFaxCoverBaseLabel::GrowToText()
{
    // Measured at 100%: the model holds the 100% geometry.
    const QFontMetrics fm(ZoomedFont(Font, 1.0f));
    const int w = fm.horizontalAdvance(DrawnText(Font.name, Caption + " "));
    const int h = fm.height();
    if (Width < w)
        Width = w;
    if (Height < h)
        Height = h;
    BoundsChanged();
}

void TFaxCoverBaseLabel::EditFont()
{
    TItemEditor* editor = Editor();
    if (!editor)
        return;
    if (auto font = editor->EditFont(Font, false)) {
        // A fax has two colours: any colour but white is black.
        if (font->color != clWhite)
            font->color = clBlack;
        Font = *font;
        NotifyChanged();
        if (GrowsAfterFont())
            GrowToText();
    }
}

void TFaxCoverBaseLabel::AddMenuEntries(std::vector<TMenuEntry>& menu)
{
    menu.push_back(Separator());
    menu.push_back(Entry("Font", [this] { EditFont(); }));
}

void TFaxCoverBaseLabel::WriteProperties(TPropertySink& sink) const
{
    TFaxGraphicControl::WriteProperties(sink);
    sink.String("Caption", Caption);
    sink.Font(Font);
}

bool TFaxCoverBaseLabel::ReadProperty(const std::string& name, TValueReader& r)
{
    if (name == "Caption") {
        Caption = r.ReadString();
        return true;
    }
    return ReadFontProperty(name, r, Font) || TFaxGraphicControl::ReadProperty(name, r);
}

TRenderRecord TFaxCoverBaseLabel::RenderRecord() const
{
    TRenderRecord rec = Geometry(*this);
    rec.caption = Caption;
    SetRecordFont(rec, Font);
    return rec;
}

void TFaxCoverLabel::EditText()
{
    TItemEditor* editor = Editor();
    if (!editor)
        return;
    if (auto text = editor->EditLabelText(Caption)) {
        Caption = *text;
        NotifyChanged();
        GrowToText();
    }
}

void TFaxCoverLabel::AddMenuEntries(std::vector<TMenuEntry>& menu)
{
    TFaxCoverBaseLabel::AddMenuEntries(menu);
    menu.push_back(Entry(
        "Text", [this] { EditText(); }, 1000));
}

TFaxCoverSymbol::TFaxCoverSymbol()
{
    Caption = "[";
    Font.name = "WingDings";
    Font.SetSize(24);
    Font.charset = "SYMBOL_CHARSET";
}

void TFaxCoverSymbol::BoundsChanged()
{
    // The item fits its character.
    const QFontMetrics fm(ZoomedFont(Font, 1.0f));
    const int w = static_cast<int>(fm.horizontalAdvance(DrawnText(Font.name, Caption)) * 1.1);
    const int h = static_cast<int>(fm.height() * 1.1);
    if (w > 0 && Width != w)
        Width = w;
    if (h > 0 && Height != h)
        Height = h;
    TFaxCoverBaseLabel::BoundsChanged();
}

void TFaxCoverSymbol::SelectSymbol()
{
    TItemEditor* editor = Editor();
    if (!editor)
        return;
    // An empty caption (a damaged template) preselects the first symbol.
    const uint8_t code = Caption.empty() ? 32 : static_cast<uint8_t>(Caption[0]);
    if (auto choice = editor->SelectSymbol(code, Font)) {
        Font = choice->font;
        Caption = std::string(1, static_cast<char>(choice->code));
        NotifyChanged();
        BoundsChanged();
    }
}

void TFaxCoverSymbol::AddMenuEntries(std::vector<TMenuEntry>& menu)
{
    TFaxCoverBaseLabel::AddMenuEntries(menu);
    for (size_t i = menu.size(); i-- > 0;)
        if (menu[i].tag == 1000 || menu[i].caption == "Font" || menu[i].caption == "Alignment"
            || menu[i].caption == "Angle")
            menu.erase(menu.begin() + static_cast<std::ptrdiff_t>(i));
    menu.push_back(Entry("Symbol Selector", [this] { SelectSymbol(); }));
}

void TFaxCoverField::ChooseField(int type)
{
    if (type < 0 || type > 8)
        return;
    CoverFieldType = static_cast<TCoverFieldType>(type);
    Caption = std::string("[") + kFieldCaptions[type] + "]";
    NotifyChanged();
    GrowToText();
}

void TFaxCoverField::AddMenuEntries(std::vector<TMenuEntry>& menu)
{
    TFaxCoverBaseLabel::AddMenuEntries(menu);
    std::vector<TMenuEntry> fields;
    for (int t = 0; t < 9; ++t)
        fields.push_back(Entry(
            kFieldCaptions[t], [this, t] { ChooseField(t); }, t));
    menu.push_back(Submenu("Field", std::move(fields)));
}

void TFaxCoverField::UpdateMenuChecks()
{
    if (TMenuEntry* e = FindEntry("Field"))
        CheckByTag(e->submenu, CoverFieldType);
}

void TFaxCoverField::WriteProperties(TPropertySink& sink) const
{
    TFaxCoverBaseLabel::WriteProperties(sink);
    sink.Ident("CoverFieldType", kFieldTypes[CoverFieldType]);
}

bool TFaxCoverField::ReadProperty(const std::string& name, TValueReader& r)
{
    if (name == "CoverFieldType") {
        CoverFieldType = static_cast<TCoverFieldType>(ReadEnum(r, kFieldTypes, 9));
        return true;
    }
    return TFaxCoverBaseLabel::ReadProperty(name, r);
}

TRenderRecord TFaxCoverField::RenderRecord() const
{
    TRenderRecord rec = TFaxCoverBaseLabel::RenderRecord();
    rec.caption.clear();
    rec.fieldType = CoverFieldType;
    return rec;
}

void TFaxCoverMessage::Paint(QPainter& p) const
{
    TFaxCoverBaseLabel::Paint(p);
    QPen pen(Qt::black);
    pen.setStyle(Qt::DotLine);
    pen.setWidth(0);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(GdiRect(0, 0, Scaled(Width, Zoom), Scaled(Height, Zoom)));
}

// ---- Shapes and lines ----------------------------------------------------------------------------

void TFaxCoverShapes::Paint(QPainter& p) const
{
    int pw = ZoomedPenWidth(Pen.width, Zoom);
    if (pw <= 0 && Pen.width > 0)
        pw = 1;
    const int w = Scaled(Width, Zoom), ht = Scaled(Height, Zoom);
    const int h = pw / 2;
    const int x2 = w - pw + 1 + h, y2 = ht - pw + 1 + h;
    p.save();
    p.setPen(ScreenPen(pw));
    switch (ShapeFilltype) {
    case sftFilledWhite: p.setBrush(Qt::white); break;
    case sftFilledBlack: p.setBrush(Qt::black); break;
    default: p.setBrush(Qt::NoBrush);
    }
    const QRect r = GdiRect(h, h, x2, y2);
    switch (Shape) {
    case stRectangle:
    case stSquare: p.drawRect(r); break;
    case stRoundRect:
    case stRoundSquare: {
        const double d = std::trunc(std::max(w, ht) * (RoundPerc * 0.01));
        p.drawRoundedRect(r, d / 2, d / 2);
        break;
    }
    case stEllipse:
    case stCircle: p.drawEllipse(r); break;
    }
    p.restore();
}

void TFaxCoverShapes::AddMenuEntries(std::vector<TMenuEntry>& menu)
{
    menu.push_back(Separator());
    menu.push_back(ThicknessMenu(this, &Pen));
    menu.push_back(Separator());
    const char* fills[] = {"Transparent", "Filled - White", "Filled - Black"};
    for (int f = 0; f < 3; ++f)
        menu.push_back(Entry(
            fills[f],
            [this, f] {
                ShapeFilltype = static_cast<TShapeFillType>(f);
                NotifyChanged();
            },
            f));
    if (Shape == stRoundRect || Shape == stRoundSquare) {
        menu.push_back(Separator());
        std::vector<TMenuEntry> rounding;
        for (int perc = 20; perc <= 80; perc += 10)
            rounding.push_back(Entry(
                std::to_string(perc) + " %",
                [this, perc] {
                    RoundPerc = perc;
                    NotifyChanged();
                },
                perc));
        menu.push_back(Submenu("Degree of Rounding", std::move(rounding)));
    }
}

void TFaxCoverShapes::UpdateMenuChecks()
{
    const char* fills[] = {"Transparent", "Filled - White", "Filled - Black"};
    for (int f = 0; f < 3; ++f)
        SetCheck(fills[f], ShapeFilltype == f);
    if (TMenuEntry* e = FindEntry("Line Thickness"))
        CheckByTag(e->submenu, Pen.width);
}

void TFaxCoverShapes::WriteProperties(TPropertySink& sink) const
{
    TFaxGraphicControl::WriteProperties(sink);
    sink.Ident("ShapeFilltype", kFillTypes[ShapeFilltype]);
    sink.Pen(Pen);
    if (RoundPerc != 25)
        sink.Integer("RoundPerc", RoundPerc);
    if (Shape != stRectangle)
        sink.Ident("Shape", kShapeTypes[Shape]);
}

bool TFaxCoverShapes::ReadProperty(const std::string& name, TValueReader& r)
{
    if (name == "ShapeFilltype")
        ShapeFilltype = static_cast<TShapeFillType>(ReadEnum(r, kFillTypes, 3));
    else if (name == "RoundPerc")
        RoundPerc = r.ReadInt32();
    else if (name == "Shape")
        Shape = static_cast<TShapeType>(ReadEnum(r, kShapeTypes, 6));
    else
        return ReadPenProperty(name, r, Pen) || TFaxGraphicControl::ReadProperty(name, r);
    return true;
}

TRenderRecord TFaxCoverShapes::RenderRecord() const
{
    TRenderRecord rec = Geometry(*this);
    rec.shape = Shape;
    rec.fill = ShapeFilltype;
    rec.penWidth = Pen.width * 2;
    rec.roundPerc = RoundPerc;
    return rec;
}

void TFaxCoverLine::Paint(QPainter& p) const
{
    const int pw = ZoomedPenWidth(Pen.width, Zoom);
    const int w = Scaled(Width, Zoom), ht = Scaled(Height, Zoom);
    const int h = pw / 2;
    p.save();
    p.setPen(ScreenPen(pw));
    switch (LineStyle) {
    case stHorizontal: p.drawLine(h, h, std::max(h, w + h - pw + 1 - 1), h); break;
    case stVertical: p.drawLine(h, h, h, std::max(h, h + ht - pw + 1 - 1)); break;
    case stAngleSlopingUp: p.drawLine(w, 0, 0, ht); break;
    case stAngleSlopingDown: p.drawLine(0, 0, w, ht); break;
    }
    p.restore();
}

void TFaxCoverLine::StretchToEdges()
{
    if (!host_)
        return;
    if (LineStyle == stHorizontal) {
        Left = 0;
        Width = host_->SurfaceWidth();
    } else if (LineStyle == stVertical) {
        Top = 0;
        Height = host_->SurfaceHeight();
    }
    BoundsChanged();
}

void TFaxCoverLine::AddMenuEntries(std::vector<TMenuEntry>& menu)
{
    menu.push_back(Separator());
    const char* styles[] = {"Horizontal", "Vertical", "Angled Sloping Up", "Angled Sloping Down"};
    std::vector<TMenuEntry> entries;
    for (int s = 0; s < 4; ++s)
        entries.push_back(Entry(
            styles[s],
            [this, s] {
                NotifyChanged();
                LineStyle = static_cast<TLineStyle>(s);
            },
            s));
    menu.push_back(Submenu("Style", std::move(entries)));
    menu.push_back(ThicknessMenu(this, &Pen));
    menu.push_back(Separator());
    menu.push_back(Entry("Stretch To Edges", [this] { StretchToEdges(); }));
}

void TFaxCoverLine::UpdateMenuChecks()
{
    if (TMenuEntry* e = FindEntry("Style"))
        CheckByTag(e->submenu, LineStyle);
    if (TMenuEntry* e = FindEntry("Line Thickness"))
        CheckByTag(e->submenu, Pen.width);
}

void TFaxCoverLine::WriteProperties(TPropertySink& sink) const
{
    TFaxGraphicControl::WriteProperties(sink);
    if (LineStyle != stHorizontal)
        sink.Ident("LineStyle", kLineStyles[LineStyle]);
    sink.Pen(Pen);
}

bool TFaxCoverLine::ReadProperty(const std::string& name, TValueReader& r)
{
    if (name == "LineStyle") {
        LineStyle = static_cast<TLineStyle>(ReadEnum(r, kLineStyles, 4));
        return true;
    }
    return ReadPenProperty(name, r, Pen) || TFaxGraphicControl::ReadProperty(name, r);
}

TRenderRecord TFaxCoverLine::RenderRecord() const
{
    TRenderRecord rec = Geometry(*this);
    rec.penWidth = Pen.width * 2;
    rec.lineStyle = LineStyle;
    return rec;
}

// ---- Image ----------------------------------------------------------------------------------------

void TFaxImage::SetAutoSize(bool value)
{
    autoSize_ = value;
    PictureChanged();
    NotifyChanged();
}

void TFaxImage::PictureChanged()
{
    if (autoSize_ && Picture.Width() > 0 && Picture.Height() > 0) {
        // The model is the 100% size: the picture's own.
        Width = Picture.Width();
        Height = Picture.Height();
        BoundsChanged();
    }
}

QImage TFaxImage::DrawToBitmap() const
{
    const int w = std::max(Width, 1), h = std::max(Height, 1);
    QImage work(w, h, QImage::Format_RGB32);
    work.fill(Qt::white);
    {
        QPainter p(&work);
        if (!Picture.Empty()) {
            QImage source = Picture.ToImage().scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            if (Picture.IsBitmap() && (Flip || Reverse))
                source = source.mirrored(Reverse, Flip);
            p.drawImage(0, 0, source);
        } else {
            p.setPen(ScreenPen(1));
            p.drawRect(GdiRect(0, 0, w, h));
        }
        if (BorderStyle == bsSingle) {
            p.setPen(ScreenPen(1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(GdiRect(0, 0, w, h));
        }
    }
    return work;
}

void TFaxImage::Paint(QPainter& p) const
{
    const QRect client(0, 0, Scaled(Width, Zoom), Scaled(Height, Zoom));
    p.drawImage(client, DrawToBitmap());
    if (host_) {
        QPen pen(Qt::black);
        pen.setStyle(Qt::DashLine);
        pen.setWidth(0);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(GdiRect(0, 0, client.width(), client.height()));
    }
}

void TFaxImage::LoadImage()
{
    TItemEditor* editor = Editor();
    if (!editor)
        return;
    std::string folder = TrimSpaces(ImageFolder);
    if (folder.empty() && host_)
        folder = TrimSpaces(host_->LastImageFolder());
    if (auto choice = editor->BrowseImage(folder)) {
        if (choice->picture.Empty()) {
            editor->ShowError(kErrorLoadingFile);
            Picture = TPicture();
            return;
        }
        Picture = std::move(choice->picture);
        PictureChanged();
        NotifyChanged();
        ImageFolder = choice->folder;
        if (host_)
            host_->LastImageFolder() = choice->folder;
    }
}

void TFaxImage::AddMenuEntries(std::vector<TMenuEntry>& menu)
{
    menu.push_back(Separator());
    menu.push_back(Entry("Load Image From Disk", [this] { LoadImage(); }));
    menu.push_back(Separator());
    menu.push_back(Entry("Border", [this] {
        BorderStyle = BorderStyle == bsSingle ? bsNone : bsSingle;
        NotifyChanged();
    }));
    menu.push_back(Entry("Stretch to Fit", [this] { SetStretch(!Stretch()); }));
    menu.push_back(Entry("AutoSize", [this] { SetAutoSize(!AutoSize()); }));
    menu.push_back(Entry("Flip", [this] {
        Flip = !Flip;
        NotifyChanged();
    }));
    menu.push_back(Entry("Reverse", [this] {
        Reverse = !Reverse;
        NotifyChanged();
    }));
}

void TFaxImage::UpdateMenuChecks()
{
    SetCheck("Border", BorderStyle == bsSingle);
    SetCheck("Stretch to Fit", Stretch());
    SetCheck("AutoSize", AutoSize());
    SetCheck("Flip", Flip);
    SetCheck("Reverse", Reverse);
    for (const char* c : {"Flip", "Reverse"})
        if (TMenuEntry* e = FindEntry(c))
            e->enabled = Picture.IsBitmap();
}

void TFaxImage::WriteProperties(TPropertySink& sink) const
{
    TFaxGraphicControl::WriteProperties(sink);
    if (autoSize_)
        sink.Boolean("AutoSize", true);
    if (!Stretch())
        sink.Boolean("Stretch", false);
    if (!Picture.Empty())
        sink.Binary("Picture.Data", EncodePictureData(Picture));
    if (BorderStyle != bsNone)
        sink.Ident("BorderStyle", kBorderStyles[BorderStyle]);
    sink.Boolean("Flip", Flip);
    sink.Boolean("Reverse", Reverse);
}

bool TFaxImage::ReadProperty(const std::string& name, TValueReader& r)
{
    if (name == "AutoSize")
        autoSize_ = r.ReadBoolean();
    else if (name == "Stretch")
        autoSize_ = !r.ReadBoolean();
    else if (name == "Picture.Data")
        Picture = DecodePictureData(r.ReadBinary());
    else if (name == "BorderStyle")
        BorderStyle = static_cast<TBorderStyle>(ReadEnum(r, kBorderStyles, 2));
    else if (name == "Flip")
        Flip = r.ReadBoolean();
    else if (name == "Reverse")
        Reverse = r.ReadBoolean();
    else
        return TFaxGraphicControl::ReadProperty(name, r);
    return true;
}

TRenderRecord TFaxImage::RenderRecord() const
{
    TRenderRecord rec = Geometry(*this);
    rec.block = EncodeBmpImage(DrawToBitmap());
    return rec;
}

// ---- Multi-line label ----------------------------------------------------------------------------

void TFaxMultiLineLabel::SetWordWrap(bool value)
{
    if (value == wordWrap_)
        return;
    wordWrap_ = value;
    if (value)
        Rewrap();
    SetCheck("Word Wrap", wordWrap_);
    NotifyChanged();
}

void TFaxMultiLineLabel::Rewrap()
{
    if (!wordWrap_)
        return;
    wrapped_ = WrapLines(Items, ZoomedFont(Font, 1.0f), Font.name, Width);
}

void TFaxMultiLineLabel::BoundsChanged()
{
    TFaxGraphicControl::BoundsChanged();
    if (wordWrap_)
        Rewrap();
}

void TFaxMultiLineLabel::ApplyFont(const TFontSpec& font)
{
    Font = font;
    Rewrap();
    NotifyChanged();
}

void TFaxMultiLineLabel::Paint(QPainter& p) const
{
    std::vector<std::string> lines = wordWrap_ ? wrapped_ : Items;
    const char* placeholder = BlankMemo ? "<blank memo>" : "<blank>";
    if (lines.empty())
        lines.push_back(placeholder);
    else if (lines.size() == 1 && TrimSpaces(lines[0]).empty())
        lines.push_back(placeholder);
    const QFont font = ZoomedFont(Font, Zoom);
    const QFontMetrics fm(font);
    const QRect r(0, 0, Scaled(Width, Zoom), Scaled(Height, Zoom));
    const int lineHeight = fm.height();
    p.save();
    p.setFont(font);
    p.setPen(FontColor(Font.color));
    int y = r.top();
    for (const std::string& line : lines) {
        const QString text = DrawnText(Font.name, line);
        const int tw = fm.horizontalAdvance(text);
        int x = 0;
        if (Alignment == taRightJustify)
            x = r.right() + 1 - tw - 1;
        else if (Alignment == taCenter)
            x = r.width() / 2 - tw / 2;
        p.setClipRect(QRect(r.left(), y, r.width(), lineHeight));
        p.drawText(x, y + fm.ascent(), text);
        y += lineHeight;
    }
    p.restore();
}

void TFaxMultiLineLabel::EditText()
{
    TItemEditor* editor = Editor();
    if (!editor)
        return;
    if (auto lines = editor->EditLines(Items, Font)) {
        Items = *lines;
        Rewrap();
        NotifyChanged();
    }
}

void TFaxMultiLineLabel::AddMenuEntries(std::vector<TMenuEntry>& menu)
{
    menu.push_back(Separator());
    menu.push_back(Entry("Font", [this] {
        TItemEditor* editor = Editor();
        if (!editor)
            return;
        if (auto font = editor->EditFont(Font, true))
            ApplyFont(*font);
    }));
    const char* names[] = {"Left", "Center", "Right"};
    const TAlignment values[] = {taLeftJustify, taCenter, taRightJustify};
    std::vector<TMenuEntry> entries;
    for (int i = 0; i < 3; ++i)
        entries.push_back(Entry(
            names[i],
            [this, v = values[i]] {
                Alignment = v;
                NotifyChanged();
            },
            values[i]));
    menu.push_back(Submenu("Alignment", std::move(entries)));
    menu.push_back(Separator());
    menu.push_back(Entry("Text", [this] { EditText(); }));
    menu.push_back(Entry("Word Wrap", [this] { SetWordWrap(!wordWrap_); }));
}

void TFaxMultiLineLabel::UpdateMenuChecks()
{
    if (TMenuEntry* e = FindEntry("Alignment"))
        CheckByTag(e->submenu, Alignment);
    SetCheck("Word Wrap", wordWrap_);
}

void TFaxMultiLineLabel::WriteProperties(TPropertySink& sink) const
{
    TFaxGraphicControl::WriteProperties(sink);
    if (!Items.empty())
        sink.Strings("Items.Strings", Items);
    sink.Boolean("AutoSize", AutoSize);
    if (Alignment != taLeftJustify)
        sink.Ident("Alignment", kAlignments[Alignment]);
    sink.Font(Font);
    if (wordWrap_)
        sink.Boolean("WordWrap", true);
}

bool TFaxMultiLineLabel::ReadProperty(const std::string& name, TValueReader& r)
{
    if (name == "Items.Strings" || name == "Lines.Strings") {
        Items.clear();
        r.ReadListBegin();
        while (!r.EndOfList())
            Items.push_back(r.ReadString());
        r.ReadListEnd();
    } else if (name == "AutoSize") {
        AutoSize = r.ReadBoolean();
    } else if (name == "Alignment") {
        Alignment = static_cast<TAlignment>(ReadEnum(r, kAlignments, 3));
    } else if (name == "WordWrap") {
        wordWrap_ = r.ReadBoolean();
    } else {
        return ReadFontProperty(name, r, Font) || TFaxGraphicControl::ReadProperty(name, r);
    }
    return true;
}

TRenderRecord TFaxMultiLineLabel::RenderRecord() const
{
    TRenderRecord rec = Geometry(*this);
    SetRecordFont(rec, Font);
    rec.alignment = Alignment == taRightJustify ? 1 : Alignment == taCenter ? 2 : 0;
    rec.wordWrap = wordWrap_;
    rec.block = JoinBlockLines(Items);
    return rec;
}

std::unique_ptr<TFaxGraphicControl> CreateItem(const std::string& className)
{
    if (className == "TFaxCoverLabel")
        return std::make_unique<TFaxCoverLabel>();
    if (className == "TFaxCoverSymbol")
        return std::make_unique<TFaxCoverSymbol>();
    if (className == "TFaxCoverShapes")
        return std::make_unique<TFaxCoverShapes>();
    if (className == "TFaxCoverLine")
        return std::make_unique<TFaxCoverLine>();
    if (className == "TFaxCoverMessage")
        return std::make_unique<TFaxCoverMessage>();
    if (className == "TFaxCoverImportance")
        return std::make_unique<TFaxCoverImportance>();
    if (className == "TFaxCoverField")
        return std::make_unique<TFaxCoverField>();
    if (className == "TFaxImage")
        return std::make_unique<TFaxImage>();
    if (className == "TFaxMultiLineLabel")
        return std::make_unique<TFaxMultiLineLabel>();
    return nullptr;
}

} // namespace zn::cover
