#include "update/ServerInfo.h"

#include "platform/ado/Ado.h"
#include "platform/automation/Com.h"
#include "platform/automation/Object.h"
#include "platform/http/RequestObject.h"
#include "platform/text/Gbk.h"

#include <array>

namespace vm::update {
namespace {

using automation::Object;
using automation::Variant;

constexpr std::array<std::string_view, 3> kRequestClasses = {
    "WinHttp.WinHttpRequest.5.1", "MSXML2.ServerXMLHTTP.6.0", "MSXML2.ServerXMLHTTP.5.0"};

// The request is given 3000 seconds for each of its phases.
constexpr std::int32_t kRequestTimeoutMs = 3000 * 1000;

enum StreamType : std::int32_t { kBinary = 1, kText = 2 };

// CoInitialize for one scope; every object made inside must be gone before it ends.
class ComScope {
public:
    ComScope() { automation::CoInitialize(); }
    ~ComScope() { automation::CoUninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};

std::string BytesOf(const Variant& value) {
    automation::Bytes bytes;
    value.ToBytes(bytes);
    return {bytes.begin(), bytes.end()};
}

Variant ByteArray(std::string_view bytes) {
    return Variant(automation::Bytes(bytes.begin(), bytes.end()));
}

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

std::string FetchPageBody(std::string_view address) {
    http::InstallHttpClasses();
    const ComScope com;
    for (const std::string_view progId : kRequestClasses) {
        const Object request = automation::CreateObject(progId);
        if (request.IsNull())
            continue;
        const Variant t(kRequestTimeoutMs);
        request.Call("SetTimeouts", {t, t, t, t});
        request.Call("Open", {Variant("GET"), Variant(address), Variant(false)});
        request.Call("Send");
        return BytesOf(request.Get("ResponseBody"));
    }
    return {};
}

std::string Utf8ToGbkThroughStream(std::string_view bytes) {
    ado::InstallAdoClasses();
    const ComScope com;
    const Object stream = automation::CreateObject("Adodb.Stream");
    if (stream.IsNull())
        return {};
    stream.Put("Type", Variant(std::int32_t{kBinary}));
    stream.Call("Open");
    stream.Call("Write", {ByteArray(bytes)});
    stream.Put("Position", Variant(std::int32_t{0}));
    stream.Put("Type", Variant(std::int32_t{kText}));
    stream.Put("Charset", Variant("UTF-8"));
    const std::string text = stream.CallText("ReadText");
    stream.Call("Close");
    stream.Call("Open");
    stream.Put("Charset", Variant("GBK"));
    stream.Call("WriteText", {Variant(text)});
    stream.Put("Position", Variant(std::int32_t{0}));
    stream.Put("Type", Variant(std::int32_t{kBinary}));
    std::string result = BytesOf(stream.Call("Read"));
    stream.Call("Close");
    return result;
}

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

std::string DecodeServerPage(std::string_view page) {
    std::string encoded = TextBetweenMarkers(page);
    // Pages served as UTF-8 show the markers only once converted.
    if (encoded.empty())
        encoded = TextBetweenMarkers(Utf8ToGbkThroughStream(UpToZero(page)));
    const std::string decoded = DecodeBase64(text::ReplaceAll(encoded, "\r\n", ""));
    return std::string(UpToZero(decoded));
}

std::string ServerInfoReader::Fetch(std::string_view address) {
    std::string document = DecodeServerPage(FetchPageBody(address));
    SetDocument(document);
    return document;
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
