// Table files of any content: opened read-only and read through, then written to and packed.
#include "xbase_fuzz_common.h"

namespace {

// Two shared opens appending, filling in and deleting records in the order the input's last bytes
// give (bytes after the records, which readers pass over), as zn and znptf do with the phone book:
// a table that was sound before stays sound.
void SharedWriters(const std::string& table, const uint8_t* data, size_t size)
{
    int a = vd_Use(table.c_str(), "A", 0, 2);
    int b = a ? vd_Use(table.c_str(), "B", 0, 2) : 0;
    if (!a || !b)
        return;
    vd_Select(a);
    std::string where;
    const bool sound = zn::xbase::CheckSelectedIndexes(where) == 0;
    const std::string first = vd_FieldName(1);
    bool written = true;
    for (size_t i = 0; i < size && i < 12; ++i) {
        const uint8_t step = data[size - 1 - i];
        vd_Select(step & 1 ? a : b);
        switch ((step >> 1) % 4) {
        case 0: written &= vd_AppendBlank() == 0; break;
        case 1: written &= vd_Replace(first.c_str(), 1024, "XY") == 0 && vd_Commit() == 0; break;
        case 2: written &= vd_Go(1 + step / 8) == 0 && (vd_Eof() || (vd_Delete() == 0 && vd_Commit() == 0)); break;
        default: written &= vd_Commit() == 0;
        }
    }
    vd_Select(a);
    if (sound && written && zn::xbase::CheckSelectedIndexes(where) != 0) {
        fprintf(stderr, "shared writes damaged a sound table: %s\n", where.c_str());
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zn::xbase::fuzz;
    std::string table = Scratch() + "/F.DBF";
    std::remove((Scratch() + "/F.CDX").c_str());
    Write(table, data, size);
    vd_SetLockTimeout(0);
    if (vd_Use(table.c_str(), nullptr, 1, 2)) {
        Exercise();
        vd_Close();
    }
    if (vd_Use(table.c_str(), nullptr, 2, 2)) {
        std::string first = vd_FieldName(1);
        vd_IndexTag("", "FIRST", first.c_str(), 0, 0, ".not. deleted()");
        vd_GoTop();
        vd_Replace(first.c_str(), 1024, "ABC");
        vd_Delete();
        vd_AppendBlank();
        vd_Replace(first.c_str(), 1024, "20240229");
        vd_Commit();
        vd_Pack();
        Exercise();
        vd_Close();
    }
    SharedWriters(table, data, size);
    vd_CloseAll();
    return 0;
}
