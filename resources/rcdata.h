// Raw-data resources built into the program (string tables), found by name.
#pragma once
#include <cstddef>

namespace zn::resources {

struct RcDataEntry {
    const char* Name;
    const unsigned char* Data;
    size_t Size;
};

// The resource of that name, compared without regard to case; nullptr when there is none.
const RcDataEntry* FindRcData(const char* name);

} // namespace zn::resources
