#include "convert/ConvertRun.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Runs a shell command and returns what it wrote to standard output; `status` gets the exit
// status (-1 when it did not exit normally).
std::string Capture(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int raw = pclose(pipe);
    if (status)
        *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string DiscPath(const std::string& name)
{
    const char* env = std::getenv("ZDR_TEST_DISCS");
    return std::string(env && *env ? env : ZDR_TEST_DISCS) + "/" + name;
}

std::string FormatXmlPath()
{
    return std::string(ZDR_BIN_DIR) + "/Format.xml";
}

ScratchFolder::ScratchFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zdr-convert-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        m_path = pattern;
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

std::vector<std::string> ScratchFolder::Files() const
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_path, ec))
        files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

CliRun Convert(const std::string& disc, const std::vector<std::string>& args, const std::string& outDir)
{
    static int counter = 0;
    const std::string errFile = testing::TempDir() + "zdr-convert-err-" + std::to_string(getpid()) + "-" +
                                std::to_string(++counter) + ".txt";
    std::string command = Quote(std::string(ZDR_BIN_DIR) + "/zaderoza-cli") + " convert " + Quote(disc);
    for (const std::string& a : args)
        command += " " + Quote(a);
    command += " --out " + Quote(outDir) + " --quiet 2>" + Quote(errFile);
    CliRun run;
    run.out = Capture(command, &run.status);
    run.err = ReadFile(errFile);
    std::remove(errFile.c_str());
    return run;
}

std::string OnlyFile(const ScratchFolder& folder)
{
    const std::vector<std::string> files = folder.Files();
    EXPECT_EQ(files.size(), 1u) << "files in " << folder.Path();
    return files.size() == 1 ? files[0] : std::string();
}

std::string ProbeSection::Get(const std::string& key) const
{
    auto it = keys.find(key);
    return it == keys.end() ? std::string() : it->second;
}

double ProbeSection::Number(const std::string& key, double otherwise) const
{
    const std::string text = Get(key);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return text.empty() || end == text.c_str() ? otherwise : v;
}

const ProbeSection* ProbedMedia::Stream(const std::string& type) const
{
    for (const ProbeSection& s : streams)
        if (s.Get("codec_type") == type)
            return &s;
    return nullptr;
}

ProbedMedia ProbeMedia(const std::string& file)
{
    ProbedMedia media;
    int status = -1;
    const std::string text = Capture(
        "ffprobe -v error -show_entries "
        "format=format_name:stream=index,codec_type,codec_name,width,height,sample_rate,channels:"
        "frame=media_type,best_effort_timestamp_time,nb_samples -show_frames -of compact=p=1 " +
            Quote(file) + " 2>/dev/null",
        &status);
    std::istringstream lines(text);
    std::string line;
    bool firstAudio = true;
    while (std::getline(lines, line)) {
        ProbeSection section;
        std::istringstream fields(line);
        std::string field;
        std::getline(fields, section.kind, '|');
        while (std::getline(fields, field, '|'))
            if (auto eq = field.find('='); eq != std::string::npos)
                section.keys[field.substr(0, eq)] = field.substr(eq + 1);
        if (section.kind == "format") {
            media.formatName = section.Get("format_name");
        } else if (section.kind == "stream") {
            media.streams.push_back(section);
        } else if (section.kind == "frame") {
            const double t = section.Number("best_effort_timestamp_time", NAN);
            if (section.Get("media_type") == "video") {
                media.videoTimes.push_back(t);
            } else if (section.Get("media_type") == "audio") {
                if (firstAudio && !std::isnan(t))
                    media.audioStart = t;
                firstAudio = false;
                const int samples = static_cast<int>(section.Number("nb_samples", 0));
                media.audioSamples += samples;
                media.audioLongestFrame = std::max(media.audioLongestFrame, samples);
            }
        }
    }
    media.readable = status == 0 && !media.formatName.empty();
    return media;
}

double GreyPictures::Mean(size_t picture) const
{
    const auto& p = pictures.at(picture);
    double sum = 0;
    for (uint8_t v : p)
        sum += v;
    return p.empty() ? 0 : sum / p.size();
}

double GreyPictures::RowMean(size_t picture, int row) const
{
    const auto& p = pictures.at(picture);
    double sum = 0;
    for (int x = 0; x < width; ++x)
        sum += p[size_t(row) * width + x];
    return sum / width;
}

double GreyPictures::ColumnMean(size_t picture, int column) const
{
    const auto& p = pictures.at(picture);
    double sum = 0;
    for (int y = 0; y < height; ++y)
        sum += p[size_t(y) * width + column];
    return sum / height;
}

GreyPictures DecodeGrey(const std::string& input, int width, int height, const std::string& filter, int maxPictures)
{
    GreyPictures grey;
    grey.width = width;
    grey.height = height;
    std::string chain = filter.empty() ? "" : filter + ",";
    chain += "scale=" + std::to_string(width) + ":" + std::to_string(height) + ":flags=area";
    std::string command = "ffmpeg -v error -nostdin -i " + Quote(input) + " -map 0:v:0 -fps_mode passthrough";
    if (maxPictures > 0)
        command += " -frames:v " + std::to_string(maxPictures);
    command += " -vf " + Quote(chain) + " -f rawvideo -pix_fmt gray - 2>/dev/null";
    const std::string bytes = Capture(command);
    const size_t size = size_t(width) * height;
    for (size_t at = 0; at + size <= bytes.size(); at += size)
        grey.pictures.emplace_back(bytes.begin() + at, bytes.begin() + at + size);
    return grey;
}

std::vector<float> DecodeMono(const std::string& file, int rate)
{
    const std::string bytes = Capture("ffmpeg -v error -nostdin -i " + Quote(file) + " -map 0:a:0 -ac 1 -ar " +
                                      std::to_string(rate) + " -f f32le - 2>/dev/null");
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy_n(bytes.data(), samples.size() * sizeof(float), reinterpret_cast<char*>(samples.data()));
    return samples;
}

double Rms(const std::vector<float>& samples, size_t from, size_t to)
{
    to = std::min(to, samples.size());
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += double(samples[i]) * samples[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

double ToneFrequency(const std::vector<float>& samples, int rate, size_t from, size_t to)
{
    to = std::min(to, samples.size());
    // Rising zero crossings, with the first and last one bounding whole periods.
    long first = -1, last = -1, crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (first < 0)
                first = long(i);
            last = long(i);
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return double(crossings - 1) * rate / double(last - first);
}
