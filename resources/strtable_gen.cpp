// Builds the program's string tables from their text sources.
//
//   zn_strtable_gen OUT_DIR OUT_CPP NAME=SOURCE...
//
// Writes each table as OUT_DIR/NAME.str0 and all of them into OUT_CPP as the byte arrays that
// FindRcData serves. Refuses a source with a duplicate or descending id, and checks every table it
// built before writing anything.
#include "resources/str0_table.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Table {
    std::string Name;
    std::vector<uint8_t> Bytes;
};

bool ReadFile(const std::string& path, std::string& content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    content = s.str();
    return true;
}

// Writes only when the content changed, so that an unchanged table does not rebuild its users.
bool WriteFile(const std::string& path, const std::string& content)
{
    std::string old;
    if (ReadFile(path, old) && old == content)
        return true;
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out.flush())
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

std::string CppSource(const std::vector<Table>& tables)
{
    std::ostringstream s;
    s << "// Written by zn_strtable_gen from resources/strings/*.txt: edit those, not this.\n"
      << "#include \"resources/rcdata.h\"\n\nnamespace zn::resources {\n\nnamespace {\n";
    for (size_t t = 0; t < tables.size(); ++t) {
        s << "\n// " << tables[t].Name << "\nconst unsigned char Table" << t << "[] = {";
        const std::vector<uint8_t>& b = tables[t].Bytes;
        for (size_t i = 0; i < b.size(); ++i)
            s << (i % 16 == 0 ? "\n    " : " ") << static_cast<unsigned>(b[i]) << ',';
        s << "\n};\n";
    }
    s << "\n} // namespace\n\nextern const RcDataEntry RcDataTable[] = {\n";
    for (size_t t = 0; t < tables.size(); ++t)
        s << "    {\"" << tables[t].Name << "\", Table" << t << ", sizeof Table" << t << "},\n";
    s << "};\nextern const size_t RcDataCount = " << tables.size() << ";\n\n} // namespace zn::resources\n";
    return s.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::cerr << "usage: zn_strtable_gen OUT_DIR OUT_CPP NAME=SOURCE...\n";
        return 2;
    }
    const std::string outDir = argv[1];
    const std::string outCpp = argv[2];
    std::vector<Table> tables;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::cerr << "zn_strtable_gen: expected NAME=SOURCE, got " << arg << "\n";
            return 2;
        }
        const std::string name = arg.substr(0, eq);
        const std::string sourcePath = arg.substr(eq + 1);
        std::string source;
        if (!ReadFile(sourcePath, source)) {
            std::cerr << "zn_strtable_gen: cannot read " << sourcePath << "\n";
            return 1;
        }
        std::vector<zn::resources::StringEntry> entries;
        std::string error;
        if (!zn::resources::ParseStringSource(source, entries, error)) {
            std::cerr << sourcePath << ": " << error << "\n";
            return 1;
        }
        Table table{name, zn::resources::BuildStr0(entries)};
        error = zn::resources::CheckStr0(table.Bytes);
        if (error.empty()) {
            const std::vector<zn::resources::StringEntry> back = zn::resources::ReadStr0(table.Bytes);
            for (size_t k = 0; k < entries.size() && error.empty(); ++k)
                if (k >= back.size() || back[k].Id != entries[k].Id || back[k].Text != entries[k].Text)
                    error = "entry " + std::to_string(k) + " does not read back as written";
            if (error.empty() && back.size() != entries.size())
                error = "entry count differs from the source";
        }
        if (!error.empty()) {
            std::cerr << "zn_strtable_gen: " << name << ": " << error << "\n";
            return 1;
        }
        tables.push_back(std::move(table));
    }
    for (const Table& t : tables) {
        const std::string path = outDir + "/" + t.Name + ".str0";
        if (!WriteFile(path, std::string(t.Bytes.begin(), t.Bytes.end()))) {
            std::cerr << "zn_strtable_gen: cannot write " << path << "\n";
            return 1;
        }
    }
    if (!WriteFile(outCpp, CppSource(tables))) {
        std::cerr << "zn_strtable_gen: cannot write " << outCpp << "\n";
        return 1;
    }
    return 0;
}
