// The render-file reader and the renderer: any bytes draw onto a preview page without a fault.
#include "cover/cover_renderer.h"
#include "cover/fuzz/fuzz_app.h"

using namespace zn::cover;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    TCoverValues values;
    values.Recipient = "Recipient";
    values.Urgent = size % 2 == 0;
    values.PleaseRecycle = size % 3 == 0;
    TMonoCanvas canvas(kPreviewWidth, kPreviewHeight);
    RenderCoverBytes(canvas, std::vector<uint8_t>(data, data + size), values,
                     {"A message line that is long enough to be wrapped in a narrow box", "", "Last"},
                     size % 5 == 0 ? 1 : 2);
    return 0;
}
