// Quarter turns and scaling of monochrome pages. Both keep the page's polarity (`blackIsOne`).
// A turned page's width is the old height, which need not fill its rows: the bits beyond the
// width are white.
#pragma once

#include "faxdoc/mono_bitmap.h"

namespace zn::faxdoc {

// Bytes per row for a width: whole 16-bit units, as the page bitmaps keep them.
int MonoStride(int width);

// A white page of the given size.
TMonoBitmap WhitePage(int width, int height, bool blackIsOne);

// The page turned by `quarterTurns` x 90 degrees clockwise (any integer; taken modulo 4).
// Clockwise, source row y becomes column (new width - 1 - y) and source column x becomes row x.
TMonoBitmap RotateQuarterTurns(const TMonoBitmap& page, int quarterTurns);

// The page scaled to `width` x `height`. Shrinking keeps black: a pixel is black when any source
// pixel it stands for is black, so one-pixel lines survive any reduction (a nearest-pixel pick
// drops them, and averaging turns them grey). Enlarging repeats pixels.
TMonoBitmap ScaleKeepingBlack(const TMonoBitmap& page, int width, int height);

// The part (x, y, width, height) of a page scaled to `outWidth` x `outHeight` the same way; parts
// outside the page are white.
TMonoBitmap ScalePartKeepingBlack(const TMonoBitmap& page, int x, int y, int width, int height, int outWidth,
                                  int outHeight);

} // namespace zn::faxdoc
