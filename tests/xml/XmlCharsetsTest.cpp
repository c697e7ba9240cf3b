#include "xml/XmlCharsets.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace {

struct AliasCase {
    const char* alias;
    const char* canonical;
};

TEST(XmlCharsets, AliasesMapToTheSameCodePage) {
    const AliasCase cases[] = {
        {"utf8", "utf-8"},         {"UTF-8", "utf-8"},         {"unicode", "utf-16"},
        {"ucs-2", "utf-16le"},     {"unicodefffe", "utf-16be"}, {"ascii", "us-ascii"},
        {"latin1", "iso-8859-1"},  {"L1", "iso-8859-1"},        {"ISO_8859-1", "iso-8859-1"},
        {"latin2", "iso-8859-2"},  {"latin9", "iso-8859-15"},   {"cp1252", "windows-1252"},
        {"sjis", "shift_jis"},     {"MS932", "shift_jis"},      {"gbk", "gb2312"},
        {"cp936", "gb2312"},       {"korean", "ks_c_5601-1987"}, {"cp950", "big5"},
        {"koi8", "koi8-r"},        {"ibm437", "cp437"},         {"ibm850", "cp850"},
        {"csmacintosh", "macintosh"},
    };
    for (const AliasCase& c : cases) {
        int expected = xmlcharsets::CodePageForName(c.canonical);
        EXPECT_NE(expected, xmlcharsets::kAnsiCodePage) << c.canonical;
        EXPECT_EQ(xmlcharsets::CodePageForName(c.alias), expected) << c.alias;
    }
}

TEST(XmlCharsets, TellingCodePages) {
    const std::pair<const char*, int> cases[] = {
        {"utf-8", 65001},      {"utf-16", 1200},       {"utf-16be", 1201},
        {"utf-32", 12000},     {"utf-32be", 12001},    {"utf-32-whatever", 12000},
        {"utf-7", 65000},      {"us-ascii", 20127},    {"iso-8859-9", 28599},
        {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"windows-1250", 1250},
        {"windows-1258", 1258}, {"ms932", 932},         {"euc-jp", 20932},
        {"euc-kr", 51949},     {"gb18030", 54936},     {"koi8-u", 21866},
        {"iso-2022-jp", 50220}, {"cp869", 869},         {"x-mac-croatian", 10082},
        // Unknown, empty and overlong names fall back to the system code page.
        {"x-no-such-charset", 0}, {"", 0}, {"utf-8 ", 0},
    };
    for (const auto& [name, codePage] : cases)
        EXPECT_EQ(xmlcharsets::CodePageForName(name), codePage) << name;
    EXPECT_EQ(xmlcharsets::CodePageForName(std::string(100, 'a')), 0);
}

TEST(XmlCharsets, EveryConverterNameOpensInIconv) {
    for (int codePage = 1; codePage < 65536; ++codePage) {
        const char* name = xmlcharsets::IconvNameForCodePage(codePage);
        if (!name)
            continue;
        iconv_t cd = iconv_open("UTF-16LE", name);
        EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << codePage << " " << name;
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
    }
}

}  // namespace
