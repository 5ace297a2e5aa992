#pragma once
// Traditional Chinese to simplified, over OpenCC's offline dictionaries (t2s).

#include <string>
#include <string_view>

namespace vm::text {

// Converts UTF-8 text; text without traditional characters comes back unchanged. When the
// dictionaries are missing the text is returned as it is.
std::string TraditionalToSimplifiedUtf8(std::string_view utf8);

} // namespace vm::text
