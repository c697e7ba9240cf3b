// ConversionPipeline: builds, for one title entry, the graph that converts it and offers the
// run the operations it needs on it: output file, run/pause/stop, positions, streams and the
// live preview. It holds the OutputEncoder, which survives from one entry to the next (that
// is how several entries go into one merged file).
//
//   Reader (CDVDReader) -> Splitter (CMpegSplitterFilter)
//     video -> VideoDecoder (input 0) ; subpictures -> VideoDecoder (input 1)
//       -> VideoConver (CMyVideoConveFilter) -> Conver "Video In"
//     audio -> AudioDecoder -> AudioConver (CMyAudioConveFilter) -> Conver "Audio In"
//   Conver "Video Pre" -> Video Renderer (only while a preview is attached)
//
// Threads: every call comes from the one thread that drives the run (the control thread);
// streaming runs on the filters' threads and reports back through the notify callback given
// to Build, which must only hand the news over to the driving thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/TitleList.h"
#include "convert/EntryPipeline.h"
#include "dvd/DvdAccess.h"
#include "encode/OutputEncoder.h"
#include "graph/FilterRegistry.h"
#include "graph/Interfaces.h"
#include "profiles/FormatProfile.h"

class CConvFilter;
class CDVDReader;
class CFilterGraph;
class CMpegSplitterFilter;
class CVideoRenderer;
class IVideoSurface;

// The streams of a built pipeline's splitter, with their indexes for EnableStream.
struct StreamList {
    struct Video {
        int32_t index;
        int16_t width, height;
        int32_t bitRate;
        int32_t frameDuration;  // low 32 bits of the 100 ns value
    };
    struct Audio {
        int32_t index;
        uint16_t id;            // sub-stream id: the third number of the name's tail
        uint16_t sampleRate;    // low 16 bits of the rate
        int16_t channels;
        int32_t bitRate;        // average bytes per second x 8
        uint16_t pesId;         // PES stream id: the second number of the name's tail
    };
    struct Subtitle {
        int32_t index;
        int16_t id;
        uint16_t pesId;
    };
    int32_t videoCount = 0;
    Video video[8] = {};
    int32_t audioCount = 0;
    Audio audio[32] = {};
    int32_t subtitleCount = 0;
    Subtitle subtitle[64] = {};
};

// Reads "(%04x,%02x,%02x)" from the first "(" of a stream name: PES id and sub-stream id.
bool ParseStreamNameTail(const std::string& name, unsigned* pid, unsigned* pesId, unsigned* subId);

class ConversionPipeline : public IEntryPipeline {
public:
    // `registry` (borrowed) creates the decoders by class id.
    ConversionPipeline(const FilterRegistry& registry, MessageFunction showMessage);
    ~ConversionPipeline() override;
    ConversionPipeline(const ConversionPipeline&) = delete;
    ConversionPipeline& operator=(const ConversionPipeline&) = delete;

    // Builds the graph for the entry and leaves it stopped (stream choices are made before it
    // runs). `notify` (may be empty) is called
    // from a streaming thread when a graph event is waiting; every completion passes at once.
    // The subtitle stream to burn in is chosen afterwards with EnableStream; without one the
    // decoder's subpicture input stays unconnected. False after a message.
    bool Build(DvdHandle disc, int titleIndex, int chapterIndex, const ClipItem& entry, std::function<void()> notify,
               bool burnSubtitles = true) override;

    // The encoder's Open with the profile (kept for the positions); false with the
    // encoder's reason in EncoderError().
    bool OpenOutput(const std::string& fileName, const FormatProfile& profile, int cpuUsagePercent = 100) override;
    bool CloseOutput() override;
    std::string EncoderError() const override { return m_encoder.LastError(); }
    OutputEncoder& Encoder() { return m_encoder; }

    // Connects "Video Pre" to a renderer drawing on `surface` inside `rect`. True without a
    // video stream (nothing to show). Stops the graph and leaves it stopped.
    bool AttachPreview(IVideoSurface* surface, const ZRect& rect) override;
    void ShowPreview(bool on) override;

    bool ListStreams(StreamList* list) override;
    bool EnableStream(int index, bool enable) override;

    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    bool IsRunning();
    bool IsPaused();
    bool IsStopped();

    // Seconds. Duration: the play window's length; Position: how far the output has got
    // (the sink's next picture time, else its latest audio, else the splitter's position).
    double Duration() override;
    double StopPosition();
    double CurrentPosition();
    double Position() override;
    bool Seek(double seconds);

    // The next graph event without waiting; false when none is queued.
    bool NextEvent(int32_t* code, intptr_t* param1, intptr_t* param2) override;
    // A reason the splitter stopped early (an encrypted disc, unreadable sectors), or "".
    std::string StreamingError() override;

    void ReleaseAll() override;

private:
    bool CreateFilters(DvdHandle disc, int titleIndex, int chapterIndex);
    bool ConnectFilters(bool burnSubtitles);
    FilterState State();
    void Message(const std::string& text) { if (m_showMessage) m_showMessage(text); }

    const FilterRegistry& m_registry;
    MessageFunction m_showMessage;

    ComPtr<CFilterGraph> m_graph;
    ComPtr<CConvFilter> m_sink;
    ComPtr<CMpegSplitterFilter> m_splitter;
    ComPtr<CDVDReader> m_source;
    ComPtr<IBaseFilter> m_videoDecoder, m_audioDecoder;
    ComPtr<IBaseFilter> m_videoConverter, m_audioConverter;
    ComPtr<CVideoRenderer> m_renderer;
    ZRect m_previewRect;
    FormatProfile m_profile{};
    ClipItem m_entry;
    int64_t m_titleDurationMs = 0;
    OutputEncoder m_encoder;
};
