// Monochrome pages as the toolkit's images, and back.
#pragma once

#include "faxdoc/mono_bitmap.h"

#include <QColor>
#include <QImage>

namespace zn::faxdoc {

// A 1-bit image of the page's width and height; black pixels take `black`, white ones `white`.
QImage ToImage(const TMonoBitmap& page, QColor black = Qt::black, QColor white = Qt::white);

// Any image as a page (1 = black): a pixel is black when it is darker than mid-grey.
TMonoBitmap FromImage(const QImage& image);

} // namespace zn::faxdoc
