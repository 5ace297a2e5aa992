#pragma once
// Code-page conversion at the platform boundary (iconv). The logic's texts are GBK; the
// toolkit speaks UTF-16, the file system and the terminal UTF-8.

#include <string>
#include <string_view>

namespace vm::text {

// Characters that the target code page lacks become "?", as the Windows converters do;
// bytes that are not valid in the source code page are dropped.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);
std::u16string GbkToUtf16(std::string_view gbk);
std::string Utf16ToGbk(std::u16string_view utf16);
std::string Big5ToGbk(std::string_view big5);
std::string Big5ToUtf8(std::string_view big5);

// General conversion between two iconv code-page names; empty when either is unknown.
std::string Convert(std::string_view bytes, const char* from, const char* to);

// The literal helper for platform code, whose own source literals are UTF-8.
inline std::string Gbk(std::u8string_view utf8) {
    return Utf8ToGbk(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

} // namespace vm::text
