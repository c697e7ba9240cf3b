// Reads a test disc description (tests/discs/<name>.disc, the format tools/make-test-disc
// documents) into what the disc was authored with, so scans can be checked against it.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct DescribedAudio {
    std::string coding;  // ac3, mp2, lpcm, dts
    std::string language;
    int channels = 2;
};

struct DescribedTitle {
    double seconds = 0;
    int chapters = 1;
    std::vector<DescribedAudio> audio;
    std::vector<std::string> subtitles;  // languages
};

struct DiscDescription {
    bool pal = false;
    bool wide = false;
    std::vector<DescribedTitle> titles;  // "repeat N" expanded

    double FrameMs() const { return pal ? 40.0 : 1000.0 / 29.97; }
};

inline DiscDescription ReadDiscDescription(const std::string& path)
{
    DiscDescription disc;
    std::ifstream in(path);
    std::string line;
    int repeat = 1;
    auto flush = [&] {
        for (int i = 1; i < repeat; ++i)
            disc.titles.push_back(disc.titles.back());
        repeat = 1;
    };
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string word;
        if (!(words >> word))
            continue;
        if (word == "video") {
            std::string system, aspect;
            words >> system >> aspect;
            disc.pal = system == "pal";
            disc.wide = aspect == "16:9";
        } else if (word == "title") {
            if (!disc.titles.empty())
                flush();
            DescribedTitle title;
            words >> title.seconds;
            while (words >> word) {
                if (word == "chapters") {
                    title.chapters = 0;
                    double start;
                    while (words >> start)
                        ++title.chapters;
                    words.clear();
                } else if (word == "repeat") {
                    words >> repeat;
                }
            }
            disc.titles.push_back(title);
        } else if (word == "audio") {
            DescribedAudio audio;
            words >> audio.coding >> audio.language >> audio.channels;
            disc.titles.back().audio.push_back(audio);
        } else if (word == "sub") {
            std::string language;
            words >> language;
            disc.titles.back().subtitles.push_back(language);
        }
    }
    if (!disc.titles.empty())
        flush();
    return disc;
}
