#include "net/WinHttpFetch.h"

#include "net/UrlText.h"
#include "platform/automation/Com.h"
#include "platform/automation/Object.h"
#include "platform/text/Gbk.h"

#include <vector>

namespace vm::net {
namespace {

using automation::Object;
using automation::Variant;

constexpr int kRedirectOption = 6;
constexpr int kDefaultTimeoutMs = 15000;

// A caller's variable, or a local stand-in when the parameter was omitted.
class InOut {
public:
    explicit InOut(std::string* target) : target_(target ? target : &local_) {}
    std::string& operator*() { return *target_; }
    std::string* operator->() { return target_; }

private:
    std::string local_;
    std::string* target_;
};

// ASCII letters only; the trail byte of a double-byte character is never touched.
std::string ToUpperAscii(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); i += text::CharLengthAt(out, i)) {
        if (out[i] >= 'a' && out[i] <= 'z')
            out[i] = static_cast<char>(out[i] - 'a' + 'A');
    }
    return out;
}

void SetTimeouts(const Object& request, int timeoutSeconds) {
    if (timeoutSeconds == -1)
        return;
    const std::int32_t ms = timeoutSeconds >= 1 ? timeoutSeconds * 1000 : kDefaultTimeoutMs;
    request.Call("SetTimeouts", {Variant(ms), Variant(ms), Variant(ms), Variant(ms)});
}

// "Name: value" split at every ":": the name is the first piece, the value the rest joined by
// ":" again, neither trimmed. A line with nothing after its colon sends an empty value.
void SetHeaderLine(const Object& request, std::string_view line) {
    const std::vector<std::string> parts = text::Split(line, ":");
    if (parts.empty())
        return;
    std::string value;
    for (std::size_t i = 1; i < parts.size(); ++i)
        value += (i > 1 ? ":" : "") + parts[i];
    request.Call("SetRequestHeader", {Variant(parts[0]), Variant(value)});
}

void SetExtraHeaders(const Object& request, const std::string& headers) {
    if (!text::Contains(headers, "\r\n", true)) {
        if (text::Contains(headers, ":", true))
            SetHeaderLine(request, headers);
        return;
    }
    for (const std::string& line : text::Split(headers, "\r\n")) {
        if (text::Contains(line, ":", true))
            SetHeaderLine(request, line);
    }
}

void Send(const Object& request, const WinHttpFetchArgs& args) {
    if (!args.postBytes.empty()) {
        const automation::Bytes bytes(args.postBytes.begin(), args.postBytes.end());
        request.Call("Send", {Variant(bytes)});
    } else {
        request.Call("Send", {Variant(args.postText)});
    }
}

// Walks the response's header lines for the redirect target and the cookies it sets.
void ReadResponseHeaders(const std::string& headers, std::string& redirectTarget,
                         std::string& newCookies) {
    newCookies.clear();
    for (const std::string& line : text::Split(headers, "\r\n")) {
        if (text::Contains(line, "Location:", true)) {
            const int at = text::Find(line, "Location:", 1, false);
            const std::string rest = line.substr(0, static_cast<std::size_t>(at - 1)) +
                                     line.substr(static_cast<std::size_t>(at - 1) + 9);
            redirectTarget = text::Trim(rest);
        }
        if (text::Contains(line, "Set-Cookie", true))
            newCookies += text::Trim(CutBetween(line, "Set-Cookie:", ";", false)) + "; ";
    }
}

} // namespace

std::string DefaultFetchHeaders(std::string_view url) {
    return "Referer: " + std::string(url) +
           "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nUser-Agent: Mozilla/5.0 (compatible; "
           "MSIE 9.0; Windows NT 6.1; Trident/5.0)\r\nContent-Type: "
           "application/x-www-form-urlencoded";
}

std::string WinHttpFetch(std::string_view url, const WinHttpFetchArgs& args) {
    // The initialisation is undone on every path, the failed creation included, so that a
    // thread that keeps retrying does not pile up initialisations.
    automation::CoInitialize();
    const Object request = automation::CreateObject("WinHttp.WinHttpRequest.5.1");
    if (request.IsNull()) {
        automation::CoUninitialize();
        return {};
    }

    InOut method(args.method);
    *method = ToUpperAscii(*method);
    if (method->empty())
        *method = "GET";

    SetTimeouts(request, args.timeoutSeconds);
    request.Call("Open", {Variant(*method), Variant(url), Variant(false)});
    if (args.noRedirect)
        request.Put("Option", Variant(std::int32_t{0}), {Variant(kRedirectOption)});

    InOut extraHeaders(args.extraHeaders);
    if (extraHeaders->empty())
        *extraHeaders = DefaultFetchHeaders(url);

    // Cookies the store holds for the domain, overridden by the caller's of the same name.
    InOut cookies(args.cookies);
    std::string stored = ReadStoredCookies(HostOfUrl(url, true));
    *cookies = MergeCookies(stored, *cookies);
    if (!cookies->empty())
        request.Call("SetRequestHeader", {Variant("Cookie"), Variant(*cookies)});

    SetExtraHeaders(request, *extraHeaders);
    Send(request, args);

    Variant body = request.Get("ResponseBody");
    automation::Bytes bytes;
    body.ToBytes(bytes);
    body = Variant();
    std::string result(bytes.begin(), bytes.end());

    InOut responseHeaders(args.responseHeaders);
    *responseHeaders = request.CallText("GetAllResponseHeaders");

    // A target left over from an earlier call must not pass for this response's.
    InOut redirectTarget(args.redirectTarget);
    redirectTarget->clear();
    InOut newCookies(args.newCookies);
    ReadResponseHeaders(*responseHeaders, *redirectTarget, *newCookies);

    MergeCookies(*cookies, *newCookies);
    StoreCookies(HostOfUrl(url, true), *cookies);
    if (redirectTarget->empty())
        *redirectTarget = *responseHeaders;

    automation::CoUninitialize();
    return result;
}

} // namespace vm::net
