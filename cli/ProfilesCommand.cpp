#include <cstdio>

#include "cli/Commands.h"

int RunProfiles(const Args&)
{
    std::fprintf(stderr, "zaderoza-cli: not available yet\n");
    return 1;
}
