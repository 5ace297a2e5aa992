// Downloads over real HTTP on 127.0.0.1: complete files, interrupted ones resumed with Range,
// servers that ignore Range or changed the file, and failures that must leave no file behind.

#include "engine/platform/ResumableDownload.h"
#include "support/LoopbackHttp.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace vm::engine {
namespace {

namespace fs = std::filesystem;
using testing::HttpPeer;
using testing::LoopbackHttpServer;
using testing::ReceivedRequest;
using testing::TempFolder;

std::string Body(std::size_t size) {
    std::string body(size, '\0');
    std::uint32_t x = 12345;
    for (char& c : body) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 24);
    }
    return body;
}

// A file server with the faults a download meets.
class FileServer {
public:
    explicit FileServer(std::string body)
        : body_(std::move(body)),
          server_([this](const ReceivedRequest& r, HttpPeer& p) { Answer(r, p); }) {}

    std::string Url() const { return server_.Url("/files/a.rar"); }
    std::vector<ReceivedRequest> Requests() const { return server_.Requests(); }

    std::atomic<int> cutFirst = 0; // that many responses stop half-way
    std::atomic<bool> ignoreRange = false;
    std::atomic<int> status = 200; // anything else: an error page
    std::atomic<bool> stall = false;
    std::atomic<bool> shortBody = false; // every answer stops half-way, ignoring Range
    std::string contentType;             // a Content-Type line when not empty
    std::string page;                    // served with 200 instead of the file when not empty
    std::string etag = "\"v1\"";

private:
    void Answer(const ReceivedRequest& request, HttpPeer& peer) {
        peer.Close();
        if (stall) {
            peer.Stall(60000);
            return;
        }
        if (status != 200) {
            peer.Send(LoopbackHttpServer::Response(status, "", "<html>no</html>"));
            return;
        }
        const std::string type = contentType.empty() ? "" : "Content-Type: " + contentType + "\r\n";
        if (!page.empty()) {
            peer.Send(LoopbackHttpServer::Response(200, type, page));
            return;
        }
        if (shortBody) {
            std::string response = LoopbackHttpServer::Response(200, type, body_);
            response.resize(response.size() - body_.size() / 2);
            peer.Send(response);
            return;
        }
        std::size_t first = 0;
        const std::string range = request.Header("Range");
        const std::string ifRange = request.Header("If-Range");
        const bool ranged =
            !ignoreRange && range.starts_with("bytes=") && (ifRange.empty() || ifRange == etag);
        if (ranged) {
            first = std::stoul(range.substr(6));
            if (first >= body_.size()) {
                peer.Send(LoopbackHttpServer::Response(
                    416, "Content-Range: bytes */" + std::to_string(body_.size()) + "\r\n", ""));
                return;
            }
        }
        std::string headers = "ETag: " + etag + "\r\n" + type;
        if (ranged)
            headers += "Content-Range: bytes " + std::to_string(first) + "-" +
                       std::to_string(body_.size() - 1) + "/" + std::to_string(body_.size()) +
                       "\r\n";
        std::string response =
            LoopbackHttpServer::Response(ranged ? 206 : 200, headers, body_.substr(first));
        if (cutFirst > 0) {
            --cutFirst;
            response.resize(response.size() - (body_.size() - first) / 2);
        }
        peer.Send(response);
    }

    std::string body_;
    LoopbackHttpServer server_;
};

class FetchTest : public ::testing::Test {
protected:
    std::string Target() const { return folder.windowsPath() + "a b.rar"; }
    fs::path TargetFile() const { return folder / "a b.rar"; }
    fs::path PartFile() const { return folder / "a b.rar.part"; }
    fs::path InfoFile() const { return folder / "a b.rar.part.info"; }

    FetchOutcome Fetch(const std::string& url, FetchLimits limits = Fast()) {
        ResumableDownload download({url, {}}, Target(), url, limits);
        return download.Run([this](const FetchProgress& p) { progress.push_back(p); });
    }

    static FetchLimits Fast() {
        FetchLimits limits;
        limits.retryPauseMs = 10;
        limits.attemptsWithoutProgress = 2;
        limits.connectMs = 2000;
        limits.idleMs = 2000;
        return limits;
    }

    TempFolder folder{"vm-fetch"};
    std::vector<FetchProgress> progress;
    const std::string body = Body(300000);
};

TEST_F(FetchTest, CompleteDownloadIsRenamedIntoPlaceAndLeavesNothingElse) {
    FileServer server(body);
    const FetchOutcome outcome = Fetch(server.Url());
    ASSERT_EQ(outcome.result, FetchResult::Complete) << static_cast<int>(outcome.error);
    EXPECT_EQ(testing::ReadBytes(TargetFile()), body);
    EXPECT_FALSE(fs::exists(PartFile()));
    EXPECT_FALSE(fs::exists(InfoFile()));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().received, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(progress.back().total, static_cast<std::int64_t>(body.size()));
}

TEST_F(FetchTest, InterruptedTransfersResumeWithRangeAndIfRange) {
    FileServer server(body);
    server.cutFirst = 2;
    const FetchOutcome outcome = Fetch(server.Url());
    ASSERT_EQ(outcome.result, FetchResult::Complete) << static_cast<int>(outcome.error);
    EXPECT_EQ(testing::ReadBytes(TargetFile()), body);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(requests[0].HasHeader("Range"));
    EXPECT_EQ(requests[1].Header("Range"), "bytes=150000-");
    EXPECT_EQ(requests[1].Header("If-Range"), "\"v1\"");
    EXPECT_EQ(requests[2].Header("Range"), "bytes=225000-");
}

TEST_F(FetchTest, APartLeftByAnEarlierRunIsContinued) {
    FileServer server(body);
    testing::WriteBytes(PartFile(), body.substr(0, 1000));
    testing::WriteBytes(InfoFile(), server.Url() + "\n\"v1\"\n");
    ASSERT_EQ(Fetch(server.Url()).result, FetchResult::Complete);
    EXPECT_EQ(testing::ReadBytes(TargetFile()), body);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("Range"), "bytes=1000-");
}

TEST_F(FetchTest, PartsThatCannotBeTrustedStartOver) {
    struct Case {
        const char* what;
        std::string info; // "" = no info file
        bool ignoreRange;
        std::string etag;
    };
    const Case cases[] = {
        {"no record of its origin", "", false, "\"v1\""},
        {"another address", "http://127.0.0.1:1/other.rar\n\"v1\"\n", false, "\"v1\""},
        {"the server ignores Range", "*\n\"v1\"\n", true, "\"v1\""},
        {"the file changed on the server", "*\n\"v0\"\n", false, "\"v1\""},
    };
    for (const Case& c : cases) {
        FileServer server(body);
        server.ignoreRange = c.ignoreRange;
        server.etag = c.etag;
        fs::remove(TargetFile());
        testing::WriteBytes(PartFile(), std::string(5000, 'x'));
        if (!c.info.empty())
            testing::WriteBytes(InfoFile(),
                                c.info[0] == '*' ? server.Url() + c.info.substr(1) : c.info);
        ASSERT_EQ(Fetch(server.Url()).result, FetchResult::Complete) << c.what;
        EXPECT_EQ(testing::ReadBytes(TargetFile()), body) << c.what;
        EXPECT_FALSE(fs::exists(PartFile())) << c.what;
    }
}

TEST_F(FetchTest, AWholePartIsRenamedWhenTheServerHasNothingMore) {
    FileServer server(body);
    testing::WriteBytes(PartFile(), body);
    testing::WriteBytes(InfoFile(), server.Url() + "\n\"v1\"\n");
    ASSERT_EQ(Fetch(server.Url()).result, FetchResult::Complete);
    EXPECT_EQ(testing::ReadBytes(TargetFile()), body);
    EXPECT_EQ(server.Requests().at(0).Header("Range"),
              "bytes=" + std::to_string(body.size()) + "-");
}

TEST_F(FetchTest, FailuresLeaveNoFileAndKeepAnOlderGoodOne) {
    struct Case {
        const char* what;
        int status;
        bool emptyBody;
        bool refused;
    };
    const Case cases[] = {
        {"404", 404, false, false},
        {"403", 403, false, false},
        {"500 every time", 500, false, false},
        {"empty body", 200, true, false},
        {"nothing listens", 200, false, true},
    };
    for (const Case& c : cases) {
        testing::WriteBytes(TargetFile(), "the good old file");
        FileServer server(c.emptyBody ? std::string() : body);
        server.status = c.status;
        const std::string url =
            c.refused ? "http://127.0.0.1:" + std::to_string(testing::ClosedPort()) + "/a.rar"
                      : server.Url();
        const FetchOutcome outcome = Fetch(url);
        EXPECT_EQ(outcome.result, FetchResult::Failed) << c.what;
        EXPECT_NE(outcome.error, FetchError::None) << c.what;
        EXPECT_EQ(testing::ReadBytes(TargetFile()), "the good old file") << c.what;
        EXPECT_FALSE(fs::exists(PartFile())) << c.what;
    }
}

TEST_F(FetchTest, GivingUpAfterInterruptionsKeepsThePartForTheNextRun) {
    FileServer server(body);
    server.cutFirst = 100;
    FetchLimits limits = Fast();
    limits.attemptsWithoutProgress = 1;
    // Every attempt brings half of what is missing; the count of fruitless attempts never
    // grows, so stop it from the outside after a few rounds.
    ResumableDownload download({server.Url(), {}}, Target(), server.Url(), limits);
    int calls = 0;
    const FetchOutcome outcome = download.Run([&](const FetchProgress&) {
        if (++calls == 20)
            server.status = 503;
    });
    EXPECT_EQ(outcome.result, FetchResult::Failed);
    EXPECT_FALSE(fs::exists(TargetFile()));
    EXPECT_GT(fs::file_size(PartFile()), body.size() / 2);
    EXPECT_TRUE(fs::exists(InfoFile()));

    server.cutFirst = 0;
    server.status = 200;
    ASSERT_EQ(Fetch(server.Url()).result, FetchResult::Complete);
    EXPECT_EQ(testing::ReadBytes(TargetFile()), body);
}

TEST_F(FetchTest, CancelEndsAStalledRequestAtOnceAndRemovesThePart) {
    FileServer server(body);
    server.stall = true;
    testing::WriteBytes(PartFile(), body.substr(0, 10));
    testing::WriteBytes(InfoFile(), server.Url() + "\n\"v1\"\n");
    ResumableDownload download({server.Url(), {}}, Target(), server.Url(), Fast());
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        download.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    const FetchOutcome outcome = download.Run([](const FetchProgress&) {});
    canceller.join();
    EXPECT_EQ(outcome.result, FetchResult::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(fs::exists(TargetFile()));
    EXPECT_FALSE(fs::exists(PartFile()));
    EXPECT_FALSE(fs::exists(InfoFile()));
}

TEST_F(FetchTest, AWebPageInTheFilesPlaceIsAFailureAndKeepsWhatWasThere) {
    struct Case {
        const char* what;
        std::string contentType;
        std::string page;
    };
    const Case cases[] = {
        {"an HTML page served as HTML", "text/html; charset=utf-8", "<p>file expired</p>"},
        {"an HTML page served as a file", "application/octet-stream",
         "\xEF\xBB\xBF\r\n  <!DOCTYPE html><html><body>expired</body></html>"},
        {"an HTML page without a type", "", "<HTML><HEAD><TITLE>404</TITLE></HEAD></HTML>"},
    };
    for (const Case& c : cases) {
        FileServer server(body);
        server.contentType = c.contentType;
        server.page = c.page;
        testing::WriteBytes(TargetFile(), "the good old file");
        testing::WriteBytes(PartFile(), body.substr(0, 1000));
        testing::WriteBytes(InfoFile(), server.Url() + "\n\"v1\"\n");
        const FetchOutcome outcome = Fetch(server.Url());
        EXPECT_EQ(outcome.result, FetchResult::Failed) << c.what;
        EXPECT_EQ(outcome.error, FetchError::WebPage) << c.what;
        EXPECT_EQ(testing::ReadBytes(TargetFile()), "the good old file") << c.what;
        // The part of the real file, left by an earlier run, waits for a better answer.
        EXPECT_EQ(testing::ReadBytes(PartFile()), body.substr(0, 1000)) << c.what;
        EXPECT_TRUE(outcome.partKept) << c.what;
    }
    // A file served with an HTML type is still the file.
    fs::remove(PartFile());
    fs::remove(InfoFile());
    const std::string rar = std::string("Rar!\x1A\x07\x00", 7) + body;
    FileServer mislabelled(rar);
    mislabelled.contentType = "text/html";
    ASSERT_EQ(Fetch(mislabelled.Url()).result, FetchResult::Complete);
    EXPECT_EQ(testing::ReadBytes(TargetFile()), rar);
}

TEST_F(FetchTest, WebPagesAreToldFromFiles) {
    EXPECT_TRUE(IsWebPageAnswer("text/html", "file expired", "a.rar"));
    EXPECT_TRUE(IsWebPageAnswer("TEXT/HTML ; charset=gbk", "\x00\x01", "a.rar"));
    EXPECT_TRUE(IsWebPageAnswer("application/xhtml+xml", "x", "main.7z"));
    EXPECT_TRUE(IsWebPageAnswer("", " \n<!-- moved -->", "a.rar"));
    EXPECT_FALSE(IsWebPageAnswer("text/html", "PK\x03\x04", "a.rar"));
    EXPECT_FALSE(IsWebPageAnswer("text/html", "7z\xBC\xAF\x27\x1C", "a.rar"));
    EXPECT_FALSE(IsWebPageAnswer("application/octet-stream", "<no tag>", "a.rar"));
    EXPECT_FALSE(IsWebPageAnswer("text/plain", "plain text", "a.rar"));
    EXPECT_FALSE(IsWebPageAnswer("text/html", "<html></html>", "Z:\\a\\page.HTM"));
}

TEST_F(FetchTest, ABodyAlwaysShorterThanAnnouncedEndsAndIsNeverKeptAsTheFile) {
    FileServer server(body);
    server.shortBody = true;
    const FetchOutcome outcome = Fetch(server.Url());
    EXPECT_EQ(outcome.result, FetchResult::Failed);
    EXPECT_FALSE(fs::exists(TargetFile()));
    // The first attempt brought half; the ones after it brought the same half again.
    EXPECT_LE(server.Requests().size(), 4u);
}

TEST_F(FetchTest, ASecondDownloadOfOneTargetLeavesTheFirstOneAlone) {
    FileServer server(body);
    server.stall = true;
    testing::WriteBytes(PartFile(), body.substr(0, 10));
    testing::WriteBytes(InfoFile(), server.Url() + "\n\"v1\"\n");
    ResumableDownload first({server.Url(), {}}, Target(), server.Url(), Fast());
    FetchOutcome firstOutcome;
    std::thread running([&] { firstOutcome = first.Run([](const FetchProgress&) {}); });
    while (server.Requests().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    const FetchOutcome second = Fetch(server.Url());
    EXPECT_EQ(second.result, FetchResult::Failed);
    EXPECT_EQ(second.error, FetchError::Busy);
    EXPECT_EQ(server.Requests().size(), 1u) << "the second one asked for nothing";
    EXPECT_EQ(testing::ReadBytes(PartFile()), body.substr(0, 10));
    EXPECT_TRUE(fs::exists(InfoFile()));

    first.Cancel();
    running.join();
    EXPECT_EQ(firstOutcome.result, FetchResult::Cancelled);
    // Once the first has let go, the target is free again.
    server.stall = false;
    ASSERT_EQ(Fetch(server.Url()).result, FetchResult::Complete);
    EXPECT_EQ(testing::ReadBytes(TargetFile()), body);
}

} // namespace
} // namespace vm::engine
