#include "platform/gui/detail/Html.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace vm::gui::detail {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':';
}

bool IsVoid(std::string_view name) {
    static constexpr std::array<std::string_view, 14> kVoid = {
        "area",  "base", "br",   "col",   "embed",  "hr",    "img",
        "input", "link", "meta", "param", "source", "track", "wbr"};
    return std::find(kVoid.begin(), kVoid.end(), name) != kVoid.end();
}

struct Tag {
    std::size_t begin = 0; // at '<'
    std::size_t end = 0;   // after '>'
    bool closing = false;
    bool selfClosing = false;
    std::string name;                                            // lower case
    std::vector<std::pair<std::string, std::string>> attributes; // names lower case
};

// Parses the tag that starts at `at` ('<'); nullopt when it is not a tag (then the '<' is text).
std::optional<Tag> ParseTag(std::string_view html, std::size_t at) {
    Tag tag;
    tag.begin = at;
    std::size_t i = at + 1;
    if (i < html.size() && html[i] == '/') {
        tag.closing = true;
        ++i;
    }
    const std::size_t nameStart = i;
    if (i >= html.size() || !std::isalpha(static_cast<unsigned char>(html[i])))
        return std::nullopt; // "a <3" is text, not a tag
    while (i < html.size() && IsNameChar(html[i]))
        ++i;
    if (i == nameStart)
        return std::nullopt;
    tag.name = Lower(html.substr(nameStart, i - nameStart));
    while (i < html.size()) {
        while (i < html.size() && IsSpace(html[i]))
            ++i;
        if (i >= html.size())
            break;
        if (html[i] == '>') {
            tag.end = i + 1;
            return tag;
        }
        if (html[i] == '/') {
            tag.selfClosing = true;
            ++i;
            continue;
        }
        const std::size_t attrStart = i;
        while (i < html.size() && !IsSpace(html[i]) && html[i] != '=' && html[i] != '>' &&
               html[i] != '/')
            ++i;
        std::string name = Lower(html.substr(attrStart, i - attrStart));
        std::string value;
        while (i < html.size() && IsSpace(html[i]))
            ++i;
        if (i < html.size() && html[i] == '=') {
            ++i;
            while (i < html.size() && IsSpace(html[i]))
                ++i;
            if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
                const char quote = html[i++];
                const std::size_t close = html.find(quote, i);
                if (close == std::string_view::npos)
                    return std::nullopt;
                value = std::string(html.substr(i, close - i));
                i = close + 1;
            } else {
                const std::size_t valueStart = i;
                while (i < html.size() && !IsSpace(html[i]) && html[i] != '>')
                    ++i;
                value = std::string(html.substr(valueStart, i - valueStart));
            }
        }
        if (!name.empty())
            tag.attributes.emplace_back(std::move(name), std::move(value));
        else if (i < html.size() && html[i] != '>')
            ++i;
    }
    return std::nullopt;
}

// Walks the tags of `html` from `from`, calling visit(tag) until it returns true.
template <typename Visit> void WalkTags(std::string_view html, std::size_t from, Visit visit) {
    std::size_t i = from;
    while ((i = html.find('<', i)) != std::string_view::npos) {
        if (html.compare(i, 4, "<!--") == 0) {
            const std::size_t close = html.find("-->", i + 4);
            if (close == std::string_view::npos)
                return;
            i = close + 3;
            continue;
        }
        auto tag = ParseTag(html, i);
        if (!tag) {
            ++i;
            continue;
        }
        if (visit(*tag))
            return;
        i = tag->end;
        if (!tag->closing && (tag->name == "script" || tag->name == "style")) {
            // Their bodies are raw text: a "<" in a script is no tag.
            const std::string endTag = "</" + tag->name;
            std::size_t j = i;
            while (j < html.size()) {
                j = html.find("</", j);
                if (j == std::string_view::npos)
                    return;
                if (Lower(html.substr(j, endTag.size())) == endTag)
                    break;
                j += 2;
            }
            i = j;
        }
    }
}

} // namespace

std::optional<Range> FindInnerHtml(std::string_view html, std::string_view id) {
    std::optional<Tag> start;
    WalkTags(html, 0, [&](const Tag& tag) {
        if (tag.closing)
            return false;
        for (const auto& [name, value] : tag.attributes)
            if (name == "id" && value == id) {
                start = tag;
                return true;
            }
        return false;
    });
    if (!start)
        return std::nullopt;
    if (start->selfClosing || IsVoid(start->name))
        return Range{start->end, start->end};
    Range range{start->end, html.size()};
    int depth = 0;
    WalkTags(html, start->end, [&](const Tag& tag) {
        if (tag.name != start->name || tag.selfClosing)
            return false;
        if (!tag.closing) {
            ++depth;
            return false;
        }
        if (depth-- > 0)
            return false;
        range.end = tag.begin;
        return true;
    });
    return range;
}

std::string DeclaredCharset(std::string_view html) {
    std::string found;
    WalkTags(html, 0, [&](const Tag& tag) {
        if (tag.name == "body")
            return true;
        if (tag.name != "meta" || tag.closing)
            return false;
        for (const auto& [name, value] : tag.attributes) {
            if (name == "charset") {
                found = Lower(value);
                return true;
            }
            if (name == "content") {
                const std::string lower = Lower(value);
                const auto at = lower.find("charset=");
                if (at != std::string::npos) {
                    found = lower.substr(at + 8);
                    while (!found.empty() && (IsSpace(found.back()) || found.back() == ';'))
                        found.pop_back();
                    return true;
                }
            }
        }
        return false;
    });
    return found;
}

} // namespace vm::gui::detail
