// The five preference values (output folder, snapshot folder, snapshot image type, action after
// converting, CPU usage), their start-up defaults, and how they are read from and written to
// the preference store under the key "Software\" + AppTitle.
// Threads: the values are process-wide and belong to the user-interface thread; these
// functions are called only from it.
#pragma once

#include <cstdint>
#include <string>

#include "graph/Result.h"
#include "profiles/AppPaths.h"

struct PreferenceValues {
    std::string OutFolder;     // UTF-8
    std::string SnapFolder;
    std::string ImageType;     // "BMP", "JPEG" or "GIF"
    std::string Action;        // "No Action" or "Shut Down"
    int32_t CpuUsage = 50;     // percent; stored and shown only
};

// Value names in the store.
inline constexpr const char* kOutFolderValue = "strOutFolder";
inline constexpr const char* kSnapFolderValue = "strSnapFolder";
inline constexpr const char* kImageTypeValue = "strImageType";
inline constexpr const char* kActionValue = "strAction";
inline constexpr const char* kCpuUsageValue = "cpu_usage";

// A string value is taken only when it fits a 256-character buffer with its terminator.
inline constexpr size_t kPreferenceStringRoom = 256;

// Defaults before the store is read: the Videos and Pictures folders (home when missing),
// "BMP", "No Action", 50.
PreferenceValues DefaultPreferences(const UserFolders& folders);

// "Software\" + appTitle; control characters of the title become spaces.
std::string PreferenceKeyPath(const std::string& appTitle);

// The store file below a configuration root ($XDG_CONFIG_HOME or ~/.config by default):
// root + "/ZaDeroza/registry.ini".
std::string PreferenceStoreFile(const std::string& configRoot);

// Start-up read. S_OK: the key was found and its values applied; S_FALSE: no store or no key,
// the values stay; E_FAIL: the store is unreadable or corrupt, the values stay. Within the key
// a value that is missing, of the wrong type or too long leaves that one value as it was.
HRESULT ReadPreferences(const std::string& storeFile, const std::string& appTitle, PreferenceValues& values);

// What the preferences dialog's OK does: opens (or creates) the key for writing; then each of
// the five edited values that differs from current becomes current and is written. Only
// changed values are written. When the key cannot be opened or the store cannot be written
// (unwritable, corrupt) nothing is stored, current is unchanged and E_FAIL is returned.
HRESULT StorePreferences(const std::string& storeFile, const std::string& appTitle,
                         PreferenceValues& current, const PreferenceValues& edited);

// Writes one string value (the main window's Browse and Start store the output folder this way).
HRESULT StorePreferenceString(const std::string& storeFile, const std::string& appTitle,
                              const std::string& name, const std::string& value);
