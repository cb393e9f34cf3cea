// The enhanced-text reader: text lines drawn with a font of the toolkit (Qt Gui) instead of the
// built-in fax font. Needs a running QGuiApplication.
#pragma once

#include "faxdoc/converter.h"
#include "faxdoc/fax_converter.h"

#include <memory>
#include <vector>

namespace zn::faxdoc {

class TEnhTextReader : public TTextReader {
public:
    TEnhTextReader();
    ~TEnhTextReader() override;

    // Sets the font for a row width and left margin (pixels); in high resolution at twice its size.
    // -8055 when one text line's bitmap would exceed 65536 bytes.
    int SetEnhTextFont(int lineWidth, int leftMargin, const TFaxTextFont& font, bool highResolution);
    int GlyphHeight() const override { return height_; }
    // Row 1 draws the text; every row copies its bitmap row, each pixel twice in normal resolution.
    void RasterizeTextRow(const std::string& text, int row, uint8_t* raster) override;

protected:
    bool HasFont() const override { return height_ > 0; }
    size_t MaxChars(const ConverterState&) const override { return kRasterBufferSize; } // the bitmap clips

private:
    struct TFontState;
    std::unique_ptr<TFontState> font_;
    bool high_ = false;
    int width_ = 0;             // bitmap width in pixels: the row width less the margin
    int height_ = 0;            // rows per text line
    int stride_ = 0;            // bytes per bitmap row
    std::vector<uint8_t> rows_; // the drawn line, 1 = black
};

// Lets TFxFaxConverter make enhanced-text readers (idTextEx); programs with a GUI call it once.
void InstallEnhTextReader();

} // namespace zn::faxdoc
