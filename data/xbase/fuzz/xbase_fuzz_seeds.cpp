// Writes the fuzzers' starting corpora: a table and its index, and expression texts.
#include <fstream>
#include <string>

#include "xbase_vd.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string root = argv[1];
  std::string table = root + "/dbf/T.DBF";
  vd_CreateNew(table.c_str(), "XXXXXXXXXX", 2, 4);
  vd_CreateField("NAME", "C", 10, 0);
  vd_CreateField("BORN", "D", 8, 0);
  vd_CreateField("OK", "L", 1, 0);
  vd_CreateField("AMT", "N", 8, 2);
  vd_CreateExec();
  vd_Close();
  vd_Use(table.c_str(), nullptr, 2, 2);
  for (int i = 0; i < 60; ++i) {
    vd_AppendBlank();
    std::string name = std::string(1, static_cast<char>('A' + i % 26)) + std::to_string(i);
    vd_Replace("NAME", 1024, name.c_str());
    vd_Replace("BORN", 1024, i % 4 ? "20240115" : "");
    vd_Replace("OK", 128, i % 2 == 0);
    vd_Replace("AMT", 8, i * 1.5);
  }
  vd_IndexTag("", "NAME", "UPPER(NAME)", 0, 0, ".not. deleted()");
  vd_IndexTag("", "BORN", "DTOS(BORN)+NAME", 0, 1, "");
  vd_IndexTag("", "OK", "OK", 0, 0, "");
  vd_IndexTag("", "AMT", "AMT", 0, 0, "");
  vd_CloseAll();
  std::rename((root + "/dbf/T.CDX").c_str(), (root + "/cdx/T.CDX").c_str());
  const char* expressions[] = {
      "DTOS(DATESENT)+TIMESENT", "UPPER(SUBJECT)", ".not. deleted()", "ALLTRIM(UPPER(SUBJECT))==\"BETA\"",
      "\"ALP\"$ALLTRIM(UPPER(SUBJECT))", "(DATESENT<CTOD(\"03/01/2024\"))", "EMPTY(DATESENT) .or. ARCHIVED",
      "IIF(PAGES > 2, STR(PAGES, 6, 2), LEFT(SUBJECT, 3))", "SUBSTR(SUBJECT, 2, 3) + RIGHT(TIMESENT, 2)",
      "VAL(TIMESENT) + RECNO()", ".not. archived .and. !EMPTY([x])", "DTOC(DATE() - 1)",
  };
  int n = 0;
  for (const char* e : expressions) {
    std::ofstream out(root + "/expr/" + std::to_string(n++) + ".txt", std::ios::binary);
    out << e;
  }
  return 0;
}
