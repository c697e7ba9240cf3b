// The disc title list without its window: which titles of a disc become entries, their names
// and time texts, the per-entry records, the track lines of one title and the chosen stream
// ids. The Qt window only draws a DiscSession and forwards the user's actions to it.
//
// Threads: a DiscSession belongs to the user-interface thread; nothing here locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dvd/DvdAccess.h"
#include "dvd/DvdDiscInfo.h"

struct PictureSettings {
    int32_t zoomMode = 0;
    int32_t cropLeft = 0;
    int32_t cropTop = 0;
    int32_t cropRight = 720;
    int32_t cropBottom = 480;
    int32_t volume = 256;       // 1/256 units; 256 leaves the sound unchanged
    int32_t brightness = 128;   // 0..256, 128 neutral
    int32_t saturation = 64;    // 0..128, 64 neutral
    int32_t hue = 0;            // -180..180 degrees
    bool operator==(const PictureSettings&) const = default;
};

struct ClipItem {
    int32_t titleIndex = 0;     // from 0, index into DvdDiscInfo::titles
    int32_t chapterIndex = -1;  // from 0, or -1 for the whole title
    int64_t lengthMs = 0;
    int64_t trimStartMs = 0;
    int64_t trimLengthMs = 0;   // the part converted ends at trimStartMs + trimLengthMs
    PictureSettings picture;
};

// One row under the root: the texts of the four columns, the check box and the record.
struct TitleEntry {
    std::string sourceText;       // "Source file": "Title_%02d"
    std::string originalLength;   // "%02d:%02d:%02d"
    std::string trimmedLength;    // the title's play time too; trimming does not change it
    std::string outputName;       // "Output Format": EntryName
    bool checked = true;
    ClipItem clip;
};

// One line of the "Audio Track" or "SubTitle" list and the stream id it carries.
struct TrackLine {
    std::string text;
    uint32_t streamId = 0;
};

// Titles shorter than this are not listed.
constexpr double kMinListedTitleMs = 3000.0;

// "%02d:%02d:%02d" of the whole seconds of ms (hours are not wrapped: 100:00:00).
std::string LengthText(double ms);
// "Title_%02d" or "Chapter_%02d_%02d" followed by the extension (".mp4").
std::string EntryName(const ClipItem& clip, const std::string& extension);
// "AC3", "MP3", "LPCM", "DTS" or "" for the record's coding codes.
std::string CodingText(int32_t coding);
// 6 for channel code 5, 2 for every other code.
int ChannelCount(int32_t channelCode);
// "%s(%s %dch)": language name, coding text, channel count.
std::string AudioTrackText(const DvdTitleInfo& title, int stream);
// The language name of a subpicture stream.
std::string SubtitleTrackText(const DvdTitleInfo& title, int stream);

// The process-wide state of the title list, owned by the main window and passed to whoever
// needs it: the open disc, its record, the entries, the track lists and the chosen streams.
class DiscSession {
public:
    DiscSession() = default;
    ~DiscSession();
    DiscSession(const DiscSession&) = delete;
    DiscSession& operator=(const DiscSession&) = delete;

    // Closes the disc shown (if any) and opens path. False when it cannot be opened: the
    // handle is then 0, error says why, and the entries are left as they were.
    bool OpenDisc(const std::string& path, std::string* error);
    // Rebuilds the list from the record of the open disc (after the preview has opened it).
    void RebuildList(const std::string& extension);
    // OpenDisc + RebuildList, for callers without a preview.
    bool LoadDisc(const std::string& path, const std::string& extension, std::string* error);
    // Rebuilds the list from a given record (the listing rule; used by RebuildList).
    void BuildEntries(const DvdDiscInfo& info, const std::string& extension);

    // Rewrites every entry's output name for a new profile extension.
    void RenameEntries(const std::string& extension);
    // Refills both track lists from title t and sets the selected ids from its first streams;
    // a list that stays empty leaves its id unchanged.
    void RefreshTrackLists(int title);
    // A click on entry index (-1: the root or nothing): refreshes the track lists when it is
    // not the entry of the previous click.
    void EntryClicked(int index);
    void SelectEntry(int index) { m_selectedEntry = index; }
    // The selected entry; the first entry when none is selected; -1 when the list is empty.
    int SelectedEntry() const;

    void CheckAll(bool checked);
    // Empties the list and both track lists; the disc stays open.
    void ClearAll();
    // Closes the disc (window destruction).
    void CloseDisc();

    DvdHandle OpenDvdHandle() const { return m_handle; }
    const DvdDiscInfo& DiscInfo() const { return m_info; }
    bool HasRoot() const { return m_hasRoot; }
    bool RootChecked() const { return m_rootChecked; }
    const std::vector<TitleEntry>& Entries() const { return m_entries; }
    std::vector<TitleEntry>& Entries() { return m_entries; }
    const std::vector<TrackLine>& AudioLines() const { return m_audioLines; }
    const std::vector<TrackLine>& SubtitleLines() const { return m_subtitleLines; }
    int32_t SelectedAudioStreamId() const { return m_selectedAudioStreamId; }
    int32_t SelectedSubtitleStreamId() const { return m_selectedSubtitleStreamId; }
    void SetSelectedAudioStreamId(int32_t id) { m_selectedAudioStreamId = id; }
    void SetSelectedSubtitleStreamId(int32_t id) { m_selectedSubtitleStreamId = id; }
    PictureSettings& SharedPictureSettings() { return m_sharedPicture; }
    const PictureSettings& SharedPictureSettings() const { return m_sharedPicture; }

private:
    DvdHandle m_handle = 0;
    DvdDiscInfo m_info{};
    bool m_hasRoot = false;
    bool m_rootChecked = false;
    std::vector<TitleEntry> m_entries;
    int m_selectedEntry = -1;
    int m_lastClicked = -2;  // -2: no click yet
    std::vector<TrackLine> m_audioLines;
    std::vector<TrackLine> m_subtitleLines;
    int32_t m_selectedAudioStreamId = -1;
    int32_t m_selectedSubtitleStreamId = -1;
    PictureSettings m_sharedPicture;
};
