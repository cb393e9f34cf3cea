// What the fuzzers share: a scratch folder, file writing, and a walk over a table's orders.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "xbase_diagnostics.h"
#include "xbase_vd.h"

// Files put in place are flushed to disk (platform/file_replacement.h); for the fuzzers, which look
// at what is read and written and not at what survives a power cut, that would only cost runs.
extern "C" int fsync(int) { return 0; }
extern "C" int fdatasync(int) { return 0; }

namespace zn::xbase::fuzz {

inline const std::string& Scratch()
{
    static const std::string path = [] {
        // $TMPDIR: run_fuzzers.sh points it into the build folder and clears it.
        const char* root = std::getenv("TMPDIR");
        std::string pattern = std::string(root && *root ? root : "/tmp") + "/xbase_fuzz_XXXXXX";
        if (!mkdtemp(pattern.data()))
            abort();
        return pattern;
    }();
    return path;
}

inline void Write(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        abort();
    if (size)
        fwrite(data, 1, size, f);
    fclose(f);
}

// The seed table: four fields, sixty rows of varied values; left open in a new area, selected.
inline void MakeSeedTable(const std::string& path)
{
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
}

// Reads everything the selected table offers, in every order, a bounded number of steps.
inline void Exercise()
{
    int fields = vd_FieldCount();
    for (int order = 0; order <= vd_SysProp(3000, 0); ++order) {
        vd_SetOrder(order);
        int steps = 0;
        for (vd_GoTop(); !vd_Eof() && steps < 300; vd_Skip(1), ++steps) {
            for (int f = 1; f <= fields; ++f) {
                std::string name = vd_FieldName(f);
                vd_GetString(name.c_str());
                vd_GetDateString(name.c_str());
                vd_EvalString(name.c_str());
            }
            vd_KeyData();
        }
        for (vd_GoBottom(); !vd_Bof() && steps < 600; vd_Skip(-1), ++steps) {}
        if (order > 0) {
            vd_Seek("A");
            vd_Seek("20240101");
            vd_SetScope("A", "M");
            vd_QueryRecCount();
            vd_SetScope(nullptr, nullptr);
        }
    }
    std::string where;
    zn::xbase::CheckSelectedIndexes(where);
}

} // namespace zn::xbase::fuzz
