// zaderoza-cli scan PATH [--json] [--ext .EXT] [--read]: the disc's title list as the main window
// shows it.
#include <cstdio>
#include <string>
#include <vector>

#include "app/TitleList.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "dvd/DvdAccess.h"

namespace {

constexpr const char* kDefaultExtension = ".mp4";  // the default profile's extension

std::string Hex(uint32_t id)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", id);
    return text;
}

std::string LanguageCode(uint32_t packed)
{
    if (packed == 0)
        return "";
    return {static_cast<char>((packed >> 8) & 0xFF), static_cast<char>(packed & 0xFF)};
}

std::string TitleName(int t)
{
    ClipItem clip;
    clip.titleIndex = t;
    return EntryName(clip, "");
}

void PrintText(const std::string& path, const DiscSession& session)
{
    const DvdDiscInfo& info = session.DiscInfo();
    std::printf("%s: %d titles, %zu listed\n", path.c_str(), info.titleCount, session.Entries().size());
    for (const TitleEntry& entry : session.Entries()) {
        const DvdTitleInfo& title = info.titles[entry.clip.titleIndex];
        std::printf("%s  %s  %d chapters\n", entry.outputName.c_str(), entry.originalLength.c_str(),
                    title.chapterCount);
        for (int i = 0; i < title.audioCount; ++i)
            std::printf("  audio %s  %s\n", Hex(title.audioStreamId[i]).c_str(), AudioTrackText(title, i).c_str());
        for (int i = 0; i < title.subtitleCount; ++i)
            std::printf("  subtitle %s  %s\n", Hex(title.subtitleStreamId[i]).c_str(),
                        SubtitleTrackText(title, i).c_str());
    }
    std::string skipped;
    for (int t = 0; t < info.titleCount; ++t) {
        if (info.titles[t].durationMs < kMinListedTitleMs)
            skipped += (skipped.empty() ? "" : ", ") + TitleName(t);
    }
    if (!skipped.empty())
        std::printf("skipped (shorter than 3 s): %s\n", skipped.c_str());
}

void PrintJson(const std::string& path, const DiscSession& session)
{
    const DvdDiscInfo& info = session.DiscInfo();
    std::string out = "{\"path\":" + JsonString(path) + ",\"titleCount\":" + std::to_string(info.titleCount);
    out += ",\"titles\":[";
    bool first = true;
    for (const TitleEntry& entry : session.Entries()) {
        const DvdTitleInfo& title = info.titles[entry.clip.titleIndex];
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.3f", title.durationMs);
        out += first ? "" : ",";
        first = false;
        out += "{\"title\":" + std::to_string(entry.clip.titleIndex + 1);
        out += ",\"name\":" + JsonString(entry.outputName);
        out += ",\"length\":" + JsonString(entry.originalLength);
        out += ",\"durationMs\":" + std::string(duration);
        out += ",\"chapters\":" + std::to_string(title.chapterCount);
        out += ",\"chapterSectors\":[";
        for (int c = 0; c < title.chapterCount; ++c)
            out += (c ? "," : "") + std::to_string(title.chapterSectors[c]);
        out += "],\"audio\":[";
        for (int i = 0; i < title.audioCount; ++i) {
            out += i ? "," : "";
            out += "{\"id\":" + JsonString(Hex(title.audioStreamId[i]));
            out += ",\"text\":" + JsonString(AudioTrackText(title, i));
            out += ",\"language\":" + JsonString(LanguageCode(title.audioLanguage[i]));
            out += ",\"coding\":" + std::to_string(title.audioCoding[i]);
            out += ",\"channelCode\":" + std::to_string(title.audioChannels[i]) + "}";
        }
        out += "],\"subtitles\":[";
        for (int i = 0; i < title.subtitleCount; ++i) {
            out += i ? "," : "";
            out += "{\"id\":" + JsonString(Hex(title.subtitleStreamId[i]));
            out += ",\"text\":" + JsonString(SubtitleTrackText(title, i));
            out += ",\"language\":" + JsonString(LanguageCode(title.subtitleLanguage[i])) + "}";
        }
        out += "]}";
    }
    out += "],\"skipped\":[";
    first = true;
    for (int t = 0; t < info.titleCount; ++t) {
        if (info.titles[t].durationMs >= kMinListedTitleMs)
            continue;
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.3f", info.titles[t].durationMs);
        out += first ? "" : ",";
        first = false;
        out += "{\"title\":" + std::to_string(t + 1) + ",\"durationMs\":" + duration + "}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
}

// Reads every listed title through the layer, as a conversion would, and reports what could
// not be read. False when a title ended with an error.
bool ReadTitles(const DiscSession& session)
{
    bool ok = true;
    const DvdHandle handle = session.OpenDvdHandle();
    std::vector<uint8_t> buffer(10240);
    for (const TitleEntry& entry : session.Entries()) {
        const int t = entry.clip.titleIndex;
        MyDVDSetArea(handle, t, 0);
        MyDvdSetStopPos(handle, t + 1, 0);
        while (MyDVDRead(handle, buffer.data(), int(buffer.size())) > 0) {
        }
        std::string ranges;
        int64_t skipped = 0;
        for (const DvdSkippedRange& range : DvdSkippedRanges(handle)) {
            char text[64];
            std::snprintf(text, sizeof text, "%s%lld-%lld", ranges.empty() ? "" : ", ",
                          static_cast<long long>(range.firstSector),
                          static_cast<long long>(range.firstSector + range.sectorCount - 1));
            ranges += text;
            skipped += range.sectorCount;
        }
        if (skipped > 0)
            std::fprintf(stderr, "zaderoza-cli: warning: %s: %lld unreadable sectors skipped (sectors %s)\n",
                         entry.sourceText.c_str(), static_cast<long long>(skipped), ranges.c_str());
        if (DvdReadFailed(handle)) {
            std::fprintf(stderr, "zaderoza-cli: %s: %s\n", entry.sourceText.c_str(), DvdReadError(handle).c_str());
            ok = false;
        }
    }
    return ok;
}

}  // namespace

int RunScan(const Args& args)
{
    std::string path;
    std::string extension = kDefaultExtension;
    bool json = false;
    bool read = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--read") {
            read = true;
        } else if (arg == "--ext") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "zaderoza-cli: --ext needs an extension\n");
                return 2;
            }
            extension = args[++i];
            if (!extension.empty() && extension.front() != '.')
                extension.insert(extension.begin(), '.');
        } else if (!arg.empty() && arg.front() == '-' && arg != "-") {
            std::fprintf(stderr, "zaderoza-cli: unknown option %s (usage: scan PATH [--json] [--ext .EXT] [--read])\n", arg.c_str());
            return 2;
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "zaderoza-cli: scan takes one path\n");
            return 2;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "zaderoza-cli: usage: scan PATH [--json] [--ext .EXT] [--read]\n");
        return 2;
    }
    DiscSession session;
    std::string error;
    if (!session.LoadDisc(path, extension, &error)) {
        std::fprintf(stderr, "zaderoza-cli: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& note : DvdScanNotes(session.OpenDvdHandle()))
        std::fprintf(stderr, "zaderoza-cli: warning: %s\n", note.c_str());
    if (json)
        PrintJson(path, session);
    else
        PrintText(path, session);
    if (read && !ReadTitles(session))
        return 1;
    return 0;
}
