// Where the program finds its files on this system: the executable's folder, the user's
// configuration root and the user's media folders. Pure functions of the environment they are
// given, so tests can point every one of them at a temporary folder.
#pragma once

#include <string>

// The folder of the running executable, without a trailing separator; empty if unknown.
std::string ExecutableFolder();

// The user's folders as read from the environment.
struct UserFolders {
    std::string home;         // $HOME (or the password database), without a trailing '/'
    std::string configHome;   // $XDG_CONFIG_HOME, else home + "/.config"

    static UserFolders FromEnvironment();
};

// The user's Videos and Pictures folders from configHome + "/user-dirs.dirs"
// (XDG_VIDEOS_DIR, XDG_PICTURES_DIR, "$HOME/..." expanded); home when the entry is missing.
std::string UserVideosFolder(const UserFolders& folders);
std::string UserPicturesFolder(const UserFolders& folders);

// True when a file can be created in folder (it exists and is writable by this process).
bool IsWritableFolder(const std::string& folder);

// Creates folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& folder);

// Writes bytes to path atomically: a temporary file beside it, flushed, then renamed over it.
// The old file stays untouched when any step fails.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
