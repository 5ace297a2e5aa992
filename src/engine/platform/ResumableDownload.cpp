#include "engine/platform/ResumableDownload.h"

#include "engine/platform/PartFile.h"
#include "platform/fs/File.h"
#include "platform/fs/Path.h"
#include "platform/http/Transfer.h"
#include "platform/text/Gbk.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace vm::engine {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
// Enough of the body to tell a page from a file.
constexpr std::size_t kSniffBytes = 512;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != prefix[i])
            return false;
    return true;
}

// The media type of a Content-Type value, lower case, without parameters.
std::string MediaType(std::string_view contentType) {
    std::string type;
    for (const char c : contentType.substr(0, contentType.find(';')))
        if (c != ' ' && c != '\t')
            type += Lower(c);
    return type;
}

bool BeginsLikeHtml(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF"))
        head.remove_prefix(3);
    while (!head.empty() &&
           (head[0] == ' ' || head[0] == '\t' || head[0] == '\r' || head[0] == '\n'))
        head.remove_prefix(1);
    for (const std::string_view start :
         {"<!doctype", "<html", "<head", "<body", "<script", "<title", "<meta", "<!--"})
        if (StartsWithNoCase(head, start))
            return true;
    return false;
}

// Archives and programs the catalogue's resources come as.
bool HasFileSignature(std::string_view head) {
    for (const std::string_view signature :
         {std::string_view("Rar!\x1A\x07"), std::string_view("7z\xBC\xAF\x27\x1C"),
          std::string_view("PK\x03\x04"), std::string_view("\x1F\x8B"), std::string_view("BZh"),
          std::string_view("\xFD"
                           "7zXZ"),
          std::string_view("MSCF"), std::string_view("MZ"),
          std::string_view("\x7F"
                           "ELF")})
        if (head.starts_with(signature))
            return true;
    return false;
}

std::int64_t ParseCount(std::string_view text) {
    std::int64_t value = -1;
    const char* end = text.data() + text.size();
    const auto parsed = std::from_chars(text.data(), end, value);
    return parsed.ec == std::errc() && parsed.ptr == end && value >= 0 ? value : -1;
}

struct ContentRange {
    std::int64_t first = -1; // -1 for "bytes */N"
    std::int64_t total = -1; // -1 for ".../*"
};

// "bytes 100-199/1000" or "bytes */1000".
std::optional<ContentRange> ParseContentRange(std::string_view value) {
    if (!value.starts_with("bytes "))
        return std::nullopt;
    value.remove_prefix(6);
    const std::size_t slash = value.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    ContentRange range;
    const std::string_view span = value.substr(0, slash);
    const std::string_view total = value.substr(slash + 1);
    if (total != "*" && (range.total = ParseCount(total)) < 0)
        return std::nullopt;
    if (span != "*") {
        const std::size_t dash = span.find('-');
        if (dash == std::string_view::npos || (range.first = ParseCount(span.substr(0, dash))) < 0)
            return std::nullopt;
    }
    return range;
}

// What lets a later request ask "only if the file is still this one": a strong ETag, else
// the modification date. A weak ETag may not be used with If-Range.
std::string ValidatorOf(std::string_view headerBlock) {
    const std::string etag = http::HeaderValue(headerBlock, "ETag");
    if (!etag.empty() && !etag.starts_with("W/"))
        return etag;
    return http::HeaderValue(headerBlock, "Last-Modified");
}

FetchError ErrorOf(http::TransferError error) {
    switch (error) {
    case http::TransferError::BadUrl:
        return FetchError::BadAddress;
    case http::TransferError::Resolve:
        return FetchError::Resolve;
    case http::TransferError::Connect:
        return FetchError::Connect;
    case http::TransferError::Timeout:
        return FetchError::Timeout;
    case http::TransferError::Secure:
        return FetchError::Secure;
    case http::TransferError::TooManyRedirects:
        return FetchError::Redirects;
    default:
        return FetchError::Interrupted;
    }
}

bool IsPermanent(FetchError error) {
    return error == FetchError::BadAddress || error == FetchError::Secure ||
           error == FetchError::Redirects;
}

} // namespace

bool IsWebPageAnswer(std::string_view contentType, std::string_view head, std::string_view target) {
    const std::string extension = text::ToLowerAscii(fs::ExtensionOf(target));
    if (extension == ".htm" || extension == ".html")
        return false;
    const std::string type = MediaType(contentType);
    const bool htmlType = type == "text/html" || type == "application/xhtml+xml";
    return BeginsLikeHtml(head) || (htmlType && !HasFileSignature(head));
}

ResumableDownload::ResumableDownload(DownloadRequest request, std::string target,
                                     std::string address, FetchLimits limits)
    : request_(std::move(request)), target_(std::move(target)), address_(std::move(address)),
      limits_(limits) {}

ResumableDownload::~ResumableDownload() = default;

std::string ResumableDownload::PartPath(std::string_view target) {
    return std::string(target) + ".part";
}

std::string ResumableDownload::InfoPath(std::string_view target) {
    return std::string(target) + ".part.info";
}

void ResumableDownload::Cancel() {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (exchange_ != nullptr)
        exchange_->Cancel();
    wake_.notify_all();
}

bool ResumableDownload::Cancelled() const {
    const std::lock_guard lock(mutex_);
    return cancelled_;
}

void ResumableDownload::Pause(int ms) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return cancelled_; });
}

void ResumableDownload::Discard() const {
    part_->Truncate();
    fs::DeleteFile(InfoPath(target_));
}

void ResumableDownload::NoteGrowth() {
    const std::int64_t size = part_->Size();
    if (size > furthest_) {
        furthest_ = size;
        progressed_ = true;
    }
}

std::int64_t ResumableDownload::ResumableSize(std::string& validator) const {
    const std::int64_t size = part_->Size();
    const std::optional<std::string> info = fs::ReadFile(InfoPath(target_));
    // Bytes whose origin is not on record could belong to any file: they start over.
    if (size > 0 && info) {
        const std::vector<std::string> lines = text::Split(*info, "\n");
        if (!lines.empty() && lines[0] == address_) {
            validator = lines.size() > 1 ? lines[1] : std::string();
            return size;
        }
    }
    Discard();
    return 0;
}

FetchOutcome ResumableDownload::Run(const std::function<void(const FetchProgress&)>& progress) {
    PartFile::LockResult lock = PartFile::LockResult::Failed;
    part_ = PartFile::Lock(PartPath(target_), lock);
    if (part_ == nullptr)
        return {FetchResult::Failed,
                lock == PartFile::LockResult::Busy ? FetchError::Busy : FetchError::WriteFailed, 0,
                false};
    furthest_ = part_->Size();
    FetchOutcome outcome = RunLocked(progress);
    // An empty part is worth nothing to a later run; it goes while the lock is still held.
    if (outcome.result != FetchResult::Complete && part_->Size() == 0) {
        fs::DeleteFile(InfoPath(target_));
        part_->Remove();
    }
    part_.reset();
    return outcome;
}

FetchOutcome
ResumableDownload::RunLocked(const std::function<void(const FetchProgress&)>& progress) {
    int fruitless = 0;
    for (;;) {
        progressed_ = false;
        FetchOutcome outcome;
        switch (RunAttempt(progress, outcome)) {
        case Attempt::Complete:
            outcome.result = FetchResult::Complete;
            outcome.error = FetchError::None;
            return outcome;
        case Attempt::Cancelled:
            Discard();
            return {FetchResult::Cancelled, FetchError::None, outcome.httpStatus, false};
        case Attempt::Failed:
            outcome.partKept = part_->Size() > 0;
            return outcome;
        case Attempt::Retry:
            break;
        }
        fruitless = progressed_ ? 0 : fruitless + 1;
        if (fruitless >= limits_.attemptsWithoutProgress) {
            outcome.partKept = part_->Size() > 0;
            return outcome;
        }
        Pause(limits_.retryPauseMs * std::max(fruitless, 1));
        if (Cancelled()) {
            Discard();
            return {FetchResult::Cancelled, FetchError::None, 0, false};
        }
    }
}

ResumableDownload::Attempt
ResumableDownload::RunAttempt(const std::function<void(const FetchProgress&)>& progress,
                              FetchOutcome& outcome) {
    const auto fail = [&outcome](FetchError error, Attempt attempt) {
        outcome.error = error;
        return attempt;
    };
    std::string validator;
    const std::int64_t offset = ResumableSize(validator);

    http::OutgoingRequest outgoing;
    outgoing.url = request_.url;
    outgoing.method = "GET";
    outgoing.headers = request_.headers;
    outgoing.userAgent = "Vellumark-up/1.4";
    outgoing.systemProxy = true;
    outgoing.timeouts.connectMs = limits_.connectMs;
    outgoing.timeouts.sendMs = limits_.idleMs;
    outgoing.timeouts.receiveMs = limits_.idleMs;
    if (offset > 0) {
        outgoing.headers.push_back("Range: bytes=" + std::to_string(offset) + "-");
        if (!validator.empty())
            outgoing.headers.push_back("If-Range: " + validator);
    }

    http::Exchange exchange(outgoing, http::RedirectPolicy{}, nullptr);
    {
        const std::lock_guard lock(mutex_);
        if (cancelled_)
            return Attempt::Cancelled;
        exchange_ = &exchange;
    }
    struct Release {
        ResumableDownload& self;
        ~Release() {
            const std::lock_guard lock(self.mutex_);
            self.exchange_ = nullptr;
        }
    } release{*this};

    const auto failedRequest = [&] {
        if (exchange.Error() == http::TransferError::Cancelled || Cancelled())
            return Attempt::Cancelled;
        const FetchError error = ErrorOf(exchange.Error());
        return fail(error, IsPermanent(error) ? Attempt::Failed : Attempt::Retry);
    };
    if (!exchange.AwaitHeaders() || exchange.Response() == nullptr)
        return failedRequest();

    const http::Transfer& response = *exchange.Response();
    const int status = response.Status();
    const std::string& headers = response.HeaderBlock();
    const std::optional<ContentRange> range =
        ParseContentRange(http::HeaderValue(headers, "Content-Range"));
    outcome.httpStatus = status;

    bool keep = false;
    std::int64_t total = -1;
    bool bodyFollows = true;
    if (status == 206 && offset > 0) {
        if (!range || range->first != offset) {
            Discard();
            return fail(FetchError::BadResume, Attempt::Retry);
        }
        keep = true;
        total = range->total;
    } else if (status == 416 && offset > 0) {
        // The part may already hold the whole file (the engine ended between the last byte
        // and the rename); otherwise the file on the server changed size and starts over.
        if (!range || range->total != offset) {
            Discard();
            return fail(FetchError::Changed, Attempt::Retry);
        }
        keep = true;
        total = offset;
        bodyFollows = false;
    } else if (status == 200) {
        total = ParseCount(http::HeaderValue(headers, "Content-Length"));
    } else if (status >= 500 || status == 408 || status == 429) {
        return fail(FetchError::Unavailable, Attempt::Retry);
    } else {
        Discard();
        return fail(status == 404 ? FetchError::NotFound : FetchError::Refused, Attempt::Failed);
    }

    std::array<std::uint8_t, kChunk> buffer;
    std::size_t buffered = 0;
    if (status == 200) {
        // Looked at before the part is emptied: a page in the file's place (a cloud drive's
        // "file expired", a login form) is not the file, and a part left by an earlier run
        // stays for a later one.
        while (buffered < kSniffBytes) {
            const std::size_t n = exchange.Read(buffer.data() + buffered, buffer.size() - buffered);
            if (n == 0)
                break;
            buffered += n;
        }
        const std::string_view head(reinterpret_cast<const char*>(buffer.data()), buffered);
        if (IsWebPageAnswer(http::HeaderValue(headers, "Content-Type"), head, target_))
            return fail(FetchError::WebPage, Attempt::Failed);
    }

    if (!keep &&
        (!part_->Truncate() ||
         !fs::WriteFileAtomic(InfoPath(target_), address_ + "\n" + ValidatorOf(headers) + "\n")))
        return fail(FetchError::WriteFailed, Attempt::Failed);
    progress({part_->Size(), total});

    if (buffered > 0) {
        if (!part_->Append(buffer.data(), buffered))
            return fail(FetchError::WriteFailed, Attempt::Failed);
        NoteGrowth();
        progress({part_->Size(), total});
    }
    while (bodyFollows) {
        const std::size_t n = exchange.Read(buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (!part_->Append(buffer.data(), n))
            return fail(FetchError::WriteFailed, Attempt::Failed);
        NoteGrowth();
        progress({part_->Size(), total});
    }
    if (bodyFollows && exchange.Error() != http::TransferError::None)
        return failedRequest();
    if (total >= 0 && part_->Size() != total) {
        // More than announced cannot be the file; less is asked for again from where it ends.
        if (part_->Size() > total)
            Discard();
        return fail(FetchError::Length, Attempt::Retry);
    }
    if (part_->Size() == 0) {
        Discard();
        return fail(FetchError::Empty, Attempt::Failed);
    }
    if (!part_->Sync())
        return fail(FetchError::WriteFailed, Attempt::Failed);
    if (!part_->MoveTo(target_))
        return fail(FetchError::SaveFailed, Attempt::Failed);
    fs::DeleteFile(InfoPath(target_));
    return Attempt::Complete;
}

} // namespace vm::engine
