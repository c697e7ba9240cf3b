// zaderoza-cli: the DVD ripper's engine from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/Commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const Args&);
    const char* summary;
};

constexpr Command kCommands[] = {
    {"scan", RunScan, "scan PATH [--json] [--ext .EXT] [--read]\n                              list the titles of a disc, folder or ISO image"},
    {"profiles", RunProfiles, "profiles [--json]           list the output profiles"},
    {"convert", RunConvert, "convert PATH --title N --profile INDEX|NAME [--out DIR] [options]\n"
                            "                              convert a title (convert --help lists the options)"},
};

void PrintUsage(FILE* out)
{
    std::fprintf(out, "usage: zaderoza-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %s\n", c.summary);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const Args args(argv + 2, argv + argc);
    for (const Command& c : kCommands)
        if (argv[1] == std::string(c.name))
            return c.run(args);
    std::fprintf(stderr, "zaderoza-cli: unknown command '%s' (try --help)\n", argv[1]);
    return 2;
}
