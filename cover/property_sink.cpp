#include "cover/property_sink.h"

namespace zn::cover {

namespace {

struct TNamedColor {
    const char* name;
    uint32_t value;
};
constexpr TNamedColor kColors[] = {
    {"clBlack", clBlack},  {"clWhite", clWhite},     {"clWindowText", clWindowText}, {"clMaroon", 0x000080},
    {"clGreen", 0x008000}, {"clOlive", 0x008080},    {"clNavy", 0x800000},           {"clPurple", 0x800080},
    {"clTeal", 0x808000},  {"clGray", 0x808080},     {"clSilver", 0xC0C0C0},         {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},  {"clYellow", 0x00FFFF},   {"clBlue", 0xFF0000},           {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},  {"clWindow", 0x80000005}, {"clBtnFace", 0x8000000F}};

const char* const kPenStyles[] = {"psSolid",      "psDash",  "psDot",        "psDashDot",
                                  "psDashDotDot", "psClear", "psInsideFrame"};

} // namespace

void TPropertySink::Strings(const std::string& name, const std::vector<std::string>& lines)
{
    Name(name);
    w_.WriteListBegin();
    for (const std::string& l : lines)
        w_.WriteString(l);
    w_.WriteListEnd();
}

void TPropertySink::Color(const std::string& name, uint32_t color)
{
    for (const TNamedColor& c : kColors)
        if (c.value == color)
            return Ident(name, c.name);
    Integer(name, static_cast<int32_t>(color));
}

void TPropertySink::Font(const TFontSpec& font)
{
    Ident("Font.Charset", font.charset);
    Color("Font.Color", font.color);
    Integer("Font.Height", font.height);
    String("Font.Name", font.name);
    std::vector<std::string> style;
    if (font.bold)
        style.push_back("fsBold");
    if (font.italic)
        style.push_back("fsItalic");
    if (font.underline)
        style.push_back("fsUnderline");
    if (font.strikeOut)
        style.push_back("fsStrikeOut");
    Name("Font.Style");
    w_.WriteSet(style);
}

void TPropertySink::Pen(const TPenSpec& pen)
{
    if (pen.color != clBlack)
        Color("Pen.Color", pen.color);
    if (pen.style != psSolid)
        Ident("Pen.Style", kPenStyles[pen.style]);
    if (pen.width != 1)
        Integer("Pen.Width", pen.width);
}

uint32_t ReadColor(TValueReader& r)
{
    if (r.NextValue() == vaIdent) {
        const std::string name = r.ReadIdent();
        for (const TNamedColor& c : kColors)
            if (name == c.name)
                return c.value;
        return clBlack;
    }
    return static_cast<uint32_t>(r.ReadInt32());
}

int ReadEnum(TValueReader& r, const char* const* names, int count)
{
    const TValueType t = r.NextValue();
    if (t == vaInt8 || t == vaInt16 || t == vaInt32) {
        const int v = r.ReadInt32();
        if (v < 0 || v >= count)
            throw TStreamError("an enumeration value out of range");
        return v;
    }
    const std::string name = r.ReadIdent();
    for (int i = 0; i < count; ++i)
        if (name == names[i])
            return i;
    throw TStreamError("an unknown enumeration value: " + name);
}

bool ReadFontProperty(const std::string& name, TValueReader& r, TFontSpec& font)
{
    if (name == "Font.Charset") {
        font.charset = r.NextValue() == vaIdent ? r.ReadIdent() : std::to_string(r.ReadInt32());
    } else if (name == "Font.Color") {
        font.color = ReadColor(r);
    } else if (name == "Font.Height") {
        font.height = r.ReadInt32();
    } else if (name == "Font.Size") {
        font.SetSize(r.ReadInt32());
    } else if (name == "Font.Name") {
        font.name = r.ReadString();
    } else if (name == "Font.Style") {
        font.bold = font.italic = font.underline = font.strikeOut = false;
        for (const std::string& m : r.ReadSet()) {
            font.bold |= m == "fsBold";
            font.italic |= m == "fsItalic";
            font.underline |= m == "fsUnderline";
            font.strikeOut |= m == "fsStrikeOut";
        }
    } else {
        return false;
    }
    return true;
}

bool ReadPenProperty(const std::string& name, TValueReader& r, TPenSpec& pen)
{
    if (name == "Pen.Color")
        pen.color = ReadColor(r);
    else if (name == "Pen.Style")
        pen.style = static_cast<TPenStyle>(ReadEnum(r, kPenStyles, 7));
    else if (name == "Pen.Width")
        pen.width = r.ReadInt32();
    else
        return false;
    return true;
}

} // namespace zn::cover
