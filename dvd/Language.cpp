#include "dvd/Language.h"

#include <cctype>

namespace {

struct LanguageRow {
    const char* alpha2;
    const char* alpha3;
    const char* bibliographic;
    const char* name;
};

constexpr LanguageRow kLanguages[] = {
#include "Iso639Table.inc"
};

std::string Lowered(std::string_view code)
{
    std::string out(code);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The table's names list variants separated by "; " ("Dutch; Flemish"); the first one is used.
std::string FirstName(const char* name)
{
    std::string_view text(name);
    const size_t cut = text.find(';');
    return std::string(cut == std::string_view::npos ? text : text.substr(0, cut));
}

const LanguageRow* FindAlpha3(std::string_view code)
{
    if (code.size() != 3)
        return nullptr;
    const std::string key = Lowered(code);
    for (const LanguageRow& row : kLanguages) {
        if (key == row.alpha3 || key == row.bibliographic)
            return &row;
    }
    return nullptr;
}

}  // namespace

std::string LanguageNameFromAlpha2(std::string_view code)
{
    if (code.size() != 2)
        return {};
    const std::string key = Lowered(code);
    for (const LanguageRow& row : kLanguages) {
        if (key == row.alpha2)
            return FirstName(row.name);
    }
    return {};
}

std::string LanguageNameFromPacked(uint32_t packedCode)
{
    const char letters[2] = {static_cast<char>((packedCode >> 8) & 0xFF),
                             static_cast<char>(packedCode & 0xFF)};
    return LanguageNameFromAlpha2(std::string_view(letters, 2));
}

std::string LanguageNameFromAlpha3(std::string_view code)
{
    const LanguageRow* row = FindAlpha3(code);
    return row ? FirstName(row->name) : std::string();
}

std::string LanguageAlpha2FromAlpha3(std::string_view code)
{
    const LanguageRow* row = FindAlpha3(code);
    return row ? std::string(row->alpha2) : std::string();
}
