#include "convert/ConversionPipeline.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "demux/MpegSplitterFilter.h"
#include "dvd/DVDReader.h"
#include "encode/ConvFilter.h"
#include "filters/AudioConveFilter.h"
#include "filters/MpegAudioDecoder.h"
#include "filters/MpegVideoDecoder.h"
#include "filters/VideoConveFilter.h"
#include "graph/FilterGraph.h"
#include "graph/VideoRenderer.h"

namespace {

// A program stream carries each stream's data some way after the video of the same time
// (audio often half a second later). The splitter stops reading once the stream it reads
// passes the end of its window, so it is given a window this much longer than the entry's
// trim window; the conversion sink still cuts every stream at the trim window's end.
constexpr int64_t kReadPastWindowMs = 1500;

}  // namespace

bool ParseStreamNameTail(const std::string& name, unsigned* pid, unsigned* pesId, unsigned* subId)
{
    const size_t open = name.find('(');
    if (open == std::string::npos)
        return false;
    unsigned a = 0, b = 0, c = 0;
    if (std::sscanf(name.c_str() + open, "(%04x,%02x,%02x)", &a, &b, &c) != 3)
        return false;
    if (pid)
        *pid = a;
    if (pesId)
        *pesId = b;
    if (subId)
        *subId = c;
    return true;
}

ConversionPipeline::ConversionPipeline(const FilterRegistry& registry, MessageFunction showMessage)
    : m_registry(registry), m_showMessage(std::move(showMessage))
{
}

ConversionPipeline::~ConversionPipeline()
{
    ReleaseAll();
    m_encoder.Close();
}

bool ConversionPipeline::OpenOutput(const std::string& fileName, const FormatProfile& profile, int cpuUsagePercent)
{
    m_profile = profile;
    return m_encoder.Open(fileName, profile, cpuUsagePercent);
}

bool ConversionPipeline::CloseOutput()
{
    return m_encoder.Close();
}

void ConversionPipeline::ReleaseAll()
{
    if (m_graph) {
        m_graph->Stop();
        m_graph->SetNotifyCallback({});
        // The graph's destructor disconnects and releases every filter it holds.
        if (m_sink)
            m_graph->RemoveFilter(m_sink.Get());
    }
    m_renderer.Reset();
    m_videoConverter.Reset();
    m_audioConverter.Reset();
    m_videoDecoder.Reset();
    m_audioDecoder.Reset();
    m_splitter.Reset();
    m_source.Reset();
    m_sink.Reset();
    m_graph.Reset();
}

bool ConversionPipeline::Build(DvdHandle disc, int titleIndex, int chapterIndex, const ClipItem& entry,
                               std::function<void()> notify, bool burnSubtitles)
{
    ReleaseAll();
    m_graph = MakeCom<CFilterGraph>(&m_registry);
    if (!m_graph)
        return false;
    if (notify) {
        m_graph->SetNotifyCallback(std::move(notify));
        m_graph->CancelDefaultHandling(EC_COMPLETE);
    }
    m_entry = entry;
    if (!CreateFilters(disc, titleIndex, chapterIndex) || !ConnectFilters(burnSubtitles))
        return false;
    // Left stopped: the stream choice that follows must come before the splitter starts
    // reading, or packets of the track it replaces would still be delivered first.
    return true;
}

bool ConversionPipeline::CreateFilters(DvdHandle disc, int titleIndex, int chapterIndex)
{
    const bool video = m_profile.VideoEnabled != 0;
    const bool audio = m_profile.AudioEnabled != 0;

    m_sink = MakeCom<CConvFilter>();
    m_graph->AddFilter(m_sink.Get(), "Conver");
    m_sink->SetEncoder(&m_encoder);
    if (m_profile.FrameRate > 0)
        m_sink->SetFrameDuration(1e6 / m_profile.FrameRate * 1e4);
    m_sink->SetTrimWindow(m_entry.trimStartMs * 10000, (m_entry.trimStartMs + m_entry.trimLengthMs) * 10000);

    m_source = MakeCom<CDVDReader>();
    if (!m_source) {
        Message("CLSID_DVDSource error");
        return false;
    }
    m_graph->AddFilter(m_source.Get(), "Reader");

    m_splitter = MakeCom<CMpegSplitterFilter>();
    if (!m_splitter) {
        Message("CLSID_MpegSplitter error");
        return false;
    }
    m_graph->AddFilter(m_splitter.Get(), "Splitter");
    m_splitter->SetTimeFormat(TIME_FORMAT_MEDIA_TIME);

    if (video) {
        if (Failed(m_registry.CreateInstance(CLSID_MpegVideoDecoder, &m_videoDecoder)) || !m_videoDecoder) {
            Message("CLSID_MpegDecoder error");
            return false;
        }
        m_graph->AddFilter(m_videoDecoder.Get(), "VideoDecoder");
    }
    if (audio) {
        if (Failed(m_registry.CreateInstance(CLSID_MpegAudioDecoder, &m_audioDecoder)) || !m_audioDecoder) {
            Message("CLSID_MpaDecoder error");
            return false;
        }
        m_graph->AddFilter(m_audioDecoder.Get(), "AudioDecoder");
        m_audioConverter = MakeCom<CMyAudioConveFilter>();
        if (!m_audioConverter) {
            Message("CLSID_MyAudioConver error");
            return false;
        }
        m_graph->AddFilter(m_audioConverter.Get(), "AudioConver");
    }
    if (video) {
        m_videoConverter = MakeCom<CMyVideoConveFilter>();
        if (!m_videoConverter) {
            Message("CLSID_MyVideoConver error");
            return false;
        }
        m_graph->AddFilter(m_videoConverter.Get(), "VideoConver");
    }

    auto reader = QueryInterface<IMyDVDReader>(m_source);
    if (!reader) {
        Message("IID_IMyDVDReader error");
        return false;
    }
    if (Failed(reader->SetDvdHandle(static_cast<int32_t>(disc))) ||
        Failed(reader->SetArea(titleIndex, chapterIndex))) {
        Message("SetDvdReader error");
        return false;
    }
    reader->GetDuration(&m_titleDurationMs);

    // The title's stream ids let the scan stop once every audio track is found and add the
    // subpicture streams it has not met yet; the palette colours the subpictures.
    if (titleIndex >= 0 && titleIndex < kDvdMaxTitles) {
        const DvdTitleInfo& record = m_source->DiscInfo().titles[titleIndex];
        m_splitter->SetTitleStreams(&record);
        if (auto palette = QueryInterface<IMySubpicturePalette>(m_videoDecoder); palette && record.paletteValid)
            palette->SetPalette(record.palette);
    }

    if (video) {
        auto conv = QueryInterface<IMyVideoConvFilter>(m_videoConverter);
        if (!conv) {
            Message("IID_IMyVideoConvFilter error");
            return false;
        }
        const PictureSettings& p = m_entry.picture;
        conv->SetRects(p.zoomMode, ZRect{p.cropLeft, p.cropTop, p.cropRight, p.cropBottom},
                       ZRect{0, 0, m_profile.Width, m_profile.Height});
        conv->SetHue(p.hue);
        conv->SetBrightness(p.brightness);
        conv->SetSaturation(p.saturation);
    }
    if (audio) {
        auto conv = QueryInterface<IMyAudioConvFilter>(m_audioConverter);
        if (!conv) {
            Message("IID_IMyAudioConvFilter error");
            return false;
        }
        conv->SetOutputFormat(m_profile.Channel, m_profile.SampleRate);
        conv->SetVolume(m_entry.picture.volume);
    }
    if (m_titleDurationMs > 0)
        m_splitter->SetTimeWindow(m_entry.trimStartMs, m_entry.trimLengthMs + kReadPastWindowMs, m_titleDurationMs);
    return true;
}

namespace {

// Disconnects both pins, then connects them directly with no media type.
HRESULT Reconnect(CFilterGraph* graph, IPin* out, IPin* in)
{
    graph->Disconnect(out);
    graph->Disconnect(in);
    return graph->ConnectDirect(out, in, nullptr);
}

}  // namespace

bool ConversionPipeline::ConnectFilters(bool burnSubtitles)
{
    const bool video = m_profile.VideoEnabled != 0;
    const bool audio = m_profile.AudioEnabled != 0;
    CFilterGraph* g = m_graph.Get();

    ComPtr<IPin> sourceOut = GetPin(m_source.Get(), PinDirection::Output, 0);
    if (!sourceOut) {
        Message("get source output pin error");
        return false;
    }
    ComPtr<IPin> splitterIn = GetPin(m_splitter.Get(), PinDirection::Input, 0);
    if (!splitterIn) {
        Message("get splitter input pin error");
        return false;
    }
    if (const HRESULT hr = Reconnect(g, sourceOut.Get(), splitterIn.Get()); Failed(hr)) {
        // The scan of the title failed: say why rather than ending silently.
        if (hr == VFW_E_ENCRYPTED)
            Message("encrypted disc: this title is protected by CSS and libdvdcss is not installed");
        else if (const std::string why = m_source->ReadError(); !why.empty())
            Message("Cannot read the title: " + why);
        else
            Message("Cannot read the title: no MPEG program stream found");
        return false;
    }

    ComPtr<IPin> splitterVideo = GetPin(m_splitter.Get(), PinDirection::Output, 0);
    if (video && splitterVideo) {
        // An untouched crop (the editor's 720 x 480 default) means the whole picture, also
        // when the title's pictures have another size (a PAL title is 720 x 576).
        const PictureSettings& p = m_entry.picture;
        const PictureSettings defaults;
        std::vector<CMediaType> offered;
        splitterVideo->EnumMediaTypes(&offered);
        if (!offered.empty()) {
            if (const BitmapInfoHeader* bmi = offered.front().VideoBitmapHeader()) {
                const int w = bmi->biWidth, h = std::abs(bmi->biHeight);
                if (p.cropLeft == defaults.cropLeft && p.cropTop == defaults.cropTop &&
                    p.cropRight == defaults.cropRight && p.cropBottom == defaults.cropBottom && w > 0 && h > 0 &&
                    (w != defaults.cropRight || h != defaults.cropBottom)) {
                    if (auto conv = QueryInterface<IMyVideoConvFilter>(m_videoConverter))
                        conv->SetRects(p.zoomMode, ZRect{0, 0, w, h}, ZRect{0, 0, m_profile.Width, m_profile.Height});
                }
            }
        }
        ComPtr<IPin> decoderIn = GetPin(m_videoDecoder.Get(), PinDirection::Input, 0);
        if (!decoderIn || Failed(Reconnect(g, splitterVideo.Get(), decoderIn.Get()))) {
            Message("connect splitter and decoder error(video)");
            return false;
        }
    }
    ComPtr<IPin> splitterAudio = GetPin(m_splitter.Get(), PinDirection::Output, 1);
    if (audio && splitterAudio) {
        ComPtr<IPin> decoderIn = GetPin(m_audioDecoder.Get(), PinDirection::Input, 0);
        if (!decoderIn || Failed(Reconnect(g, splitterAudio.Get(), decoderIn.Get()))) {
            Message("connect splitter and decoder error(audio)");
            return false;
        }
    }
    ComPtr<IPin> splitterSub = GetPin(m_splitter.Get(), PinDirection::Output, 2);
    if (video && burnSubtitles && splitterSub) {
        // Without this connection the conversion goes on without subpictures.
        if (ComPtr<IPin> decoderSub = GetPin(m_videoDecoder.Get(), PinDirection::Input, 1))
            Reconnect(g, splitterSub.Get(), decoderSub.Get());
    }
    if (video) {
        ComPtr<IPin> decoderOut = GetPin(m_videoDecoder.Get(), PinDirection::Output, 0);
        if (!decoderOut) {
            Message("get video decoder output pin error");
            return false;
        }
        ComPtr<IPin> convIn = GetPin(m_videoConverter.Get(), PinDirection::Input, 0);
        if (!convIn) {
            Message("get video conver input pin error");
            return false;
        }
        if (Failed(Reconnect(g, decoderOut.Get(), convIn.Get()))) {
            Message("connect video decoder and video conver error");
            return false;
        }
    }
    if (audio) {
        ComPtr<IPin> decoderOut = GetPin(m_audioDecoder.Get(), PinDirection::Output, 0);
        ComPtr<IPin> convIn = GetPin(m_audioConverter.Get(), PinDirection::Input, 0);
        if (!decoderOut || !convIn) {
            Message("get audio decoder output pin or audio conver input pin error");
            return false;
        }
        if (splitterAudio && Failed(Reconnect(g, decoderOut.Get(), convIn.Get()))) {
            Message("connect audio decoder and audio conver error");
            return false;
        }
        ComPtr<IPin> convOut = GetPin(m_audioConverter.Get(), PinDirection::Output, 0);
        if (!convOut) {
            Message("get audio conver output pin error");
            return false;
        }
        ComPtr<IPin> sinkIn = GetPin(m_sink.Get(), PinDirection::Input, 0);
        if (!sinkIn) {
            Message("get mConver input pin 0 error");
            return false;
        }
        if (splitterAudio && Failed(Reconnect(g, convOut.Get(), sinkIn.Get()))) {
            Message("connect audio conver out pin to mConver error");
            return false;
        }
    }
    if (video) {
        ComPtr<IPin> convOut = GetPin(m_videoConverter.Get(), PinDirection::Output, 0);
        if (!convOut) {
            Message("get video conver output pin error");
            return false;
        }
        ComPtr<IPin> sinkIn = GetPin(m_sink.Get(), PinDirection::Input, 1);
        if (!sinkIn) {
            Message("get mConver input pin error");
            return false;
        }
        if (Failed(Reconnect(g, convOut.Get(), sinkIn.Get()))) {
            Message("connect video conver out pin to mConver error");
            return false;
        }
    }
    return true;
}

bool ConversionPipeline::AttachPreview(IVideoSurface* surface, const ZRect& rect)
{
    if (!m_sink || !m_graph)
        return false;
    if (!m_encoder.HasVideoStream())
        return true;
    m_graph->Stop();
    m_renderer = MakeCom<CVideoRenderer>();
    m_graph->AddFilter(m_renderer.Get(), "Video Mixing Renderer");
    m_renderer->SetSurface(surface);
    ComPtr<IPin> pre = GetPin(m_sink.Get(), PinDirection::Output, 0);
    ComPtr<IPin> in = GetPin(m_renderer.Get(), PinDirection::Input, 0);
    if (!pre || !in) {
        Message("get mConver input pin error");
        return false;
    }
    if (Failed(Reconnect(m_graph.Get(), pre.Get(), in.Get()))) {
        Message("connect video conver out pin to mConver error");
        return false;
    }
    m_previewRect = rect;
    m_renderer->SetVideoPosition(rect);
    m_renderer->Repaint();
    // Stopped, as Build leaves it (see there).
    return true;
}

void ConversionPipeline::ShowPreview(bool on)
{
    if (!m_renderer)
        return;
    m_renderer->SetVideoPosition(on ? m_previewRect : ZRect{});
    if (m_sink)
        m_sink->SetPreview(on);
}

bool ConversionPipeline::ListStreams(StreamList* list)
{
    if (!m_splitter || !list)
        return false;
    *list = StreamList{};
    int32_t count = 0;
    m_splitter->Count(&count);
    for (int32_t i = 0; i < count; ++i) {
        CMediaType mt;
        std::string name;
        if (Failed(m_splitter->Info(i, &mt, nullptr, nullptr, nullptr, &name)))
            continue;
        unsigned pid = 0, pes = 0, sub = 0;
        const bool tail = ParseStreamNameTail(name, &pid, &pes, &sub);
        if (mt.majortype == MEDIATYPE_Video && mt.subtype == MEDIASUBTYPE_DVD_SUBPICTURE &&
            !(mt.formattype == FORMAT_VideoInfo) && !(mt.formattype == FORMAT_MPEGVideo) &&
            !(mt.formattype == FORMAT_VideoInfo2) && !(mt.formattype == FORMAT_MPEG2Video)) {
            if (list->subtitleCount < 64 && tail) {
                auto& s = list->subtitle[list->subtitleCount++];
                s.index = i;
                s.id = static_cast<int16_t>(sub);
                s.pesId = static_cast<uint16_t>(pes);
            }
        } else if (mt.majortype == MEDIATYPE_Video) {
            const uint8_t* f = mt.Format();
            const BitmapInfoHeader* bmi = mt.VideoBitmapHeader();
            if (list->videoCount < 8 && bmi && mt.FormatLength() >= 48) {
                // Bit rate and frame duration stand at the same place in every video header.
                auto& v = list->video[list->videoCount++];
                uint32_t bitRate = 0;
                int64_t frameDuration = 0;
                std::memcpy(&bitRate, f + offsetof(VideoInfoHeader, dwBitRate), sizeof bitRate);
                std::memcpy(&frameDuration, f + offsetof(VideoInfoHeader, AvgTimePerFrame), sizeof frameDuration);
                v.index = i;
                v.width = static_cast<int16_t>(bmi->biWidth);
                v.height = static_cast<int16_t>(bmi->biHeight);
                v.bitRate = static_cast<int32_t>(bitRate);
                v.frameDuration = static_cast<int32_t>(frameDuration);
            }
        } else if (mt.majortype == MEDIATYPE_Audio) {
            const auto* wfx = mt.FormatAs<WaveFormatEx>();
            if (list->audioCount < 32 && tail) {
                auto& a = list->audio[list->audioCount++];
                a.index = i;
                a.id = static_cast<uint16_t>(sub);
                a.pesId = static_cast<uint16_t>(pes);
                if (wfx) {
                    a.sampleRate = static_cast<uint16_t>(wfx->nSamplesPerSec);
                    a.channels = static_cast<int16_t>(wfx->nChannels);
                    a.bitRate = static_cast<int32_t>(wfx->nAvgBytesPerSec * 8);
                }
            }
        }
    }
    return true;
}

bool ConversionPipeline::EnableStream(int index, bool enable)
{
    if (!m_splitter)
        return false;
    return Succeeded(m_splitter->Enable(index, enable ? AMSTREAMSELECTENABLE_ENABLE : 0));
}

FilterState ConversionPipeline::State()
{
    FilterState state = FilterState::Stopped;
    if (m_graph)
        m_graph->GetState(10, &state);
    return state;
}

HRESULT ConversionPipeline::Run()
{
    if (!m_graph)
        return E_UNEXPECTED;
    return State() == FilterState::Running ? S_OK : m_graph->Run();
}

HRESULT ConversionPipeline::Pause()
{
    if (!m_graph)
        return E_UNEXPECTED;
    return State() == FilterState::Paused ? S_OK : m_graph->Pause();
}

HRESULT ConversionPipeline::Stop()
{
    if (!m_graph)
        return S_OK;
    return State() == FilterState::Stopped ? S_OK : m_graph->Stop();
}

bool ConversionPipeline::IsRunning() { return State() == FilterState::Running; }
bool ConversionPipeline::IsPaused() { return State() == FilterState::Paused; }
bool ConversionPipeline::IsStopped() { return State() == FilterState::Stopped; }

double ConversionPipeline::Duration()
{
    int64_t d = 0;
    if (!m_splitter || Failed(m_splitter->GetDuration(&d)))
        return 0.0;
    // The entry's own length, not the longer window the splitter reads (see Build).
    if (m_entry.trimLengthMs > 0)
        d = std::min<int64_t>(d, m_entry.trimLengthMs * 10000);
    return static_cast<double>(d) / 1e7;
}

double ConversionPipeline::StopPosition()
{
    int64_t d = 0;
    if (!m_splitter || Failed(m_splitter->GetStopPosition(&d)))
        return 0.0;
    return static_cast<double>(d) / 1e7;
}

double ConversionPipeline::CurrentPosition()
{
    int64_t d = 0;
    if (!m_splitter || Failed(m_splitter->GetCurrentPosition(&d)))
        return 0.0;
    return static_cast<double>(d) / 1e7;
}

double ConversionPipeline::Position()
{
    if (m_sink && m_profile.VideoEnabled)
        return static_cast<double>(m_sink->NextVideoTime()) / 1e7;
    if (m_sink && m_profile.AudioEnabled)
        return static_cast<double>(m_sink->LastAudioStart()) / 1e7;
    return CurrentPosition();
}

bool ConversionPipeline::Seek(double seconds)
{
    if (!m_splitter)
        return false;
    int64_t position = static_cast<int64_t>(seconds * 1e7);
    return Succeeded(m_splitter->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                              AM_SEEKING_NoPositioning));
}

bool ConversionPipeline::NextEvent(int32_t* code, intptr_t* param1, intptr_t* param2)
{
    if (!m_graph || m_graph->GetEvent(code, param1, param2, 0) != S_OK)
        return false;
    m_graph->FreeEventParams(*code, *param1, *param2);
    return true;
}

std::string ConversionPipeline::StreamingError()
{
    if (m_splitter && m_splitter->LastError() == VFW_E_ENCRYPTED)
        return "encrypted disc: this title is protected by CSS and libdvdcss is not installed";
    if (m_source) {
        if (std::string why = m_source->ReadError(); !why.empty())
            return why;
    }
    return {};
}
