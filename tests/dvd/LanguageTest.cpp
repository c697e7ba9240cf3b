// Language names from the generated ISO 639 table.
#include <gtest/gtest.h>

#include "dvd/Language.h"

namespace {

TEST(Language, NamesFromTwoLetterCodes)
{
    const struct {
        const char* code;
        const char* name;
    } cases[] = {
        {"en", "English"}, {"EN", "English"}, {"fR", "French"}, {"de", "German"},
        {"nl", "Dutch"},   // "Dutch; Flemish"
        {"es", "Spanish"}, // "Spanish; Castilian"
        {"ja", "Japanese"}, {"zh", "Chinese"},
        {"xx", ""}, {"", ""}, {"e", ""}, {"eng", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LanguageNameFromAlpha2(c.code), c.name) << c.code;
    EXPECT_EQ(LanguageNameFromPacked('e' << 8 | 'n'), "English");
    EXPECT_EQ(LanguageNameFromPacked(0), "");
    EXPECT_EQ(LanguageNameFromPacked(0xFFFF), "");
}

TEST(Language, ThreeLetterCodes)
{
    const struct {
        const char* code;
        const char* name;
        const char* alpha2;
    } cases[] = {
        {"eng", "English", "en"}, {"deu", "German", "de"}, {"ger", "German", "de"},
        {"FRE", "French", "fr"},  {"fra", "French", "fr"}, {"nld", "Dutch", "nl"},
        {"ast", "Asturian", ""},  // no two-letter code
        {"zzz", "", ""}, {"en", "", ""}, {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LanguageNameFromAlpha3(c.code), c.name) << c.code;
        EXPECT_EQ(LanguageAlpha2FromAlpha3(c.code), c.alpha2) << c.code;
    }
}

}  // namespace
