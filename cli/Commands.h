// Sub-commands of zaderoza-cli. Each takes the arguments after its own name and returns the
// process exit status; errors go to stderr as one line.
#pragma once

#include <string>
#include <vector>

using Args = std::vector<std::string>;

int RunScan(const Args& args);
int RunProfiles(const Args& args);
int RunConvert(const Args& args);
