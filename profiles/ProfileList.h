// The output profiles loaded from Format.xml, the site settings from Set.xml, and the helpers
// for the comma-separated choice lists of a profile.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "profiles/FormatProfile.h"

// All profiles in file order, each a private copy.
// Threads: every access comes from the user-interface thread; each one still takes m_lock,
// which is recursive so that a caller holding it for an iteration may call FindProfile.
class ProfileList {
public:
    // Appends a copy at the end. Takes the lock.
    void AddProfile(const FormatProfile& profile);
    // Copies the first profile whose Index equals index into out; false if there is none.
    // Takes the lock.
    bool FindProfile(int32_t index, FormatProfile& out) const;
    // Removes every profile. Takes the lock.
    void Clear();

    // Locked iteration: Lock(), then Count() / At(i) from 0 to Count() - 1, then Unlock().
    void Lock() const { m_lock.lock(); }
    void Unlock() const { m_lock.unlock(); }
    // Caller holds the lock.
    size_t Count() const { return m_profiles.size(); }
    // Caller holds the lock; i < Count().
    const FormatProfile& At(size_t i) const { return m_profiles[i]; }

private:
    mutable std::recursive_mutex m_lock;
    std::vector<FormatProfile> m_profiles;   // guarded by m_lock
};

// RAII holder of the list's lock for an iteration.
class ProfileListLock {
public:
    explicit ProfileListLock(const ProfileList& list) : m_list(list) { m_list.Lock(); }
    ~ProfileListLock() { m_list.Unlock(); }
    ProfileListLock(const ProfileListLock&) = delete;
    ProfileListLock& operator=(const ProfileListLock&) = delete;

private:
    const ProfileList& m_list;
};

// Loads Format.xml into list. path is the file itself or the folder that holds it (an empty
// path means the process's current directory). Returns false when the file is missing or not
// well formed, leaving the list untouched; true otherwise, also when it holds no Profile.
// A value too long for its field is cut to fit; each cut writes one line to stderr naming the
// profile and the field, and is also appended to truncations when that is given.
bool LoadProfiles(const std::string& path, ProfileList& list,
                  std::vector<std::string>* truncations = nullptr);

// Application title and home-page address from Set.xml (UTF-8).
struct SiteSettings {
    std::string AppTitle;
    std::string AppUrl;
};
// Reads Set.xml (file or folder as for LoadProfiles) into settings; a missing file or element
// leaves that string empty. Returns whether the file loaded as a well-formed document.
bool LoadSiteSettings(const std::string& path, SiteSettings& settings);

// One item of a choice list: key$label, or a bare value that is both.
struct ChoiceItem {
    std::string key;
    std::string label;
};
// Splits a choice list at ',' from the start; an empty text after the last ',' is no item.
std::vector<ChoiceItem> ChoiceItems(const std::string& list);
// The labels of the items in order, as a drop-down shows them.
std::vector<std::string> FillChoiceList(const std::string& list);
// The label of the first item whose key equals key exactly; empty if none.
std::string LabelForKey(const std::string& list, const std::string& key);
// The key of the first item whose label equals label exactly; empty if none.
std::string KeyForLabel(const std::string& list, const std::string& label);
