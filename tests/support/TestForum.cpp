#include "support/TestForum.h"

#include "support/SevenZip.h"
#include "support/TempFolder.h"

#include <algorithm>
#include <fstream>
#include <iconv.h>

namespace vm::testing {
namespace {

// Long enough for any test, short enough that a forgotten stall cannot hang a run for ever.
constexpr int kStallMs = 10 * 60 * 1000;

std::string Iconv(std::string_view bytes, const char* from, const char* to) {
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::string out(bytes.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1))
        return {};
    out.resize(out.size() - outLeft);
    return out;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63],
                kAlphabet[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], '='};
    }
    return out;
}

std::string Html(int status, std::string_view body) {
    return LoopbackHttpServer::Response(status, "Content-Type: text/html\r\nConnection: close\r\n",
                                        body);
}

std::string ValueAfter(std::string_view text, std::string_view key) {
    const std::size_t at = text.find(key);
    if (at == std::string_view::npos)
        return {};
    const std::string_view rest = text.substr(at + key.size());
    return std::string(rest.substr(0, rest.find('&')));
}

} // namespace

TestForum::TestForum()
    : server_([this](const ReceivedRequest& request, HttpPeer& peer) { Answer(request, peer); }) {
    modes_[Page::Primary] = PageMode::Document;
    modes_[Page::Fallback] = PageMode::Document;
}

TestForum::~TestForum() = default;

void TestForum::SetEntry(std::string_view key, std::string_view value) {
    std::lock_guard guard(mutex_);
    for (auto& entry : entries_) {
        if (entry.first == key) {
            entry.second = std::string(value);
            return;
        }
    }
    entries_.emplace_back(key, value);
}

void TestForum::RemoveEntry(std::string_view key) {
    std::lock_guard guard(mutex_);
    std::erase_if(entries_, [&](const auto& entry) { return entry.first == key; });
}

std::string TestForum::DocumentText() const {
    std::lock_guard guard(mutex_);
    std::string text = GbkFromUtf8(u8"Vellumark 服务器信息\r\n");
    for (const auto& [key, value] : entries_)
        text += key + "(" + value + ")" + key + "\r\n";
    return text;
}

void TestForum::SetPageMode(Page page, PageMode mode) {
    std::lock_guard guard(mutex_);
    modes_[page] = mode;
}

void TestForum::FailFirst(Page page, int count, PageMode mode) {
    std::lock_guard guard(mutex_);
    failures_[page] = {count, mode};
}

void TestForum::SetRawPage(Page page, std::string bytes) {
    std::lock_guard guard(mutex_);
    rawPages_[page] = std::move(bytes);
}

void TestForum::SetFile(std::string_view id, std::string bytes) {
    std::lock_guard guard(mutex_);
    files_[std::string(id)] = {std::move(bytes), FileMode::Serve};
}

void TestForum::SetFileMode(std::string_view id, FileMode mode) {
    std::lock_guard guard(mutex_);
    files_[std::string(id)].second = mode;
}

std::string TestForum::FilePage(std::string_view id) const {
    return Address() + "/file/id_" + std::string(id) + ".html";
}

std::string TestForum::Address() const {
    return "http://127.0.0.1:" + std::to_string(server_.Port());
}

std::string TestForum::PageAddress(Page page) const {
    return Address() +
           (page == Page::Primary ? "/blog/vellumark-info.html" : "/notes/vellumark-info.html");
}

int TestForum::RequestCount(std::string_view pathPrefix) const {
    int count = 0;
    for (const ReceivedRequest& request : server_.Requests())
        if (std::string_view(request.target).substr(0, pathPrefix.size()) == pathPrefix)
            ++count;
    return count;
}

void TestForum::WriteEndpoints(const std::filesystem::path& programFolder) const {
    std::filesystem::create_directories(programFolder / "set");
    std::ofstream ini(programFolder / "set" / "Endpoints.ini", std::ios::binary);
    ini << "[endpoints]\r\n"
        << "forum=" << Address() << "\r\n"
        << "info_primary=" << PageAddress(Page::Primary) << "\r\n"
        << "info_fallback=" << PageAddress(Page::Fallback) << "\r\n"
        << "cloud_site=" << Address() << "\r\n"
        << "cloud_scheduler=" << Address() << "\r\n"
        << "blog_prefix=" << Address() << "\r\n"
        << "chat=" << Address() << "\r\n"
        << "vendor=" << Address() << "\r\n";
}

std::string TestForum::InformationPage(std::string_view document) {
    const std::string encoded = Base64(document);
    std::string lines;
    for (std::size_t i = 0; i < encoded.size(); i += 76)
        lines += encoded.substr(i, 76) + "\r\n";
    return GbkFromUtf8(u8"<html><head><title>程序信息</title></head><body><p>正文开始</p>"
                       u8"<div class=\"post\">数据流[") +
           lines + GbkFromUtf8(u8"]数据流</div><p>正文结束</p></body></html>");
}

void TestForum::Answer(const ReceivedRequest& request, HttpPeer& peer) {
    const std::string_view target = request.target;
    if (target.starts_with("/blog/"))
        AnswerPage(Page::Primary, peer);
    else if (target.starts_with("/notes/"))
        AnswerPage(Page::Fallback, peer);
    else if (target.starts_with("/cdlsched/getdl"))
        AnswerFile(target, peer);
    else if (target.starts_with("/file/id_"))
        peer.Send(Html(200, "<html><body>cloud drive file page</body></html>"));
    else
        peer.Send(Html(404, "<html><body>not found</body></html>"));
    peer.Close();
}

void TestForum::AnswerPage(Page page, HttpPeer& peer) {
    PageMode mode;
    std::string raw;
    {
        std::lock_guard guard(mutex_);
        mode = modes_[page];
        if (auto failing = failures_.find(page);
            failing != failures_.end() && failing->second.first > 0) {
            --failing->second.first;
            mode = failing->second.second;
        } else if (auto found = rawPages_.find(page); found != rawPages_.end()) {
            peer.Send(Html(200, found->second));
            return;
        }
    }
    switch (mode) {
    case PageMode::Document:
        peer.Send(Html(200, InformationPage(DocumentText())));
        return;
    case PageMode::Utf8Document:
        peer.Send(Html(200, Utf8FromGbk(InformationPage(DocumentText()))));
        return;
    case PageMode::NoMarkers:
        peer.Send(Html(200, "<html><body>an ordinary article</body></html>"));
        return;
    case PageMode::ServerError:
        peer.Send(Html(500, "<html><body>internal error</body></html>"));
        return;
    case PageMode::Refuse:
        return;
    case PageMode::Stall:
        peer.Stall(kStallMs);
        return;
    }
}

void TestForum::AnswerFile(std::string_view target, HttpPeer& peer) {
    std::string bytes;
    FileMode mode = FileMode::NotFound;
    {
        std::lock_guard guard(mutex_);
        if (auto found = files_.find(ValueAfter(target, "fid=")); found != files_.end())
            std::tie(bytes, mode) = found->second;
    }
    const std::string header = "Content-Type: application/octet-stream\r\nConnection: close\r\n";
    switch (mode) {
    case FileMode::Serve:
        peer.Send(LoopbackHttpServer::Response(200, header, bytes));
        return;
    case FileMode::NotFound:
        peer.Send(Html(404, "<html><body>file not found</body></html>"));
        return;
    case FileMode::Damaged:
        peer.Send(LoopbackHttpServer::Response(200, header, bytes.substr(0, bytes.size() / 2)));
        return;
    case FileMode::Corrupt:
        // Past the 32-byte signature header, inside the packed streams.
        for (std::size_t i = 40; i < std::min<std::size_t>(bytes.size() / 2, 4096); ++i)
            bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
        peer.Send(LoopbackHttpServer::Response(200, header, bytes));
        return;
    case FileMode::Empty:
        peer.Send(LoopbackHttpServer::Response(200, header, ""));
        return;
    case FileMode::Stall:
        peer.Stall(kStallMs);
        return;
    }
}

std::string SevenZipBytes(const std::vector<ArchiveItem>& items) {
    const TempFolder scratch("vm-forum-7z");
    const std::filesystem::path archive = scratch / "archive.7z";
    if (!MakeSevenZip(archive, items))
        return {};
    return ReadBytes(archive);
}

std::string GbkFromUtf8(std::string_view utf8) {
    return Iconv(utf8, "UTF-8", "GBK");
}

std::string GbkFromUtf8(std::u8string_view utf8) {
    return GbkFromUtf8(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

std::string Utf8FromGbk(std::string_view gbk) {
    return Iconv(gbk, "GBK", "UTF-8");
}

} // namespace vm::testing
