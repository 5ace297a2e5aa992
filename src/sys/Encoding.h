#pragma once
// Conversions of fetched pages into the program's GBK texts.

#include <string>
#include <string_view>

namespace vm::sys {

// UTF-8 bytes to GBK; characters GBK lacks become "?", invalid bytes too.
std::string Utf8ToGbk(std::string_view text);

// Big5 bytes to GBK with traditional characters in their simplified forms.
std::string Big5ToSimplifiedGbk(std::string_view text);

} // namespace vm::sys
