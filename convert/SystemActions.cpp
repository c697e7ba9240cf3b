#include "convert/SystemActions.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

bool RunHelperProgram(const char* const* argv)
{
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool DesktopShutdown::Shutdown()
{
    const char* argv[] = {"systemctl", "poweroff", nullptr};
    return RunHelperProgram(argv);
}

bool DesktopShellOpen::OpenFolder(const std::string& path)
{
    const char* argv[] = {"xdg-open", path.c_str(), nullptr};
    return RunHelperProgram(argv);
}
