#include "profiles/SettingIni.h"

#include <climits>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "profiles/AppPaths.h"

namespace {

constexpr const char* kSection = "SETTING";
constexpr const char* kCategoryKey = "DEFULTID";
constexpr const char* kEntryKey = "DEFULTSUBID";

std::string Trim(const std::string& text)
{
    size_t b = text.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    size_t e = text.find_last_not_of(" \t\r");
    return text.substr(b, e - b + 1);
}

bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

// "[name]" gives name; anything else is not a section header.
bool SectionName(const std::string& line, std::string& name)
{
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return false;
    size_t close = t.find(']');
    if (close == std::string::npos)
        return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// "key=value" gives key and value, trimmed.
bool KeyValue(const std::string& line, std::string& key, std::string& value)
{
    size_t eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return !key.empty();
}

// Leading decimal integer with an optional sign; no digits give 0; clamped to 32 bits.
int32_t LeadingInt(const std::string& text)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > 1LL << 31)
            magnitude = 1LL << 31;
    }
    long long v = negative ? -magnitude : magnitude;
    if (v > INT32_MAX)
        v = INT32_MAX;
    return static_cast<int32_t>(v);
}

} // namespace

std::string SettingIniFolder(const std::string& executableFolder, const std::string& configRoot)
{
    if (IsWritableFolder(executableFolder))
        return executableFolder;
    return configRoot + "/ZaDeroza";
}

std::string SettingIniPath(const std::string& executableFolder, const std::string& configRoot)
{
    return SettingIniFolder(executableFolder, configRoot) + "/setting.ini";
}

int32_t ReadIniInt(const std::string& text, const std::string& section, const std::string& key)
{
    bool inSection = false;
    for (const std::string& line : Lines(text)) {
        std::string name, k, v;
        if (SectionName(line, name)) {
            inSection = SameText(name, section);
        } else if (inSection && KeyValue(line, k, v) && SameText(k, key)) {
            return LeadingInt(v);
        }
    }
    return 0;
}

std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value)
{
    std::vector<std::string> lines = Lines(text);
    bool inSection = false;
    bool sectionFound = false;
    size_t insertAt = 0;   // after the last non-blank line of the section
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name, k, v;
        if (SectionName(lines[i], name)) {
            if (inSection)
                break;
            inSection = SameText(name, section);
            if (inSection) {
                sectionFound = true;
                insertAt = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (KeyValue(lines[i], k, v) && SameText(k, key)) {
            lines[i] = k + "=" + value;
            return Join(lines);
        }
        if (!Trim(lines[i]).empty())
            insertAt = i + 1;
    }
    if (sectionFound) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), key + "=" + value);
    } else {
        lines.push_back("[" + section + "]");
        lines.push_back(key + "=" + value);
    }
    return Join(lines);
}

ProfileSelection ReadSettingIni(const std::string& path)
{
    ProfileSelection selection;
    std::string text;
    if (!ReadWholeFile(path, text))
        return selection;
    selection.categoryId = ReadIniInt(text, kSection, kCategoryKey);
    selection.subId = ReadIniInt(text, kSection, kEntryKey);
    return selection;
}

bool WriteSettingIni(const std::string& path, const ProfileSelection& selection)
{
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash)))
        return false;
    std::string text;
    ReadWholeFile(path, text);   // a missing file starts empty
    char number[16];
    std::snprintf(number, sizeof number, "%d", selection.categoryId);
    text = SetIniValue(text, kSection, kCategoryKey, number);
    std::snprintf(number, sizeof number, "%d", selection.subId);
    text = SetIniValue(text, kSection, kEntryKey, number);
    return WriteFileAtomically(path, text);
}
