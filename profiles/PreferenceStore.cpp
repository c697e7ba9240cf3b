#include "profiles/PreferenceStore.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "profiles/AppPaths.h"

namespace {

bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c; break;
        }
    }
    return out + "\"";
}

// Reads a quoted string at line[pos]; pos ends after the closing quote. False if malformed.
bool Unquote(const std::string& line, size_t& pos, std::string& out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos >= line.size())
            return false;
        switch (line[pos]) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        default: return false;
        }
    }
    return false;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool StartsWith(const std::string& text, size_t pos, const char* prefix)
{
    return text.compare(pos, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Parses the part after '=' of a value line.
bool ParseValue(const std::string& line, size_t pos, StoreValue& value)
{
    if (StartsWith(line, pos, "sz:") || StartsWith(line, pos, "expand_sz:")) {
        value.type = line[pos] == 's' ? StoreValue::Type::String : StoreValue::Type::ExpandString;
        pos = line.find(':', pos) + 1;
        return Unquote(line, pos, value.text) && pos == line.size();
    }
    if (StartsWith(line, pos, "dword:")) {
        pos += 6;
        if (line.size() - pos != 8)
            return false;
        uint32_t number = 0;
        for (; pos < line.size(); ++pos) {
            int d = HexDigit(line[pos]);
            if (d < 0)
                return false;
            number = number << 4 | static_cast<uint32_t>(d);
        }
        value.type = StoreValue::Type::Dword;
        value.number = number;
        return true;
    }
    if (StartsWith(line, pos, "hex:")) {
        pos += 4;
        value.type = StoreValue::Type::Binary;
        value.bytes.clear();
        while (pos < line.size()) {
            if (line.size() - pos < 2)
                return false;
            int hi = HexDigit(line[pos]), lo = HexDigit(line[pos + 1]);
            if (hi < 0 || lo < 0)
                return false;
            value.bytes += static_cast<char>(hi << 4 | lo);
            pos += 2;
            if (pos < line.size()) {
                if (line[pos] != ',' || pos + 1 == line.size())
                    return false;
                ++pos;
            }
        }
        return true;
    }
    return false;
}

} // namespace

CPreferenceStore::CPreferenceStore(std::string filePath) : m_path(std::move(filePath)) {}

HRESULT CPreferenceStore::Load()
{
    m_keys.clear();
    m_corrupt = false;
    struct stat st {};
    if (stat(m_path.c_str(), &st) != 0)
        return S_FALSE;
    std::string text;
    if (!S_ISREG(st.st_mode) || !ReadWholeFile(m_path, text)) {
        m_corrupt = true;
        return E_FAIL;
    }
    return Parse(text);
}

HRESULT CPreferenceStore::Parse(const std::string& text)
{
    m_keys.clear();
    m_corrupt = false;
    std::vector<Key> keys;
    Key* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.size() < 3 || line.back() != ']') {
                m_corrupt = true;
                return E_FAIL;
            }
            std::string path = line.substr(1, line.size() - 2);
            current = nullptr;
            for (Key& key : keys) {
                if (SameText(key.path, path))
                    current = &key;
            }
            if (!current) {
                keys.push_back({path, {}});
                current = &keys.back();
            }
            continue;
        }
        size_t at = 0;
        Value value;
        if (!current || !Unquote(line, at, value.name) || at >= line.size() || line[at] != '=' ||
            !ParseValue(line, at + 1, value.value)) {
            m_corrupt = true;
            return E_FAIL;
        }
        bool replaced = false;
        for (Value& existing : current->values) {
            if (SameText(existing.name, value.name)) {
                existing.value = value.value;
                replaced = true;
            }
        }
        if (!replaced)
            current->values.push_back(std::move(value));
    }
    m_keys = std::move(keys);
    return S_OK;
}

CPreferenceStore::Key* CPreferenceStore::FindKey(const std::string& keyPath)
{
    for (Key& key : m_keys) {
        if (SameText(key.path, keyPath))
            return &key;
    }
    return nullptr;
}

const CPreferenceStore::Key* CPreferenceStore::FindKey(const std::string& keyPath) const
{
    return const_cast<CPreferenceStore*>(this)->FindKey(keyPath);
}

bool CPreferenceStore::HasKey(const std::string& keyPath) const
{
    return FindKey(keyPath) != nullptr;
}

const StoreValue* CPreferenceStore::FindValue(const std::string& keyPath, const std::string& name) const
{
    const Key* key = FindKey(keyPath);
    if (!key)
        return nullptr;
    for (const Value& value : key->values) {
        if (SameText(value.name, name))
            return &value.value;
    }
    return nullptr;
}

void CPreferenceStore::CreateKey(const std::string& keyPath)
{
    if (!FindKey(keyPath))
        m_keys.push_back({keyPath, {}});
}

void CPreferenceStore::SetString(const std::string& keyPath, const std::string& name, const std::string& value)
{
    StoreValue v;
    v.type = StoreValue::Type::String;
    v.text = value;
    CreateKey(keyPath);
    Key* key = FindKey(keyPath);
    for (Value& existing : key->values) {
        if (SameText(existing.name, name)) {
            existing.value = v;
            return;
        }
    }
    key->values.push_back({name, v});
}

void CPreferenceStore::SetDword(const std::string& keyPath, const std::string& name, uint32_t value)
{
    StoreValue v;
    v.type = StoreValue::Type::Dword;
    v.number = value;
    CreateKey(keyPath);
    Key* key = FindKey(keyPath);
    for (Value& existing : key->values) {
        if (SameText(existing.name, name)) {
            existing.value = v;
            return;
        }
    }
    key->values.push_back({name, v});
}

std::string CPreferenceStore::Serialise() const
{
    std::string out = "; ZaDeroza preference store\n";
    for (const Key& key : m_keys) {
        out += "\n[" + key.path + "]\n";
        for (const Value& value : key.values) {
            out += Quote(value.name) + "=";
            const StoreValue& v = value.value;
            switch (v.type) {
            case StoreValue::Type::String: out += "sz:" + Quote(v.text); break;
            case StoreValue::Type::ExpandString: out += "expand_sz:" + Quote(v.text); break;
            case StoreValue::Type::Dword: {
                char hex[16];
                std::snprintf(hex, sizeof hex, "dword:%08x", v.number);
                out += hex;
                break;
            }
            case StoreValue::Type::Binary: {
                out += "hex:";
                for (size_t i = 0; i < v.bytes.size(); ++i) {
                    char pair[4];
                    std::snprintf(pair, sizeof pair, i ? ",%02x" : "%02x", static_cast<unsigned char>(v.bytes[i]));
                    out += pair;
                }
                break;
            }
            }
            out += "\n";
        }
    }
    return out;
}

bool CPreferenceStore::CanWrite() const
{
    if (m_corrupt)
        return false;
    size_t slash = m_path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : m_path.substr(0, slash);
    if (!MakeFolders(folder) || !IsWritableFolder(folder))
        return false;
    struct stat st {};
    if (stat(m_path.c_str(), &st) == 0)
        return S_ISREG(st.st_mode) && access(m_path.c_str(), W_OK) == 0;
    return true;
}

HRESULT CPreferenceStore::Save() const
{
    if (!CanWrite())
        return E_FAIL;
    return WriteFileAtomically(m_path, Serialise()) ? S_OK : E_FAIL;
}
