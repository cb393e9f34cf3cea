#include "cover/mono_canvas.h"

#include "cover/symbol_font.h"

#include <QFontMetrics>
#include <QPen>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zn::cover {

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The faces the templates name, drawn with fonts of the same metrics.
QString FamilyFor(const std::string& name)
{
    const std::string n = Lower(name);
    if (n == "arial" || n == "helvetica" || n == "ms sans serif" || n.empty())
        return QStringLiteral("Liberation Sans");
    if (n == "courier" || n == "courier new")
        return QStringLiteral("Liberation Mono");
    if (n == "times new roman" || n == "times")
        return QStringLiteral("Liberation Serif");
    if (IsSymbolFont(name))
        return QString::fromLatin1(kSymbolFontFamily);
    return QString::fromLatin1(name.c_str());
}

void PutLe16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

} // namespace

bool IsSymbolFont(const std::string& fontName) { return Lower(fontName) == "wingdings"; }

QString DrawnText(const std::string& fontName, const std::string& text)
{
    if (IsSymbolFont(fontName))
        return SymbolText(text);
    return QString::fromLatin1(text.data(), static_cast<int>(text.size()));
}

QFont MakeFont(const std::string& name, int points, bool bold, bool italic, bool underline)
{
    QFont font(FamilyFor(name));
    // The character height in pixels at 96 ppi, rounded as the platform rounds it.
    // Glyphs taller than a page are no cover's text: the size is held there.
    const int pixels = std::clamp((std::min(std::abs(points), 2000) * kScreenPixelsPerInch + 36) / 72, 1, 2667);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

TMonoCanvas::TMonoCanvas(int width, int height) : image_(width, height, QImage::Format_Mono)
{
    image_.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image_.setDotsPerMeterX(3780); // 96 ppi
    image_.setDotsPerMeterY(3780);
    image_.fill(1);
    SetFont("Arial", 20, false, false, false);
}

TMonoCanvas::~TMonoCanvas() = default;

QPainter& TMonoCanvas::Painter()
{
    if (!painter_) {
        painter_ = std::make_unique<QPainter>(&image_);
        painter_->setRenderHint(QPainter::Antialiasing, false);
        painter_->setRenderHint(QPainter::TextAntialiasing, false);
        painter_->setRenderHint(QPainter::SmoothPixmapTransform, false);
    }
    return *painter_;
}

void TMonoCanvas::SetFont(const std::string& name, int points, bool bold, bool italic, bool underline)
{
    fontName_ = name;
    font_ = MakeFont(name, points, bold, italic, underline);
}

void TMonoCanvas::FillSpan(int left, int top, int right, int bottom, bool black)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, Width());
    bottom = std::min(bottom, Height());
    if (left >= right || top >= bottom)
        return;
    // Whole bytes at once: rows are the page's hot path (backgrounds, bands, filled boxes).
    for (int y = top; y < bottom; ++y) {
        uint8_t* row = image_.scanLine(y);
        int x = left;
        for (; x < right && (x & 7); ++x)
            black ? row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)))
                  : row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        const int wholeEnd = right & ~7;
        if (x < wholeEnd) {
            std::memset(row + (x >> 3), black ? 0x00 : 0xFF, static_cast<size_t>((wholeEnd - x) >> 3));
            x = wholeEnd;
        }
        for (; x < right; ++x)
            black ? row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)))
                  : row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
}

void TMonoCanvas::Rectangle(int left, int top, int right, int bottom)
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    if (painter_)
        painter_.reset(); // direct pixel work below: no painting may be pending
    if (brush_ != bkClear)
        FillSpan(left, top, right, bottom, brush_ == bkBlack);
    if (right - left < 1 || bottom - top < 1)
        return;
    // The frame runs along the first and last covered pixel; a wide pen is centred on it.
    const int p = std::max(1, penWidth_);
    const int o = p / 2;
    FillSpan(left - o, top - o, left - o + p, bottom - 1 - o + p, true);
    FillSpan(right - 1 - o, top - o, right - 1 - o + p, bottom - 1 - o + p, true);
    FillSpan(left - o, top - o, right - 1 - o + p, top - o + p, true);
    FillSpan(left - o, bottom - 1 - o, right - 1 - o + p, bottom - 1 - o + p, true);
}

namespace {

QPen CanvasPen(int width)
{
    QPen pen(Qt::black);
    pen.setWidth(std::max(1, width));
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

QBrush CanvasBrush(TBrushKind brush)
{
    switch (brush) {
    case bkWhite: return QBrush(Qt::white);
    case bkBlack: return QBrush(Qt::black);
    default: return Qt::NoBrush;
    }
}

} // namespace

void TMonoCanvas::RoundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight)
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    QPainter& p = Painter();
    p.setPen(CanvasPen(penWidth_));
    p.setBrush(CanvasBrush(brush_));
    p.drawRoundedRect(QRect(left, top, right - left - 1, bottom - top - 1), cornerWidth / 2.0, cornerHeight / 2.0);
}

void TMonoCanvas::Ellipse(int left, int top, int right, int bottom)
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    QPainter& p = Painter();
    p.setPen(CanvasPen(penWidth_));
    p.setBrush(CanvasBrush(brush_));
    p.drawEllipse(QRect(left, top, right - left - 1, bottom - top - 1));
}

void TMonoCanvas::PlotLine(int x0, int y0, int x1, int y1, bool includeEnd)
{
    const int p = std::max(1, penWidth_);
    const int o = p / 2;
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    int x = x0, y = y0;
    for (;;) {
        const bool atEnd = x == x1 && y == y1;
        if (atEnd && !includeEnd)
            break;
        if (p == 1) {
            if (x >= 0 && y >= 0 && x < Width() && y < Height())
                image_.scanLine(y)[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
        } else {
            FillSpan(x - o, y - o, x - o + p, y - o + p, true);
        }
        if (atEnd)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy)
            err += dy, x += sx;
        if (e2 <= dx)
            err += dx, y += sy;
    }
}

void TMonoCanvas::LineTo(int x, int y)
{
    if (painter_)
        painter_.reset();
    // A one-pixel line leaves out its end pixel; a wide one is a band that reaches it.
    PlotLine(penX_, penY_, x, y, penWidth_ > 1);
    penX_ = x;
    penY_ = y;
}

void TMonoCanvas::TextOut(int x, int y, const std::string& text)
{
    QPainter& p = Painter();
    p.setFont(font_);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    const QFontMetrics fm(font_, &image_);
    p.drawText(x, y + fm.ascent(), DrawnText(fontName_, text));
}

void TMonoCanvas::TextOutClipped(const QRect& clip, int x, int y, const std::string& text)
{
    QPainter& p = Painter();
    p.save();
    p.setClipRect(clip);
    TextOut(x, y, text);
    p.restore();
}

int TMonoCanvas::TextWidth(const std::string& text) const
{
    return QFontMetrics(font_, &image_).horizontalAdvance(DrawnText(fontName_, text));
}

int TMonoCanvas::TextHeight(const std::string&) const { return QFontMetrics(font_, &image_).height(); }

void TMonoCanvas::StretchDraw(const QRect& target, const QImage& picture)
{
    if (picture.isNull() || target.width() <= 0 || target.height() <= 0)
        return;
    // Made black and white at its own size, then scaled while drawn: only the part on the page is
    // ever expanded, however large the target.
    QImage mono = picture.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither | Qt::AvoidDither);
    if (mono.colorCount() == 2 && qGray(mono.color(0)) > qGray(mono.color(1))) {
        mono.invertPixels();
        mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    }
    QPainter& p = Painter();
    p.drawImage(target, mono);
}

std::vector<uint8_t> TMonoCanvas::Rows(int& stride) const
{
    if (painter_)
        const_cast<TMonoCanvas*>(this)->painter_.reset();
    stride = static_cast<int>(image_.bytesPerLine());
    const uint8_t* bits = image_.constBits();
    return std::vector<uint8_t>(bits, bits + image_.sizeInBytes());
}

std::vector<uint8_t> TMonoCanvas::BmpFile() const
{
    if (painter_)
        const_cast<TMonoCanvas*>(this)->painter_.reset();
    return EncodeMonoBmp(image_);
}

std::vector<uint8_t> EncodeMonoBmp(const QImage& source)
{
    QImage mono = source.format() == QImage::Format_Mono ? source : source.convertToFormat(QImage::Format_Mono);
    const bool inverted = mono.colorCount() == 2 && qGray(mono.color(0)) > qGray(mono.color(1));
    const uint32_t stride = static_cast<uint32_t>((mono.width() + 31) / 32 * 4);
    const uint32_t imageSize = stride * static_cast<uint32_t>(mono.height());
    const uint32_t offset = 14 + 40 + 8;
    std::vector<uint8_t> out;
    out.reserve(offset + imageSize);
    out.push_back('B');
    out.push_back('M');
    PutLe32(out, offset + imageSize);
    PutLe32(out, 0);
    PutLe32(out, offset);
    PutLe32(out, 40);
    PutLe32(out, static_cast<uint32_t>(mono.width()));
    PutLe32(out, static_cast<uint32_t>(mono.height()));
    PutLe16(out, 1);
    PutLe16(out, 1);
    PutLe32(out, 0);
    PutLe32(out, imageSize);
    PutLe32(out, 3780);
    PutLe32(out, 3780);
    PutLe32(out, 2);
    PutLe32(out, 2);
    PutLe32(out, 0x00000000); // black
    PutLe32(out, 0x00FFFFFF); // white
    const size_t rowBytes = static_cast<size_t>((mono.width() + 7) / 8);
    for (int y = mono.height() - 1; y >= 0; --y) {
        const uint8_t* row = mono.constScanLine(y);
        const size_t at = out.size();
        out.resize(at + stride, 0);
        for (size_t i = 0; i < rowBytes; ++i)
            out[at + i] = inverted ? static_cast<uint8_t>(~row[i]) : row[i];
        if (mono.width() % 8) // the padding bits of the last byte stay black-free (white)
            out[at + rowBytes - 1] |= static_cast<uint8_t>(0xFF >> (mono.width() % 8));
    }
    return out;
}

} // namespace zn::cover
