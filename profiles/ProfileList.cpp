#include "profiles/ProfileList.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <sys/stat.h>

#include "xml/XmlDocument.h"

void ProfileList::AddProfile(const FormatProfile& profile)
{
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_profiles.push_back(profile);
}

bool ProfileList::FindProfile(int32_t index, FormatProfile& out) const
{
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    for (const FormatProfile& profile : m_profiles) {
        if (profile.Index == index) {
            out = profile;
            return true;
        }
    }
    return false;
}

void ProfileList::Clear()
{
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_profiles.clear();
}

namespace {

// A folder gives the named file inside it; an empty path the name itself (current directory).
std::string ResolveDataFile(const std::string& path, const char* name)
{
    if (path.empty())
        return name;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return path.back() == '/' ? path + name : path + "/" + name;
    return path;
}

std::string ToUtf8(const std::u16string& text)
{
    return Utf16FieldToUtf8(text.data(), text.size());
}

// Base-10 string-to-long: leading white space and one sign are accepted, reading stops at the
// first non-digit, no digits give 0, and values past the 32-bit range give the nearest limit.
int32_t ParseNumber(const std::u16string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMinMagnitude = -static_cast<int64_t>(std::numeric_limits<int32_t>::min());
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > kMinMagnitude)
            magnitude = kMinMagnitude;  // saturate; more digits cannot bring it back
    }
    if (negative)
        return static_cast<int32_t>(-magnitude);
    return static_cast<int32_t>(magnitude > kMax ? kMax : magnitude);
}

// Reads the profile's settings through the document's cursor, which stands inside the Profile.
class ProfileReader {
public:
    ProfileReader(CXmlDocument& doc, FormatProfile& profile, std::vector<std::string>* truncations)
        : m_doc(doc), m_profile(profile), m_truncations(truncations)
    {
    }

    // Finds the next child of that name after the last one found; gives its "value" attribute.
    bool Read(const char16_t* name, std::u16string& value)
    {
        if (!m_doc.FindNextChild(name))
            return false;
        if (!m_doc.EnterElement())
            return false;
        value = m_doc.GetAttribute(u"value");
        m_doc.LeaveElement();
        return true;
    }

    template <size_t N>
    void Text(const char16_t* name, char16_t (&field)[N], int32_t* enabled)
    {
        std::u16string value;
        if (!Read(name, value)) {
            if (enabled)
                *enabled = 0;
            return;
        }
        if (!AssignUtf16Field(field, N, value))
            Truncated(name, value.size(), N - 1);
    }

    template <size_t N>
    void EncoderName(const char16_t* name, char (&field)[N], int32_t& enabled)
    {
        std::u16string value;
        if (!Read(name, value) || value.empty()) {
            enabled = 0;
            return;
        }
        std::string text = ToUtf8(value);
        if (!AssignCharField(field, N, text))
            Truncated(name, text.size(), N - 1);
    }

    void Number(const char16_t* name, int32_t& field, int32_t& enabled)
    {
        std::u16string value;
        if (!Read(name, value)) {
            enabled = 0;
            return;
        }
        field = ParseNumber(value);
    }

private:
    void Truncated(const char16_t* name, size_t length, size_t room)
    {
        char line[512];
        std::snprintf(line, sizeof line,
                      "Format.xml: profile %d (%s): %s too long (%zu, room for %zu), cut to fit",
                      m_profile.Index, FieldText(m_profile.ProfileName).c_str(),
                      ToUtf8(name).c_str(), length, room);
        std::fprintf(stderr, "%s\n", line);
        if (m_truncations)
            m_truncations->push_back(line);
    }

    CXmlDocument& m_doc;
    FormatProfile& m_profile;
    std::vector<std::string>* m_truncations;
};

} // namespace

bool LoadProfiles(const std::string& path, ProfileList& list, std::vector<std::string>* truncations)
{
    CXmlDocument doc;
    if (!doc.LoadFile(ResolveDataFile(path, "Format.xml")))
        return false;
    doc.ResetCurrent();
    int32_t counter = 0;
    while (doc.FindNextChild(u"Profile")) {
        if (!doc.EnterElement())
            break;
        FormatProfile p {};
        p.Index = counter++;
        p.VideoEnabled = 1;
        p.AudioEnabled = 1;
        ProfileReader r(doc, p, truncations);
        // The order matters: each search continues after the element found before it.
        r.Text(u"ProfileName", p.ProfileName, nullptr);
        r.Text(u"FormatExt", p.FormatExt, nullptr);
        r.EncoderName(u"VideoCodecName", p.VideoCodecName, p.VideoEnabled);
        r.Number(u"Width", p.Width, p.VideoEnabled);
        r.Number(u"Height", p.Height, p.VideoEnabled);
        r.Number(u"FrameRate", p.FrameRate, p.VideoEnabled);
        r.Number(u"VideoBitRate", p.VideoBitRate, p.VideoEnabled);
        r.EncoderName(u"AudioCodecName", p.AudioCodecName, p.AudioEnabled);
        r.Number(u"SampleRate", p.SampleRate, p.AudioEnabled);
        r.Number(u"AudioBitRate", p.AudioBitRate, p.AudioEnabled);
        r.Number(u"Channel", p.Channel, p.AudioEnabled);
        r.Text(u"Resolutions", p.Resolutions, &p.VideoEnabled);
        r.Text(u"FrameRates", p.FrameRates, &p.VideoEnabled);
        r.Text(u"VideoCodecs", p.VideoCodecs, &p.VideoEnabled);
        r.Text(u"VideoBitRates", p.VideoBitRates, &p.VideoEnabled);
        r.Text(u"SampleRates", p.SampleRates, &p.AudioEnabled);
        r.Text(u"Channels", p.Channels, &p.AudioEnabled);
        r.Text(u"AudioCodecs", p.AudioCodecs, &p.AudioEnabled);
        r.Text(u"AudioBitRates", p.AudioBitRates, &p.AudioEnabled);
        list.AddProfile(p);
        doc.LeaveElement();
    }
    return true;
}

bool LoadSiteSettings(const std::string& path, SiteSettings& settings)
{
    settings = SiteSettings {};
    CXmlDocument doc;
    if (!doc.LoadFile(ResolveDataFile(path, "Set.xml")))
        return false;
    doc.ResetCurrent();
    if (doc.FindNextChild(u"Profile") && doc.EnterElement()) {
        if (doc.FindNextChild(u"Title") && doc.EnterElement()) {
            settings.AppTitle = ToUtf8(doc.GetAttribute(u"value"));
            doc.LeaveElement();
        }
        if (doc.FindNextChild(u"Url") && doc.EnterElement()) {
            settings.AppUrl = ToUtf8(doc.GetAttribute(u"value"));
            doc.LeaveElement();
        }
        doc.LeaveElement();
    }
    return true;
}

std::vector<ChoiceItem> ChoiceItems(const std::string& list)
{
    std::vector<ChoiceItem> items;
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t dollar = item.find('$');
        if (dollar == std::string::npos)
            items.push_back({item, item});
        else
            items.push_back({item.substr(0, dollar), item.substr(dollar + 1)});
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return items;
}

std::vector<std::string> FillChoiceList(const std::string& list)
{
    std::vector<std::string> labels;
    for (ChoiceItem& item : ChoiceItems(list))
        labels.push_back(std::move(item.label));
    return labels;
}

std::string LabelForKey(const std::string& list, const std::string& key)
{
    for (const ChoiceItem& item : ChoiceItems(list)) {
        if (item.key == key)
            return item.label;
    }
    return {};
}

std::string KeyForLabel(const std::string& list, const std::string& label)
{
    for (const ChoiceItem& item : ChoiceItems(list)) {
        if (item.label == label)
            return item.key;
    }
    return {};
}
