// A black-and-white drawing surface with the pixel conventions the cover renderer and its
// templates were made for: a rectangle covers its left and top edges but not its right and bottom
// ones, a line leaves out its end pixel, text is placed by the top of its character cell, and
// everything is measured at 96 pixels per inch. It paints on a 1-bit QImage (index 0 black, 1 white:
// the order of a monochrome bitmap file), so that pages come out as they will be faxed.
#pragma once

#include "cover/cover_types.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zn::cover {

// The toolkit font for a template font: "Arial" and "Courier" are drawn with the metric-compatible
// Liberation fonts, "WingDings" with a font that has its symbols (see SymbolText).
QFont MakeFont(const std::string& name, int points, bool bold, bool italic, bool underline);
// Text as drawn in `fontName`: the single-byte text of a template, its symbol codes mapped to
// Unicode for the symbol fonts.
QString DrawnText(const std::string& fontName, const std::string& text);
bool IsSymbolFont(const std::string& fontName);

enum TBrushKind { bkClear, bkWhite, bkBlack };

class TMonoCanvas {
public:
    TMonoCanvas(int width, int height);
    ~TMonoCanvas();
    TMonoCanvas(const TMonoCanvas&) = delete;
    TMonoCanvas& operator=(const TMonoCanvas&) = delete;

    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    const QImage& Image() const { return image_; }
    bool IsBlack(int x, int y) const { return image_.pixelIndex(x, y) == 0; }

    void SetFont(const std::string& name, int points, bool bold, bool italic, bool underline);
    const std::string& FontName() const { return fontName_; }
    void SetPenWidth(int width) { penWidth_ = width; }
    void SetBrush(TBrushKind brush) { brush_ = brush; }

    void Rectangle(int left, int top, int right, int bottom);
    void RoundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight);
    void Ellipse(int left, int top, int right, int bottom);
    void MoveTo(int x, int y) { penX_ = x, penY_ = y; }
    void LineTo(int x, int y);
    // Black text with a clear background, the top of its cell at y.
    void TextOut(int x, int y, const std::string& text);
    // The same, clipped to `clip`.
    void TextOutClipped(const QRect& clip, int x, int y, const std::string& text);
    int TextWidth(const std::string& text) const;
    int TextHeight(const std::string& text) const;
    // The picture scaled (nearest pixel) into the rectangle, black where the picture is dark.
    void StretchDraw(const QRect& target, const QImage& picture);

    // The page as converter rows: 1 bit per pixel, 1 = white, MSB leftmost.
    std::vector<uint8_t> Rows(int& stride) const;
    // A 1-bit .BMP file of the page.
    std::vector<uint8_t> BmpFile() const;

private:
    QPainter& Painter();
    void FillSpan(int left, int top, int right, int bottom, bool black); // right and bottom exclusive
    void PlotLine(int x0, int y0, int x1, int y1, bool includeEnd);

    QImage image_;
    std::unique_ptr<QPainter> painter_;
    QFont font_;
    std::string fontName_;
    int penWidth_ = 1;
    TBrushKind brush_ = bkClear;
    int penX_ = 0, penY_ = 0;
};

// A 1-bit .BMP file of a black-and-white QImage (index 0 black).
std::vector<uint8_t> EncodeMonoBmp(const QImage& mono);

} // namespace zn::cover
