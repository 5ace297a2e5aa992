#include "net/UrlText.h"

#include "platform/http/CookieStore.h"
#include "platform/text/Gbk.h"

#include <vector>

namespace vm::net {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t kCookieBufferSize = 1024;

// Byte offset of `needle` in `text`, or npos; trail bytes are never a match's start.
std::size_t OffsetOf(std::string_view text, std::string_view needle, bool caseSensitive) {
    const int position = text::Find(text, needle, 1, caseSensitive);
    return position < 0 ? npos : static_cast<std::size_t>(position - 1);
}

// "/", ":", ";" and "=" lie below every GBK trail byte (0x40 and up), so a plain byte search
// for them cannot land inside a two-byte character.
std::string_view UpTo(std::string_view text, char stop) {
    return text.substr(0, text.find(stop));
}

std::string_view SchemeFor(std::string_view target) {
    return text::ToLowerAscii(target.substr(0, 8)) == "https://" ? "https://" : "http://";
}

// Where the piece holding offset `at` starts: just after the ";" before it.
std::size_t PieceStart(std::string_view cookies, std::size_t at) {
    const std::size_t semicolon = at == 0 ? npos : cookies.rfind(';', at - 1);
    return semicolon == npos ? 0 : semicolon + 1;
}

// `at` opens its piece, with nothing but blanks before it.
bool OpensPiece(std::string_view cookies, std::size_t at) {
    const std::size_t start = PieceStart(cookies, at);
    return text::Trim(cookies.substr(start, at - start)).empty();
}

// First offset where `name` is a whole cookie name: it opens a piece and "=" follows it.
// Matching whole names keeps "id" from hitting "sid=..." or a value that contains "id".
std::size_t FindCookieName(std::string_view cookies, std::string_view name) {
    for (std::size_t from = 0; from < cookies.size();) {
        const std::size_t found = OffsetOf(cookies.substr(from), name, false);
        if (found == npos)
            return npos;
        const std::size_t at = from + found;
        const std::size_t after = at + name.size();
        if (OpensPiece(cookies, at) && after < cookies.size() && cookies[after] == '=')
            return at;
        from = at + text::CharLengthAt(cookies, at);
    }
    return npos;
}

// Replaces every whole piece equal to `old` (ignoring ASCII case) by `piece`.
std::string ReplacePieces(std::string_view cookies, std::string_view old, std::string_view piece) {
    std::string out;
    std::size_t copied = 0;
    for (std::size_t from = 0; from < cookies.size();) {
        const std::size_t found = OffsetOf(cookies.substr(from), old, false);
        if (found == npos)
            break;
        const std::size_t at = from + found;
        const std::size_t end = at + old.size();
        if (OpensPiece(cookies, at) && (end == cookies.size() || cookies[end] == ';')) {
            out.append(cookies.substr(copied, at - copied));
            out.append(piece);
            copied = from = end;
        } else {
            from = at + text::CharLengthAt(cookies, at);
        }
    }
    out.append(cookies.substr(copied));
    return out;
}

// Trimmed, and ending with ";" unless empty.
std::string Normalised(std::string_view cookies) {
    std::string out = text::Trim(cookies);
    if (!out.empty() && out.back() != ';')
        out += ';';
    return out;
}

} // namespace

std::string HostOfUrl(std::string_view url, bool domainOnly) {
    std::size_t start = 0;
    if (const std::size_t http = OffsetOf(url, "http://", true); http != npos)
        start = http + 7;
    else if (const std::size_t https = OffsetOf(url, "https://", true); https != npos)
        start = https + 8;
    const std::string host = text::ToLowerAscii(UpTo(UpTo(url.substr(start), '/'), ':'));
    if (!domainOnly)
        return host;
    const std::vector<std::string> labels = text::Split(host, ".");
    if (labels.size() < 2)
        return host;
    return labels[labels.size() - 2] + "." + labels.back();
}

std::string UrlHostName(std::string_view url) {
    const std::string bare = text::ReplaceAll(text::ReplaceAll(url, "https://", ""), "http://", "");
    return text::ToLowerAscii(UpTo(UpTo(bare, '/'), ':'));
}

std::string UrlObjectPath(std::string_view url) {
    const std::size_t host = OffsetOf(url, UrlHostName(url), false);
    const std::size_t slash = url.find('/', host == npos ? 0 : host);
    return slash == npos ? std::string("/") : std::string(url.substr(slash));
}

int UrlPort(std::string_view url) {
    const bool http = text::EqualsNoCase(url.substr(0, 7), "http://");
    const std::string_view hostAndPort = UpTo(http ? url.substr(7) : url, '/');
    const std::size_t colon = hostAndPort.find(':');
    if (colon == npos)
        return 80;
    int port = 0;
    for (const char c : hostAndPort.substr(colon + 1)) {
        if (c < '0' || c > '9')
            break;
        port = port * 10 + (c - '0');
        if (port > 65535)
            return 0; // no port of this size exists; also keeps the sum from overflowing
    }
    return port;
}

std::string CutBetween(std::string_view text, std::string_view left, std::string_view right,
                       bool caseSensitive) {
    const std::string leftMarker = text::ReplaceAll(left, "#引号", "\"");
    const std::string rightMarker = text::ReplaceAll(right, "#引号", "\"");
    const std::size_t found = OffsetOf(text, leftMarker, caseSensitive);
    if (found == npos)
        return {};
    const std::string_view rest = text.substr(found + leftMarker.size());
    const std::size_t end = OffsetOf(rest, rightMarker, caseSensitive);
    return end == npos ? std::string() : std::string(rest.substr(0, end));
}

std::string TextBefore(std::string_view text, std::string_view marker) {
    const std::size_t found = OffsetOf(text, marker, true);
    return found == npos ? std::string() : std::string(text.substr(0, found));
}

std::string MergeCookies(std::string& base, std::string& update) {
    base = Normalised(base);
    update = Normalised(update);

    for (const std::string& piece : text::Split(update, ";")) {
        const std::size_t equals = piece.find('=');
        if (equals == npos)
            continue;
        const std::string_view name = std::string_view(piece).substr(0, equals);
        const std::size_t at = name.empty() ? npos : FindCookieName(base, name);
        if (at == npos) {
            base += piece + ";";
            continue;
        }
        const std::string old = base.substr(at, base.find(';', at) - at);
        base = ReplacePieces(base, old, piece);
    }

    // A cookie without a value, or with the value "deleted", is one the server took back. The
    // value is what follows the first "=": Base64 values end in "=" and stay.
    std::string merged;
    for (const std::string& piece : text::Split(base, ";")) {
        const std::size_t equals = piece.find('=');
        if (equals != npos) {
            const std::string value = text::Trim(std::string_view(piece).substr(equals + 1));
            if (value.empty() || value == "deleted")
                continue;
        }
        merged += text::Trim(piece) + "; ";
    }
    base = text::Trim(merged);
    return base;
}

std::string ReadStoredCookies(std::string_view target) {
    const std::string url = std::string(SchemeFor(target)) + HostOfUrl(target, false);
    return http::InternetGetCookie(url, kCookieBufferSize).value_or(std::string());
}

void StoreCookies(std::string_view target, std::string_view cookies) {
    const std::string url = std::string(SchemeFor(target)) + HostOfUrl(target, false);
    for (const std::string& piece : text::Split(cookies, ";")) {
        // Everything after the first "=" is the value, so values that end in "=" (Base64
        // padding) or hold more of them arrive whole.
        const std::size_t equals = OffsetOf(piece, "=", true);
        if (equals == npos)
            continue;
        http::InternetSetCookie(url, std::string_view(piece).substr(0, equals),
                                std::string_view(piece).substr(equals + 1));
    }
}

} // namespace vm::net
