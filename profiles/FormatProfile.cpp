#include "profiles/FormatProfile.h"

#include <cstring>

namespace {

// Appends one code point to UTF-8 text.
void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

} // namespace

std::string Utf16FieldToUtf8(const char16_t* field, size_t capacity)
{
    std::string out;
    size_t n = 0;
    while (n < capacity && field[n])
        ++n;
    for (size_t i = 0; i < n; ++i) {
        char16_t u = field[i];
        if (IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate(field[i + 1])) {
            char32_t cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(field[i + 1]) - 0xDC00);
            AppendUtf8(out, cp);
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            AppendUtf8(out, 0xFFFD);  // unpaired surrogate
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

bool AssignUtf16Field(char16_t* field, size_t capacity, const std::u16string& value)
{
    if (capacity == 0)
        return value.empty();
    // The value may hold an embedded zero; the field ends there either way.
    size_t length = value.size();
    for (size_t i = 0; i < length; ++i) {
        if (value[i] == 0) {
            length = i;
            break;
        }
    }
    bool fits = length <= capacity - 1;
    size_t count = fits ? length : capacity - 1;
    // Never keep the first half of a surrogate pair whose second half was cut off.
    if (!fits && count > 0 && IsHighSurrogate(value[count - 1]))
        --count;
    std::memcpy(field, value.data(), count * sizeof(char16_t));
    std::memset(field + count, 0, (capacity - count) * sizeof(char16_t));
    return fits;
}

bool AssignCharField(char* field, size_t capacity, const std::string& value)
{
    if (capacity == 0)
        return value.empty();
    size_t length = value.find('\0');
    if (length == std::string::npos)
        length = value.size();
    bool fits = length <= capacity - 1;
    size_t count = fits ? length : capacity - 1;
    // Cut before a UTF-8 sequence that would be split: back up over continuation bytes to the
    // lead byte and drop the whole sequence if it does not end inside the field.
    if (!fits && count > 0) {
        size_t lead = count;
        while (lead > 0 && (static_cast<unsigned char>(value[lead - 1]) & 0xC0) == 0x80)
            --lead;
        if (lead > 0) {
            unsigned char c = static_cast<unsigned char>(value[lead - 1]);
            size_t seq = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (lead - 1 + seq > count)
                count = lead - 1;
        }
    }
    std::memcpy(field, value.data(), count);
    std::memset(field + count, 0, capacity - count);
    return fits;
}
