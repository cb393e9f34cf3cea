// xbtool: looks into and maintains xBase tables with the engine.
//   xbtool info TABLE.DBF
//   xbtool index TABLE.DBF TAG KEY [--for EXPR] [--descending]
//   xbtool list TABLE.DBF [--tag TAG] [--filter EXPR]
//   xbtool pack TABLE.DBF
//   xbtool check TABLE.DBF
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "xbase_diagnostics.h"
#include "xbase_vd.h"

namespace {

int Usage()
{
    fprintf(stderr, "usage: xbtool info TABLE.DBF\n"
                    "       xbtool index TABLE.DBF TAG KEY [--for EXPR] [--descending]\n"
                    "       xbtool list TABLE.DBF [--tag TAG] [--filter EXPR]\n"
                    "       xbtool pack TABLE.DBF\n"
                    "       xbtool check TABLE.DBF\n");
    return 2;
}

// Exit status for an engine failure: the error's number (its codes are negative).
int Failed(const char* what)
{
    int code = vd_LastError();
    fprintf(stderr, "xbtool: %s: error %d: %s\n", what, code, vd_LastErrorText().c_str());
    return code < 0 ? (-code > 125 ? 125 : -code) : 1;
}

int Info()
{
    printf("records %ld\n", vd_RecCount());
    int fields = vd_FieldCount();
    printf("fields %d\n", fields);
    for (int i = 1; i <= fields; ++i)
        printf("  %-10s %s %3d %d\n", vd_FieldName(i).c_str(), vd_FieldType(i).c_str(), vd_FieldWidth(i),
               vd_FieldDecimals(i));
    int orders = static_cast<int>(vd_SysProp(3000, 0));
    printf("tags %d\n", orders);
    std::string fault = zn::xbase::SelectedIndexFault();
    if (!fault.empty())
        printf("index fault %s\n", fault.c_str());
    for (int i = 1; i <= orders; ++i) {
        printf("  %d %-10s key \"%s\"", i, vd_TagName(i).c_str(), vd_IndexKey(i).c_str());
        std::string condition = zn::xbase::SelectedIndexCondition(i);
        if (!condition.empty())
            printf(" for \"%s\"", condition.c_str());
        if (zn::xbase::SelectedIndexDescending(i))
            printf(" descending");
        printf("\n");
    }
    return 0;
}

int List(const std::string& tag, const std::string& filter)
{
    vd_SetDeleted(0);
    if (!tag.empty()) {
        int order = vd_TagArea(tag.c_str());
        if (order == 0) {
            fprintf(stderr, "xbtool: no tag %s\n", tag.c_str());
            return 1;
        }
        vd_SetOrder(order);
    }
    if (!filter.empty() && vd_Query(filter.c_str()) != 0)
        return Failed("filter");
    if (vd_GoTop() != 0)
        return Failed("list");
    // Each row: "recno flag|field|field...", the fields as stored less their trailing blanks.
    struct Span {
        int offset, width;
    };
    std::vector<Span> fields;
    for (int i = 1; i <= vd_FieldCount(); ++i)
        fields.push_back({vd_FieldOffset(i), vd_FieldWidth(i)}); // the deletion flag is byte 0
    std::vector<char> record(static_cast<size_t>(vd_RecSize()));
    static char out[1 << 16];
    setvbuf(stdout, out, _IOFBF, sizeof out);
    while (!vd_Eof()) {
        vd_GetRecord(record.data());
        printf("%ld %c", vd_RecNo(), record[0] == '*' ? '*' : ' ');
        for (const Span& f : fields) {
            int width = f.width;
            while (width > 0 && record[f.offset + width - 1] == ' ')
                --width;
            putchar_unlocked('|');
            fwrite_unlocked(record.data() + f.offset, 1, static_cast<size_t>(width), stdout);
        }
        putchar_unlocked('\n');
        if (ferror_unlocked(stdout))
            break; // a full disk or a closed pipe: no use listing on
        if (vd_Skip(1) != 0)
            return Failed("list");
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
        perror("xbtool: output");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    std::string command = argv[1];
    std::string table = argv[2];
    std::vector<std::string> rest(argv + 3, argv + argc);
    int mode = command == "pack" ? 2 : (command == "index" ? 0 : 1);
    if (!vd_Use(table.c_str(), nullptr, mode, 2))
        return Failed("open");
    int status = 0;
    if (command == "info") {
        status = Info();
    } else if (command == "list") {
        std::string tag, filter;
        for (size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == "--tag" && i + 1 < rest.size())
                tag = rest[++i];
            else if (rest[i] == "--filter" && i + 1 < rest.size())
                filter = rest[++i];
            else
                return Usage();
        }
        status = List(tag, filter);
    } else if (command == "index") {
        if (rest.size() < 2)
            return Usage();
        std::string condition;
        bool descending = false;
        for (size_t i = 2; i < rest.size(); ++i) {
            if (rest[i] == "--for" && i + 1 < rest.size())
                condition = rest[++i];
            else if (rest[i] == "--descending")
                descending = true;
            else
                return Usage();
        }
        std::string fault = zn::xbase::SelectedIndexFault();
        if (!vd_IndexTag("", rest[0].c_str(), rest[1].c_str(), 0, descending, condition.c_str())) {
            status = Failed("index");
            if (!fault.empty())
                fprintf(stderr, "xbtool: the index %s: remove it and build its tags again\n", fault.c_str());
        }
    } else if (command == "pack") {
        if (vd_Pack() != 0)
            status = Failed("pack");
    } else if (command == "check") {
        std::string where;
        if (zn::xbase::CheckSelectedIndexes(where) != 0) {
            if (!where.empty()) {
                printf("%s\n", where.c_str());
                status = 1;
            } else {
                status = Failed("check");
            }
        } else {
            printf("ok\n");
        }
    } else {
        return Usage();
    }
    if (vd_Close() != 0 && status == 0)
        status = Failed("close");
    return status;
}
