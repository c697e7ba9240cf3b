// One output profile: a plain fixed-size record, copied whole between the profile list, the
// main window and the settings dialog. Text fields are zero-terminated and never overrun:
// loading truncates values that do not fit (and logs it).
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

struct FormatProfile {
    int32_t Index;                  // position of the Profile element in Format.xml, from 0
    char16_t FormatExt[8];          // output file extension, e.g. u".mp4"; decides the container
    char16_t ProfileName[160];
    char16_t Resolutions[128];      // choice lists: comma-separated key$label items
    char16_t FrameRates[128];
    char16_t VideoBitRates[320];
    char16_t AudioBitRates[128];
    char16_t SampleRates[128];
    char16_t Channels[64];
    char16_t VideoCodecs[256];
    char16_t AudioCodecs[128];
    // Video group.
    int32_t VideoEnabled;           // 1: the output has a video stream
    int32_t Width;
    int32_t Height;
    int32_t VideoBitRate;           // bits per second
    int32_t FrameRate;              // thousandths of a frame per second; 29970 = 30000/1001
    char VideoCodecName[16];        // FFmpeg encoder name
    // Audio group.
    int32_t AudioEnabled;
    int32_t SampleRate;             // Hz
    int32_t Channel;
    int32_t AudioBitRate;           // bits per second
    char AudioCodecName[16];        // FFmpeg encoder name
};
static_assert(std::is_trivially_copyable_v<FormatProfile>);

// UTF-16 field <-> UTF-8 text. Assign truncates to the field and reports whether it had to.
std::string Utf16FieldToUtf8(const char16_t* field, size_t capacity);
bool AssignUtf16Field(char16_t* field, size_t capacity, const std::u16string& value);
bool AssignCharField(char* field, size_t capacity, const std::string& value);

template <size_t N>
std::string FieldText(const char16_t (&field)[N])
{
    return Utf16FieldToUtf8(field, N);
}
template <size_t N>
std::string FieldText(const char (&field)[N])
{
    size_t n = 0;
    while (n < N && field[n])
        ++n;
    return std::string(field, n);
}
