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

} // namespace vm::update
