// Class, interface, media-type and format identifiers. Interfaces are found with a typed
// query (dynamic_cast), but every identifier the program names is kept as a constant.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};

    friend bool operator==(const Guid& a, const Guid& b)
    {
        return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
               std::memcmp(a.data4, b.data4, 8) == 0;
    }
    friend bool operator<(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof(Guid)) < 0; }

    std::string ToString() const
    {
        char s[40];
        std::snprintf(s, sizeof s, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3,
                      data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
        return s;
    }
};
static_assert(sizeof(Guid) == 16);

// {d1-d2-d3-d4d4-d4d4d4d4d4d4}
constexpr Guid MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint16_t d4hi, uint64_t d4lo)
{
    return Guid{d1, d2, d3,
                {uint8_t(d4hi >> 8), uint8_t(d4hi), uint8_t(d4lo >> 40), uint8_t(d4lo >> 32), uint8_t(d4lo >> 24),
                 uint8_t(d4lo >> 16), uint8_t(d4lo >> 8), uint8_t(d4lo)}};
}

// The media-subtype GUID built from a four-character code or a wave format tag.
constexpr Guid GuidFromFourCC(uint32_t fourcc) { return MakeGuid(fourcc, 0x0000, 0x0010, 0x8000, 0x00AA00389B71ull); }
constexpr uint32_t FourCC(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

constexpr Guid GUID_NULL{};

// Major types.
constexpr Guid MEDIATYPE_Video = GuidFromFourCC(FourCC('v', 'i', 'd', 's'));
constexpr Guid MEDIATYPE_Audio = GuidFromFourCC(FourCC('a', 'u', 'd', 's'));
constexpr Guid MEDIATYPE_Text = GuidFromFourCC(FourCC('t', 'x', 't', 's'));
constexpr Guid MEDIATYPE_Stream = MakeGuid(0xE436EB83, 0x524F, 0x11CE, 0x9F53, 0x0020AF0BA770ull);
constexpr Guid MEDIATYPE_Subtitle = MakeGuid(0xE487EB08, 0x6B26, 0x4BE9, 0x9DD3, 0x993434D313FDull);
constexpr Guid MEDIATYPE_ScriptCommand = MakeGuid(0x73636D64, 0x0000, 0x0010, 0x8000, 0x00AA00389B71ull);

// Subtypes.
constexpr Guid MEDIASUBTYPE_YV12 = GuidFromFourCC(FourCC('Y', 'V', '1', '2'));
constexpr Guid MEDIASUBTYPE_PCM = GuidFromFourCC(0x0001);
constexpr Guid MEDIASUBTYPE_MPEG1Payload = MakeGuid(0xE436EB81, 0x524F, 0x11CE, 0x9F53, 0x0020AF0BA770ull);
constexpr Guid MEDIASUBTYPE_MPEG1AudioPayload = GuidFromFourCC(0x0050);
constexpr Guid MEDIASUBTYPE_MPEG2_VIDEO = MakeGuid(0xE06D8026, 0xDB46, 0x11CF, 0xB4D1, 0x00805F6CBBEAull);
constexpr Guid MEDIASUBTYPE_DOLBY_AC3 = MakeGuid(0xE06D802C, 0xDB46, 0x11CF, 0xB4D1, 0x00805F6CBBEAull);
constexpr Guid MEDIASUBTYPE_DVD_SUBPICTURE = MakeGuid(0xE06D802D, 0xDB46, 0x11CF, 0xB4D1, 0x00805F6CBBEAull);
constexpr Guid MEDIASUBTYPE_DVD_LPCM_AUDIO = MakeGuid(0xE06D8032, 0xDB46, 0x11CF, 0xB4D1, 0x00805F6CBBEAull);
constexpr Guid MEDIASUBTYPE_DTS = MakeGuid(0xE06D8033, 0xDB46, 0x11CF, 0xB4D1, 0x00805F6CBBEAull);
constexpr Guid MEDIASUBTYPE_WAVE_DTS = GuidFromFourCC(0x2001);
constexpr Guid MEDIASUBTYPE_HDMV_LPCM_AUDIO = MakeGuid(0x949F97FD, 0x56F6, 0x4527, 0xB4AE, 0xDDEB375AB80Full);
constexpr Guid MEDIASUBTYPE_SVCD_SUBPICTURE = MakeGuid(0xDA5B82EE, 0x6BD2, 0x426F, 0xBF1E, 0x30112DA78AE1ull);
constexpr Guid MEDIASUBTYPE_CVD_SUBPICTURE = MakeGuid(0x7B57308F, 0x5154, 0x4C36, 0xB903, 0x52FE76E184FCull);
constexpr Guid MEDIASUBTYPE_HDMVSUB = MakeGuid(0x04EBA53E, 0x9330, 0x436C, 0x9133, 0x553EC87031DCull);
constexpr Guid MEDIASUBTYPE_PS2_SUB = MakeGuid(0x4F3D3D21, 0x6D7C, 0x4F73, 0xAA05, 0xE397B5EAE0AAull);
constexpr Guid MEDIASUBTYPE_AVC1 = GuidFromFourCC(FourCC('A', 'V', 'C', '1'));
constexpr Guid MEDIASUBTYPE_WVC1 = GuidFromFourCC(FourCC('W', 'V', 'C', '1'));
// Subpicture/ASF sample subtype whose output pins ask for at least two buffers.
constexpr Guid MEDIASUBTYPE_TwoBufferSubtype = MakeGuid(0xCDDCA2D5, 0x6D75, 0x4F98, 0x840E, 0x737BEDD5C63Bull);

// Format types.
constexpr Guid FORMAT_None = MakeGuid(0x0F6417D6, 0xC318, 0x11D0, 0xA43F, 0x00A0C9223196ull);
constexpr Guid FORMAT_VideoInfo = MakeGuid(0x05589F80, 0xC356, 0x11CE, 0xBF01, 0x00AA0055595Aull);
constexpr Guid FORMAT_VideoInfo2 = MakeGuid(0xF72A76A0, 0xEB0A, 0x11D0, 0xACE4, 0x0000C0CC16BAull);
constexpr Guid FORMAT_WaveFormatEx = MakeGuid(0x05589F81, 0xC356, 0x11CE, 0xBF01, 0x00AA0055595Aull);
constexpr Guid FORMAT_MPEGVideo = MakeGuid(0x05589F82, 0xC356, 0x11CE, 0xBF01, 0x00AA0055595Aull);
constexpr Guid FORMAT_MPEG2Video = MakeGuid(0xE06D80E3, 0xDB46, 0x11CF, 0xB4D1, 0x00805F6CBBEAull);
constexpr Guid FORMAT_TwoBufferFormat = MakeGuid(0x6BDDFA7E, 0x9F22, 0x46A9, 0xAB5E, 0x884EFF294D9Full);

// Time format of the seeking interface: 100 ns units.
constexpr Guid TIME_FORMAT_MEDIA_TIME = MakeGuid(0x7B785574, 0x8C82, 0x11CF, 0xBC0C, 0x00AA00AC74F6ull);
