// Table files of any content: opened read-only and read through, then written to and packed.
#include "xbase_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
  vd_CloseAll();
  return 0;
}
