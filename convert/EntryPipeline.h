// IEntryPipeline: what a conversion run needs of the pipeline that converts one entry after
// another. ConversionPipeline is the real one; tests put a scripted one in its place.
//
// Threads: every call comes from the thread that drives the run; only the `notify` callback
// given to Build is called from streaming threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/TitleList.h"
#include "dvd/DvdAccess.h"
#include "graph/FormatBlocks.h"
#include "graph/Result.h"
#include "profiles/FormatProfile.h"

struct StreamList;
class IVideoSurface;

// Shows a message to the user ("CLSID_MpegDecoder error" ...). Windows show a message box;
// the command-line tool prints it; tests record it.
using MessageFunction = std::function<void(const std::string& text)>;

class IEntryPipeline {
public:
    virtual ~IEntryPipeline() = default;

    // Opens the output file with the encoder; false with the reason in EncoderError().
    virtual bool OpenOutput(const std::string& fileName, const FormatProfile& profile, int cpuUsagePercent) = 0;
    // Writes the trailer and closes the file; false when the encoder failed on the way.
    virtual bool CloseOutput() = 0;
    virtual std::string EncoderError() const = 0;

    // Builds the graph for the entry and leaves it paused; false after a message.
    // `notify` is called from a streaming thread whenever a graph event is waiting.
    virtual bool Build(DvdHandle disc, int titleIndex, int chapterIndex, const ClipItem& entry,
                       std::function<void()> notify, bool burnSubtitles) = 0;
    virtual bool AttachPreview(IVideoSurface* surface, const ZRect& rect) = 0;
    virtual void ShowPreview(bool on) = 0;
    virtual bool ListStreams(StreamList* list) = 0;
    virtual bool EnableStream(int index, bool enable) = 0;

    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;

    // Seconds: how far the output has got, and the length of the play window.
    virtual double Position() = 0;
    virtual double Duration() = 0;

    // The next graph event without waiting; false when none is queued.
    virtual bool NextEvent(int32_t* code, intptr_t* param1, intptr_t* param2) = 0;
    // A reason the source stopped early, or "".
    virtual std::string StreamingError() = 0;
    virtual void ReleaseAll() = 0;
};
