// setting.ini: the profile selector's last category and entry, kept between runs in section
// "SETTING" as the integer keys "DEFULTID" and "DEFULTSUBID".
// Threads: user-interface thread only (read at start-up, written when the main window closes).
#pragma once

#include <cstdint>
#include <string>

struct ProfileSelection {
    int32_t categoryId = 0;   // "DEFULTID": category number shown by the selector
    int32_t subId = 0;        // "DEFULTSUBID": command identifier of the chosen entry
};

// The file's folder: the executable's folder when a file can be written there, otherwise
// configRoot + "/ZaDeroza".
std::string SettingIniFolder(const std::string& executableFolder, const std::string& configRoot);
// SettingIniFolder(...) + "/setting.ini".
std::string SettingIniPath(const std::string& executableFolder, const std::string& configRoot);

// Reads both keys; a missing file, section or key, or a value without digits, reads as 0.
ProfileSelection ReadSettingIni(const std::string& path);

// Writes both keys as "%d", keeping the file's other sections and keys; creates the file and
// its folder when missing. The write is atomic. False when it cannot be written.
bool WriteSettingIni(const std::string& path, const ProfileSelection& selection);

// One integer of an INI file, as the reader above takes it (exposed for the tests).
int32_t ReadIniInt(const std::string& text, const std::string& section, const std::string& key);
// The INI text with section/key set to value, everything else kept.
std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value);
