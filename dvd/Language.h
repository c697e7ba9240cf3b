// Language names from the ISO 639 table generated at build time from Debian's iso-codes data.
// The table is read-only and built into the program; every function is safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Name of a language given by its two-letter code (any letter case): the text before the first
// ";" of the table's name ("nl" -> "Dutch"); "" when the code is not in the table.
std::string LanguageNameFromAlpha2(std::string_view code);

// The same for a disc record's packed code: first letter in bits 8-15, second in bits 0-7.
std::string LanguageNameFromPacked(uint32_t packedCode);

// Name of a language given by a three-letter code, terminology ("deu") or bibliographic
// ("ger") form, any letter case; "" when unknown.
std::string LanguageNameFromAlpha3(std::string_view code);

// Two-letter code of a three-letter code ("fra" or "fre" -> "fr"); "" when it has none.
std::string LanguageAlpha2FromAlpha3(std::string_view code);
