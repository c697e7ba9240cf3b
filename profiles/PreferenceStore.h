// A small key/value store file in the layout of a registry hive: keys named by a path such as
// "Software\ZaDeroza DVD Ripper", each holding named, typed values. The file is text:
//
//   [Software\ZaDeroza DVD Ripper]
//   "strOutFolder"=sz:"/home/me/Videos"
//   "cpu_usage"=dword:00000032
//
// Value types: sz (string), expand_sz (expandable string), dword (32-bit number, 8 hex digits)
// and hex (bytes, comma-separated pairs). Strings escape \\ \" \n \r \t. Lines starting with ';'
// and blank lines are comments. Any other line makes the file corrupt: a corrupt file is never
// rewritten. Key paths and value names compare without regard to ASCII letter case.
// Threads: one object per caller, not shared; no locking.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graph/Result.h"

struct StoreValue {
    enum class Type { String, ExpandString, Dword, Binary };
    Type type = Type::String;
    std::string text;        // String, ExpandString (UTF-8)
    uint32_t number = 0;     // Dword
    std::string bytes;       // Binary
};

class CPreferenceStore {
public:
    explicit CPreferenceStore(std::string filePath);

    const std::string& FilePath() const { return m_path; }

    // Reads the file. S_OK: read; S_FALSE: there is no file (the store is empty);
    // E_FAIL: the file cannot be read or is corrupt (the store stays empty and Save refuses).
    HRESULT Load();
    // Parses text as the file's content (what Load does after reading).
    HRESULT Parse(const std::string& text);

    bool HasKey(const std::string& keyPath) const;
    // nullptr when the key or the value is missing.
    const StoreValue* FindValue(const std::string& keyPath, const std::string& name) const;

    // Creates the key when missing; replaces a value of that name, whatever its type.
    void CreateKey(const std::string& keyPath);
    void SetString(const std::string& keyPath, const std::string& name, const std::string& value);
    void SetDword(const std::string& keyPath, const std::string& name, uint32_t value);

    // True when Save can be expected to work: the file was not found corrupt, its folder
    // exists or can be made, and the folder (and the file, if it exists) can be written.
    bool CanWrite() const;
    // Writes every key atomically (temporary file, then rename). E_FAIL when the file was
    // corrupt, the folder cannot be made, or writing fails; the old file then stays as it was.
    HRESULT Save() const;

    std::string Serialise() const;

private:
    struct Value {
        std::string name;
        StoreValue value;
    };
    struct Key {
        std::string path;
        std::vector<Value> values;
    };
    Key* FindKey(const std::string& keyPath);
    const Key* FindKey(const std::string& keyPath) const;

    std::string m_path;
    std::vector<Key> m_keys;
    bool m_corrupt = false;
};
