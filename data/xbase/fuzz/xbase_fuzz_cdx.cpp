// Index files of any content beside a sound table: opened, walked, searched, checked and
// written through.
#include <vector>

#include "xbase_fuzz_common.h"

namespace {

std::vector<uint8_t> PristineTable()
{
    using namespace zn::xbase::fuzz;
    std::string path = Scratch() + "/SEED.DBF";
    MakeSeedTable(path);
    vd_CloseAll();
    FILE* f = fopen(path.c_str(), "rb");
    std::vector<uint8_t> bytes;
    int c;
    while ((c = fgetc(f)) != EOF)
        bytes.push_back(static_cast<uint8_t>(c));
    fclose(f);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zn::xbase::fuzz;
    static const std::vector<uint8_t> table = PristineTable();
    std::string dbf = Scratch() + "/F.DBF";
    Write(dbf, table.data(), table.size());
    Write(Scratch() + "/F.CDX", data, size);
    vd_SetLockTimeout(0);
    if (vd_Use(dbf.c_str(), nullptr, 1, 2)) {
        Exercise();
        vd_Close();
    }
    if (vd_Use(dbf.c_str(), nullptr, 0, 2)) {
        vd_GoTop();
        vd_Replace("NAME", 1024, "ZZZ");
        vd_Skip(3);
        vd_Delete();
        vd_AppendBlank();
        vd_Replace("NAME", 1024, "MMM");
        vd_Commit();
        vd_IndexTag("", "EXTRA", "UPPER(NAME)", 0, 1, "");
        Exercise();
        vd_Close();
    }
    vd_CloseAll();
    return 0;
}
