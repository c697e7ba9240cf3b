// Read-only XML document: the whole file as UTF-16 text plus an index of element positions.
// Used for Format.xml and Set.xml. See XmlDocument.cpp for the loading rules.
// Not thread-safe: one thread loads and walks a document at a time; no locks inside.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CXmlDocument {
public:
    CXmlDocument();

    // Reads, converts and parses the file; true only if the document is well formed. The text
    // and index stay in memory either way.
    bool LoadFile(const std::string& path);
    // The same on bytes already in memory (used by LoadFile and the fuzzer).
    bool LoadBuffer(const uint8_t* data, size_t size);

    void ResetCurrent();
    bool FindNextChild(const std::u16string& name);
    bool EnterElement();
    bool LeaveElement();
    std::u16string GetAttribute(const std::u16string& name) const;

    bool IsWellFormed() const;
    // Short records of what the loader did, for troubleshooting.
    const std::string& Diagnostics() const { return m_diagnostics; }
    const std::u16string& Text() const { return m_text; }

    // Document flags.
    static constexpr uint32_t kUtf16LeFile = 0x1;
    static constexpr uint32_t kUtf8Bom = 0x4;
    static constexpr uint32_t kIgnoreCase = 0x8;
    static constexpr uint32_t kReading = 0x10;
    static constexpr uint32_t kUtf16BeFile = 0x80;
    uint32_t Flags() const { return m_flags; }

private:
    struct Parser;  // builds the element index from m_text (XmlDocument.cpp)

    struct ElementEntry {
        int32_t start = 0;          // offset of the start tag's '<' in UTF-16 units
        int32_t length = 0;         // to the end of the end tag (or of the empty-element tag)
        uint32_t tagLengths = 0;    // start-tag length (22 bits) | end-tag length (10 bits) << 22
        uint32_t flagsDepth = 0;    // flags (upper 16 bits) | depth (lower 16 bits)
        int32_t parent = 0, firstChild = 0, nextSibling = 0, prevSibling = 0;
    };

    std::u16string m_text;
    std::vector<ElementEntry> m_elements;
    int32_t m_parent = 0, m_current = 0, m_child = 0;
    uint32_t m_flags = 0;
    std::string m_diagnostics;
    size_t m_diagnosticRecords = 0;

    void Clear();
    // Appends one diagnostic record; past a fixed number of records they are only counted,
    // except the verdicts passed with `always`.
    void Note(const std::string& record, bool always = false);
    void ConvertText(const uint8_t* data, size_t size);
    const ElementEntry* Entry(int32_t index) const;
    std::u16string_view TagName(int32_t index) const;
};
