// Charset names of XML declarations and HTML meta tags, mapped to Windows code-page numbers,
// and the iconv converter that reads each code page.
#pragma once

#include <string_view>

namespace xmlcharsets {

// Code pages the loader treats specially.
constexpr int kAnsiCodePage = 0;  // the system code page: UTF-8 on this platform
constexpr int kUtf8 = 65001;
constexpr int kUtf16Le = 1200;
constexpr int kUtf16Be = 1201;
constexpr int kUtf32Le = 12000;
constexpr int kUtf32Be = 12001;

// Code page of a charset name (ASCII letter case ignored). An empty name, a name of 100
// characters or more and a name not in the table give kAnsiCodePage. Names that begin with
// "utf-32" give kUtf32Le or kUtf32Be.
int CodePageForName(std::string_view name);

// iconv charset name that reads the code page, or nullptr when iconv has no converter for it.
const char* IconvNameForCodePage(int codePage);

}  // namespace xmlcharsets
