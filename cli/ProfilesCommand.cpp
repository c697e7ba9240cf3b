// zaderoza-cli profiles [--json] [--data DIR]: the profile catalogue by category, with each
// entry's profile index and encoding values, so that a profile can be picked by index or name.
#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/Json.h"
#include "profiles/AppPaths.h"
#include "profiles/ProfileCatalogue.h"
#include "profiles/ProfileList.h"

namespace {

// "29.97" for 29970, "25" for 25000.
std::string FrameRateText(int32_t thousandths)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", thousandths / 1000.0);
    std::string out = text;
    while (out.back() == '0')
        out.pop_back();
    if (out.back() == '.')
        out.pop_back();
    return out;
}

std::string VideoText(const FormatProfile& p)
{
    if (!p.VideoEnabled)
        return "no video";
    char text[128];
    std::snprintf(text, sizeof text, "%s %dx%d %s fps %d kbps", FieldText(p.VideoCodecName).c_str(), p.Width,
                  p.Height, FrameRateText(p.FrameRate).c_str(), p.VideoBitRate / 1000);
    return text;
}

std::string AudioText(const FormatProfile& p)
{
    if (!p.AudioEnabled)
        return "no audio";
    char text[128];
    std::snprintf(text, sizeof text, "%s %d Hz %d ch %d kbps", FieldText(p.AudioCodecName).c_str(), p.SampleRate,
                  p.Channel, p.AudioBitRate / 1000);
    return text;
}

std::string ProfileJson(const FormatProfile& p)
{
    char numbers[256];
    std::string out = "{\"index\":" + std::to_string(p.Index);
    out += ",\"name\":" + JsonString(FieldText(p.ProfileName));
    out += ",\"extension\":" + JsonString(FieldText(p.FormatExt));
    std::snprintf(numbers, sizeof numbers,
                  ",\"video\":{\"enabled\":%s,\"encoder\":%s,\"width\":%d,\"height\":%d,\"frameRate\":%d,"
                  "\"bitRate\":%d}",
                  p.VideoEnabled ? "true" : "false", JsonString(FieldText(p.VideoCodecName)).c_str(), p.Width,
                  p.Height, p.FrameRate, p.VideoBitRate);
    out += numbers;
    std::snprintf(numbers, sizeof numbers,
                  ",\"audio\":{\"enabled\":%s,\"encoder\":%s,\"sampleRate\":%d,\"channels\":%d,\"bitRate\":%d}}",
                  p.AudioEnabled ? "true" : "false", JsonString(FieldText(p.AudioCodecName)).c_str(), p.SampleRate,
                  p.Channel, p.AudioBitRate);
    out += numbers;
    return out;
}

void PrintText(const ProfileList& list)
{
    for (const CatalogueCategory& category : ProfileCategories()) {
        std::printf("%d %s\n", category.number, category.name);
        for (const CatalogueEntry& entry : category.entries) {
            std::string title(EntryTitle(entry));
            FormatProfile p {};
            if (!list.FindProfile(entry.profileIndex, p)) {
                std::printf("  %3d  %-52s (no such profile)\n", entry.profileIndex, title.c_str());
                continue;
            }
            std::printf("  %3d  %-52s %-6s %-40s %s\n", entry.profileIndex, title.c_str(),
                        FieldText(p.FormatExt).c_str(), VideoText(p).c_str(), AudioText(p).c_str());
        }
    }
}

void PrintJson(const ProfileList& list)
{
    std::string out = "{\"categories\":[";
    bool firstCategory = true;
    for (const CatalogueCategory& category : ProfileCategories()) {
        out += firstCategory ? "" : ",";
        firstCategory = false;
        out += "{\"number\":" + std::to_string(category.number) + ",\"name\":" + JsonString(category.name) +
               ",\"entries\":[";
        bool firstEntry = true;
        for (const CatalogueEntry& entry : category.entries) {
            out += firstEntry ? "" : ",";
            firstEntry = false;
            out += "{\"command\":" + std::to_string(entry.commandId) + ",\"title\":" + JsonString(EntryTitle(entry)) +
                   ",\"description\":" + JsonString(EntryDescription(entry)) +
                   ",\"index\":" + std::to_string(entry.profileIndex);
            FormatProfile p {};
            out += ",\"profile\":" + (list.FindProfile(entry.profileIndex, p) ? ProfileJson(p) : std::string("null"));
            out += "}";
        }
        out += "]}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
}

} // namespace

int RunProfiles(const Args& args)
{
    bool json = false;
    std::string folder = ExecutableFolder();
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--data" && i + 1 < args.size()) {
            folder = args[++i];
        } else {
            std::fprintf(stderr, "zaderoza-cli profiles: unknown argument '%s'\n", args[i].c_str());
            return 2;
        }
    }
    ProfileList list;
    if (!LoadProfiles(folder, list)) {
        std::fprintf(stderr, "zaderoza-cli profiles: Load Format.xml error (%s)\n",
                     (folder.empty() ? std::string("Format.xml") : folder + "/Format.xml").c_str());
        return 1;
    }
    if (json)
        PrintJson(list);
    else
        PrintText(list);
    return 0;
}
