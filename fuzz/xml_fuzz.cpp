// Loads arbitrary bytes as an XML document and walks it with the calls the profile loader
// uses, looking for element and attribute names taken from the input itself.
#include "xml/XmlDocument.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxNames = 12;
constexpr int kMaxDepth = 24;
constexpr int kMaxSteps = 3000;

// A few tag names as they appear after '<' in the converted text, plus fixed ones.
std::vector<std::u16string> NamesFrom(const std::u16string& text) {
    std::vector<std::u16string> names = {u"Profile", u"value", u"a"};
    for (size_t i = 0; i + 1 < text.size() && names.size() < kMaxNames; ++i) {
        if (text[i] != u'<' && text[i] != u' ')
            continue;
        size_t end = i + 1;
        while (end < text.size() && end - i < 32 && text[end] != u' ' && text[end] != u'>' &&
               text[end] != u'/' && text[end] != u'=' && text[end] != u'<')
            ++end;
        if (end > i + 1)
            names.push_back(text.substr(i + 1, end - i - 1));
    }
    return names;
}

void Walk(CXmlDocument& doc, const std::vector<std::u16string>& names, int depth, int& steps) {
    for (const std::u16string& name : names) {
        while (steps++ < kMaxSteps && doc.FindNextChild(name)) {
            if (!doc.EnterElement())
                std::abort();  // a found child can always be entered
            for (const std::u16string& attribute : names)
                doc.GetAttribute(attribute);
            if (depth < kMaxDepth)
                Walk(doc, names, depth + 1, steps);
            if (!doc.LeaveElement())
                std::abort();  // the element entered above is never the document
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CXmlDocument doc;
    bool wellFormed = doc.LoadBuffer(data, size);
    if (wellFormed != doc.IsWellFormed())
        std::abort();
    std::vector<std::u16string> names = NamesFrom(doc.Text());
    int steps = 0;
    doc.ResetCurrent();
    Walk(doc, names, 0, steps);
    // At the document level again: nothing left to leave.
    if (doc.LeaveElement())
        std::abort();
    doc.ResetCurrent();
    doc.GetAttribute(u"value");
    return 0;
}
