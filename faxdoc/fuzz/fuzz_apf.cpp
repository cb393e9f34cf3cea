// The unpacker over any fax file: every page into rows, a page bitmap and a page file.
#include "faxdoc/apf_file.h"
#include "faxdoc/fuzz/fuzz_support.h"
#include "faxdoc/unpacker.h"

using namespace zn::faxdoc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string in = fuzz::InputFile(data, size, "APF");
    TApfFileHeader h;
    if (ReadApfHeader(in, h) < 0)
        return 0;
    UnpackerState u([](UnpackerState&, int kind, const uint8_t* row, int, int len) {
        volatile uint8_t sink = 0;
        for (int i = 0; kind == kOutputRow && i < len; ++i)
            sink = sink ^ row[i];
        return 0;
    });
    if (size % 2)
        u.SetUnpackerFlags(size % 4 == 1 ? kUnpackDoubleHeight : kUnpackHalfWidth);
    if (size % 3 == 0)
        u.SetWhitespaceCompression(4, 1);
    const unsigned pages = h.pageCount < 4 ? h.pageCount : 4;
    for (unsigned page = 0; page <= pages; ++page)
        u.UnpackPage(in, page);
    TMonoBitmap bm;
    u.UnpackPageToMemBitmap(in, 1, size % 5 == 0, bm);
    const std::string out = fuzz::OutputFile("page.tif");
    fuzz::CheckOutput(u.UnpackPageToTiff(in, out, 1), out);
    std::vector<uint8_t> raw;
    TApfPageHeader ph;
    ReadApfPage(in, 1, ph, raw);
    return 0;
}
