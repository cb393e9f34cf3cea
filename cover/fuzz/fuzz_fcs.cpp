// The template reader: any bytes either give items that save again, or a stream error.
#include "cover/design_filer.h"
#include "cover/fuzz/fuzz_app.h"

#include <cstdlib>

using namespace zn::cover;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    const std::vector<uint8_t> bytes(data, data + size);
    const auto taken = [](const std::string& n) { return n == "Component1"; };
    TItemList items;
    try {
        items = TFaxDesignObjectFiler().Decode(bytes, taken);
    } catch (const TStreamError&) {
        return 0;
    }
    std::vector<const TFaxGraphicControl*> pointers;
    for (const auto& item : items)
        pointers.push_back(item.get());
    // What was read saves and reads back to the same bytes.
    const std::vector<uint8_t> saved = TFaxDesignObjectFiler::Encode(pointers);
    const TItemList again = TFaxDesignObjectFiler().Decode(saved, taken);
    std::vector<const TFaxGraphicControl*> againPointers;
    for (const auto& item : again)
        againPointers.push_back(item.get());
    if (TFaxDesignObjectFiler::Encode(againPointers) != saved)
        abort();
    return 0;
}
