// Index files of any content beside a sound table: opened, walked, searched, checked and
// written through.
#include <vector>

#include "xbase_fuzz_common.h"

namespace {

std::vector<uint8_t> PristineTable() {
  using namespace zn::xbase::fuzz;
  std::string path = Scratch() + "/SEED.DBF";
  vd_CreateNew(path.c_str(), "XXXXXXXXXX", 2, 4);
  vd_CreateField("NAME", "C", 10, 0);
  vd_CreateField("BORN", "D", 8, 0);
  vd_CreateField("OK", "L", 1, 0);
  vd_CreateField("AMT", "N", 8, 2);
  vd_CreateExec();
  vd_Close();
  vd_Use(path.c_str(), nullptr, 2, 2);
  for (int i = 0; i < 60; ++i) {
    vd_AppendBlank();
    std::string name = std::string(1, static_cast<char>('A' + i % 26)) + std::to_string(i);
    vd_Replace("NAME", 1024, name.c_str());
    vd_Replace("BORN", 1024, i % 4 ? "20240115" : "");
    vd_Replace("OK", 128, i % 2 == 0);
    vd_Replace("AMT", 8, i * 1.5);
  }
  vd_CloseAll();
  FILE* f = fopen(path.c_str(), "rb");
  std::vector<uint8_t> bytes;
  int c;
  while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
  fclose(f);
  return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
