// Named properties in the component stream: a property name as a short string, then its tagged
// value. Fonts and pens are written as dotted names ("Font.Height", "Pen.Width").
#pragma once

#include "cover/component_stream.h"
#include "cover/cover_types.h"

#include <string>
#include <vector>

namespace zn::cover {

class TPropertySink {
public:
    explicit TPropertySink(TValueWriter& w) : w_(w) {}
    void Integer(const std::string& name, int64_t v)
    {
        Name(name);
        w_.WriteInteger(v);
    }
    void Boolean(const std::string& name, bool v)
    {
        Name(name);
        w_.WriteBoolean(v);
    }
    void String(const std::string& name, const std::string& v)
    {
        Name(name);
        w_.WriteString(v);
    }
    void Ident(const std::string& name, const std::string& v)
    {
        Name(name);
        w_.WriteIdent(v);
    }
    void Binary(const std::string& name, const std::vector<uint8_t>& v)
    {
        Name(name);
        w_.WriteBinary(v);
    }
    void Strings(const std::string& name, const std::vector<std::string>& lines);
    void Color(const std::string& name, uint32_t color);
    void Font(const TFontSpec& font);
    // Only what differs from the default pen (black, solid, width 1).
    void Pen(const TPenSpec& pen);

private:
    void Name(const std::string& name) { w_.WriteShortString(name); }
    TValueWriter& w_;
};

uint32_t ReadColor(TValueReader& r);
// "Font.*" and "Pen.*" properties; false when the name is none of them.
bool ReadFontProperty(const std::string& name, TValueReader& r, TFontSpec& font);
bool ReadPenProperty(const std::string& name, TValueReader& r, TPenSpec& pen);
// An enumeration value stored by name (or, from other writers, by number).
int ReadEnum(TValueReader& r, const char* const* names, int count);

} // namespace zn::cover
