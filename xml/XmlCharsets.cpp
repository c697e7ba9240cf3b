// The table of charset names and aliases that documents use in their encoding declarations,
// after the names browsers and the Windows code-page service accept.
#include "xml/XmlCharsets.h"

#include <algorithm>
#include <cstddef>
#include <string>

namespace xmlcharsets {
namespace {

struct CharsetName {
    const char* name;  // lower case
    int codePage;
};

constexpr CharsetName kCharsetNames[] = {
    // Unicode
    {"utf-8", 65001}, {"utf8", 65001}, {"unicode-1-1-utf-8", 65001}, {"unicode-2-0-utf-8", 65001},
    {"x-unicode20utf8", 65001}, {"x-unicode2-0-utf-8", 65001},
    {"utf-16", 1200}, {"utf-16le", 1200}, {"utf16", 1200}, {"unicode", 1200}, {"ucs-2", 1200},
    {"iso-10646-ucs-2", 1200}, {"csunicode", 1200}, {"unicodefeff", 1200},
    {"utf-16be", 1201}, {"unicodefffe", 1201},
    {"utf-32", 12000}, {"utf-32le", 12000}, {"utf-32be", 12001},
    {"utf-7", 65000}, {"unicode-1-1-utf-7", 65000}, {"unicode-2-0-utf-7", 65000},
    {"x-unicode2-0-utf-7", 65000}, {"csunicode11utf7", 65000},
    // ASCII
    {"us-ascii", 20127}, {"ascii", 20127}, {"us", 20127}, {"ansi_x3.4-1968", 20127},
    {"ansi_x3.4-1986", 20127}, {"cp367", 20127}, {"csascii", 20127}, {"ibm367", 20127},
    {"iso-ir-6", 20127}, {"iso646-us", 20127}, {"iso_646.irv:1991", 20127},
    // ISO 8859
    {"iso-8859-1", 28591}, {"latin1", 28591}, {"l1", 28591}, {"iso8859-1", 28591},
    {"iso_8859-1", 28591}, {"iso_8859-1:1987", 28591}, {"iso-ir-100", 28591}, {"cp819", 28591},
    {"ibm819", 28591}, {"csisolatin1", 28591},
    {"iso-8859-2", 28592}, {"latin2", 28592}, {"l2", 28592}, {"iso8859-2", 28592},
    {"iso_8859-2", 28592}, {"iso_8859-2:1987", 28592}, {"iso-ir-101", 28592},
    {"csisolatin2", 28592},
    {"iso-8859-3", 28593}, {"latin3", 28593}, {"l3", 28593}, {"iso_8859-3", 28593},
    {"iso_8859-3:1988", 28593}, {"iso-ir-109", 28593}, {"csisolatin3", 28593},
    {"iso-8859-4", 28594}, {"latin4", 28594}, {"l4", 28594}, {"iso_8859-4", 28594},
    {"iso_8859-4:1988", 28594}, {"iso-ir-110", 28594}, {"csisolatin4", 28594},
    {"iso-8859-5", 28595}, {"cyrillic", 28595}, {"iso_8859-5", 28595}, {"iso_8859-5:1988", 28595},
    {"iso-ir-144", 28595}, {"csisolatincyrillic", 28595},
    {"iso-8859-6", 28596}, {"arabic", 28596}, {"iso_8859-6", 28596}, {"iso_8859-6:1987", 28596},
    {"iso-ir-127", 28596}, {"ecma-114", 28596}, {"csisolatinarabic", 28596},
    {"iso-8859-7", 28597}, {"greek", 28597}, {"greek8", 28597}, {"iso_8859-7", 28597},
    {"iso_8859-7:1987", 28597}, {"iso-ir-126", 28597}, {"elot_928", 28597}, {"ecma-118", 28597},
    {"csisolatingreek", 28597},
    {"iso-8859-8", 28598}, {"hebrew", 28598}, {"visual", 28598}, {"iso_8859-8", 28598},
    {"iso_8859-8:1988", 28598}, {"iso-ir-138", 28598}, {"csisolatinhebrew", 28598},
    {"iso-8859-8-i", 38598}, {"logical", 38598},
    {"iso-8859-9", 28599}, {"latin5", 28599}, {"l5", 28599}, {"iso_8859-9", 28599},
    {"iso_8859-9:1989", 28599}, {"iso-ir-148", 28599}, {"csisolatin5", 28599},
    {"iso-8859-13", 28603},
    {"iso-8859-15", 28605}, {"latin-9", 28605}, {"latin9", 28605}, {"l9", 28605},
    {"iso_8859-15", 28605}, {"csisolatin9", 28605},
    // Windows
    {"windows-1250", 1250}, {"x-cp1250", 1250}, {"cp1250", 1250},
    {"windows-1251", 1251}, {"x-cp1251", 1251}, {"cp1251", 1251},
    {"windows-1252", 1252}, {"x-ansi", 1252}, {"cp1252", 1252},
    {"windows-1253", 1253}, {"cp1253", 1253},
    {"windows-1254", 1254}, {"cp1254", 1254},
    {"windows-1255", 1255}, {"cp1255", 1255},
    {"windows-1256", 1256}, {"cp1256", 1256},
    {"windows-1257", 1257}, {"cp1257", 1257},
    {"windows-1258", 1258}, {"cp1258", 1258},
    {"windows-874", 874}, {"tis-620", 874}, {"dos-874", 874}, {"iso-8859-11", 874}, {"cp874", 874},
    // East Asian
    {"shift_jis", 932}, {"shift-jis", 932}, {"sjis", 932}, {"ms932", 932}, {"x-sjis", 932},
    {"ms_kanji", 932}, {"csshiftjis", 932}, {"cswindows31j", 932}, {"windows-31j", 932},
    {"cp932", 932},
    {"gb2312", 936}, {"gbk", 936}, {"cp936", 936}, {"ms936", 936}, {"windows-936", 936},
    {"chinese", 936}, {"csgb2312", 936}, {"csiso58gb231280", 936}, {"gb2312-80", 936},
    {"gb_2312-80", 936}, {"iso-ir-58", 936}, {"x-gbk", 936},
    {"gb18030", 54936},
    {"euc-cn", 51936}, {"x-euc-cn", 51936},
    {"hz-gb-2312", 52936},
    {"ks_c_5601-1987", 949}, {"korean", 949}, {"ks_c_5601", 949}, {"ks_c_5601-1989", 949},
    {"ks_c_5601_1987", 949}, {"ksc_5601", 949}, {"ksc5601", 949}, {"csksc56011987", 949},
    {"iso-ir-149", 949}, {"cp949", 949}, {"uhc", 949}, {"windows-949", 949},
    {"euc-kr", 51949}, {"cseuckr", 51949}, {"x-euc-kr", 51949},
    {"johab", 1361},
    {"big5", 950}, {"cn-big5", 950}, {"csbig5", 950}, {"x-x-big5", 950}, {"cp950", 950},
    {"big5-hkscs", 950},
    {"euc-jp", 20932}, {"x-euc-jp", 20932}, {"x-euc", 20932}, {"cseucpkdfmtjapanese", 20932},
    {"extended_unix_code_packed_format_for_japanese", 20932},
    {"iso-2022-jp", 50220}, {"csiso2022jp", 50221}, {"iso-2022-kr", 50225},
    {"csiso2022kr", 50225}, {"iso-2022-cn", 50227},
    // Cyrillic
    {"koi8-r", 20866}, {"koi8r", 20866}, {"koi8", 20866}, {"koi", 20866}, {"cskoi8r", 20866},
    {"koi8-u", 21866}, {"koi8-ru", 21866},
    // DOS
    {"cp437", 437}, {"ibm437", 437}, {"437", 437}, {"cspc8codepage437", 437},
    {"dos-720", 720}, {"cp720", 720},
    {"cp737", 737}, {"ibm737", 737},
    {"cp775", 775}, {"ibm775", 775}, {"cspc775baltic", 775},
    {"cp850", 850}, {"ibm850", 850}, {"850", 850}, {"cspc850multilingual", 850},
    {"cp852", 852}, {"ibm852", 852}, {"852", 852}, {"cspcp852", 852},
    {"cp855", 855}, {"ibm855", 855}, {"855", 855}, {"csibm855", 855},
    {"cp857", 857}, {"ibm857", 857}, {"857", 857}, {"csibm857", 857},
    {"cp858", 858}, {"ibm00858", 858}, {"ccsid00858", 858}, {"cp00858", 858},
    {"cp860", 860}, {"ibm860", 860}, {"860", 860}, {"csibm860", 860},
    {"cp861", 861}, {"ibm861", 861}, {"861", 861}, {"cp-is", 861}, {"csibm861", 861},
    {"cp862", 862}, {"ibm862", 862}, {"862", 862}, {"dos-862", 862},
    {"cspc862latinhebrew", 862},
    {"cp863", 863}, {"ibm863", 863}, {"863", 863}, {"csibm863", 863},
    {"cp864", 864}, {"ibm864", 864}, {"csibm864", 864},
    {"cp865", 865}, {"ibm865", 865}, {"865", 865}, {"csibm865", 865},
    {"cp866", 866}, {"ibm866", 866}, {"866", 866}, {"csibm866", 866},
    {"cp869", 869}, {"ibm869", 869}, {"869", 869}, {"cp-gr", 869}, {"csibm869", 869},
    // Macintosh
    {"macintosh", 10000}, {"mac", 10000}, {"x-mac-roman", 10000}, {"csmacintosh", 10000},
    {"x-mac-japanese", 10001}, {"x-mac-chinesetrad", 10002}, {"x-mac-korean", 10003},
    {"x-mac-arabic", 10004}, {"x-mac-hebrew", 10005}, {"x-mac-greek", 10006},
    {"x-mac-cyrillic", 10007}, {"mac-cyrillic", 10007}, {"x-mac-chinesesimp", 10008},
    {"x-mac-romanian", 10010}, {"x-mac-ukrainian", 10017}, {"x-mac-thai", 10021},
    {"x-mac-ce", 10029}, {"mac-centraleurope", 10029}, {"x-mac-icelandic", 10079},
    {"x-mac-turkish", 10081}, {"x-mac-croatian", 10082},
};

struct CodePageConverter {
    int codePage;
    const char* iconvName;
};

// The Macintosh code pages that glibc has no table for are left out: their text is read as the
// system code page, which marks the bytes it cannot read instead of showing wrong letters.
constexpr CodePageConverter kConverters[] = {
    {65001, "UTF-8"}, {1200, "UTF-16LE"}, {1201, "UTF-16BE"}, {12000, "UTF-32LE"},
    {12001, "UTF-32BE"}, {65000, "UTF-7"}, {20127, "US-ASCII"},
    {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"}, {28593, "ISO-8859-3"}, {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"}, {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"}, {28598, "ISO-8859-8"},
    {38598, "ISO-8859-8"}, {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},
    {1250, "CP1250"}, {1251, "CP1251"}, {1252, "CP1252"}, {1253, "CP1253"}, {1254, "CP1254"},
    {1255, "CP1255"}, {1256, "CP1256"}, {1257, "CP1257"}, {1258, "CP1258"}, {874, "CP874"},
    {932, "CP932"}, {936, "CP936"}, {54936, "GB18030"}, {51936, "EUC-CN"}, {949, "CP949"},
    {51949, "EUC-KR"}, {1361, "JOHAB"}, {950, "BIG5"}, {20932, "EUC-JP"},
    {50220, "ISO-2022-JP"}, {50221, "ISO-2022-JP"}, {50225, "ISO-2022-KR"},
    {50227, "ISO-2022-CN"}, {20866, "KOI8-R"}, {21866, "KOI8-U"},
    {437, "CP437"}, {737, "CP737"}, {775, "CP775"}, {850, "CP850"}, {852, "CP852"},
    {855, "CP855"}, {857, "CP857"}, {858, "CP858"}, {860, "CP860"}, {861, "CP861"},
    {862, "CP862"}, {863, "CP863"}, {864, "CP864"}, {865, "CP865"}, {866, "CP866"},
    {869, "CP869"},
    {10000, "MACINTOSH"}, {10001, "SHIFT_JIS"}, {10002, "BIG5"}, {10003, "EUC-KR"},
    {10007, "MAC-CYRILLIC"}, {10008, "GB2312"}, {10017, "MAC-UK"}, {10029, "MAC-CENTRALEUROPE"},
    {10079, "MAC-IS"},
};

}  // namespace

int CodePageForName(std::string_view name) {
    if (name.empty() || name.size() >= 100)
        return kAnsiCodePage;
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (lower.starts_with("utf-32"))
        return lower == "utf-32be" ? kUtf32Be : kUtf32Le;
    for (const CharsetName& row : kCharsetNames) {
        if (lower == row.name)
            return row.codePage;
    }
    return kAnsiCodePage;
}

const char* IconvNameForCodePage(int codePage) {
    for (const CodePageConverter& row : kConverters) {
        if (row.codePage == codePage)
            return row.iconvName;
    }
    return nullptr;
}

}  // namespace xmlcharsets
