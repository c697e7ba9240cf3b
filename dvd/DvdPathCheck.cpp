#include "dvd/DvdPathCheck.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int64_t kSector = 2048;
// Volume descriptors start at sector 16 (ISO 9660 and the UDF volume recognition sequence).
constexpr int64_t kFirstDescriptor = 16;
constexpr int64_t kLastDescriptor = 31;
// The UDF anchor volume descriptor of a DVD lies at sector 256.
constexpr int64_t kUdfAnchor = 256;

// Name of an entry of dir equal to name in any letter case, of the wanted type; "" if none.
std::string FindEntry(const std::string& dir, const char* name, bool wantDir)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return {};
    std::string found;
    while (dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, name) != 0)
            continue;
        struct stat st;
        const std::string full = dir + "/" + e->d_name;
        if (stat(full.c_str(), &st) == 0 && (wantDir ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode))) {
            found = e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

DvdPathCheck Fail(std::string text)
{
    DvdPathCheck check;
    check.error = std::move(text);
    return check;
}

DvdPathCheck CheckFolder(const std::string& path)
{
    DvdPathCheck check;
    check.kind = DvdPathKind::Folder;
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (!FindEntry(dir, "VIDEO_TS.IFO", false).empty()) {
        check.ok = true;
        check.openPath = dir;
        return check;
    }
    const std::string videoTs = FindEntry(dir, "VIDEO_TS", true);
    if (videoTs.empty() || FindEntry(dir + "/" + videoTs, "VIDEO_TS.IFO", false).empty())
        return Fail(path + " has no VIDEO_TS folder");
    check.ok = true;
    // libdvdread finds VIDEO_TS or video_ts below a folder; a folder of mixed case is opened
    // directly (it then holds the files itself).
    check.openPath = (videoTs == "VIDEO_TS" || videoTs == "video_ts") ? dir : dir + "/" + videoTs;
    return check;
}

bool HasId(const uint8_t* sector, const char* id)
{
    return std::memcmp(sector + 1, id, 5) == 0;
}

DvdPathCheck CheckImage(const std::string& path, int64_t size)
{
    const std::string notImage = path + " is not a DVD image";
    const std::string truncated = "the DVD image " + path + " is truncated or damaged";
    if (size < (kFirstDescriptor + 1) * kSector)
        return Fail(notImage);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(path + " cannot be read: " + std::strerror(errno));
    const int64_t last = std::min(kLastDescriptor, size / kSector - 1);
    std::vector<uint8_t> sectors(static_cast<size_t>((last - kFirstDescriptor + 1) * kSector));
    const ssize_t got = pread(fd, sectors.data(), sectors.size(), kFirstDescriptor * kSector);
    close(fd);
    if (got != static_cast<ssize_t>(sectors.size()))
        return Fail(path + " cannot be read");

    bool iso9660 = false;
    bool udf = false;
    int64_t isoVolumeSectors = 0;
    for (size_t off = 0; off < sectors.size(); off += kSector) {
        const uint8_t* s = sectors.data() + off;
        if (HasId(s, "CD001")) {
            if (!iso9660 && s[0] == 1) {
                // Primary volume descriptor: the volume space size, both-endian, at byte 80.
                isoVolumeSectors = int64_t(s[80]) | int64_t(s[81]) << 8 | int64_t(s[82]) << 16 | int64_t(s[83]) << 24;
            }
            iso9660 = true;
        } else if (HasId(s, "BEA01") || HasId(s, "NSR02") || HasId(s, "NSR03")) {
            udf = true;
        }
    }
    if (!iso9660 && !udf)
        return Fail(notImage);
    if (udf && size < (kUdfAnchor + 1) * kSector)
        return Fail(truncated);
    if (isoVolumeSectors > 0 && isoVolumeSectors * kSector > size)
        return Fail(truncated);
    DvdPathCheck check;
    check.ok = true;
    check.kind = DvdPathKind::Image;
    check.openPath = path;
    return check;
}

}  // namespace

DvdPathCheck CheckDvdPath(const std::string& path)
{
    if (path.empty())
        return Fail("no path given");
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Fail("no such file or folder: " + path);
        return Fail(path + " cannot be read: " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        if (access(path.c_str(), R_OK | X_OK) != 0)
            return Fail(path + " cannot be read: " + std::strerror(errno));
        return CheckFolder(path);
    }
    if (S_ISBLK(st.st_mode)) {
        DvdPathCheck check;
        check.ok = true;
        check.kind = DvdPathKind::Device;
        check.openPath = path;
        return check;
    }
    if (S_ISREG(st.st_mode))
        return CheckImage(path, st.st_size);
    return Fail(path + " is not a DVD drive, folder or image");
}
