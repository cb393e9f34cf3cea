// Writes the fuzzers' starting corpora: a table and its index, and expression texts.
#include <fstream>
#include <string>

#include "xbase_fuzz_common.h"

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::string root = argv[1];
    std::string table = root + "/dbf/T.DBF";
    zn::xbase::fuzz::MakeSeedTable(table);
    vd_IndexTag("", "NAME", "UPPER(NAME)", 0, 0, ".not. deleted()");
    vd_IndexTag("", "BORN", "DTOS(BORN)+NAME", 0, 1, "");
    vd_IndexTag("", "OK", "OK", 0, 0, "");
    vd_IndexTag("", "AMT", "AMT", 0, 0, "");
    vd_CloseAll();
    std::rename((root + "/dbf/T.CDX").c_str(), (root + "/cdx/T.CDX").c_str());
    {
        // The table again with steps for the shared writers behind its records (read from the end):
        // A appends, B appends, A fills its record in and commits, B deletes one.
        std::ifstream in(table, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(root + "/dbf/SHARED.DBF", std::ios::binary);
        out << bytes << std::string("\x0C\x03\x00\x01", 4);
    }
    const char* expressions[] = {
        "DTOS(DATESENT)+TIMESENT",
        "UPPER(SUBJECT)",
        ".not. deleted()",
        "ALLTRIM(UPPER(SUBJECT))==\"BETA\"",
        "\"ALP\"$ALLTRIM(UPPER(SUBJECT))",
        "(DATESENT<CTOD(\"03/01/2024\"))",
        "EMPTY(DATESENT) .or. ARCHIVED",
        "IIF(PAGES > 2, STR(PAGES, 6, 2), LEFT(SUBJECT, 3))",
        "SUBSTR(SUBJECT, 2, 3) + RIGHT(TIMESENT, 2)",
        "VAL(TIMESENT) + RECNO()",
        ".not. archived .and. !EMPTY([x])",
        "DTOC(DATE() - 1)",
    };
    int n = 0;
    for (const char* e : expressions) {
        std::ofstream out(root + "/expr/" + std::to_string(n++) + ".txt", std::ios::binary);
        out << e;
    }
    return 0;
}
