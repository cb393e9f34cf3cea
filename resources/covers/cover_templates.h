// The cover templates a new program folder starts with: every file of each (T.FCS, T.FCT, T.DES,
// T.bmp) under the name the designer gave it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zn::resources {

struct ShippedFile {
    const char* Name;
    const uint8_t* Data;
    size_t Size;
};

// The files, ended by an entry whose Name is nullptr.
const ShippedFile* ShippedCoverTemplates();

} // namespace zn::resources
