// Running zaderoza-cli convert as a user does and reading its output back with Debian's
// ffprobe and ffmpeg: stream facts, decoded frame times, grey pictures and mono PCM.
// Every function runs on the calling test's thread; nothing here is shared between tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The authored discs and the delivered profiles of this build.
std::string DiscPath(const std::string& name);
std::string FormatXmlPath();

// A temporary folder for one test, removed with everything in it at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return m_path; }
    // The files directly inside the folder, sorted by name.
    std::vector<std::string> Files() const;

private:
    std::string m_path;
};

struct CliRun {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// zaderoza-cli convert DISC --title N ... --out DIR --quiet; `args` are passed as they stand.
CliRun Convert(const std::string& disc, const std::vector<std::string>& args, const std::string& outDir);

// The single file a conversion left in `folder`; empty (and a test failure) otherwise.
std::string OnlyFile(const ScratchFolder& folder);

// One section of ffprobe's compact output ("stream", "frame", "format") with its keys.
struct ProbeSection {
    std::string kind;
    std::map<std::string, std::string> keys;
    std::string Get(const std::string& key) const;
    double Number(const std::string& key, double otherwise = -1) const;
};

struct ProbedMedia {
    bool readable = false;
    std::string formatName;
    std::vector<ProbeSection> streams;
    std::vector<double> videoTimes;  // best-effort time stamp of every decoded picture, seconds
    long long audioSamples = 0;      // decoded audio samples (per channel)
    double audioStart = 0;           // first decoded audio frame's time, seconds
    int audioLongestFrame = 0;       // samples in the longest decoded audio frame
    const ProbeSection* Stream(const std::string& type) const;
};
// ffprobe of the file with every frame decoded.
ProbedMedia ProbeMedia(const std::string& file);

// Decoded pictures scaled to width x height, 8-bit luma, in decoding output order.
struct GreyPictures {
    int width = 0, height = 0;
    std::vector<std::vector<uint8_t>> pictures;
    double Mean(size_t picture) const;
    // Mean of one row or one column of a picture.
    double RowMean(size_t picture, int row) const;
    double ColumnMean(size_t picture, int column) const;
};
// `input` is a file or anything ffmpeg takes after -i; `filter` goes before the scale step.
GreyPictures DecodeGrey(const std::string& input, int width, int height, const std::string& filter = "",
                        int maxPictures = 0);

// The first audio stream decoded, mixed to mono float at `rate`.
std::vector<float> DecodeMono(const std::string& file, int rate);

// Signal measures for the audio checks.
double Rms(const std::vector<float>& samples, size_t from, size_t to);
// Frequency of a steady tone from its zero crossings between `from` and `to`.
double ToneFrequency(const std::vector<float>& samples, int rate, size_t from, size_t to);
