#pragma once
// The server information document and its reader. The forum hides a small document inside an
// ordinary web page: Base64 between "数据流[" and "]数据流", decoding to a GBK text of entries
// KEY(VALUE)KEY. Every part of the program reads values from the one program-wide reader.

#include <mutex>
#include <string>
#include <string_view>

namespace vm::update {

constexpr std::string_view kDocumentStart = "数据流[";
constexpr std::string_view kDocumentEnd = "]数据流";

// The steps of reading a page, reachable one by one.

// The body of the page at `address` through the first request object that can be created
// ("WinHttp.WinHttpRequest.5.1", then the two "MSXML2.ServerXMLHTTP" versions); empty when
// none can, or when the request fails.
std::string FetchPageBody(std::string_view address);
// UTF-8 bytes as GBK through an "Adodb.Stream"; empty when the stream cannot be created.
std::string Utf8ToGbkThroughStream(std::string_view bytes);
// The text between the first start marker (ASCII case ignored) and the next end marker after
// it; everything after the start marker when the end is missing; "" without a start marker.
// The page counts only up to its first zero byte.
std::string TextBetweenMarkers(std::string_view page);
// Standard Base64; CR and LF are skipped, decoding stops at "=" and at any other byte outside
// the alphabet, whatever it held until then is kept.
std::string DecodeBase64(std::string_view text);
// The value of `key` in a document: after the first `key(` (exact case), up to the next
// `)key`. "" when either is missing.
std::string ValueIn(std::string_view document, std::string_view key);
// The whole decoding of a fetched page: markers, the UTF-8 retry when the markers yield
// nothing, CR LF removed, Base64 decoded, cut at the first zero byte.
std::string DecodeServerPage(std::string_view page);

// Holds the last decoded document. The check thread fetches while the GUI thread reads, so
// the document is guarded; a reader sees it empty until the first fetch succeeds.
class ServerInfoReader {
public:
    // Fetches and decodes the page and stores the result, which is "" on any failure.
    std::string Fetch(std::string_view address);
    std::string ValueOf(std::string_view key) const;
    std::string Document() const;
    void SetDocument(std::string document);
    void Clear() { SetDocument({}); }

private:
    mutable std::mutex mutex_;
    std::string document_;
};

// The program-wide reader.
ServerInfoReader& ServerInfo();

} // namespace vm::update
