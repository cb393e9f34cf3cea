// One target per image reader, chosen at build time by FUZZ_READER: a reader must turn any input
// into a fax file or a clear error, and leave no file behind when it fails. Memory stays within the
// fuzzer's limit (run_fuzzers.sh), whatever size the input declares.
#include "faxdoc/converter.h"
#include "faxdoc/fuzz/fuzz_support.h"

#include <memory>
#include <sys/stat.h>

using namespace zn::faxdoc;

namespace {

std::unique_ptr<TFaxReader> MakeReader(const char** extension)
{
    const std::string kind = FUZZ_READER;
    *extension = FUZZ_READER;
    if (kind == "tif")
        return std::make_unique<TTiffReader>();
    if (kind == "pcx" || kind == "dcx")
        return std::make_unique<TPcxReader>(kind == "dcx");
    if (kind == "bmp")
        return std::make_unique<TBitmapReader>(true);
    auto text = std::make_unique<TTextReader>();
    text->SetLinesPerPage(60);
    if (text->LoadFaxFont("APFAX.FNT", 48, false) < 0)
        abort();
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* extension = nullptr;
    auto reader = MakeReader(&extension);
    const std::string in = fuzz::InputFile(data, size, extension);
    const std::string out = fuzz::OutputFile("out.apf");
    ConverterState state(std::move(reader));
    // Odd sizes take the other branches: high resolution, wide rows, no margin.
    state.SetResolution(size % 3 == 0);
    state.SetWidth(size % 5 == 0 ? 2 : 1);
    state.SetMargins(size % 2 ? 0 : 50, size % 7 == 0 ? 2 : 0);
    const int rc = state.ConvertFile(in, out);
    // What a reader makes of its input stays in proportion to it: no few bytes that claim a huge
    // picture (shared strips, pages at one offset, runs past the picture) make a huge fax file.
    struct stat st {};
    if (rc >= 0 && stat(out.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) > 1024 * (size + 1024))
        abort();
    fuzz::CheckOutput(rc, out);
    return 0;
}
