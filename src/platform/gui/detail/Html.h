#pragma once
// Just enough HTML for the headless document: where an element's content lies.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vm::gui::detail {

struct Range {
    std::size_t begin = 0, end = 0;
};

// The content (innerHTML) of the first element whose id attribute is `id`: from after its
// start tag to the start of its matching end tag. Comments and the bodies of script and
// style elements are skipped; an unclosed element runs to the end of the text; void
// elements (br, img, input, ...) have empty content.
std::optional<Range> FindInnerHtml(std::string_view html, std::string_view id);

// The page's declared character set in lower case ("utf-8", "gbk", ...), or empty.
std::string DeclaredCharset(std::string_view html);

} // namespace vm::gui::detail
