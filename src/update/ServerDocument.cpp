// The pure steps of reading the server information and the reader that holds the document: no
// request and no object is made here, so the fuzz target that feeds them hostile pages builds
// from this file alone.

#include "update/ServerInfo.h"

#include "platform/text/Gbk.h"

#include <algorithm>
#include <cstdint>

namespace vm::update {
namespace {

// A text ends at its first zero byte.
std::string_view UpToZero(std::string_view bytes) {
    return bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::string TextBetweenMarkers(std::string_view page) {
    const std::string_view text = UpToZero(page);
    const int start = text::Find(text, kDocumentStart, 1, false);
    if (start < 0)
        return {};
    const std::size_t from = static_cast<std::size_t>(start - 1) + kDocumentStart.size();
    // Find counts characters, so the end is searched in the rest rather than from a position.
    const std::string_view rest = text.substr(from);
    const int end = text::Find(rest, kDocumentEnd, 1, false);
    return std::string(end < 0 ? rest : rest.substr(0, static_cast<std::size_t>(end - 1)));
}

std::string DecodeBase64(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (const char c : text) {
        if (c == '\r' || c == '\n')
            continue;
        const int value = Base64Value(c);
        if (value < 0)
            break;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

std::string ValueIn(std::string_view document, std::string_view key) {
    const std::string open = std::string(key) + "(";
    const int begin = text::Find(document, open, 1, true);
    if (key.empty() || begin < 0)
        return {};
    const std::string_view value =
        document.substr(static_cast<std::size_t>(begin - 1) + open.size());
    const int end = text::Find(value, ")" + std::string(key), 1, true);
    if (end < 0)
        return {};
    return std::string(value.substr(0, static_cast<std::size_t>(end - 1)));
}

std::string ServerInfoReader::ValueOf(std::string_view key) const {
    std::lock_guard guard(mutex_);
    return ValueIn(document_, key);
}

std::string ServerInfoReader::Document() const {
    std::lock_guard guard(mutex_);
    return document_;
}

void ServerInfoReader::SetDocument(std::string document) {
    std::lock_guard guard(mutex_);
    document_ = std::move(document);
}

ServerInfoReader& ServerInfo() {
    static ServerInfoReader reader;
    return reader;
}

} // namespace vm::update
