// OutputEncoder: encodes the pictures and PCM that reach the conversion sink into one output
// file of a FormatProfile, on FFmpeg's send/receive API, and writes the packets interleaved.
//
// Lifecycle: closed -> Open -> open (any number of WriteVideo / WriteAudio) -> Close -> closed.
// Several entries may be written between one Open and one Close (a merged file): time stamps
// continue from the pictures and samples already written.
//
// Threads: Open and Close are called by the thread that drives the run, while nothing writes.
// WriteVideo and WriteAudio are called from the sink's streaming threads, always under the
// sink's filter lock, so at most one call runs at a time; the encoder has no lock of its own.
// The accessors may be read by the driving thread while the pipeline is stopped.
//
// Errors: Open returns false with the reason in LastError() (text for the user) and
// LastErrorDetail() (for the log). A failing encoder or write during the run sets a sticky
// error: every later WriteVideo / WriteAudio returns -1 and Close returns false. Close always
// releases everything and leaves a file it created closed.
#pragma once

#include <cstdint>
#include <string>

#include "encode/PcmRing.h"
#include "profiles/FormatProfile.h"

struct AVBufferPool;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;
struct SwsContext;

struct EncoderRational {
    int num = 0;
    int den = 0;
};

class OutputEncoder {
public:
    static constexpr size_t kAudioRingBytes = 512000;

    OutputEncoder();
    ~OutputEncoder();
    OutputEncoder(const OutputEncoder&) = delete;
    OutputEncoder& operator=(const OutputEncoder&) = delete;

    // Creates `fileName` (UTF-8; the extension chooses the container) with the profile's
    // streams and writes its header. Encoders that support threading get
    // max(1, cores x cpuUsagePercent / 100) threads. Closes a file still open first.
    bool Open(const std::string& fileName, const FormatProfile& profile, int cpuUsagePercent = 100);

    // One Width x Height YV12 picture (luma, then V, then U; contiguous). The caller keeps
    // ownership; the buffer is not referenced after the call returns.
    // Returns 0 when the encoder took the picture (an encoder with delay may not have produced
    // a packet yet), -1 on an error or without a video stream.
    int WriteVideo(const uint8_t* picture);

    // 16-bit signed little-endian PCM, interleaved, Channel channels at SampleRate. The bytes
    // are copied; none is dropped. Returns 0, or -1 on an error or without an audio stream.
    int WriteAudio(const uint8_t* bytes, int length);

    // Drains every encoder and the PCM still held, writes the trailer and closes the file.
    // Returns false when the trailer or any earlier write of this file failed. Harmless (and
    // true) when nothing is open.
    bool Close();

    bool IsOpen() const { return m_output != nullptr; }
    bool HasVideoStream() const { return m_videoStream != nullptr; }
    bool HasAudioStream() const { return m_audioStream != nullptr; }

    bool HasError() const { return m_failed; }
    const std::string& LastError() const { return m_error; }
    const std::string& LastErrorDetail() const { return m_errorDetail; }

    // What the open file was set up with, for the run's log and for checks.
    EncoderRational VideoTimeBase() const;
    int VideoGopSize() const;
    int VideoThreadCount() const;
    // True once the encoder has been seen to leave the caller's picture alone, so pictures
    // are handed over without a copy (libx264, for example; not frame-threaded encoders).
    bool VideoUsesCallerBuffer() const { return m_videoZeroCopy == ZeroCopy::Yes; }
    int AudioFrameBytes() const { return m_audioFrameBytes; }
    size_t AudioBytesHeld() const { return m_ring.Held(); }
    int64_t VideoFramesWritten() const { return m_videoFrames; }
    int64_t AudioSamplesWritten() const { return m_audioSamples; }
    int64_t AudioPacketsEncoded() const { return m_audioPackets; }
    int LastAudioPacketBytes() const { return m_lastAudioPacketBytes; }

private:
    enum class ZeroCopy { Unknown, Yes, No };

    bool Fail(const std::string& text, const std::string& detail);
    bool FailAv(const std::string& text, const std::string& what, int averror);
    bool OpenVideo(const FormatProfile& profile, int threads);
    bool OpenAudio(const FormatProfile& profile, int threads);
    bool SendVideo(AVFrame* frame);
    bool EncodeHeldAudio(bool final);
    bool SendAudio(const uint8_t* pcm, int samples);
    bool Drain(AVCodecContext* codec, AVStream* stream);
    bool WritePackets(AVCodecContext* codec, AVStream* stream);
    void Release();

    // All fields: touched by one thread at a time (see the threads note above).
    AVFormatContext* m_output = nullptr;
    AVStream* m_videoStream = nullptr;
    AVStream* m_audioStream = nullptr;
    AVCodecContext* m_videoCodec = nullptr;
    AVCodecContext* m_audioCodec = nullptr;
    AVPacket* m_packet = nullptr;
    bool m_fileOpened = false;      // we opened the byte I/O of m_output
    bool m_headerWritten = false;
    bool m_failed = false;
    std::string m_fileName;
    std::string m_error;
    std::string m_errorDetail;

    // Video: the picture as handed to the encoder.
    int m_width = 0;
    int m_height = 0;
    SwsContext* m_converter = nullptr;     // planar 4:2:0 -> the encoder's pixel format
    AVFrame* m_convertedPicture = nullptr; // target of m_converter
    AVFrame* m_inputPicture = nullptr;     // describes the caller's (or a copied) picture
    AVBufferPool* m_picturePool = nullptr; // copies when the encoder keeps its input
    ZeroCopy m_videoZeroCopy = ZeroCopy::Unknown;
    int64_t m_videoFrames = 0;

    // Audio: PCM collected into codec frames.
    PcmRing m_ring;
    SwrContext* m_resampler = nullptr;     // s16 interleaved -> the encoder's sample format
    AVFrame* m_audioFrame = nullptr;
    uint8_t* m_frameBuffer = nullptr;      // one codec frame of input PCM
    int m_audioFrameBytes = 0;             // frame size x 2 x channels; 0: any length
    int m_audioBlockAlign = 0;             // 2 x channels
    int64_t m_audioSamples = 0;
    bool m_audioPaddingFlushed = false;     // Close pushed the encoder's lag out with silence
    int64_t m_audioPackets = 0;
    int m_lastAudioPacketBytes = 0;
};
