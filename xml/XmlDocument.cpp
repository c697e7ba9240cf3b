// Loading rules of CXmlDocument.
//
// Encoding: a byte-order mark (UTF-8, UTF-16LE, UTF-16BE) decides first; otherwise the first
// 1024 bytes, read as UTF-8, are searched for an XML declaration or an HTML meta Content-Type;
// otherwise a file starting with '<' is UTF-8; otherwise the bytes are checked for UTF-8 and
// read with the system code page (UTF-8 here, invalid bytes become U+FFFD) when they fail.
// Zero bytes (zero units in UTF-16 files) are dropped before conversion.
//
// Parsing builds a flat index of elements (entry 0 is the document) with parent, child and
// sibling links; text is never copied. Ill-formed input (syntax errors, lone end tags,
// elements never ended, no root or a second root) still leaves a usable index, but
// IsWellFormed() and the load calls report false. Hostile input is bounded: files above
// 64 MiB are refused, nesting deeper than 65535 and tags longer than their packed fields
// mark the document as bad data, and nothing recurses on document depth.
#include "xml/XmlDocument.h"

#include "xml/XmlCharsets.h"
#include "xml/XmlEntities.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <optional>
#include <unordered_map>

namespace {

constexpr uint32_t kFlagFirstChild = 0x80000;
constexpr uint32_t kFlagUnended = 0x100000;
constexpr uint32_t kFlagBadData = 0x200000;
constexpr uint32_t kFlagIllFormed = 0x800000;
constexpr uint32_t kDepthMask = 0xFFFF;
constexpr uint32_t kStartTagMask = (1u << 22) - 1;
constexpr uint32_t kMaxEndTagLength = (1u << 10) - 1;
constexpr size_t kMaxDepth = 0xFFFF;
constexpr size_t kMaxFileSize = size_t{64} << 20;
constexpr size_t kDetectionBytes = 1024;
constexpr size_t kMaxDiagnosticRecords = 64;
constexpr char16_t kReplacement = 0xFFFD;
constexpr size_t npos = std::u16string_view::npos;

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool IsQuote(char16_t c) { return c == u'"' || c == u'\''; }
bool IsNameEnd(char16_t c) {
    return IsSpace(c) || c == u'=' || c == u'>' || c == u'/' || c == u'?';
}
bool IsNameStart(char16_t c) {
    return (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' || c >= u'a';
}
size_t NameEnd(std::u16string_view text, size_t pos) {
    while (pos < text.size() && !IsNameEnd(text[pos]))
        ++pos;
    return pos;
}
size_t SkipSpaces(std::u16string_view text, size_t pos) {
    while (pos < text.size() && IsSpace(text[pos]))
        ++pos;
    return pos;
}
char16_t LowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}
bool EqualsCaseless(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}
std::string ToAscii(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char16_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

void AppendCodePoint(std::u16string& out, uint32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// Strict UTF-8 decoding; each byte that does not start a valid sequence becomes U+FFFD.
std::u16string DecodeUtf8(const uint8_t* data, size_t size) {
    std::u16string out(size, u'\0');
    char16_t* o = out.data();
    size_t i = 0;
    while (i < size) {
        uint8_t b = data[i];
        if (b < 0x80) {
            *o++ = b;
            ++i;
            continue;
        }
        size_t length;
        uint32_t cp, minimum;
        if ((b & 0xE0) == 0xC0) {
            length = 2, cp = b & 0x1F, minimum = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3, cp = b & 0x0F, minimum = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4, cp = b & 0x07, minimum = 0x10000;
        } else {
            *o++ = kReplacement;
            ++i;
            continue;
        }
        bool valid = i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            uint8_t c = data[i + k];
            valid = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!valid || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            *o++ = kReplacement;
            ++i;
            continue;
        }
        // A sequence of 2 to 4 bytes gives 1 or 2 units, so the output never outgrows the input.
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *o++ = static_cast<char16_t>(cp);
        }
        i += length;
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

// The loader's UTF-8 test: stops at the first zero byte; accepts 10xxxxxx and 110xxxxx leads
// with one continuation byte, 1110xxxx with two, 11110xxx with three; a continuation byte must
// have its top bit set.
bool LooksLikeUtf8(const uint8_t* data, size_t size) {
    size_t i = 0;
    while (i < size && data[i] != 0) {
        uint8_t b = data[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t continuation;
        if ((b & 0xC0) == 0x80 || (b & 0xE0) == 0xC0)
            continuation = 1;
        else if ((b & 0xF0) == 0xE0)
            continuation = 2;
        else if ((b & 0xF8) == 0xF0)
            continuation = 3;
        else
            return false;
        for (size_t k = 1; k <= continuation; ++k) {
            if (i + k >= size || (data[i + k] & 0x80) == 0)
                return false;
        }
        i += 1 + continuation;
    }
    return true;
}

// Converts with iconv into UTF-16; bytes the converter rejects become U+FFFD.
bool ConvertWithIconv(const char* charset, const uint8_t* data, size_t size, std::u16string& out) {
    iconv_t cd = iconv_open("UTF-16LE", charset);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    out.reserve(size);
    char buffer[4096];
    auto drain = [&](const char* end) {
        for (const char* p = buffer; p + 1 < end; p += 2)
            out.push_back(static_cast<char16_t>(static_cast<uint8_t>(p[0]) |
                                                (static_cast<uint8_t>(p[1]) << 8)));
    };
    char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
    size_t inLeft = size;
    while (inLeft > 0) {
        char* o = buffer;
        size_t oLeft = sizeof buffer;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        int error = errno;
        drain(o);
        if (r != static_cast<size_t>(-1) || error == E2BIG)
            continue;
        if (error != EILSEQ && error != EINVAL)
            break;
        out.push_back(kReplacement);
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    drain(o);
    iconv_close(cd);
    return true;
}

// Scans a start tag from the end of its name. Quotes count only for a value after '=', so a
// quoted '>' does not end the tag. The tag is an empty-element tag when "/>" follows the name,
// white space or a quote. Returns the offset after the tag, or npos when the text ends first.
size_t ScanStartTag(std::u16string_view text, size_t pos, bool& empty) {
    bool slashMayClose = true;
    while (pos < text.size()) {
        char16_t c = text[pos];
        if (c == u'>') {
            empty = false;
            return pos + 1;
        }
        if (c == u'/' && slashMayClose && pos + 1 < text.size() && text[pos + 1] == u'>') {
            empty = true;
            return pos + 2;
        }
        if (c == u'=') {
            pos = SkipSpaces(text, pos + 1);
            if (pos >= text.size())
                return npos;
            if (IsQuote(text[pos])) {
                size_t close = text.find(text[pos], pos + 1);
                if (close == npos)
                    return npos;
                pos = close + 1;
                slashMayClose = true;
            } else {
                while (pos < text.size() && !IsSpace(text[pos]) && text[pos] != u'>')
                    ++pos;
                slashMayClose = false;
            }
            continue;
        }
        slashMayClose = IsSpace(c) || IsQuote(c);
        ++pos;
    }
    return npos;
}

// Raw (still escaped) value of an attribute of a tag; `pos` is the offset after the tag name.
// Attribute names end at white space, '=', '>', '/' or '?'; '/', '>' or '?' in name position
// end the scan. A quoted value runs to the matching quote, an unquoted one to white space or '>'.
std::optional<std::u16string_view> FindRawAttribute(std::u16string_view tag, size_t pos,
                                                    std::u16string_view name, bool caseless) {
    while (true) {
        pos = SkipSpaces(tag, pos);
        if (pos >= tag.size())
            return std::nullopt;
        char16_t c = tag[pos];
        if (c == u'/' || c == u'>' || c == u'?')
            return std::nullopt;
        size_t nameBegin = pos;
        pos = NameEnd(tag, pos);
        std::u16string_view attribute = tag.substr(nameBegin, pos - nameBegin);
        std::u16string_view value;
        size_t next = SkipSpaces(tag, pos);
        if (next < tag.size() && tag[next] == u'=') {
            next = SkipSpaces(tag, next + 1);
            if (next < tag.size() && IsQuote(tag[next])) {
                size_t close = tag.find(tag[next], next + 1);
                if (close == npos)
                    close = tag.size();
                value = tag.substr(next + 1, close - next - 1);
                pos = close < tag.size() ? close + 1 : close;
            } else {
                size_t end = next;
                while (end < tag.size() && !IsSpace(tag[end]) && tag[end] != u'>')
                    ++end;
                value = tag.substr(next, end - next);
                pos = end;
            }
        }
        if (caseless ? EqualsCaseless(attribute, name) : attribute == name)
            return value;
    }
}

// Code point of a reference body (the text between '&' and ';'), 0 when it is none.
uint32_t ReferenceCodePoint(std::u16string_view body) {
    if (body.empty())
        return 0;
    if (body[0] != u'#')
        return xmlentities::CodePointForName(body);
    uint32_t base = 10;
    std::u16string_view digits = body.substr(1);
    if (!digits.empty() && digits[0] == u'x') {
        base = 16;
        digits = digits.substr(1);
    }
    if (digits.empty())
        return 0;
    uint64_t value = 0;
    for (char16_t c : digits) {
        uint32_t digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return 0;
        value = value * base + digit;
    }
    // A surrogate or a value past U+10FFFF has no UTF-16 form; such a reference stays as text.
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return static_cast<uint32_t>(value);
}

// Decodes character references: "&" plus up to 9 characters plus ";". Anything that does not
// form a known reference stays as written.
std::u16string Unescape(std::u16string_view raw) {
    std::u16string out;
    out.reserve(raw.size());
    size_t i = 0;
    while (i < raw.size()) {
        if (raw[i] != u'&') {
            out.push_back(raw[i++]);
            continue;
        }
        size_t semicolon = npos;
        for (size_t j = i + 1; j < raw.size() && j <= i + 10; ++j) {
            if (raw[j] == u';') {
                semicolon = j;
                break;
            }
            if (raw[j] >= 0x80)
                break;
        }
        uint32_t cp = semicolon == npos ? 0 : ReferenceCodePoint(raw.substr(i + 1, semicolon - i - 1));
        if (cp == 0) {
            out.push_back(raw[i++]);
            continue;
        }
        AppendCodePoint(out, cp);
        i = semicolon + 1;
    }
    return out;
}

// Encoding named at the start of a file without a byte-order mark: the encoding attribute of
// an <?xml ...?> declaration (possibly empty), or the charset of an HTML
// <meta http-equiv="Content-Type" content="...; charset=..."> before </head>. Any start tag
// other than <html> before those ends the search.
std::optional<std::string> DeclaredEncoding(std::u16string_view head) {
    bool html = false;
    size_t pos = 0;
    while (true) {
        size_t lt = head.find(u'<', pos);
        if (lt == npos || lt + 1 >= head.size())
            return std::nullopt;
        char16_t c = head[lt + 1];
        if (c == u'?') {
            size_t nameEnd = NameEnd(head, lt + 2);
            size_t close = head.find(u"?>", lt + 2);
            if (head.substr(lt + 2, nameEnd - lt - 2) == u"xml") {
                std::u16string_view tag = head.substr(lt, close == npos ? npos : close - lt);
                return ToAscii(FindRawAttribute(tag, nameEnd - lt, u"encoding", false).value_or(u""));
            }
            if (close == npos)
                return std::nullopt;
            pos = close + 2;
        } else if (c == u'!') {
            bool comment = head.substr(lt + 2, 2) == u"--";
            size_t close = comment ? head.find(u"-->", lt + 4) : head.find(u'>', lt + 2);
            if (close == npos)
                return std::nullopt;
            pos = close + (comment ? 3 : 1);
        } else if (c == u'/') {
            size_t nameEnd = NameEnd(head, lt + 2);
            if (EqualsCaseless(head.substr(lt + 2, nameEnd - lt - 2), u"head"))
                return std::nullopt;
            pos = lt + 2;
        } else if (IsNameStart(c)) {
            size_t nameEnd = NameEnd(head, lt + 1);
            std::u16string_view name = head.substr(lt + 1, nameEnd - lt - 1);
            bool empty = false;
            size_t tagEnd = ScanStartTag(head, nameEnd, empty);
            std::u16string_view tag = head.substr(lt, tagEnd == npos ? npos : tagEnd - lt);
            if (EqualsCaseless(name, u"html")) {
                html = true;
            } else if (!html) {
                return std::nullopt;
            } else if (EqualsCaseless(name, u"meta")) {
                auto equiv = FindRawAttribute(tag, nameEnd - lt, u"http-equiv", true);
                auto content = FindRawAttribute(tag, nameEnd - lt, u"content", true);
                if (equiv && content && EqualsCaseless(*equiv, u"Content-Type")) {
                    for (size_t i = 0; i + 8 <= content->size(); ++i) {
                        if (!EqualsCaseless(content->substr(i, 8), u"charset="))
                            continue;
                        size_t begin = i + 8, end = begin;
                        while (end < content->size() && (*content)[end] != u';' &&
                               !IsSpace((*content)[end]) && !IsQuote((*content)[end]))
                            ++end;
                        return ToAscii(content->substr(begin, end - begin));
                    }
                }
            }
            if (tagEnd == npos)
                return std::nullopt;
            pos = tagEnd;
        } else {
            pos = lt + 1;
        }
    }
}

}  // namespace

// Builds the element index from the document text in one left-to-right pass.
struct CXmlDocument::Parser {
    explicit Parser(CXmlDocument& doc) : m_doc(doc), m_text(doc.m_text), m_elements(doc.m_elements) {}

    void Run();

private:
    CXmlDocument& m_doc;
    std::u16string_view m_text;
    std::vector<ElementEntry>& m_elements;
    // Open elements, innermost last, and for each open tag name its positions in m_open.
    std::vector<int32_t> m_open;
    std::unordered_map<std::u16string_view, std::vector<size_t>> m_openByName;
    bool m_illFormed = false;
    bool m_stop = false;

    size_t StartTag(size_t lt);
    size_t EndTag(size_t lt);
    size_t MarkupDeclaration(size_t lt);
    size_t SkipPast(size_t from, std::u16string_view terminator, const char* kind);
    size_t Unterminated(const char* kind, size_t lt);
    size_t SyntaxError(const char* what, size_t lt);
    void Record(const char* what, size_t at);
    void MarkBadData(ElementEntry& entry, const char* what);
    int32_t Append(int32_t parent);
    void CloseUnended(size_t from);
    std::u16string_view NameOf(int32_t index) const;
};

void CXmlDocument::Parser::Run() {
    m_elements.clear();
    m_elements.reserve(m_text.size() / 64 + 8);
    ElementEntry document;
    document.length = static_cast<int32_t>(m_text.size());
    m_elements.push_back(document);

    size_t pos = 0;
    while (!m_stop && pos < m_text.size()) {
        size_t lt = m_text.find(u'<', pos);
        if (lt == npos)
            break;
        if (lt + 1 >= m_text.size()) {
            Unterminated("tag", lt);
            break;
        }
        char16_t c = m_text[lt + 1];
        if (c == u'/')
            pos = EndTag(lt);
        else if (c == u'?')
            pos = SkipPast(lt + 2, u"?>", "processing_instruction");
        else if (c == u'!')
            pos = MarkupDeclaration(lt);
        else if (IsNameStart(c))
            pos = StartTag(lt);
        else
            pos = SyntaxError("first_tag_syntax", lt);
    }
    CloseUnended(0);

    // Depths follow the final links: lifting children out of unended elements changes them.
    // A parent always precedes its children in the index.
    for (size_t i = 1; i < m_elements.size(); ++i) {
        ElementEntry& entry = m_elements[i];
        uint32_t depth = (m_elements[entry.parent].flagsDepth & kDepthMask) + 1;
        entry.flagsDepth = (entry.flagsDepth & ~kDepthMask) | depth;
    }
    if (m_illFormed)
        m_elements[0].flagsDepth |= kFlagIllFormed;
    int32_t root = m_elements[0].firstChild;
    if (root == 0)
        m_doc.Note("no_root_element", true);
    else if (m_elements[root].nextSibling != 0)
        m_doc.Note("root_has_sibling", true);
}

void CXmlDocument::Parser::Record(const char* what, size_t at) {
    if (m_doc.m_diagnosticRecords >= kMaxDiagnosticRecords)
        ++m_doc.m_diagnosticRecords;  // past the cap the record is only counted
    else
        m_doc.Note(std::string(what) + " at " + std::to_string(at));
}

size_t CXmlDocument::Parser::Unterminated(const char* kind, size_t lt) {
    m_doc.Note(std::string("unterminated_tag_syntax ") + kind + " at " + std::to_string(lt));
    m_illFormed = true;
    m_stop = true;
    return m_text.size();
}

size_t CXmlDocument::Parser::SyntaxError(const char* what, size_t lt) {
    Record(what, lt);
    m_illFormed = true;
    return lt + 1;
}

void CXmlDocument::Parser::MarkBadData(ElementEntry& entry, const char* what) {
    entry.flagsDepth |= kFlagBadData;
    Record(what, static_cast<size_t>(entry.start));
    m_illFormed = true;
}

size_t CXmlDocument::Parser::SkipPast(size_t from, std::u16string_view terminator, const char* kind) {
    size_t end = m_text.find(terminator, from);
    if (end == npos)
        return Unterminated(kind, from);
    return end + terminator.size();
}

// "<!" starts a comment, a CDATA section or a document type declaration.
size_t CXmlDocument::Parser::MarkupDeclaration(size_t lt) {
    struct Kind {
        std::u16string_view keyword;
        std::u16string_view terminator;
        const char* name;
        const char* syntaxError;
    };
    static constexpr Kind kKinds[] = {
        {u"--", u"-->", "comment", "comment_tag_syntax"},
        {u"[CDATA[", u"]]>", "cdata_section", "cdata_section_syntax"},
        {u"DOCTYPE", u">", "document_type", "doctype_tag_syntax"},
    };
    size_t p = lt + 2;
    if (p >= m_text.size())
        return Unterminated("tag", lt);
    for (const Kind& kind : kKinds) {
        if (m_text[p] != kind.keyword[0])
            continue;
        std::u16string_view rest = m_text.substr(p, kind.keyword.size());
        if (rest != kind.keyword) {
            if (kind.keyword.starts_with(rest))
                return Unterminated(kind.name, lt);
            return SyntaxError(kind.syntaxError, lt);
        }
        p += kind.keyword.size();
        if (kind.terminator != u">")
            return SkipPast(p, kind.terminator, kind.name);
        // A document type declaration ends at the first '>' outside its internal subset
        // and outside quoted literals.
        bool inSubset = false;
        for (; p < m_text.size(); ++p) {
            char16_t c = m_text[p];
            if (IsQuote(c)) {
                size_t close = m_text.find(c, p + 1);
                if (close == npos)
                    break;
                p = close;
            } else if (c == u'[') {
                inSubset = true;
            } else if (c == u']') {
                inSubset = false;
            } else if (c == u'>' && !inSubset) {
                return p + 1;
            }
        }
        return Unterminated(kind.name, lt);
    }
    return SyntaxError("exclamation_tag_syntax", lt);
}

int32_t CXmlDocument::Parser::Append(int32_t parent) {
    if (m_elements.size() == m_elements.capacity())
        m_elements.reserve(m_elements.capacity() + m_elements.capacity() / 2);
    int32_t index = static_cast<int32_t>(m_elements.size());
    m_elements.emplace_back();
    ElementEntry& child = m_elements.back();
    child.parent = parent;
    ElementEntry& owner = m_elements[parent];
    if (owner.firstChild == 0) {
        owner.firstChild = index;
        child.prevSibling = index;
        child.flagsDepth |= kFlagFirstChild;
    } else {
        ElementEntry& first = m_elements[owner.firstChild];
        int32_t last = first.prevSibling;
        m_elements[last].nextSibling = index;
        child.prevSibling = last;
        first.prevSibling = index;
    }
    return index;
}

size_t CXmlDocument::Parser::StartTag(size_t lt) {
    size_t nameEnd = NameEnd(m_text, lt + 1);
    bool empty = false;
    size_t end = ScanStartTag(m_text, nameEnd, empty);
    if (end == npos)
        return Unterminated("start_tag", lt);
    if (m_open.size() >= kMaxDepth) {
        m_doc.Note("depth_limit at " + std::to_string(lt), true);
        m_illFormed = true;
        m_stop = true;
        return m_text.size();
    }
    int32_t index = Append(m_open.empty() ? 0 : m_open.back());
    ElementEntry& entry = m_elements[index];
    entry.start = static_cast<int32_t>(lt);
    entry.length = static_cast<int32_t>(end - lt);
    uint32_t tagLength = static_cast<uint32_t>(end - lt);
    if (tagLength > kStartTagMask) {
        tagLength = kStartTagMask;
        MarkBadData(entry, "start_tag_too_long");
    }
    entry.tagLengths = tagLength;
    if (!empty) {
        m_openByName[m_text.substr(lt + 1, nameEnd - lt - 1)].push_back(m_open.size());
        m_open.push_back(index);
    }
    return end;
}

size_t CXmlDocument::Parser::EndTag(size_t lt) {
    size_t nameEnd = NameEnd(m_text, lt + 2);
    size_t gt = m_text.find(u'>', nameEnd);
    if (gt == npos)
        return Unterminated("end_tag", lt);
    auto found = m_openByName.find(m_text.substr(lt + 2, nameEnd - lt - 2));
    if (found == m_openByName.end() || found->second.empty()) {
        SyntaxError("lone_end_tag", lt);
        return gt + 1;
    }
    size_t position = found->second.back();
    CloseUnended(position + 1);
    found->second.pop_back();
    int32_t index = m_open[position];
    m_open.pop_back();
    ElementEntry& entry = m_elements[index];
    entry.length = static_cast<int32_t>(gt + 1 - entry.start);
    uint32_t endLength = static_cast<uint32_t>(gt + 1 - lt);
    if (endLength > kMaxEndTagLength) {
        endLength = kMaxEndTagLength;
        MarkBadData(entry, "end_tag_too_long");
    }
    entry.tagLengths = (entry.tagLengths & kStartTagMask) | (endLength << 22);
    return gt + 1;
}

// Closes m_open[from..] as never ended. Their children move up to the level of the element
// that stays open (or the document): each unended element is the last child of the one before
// it, so appending the child lists in stack order keeps document order, and every child moves
// at most once because its new parent is closed for good.
void CXmlDocument::Parser::CloseUnended(size_t from) {
    if (from >= m_open.size())
        return;
    int32_t keeper = from == 0 ? 0 : m_open[from - 1];
    for (size_t k = from; k < m_open.size(); ++k) {
        ElementEntry& unended = m_elements[m_open[k]];
        unended.flagsDepth |= kFlagUnended;
        Record("unended_start_tag", static_cast<size_t>(unended.start));
        int32_t first = unended.firstChild;
        if (first == 0)
            continue;
        unended.firstChild = 0;
        int32_t last = m_elements[first].prevSibling;
        for (int32_t child = first; child != 0; child = m_elements[child].nextSibling)
            m_elements[child].parent = keeper;
        m_elements[first].flagsDepth &= ~kFlagFirstChild;
        ElementEntry& keeperFirst = m_elements[m_elements[keeper].firstChild];
        m_elements[keeperFirst.prevSibling].nextSibling = first;
        m_elements[first].prevSibling = keeperFirst.prevSibling;
        keeperFirst.prevSibling = last;
    }
    for (size_t k = m_open.size(); k-- > from;)
        m_openByName[NameOf(m_open[k])].pop_back();
    m_open.resize(from);
    m_illFormed = true;
}

std::u16string_view CXmlDocument::Parser::NameOf(int32_t index) const {
    size_t begin = static_cast<size_t>(m_elements[index].start) + 1;
    return m_text.substr(begin, NameEnd(m_text, begin) - begin);
}

CXmlDocument::CXmlDocument() = default;

void CXmlDocument::Clear() {
    m_text.clear();
    m_elements.clear();
    m_parent = m_current = m_child = 0;
    m_flags = 0;
    m_diagnostics.clear();
    m_diagnosticRecords = 0;
}

void CXmlDocument::Note(const std::string& record, bool always) {
    if (always) {
        m_diagnostics += record;
        m_diagnostics += '\n';
        return;
    }
    ++m_diagnosticRecords;
    if (m_diagnosticRecords < kMaxDiagnosticRecords) {
        m_diagnostics += record;
        m_diagnostics += '\n';
    } else if (m_diagnosticRecords == kMaxDiagnosticRecords) {
        m_diagnostics += "more_records\n";
    }
}

bool CXmlDocument::LoadFile(const std::string& path) {
    Clear();
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        Note("file_error " + path);
        return false;
    }
    // Regular files are measured first; the read loop below bounds everything else.
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long size = std::ftell(file);
        if (size > static_cast<long>(kMaxFileSize)) {
            std::fclose(file);
            Note("file_too_large " + path);
            return false;
        }
        std::rewind(file);
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    bool failed = false, tooLarge = false;
    while (true) {
        size_t got = std::fread(chunk, 1, sizeof chunk, file);
        if (bytes.size() + got > kMaxFileSize) {
            tooLarge = true;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < sizeof chunk) {
            failed = std::ferror(file) != 0;
            break;
        }
    }
    std::fclose(file);
    if (failed || tooLarge) {
        Note(tooLarge ? "file_too_large " + path : "file_error " + path);
        return false;
    }
    return LoadBuffer(bytes.data(), bytes.size());
}

bool CXmlDocument::LoadBuffer(const uint8_t* data, size_t size) {
    Clear();
    if (size > kMaxFileSize) {
        Note("file_too_large");
        return false;
    }
    m_flags |= kReading;
    ConvertText(size == 0 ? nullptr : data, data == nullptr ? 0 : size);
    Parser(*this).Run();
    m_flags &= ~kReading;
    return IsWellFormed();
}

void CXmlDocument::ConvertText(const uint8_t* data, size_t size) {
    std::optional<std::string> encoding;
    size_t skip = 0;
    bool wide = false;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        encoding = "UTF-8", skip = 3;
        m_flags |= kUtf8Bom;
    } else if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        encoding = "UTF-16LE", skip = 2, wide = true;
        m_flags |= kUtf16LeFile;
    } else if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        encoding = "UTF-16BE", skip = 2, wide = true;
        m_flags |= kUtf16BeFile;
    }
    if (skip) {
        Note("bom " + *encoding);
    } else {
        encoding = DeclaredEncoding(DecodeUtf8(data, std::min(size, kDetectionBytes)));
        if (encoding)
            Note("declared_encoding " + *encoding);
        else if (size > 0 && data[0] == '<')
            encoding = "UTF-8";
    }

    const uint8_t* body = data + skip;
    size_t length = size - skip;
    if (length == 0) {
        Note("read empty");
        return;
    }

    if (wide) {
        bool swap = (m_flags & kUtf16BeFile) != 0;
        size_t nulls = 0;
        m_text.reserve(length / 2);
        for (size_t i = 0; i + 1 < length; i += 2) {
            char16_t unit = swap ? static_cast<char16_t>((body[i] << 8) | body[i + 1])
                                 : static_cast<char16_t>(body[i] | (body[i + 1] << 8));
            if (unit == 0)
                ++nulls;
            else
                m_text.push_back(unit);
        }
        if (swap)
            Note("endian_swap");
        if (nulls)
            Note("nulls_removed " + std::to_string(nulls));
        if (length % 2)
            Note("odd_byte_dropped");
        return;
    }

    if (!encoding) {
        Note("utf8_detection");
        if (LooksLikeUtf8(body, length))
            encoding = "UTF-8";
    }
    std::vector<uint8_t> withoutNulls;
    for (size_t i = 0; i < length; ++i) {
        if (body[i] != 0)
            continue;
        withoutNulls.reserve(length);
        for (size_t k = 0; k < length; ++k) {
            if (body[k] != 0)
                withoutNulls.push_back(body[k]);
        }
        Note("nulls_removed " + std::to_string(length - withoutNulls.size()));
        body = withoutNulls.data();
        length = withoutNulls.size();
        break;
    }

    int codePage = xmlcharsets::CodePageForName(encoding.value_or(""));
    if (codePage == xmlcharsets::kUtf16Le || codePage == xmlcharsets::kUtf16Be ||
        codePage == xmlcharsets::kUtf32Le || codePage == xmlcharsets::kUtf32Be) {
        // The declaration was readable as single bytes, so the file is not in a wide encoding.
        Note("wide_encoding_declared_in_byte_file");
        codePage = xmlcharsets::kUtf8;
    }
    const char* charset = xmlcharsets::IconvNameForCodePage(codePage);
    if (codePage != xmlcharsets::kAnsiCodePage && codePage != xmlcharsets::kUtf8 && charset &&
        ConvertWithIconv(charset, body, length, m_text)) {
        Note(std::string("converted_to UTF-16 from ") + charset);
        return;
    }
    if (codePage != xmlcharsets::kAnsiCodePage && codePage != xmlcharsets::kUtf8)
        Note("no_converter " + std::to_string(codePage));
    m_text = DecodeUtf8(body, length);
    Note("converted_to UTF-16 from UTF-8");
}

const CXmlDocument::ElementEntry* CXmlDocument::Entry(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= m_elements.size())
        return nullptr;
    return &m_elements[index];
}

std::u16string_view CXmlDocument::TagName(int32_t index) const {
    std::u16string_view text(m_text);
    size_t begin = static_cast<size_t>(m_elements[index].start) + 1;
    return text.substr(begin, NameEnd(text, begin) - begin);
}

void CXmlDocument::ResetCurrent() {
    m_current = 0;
    m_child = 0;
}

bool CXmlDocument::FindNextChild(const std::u16string& name) {
    const ElementEntry* parent = Entry(m_parent);
    if (!parent)
        return false;
    int32_t current = m_current != 0 ? m_current : parent->firstChild;
    if (current == 0)
        return false;
    int32_t candidate = (m_current != 0 && m_child != 0) ? m_elements[m_child].nextSibling
                                                        : m_elements[current].firstChild;
    for (; candidate != 0; candidate = m_elements[candidate].nextSibling) {
        if (TagName(candidate) == name) {
            m_current = current;
            m_child = candidate;
            return true;
        }
    }
    return false;
}

bool CXmlDocument::EnterElement() {
    if (m_current == 0)
        return false;
    m_parent = m_current;
    m_current = m_child;
    m_child = 0;
    return true;
}

bool CXmlDocument::LeaveElement() {
    const ElementEntry* parent = Entry(m_parent);
    if (!parent || m_parent == 0)
        return false;
    m_child = m_current;
    m_current = m_parent;
    m_parent = parent->parent;
    return true;
}

std::u16string CXmlDocument::GetAttribute(const std::u16string& name) const {
    const ElementEntry* entry = m_current != 0 ? Entry(m_current) : nullptr;
    if (!entry)
        return {};
    std::u16string_view tag =
        std::u16string_view(m_text).substr(entry->start, entry->tagLengths & kStartTagMask);
    auto raw = FindRawAttribute(tag, NameEnd(tag, 1), name, false);
    return raw ? Unescape(*raw) : std::u16string();
}

bool CXmlDocument::IsWellFormed() const {
    if (m_elements.empty() || (m_elements[0].flagsDepth & kFlagIllFormed))
        return false;
    int32_t root = m_elements[0].firstChild;
    return root != 0 && m_elements[root].nextSibling == 0;
}
