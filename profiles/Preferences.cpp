#include "profiles/Preferences.h"

#include "profiles/PreferenceStore.h"

namespace {

// Length in UTF-16 units, the unit the 256-character rule counts.
size_t Utf16Length(const std::string& text)
{
    size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) == 0x80)
            continue;
        units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

void TakeString(const CPreferenceStore& store, const std::string& key, const char* name, std::string& target)
{
    const StoreValue* value = store.FindValue(key, name);
    if (!value)
        return;
    if (value->type != StoreValue::Type::String && value->type != StoreValue::Type::ExpandString)
        return;
    if (Utf16Length(value->text) + 1 > kPreferenceStringRoom)
        return;
    target = value->text;
}

} // namespace

PreferenceValues DefaultPreferences(const UserFolders& folders)
{
    PreferenceValues values;
    values.OutFolder = UserVideosFolder(folders);
    values.SnapFolder = UserPicturesFolder(folders);
    values.ImageType = "BMP";
    values.Action = "No Action";
    values.CpuUsage = 50;
    return values;
}

std::string PreferenceKeyPath(const std::string& appTitle)
{
    std::string path = "Software\\" + appTitle;
    for (char& c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return path;
}

std::string PreferenceStoreFile(const std::string& configRoot)
{
    return configRoot + "/ZaDeroza/registry.ini";
}

HRESULT ReadPreferences(const std::string& storeFile, const std::string& appTitle, PreferenceValues& values)
{
    CPreferenceStore store(storeFile);
    HRESULT hr = store.Load();
    if (hr != S_OK)
        return hr;
    const std::string key = PreferenceKeyPath(appTitle);
    if (!store.HasKey(key))
        return S_FALSE;
    TakeString(store, key, kOutFolderValue, values.OutFolder);
    TakeString(store, key, kSnapFolderValue, values.SnapFolder);
    TakeString(store, key, kImageTypeValue, values.ImageType);
    TakeString(store, key, kActionValue, values.Action);
    const StoreValue* cpu = store.FindValue(key, kCpuUsageValue);
    if (cpu && cpu->type == StoreValue::Type::Dword)
        values.CpuUsage = static_cast<int32_t>(cpu->number);
    return S_OK;
}

HRESULT StorePreferences(const std::string& storeFile, const std::string& appTitle,
                         PreferenceValues& current, const PreferenceValues& edited)
{
    CPreferenceStore store(storeFile);
    if (Failed(store.Load()) || !store.CanWrite())
        return E_FAIL;
    const std::string key = PreferenceKeyPath(appTitle);
    store.CreateKey(key);
    PreferenceValues next = current;
    auto change = [&](const char* name, std::string& target, const std::string& value) {
        if (target != value) {
            target = value;
            store.SetString(key, name, value);
        }
    };
    change(kOutFolderValue, next.OutFolder, edited.OutFolder);
    change(kSnapFolderValue, next.SnapFolder, edited.SnapFolder);
    change(kImageTypeValue, next.ImageType, edited.ImageType);
    change(kActionValue, next.Action, edited.Action);
    if (next.CpuUsage != edited.CpuUsage) {
        next.CpuUsage = edited.CpuUsage;
        store.SetDword(key, kCpuUsageValue, static_cast<uint32_t>(edited.CpuUsage));
    }
    if (Failed(store.Save()))
        return E_FAIL;
    current = next;
    return S_OK;
}

HRESULT StorePreferenceString(const std::string& storeFile, const std::string& appTitle,
                              const std::string& name, const std::string& value)
{
    CPreferenceStore store(storeFile);
    if (Failed(store.Load()) || !store.CanWrite())
        return E_FAIL;
    store.SetString(PreferenceKeyPath(appTitle), name, value);
    return store.Save();
}
