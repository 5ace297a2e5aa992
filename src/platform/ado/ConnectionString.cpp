#include "platform/ado/ConnectionString.h"

#include "platform/text/Gbk.h"

namespace vm::ado {
namespace {

std::string_view TrimAscii(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

ConnectionString::ConnectionString(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        // Key: up to "=" or the end of the piece.
        const std::size_t keyStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ';')
            i += text::CharLengthAt(text, i);
        const std::string key(TrimAscii(text.substr(keyStart, i - keyStart)));
        std::string value;
        if (i < text.size() && text[i] == '=') {
            ++i;
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
                ++i;
            if (i < text.size() && (text[i] == '\'' || text[i] == '"')) {
                const char quote = text[i++];
                while (i < text.size()) {
                    if (text[i] == quote) {
                        if (i + 1 < text.size() && text[i + 1] == quote) {
                            value += quote;
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    const std::size_t n = text::CharLengthAt(text, i);
                    value.append(text.substr(i, n));
                    i += n;
                }
                // Anything between the closing quote and the next ";" is dropped.
                while (i < text.size() && text[i] != ';')
                    ++i;
            } else if (i < text.size() && text[i] == '{') {
                const std::size_t start = i;
                while (i < text.size() && text[i] != '}')
                    i += text::CharLengthAt(text, i);
                if (i < text.size())
                    ++i;
                value = text.substr(start, i - start);
                while (i < text.size() && text[i] != ';')
                    ++i;
            } else {
                const std::size_t start = i;
                while (i < text.size() && text[i] != ';')
                    i += text::CharLengthAt(text, i);
                value = TrimAscii(text.substr(start, i - start));
            }
        }
        if (i < text.size() && text[i] == ';')
            ++i;
        if (!key.empty())
            pieces_.emplace_back(key, std::move(value));
    }
}

std::string ConnectionString::Get(std::string_view key) const {
    for (const auto& [k, v] : pieces_)
        if (text::EqualsNoCase(k, key))
            return v;
    return {};
}

bool ConnectionString::Has(std::string_view key) const {
    for (const auto& piece : pieces_)
        if (text::EqualsNoCase(piece.first, key))
            return true;
    return false;
}

void ConnectionString::Merge(const ConnectionString& other) {
    for (const auto& piece : other.pieces_)
        if (!Has(piece.first))
            pieces_.push_back(piece);
}

std::string StripBraces(std::string_view value) {
    value = TrimAscii(value);
    if (value.size() >= 2 && value.front() == '{' && value.back() == '}')
        value = value.substr(1, value.size() - 2);
    return std::string(TrimAscii(value));
}

} // namespace vm::ado
