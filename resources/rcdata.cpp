#include "resources/rcdata.h"

#include <strings.h>

namespace zn::resources {

// Written by the string-table generator.
extern const RcDataEntry RcDataTable[];
extern const size_t RcDataCount;

const RcDataEntry* FindRcData(const char* name)
{
    for (size_t i = 0; i < RcDataCount; ++i)
        if (strcasecmp(RcDataTable[i].Name, name) == 0)
            return &RcDataTable[i];
    return nullptr;
}

} // namespace zn::resources
