#include "faxdoc/gui/mono_image.h"

#include "faxdoc/mono_transform.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {

QImage ToImage(const TMonoBitmap& page, QColor black, QColor white)
{
    QImage image(page.width, page.height, QImage::Format_Mono);
    if (image.isNull())
        return image;
    // Bit value 1 is black or white as the page keeps it.
    image.setColorTable({page.blackIsOne ? white.rgb() : black.rgb(), page.blackIsOne ? black.rgb() : white.rgb()});
    const int bytes = std::min(page.stride, static_cast<int>(image.bytesPerLine()));
    for (int y = 0; y < page.height; ++y)
        std::memcpy(image.scanLine(y), page.Row(y), static_cast<size_t>(bytes));
    return image;
}

TMonoBitmap FromImage(const QImage& image)
{
    TMonoBitmap page = WhitePage(image.width(), image.height(), true);
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* in = grey.constScanLine(y);
        uint8_t* out = page.Row(y);
        for (int x = 0; x < grey.width(); ++x)
            if (in[x] < 128)
                out[x >> 3] = static_cast<uint8_t>(out[x >> 3] | (0x80 >> (x & 7)));
    }
    return page;
}

} // namespace zn::faxdoc
