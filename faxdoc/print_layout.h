// Where the fax printer puts a page: the sheet a page starts, its slot on the sheet, and the size
// the page's bitmap is drawn at. Device pixels throughout.
#pragma once

namespace zn::faxdoc {

struct TPrintRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const TPrintRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

struct TPrintSize {
    int width = 0, height = 0;
};

// Pages per sheet: four in portrait, two in landscape, one without multi-page printing.
int PagesPerSheet(bool multiPage, bool landscape);

// True when `page` (the first printed being `firstPage`) begins a new sheet after the first.
bool StartsNewSheet(unsigned page, unsigned firstPage, bool multiPage, bool landscape);

// The page's part of a sheet of `sheetWidth` x `sheetHeight`: the whole sheet, or with multi-page
// printing a quarter (portrait: top-left, top-right, bottom-left, bottom-right) or a half
// (landscape: left, right), shrunk by 2 on every side.
TPrintRect PageSlot(int sheetWidth, int sheetHeight, unsigned page, unsigned firstPage, bool multiPage, bool landscape);

// The drawn size of a bitmap in `space` (what header and footer left). Fit to page: 93% of the
// width; the height is the whole space for a page of 1728 pixels or more and proportionally less for
// a narrower one. Otherwise the page at 200 dots per inch in the device's `pixelsPerInch`. The
// result never exceeds the space.
TPrintSize PrintedPageSize(const TPrintRect& space, int bitmapWidth, int bitmapHeight, bool fitToPage,
                           int pixelsPerInch);

} // namespace zn::faxdoc
