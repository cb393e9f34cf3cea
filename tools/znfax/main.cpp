// znfax: fax image files from the command line. main() only dispatches to the subcommands.
#include "tools/znfax/commands.h"

#include <cstdio>
#include <cstring>

namespace {

struct TCommandTable {
    const zn::tools::TCommand* commands;
    size_t count;
};

const TCommandTable kTables[] = {
    {zn::tools::kFaxFileCommands, zn::tools::kFaxFileCommandCount},
    {zn::tools::kFaxLineCommands, zn::tools::kFaxLineCommandCount},
    {zn::tools::kCoverCommands, zn::tools::kCoverCommandCount},
};

void PrintUsage(FILE* out)
{
    std::fprintf(out, "usage:\n");
    for (const TCommandTable& t : kTables)
        for (size_t i = 0; i < t.count; ++i)
            std::fprintf(out, "  znfax %s %s\n", t.commands[i].name, t.commands[i].usage);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? zn::tools::kExitUsage : zn::tools::kExitOk;
    }
    for (const TCommandTable& t : kTables)
        for (size_t i = 0; i < t.count; ++i)
            if (!std::strcmp(argv[1], t.commands[i].name))
                return t.commands[i].run(zn::tools::TArgs(argv + 2, argv + argc));
    std::fprintf(stderr, "znfax: unknown command \"%s\"\n", argv[1]);
    PrintUsage(stderr);
    return zn::tools::kExitUsage;
}
