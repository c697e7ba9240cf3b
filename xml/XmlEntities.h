// Named character references: the HTML 4 entity names plus "apos".
#pragma once

#include <cstdint>
#include <string_view>

namespace xmlentities {

// Code point of an entity name, compared without regard to ASCII letter case; where two names
// differ only in case ("agrave", "Agrave") the exact spelling decides. 0 when the name is unknown.
uint32_t CodePointForName(std::u16string_view name);

}  // namespace xmlentities
