#include "profiles/ProfileLookup.h"

#include <cstdlib>

#include "profiles/ProfileCatalogue.h"

namespace {

bool SameTextIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool IsIndex(const std::string& text)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

bool FindProfileByIndexOrName(const ProfileList& list, const std::string& text, FormatProfile& out)
{
    if (IsIndex(text))
        return list.FindProfile(static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10)), out);
    {
        ProfileListLock hold(list);
        for (size_t i = 0; i < list.Count(); ++i) {
            if (SameTextIgnoringCase(FieldText(list.At(i).ProfileName), text)) {
                out = list.At(i);
                return true;
            }
        }
    }
    for (const CatalogueCategory& category : ProfileCategories()) {
        for (const CatalogueEntry& entry : category.entries) {
            if (SameTextIgnoringCase(EntryTitle(entry), text))
                return list.FindProfile(entry.profileIndex, out);
        }
    }
    return false;
}
