// The desktop's finish actions of a conversion run: power-off through the session manager and
// opening a folder in the file browser. Each starts a helper program and waits for it.
//
// Threads: called from the thread that drives the run; nothing is shared.
#pragma once

#include <string>

#include "convert/ConversionRun.h"

// `systemctl poweroff` (logind decides whether the user may).
class DesktopShutdown : public ISystemShutdown {
public:
    bool Shutdown() override;
};

// `xdg-open FOLDER`.
class DesktopShellOpen : public IShellOpen {
public:
    bool OpenFolder(const std::string& path) override;
};

// Runs a program found on PATH with the arguments and waits for it; true when it exits 0.
bool RunHelperProgram(const char* const* argv);
