// Expression texts of any content: compiled against a table's fields and evaluated as values,
// filters and index keys.
#include "xbase_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zn::xbase::fuzz;
    static const std::string table = [] {
        std::string path = Scratch() + "/E.DBF";
        vd_CreateNew(path.c_str(), "XXXXXXXXXX", 2, 5);
        vd_CreateField("SUBJECT", "C", 20, 0);
        vd_CreateField("DATESENT", "D", 8, 0);
        vd_CreateField("TIMESENT", "C", 5, 0);
        vd_CreateField("ARCHIVED", "L", 1, 0);
        vd_CreateField("PAGES", "N", 6, 2);
        vd_CreateExec();
        vd_Close();
        vd_Use(path.c_str(), nullptr, 2, 2);
        const char* subjects[] = {"alpha", "Beta", "", "delta  x"};
        for (int i = 0; i < 4; ++i) {
            vd_AppendBlank();
            vd_Replace("SUBJECT", 1024, subjects[i]);
            vd_Replace("DATESENT", 1024, i % 2 ? "20240229" : "");
            vd_Replace("TIMESENT", 1024, "12:30");
            vd_Replace("ARCHIVED", 128, i == 1);
            vd_Replace("PAGES", 8, i * 2.5);
        }
        vd_CloseAll();
        return path;
    }();
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos)
        return 0;
    std::remove((Scratch() + "/E.CDX").c_str());
    if (!vd_Use(table.c_str(), nullptr, 2, 2))
        abort();
    for (vd_GoTop(); !vd_Eof(); vd_Skip(1)) {
        int type = vd_EvalTest(text.c_str());
        vd_EvalString(text.c_str());
        if (type == 3)
            vd_EvalLogical(text.c_str());
    }
    if (vd_Query(text.c_str()) == 0) {
        vd_QueryRecCount();
        for (vd_GoTop(); !vd_Eof(); vd_Skip(1)) {}
        vd_Query(nullptr);
    }
    if (vd_IndexTag("", "K", text.c_str(), 0, 0, "")) {
        for (vd_GoTop(); !vd_Eof(); vd_Skip(1))
            vd_KeyData();
        vd_Seek("a");
    }
    vd_IndexTag("", "F", "SUBJECT", 0, 1, text.c_str());
    vd_CloseAll();
    return 0;
}
