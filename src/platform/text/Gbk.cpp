#include "platform/text/Gbk.h"

namespace vm::text {
namespace {

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchesAt(std::string_view text, std::size_t at, std::string_view needle, bool caseSensitive) {
    if (text.size() - at < needle.size())
        return false;
    for (std::size_t i = 0; i < needle.size(); ++i) {
        const char a = text[at + i];
        const char b = needle[i];
        if (IsLeadByte(static_cast<unsigned char>(b)) && i + 1 < needle.size()) {
            // Two-byte characters compare exactly; their trail byte may look like a letter.
            if (a != b || text[at + i + 1] != needle[i + 1])
                return false;
            ++i;
            continue;
        }
        if (caseSensitive ? a != b : FoldAscii(a) != FoldAscii(b))
            return false;
    }
    return true;
}

// Byte offset of the character at 1-based character position `position`, or npos.
std::size_t OffsetOfChar(std::string_view text, int position) {
    std::size_t offset = 0;
    for (int i = 1; i < position; ++i) {
        if (offset >= text.size())
            return std::string_view::npos;
        offset += CharLengthAt(text, offset);
    }
    return offset <= text.size() ? offset : std::string_view::npos;
}

std::size_t FindOffset(std::string_view text, std::string_view needle, std::size_t from,
                       bool caseSensitive) {
    for (std::size_t at = from; at < text.size(); at += CharLengthAt(text, at)) {
        if (MatchesAt(text, at, needle, caseSensitive))
            return at;
    }
    return std::string_view::npos;
}

bool IsBlankAt(std::string_view text, std::size_t at) {
    if (text[at] == ' ')
        return true;
    return at + 1 < text.size() && static_cast<unsigned char>(text[at]) == 0xA1 &&
           static_cast<unsigned char>(text[at + 1]) == 0xA1;
}

} // namespace

std::size_t CharLengthAt(std::string_view text, std::size_t index) {
    if (IsLeadByte(static_cast<unsigned char>(text[index])) && index + 1 < text.size())
        return 2;
    return 1;
}

int CharCount(std::string_view text) {
    int count = 0;
    for (std::size_t at = 0; at < text.size(); at += CharLengthAt(text, at))
        ++count;
    return count;
}

int Find(std::string_view text, std::string_view needle, int start, bool caseSensitive) {
    if (needle.empty() || start < 1)
        return -1;
    const std::size_t from = OffsetOfChar(text, start);
    if (from == std::string_view::npos)
        return -1;
    const std::size_t at = FindOffset(text, needle, from, caseSensitive);
    return at == std::string_view::npos ? -1 : static_cast<int>(at) + 1;
}

bool Contains(std::string_view text, std::string_view needle, bool caseSensitive) {
    return Find(text, needle, 1, caseSensitive) != -1;
}

std::vector<std::string> Split(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    if (separator.empty()) {
        if (!text.empty())
            pieces.emplace_back(text);
        return pieces;
    }
    std::size_t begin = 0;
    for (;;) {
        const std::size_t at = FindOffset(text, separator, begin, false);
        if (at == std::string_view::npos)
            break;
        pieces.emplace_back(text.substr(begin, at - begin));
        begin = at + separator.size();
    }
    if (begin < text.size())
        pieces.emplace_back(text.substr(begin));
    return pieces;
}

std::string TrimStart(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && IsBlankAt(text, at))
        at += text[at] == ' ' ? 1 : 2;
    return std::string(text.substr(at));
}

std::string TrimEnd(std::string_view text) {
    // Walk forward so that a trail byte A1 is never mistaken for half of a blank.
    std::size_t keep = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = CharLengthAt(text, at);
        if (!IsBlankAt(text, at))
            keep = at + length;
        at += length;
    }
    return std::string(text.substr(0, keep));
}

std::string Trim(std::string_view text) {
    return TrimEnd(TrimStart(text));
}

std::string ToHalfWidth(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = CharLengthAt(text, at);
        if (length == 2) {
            const auto lead = static_cast<unsigned char>(text[at]);
            const auto trail = static_cast<unsigned char>(text[at + 1]);
            if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
                out.push_back(static_cast<char>(trail - 0x80));
                at += 2;
                continue;
            }
            if (lead == 0xA1 && trail == 0xA1) {
                out.push_back(' ');
                at += 2;
                continue;
            }
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

bool EndsWithChar(std::string_view text, char c) {
    std::size_t last = std::string_view::npos;
    for (std::size_t at = 0; at < text.size(); at += CharLengthAt(text, at))
        last = at;
    return last != std::string_view::npos && last + 1 == text.size() && text[last] == c;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (std::size_t at = 0; at < out.size(); at += CharLengthAt(out, at))
        out[at] = FoldAscii(out[at]);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && MatchesAt(a, 0, b, false);
}

bool EqualsFoldingEveryByte(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty())
        return std::string(text);
    std::string out;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t at = FindOffset(text, from, begin, true);
        if (at == std::string_view::npos)
            break;
        out.append(text.substr(begin, at - begin));
        out.append(to);
        begin = at + from.size();
    }
    out.append(text.substr(begin));
    return out;
}

} // namespace vm::text
