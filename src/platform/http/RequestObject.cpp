#include "platform/http/RequestObject.h"

#include "platform/automation/Com.h"
#include "platform/http/CookieStore.h"
#include "platform/http/Transfer.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <array>
#include <mutex>

namespace vm::http {
namespace {

using automation::HResult;
using automation::Invocation;
using automation::kMethod;
using automation::kPropertyGet;
using automation::kPropertyPut;
using automation::MemberTable;
using automation::Variant;

constexpr char kDefaultAgent[] = "Mozilla/4.0 (compatible; Win32; WinHttp.WinHttpRequest.5)";

enum OptionIndex {
    kUserAgent = 0,
    kUrl = 1,
    kSslErrorIgnoreFlags = 4,
    kEnableRedirects = 6,
    kHttpsToHttpRedirects = 12,
    kMaxRedirects = 14,
    kLastOption = 18,
};

// The texts the Windows object puts into its exceptions.
std::string DescriptionOf(TransferError error) {
    switch (error) {
    case TransferError::BadUrl:
        return "The URL is invalid";
    case TransferError::Resolve:
        return "The server name or address could not be resolved";
    case TransferError::Connect:
        return "A connection with the server could not be established";
    case TransferError::Timeout:
        return "The operation timed out";
    case TransferError::Cancelled:
        return "The operation has been canceled";
    case TransferError::Secure:
        return "A security error occurred";
    case TransferError::TooManyRedirects:
        return "The redirect failed because either the scheme changed or all attempts made to "
               "redirect failed (default is 5 attempts)";
    case TransferError::Send:
    case TransferError::Receive:
        return "The connection with the server was terminated abnormally";
    case TransferError::None:
    case TransferError::Other:
        break;
    }
    return "The server returned an invalid or unrecognized response";
}

bool ValidTimeout(const Variant& value, int& out) {
    std::int32_t ms = 0;
    if (!value.ToInt32(ms) || ms < -1)
        return false;
    out = ms <= 0 ? 0 : ms;
    return true;
}

// A header name is a token: no blanks, colons or controls.
bool ValidHeaderName(std::string_view name) {
    if (name.empty())
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == ':')
            return false;
    }
    return true;
}

class RequestObject : public automation::NativeDispatch<RequestObject> {
public:
    static const MemberTable<RequestObject>& Members();

    HResult SetTimeouts(Invocation& call);
    HResult Open(Invocation& call);
    HResult SetRequestHeader(Invocation& call);
    HResult Option(Invocation& call);
    HResult SetOption(Invocation& call);
    HResult GetOption(Invocation& call);
    HResult SetProxy(Invocation& call);
    HResult Send(Invocation& call);
    HResult WaitForResponse(Invocation& call);
    HResult Status(Invocation& call);
    HResult StatusText(Invocation& call);
    HResult ResponseBody(Invocation& call);
    HResult ResponseText(Invocation& call);
    HResult ReadyState(Invocation& call);
    HResult GetAllResponseHeaders(Invocation& call);
    HResult GetResponseHeader(Invocation& call);
    HResult Abort(Invocation& call);

private:
    HResult NotOpen(Invocation& call) {
        return call.Throw("The requested operation cannot be carried out before the Open method "
                          "is called");
    }
    HResult NoResponse(Invocation& call) {
        return call.Throw("The data necessary to complete this operation is not yet available");
    }
    HResult ReadOption(Invocation& call, const Variant& index);
    HResult WriteOption(Invocation& call, const Variant& index, const Variant& value);

    Timeouts timeouts_{0, 60000, 30000, 30000};
    std::array<Variant, kLastOption + 1> options_ = [] {
        std::array<Variant, kLastOption + 1> options;
        options[kUserAgent] = Variant(kDefaultAgent);
        options[kSslErrorIgnoreFlags] = Variant(std::int32_t{0});
        options[kEnableRedirects] = Variant(true);
        options[kHttpsToHttpRedirects] = Variant(false);
        options[kMaxRedirects] = Variant(std::int32_t{10});
        return options;
    }();
    std::string proxy_;
    bool systemProxy_ = true;

    bool opened_ = false;
    std::string method_;
    std::string url_;
    std::vector<std::string> headers_;

    bool answered_ = false;
    int status_ = 0;
    std::string statusText_;
    std::string headerBlock_; // without the status line
    std::string body_;
    std::string finalUrl_;
    // Cookies the object's own redirects set, sent on the hops that follow.
    CookieStore cookies_;
};

const MemberTable<RequestObject>& RequestObject::Members() {
    using R = RequestObject;
    static const MemberTable<RequestObject> table = {
        {"SetTimeouts", kMethod, 4, &R::SetTimeouts},
        {"Open", kMethod, 5, &R::Open},
        {"SetRequestHeader", kMethod, 2, &R::SetRequestHeader},
        {"Option", kPropertyGet | kPropertyPut, 1, &R::Option},
        {"setOption", kMethod, 2, &R::SetOption},
        {"getOption", kMethod, 1, &R::GetOption},
        {"SetProxy", kMethod, 3, &R::SetProxy},
        {"Send", kMethod, 1, &R::Send},
        {"WaitForResponse", kMethod, 1, &R::WaitForResponse},
        {"Status", kPropertyGet, 0, &R::Status},
        {"StatusText", kPropertyGet, 0, &R::StatusText},
        {"ResponseBody", kPropertyGet, 0, &R::ResponseBody},
        {"ResponseText", kPropertyGet, 0, &R::ResponseText},
        {"readyState", kPropertyGet, 0, &R::ReadyState},
        {"GetAllResponseHeaders", kMethod, 0, &R::GetAllResponseHeaders},
        {"GetResponseHeader", kMethod, 1, &R::GetResponseHeader},
        {"Abort", kMethod, 0, &R::Abort},
    };
    return table;
}

HResult RequestObject::SetTimeouts(Invocation& call) {
    Timeouts next;
    if (call.Count() != 4 || !ValidTimeout(call.Arg(0), next.resolveMs) ||
        !ValidTimeout(call.Arg(1), next.connectMs) || !ValidTimeout(call.Arg(2), next.sendMs) ||
        !ValidTimeout(call.Arg(3), next.receiveMs))
        return automation::kInvalidArg;
    timeouts_ = next;
    return call.Return({});
}

HResult RequestObject::Open(Invocation& call) {
    std::string method;
    std::string url;
    if (!call.Has(0) || !call.Has(1) || !call.Arg(0).ToText(method) || !call.Arg(1).ToText(url))
        return automation::kInvalidArg;
    const std::string lower = text::ToLowerAscii(url.substr(0, 8));
    const bool http = lower.starts_with("http://") || lower.starts_with("https://");
    if (!http)
        return call.Throw("The URL does not use a recognized protocol");
    const std::size_t hostStart = url.find("//") + 2;
    if (hostStart >= url.size() || url.find_first_of("/?#:", hostStart) == hostStart)
        return call.Throw("The URL is invalid");
    if (method.empty() || !ValidHeaderName(method))
        return automation::kInvalidArg;
    opened_ = true;
    method_ = method;
    url_ = url;
    headers_.clear();
    answered_ = false;
    body_.clear();
    headerBlock_.clear();
    return call.Return({});
}

HResult RequestObject::SetRequestHeader(Invocation& call) {
    if (!opened_)
        return NotOpen(call);
    std::string name;
    std::string value;
    if (!call.Has(0) || !call.Arg(0).ToText(name) || !call.Arg(1).ToText(value))
        return automation::kInvalidArg;
    if (!ValidHeaderName(name) || value.find_first_of("\r\n") != std::string::npos)
        return call.Throw("The header could not be added because it is invalid");
    // Leading blanks of a value are not part of it.
    const std::size_t start = value.find_first_not_of(" \t");
    const std::string line = name + ": " + (start == std::string::npos ? "" : value.substr(start));
    std::erase_if(headers_, [&](const std::string& existing) {
        return text::EqualsNoCase(std::string_view(existing).substr(0, existing.find(':')), name);
    });
    headers_.push_back(line);
    return call.Return({});
}

HResult RequestObject::ReadOption(Invocation& call, const Variant& index) {
    std::int32_t i = -1;
    if (!index.ToInt32(i) || i < 0 || i > kLastOption)
        return automation::kInvalidArg;
    if (i == kUrl)
        return call.Return(Variant(answered_ ? finalUrl_ : url_));
    return call.Return(options_[static_cast<std::size_t>(i)]);
}

HResult RequestObject::WriteOption(Invocation& call, const Variant& index, const Variant& value) {
    std::int32_t i = -1;
    if (!index.ToInt32(i) || i < 0 || i > kLastOption || i == kUrl)
        return automation::kInvalidArg;
    Variant stored = value;
    bool flag = false;
    std::int32_t number = 0;
    std::string agent;
    switch (i) {
    case kEnableRedirects:
    case kHttpsToHttpRedirects:
        if (!value.ToBool(flag))
            return automation::kDispTypeMismatch;
        stored = Variant(flag);
        break;
    case kMaxRedirects:
    case kSslErrorIgnoreFlags:
        if (!value.ToInt32(number) || number < 0)
            return automation::kInvalidArg;
        stored = Variant(number);
        break;
    case kUserAgent:
        if (!value.ToText(agent) || agent.find_first_of("\r\n") != std::string::npos)
            return automation::kInvalidArg;
        stored = Variant(agent);
        break;
    default:
        break;
    }
    options_[static_cast<std::size_t>(i)] = stored;
    return call.Return({});
}

HResult RequestObject::Option(Invocation& call) {
    if (call.IsPut())
        return WriteOption(call, call.Arg(0), call.Value());
    return ReadOption(call, call.Arg(0));
}

HResult RequestObject::SetOption(Invocation& call) {
    return WriteOption(call, call.Arg(0), call.Arg(1));
}

HResult RequestObject::GetOption(Invocation& call) {
    return ReadOption(call, call.Arg(0));
}

HResult RequestObject::SetProxy(Invocation& call) {
    std::int32_t setting = 0;
    if (!call.Arg(0).ToInt32(setting))
        return automation::kInvalidArg;
    std::string server;
    if (setting == 2) {
        if (!call.Has(1) || !call.Arg(1).ToText(server) || server.empty())
            return automation::kInvalidArg;
        // "http=host:port" entries name the proxy per scheme; a bare entry serves them all.
        for (const std::string& entry : text::Split(server, ";")) {
            const std::string trimmed = text::Trim(entry);
            if (text::EqualsNoCase(trimmed.substr(0, 5), "http=")) {
                server = trimmed.substr(5);
                break;
            }
            if (trimmed.find('=') == std::string::npos) {
                server = trimmed;
                break;
            }
        }
    } else if (setting != 0 && setting != 1) {
        return automation::kInvalidArg;
    }
    // 0 is the default setting, the system's configuration; 1 is direct; 2 names the proxy.
    proxy_ = server;
    systemProxy_ = setting == 0;
    return call.Return({});
}

HResult RequestObject::Send(Invocation& call) {
    if (!opened_)
        return NotOpen(call);
    OutgoingRequest outgoing;
    outgoing.url = url_;
    outgoing.method = method_;
    outgoing.headers = headers_;
    outgoing.userAgent = options_[kUserAgent].Text();
    outgoing.proxy = proxy_;
    outgoing.systemProxy = systemProxy_;
    outgoing.timeouts = timeouts_;
    outgoing.verifyPeer = (options_[kSslErrorIgnoreFlags].IntValue() & 0x3300) != 0x3300;
    if (!HasHeader(outgoing.headers, "Accept"))
        outgoing.headers.insert(outgoing.headers.begin(), "Accept: */*");

    if (call.Has(0)) {
        const Variant& body = call.Arg(0);
        automation::Bytes bytes;
        std::string textBody;
        if (body.Type() == automation::VT_BYTES && body.ToBytes(bytes)) {
            outgoing.body.assign(bytes.begin(), bytes.end());
        } else if (!body.IsEmpty() && !body.IsNull() && body.ToText(textBody)) {
            outgoing.body = text::GbkToUtf8(textBody);
            if (!outgoing.body.empty() && !HasHeader(outgoing.headers, "Content-Type"))
                outgoing.headers.push_back("Content-Type: text/plain; Charset=UTF-8");
        } else if (!body.IsEmpty() && !body.IsNull()) {
            return automation::kDispTypeMismatch;
        }
    }

    answered_ = false;
    RedirectPolicy policy;
    policy.follow = options_[kEnableRedirects].IntValue() != 0;
    policy.httpsToHttp = options_[kHttpsToHttpRedirects].IntValue() != 0;
    policy.maxRedirects = static_cast<int>(options_[kMaxRedirects].IntValue());
    Exchange exchange(outgoing, policy, &cookies_);
    std::string body;
    if (!exchange.AwaitHeaders() || !exchange.ReadAll(body))
        return call.Throw(DescriptionOf(exchange.Error()));

    const Transfer& response = *exchange.Response();
    status_ = response.Status();
    statusText_ = response.StatusText();
    const std::string& block = response.HeaderBlock();
    const std::size_t firstLineEnd = block.find("\r\n");
    headerBlock_ = firstLineEnd == std::string::npos ? "" : block.substr(firstLineEnd + 2);
    body_ = std::move(body);
    finalUrl_ = exchange.FinalUrl();
    answered_ = true;
    return call.Return({});
}

HResult RequestObject::WaitForResponse(Invocation& call) {
    return call.Return(Variant(true));
}

HResult RequestObject::Status(Invocation& call) {
    return answered_ ? call.Return(Variant(static_cast<std::int32_t>(status_))) : NoResponse(call);
}

HResult RequestObject::StatusText(Invocation& call) {
    return answered_ ? call.Return(Variant(statusText_)) : NoResponse(call);
}

HResult RequestObject::ResponseBody(Invocation& call) {
    if (!answered_)
        return NoResponse(call);
    return call.Return(Variant(automation::Bytes(body_.begin(), body_.end())));
}

HResult RequestObject::ResponseText(Invocation& call) {
    if (!answered_)
        return NoResponse(call);
    std::string charset;
    const std::string type = text::ToLowerAscii(HeaderValue(headerBlock_, "Content-Type"));
    if (const std::size_t at = type.find("charset="); at != std::string::npos) {
        charset = type.substr(at + 8);
        charset = charset.substr(0, charset.find_first_of("; \t"));
        std::erase(charset, '"');
    }
    if (charset.empty() || charset == "utf-8" || charset == "utf8")
        return call.Return(Variant(text::Utf8ToGbk(body_)));
    if (charset == "gbk" || charset == "gb2312" || charset == "gb18030")
        return call.Return(Variant(body_));
    const std::string converted = text::Convert(body_, charset.c_str(), "CP936");
    return call.Return(Variant(converted.empty() && !body_.empty() ? body_ : converted));
}

HResult RequestObject::ReadyState(Invocation& call) {
    return call.Return(Variant(static_cast<std::int32_t>(answered_ ? 4 : opened_ ? 1 : 0)));
}

HResult RequestObject::GetAllResponseHeaders(Invocation& call) {
    return answered_ ? call.Return(Variant(headerBlock_)) : NoResponse(call);
}

HResult RequestObject::GetResponseHeader(Invocation& call) {
    if (!answered_)
        return NoResponse(call);
    std::string name;
    if (!call.Arg(0).ToText(name))
        return automation::kInvalidArg;
    for (const std::string& line : HeaderLines(headerBlock_)) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos &&
            text::EqualsNoCase(text::Trim(std::string_view(line).substr(0, colon)), name))
            return call.Return(Variant(text::Trim(std::string_view(line).substr(colon + 1))));
    }
    return call.Throw("The requested header was not found");
}

HResult RequestObject::Abort(Invocation& call) {
    opened_ = false;
    answered_ = false;
    body_.clear();
    headerBlock_.clear();
    return call.Return({});
}

void Register() {
    for (const char* progId :
         {"WinHttp.WinHttpRequest.5.1", "MSXML2.ServerXMLHTTP.6.0", "MSXML2.ServerXMLHTTP.5.0"})
        automation::RegisterClass(progId, "", &NewRequestObject);
}

[[maybe_unused]] const bool kRegisteredAtStartUp = (InstallHttpClasses(), true);

} // namespace

std::shared_ptr<automation::Dispatch> NewRequestObject() {
    return std::make_shared<RequestObject>();
}

void InstallHttpClasses() {
    static std::once_flag once;
    std::call_once(once, Register);
}

} // namespace vm::http
