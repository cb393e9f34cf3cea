#include "cover/render_file.h"

namespace zn::cover {

void WriteRenderRecord(TValueWriter& w, const TRenderRecord& rec)
{
    w.WriteListBegin();
    w.WriteInteger(rec.kind);
    w.WriteInteger(rec.left);
    w.WriteInteger(rec.top);
    w.WriteInteger(rec.width);
    w.WriteInteger(rec.height);
    if (rec.kind >= rkLabel && rec.kind <= rkMessage) {
        w.WriteString(rec.caption);
        w.WriteString(rec.fontName);
        w.WriteInteger(rec.fontSize);
        w.WriteBoolean(rec.bold);
        w.WriteBoolean(rec.italic);
        w.WriteBoolean(rec.underline);
        for (int v : {rec.shape, rec.fill, rec.penWidth, rec.lineStyle, rec.roundPerc, rec.fieldType})
            w.WriteInteger(v);
    } else if (rec.kind == rkImage) {
        w.WriteRawBlock(rec.block);
    } else if (rec.kind == rkMultiLine) {
        w.WriteString(rec.fontName);
        w.WriteInteger(rec.fontSize);
        w.WriteBoolean(rec.bold);
        w.WriteBoolean(rec.italic);
        w.WriteBoolean(rec.underline);
        w.WriteInteger(rec.alignment);
        w.WriteBoolean(rec.wordWrap);
        w.WriteRawBlock(rec.block);
    }
    w.WriteListEnd();
}

TRenderRecord ReadRenderRecord(TValueReader& r)
{
    TRenderRecord rec;
    r.ReadListBegin();
    rec.kind = r.ReadInt32();
    rec.left = r.ReadInt32();
    rec.top = r.ReadInt32();
    rec.width = r.ReadInt32();
    rec.height = r.ReadInt32();
    if (rec.kind >= rkLabel && rec.kind <= rkMessage) {
        rec.caption = r.ReadString();
        rec.fontName = r.ReadString();
        rec.fontSize = r.ReadInt32();
        rec.bold = r.ReadBoolean();
        rec.italic = r.ReadBoolean();
        rec.underline = r.ReadBoolean();
        for (int* v : {&rec.shape, &rec.fill, &rec.penWidth, &rec.lineStyle, &rec.roundPerc, &rec.fieldType})
            *v = r.ReadInt32();
    } else if (rec.kind == rkImage) {
        rec.block = r.ReadRawBlock();
    } else if (rec.kind == rkMultiLine) {
        rec.fontName = r.ReadString();
        rec.fontSize = r.ReadInt32();
        rec.bold = r.ReadBoolean();
        rec.italic = r.ReadBoolean();
        rec.underline = r.ReadBoolean();
        rec.alignment = r.ReadInt32();
        rec.wordWrap = r.ReadBoolean();
        rec.block = r.ReadRawBlock();
    }
    r.ReadListEnd();
    return rec;
}

std::vector<std::string> SplitBlockLines(const std::vector<uint8_t>& block)
{
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (size_t i = 0; i < block.size(); ++i) {
        const char c = static_cast<char>(block[i]);
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (c == '\r' && i + 1 < block.size() && block[i + 1] == '\n')
                ++i;
        } else {
            line.push_back(c);
            open = true;
        }
    }
    if (open)
        lines.push_back(line);
    return lines;
}

std::vector<uint8_t> JoinBlockLines(const std::vector<std::string>& lines)
{
    std::vector<uint8_t> block;
    for (const std::string& l : lines) {
        block.insert(block.end(), l.begin(), l.end());
        block.push_back('\r');
        block.push_back('\n');
    }
    return block;
}

} // namespace zn::cover
