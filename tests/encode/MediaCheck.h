// Reading back what the encoder wrote: ffprobe's view of the streams, and a decode of every
// packet with libavformat/libavcodec for time stamps, counts and picture content.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ProbedFile {
    std::string formatName;                                  // ffprobe format_name
    std::vector<std::map<std::string, std::string>> streams; // ffprobe [STREAM] key=value
    const std::map<std::string, std::string>* Stream(const std::string& type) const;
};
// Runs ffprobe (with -count_frames); an empty formatName when it could not read the file.
ProbedFile Probe(const std::string& file);

struct DecodedStream {
    bool present = false;
    int packets = 0;
    bool packetTimesIncreasing = true; // every packet has a dts (or a pts), each above the last
    int frames = 0;                   // decoded pictures or audio frames
    long long samples = 0;            // decoded audio samples
    double firstPts = 0;              // seconds, first decoded frame
    double end = 0;                   // seconds, end of the last decoded frame
    std::vector<double> lumaMeans;    // video: mean of the luma plane per picture
    std::vector<double> pts;          // video: seconds, per decoded picture
};
struct DecodedFile {
    bool ok = false;
    DecodedStream video;
    DecodedStream audio;
};
DecodedFile Decode(const std::string& file);
