// Header lines and text covers drawn with the built-in fax font and MH-coded, as the fax
// components give them to the send session.
#pragma once
#include "comms/engine/fax_send_session.h"
#include "faxdoc/converter.h"

namespace zn::comms::test {

class FaxFontRows : public FaxTextRows {
public:
    int CodeText(const std::string& text, bool headerFont, bool fine, bool wide,
                 std::vector<std::vector<uint8_t>>& rows) override
    {
        faxdoc::TTextReader font;
        if (int rc = font.LoadFaxFont("APFAX.FNT", headerFont ? 16 : 48, fine))
            return rc;
        std::vector<uint8_t> raster(faxdoc::kRasterBufferSize), coded(faxdoc::kCodedRowBufferSize);
        int width = wide ? faxdoc::kWideLineWidth : faxdoc::kNormalLineWidth;
        for (int row = 1; row <= font.GlyphHeight(); ++row) {
            std::fill(raster.begin(), raster.end(), 0);
            font.RasterizeTextRow(text, row, raster.data());
            int n = faxdoc::CodeRasterRow(raster.data(), width / 8, width, 50, false, coded.data());
            rows.emplace_back(coded.begin(), coded.begin() + n);
        }
        return 0;
    }
};

} // namespace zn::comms::test
