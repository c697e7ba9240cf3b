#include "profiles/AppPaths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The value of one "NAME=value" line of user-dirs.dirs, with "$HOME" expanded; empty if absent.
std::string UserDir(const UserFolders& folders, const std::string& name)
{
    std::string text;
    if (!ReadWholeFile(folders.configHome + "/user-dirs.dirs", text))
        return {};
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        line = line.substr(start);
        if (line.compare(0, name.size() + 1, name + "=") != 0)
            continue;
        std::string value = line.substr(name.size() + 1);
        if (value.size() >= 2 && value.front() == '"') {
            size_t close = value.find('"', 1);
            value = value.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        }
        if (value.compare(0, 5, "$HOME") == 0)
            value = folders.home + value.substr(5);
        else if (value.empty() || value[0] != '/')
            return {};  // only absolute paths or $HOME-relative ones are valid here
        return WithoutTrailingSlash(value);
    }
    return {};
}

std::string FolderOrHome(const UserFolders& folders, const char* name)
{
    std::string dir = UserDir(folders, name);
    return dir.empty() ? folders.home : dir;
}

} // namespace

std::string ExecutableFolder()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

UserFolders UserFolders::FromEnvironment()
{
    UserFolders folders;
    const char* home = std::getenv("HOME");
    if (home && *home) {
        folders.home = home;
    } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        folders.home = pw->pw_dir;
    } else {
        folders.home = "/";
    }
    folders.home = WithoutTrailingSlash(folders.home);
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // The base-directory rules ignore a relative value.
    if (config && config[0] == '/')
        folders.configHome = WithoutTrailingSlash(config);
    else
        folders.configHome = folders.home + "/.config";
    return folders;
}

std::string UserVideosFolder(const UserFolders& folders)
{
    return FolderOrHome(folders, "XDG_VIDEOS_DIR");
}

std::string UserPicturesFolder(const UserFolders& folders)
{
    return FolderOrHome(folders, "XDG_PICTURES_DIR");
}

bool IsWritableFolder(const std::string& folder)
{
    struct stat st {};
    if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return access(folder.c_str(), W_OK | X_OK) == 0;
}

bool MakeFolders(const std::string& folder)
{
    if (folder.empty())
        return false;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash)))
        return false;
    return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes)
{
    std::string temp = path + ".tmp-XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0)
        return false;
    const char* data = bytes.data();
    size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    // mkstemp creates the file 0600; these files are not secret but are the user's own.
    ok = ok && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), path.c_str()) == 0)
        return true;
    unlink(temp.c_str());
    return false;
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    bytes.clear();
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}
