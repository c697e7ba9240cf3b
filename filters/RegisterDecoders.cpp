#include "filters/RegisterDecoders.h"

#include "filters/MpegAudioDecoder.h"
#include "filters/MpegVideoDecoder.h"

void RegisterDecoders(FilterRegistry& registry)
{
    FilterRegistration video;
    video.clsid = CLSID_MpegVideoDecoder;
    video.name = "VideoDecoder";
    video.merit = MERIT_NORMAL;
    video.inputTypes = {{MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Payload},
                        {MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO},
                        {GUID_NULL, MEDIASUBTYPE_DVD_SUBPICTURE}};
    video.create = [] { return ComPtr<IBaseFilter>(new CMpegVideoDecoder()); };
    registry.Register(std::move(video));

    FilterRegistration audio;
    audio.clsid = CLSID_MpegAudioDecoder;
    audio.name = "AudioDecoder";
    audio.merit = MERIT_NORMAL;
    audio.inputTypes = {{MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3},         {MEDIATYPE_Audio, MEDIASUBTYPE_DTS},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_WAVE_DTS},          {MEDIATYPE_Audio, MEDIASUBTYPE_DVD_LPCM_AUDIO},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1AudioPayload}, {MEDIATYPE_Audio, MEDIASUBTYPE_MP3}};
    audio.create = [] { return ComPtr<IBaseFilter>(new CMpegAudioDecoder()); };
    registry.Register(std::move(audio));
}
