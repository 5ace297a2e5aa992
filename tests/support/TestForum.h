#pragma once
// A stand-in for the forum's web services on 127.0.0.1, for the update tests and the demo: the
// two information pages (the Base64 document between its markers), the cloud drive's file pages
// and its download scheduler, which hands out registered files (7z archives of a catalogue or
// of a stand-in engine). Each service can fail, stall or return damaged data on request.
//
// Texts given to it (document keys and values) are GBK, as the program reads them.

#include "support/LoopbackHttp.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm::testing {

struct ArchiveItem;

class TestForum {
public:
    enum class Page { Primary, Fallback };
    enum class PageMode {
        Document,     // GBK page with the document between the markers
        Utf8Document, // the same page in UTF-8: readable only after conversion to GBK
        NoMarkers,    // an ordinary page
        ServerError,  // 500 with an error page
        Refuse,       // the connection closes without an answer
        Stall,        // never answers (until the forum goes)
    };
    enum class FileMode {
        Serve,    // the registered bytes
        NotFound, // 404 with an HTML error page
        Damaged,  // the bytes cut in half: a 7z signature in front of a broken archive
        Corrupt,  // whole length and intact headers, packed data overwritten near the start
        Empty,    // 200 with no body
        Stall,    // never answers
    };

    TestForum();
    ~TestForum();
    TestForum(const TestForum&) = delete;
    TestForum& operator=(const TestForum&) = delete;

    // The document's entries KEY(VALUE)KEY, in this order; a second value of a key replaces it.
    void SetEntry(std::string_view key, std::string_view value);
    void RemoveEntry(std::string_view key);
    // The document as the page carries it, before Base64.
    std::string DocumentText() const;

    void SetPageMode(Page page, PageMode mode);
    // The first `count` requests of the page get `mode`, later ones the page's own mode.
    void FailFirst(Page page, int count, PageMode mode = PageMode::NoMarkers);
    // Serves these bytes as the page instead (after any FailFirst).
    void SetRawPage(Page page, std::string bytes);

    // A file of the cloud drive under its identifier.
    void SetFile(std::string_view id, std::string bytes);
    void SetFileMode(std::string_view id, FileMode mode);
    // The cloud drive's page of a file: cloud site + "/file/id_<id>.html".
    std::string FilePage(std::string_view id) const;

    // The forum's address ("http://127.0.0.1:<port>") and the addresses of its pages.
    std::string Address() const;
    std::string PageAddress(Page page) const;
    int Port() const { return server_.Port(); }

    // Requests that arrived, and how many asked for a path beginning with the prefix.
    std::vector<ReceivedRequest> Requests() const { return server_.Requests(); }
    int RequestCount(std::string_view pathPrefix) const;

    // Writes set/Endpoints.ini under the program folder (a Linux path) so that every address
    // of the program points here.
    void WriteEndpoints(const std::filesystem::path& programFolder) const;

    // The Base64 page for a document text: GBK markers, lines of 76 characters.
    static std::string InformationPage(std::string_view document);

private:
    void Answer(const ReceivedRequest& request, HttpPeer& peer);
    void AnswerPage(Page page, HttpPeer& peer);
    void AnswerFile(std::string_view target, HttpPeer& peer);

    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> entries_;
    std::map<Page, PageMode> modes_;
    std::map<Page, std::pair<int, PageMode>> failures_;
    std::map<Page, std::string> rawPages_;
    std::map<std::string, std::pair<std::string, FileMode>> files_;
    LoopbackHttpServer server_;
};

// The bytes of a 7z archive of the items, made with 7zz; "" when 7zz failed.
std::string SevenZipBytes(const std::vector<ArchiveItem>& items);

// GBK <-> UTF-8 for fixtures written in UTF-8 source.
std::string GbkFromUtf8(std::string_view utf8);
std::string GbkFromUtf8(std::u8string_view utf8);
std::string Utf8FromGbk(std::string_view gbk);

} // namespace vm::testing
