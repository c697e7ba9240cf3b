#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

bool Load(CXmlDocument& doc, std::string_view bytes) {
    return doc.LoadBuffer(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Utf8(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

// The attribute of the next child called `name` of the current element (the root in a freshly
// loaded document), read with the calling pattern of the profile loader.
std::u16string ChildValue(CXmlDocument& doc, const std::u16string& name,
                          const std::u16string& attribute = u"v") {
    if (!doc.FindNextChild(name) || !doc.EnterElement())
        return u"<not found>";
    std::u16string value = doc.GetAttribute(attribute);
    doc.LeaveElement();
    return value;
}

// The profile-file walk: every Profile's Name and Width values, in order.
std::u16string WalkProfiles(CXmlDocument& doc) {
    std::u16string out;
    doc.ResetCurrent();
    while (doc.FindNextChild(u"Profile")) {
        doc.EnterElement();
        out += u"[";
        if (doc.FindNextChild(u"Name")) {
            doc.EnterElement();
            out += doc.GetAttribute(u"value");
            doc.LeaveElement();
        }
        out += u"|";
        if (doc.FindNextChild(u"Width")) {
            doc.EnterElement();
            out += doc.GetAttribute(u"value");
            doc.LeaveElement();
        }
        out += u"]";
        doc.LeaveElement();
    }
    return out;
}

const std::u16string kProfiles =
    u"<?xml version=\"1.0\"?>\r\n<!-- output profiles -->\r\n<Format>\r\n"
    u"  <Profile><Name value=\"Caf\u00e9 &amp; \u4e2d\"/><Width value='640'/></Profile>\r\n"
    u"  <Profile><Name value=\"Second\"/></Profile>\r\n</Format>\r\n";

TEST(XmlDocumentEncoding, MarksAndPlainUtf8GiveTheSameDocument) {
    struct Case {
        const char* what;
        std::string bytes;
        uint32_t flags;
    };
    const Case cases[] = {
        {"UTF-8", Utf8(kProfiles), 0},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + Utf8(kProfiles), CXmlDocument::kUtf8Bom},
        {"UTF-16LE", Utf16(kProfiles, false), CXmlDocument::kUtf16LeFile},
        {"UTF-16BE", Utf16(kProfiles, true), CXmlDocument::kUtf16BeFile},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        EXPECT_TRUE(Load(doc, c.bytes)) << c.what << "\n" << doc.Diagnostics();
        EXPECT_EQ(doc.Flags(), c.flags) << c.what;
        EXPECT_EQ(doc.Text(), kProfiles) << c.what;
        EXPECT_EQ(WalkProfiles(doc), u"[Caf\u00e9 & \u4e2d|640][Second|]") << c.what;
    }
}

TEST(XmlDocumentEncoding, DeclaredEncodingsConvert) {
    struct Case {
        const char* encoding;
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"iso-8859-1", "caf\xE9", u"caf\u00e9"},
        {"ISO-8859-1", "\xE9", u"\u00e9"},
        {"latin1", "\xFF", u"\u00ff"},
        {"windows-1252", "\x80\x93", u"\u20ac\u201c"},
        {"iso-8859-2", "\xB1", u"\u0105"},
        {"iso-8859-15", "\xA4", u"\u20ac"},
        {"windows-1251", "\xE0", u"\u0430"},
        {"koi8-r", "\xC1", u"\u0430"},
        {"shift_jis", "\x82\xA0", u"\u3042"},
        {"euc-jp", "\xA4\xA2", u"\u3042"},
        {"gb2312", "\xD6\xD0", u"\u4e2d"},
        {"big5", "\xA4\x40", u"\u4e00"},
        {"euc-kr", "\xB0\xA1", u"\uac00"},
        {"cp437", "\x82", u"\u00e9"},
        {"macintosh", "\x8E", u"\u00e9"},
        {"iso-2022-jp", "\x1B$B$$\x1B(Bx", u"\u3044x"},
        {"utf-7", "+AOk-", u"\u00e9"},
        {"utf-8", "\xC3\xA9", u"\u00e9"},
        // Unknown names use the system code page, UTF-8 here.
        {"x-no-such-charset", "\xC3\xA9", u"\u00e9"},
        // Bytes the code page lacks are replaced, not dropped.
        {"us-ascii", "a\xE9z", u"a\ufffdz"},
        // A wide encoding named in a declaration that was readable as bytes is not believed.
        {"utf-16", "\xC3\xA9", u"\u00e9"},
    };
    for (const Case& c : cases) {
        std::string bytes = std::string("<?xml version=\"1.0\" encoding=\"") + c.encoding +
                            "\"?><Root><E v=\"" + c.bytes + "\"/></Root>";
        CXmlDocument doc;
        EXPECT_TRUE(Load(doc, bytes)) << c.encoding << "\n" << doc.Diagnostics();
        EXPECT_EQ(ChildValue(doc, u"E"), c.expected) << c.encoding << "\n" << doc.Diagnostics();
    }
}

TEST(XmlDocumentEncoding, DeclarationSearch) {
    struct Case {
        const char* what;
        const char* text;
        std::u16string expected;
    };
    const Case cases[] = {
        {"comment first",
         "<!-- c --><?xml version='1.0' encoding='iso-8859-1'?><Root><E v='\xE9'/></Root>",
         u"\u00e9"},
        {"other processing instruction first",
         "<?xml-stylesheet href='a'?><?xml encoding=\"iso-8859-1\"?><Root><E v='\xE9'/></Root>",
         u"\u00e9"},
        {"declaration without encoding", "<?xml version='1.0'?><Root><E v='\xE9'/></Root>",
         u"\ufffd"},
        {"declaration after the root", "<Root><E v='\xE9'/></Root><?xml encoding='iso-8859-1'?>",
         u"\ufffd"},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        Load(doc, c.text);
        EXPECT_EQ(ChildValue(doc, u"E"), c.expected) << c.what << "\n" << doc.Diagnostics();
    }
}

TEST(XmlDocumentEncoding, HtmlMetaCharset) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string expected;
    };
    const std::string meta =
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\"/>";
    const Case cases[] = {
        {"meta in head", "<html><head>" + meta + "</head><body><E v=\"\xE0\"/></body></html>",
         u"\u0430"},
        {"names in upper case", "<HTML><HEAD><META HTTP-EQUIV=\"content-type\" "
                                "CONTENT=\"text/html;charset=koi8-r\"/></HEAD><body><E v=\"\xC1\"/>"
                                "</body></HTML>",
         u"\u0430"},
        // After </head>, or in a document that does not start with <html>, a meta tag is
        // ordinary markup and the file is UTF-8.
        {"meta after head", "<html><head></head>" + meta + "<body><E v=\"\xE0\"/></body></html>",
         u"\ufffd"},
        {"not html", "<doc>" + meta + "<body><E v=\"\xE0\"/></body></doc>", u"\ufffd"},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        Load(doc, c.bytes);
        doc.ResetCurrent();
        ASSERT_TRUE(doc.FindNextChild(u"body")) << c.what;
        doc.EnterElement();
        EXPECT_EQ(ChildValue(doc, u"E"), c.expected) << c.what << "\n" << doc.Diagnostics();
    }
}

TEST(XmlDocumentEncoding, UndeclaredBytesUseUtf8AsTheSystemCodePage) {
    // No mark, no declaration, first byte not '<': Latin-1 letters are not valid UTF-8 and the
    // system code page (UTF-8 on this platform) replaces them; the same text in UTF-8 reads as is.
    CXmlDocument latin1;
    Load(latin1, " <Root><E v=\"caf\xE9\"/></Root>");
    EXPECT_EQ(ChildValue(latin1, u"E"), u"caf\ufffd");
    EXPECT_NE(latin1.Diagnostics().find("utf8_detection"), std::string::npos);

    CXmlDocument utf8;
    Load(utf8, " <Root><E v=\"caf\xC3\xA9\"/></Root>");
    EXPECT_EQ(ChildValue(utf8, u"E"), u"caf\u00e9");
}

TEST(XmlDocumentEncoding, ZeroBytesAndUnitsAreDropped) {
    CXmlDocument doc;
    EXPECT_TRUE(Load(doc, std::string("<Root>\0<E v=\"a\0b\"/></Root>", 26)));
    EXPECT_EQ(ChildValue(doc, u"E"), u"ab");
    EXPECT_NE(doc.Diagnostics().find("nulls_removed 2"), std::string::npos);

    // UTF-16LE text without a mark starts with '<', is read as bytes and loses its zero bytes.
    std::string wide = Utf16(u"<Root><E v=\"x\"/></Root>", false).substr(2);
    CXmlDocument unmarked;
    EXPECT_TRUE(Load(unmarked, wide));
    EXPECT_EQ(ChildValue(unmarked, u"E"), u"x");

    std::u16string withZero = u"<Root><E v=\"a";
    withZero.push_back(0);
    withZero += u"b\"/></Root>";
    CXmlDocument marked;
    EXPECT_TRUE(Load(marked, Utf16(withZero, true)));
    EXPECT_EQ(ChildValue(marked, u"E"), u"ab");
}

TEST(XmlDocumentAttributes, ReferencesAndLiteralAmpersands) {
    struct Case {
        const char* raw;
        std::u16string expected;
    };
    const Case cases[] = {
        {"x&amp;y", u"x&y"},
        {"&#65;&#x41;&#x0041;", u"AAA"},
        {"&AMP;&Amp;", u"&&"},
        {"&apos;&quot;&lt;&gt;", u"'\"<>"},
        {"&nbsp;&euro;&hellip;", u"\u00a0\u20ac\u2026"},
        {"&Agrave;&agrave;&Dagger;&dagger;", u"\u00c0\u00e0\u2021\u2020"},
        {"&#x1F600;&#128512;", u"\U0001F600\U0001F600"},
        {"&#x10FFFF;", u"\U0010FFFF"},
        // Not references: these stay as written.
        {"&unknown;", u"&unknown;"},
        {"a & b", u"a & b"},
        {"&amp", u"&amp"},
        {"&;", u"&;"},
        {"&#0;&#x0;", u"&#0;&#x0;"},
        {"&#;&#x;&#12a;&#xG;", u"&#;&#x;&#12a;&#xG;"},
        {"&#X41;", u"&#X41;"},
        {"&abcdefghij;", u"&abcdefghij;"},
        {"&#00000065;", u"A"},
        {"&#xD800;&#x110000;", u"&#xD800;&#x110000;"},
        {"&\xC3\xA9;", u"&\u00e9;"},
        {"&&amp;", u"&&"},
        {"&amp;amp;", u"&amp;"},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        ASSERT_TRUE(Load(doc, std::string("<Root><E v='") + c.raw + "'/></Root>")) << c.raw;
        EXPECT_EQ(ChildValue(doc, u"E"), c.expected) << c.raw;
    }
}

TEST(XmlDocumentAttributes, TokenisingTheStartTag) {
    struct Case {
        const char* element;
        const char16_t* attribute;
        std::u16string expected;
    };
    const Case cases[] = {
        {"<E v=\"1>2\" w='x>y'/>", u"w", u"x>y"},
        {"<E v=\"1>2\" w='x>y'/>", u"v", u"1>2"},
        {"<E a='1' v='2'/>", u"v", u"2"},
        {"<E\tv\n=\r'spaced'/>", u"v", u"spaced"},
        {"<E v=unquoted w='2'/>", u"v", u"unquoted"},
        {"<E v=\"it's\"/>", u"v", u"it's"},
        {"<E v='say \"hi\"'/>", u"v", u"say \"hi\""},
        {"<E flag v='1'/>", u"v", u"1"},
        {"<E vv='1' v='2'/>", u"v", u"2"},
        {"<E v=''/>", u"v", u""},
        {"<E v='1' v='2'/>", u"v", u"1"},
        // Missing attribute, different letter case, name only in a value or after the tag.
        {"<E w='1'/>", u"v", u""},
        {"<E V='1'/>", u"v", u""},
        {"<E w='v=1'/>", u"v", u""},
        {"<E/>", u"v", u""},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        EXPECT_TRUE(Load(doc, std::string("<Root>") + c.element + "<F v='after'/></Root>"))
            << c.element << "\n" << doc.Diagnostics();
        EXPECT_EQ(ChildValue(doc, u"E", c.attribute), c.expected) << c.element;
    }
}

TEST(XmlDocumentParsing, WellFormedDocuments) {
    const char* cases[] = {
        "<Root/>",
        "<Root></Root>",
        "\xEF\xBB\xBF<Root/>",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Root><A/><B></B></Root>\n",
        "<!-- before --><Root><!-- <A> inside --></Root><!-- after -->",
        "<!DOCTYPE Root [ <!ELEMENT Root ANY> <!ENTITY e \"a>b\"> ]><Root/>",
        "<!DOCTYPE Root SYSTEM \"x>y.dtd\"><Root/>",
        "<Root><![CDATA[ <A> </B> & ]]></Root>",
        "<Root><?pi <A> ?></Root>",
        "<Root>text &amp; more <A v=\"1\"/> text</Root>",
        "<Root><A v='1'/><A v='2'/></Root>",
        "<Root><A></A ></Root>",
        "<Root><\xC3\xA9l\xC3\xA9ment/></Root>",
        "<Root a='1'b='2'/>",
        "<Root\n/>",
    };
    for (const char* text : cases) {
        CXmlDocument doc;
        EXPECT_TRUE(Load(doc, text)) << text << "\n" << doc.Diagnostics();
        EXPECT_TRUE(doc.IsWellFormed()) << text;
    }
}

TEST(XmlDocumentParsing, IllFormedDocumentsAreRefused) {
    struct Case {
        const char* text;
        const char* record;
    };
    const Case cases[] = {
        {"", "no_root_element"},
        {"   \r\n", "no_root_element"},
        {"just text", "no_root_element"},
        {"<!-- only a comment -->", "no_root_element"},
        {"<A/><B/>", "root_has_sibling"},
        {"<A></A><B></B>", "root_has_sibling"},
        {"<Root><A></Root>", "unended_start_tag"},
        {"<Root>", "unended_start_tag"},
        {"<Root><A><B></A></Root>", "unended_start_tag"},
        {"<Root></B></Root>", "lone_end_tag"},
        {"<Root></root>", "lone_end_tag"},
        {"<Root/></Root>", "lone_end_tag"},
        {"<Root><1/></Root>", "first_tag_syntax"},
        {"<Root>< A/></Root>", "first_tag_syntax"},
        {"<Root><!x></Root>", "exclamation_tag_syntax"},
        {"<Root><!-x--></Root>", "comment_tag_syntax"},
        {"<Root><![CDAT[x]]></Root>", "cdata_section_syntax"},
        {"<Root><!DOCTYPX></Root>", "doctype_tag_syntax"},
        {"<Root><A", "unterminated_tag_syntax start_tag"},
        {"<Root><A v='1>", "unterminated_tag_syntax start_tag"},
        {"<Root><A v=", "unterminated_tag_syntax start_tag"},
        {"<Root></Root", "unterminated_tag_syntax end_tag"},
        {"<Root><?pi", "unterminated_tag_syntax processing_instruction"},
        {"<Root><!-- x -->", "unended_start_tag"},
        {"<Root><!-- x", "unterminated_tag_syntax comment"},
        {"<Root><!-", "unterminated_tag_syntax comment"},
        {"<Root><![CDATA[ x", "unterminated_tag_syntax cdata_section"},
        {"<Root><![CD", "unterminated_tag_syntax cdata_section"},
        {"<!DOCTYPE Root [ <!ENTITY e 'x'> ", "unterminated_tag_syntax document_type"},
        {"<Root><", "unterminated_tag_syntax tag"},
        {"<Root><!", "unterminated_tag_syntax tag"},
        // The '/' of an unquoted value belongs to the value: the element stays open.
        {"<Root><A value=x/></Root>", "unended_start_tag"},
        {"<Root><A b/></Root>", "unended_start_tag"},
        {"<Root><A/ ></Root>", "unended_start_tag"},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        EXPECT_FALSE(Load(doc, c.text)) << c.text;
        EXPECT_FALSE(doc.IsWellFormed()) << c.text;
        EXPECT_NE(doc.Diagnostics().find(c.record), std::string::npos)
            << c.text << "\n" << doc.Diagnostics();
    }
}

TEST(XmlDocumentParsing, UnquotedSlashKeepsTheElementOpenUntilItsParentEnds) {
    CXmlDocument doc;
    EXPECT_FALSE(Load(doc,
                      "<Format><Profile><Width value=640/><Height value=\"480\"/></Profile>"
                      "<Profile><Width value=\"720\"/></Profile></Format>"));
    // The unended Width ends at its start tag; Height, read inside it, is lifted to its level.
    doc.ResetCurrent();
    ASSERT_TRUE(doc.FindNextChild(u"Profile"));
    doc.EnterElement();
    EXPECT_EQ(ChildValue(doc, u"Width", u"value"), u"640/");
    EXPECT_EQ(ChildValue(doc, u"Height", u"value"), u"480");
    doc.LeaveElement();
    ASSERT_TRUE(doc.FindNextChild(u"Profile"));
    doc.EnterElement();
    EXPECT_EQ(ChildValue(doc, u"Width", u"value"), u"720");
}

TEST(XmlDocumentParsing, ChildrenOfUnendedElementsKeepDocumentOrder) {
    // B and C are never ended; their children move up under A in document order.
    CXmlDocument doc;
    EXPECT_FALSE(Load(doc, "<R><A><B><x v='1'/><C><y v='2'/></C2></A><z v='3'/></R>"));
    doc.ResetCurrent();
    ASSERT_TRUE(doc.FindNextChild(u"A"));
    doc.EnterElement();
    // Searched one after another, they are all found, in this order.
    for (const char16_t* name : {u"B", u"x", u"C", u"y"})
        EXPECT_TRUE(doc.FindNextChild(name)) << static_cast<char>(name[0]);
    doc.LeaveElement();
    EXPECT_TRUE(doc.FindNextChild(u"z"));
}

TEST(XmlDocumentCursor, NavigationRules) {
    CXmlDocument doc;
    ASSERT_TRUE(Load(doc, "<Root r='root'><B v='1'/><A v='2'/><C v='3'><D v='4'/></C></Root>"));
    doc.ResetCurrent();
    // Nothing is current yet: no attribute, nothing to enter, nothing to leave.
    EXPECT_EQ(doc.GetAttribute(u"r"), u"");
    EXPECT_FALSE(doc.EnterElement());
    EXPECT_FALSE(doc.LeaveElement());

    // The first search makes the root current whatever its name and searches its children.
    EXPECT_TRUE(doc.FindNextChild(u"A"));
    EXPECT_EQ(doc.GetAttribute(u"r"), u"root");
    // B stands before A: searching on finds nothing and leaves the cursor where it was.
    EXPECT_FALSE(doc.FindNextChild(u"B"));
    EXPECT_FALSE(doc.FindNextChild(u"a"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_EQ(doc.GetAttribute(u"v"), u"2");
    EXPECT_EQ(doc.GetAttribute(u"V"), u"");
    EXPECT_EQ(doc.GetAttribute(u"missing"), u"");

    // Leaving returns to the root with A as the child to continue after.
    EXPECT_TRUE(doc.LeaveElement());
    EXPECT_TRUE(doc.FindNextChild(u"C"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_EQ(doc.GetAttribute(u"v"), u"3");
    EXPECT_TRUE(doc.FindNextChild(u"D"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_EQ(doc.GetAttribute(u"v"), u"4");
    EXPECT_FALSE(doc.FindNextChild(u"D"));  // D has no children
    EXPECT_TRUE(doc.LeaveElement());
    EXPECT_FALSE(doc.FindNextChild(u"D"));  // only one D
    EXPECT_TRUE(doc.LeaveElement());
    EXPECT_EQ(doc.GetAttribute(u"r"), u"root");
    EXPECT_FALSE(doc.LeaveElement());  // the parent is the document

    // Reset keeps the parent and starts the search over.
    doc.ResetCurrent();
    EXPECT_TRUE(doc.FindNextChild(u"B"));
    EXPECT_TRUE(doc.FindNextChild(u"A"));
}

TEST(XmlDocumentCursor, EnteringWithoutAChildThenSearching) {
    CXmlDocument doc;
    ASSERT_TRUE(Load(doc, "<Root><P><Q v='q'/></P></Root>"));
    doc.ResetCurrent();
    ASSERT_TRUE(doc.FindNextChild(u"P"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_TRUE(doc.FindNextChild(u"Q"));
    // With nothing current inside the root, the first element under it (P) becomes current
    // again and the search runs over P's children.
    doc.ResetCurrent();
    EXPECT_EQ(doc.GetAttribute(u"v"), u"");
    EXPECT_TRUE(doc.FindNextChild(u"Q"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_EQ(doc.GetAttribute(u"v"), u"q");
}

TEST(XmlDocumentFile, LoadsFromDiskAndReportsMissingFiles) {
    CXmlDocument missing;
    EXPECT_FALSE(missing.LoadFile("/nonexistent/Format.xml"));
    EXPECT_TRUE(missing.Text().empty());
    EXPECT_NE(missing.Diagnostics().find("file_error"), std::string::npos);
    missing.ResetCurrent();
    EXPECT_FALSE(missing.FindNextChild(u"Profile"));
    EXPECT_FALSE(missing.EnterElement());
    EXPECT_FALSE(missing.LeaveElement());
    EXPECT_EQ(missing.GetAttribute(u"value"), u"");

    CXmlDocument directory;
    EXPECT_FALSE(directory.LoadFile("/"));

    std::string path = (std::filesystem::temp_directory_path() /
                        ("zdr_xml_" + std::to_string(getpid()) + ".xml"))
                           .string();
    std::string bytes = Utf16(kProfiles, false);
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    CXmlDocument doc;
    EXPECT_TRUE(doc.LoadFile(path));
    EXPECT_EQ(WalkProfiles(doc), u"[Caf\u00e9 & \u4e2d|640][Second|]");
    EXPECT_EQ(doc.Flags() & CXmlDocument::kReading, 0u);

    // A failed load replaces the previous document.
    EXPECT_FALSE(doc.LoadFile(path + ".missing"));
    EXPECT_TRUE(doc.Text().empty());

    // Files above 64 MiB are refused without being parsed.
    ASSERT_EQ(truncate(path.c_str(), (64 << 20) + 1), 0);
    EXPECT_FALSE(doc.LoadFile(path));
    EXPECT_NE(doc.Diagnostics().find("file_too_large"), std::string::npos);
    std::filesystem::remove(path);
}

TEST(XmlDocumentLimits, HostileShapesStayBoundedAndAreRefused) {
    struct Case {
        const char* what;
        std::string text;
        const char* record;
    };
    std::string deep;
    for (int i = 0; i < 70000; ++i)
        deep += "<a>";
    std::string deepUnclosed;
    for (int i = 0; i < 60000; ++i)
        deepUnclosed += "<a><b/>";
    std::string loneEnds = deepUnclosed;
    for (int i = 0; i < 60000; ++i)
        loneEnds += "</x>";
    std::string longName(1100, 'n');
    const Case cases[] = {
        {"nesting past 65535", deep, "depth_limit"},
        {"60000 elements never ended", deepUnclosed, "unended_start_tag"},
        {"lone end tags under deep nesting", loneEnds, "lone_end_tag"},
        {"start tag past 22 bits", "<Root><E v='" + std::string(1 << 22, 'x') + "'/></Root>",
         "start_tag_too_long"},
        {"end tag past 10 bits", "<" + longName + "></" + longName + ">", "end_tag_too_long"},
        {"many syntax errors", std::string(100000, '<') + "<Root/>", "more_records"},
    };
    for (const Case& c : cases) {
        CXmlDocument doc;
        EXPECT_FALSE(Load(doc, c.text)) << c.what;
        EXPECT_NE(doc.Diagnostics().find(c.record), std::string::npos) << c.what;
        EXPECT_LT(doc.Diagnostics().size(), 4096u) << c.what;
    }
}

TEST(XmlDocumentLimits, JustBelowTheLimitsLoads) {
    std::string deep, close;
    for (int i = 0; i < 65535; ++i) {
        deep += "<a>";
        close += "</a>";
    }
    CXmlDocument doc;
    EXPECT_TRUE(Load(doc, deep + close)) << doc.Diagnostics();

    std::string name(1020, 'n');
    EXPECT_TRUE(Load(doc, "<" + name + "></" + name + ">")) << doc.Diagnostics();
}

}  // namespace
