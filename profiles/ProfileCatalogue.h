// The profile catalogue shown by the main window's profile selector: 17 categories, each with
// a name and a title picture, and their entries, each with a command identifier, a
// "Title/nDescription" text, a picture and the index of the profile it selects.
// The tables are constant; any thread may read them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct CatalogueEntry {
    int32_t commandId;          // 32801 .. 32927
    int32_t profileIndex;       // Index of the profile in Format.xml
    const char* text;           // "Title/nDescription" (UTF-8)
    const char* picture;        // bitmap file name inside the Skin folder
};

struct CatalogueCategory {
    int32_t number;             // 1 .. 17
    const char* name;
    const char* titlePicture;   // path below the executable's folder, "/Skin/... Title.bmp"
    std::span<const CatalogueEntry> entries;
};

// The categories in display order.
std::span<const CatalogueCategory> ProfileCategories();

// Command identifiers routed to the profile choice handler.
constexpr int32_t kFirstProfileCommand = 32801;
constexpr int32_t kLastProfileCommand = 32927;

// The profile index the command selects; an identifier without a table row selects 0.
// 32851 and 32853 have rows (profile 46) but no catalogue entry.
int32_t ProfileIndexForCommand(int32_t commandId);

// The entry with that command identifier, or nullptr.
const CatalogueEntry* FindCatalogueEntry(int32_t commandId);

// The two lines of an entry's text, split at "/n".
std::string_view EntryTitle(const CatalogueEntry& entry);
std::string_view EntryDescription(const CatalogueEntry& entry);
