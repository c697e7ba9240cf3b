#include "profiles/ProfileCatalogue.h"

namespace {

// Entries of each category in display order: command identifier, profile index,
// "Title/nDescription", picture.
constexpr CatalogueEntry kCategory1[] = {
    {32801, 0, "ASF-Advanced Streaming Format(*.asf)/n"
     "Microsoft advanced streaming media,widely used for network.", "ASF.bmp"},
    {32802, 1, "AVI-Audio-Video Interleaved(*.avi)/n"
     "MPEG-4 video and MP3 audio in AVI, played by most desktop players.", "AVI.bmp"},
    {32803, 2, "DV-Digital Video(*.dv)/n"
     "NTSC DV at 720x480 with 48 kHz PCM sound, for video editing software.", "DV.bmp"},
    {32804, 3, "DVD-DVD Video(*.vob)/n"
     "MPEG-2 video and AC-3 audio in a DVD program stream.", "DVD.bmp"},
    {32805, 4, "DivX Video(*.avi)/n"
     "Xvid MPEG-4 video and MP3 audio in AVI, compatible with DivX players.", "DIVX.bmp"},
    {32806, 5, "H.264/MPEG-4 AVC Video(*.mp4)/n"
     "H.264 video and AAC audio in MP4: small files with good quality.", "AVC.bmp"},
    {32807, 6, "MOV-QuickTime Video(*.mov)/n"
     "MPEG-4 video and AAC audio in a QuickTime movie.", "MOV.bmp"},
    {32808, 7, "MP4-MPEG-4 Video(*.mp4)/n"
     "MPEG-4 Part 2 video and AAC audio in MP4, for players and devices.", "MP4.bmp"},
    {32809, 8, "MPEG1 Video(*.mpg)/n"
     "MPEG-1 video and MP2 audio at VCD size, played almost everywhere.", "MPEG.bmp"},
    {32810, 9, "MPEG2 Video(*.mpg)/n"
     "MPEG-2 video and MP2 audio at DVD size in an MPEG program stream.", "MPEG2.bmp"},
    {32813, 10, "WMV-Windows Media Video(*.wmv)/n"
     "Windows Media Video 8 and WMA 2, for Windows Media Player.", "WMV.bmp"},
    {32814, 11, "MKV-Audio-Video Format(*.mkv)/n"
     "H.264 video and AAC audio in Matroska, an open container.", "MKV.bmp"},
};
constexpr CatalogueEntry kCategory2[] = {
    {32815, 12, "AAC-Advanced Audio Coding(*.aac)/n"
     "AAC sound in an ADTS stream: good quality at low bit rates.", "aac.bmp"},
    {32816, 13, "AC3-Dolby Digital AC-3(*.ac3)/n"
     "Dolby Digital AC-3 sound at 48 kHz, as used on DVDs.", "ac3.bmp"},
    {32817, 14, "AIFF-Audio interchange file format(*.aiff)/n"
     "Uncompressed 16-bit PCM sound in an AIFF file.", "aiff.bmp"},
    {32819, 15, "M4A-MPEG-4 Audio(*.m4a)/n"
     "AAC sound in an MPEG-4 audio file, for music players.", "m4a.bmp"},
    {32820, 16, "MP2-MPEG Layer-2 Audio(*.mp2)/n"
     "MPEG-1 Layer II sound, as used in broadcasting and VCDs.", "mp2.bmp"},
    {32821, 17, "MP3-MPEG Layer-3 Audio(*.mp3)/n"
     "Popular audio format,with excellent sound quality and small size.", "mp3.bmp"},
    {32822, 18, "OGG-OGG Vorbis Audio(*.ogg)/n"
     "Vorbis sound in an Ogg file, an open and free format.", "ogg.bmp"},
    {32824, 19, "WAV-Waveform Audio(*.wav)/n"
     "Uncompressed 16-bit PCM sound in a WAV file.", "wav.bmp"},
    {32825, 20, "WMA-Windows Media Audio(*.wma)/n"
     "Windows Media Audio 2 sound, for Windows players.", "wma.bmp"},
};
constexpr CatalogueEntry kCategory3[] = {
    {32828, 21, "Apple TV-H.264 Video(*.mp4)/n"
     "H.264 video and AAC audio at standard size for Apple TV.", "TV.bmp"},
    {32829, 22, "Apple TV-H.264 HD Video(*.mp4)/n"
     "H.264 video and AAC audio at 1280x720 for Apple TV.", "TV.bmp"},
    {32830, 23, "Apple TV-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video and AAC audio at standard size for Apple TV.", "TV.bmp"},
};
constexpr CatalogueEntry kCategory4[] = {
    {32831, 24, "HD-ASF Video(*.asf)/n"
     "High-definition Windows Media Video 8 in an ASF file.", "HD ASF.bmp"},
    {32832, 25, "HD-AVI Video(*.avi)/n"
     "High-definition MPEG-4 video and MP3 audio in AVI.", "HD AVI.bmp"},
    {32833, 26, "HD-DivX Video(*.avi)/n"
     "High-definition Xvid video and MP3 audio in AVI.", "HD DIVX.bmp"},
    {32876, 27, "HD-H.264 Video(*.mp4)/n"
     "1920x1080 H.264 video and AAC audio in MP4.", "HD AVC.bmp"},
    {32877, 28, "HD-MOV Video(*.mov)/n"
     "High-definition H.264 video and AAC audio in a QuickTime movie.", "HD MOV.bmp"},
    {32878, 29, "HD-MPEG2 TS Video(*.ts)/n"
     "1920x1080 MPEG-2 video and AC-3 audio in a transport stream.", "HD MPEG2.bmp"},
    {32879, 30, "HD-MPEG2-PS Video(*.mpg)/n"
     "1920x1080 MPEG-2 video and MP2 audio in a program stream.", "HD MPEG2.bmp"},
    {32883, 31, "HD-MPEG4 Video(*.mp4)/n"
     "High-definition MPEG-4 video and AAC audio in MP4.", "HD MPEG4.bmp"},
    {32881, 32, "HD-WMV Video(*.wmv)/n"
     "High-definition Windows Media Video 8 and WMA 2.", "HD WMV.bmp"},
};
constexpr CatalogueEntry kCategory5[] = {
    {32836, 33, "iPod-H.264 Video(*.mp4)/n"
     "H.264 video at 320x240 with AAC audio for iPod with video.", "ipod.bmp"},
    {32837, 34, "iPod-H.264 Video for TV(*.mp4)/n"
     "H.264 video at 640x480 for playing from an iPod on a TV.", "iPod tv.bmp"},
    {32838, 35, "iPod-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 320x240 with AAC audio for iPod with video.", "ipod.bmp"},
    {32839, 36, "iPod-MPEG4 Video for TV(*.mp4)/n"
     "MPEG-4 video at 640x480 for playing from an iPod on a TV.", "iPod tv.bmp"},
    {32840, 37, "iPod nano5-H.264 Video(*.mp4)/n"
     "H.264 video at 376x240 for the fifth-generation iPod nano.", "ipod.bmp"},
    {32841, 38, "iPod nano5-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 376x240 for the fifth-generation iPod nano.", "ipod.bmp"},
    {32842, 39, "iPod touch-H.264 Video(*.mp4)/n"
     "H.264 video at 480x320 for the iPod touch screen.", "ipod touch.bmp"},
    {32843, 40, "iPod touch-H.264 Video for TV(*.mp4)/n"
     "H.264 video at 640x480 for playing from an iPod touch on a TV.", "ipod touch.bmp"},
    {32844, 41, "iPod touch-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 480x320 for the iPod touch screen.", "ipod touch.bmp"},
    {32845, 42, "iPod touch-MPEG4 Video for TV(*.mp4)/n"
     "MPEG-4 video at 640x480 for playing from an iPod touch on a TV.", "ipod touch.bmp"},
};
constexpr CatalogueEntry kCategory6[] = {
    {32846, 43, "iPad-H.264 Video(*.mp4)/n"
     "H.264 video at 1024x768 with AAC audio for iPad.", "IPAD35.bmp"},
    {32847, 44, "iPad-H.264 HD Video(*.mp4)/n"
     "H.264 video at 1280x720 with AAC audio for iPad.", "IPAD35.bmp"},
    {32848, 45, "iPad-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 640x480 with AAC audio for iPad.", "IPAD35.bmp"},
};
constexpr CatalogueEntry kCategory7[] = {
    {32850, 47, "iPhone-3GS MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 480x320 with AAC audio for iPhone 3GS.", "iPhone.bmp"},
    {32852, 47, "iPhone-3G MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 480x320 with AAC audio for iPhone 3G.", "iPhone.bmp"},
    {32884, 48, "iPhone-4 Video(*.mp4)/n"
     "H.264 video at 960x640 with AAC audio for iPhone 4.", "iPhone.bmp"},
    {32854, 49, "iPhone-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 480x320 with AAC audio for iPhone.", "iPhone.bmp"},
    {32855, 50, "iPhone-H.264 Video(*.mp4)/n"
     "H.264 video at 480x320 with AAC audio for iPhone.", "iPhone.bmp"},
};
constexpr CatalogueEntry kCategory8[] = {
    {32856, 51, "OGG-OGG Vorbis Audio(*.ogg)/n"
     "Vorbis sound at a high bit rate and 48 kHz in an Ogg file.", "OGG.bmp"},
    {32885, 52, "FLAC-Free Lossless Audio(*.flac)/n"
     "FLAC: compressed sound that decodes to exactly the original samples.", "flac.bmp"},
    {32886, 53, "WAV-Waveform Audio(*.wav)/n"
     "Uncompressed 16-bit PCM sound at 48 kHz, as on the disc.", "wav.bmp"},
    {32887, 54, "WMA-Windows Media Audio(*.wma)/n"
     "Windows Media Audio 2 at a high bit rate and 48 kHz.", "wma.bmp"},
};
constexpr CatalogueEntry kCategory9[] = {
    {32888, 55, "3GP-Mobile Phone 3GP Video-Mono(*.3gp)/n"
     "H.263 video at 176x144 with mono AAC audio for mobile phones.", "3GPP.bmp"},
    {32889, 56, "3GP-Mobile Phone 3GP Video-Stereo(*.3gp)/n"
     "H.263 video at 176x144 with stereo AAC audio for mobile phones.", "3GPP2.bmp"},
    {32890, 57, "BlackBerry-3GP Video(*.3gp)/n"
     "H.263 video at 352x288 with AAC audio for BlackBerry phones.", "blackberry.bmp"},
    {32891, 58, "BlackBerry-AVI Video(*.avi)/n"
     "MPEG-4 video at 480x360 with MP3 audio in AVI for BlackBerry phones.", "blackberry.bmp"},
    {32892, 59, "BlackBerry-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 480x360 with AAC audio for BlackBerry phones.", "blackberry.bmp"},
    {32893, 60, "WMA-Windows Media Audio(*.wma)/n"
     "Windows Media Audio 2 at 64 kbps for phones.", "wma.bmp"},
};
constexpr CatalogueEntry kCategory10[] = {
    {32858, 61, "Android-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 480x320 with AAC audio for Android phones.", "Android.bmp"},
    {32862, 62, "Motorola CLIQ-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 480x320 with AAC audio for Motorola CLIQ.", "motoroal cliq.bmp"},
    {32863, 63, "Motorola Droid-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 854x480 with AAC audio for Motorola Droid.", "motorola droid.bmp"},
    {32864, 64, "Nexus One-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 800x480 with AAC audio for Nexus One.", "nexus one.bmp"},
    {32865, 65, "SamSung i7500-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 480x320 with AAC audio for Samsung i7500.", "samsung.bmp"},
};
constexpr CatalogueEntry kCategory11[] = {
    {32866, 66, "FLV-Flash Video Format(*.flv)/n"
     "Sorenson H.263 video and MP3 audio in FLV, for web pages.", "flv.bmp"},
    {32867, 67, "SWF-SWF Format(*.swf)/n"
     "Sorenson H.263 video and MP3 audio in a Flash movie.", "swf.bmp"},
    {32868, 68, "F4V-Flash Video Format(*.flv)/n"
     "H.264 video and AAC audio in FLV, for newer Flash players.", "f4v.bmp"},
};
constexpr CatalogueEntry kCategory12[] = {
    {32894, 69, "Archos-H.264 Video(*.mp4)/n"
     "H.264 video at 720x480 with AAC audio for Archos players.", "archos.bmp"},
    {32895, 70, "Archos-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 720x480 with AAC audio for Archos players.", "archos.bmp"},
    {32896, 71, "Archos-WMV Video(*.wmv)/n"
     "Windows Media Video 8 at 720x480 for Archos players.", "archos.bmp"},
    {32897, 72, "Creative ZEN-H.264 Video(*.mp4)/n"
     "H.264 video at 320x240 with AAC audio for Creative ZEN.", "zen.bmp"},
    {32898, 73, "Creative ZEN-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 320x240 with AAC audio for Creative ZEN.", "zen.bmp"},
    {32899, 74, "Creative ZEN-WMV Video(*.wmv)/n"
     "Windows Media Video 8 at 320x240 for Creative ZEN.", "zen.bmp"},
    {32900, 75, "iRiver-H.264 Video(*.mp4)/n"
     "H.264 video at 320x240 with AAC audio for iRiver players.", "IRIVER.bmp"},
    {32901, 76, "iRiver-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 320x240 with AAC audio for iRiver players.", "IRIVER.bmp"},
    {32902, 77, "iRiver-WMV Video(*.wmv)/n"
     "Windows Media Video 8 at 320x240 for iRiver players.", "IRIVER.bmp"},
};
constexpr CatalogueEntry kCategory13[] = {
    {32903, 78, "PS3-H.264 Video(*.mp4)/n"
     "H.264 video at 720x480 with AAC audio for PlayStation 3.", "PS3.bmp"},
    {32904, 79, "PS3-DivX HD Video(*.avi)/n"
     "High-definition Xvid video and MP3 audio in AVI for PlayStation 3.", "PS3.bmp"},
    {32905, 80, "PS3-DivX Video(*.avi)/n"
     "Xvid video at 720x480 and MP3 audio in AVI for PlayStation 3.", "PS3.bmp"},
    {32906, 81, "PS3-H.264 HD Video(*.mp4)/n"
     "H.264 video at 1920x1080 with AAC audio for PlayStation 3.", "PS3.bmp"},
    {32907, 82, "PS3-MPEG2 Video(*.mpg)/n"
     "MPEG-2 video at 720x480 with MP2 audio for PlayStation 3.", "PS3.bmp"},
    {32908, 83, "PS3-MPEG2-PS HD Video(*.mpg)/n"
     "MPEG-2 video at 1920x1080 in a program stream for PlayStation 3.", "PS3.bmp"},
    {32909, 84, "PS3-MPEG2 TS HD Video(*.ts)/n"
     "MPEG-2 video at 1920x1080 in a transport stream for PlayStation 3.", "PS3.bmp"},
    {32910, 85, "PS3-WMV HD Video(*.wmv)/n"
     "High-definition Windows Media Video 8 for PlayStation 3.", "PS3.bmp"},
    {32911, 86, "PS3-WMV Video(*.wmv)/n"
     "Windows Media Video 8 at 720x480 for PlayStation 3.", "PS3.bmp"},
};
constexpr CatalogueEntry kCategory14[] = {
    {32869, 87, "PSP-H.264 Video(*.mp4)/n"
     "H.264 video at 480x272 with AAC audio for PSP.", "PSP.bmp"},
    {32870, 88, "PSP-H.264 Video for TV(*.mp4)/n"
     "H.264 video at 720x480 for playing from a PSP on a TV.", "PSP.bmp"},
    {32871, 89, "PSP-H.264 Video for firmware 2.00 or above(*.mp4)/n"
     "MPEG4 profile optimized for for PSP firmware 2.00 or above.", "PSP.bmp"},
    {32872, 90, "PSP-MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 320x240 with AAC audio for PSP.", "PSP.bmp"},
};
constexpr CatalogueEntry kCategory15[] = {
    {32912, 91, "Wii -AVI Video(*.avi)/n"
     "Motion JPEG video and PCM sound in AVI, as the Wii plays it.", "wii.bmp"},
    {32913, 92, "Wii -MOV Video(*.mov)/n"
     "Motion JPEG video and PCM sound in a QuickTime movie for Wii.", "wii.bmp"},
};
constexpr CatalogueEntry kCategory16[] = {
    {32914, 93, "Xbox360 -WMV Video(*.wmv)/n"
     "Windows Media Video 8 at 720x480 for Xbox 360.", "XBOX.bmp"},
    {32915, 94, "Xbox360 -DivX HD Video(*.avi)/n"
     "High-definition Xvid video and MP3 audio in AVI for Xbox 360.", "XBOX.bmp"},
    {32916, 95, "Xbox360 -DivX Video(*.avi)/n"
     "Xvid video at 720x480 and MP3 audio in AVI for Xbox 360.", "XBOX.bmp"},
    {32917, 96, "Xbox360 -H.264 HD Video(*.mov)/n"
     "High-definition H.264 video and AAC audio in QuickTime for Xbox 360.", "XBOX.bmp"},
    {32918, 97, "Xbox360 -H.264 Video(*.mov)/n"
     "H.264 video at 720x480 and AAC audio in QuickTime for Xbox 360.", "XBOX.bmp"},
    {32919, 98, "Xbox360 -MPEG2 Video(*.mpg)/n"
     "MPEG-2 video at 720x480 with MP2 audio for Xbox 360.", "XBOX.bmp"},
    {32920, 99, "Xbox360 -MPEG2-PS HD Video(*.mpg)/n"
     "MPEG-2 video at 1920x1080 in a program stream for Xbox 360.", "XBOX.bmp"},
    {32921, 100, "Xbox360 -MPEG2 TS HD Video(*.ts)/n"
     "MPEG-2 video at 1920x1080 in a transport stream for Xbox 360.", "XBOX.bmp"},
    {32874, 101, "Xbox360 -MPEG4 HD Video(*.mov)/n"
     "High-definition MPEG-4 video and AAC audio in QuickTime for Xbox 360.", "XBOX.bmp"},
    {32922, 102, "Xbox360 -MPEG4 Video(*.mov)/n"
     "MPEG-4 video at 720x480 and AAC audio in QuickTime for Xbox 360.", "XBOX.bmp"},
    {32923, 103, "Xbox360 -WMV HD Video(*.wmv)/n"
     "High-definition Windows Media Video 8 for Xbox 360.", "XBOX.bmp"},
};
constexpr CatalogueEntry kCategory17[] = {
    {32925, 104, "Zune - WMV Video(*.wmv)/n"
     "Windows Media Video 8 at 320x240 for Zune.", "ZUNE.bmp"},
    {32926, 105, "Zune - H.264 Video(*.mp4)/n"
     "H.264 video at 320x240 with AAC audio for Zune.", "ZUNE.bmp"},
    {32927, 106, "Zune - MPEG4 Video(*.mp4)/n"
     "MPEG-4 video at 320x240 with AAC audio for Zune.", "ZUNE.bmp"},
};

constexpr CatalogueCategory kCategories[] = {
    {1, "General Video", "/Skin/General Video Title.bmp", kCategory1},
    {2, "General Audio", "/Skin/General Audio Title.bmp", kCategory2},
    {3, "Apple TV", "/Skin/TV Title.bmp", kCategory3},
    {4, "HD Video", "/Skin/HD Title.bmp", kCategory4},
    {5, "Apple iPod", "/Skin/iPod Title.bmp", kCategory5},
    {6, "Apple iPad", "/Skin/iPad Title.bmp", kCategory6},
    {7, "Apple iPhone", "/Skin/iPhone Title.bmp", kCategory7},
    {8, "Lossless Audio", "/Skin/LS Title.bmp", kCategory8},
    {9, "Mobile Phone", "/Skin/Mobile Phone Title.bmp", kCategory9},
    {10, "Android", "/Skin/Android Title.bmp", kCategory10},
    {11, "Animation", "/Skin/Picture Title.bmp", kCategory11},
    {12, "PMP", "/Skin/PMP Title.bmp", kCategory12},
    {13, "PS3", "/Skin/PS3 Title.bmp", kCategory13},
    {14, "PSP", "/Skin/PSP Title.bmp", kCategory14},
    {15, "Wii", "/Skin/WD Title.bmp", kCategory15},
    {16, "Xbox", "/Skin/XBOX Title.bmp", kCategory16},
    {17, "Zune", "/Skin/Zune Title.bmp", kCategory17},
};

// Command identifiers that select a profile without having an entry of their own.
struct ExtraRow {
    int32_t commandId;
    int32_t profileIndex;
};
constexpr ExtraRow kExtraRows[] = {{32851, 46}, {32853, 46}};

constexpr std::string_view kLineBreak = "/n";

} // namespace

std::span<const CatalogueCategory> ProfileCategories()
{
    return kCategories;
}

const CatalogueEntry* FindCatalogueEntry(int32_t commandId)
{
    for (const CatalogueCategory& category : kCategories) {
        for (const CatalogueEntry& entry : category.entries) {
            if (entry.commandId == commandId)
                return &entry;
        }
    }
    return nullptr;
}

int32_t ProfileIndexForCommand(int32_t commandId)
{
    if (const CatalogueEntry* entry = FindCatalogueEntry(commandId))
        return entry->profileIndex;
    for (const ExtraRow& row : kExtraRows) {
        if (row.commandId == commandId)
            return row.profileIndex;
    }
    return 0;
}

std::string_view EntryTitle(const CatalogueEntry& entry)
{
    std::string_view text(entry.text);
    return text.substr(0, text.find(kLineBreak));
}

std::string_view EntryDescription(const CatalogueEntry& entry)
{
    std::string_view text(entry.text);
    size_t at = text.find(kLineBreak);
    return at == std::string_view::npos ? std::string_view() : text.substr(at + kLineBreak.size());
}
