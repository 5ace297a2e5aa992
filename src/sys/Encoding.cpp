#include "sys/Encoding.h"

#include "platform/text/Codepage.h"
#include "platform/text/Simplify.h"

namespace vm::sys {

std::string Utf8ToGbk(std::string_view text) {
    return text::Utf8ToGbk(text);
}

std::string Big5ToSimplifiedGbk(std::string_view text) {
    // Simplify while the text is still Unicode: many simplified forms exist only there, and
    // GBK holds both forms of the rest.
    const std::string utf8 = text::Big5ToUtf8(text);
    return text::Utf8ToGbk(text::TraditionalToSimplifiedUtf8(utf8));
}

} // namespace vm::sys
