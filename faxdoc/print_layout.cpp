#include "faxdoc/print_layout.h"

#include <algorithm>
#include <cstdint>

namespace zn::faxdoc {

namespace {

constexpr int kStandardWidth = 1728;
constexpr int kDotsPerInch = 200;

int MulDiv(int a, int b, int c) { return c == 0 ? 0 : static_cast<int>(static_cast<int64_t>(a) * b / c); }

} // namespace

int PagesPerSheet(bool multiPage, bool landscape) { return multiPage ? (landscape ? 2 : 4) : 1; }

bool StartsNewSheet(unsigned page, unsigned firstPage, bool multiPage, bool landscape)
{
    if (page <= firstPage)
        return false;
    return (page - firstPage) % static_cast<unsigned>(PagesPerSheet(multiPage, landscape)) == 0;
}

TPrintRect PageSlot(int sheetWidth, int sheetHeight, unsigned page, unsigned firstPage, bool multiPage, bool landscape)
{
    TPrintRect r{0, 0, sheetWidth, sheetHeight};
    if (!multiPage)
        return r;
    r.right /= 2;
    if (!landscape)
        r.bottom /= 2;
    const unsigned slot = (page - firstPage) % 4;
    const int w = r.right, h = r.bottom;
    if (slot == 1 || slot == 3) {
        r.left += w;
        r.right += w;
    }
    if (!landscape && (slot == 2 || slot == 3)) {
        r.top += h;
        r.bottom += h;
    }
    r.left += 2;
    r.top += 2;
    r.right -= 2;
    r.bottom -= 2;
    return r;
}

TPrintSize PrintedPageSize(const TPrintRect& space, int bitmapWidth, int bitmapHeight, bool fitToPage,
                           int pixelsPerInch)
{
    const int spaceW = std::max(0, space.Width());
    const int spaceH = std::max(0, space.Height());
    TPrintSize s;
    if (fitToPage) {
        s.width = static_cast<int>(spaceW * 0.93);
        s.height = bitmapWidth < kStandardWidth ? MulDiv(spaceH, bitmapWidth, kStandardWidth) : spaceH;
    } else {
        s.width = MulDiv(bitmapWidth, pixelsPerInch, kDotsPerInch);
        s.height = MulDiv(bitmapHeight, pixelsPerInch, kDotsPerInch);
    }
    s.width = std::min(s.width, spaceW);
    s.height = std::min(s.height, spaceH);
    return s;
}

} // namespace zn::faxdoc
