#include "app/TitleList.h"

#include <cstdio>
#include <cstring>

#include "dvd/Language.h"

std::string LengthText(double ms)
{
    const long long s = ms > 0 ? static_cast<long long>(ms / 1000.0) : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    return text;
}

std::string EntryName(const ClipItem& clip, const std::string& extension)
{
    char text[48];
    if (clip.chapterIndex == -1)
        std::snprintf(text, sizeof text, "Title_%02d", clip.titleIndex + 1);
    else
        std::snprintf(text, sizeof text, "Chapter_%02d_%02d", clip.titleIndex + 1, clip.chapterIndex + 1);
    return text + extension;
}

std::string CodingText(int32_t coding)
{
    switch (coding) {
    case kDvdAudioAc3: return "AC3";
    case kDvdAudioMpeg1:
    case kDvdAudioMpeg2: return "MP3";
    case kDvdAudioLpcm: return "LPCM";
    case kDvdAudioDts: return "DTS";
    default: return "";
    }
}

int ChannelCount(int32_t channelCode)
{
    return channelCode == 5 ? 6 : 2;
}

std::string AudioTrackText(const DvdTitleInfo& title, int stream)
{
    const std::string language = LanguageNameFromPacked(title.audioLanguage[stream]);
    const std::string coding = CodingText(title.audioCoding[stream]);
    char text[256];
    std::snprintf(text, sizeof text, "%s(%s %dch)", language.c_str(), coding.c_str(),
                  ChannelCount(title.audioChannels[stream]));
    return text;
}

std::string SubtitleTrackText(const DvdTitleInfo& title, int stream)
{
    return LanguageNameFromPacked(title.subtitleLanguage[stream]);
}

DiscSession::~DiscSession()
{
    CloseDisc();
}

void DiscSession::CloseDisc()
{
    if (m_handle != 0)
        MyDVDClose(m_handle);
    m_handle = 0;
}

bool DiscSession::OpenDisc(const std::string& path, std::string* error)
{
    CloseDisc();
    m_handle = MyDVDOpen(path.c_str());
    if (m_handle == 0) {
        if (error)
            *error = DvdLastError();
        return false;
    }
    MyDVDGetInfo(m_handle, &m_info);
    return true;
}

void DiscSession::RebuildList(const std::string& extension)
{
    BuildEntries(m_info, extension);
}

bool DiscSession::LoadDisc(const std::string& path, const std::string& extension, std::string* error)
{
    if (!OpenDisc(path, error))
        return false;
    RebuildList(extension);
    return true;
}

void DiscSession::BuildEntries(const DvdDiscInfo& info, const std::string& extension)
{
    if (&info != &m_info)
        m_info = info;
    m_entries.clear();
    m_selectedEntry = -1;
    m_lastClicked = -2;
    m_hasRoot = true;
    m_rootChecked = true;
    const int count = m_info.titleCount < 0 ? 0
        : (m_info.titleCount > kDvdMaxTitles ? kDvdMaxTitles : m_info.titleCount);
    for (int t = 0; t < count; ++t) {
        const DvdTitleInfo& title = m_info.titles[t];
        if (!(title.durationMs >= kMinListedTitleMs))
            continue;
        TitleEntry entry;
        entry.clip.titleIndex = t;
        entry.clip.chapterIndex = -1;
        entry.clip.lengthMs = static_cast<int64_t>(title.durationMs);
        entry.clip.trimStartMs = 0;
        entry.clip.trimLengthMs = entry.clip.lengthMs;
        entry.sourceText = EntryName(entry.clip, "");
        entry.originalLength = LengthText(title.durationMs);
        entry.trimmedLength = entry.originalLength;
        entry.outputName = EntryName(entry.clip, extension);
        if (t == 0)
            m_selectedEntry = static_cast<int>(m_entries.size());
        m_entries.push_back(std::move(entry));
    }
    m_sharedPicture = PictureSettings{};
    m_audioLines.clear();
    m_subtitleLines.clear();
    if (count > 0)
        RefreshTrackLists(0);
}

void DiscSession::RenameEntries(const std::string& extension)
{
    for (TitleEntry& entry : m_entries)
        entry.outputName = EntryName(entry.clip, extension);
}

void DiscSession::RefreshTrackLists(int t)
{
    m_audioLines.clear();
    m_subtitleLines.clear();
    if (t < 0 || t >= kDvdMaxTitles)
        return;
    const DvdTitleInfo& title = m_info.titles[t];
    const int audio = title.audioCount < 0 ? 0 : (title.audioCount > kDvdMaxStreams ? kDvdMaxStreams : title.audioCount);
    for (int i = 0; i < audio; ++i)
        m_audioLines.push_back({AudioTrackText(title, i), title.audioStreamId[i]});
    if (!m_audioLines.empty())
        m_selectedAudioStreamId = static_cast<int32_t>(m_audioLines.front().streamId);
    const int subs = title.subtitleCount < 0 ? 0 : (title.subtitleCount > kDvdMaxStreams ? kDvdMaxStreams : title.subtitleCount);
    for (int i = 0; i < subs; ++i)
        m_subtitleLines.push_back({SubtitleTrackText(title, i), title.subtitleStreamId[i]});
    if (!m_subtitleLines.empty())
        m_selectedSubtitleStreamId = static_cast<int32_t>(m_subtitleLines.front().streamId);
}

void DiscSession::EntryClicked(int index)
{
    const bool valid = index >= 0 && index < static_cast<int>(m_entries.size());
    if (valid && index != m_lastClicked)
        RefreshTrackLists(m_entries[static_cast<size_t>(index)].clip.titleIndex);
    m_lastClicked = valid ? index : -1;
}

int DiscSession::SelectedEntry() const
{
    if (m_selectedEntry >= 0 && m_selectedEntry < static_cast<int>(m_entries.size()))
        return m_selectedEntry;
    return m_entries.empty() ? -1 : 0;
}

void DiscSession::CheckAll(bool checked)
{
    if (m_hasRoot)
        m_rootChecked = checked;
    for (TitleEntry& entry : m_entries)
        entry.checked = checked;
}

void DiscSession::ClearAll()
{
    m_entries.clear();
    m_hasRoot = false;
    m_rootChecked = false;
    m_selectedEntry = -1;
    m_lastClicked = -2;
    m_audioLines.clear();
    m_subtitleLines.clear();
}
