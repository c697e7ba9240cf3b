// Checks a path given to MyDVDOpen before libdvdread sees it, so that every failure gets a
// precise one-line text: a missing path, a folder without VIDEO_TS, a file that is no DVD
// image, an image cut short. Runs on the caller's thread; touches only the file system.
#pragma once

#include <string>

enum class DvdPathKind { Device, Folder, Image };

struct DvdPathCheck {
    bool ok = false;
    DvdPathKind kind = DvdPathKind::Folder;
    std::string openPath;  // what to hand to libdvdread
    std::string error;     // user text when !ok
};

// Accepts a block device, a VIDEO_TS folder (any letter case) or the folder holding it (a
// mount point, a copy of a disc), and an ISO 9660 / UDF image file.
DvdPathCheck CheckDvdPath(const std::string& path);
