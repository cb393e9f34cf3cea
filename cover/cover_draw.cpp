// Drawing a render file's records onto a canvas (no fax files, folders or settings: fuzzed alone).
#include "cover/cover_renderer.h"

#include "cover/component_stream.h"
#include "cover/cover_items.h"
#include "cover/picture.h"
#include "cover/render_file.h"
#include "cover/design_filer.h"

#include <algorithm>
#include <optional>
#include <sys/stat.h>

namespace zn::cover {

namespace {

const char* const kImportancePrefixes[5] = {
    "[",
    "[  ]Urgent     [",
    "[  ]Urgent     [  ]For Review     [",
    "[  ]Urgent     [  ]For Review     [  ]Please Comment     [",
    "[  ]Urgent     [  ]For Review     [  ]Please Comment     [  ]Please Reply     [",
};

// Coordinates beyond this draw nothing on any page; pens wider than this are no cover's lines.
constexpr int64_t kFarOff = 1 << 20;
constexpr int kWidestPen = 64;

// A failure that ends the rendering (as a read failure does), not just the item.
struct TStopRendering {};

struct TItemRect {
    int left, top, right, bottom;
};

void SetCanvasFont(TMonoCanvas& canvas, const TRenderRecord& rec, int scale)
{
    // points = stored x 96 / screen ppi / scale, in floating point and truncated
    const int points = static_cast<int>(static_cast<double>(rec.fontSize) * 96.0 / kScreenPixelsPerInch / scale);
    canvas.SetFont(rec.fontName, points, rec.bold, rec.italic, rec.underline);
}

void DrawText(TMonoCanvas& canvas, const TRenderRecord& rec, const TItemRect& r, int scale, const std::string& text)
{
    SetCanvasFont(canvas, rec, scale);
    canvas.TextOut(r.left, r.top, text);
}

void DrawShape(TMonoCanvas& canvas, const TRenderRecord& rec, const TItemRect& r, int width, int height, int scale)
{
    canvas.SetPenWidth(std::clamp(rec.penWidth / scale, 0, kWidestPen));
    canvas.SetBrush(rec.fill == sftFilledWhite ? bkWhite : rec.fill == sftFilledBlack ? bkBlack : bkClear);
    switch (rec.shape) {
    case stRectangle:
    case stSquare: canvas.Rectangle(r.left, r.top, r.right, r.bottom); break;
    case stRoundRect:
    case stRoundSquare: {
        const double corner = std::max(width, height) * std::clamp(rec.roundPerc, 0, 100) * 0.01;
        const int d = static_cast<int>(corner);
        canvas.RoundRect(r.left, r.top, r.right, r.bottom, d, d);
        break;
    }
    case stEllipse:
    case stCircle: canvas.Ellipse(r.left, r.top, r.right, r.bottom); break;
    default: break;
    }
    canvas.SetBrush(bkClear);
}

void DrawLine(TMonoCanvas& canvas, const TRenderRecord& rec, const TItemRect& r, int scale)
{
    canvas.SetPenWidth(std::clamp(rec.penWidth / scale, 0, kWidestPen));
    switch (rec.lineStyle) {
    case stHorizontal:
        canvas.MoveTo(r.left, r.top);
        canvas.LineTo(r.right, r.top);
        break;
    case stVertical:
        canvas.MoveTo(r.left, r.top);
        canvas.LineTo(r.left, r.bottom);
        break;
    case stAngleSlopingUp:
        canvas.MoveTo(r.left, r.bottom);
        canvas.LineTo(r.right, r.top);
        break;
    case stAngleSlopingDown:
        canvas.MoveTo(r.left, r.top);
        canvas.LineTo(r.right, r.bottom);
        break;
    default: break;
    }
}

void DrawImportance(TMonoCanvas& canvas, const TRenderRecord& rec, const TItemRect& r, int scale,
                    const TCoverValues& values)
{
    bool any = false;
    for (int i = 0; i < 5; ++i)
        any |= values.Flag(i);
    if (!any)
        return;
    DrawText(canvas, rec, r, scale, TFaxCoverImportance::kLine);
    for (int i = 0; i < 5; ++i)
        if (values.Flag(i))
            canvas.TextOut(r.left + canvas.TextWidth(kImportancePrefixes[i]), r.top, "X");
}

void DrawMessage(TMonoCanvas& canvas, const TRenderRecord& rec, const TItemRect& r, int scale,
                 const std::vector<std::string>& message)
{
    SetCanvasFont(canvas, rec, scale);
    const int points = static_cast<int>(static_cast<double>(rec.fontSize) * 96.0 / kScreenPixelsPerInch / scale);
    const QFont font = MakeFont(rec.fontName, points, rec.bold, rec.italic, rec.underline);
    const std::vector<std::string> lines = WrapLines(message, font, rec.fontName, r.right - r.left + 1);
    const int h = canvas.TextHeight("Ay");
    int y = r.top;
    // The first line always; a further one only while it ends above the box's bottom.
    for (const std::string& line : lines) {
        canvas.TextOut(r.left, y, line);
        y += h;
        if (y + h >= r.bottom)
            break;
    }
}

void DrawMultiLine(TMonoCanvas& canvas, const TRenderRecord& rec, const TItemRect& r, int scale,
                   const std::vector<std::string>& lines)
{
    SetCanvasFont(canvas, rec, scale);
    const int h = canvas.TextHeight("XXX");
    int y = r.top;
    for (const std::string& line : lines) {
        if (y > r.bottom) // a line would start below the box
            break;
        const int tw = canvas.TextWidth(line);
        int x = r.left;
        if (rec.alignment == 1)
            x = r.right - tw - 1;
        else if (rec.alignment == 2)
            x = r.left + (r.right - r.left) / 2 - tw / 2;
        canvas.TextOutClipped(QRect(r.left, y, r.right - r.left, h), x, y, line);
        y += h;
    }
}

void DrawRecord(TMonoCanvas& canvas, const TRenderRecord& rec, int scale, const TCoverValues& values,
                const std::vector<std::string>& message)
{
    // Geometry far off the page is held to a range that cannot overflow and draws nothing more.
    const auto held = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, -kFarOff, kFarOff)); };
    const int left = held(rec.left / scale), top = held(rec.top / scale);
    const int width = held(rec.width / scale), height = held(rec.height / scale);
    const TItemRect r{left + kRenderOffset, top + kRenderOffset, held(int64_t{left} + width) + kRenderOffset,
                      held(int64_t{top} + height) + kRenderOffset};
    // Text, shape, picture and multi-line failures lose only their item; the others end the page.
    const auto swallowed = [](auto&& draw) {
        try {
            draw();
        } catch (const std::exception&) {
        }
    };
    switch (rec.kind) {
    case rkLabel:
    case rkSymbol: swallowed([&] { DrawText(canvas, rec, r, scale, rec.caption); }); break;
    case rkShape: swallowed([&] { DrawShape(canvas, rec, r, width, height, scale); }); break;
    case rkLine: DrawLine(canvas, rec, r, scale); break;
    case rkImportance: DrawImportance(canvas, rec, r, scale, values); break;
    case rkField: {
        const std::string* value = values.Field(rec.fieldType);
        DrawText(canvas, rec, r, scale, value ? *value : rec.caption);
        break;
    }
    case rkMessage: DrawMessage(canvas, rec, r, scale, message); break;
    case rkImage:
        swallowed([&] {
            if (const std::optional<QImage> picture = DecodeBmpImage(rec.block))
                canvas.StretchDraw(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top), *picture);
        });
        break;
    case rkMultiLine:
        swallowed([&] {
            std::vector<std::string> lines = SplitBlockLines(rec.block);
            if (rec.wordWrap) {
                const int points =
                    static_cast<int>(static_cast<double>(rec.fontSize) * 96.0 / kScreenPixelsPerInch / scale);
                lines = WrapLines(lines, MakeFont(rec.fontName, points, rec.bold, rec.italic, rec.underline),
                                  rec.fontName, width);
            }
            DrawMultiLine(canvas, rec, r, scale, lines);
        });
        break;
    default: break;
    }
}

bool FileExists(const std::string& name)
{
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

void RenderCoverBytes(TMonoCanvas& canvas, const std::vector<uint8_t>& bytes, const TCoverValues& values,
                      const std::vector<std::string>& message, int scale)
{
    if (scale < 1)
        scale = 1;
    TValueReader r(bytes);
    while (!r.AtEnd()) {
        try {
            const TRenderRecord rec = ReadRenderRecord(r);
            DrawRecord(canvas, rec, scale, values, message);
        } catch (const std::exception&) {
            return; // a record that cannot be read or drawn ends the page; what was drawn stays
        }
    }
}

void RenderCoverFile(TMonoCanvas& canvas, const std::string& fileName, const TCoverValues& values,
                     const std::vector<std::string>& message, int scale)
{
    if (!FileExists(fileName))
        return;
    std::vector<uint8_t> bytes;
    try {
        bytes = ReadFileBytes(fileName);
    } catch (const TStreamError&) {
        return;
    }
    RenderCoverBytes(canvas, bytes, values, message, scale);
}

} // namespace zn::cover
