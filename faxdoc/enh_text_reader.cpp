#include "faxdoc/enh_text_reader.h"

#include "faxdoc/fax_errors.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {

constexpr size_t kMaxTextBitmapBytes = 65536;

struct TEnhTextReader::TFontState {
    QFont font;
};

TEnhTextReader::TEnhTextReader() = default;
TEnhTextReader::~TEnhTextReader() = default;

int TEnhTextReader::SetEnhTextFont(int lineWidth, int leftMargin, const TFaxTextFont& font, bool highResolution)
{
    auto f = std::make_unique<TFontState>();
    f->font = QFont(QString::fromStdString(font.name));
    f->font.setPointSize(std::max(1, font.size) * (highResolution ? 2 : 1));
    f->font.setBold(font.bold);
    f->font.setItalic(font.italic);
    f->font.setStyleStrategy(QFont::NoAntialias);
    const int width = std::max(lineWidth - std::max(leftMargin, 0), 8);
    QImage probe(8, 8, QImage::Format_Mono);
    const int height = QFontMetrics(f->font, &probe).boundingRect(QStringLiteral("Wy")).height();
    const int stride = (width + 15) / 16 * 2;
    if (static_cast<size_t>(stride) * static_cast<size_t>(height) > kMaxTextBitmapBytes)
        return ecEnhFontTooBig;
    font_ = std::move(f);
    high_ = highResolution;
    width_ = width;
    height_ = height;
    stride_ = stride;
    rows_.assign(static_cast<size_t>(stride_) * static_cast<size_t>(height_), 0);
    return ecOK;
}

void TEnhTextReader::RasterizeTextRow(const std::string& text, int row, uint8_t* raster)
{
    if (!font_ || row < 1 || row > height_)
        return;
    if (row == 1) {
        QImage image(width_, height_, QImage::Format_Grayscale8);
        image.fill(Qt::white);
        {
            QPainter p(&image);
            p.setFont(font_->font);
            p.setPen(Qt::black);
            p.drawText(0, QFontMetrics(font_->font, &image).ascent(),
                       QString::fromLatin1(text.data(), static_cast<int>(text.size())));
        }
        std::fill(rows_.begin(), rows_.end(), 0);
        for (int y = 0; y < height_; ++y) {
            const uchar* line = image.constScanLine(y);
            uint8_t* out = &rows_[static_cast<size_t>(y) * static_cast<size_t>(stride_)];
            for (int x = 0; x < width_; ++x)
                if (line[x] < 128)
                    out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
    }
    const uint8_t* src = &rows_[static_cast<size_t>(row - 1) * static_cast<size_t>(stride_)];
    if (high_) {
        std::memcpy(raster, src, static_cast<size_t>(std::min(stride_, kRasterBufferSize)));
        return;
    }
    // Normal resolution: each pixel of the bitmap's left half twice, so that the text keeps its shape
    // on pixels twice as tall as wide.
    for (int x = 0; x < width_ / 2; ++x)
        if (src[x >> 3] & (0x80 >> (x & 7))) {
            const int o = 2 * x;
            raster[o >> 3] |= static_cast<uint8_t>(0xC0 >> (o & 7));
        }
}

void InstallEnhTextReader()
{
    SetEnhTextReaderMaker([](const TFaxTextFont& font, bool high, int lineWidth, int leftMargin, unsigned tabStop,
                             unsigned linesPerPage, int& result) -> std::unique_ptr<TFaxReader> {
        auto reader = std::make_unique<TEnhTextReader>();
        reader->SetTabStop(tabStop);
        reader->SetLinesPerPage(linesPerPage);
        result = reader->SetEnhTextFont(lineWidth, leftMargin, font, high);
        return reader;
    });
}

} // namespace zn::faxdoc
