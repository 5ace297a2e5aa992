// Damaged and hostile files: thousands of deterministic mutations of a small catalogue go
// through the real open. Each must end in success or a clear error, never take the test
// process down, and leave the target either filled or untouched.

#include "platform/ado/jet/JetReader.h"
#include "platform/ado/jet/JetReaderTesting.h"
#include "platform/ado/jet/MdbChild.h"

#include "JetTestSupport.h"
#include "mdbwriter/Catalogue.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace vm::ado::jet {
namespace {

using namespace vm::ado::jet::test;

std::string Mutate(const std::string& good, std::mt19937& random) {
    std::string bad = good;
    const std::size_t pages = good.size() / 4096;
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    switch (pick(6)) {
    case 0: // truncated anywhere after the header
        bad.resize(4096 + pick(good.size() - 4096));
        break;
    case 1: // a burst of random bytes in one page other than the header
    {
        const std::size_t page = 1 + pick(pages - 1);
        const std::size_t at = page * 4096 + pick(4096 - 16);
        for (std::size_t i = 0; i < 1 + pick(16); ++i)
            bad[at + i] = static_cast<char>(random());
        break;
    }
    case 2: // single flipped bits spread over the structural pages 1..3
        for (int i = 0; i < 8; ++i)
            bad[4096 + pick(3 * 4096)] ^= static_cast<char>(1 << pick(8));
        break;
    case 3: // a page wiped
        std::fill_n(bad.begin() + static_cast<std::ptrdiff_t>((1 + pick(pages - 1)) * 4096), 4096,
                    '\0');
        break;
    case 4: // a page replaced by another page
    {
        const std::size_t from = pick(pages), to = 1 + pick(pages - 1);
        std::copy_n(good.begin() + static_cast<std::ptrdiff_t>(from * 4096), 4096,
                    bad.begin() + static_cast<std::ptrdiff_t>(to * 4096));
        break;
    }
    default: // 16-bit fields set to extremes
        for (int i = 0; i < 4; ++i) {
            const std::size_t at = 4096 + pick(bad.size() - 4098);
            bad[at] = static_cast<char>(0xFF);
            bad[at + 1] = static_cast<char>(random() % 2 ? 0xFF : 0x7F);
        }
    }
    return bad;
}

// A catalogue of a few rows without a password.
void WriteSmallCatalogue(const std::string& path, int categories = 3, int resources = 5) {
    vm::mdbwriter::CatalogueShape shape;
    shape.categories = categories;
    shape.resources = resources;
    shape.password = "";
    std::string error;
    ASSERT_TRUE(vm::mdbwriter::WriteCatalogue(path, shape, &error)) << error;
}

TEST(DamagedFiles, NeverCrashTheProgram) {
    TempDir dir;
    const std::string goodPath = dir.file("good.mdb");
    ASSERT_NO_FATAL_FAILURE(WriteSmallCatalogue(goodPath, 12, 150));
    std::ifstream in(goodPath, std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), {});

    const int runs =
        std::getenv("VM_JET_DAMAGE_RUNS") ? std::atoi(std::getenv("VM_JET_DAMAGE_RUNS")) : 200;
    std::mt19937 random(20240611);
    int opened = 0, refused = 0, crashed = 0;
    const std::string path = dir.file("bad.mdb");
    for (int i = 0; i < runs; ++i) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << Mutate(good, random);
        Db db = MemoryDb();
        const JetOpenResult result = MaterialiseMdb(path, "", db.get());
        const Table tables = Query(db.get(), "select name from sqlite_master where type = 'table'");
        // With a tap the file opens or fails alike, and the rows taken are the rows copied
        // (every second file, to keep the time down).
        if (i % 2 == 0) {
            Db tapped = MemoryDb();
            CollectingTap tap("List");
            const JetOpenResult tappedResult = MaterialiseMdb(path, "", tapped.get(), &tap);
            EXPECT_EQ(tappedResult.ok, result.ok) << "run " << i << ": " << result.error;
            if (result.ok && tappedResult.ok && !tap.columns.empty() && tap.plain) {
                EXPECT_EQ(tap.rows, Query(db.get(), "select * from List order by rowid")) << i;
            }
        }
        if (result.ok) {
            ++opened;
        } else {
            ++refused;
            crashed += result.error.find("; it ") != std::string::npos;
            EXPECT_FALSE(result.error.empty());
            EXPECT_EQ(tables, Table{}) << "run " << i << ": " << result.error;
        }
    }
    std::printf("damaged files: %d opened, %d refused (%d with the reader crashing or exiting)\n",
                opened, refused, crashed);
    EXPECT_EQ(opened + refused, runs);
}

TEST(DamagedFiles, PageOneOfZerosOrMissingHasItsOwnError) {
    TempDir dir;
    const std::string path = dir.file("page1.mdb");
    for (const int resources : {5, 150, 1500}) {
        ASSERT_NO_FATAL_FAILURE(WriteSmallCatalogue(path, 12, resources));
        std::ifstream in(path, std::ios::binary);
        const std::string good((std::istreambuf_iterator<char>(in)), {});
        in.close();
        const std::string zeroed =
            good.substr(0, 4096) + std::string(4096, '\0') + good.substr(8192);
        for (const std::string& bad : {zeroed, good.substr(0, 4096), good.substr(0, 6000)}) {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << bad;
            Db db = MemoryDb();
            const JetOpenResult result = MaterialiseMdb(path, "", db.get());
            EXPECT_FALSE(result.ok) << resources;
            // Said before any reading process was started, not by its crash.
            EXPECT_TRUE(result.error.find("page 1") != std::string::npos ||
                        result.error.find("truncated") != std::string::npos)
                << result.error;
        }
    }
}

// The reader's own program is used when it sits beside the running executable. One left from
// another build refuses to read, and the open still succeeds through the executable itself;
// run by hand, the program only says what it is for.
TEST(ReadingChild, ReaderProgramOfAnotherBuildIsPassedOver) {
    TempDir dir;
    const std::string path = dir.file("ok.mdb");
    ASSERT_NO_FATAL_FAILURE(WriteSmallCatalogue(path));
    Db expected = MemoryDb();
    ASSERT_TRUE(MaterialiseMdb(path, "", expected.get()).ok);

    // A stand-in of another build beside this test program: it refuses as such a reader would.
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    const std::filesystem::path beside = self.parent_path() / kReaderProgram;
    ASSERT_FALSE(std::filesystem::exists(beside)) << beside;
    std::ofstream(beside) << "#!/bin/sh\nexit 71\n";
    std::filesystem::permissions(beside, std::filesystem::perms::owner_all);
    Db db = MemoryDb();
    const JetOpenResult result = MaterialiseMdb(path, "", db.get());
    std::filesystem::remove(beside);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(Query(db.get(), "select * from List"), Query(expected.get(), "select * from List"));

    const std::string program = std::string(VM_JET_READER_PROGRAM) + " 2>&1";
    FILE* run = ::popen(program.c_str(), "r");
    ASSERT_NE(run, nullptr);
    char line[256] = {};
    const bool said = std::fgets(line, sizeof line, run) != nullptr;
    const int status = ::pclose(run);
    EXPECT_TRUE(said && std::string(line).find("Access reader only") != std::string::npos) << line;
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

// Whatever the reading child does, the caller gets a clear failure and an untouched target,
// and none of the caller's exit handlers run in the child.
TEST(ReadingChild, FailuresBecomeOpenFailures) {
    TempDir dir;
    const std::string path = dir.file("ok.mdb");
    ASSERT_NO_FATAL_FAILURE(WriteSmallCatalogue(path));
    static std::string marker;
    marker = dir.file("exit-handler-ran");
    std::atexit([] { std::ofstream(marker) << "ran"; });

    // A sanitizer build takes its time reporting a crash: only the hang gets a short limit.
    const struct {
        ReaderFault fault;
        int silenceLimitMs;
        const char* error;
    } cases[] = {
        {ReaderFault::Crash, 60000, "the reader ended early"},
        {ReaderFault::Exit, 60000, "ended early"},
        {ReaderFault::Hang, 1000, "stopped answering"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        SetReaderFaultForTesting(c.fault, c.silenceLimitMs);
        Db db = MemoryDb();
        const JetOpenResult result = MaterialiseMdb(path, "", db.get());
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
        EXPECT_EQ(Query(db.get(), "select name from sqlite_master"), Table{});
    }
    SetReaderFaultForTesting(ReaderFault::None);
    EXPECT_FALSE(std::filesystem::exists(marker));
    Db db = MemoryDb();
    EXPECT_TRUE(MaterialiseMdb(path, "", db.get()).ok);
}

// Found by the in-process fuzzer: a usage-map row of length 0 makes libmdb dereference NULL.
// In-process that ends the program; through the reading child it fails the open.
class EmptyUsageMap : public ::testing::Test {
protected:
    void SetUp() override {
        vm::mdbwriter::CatalogueShape shape;
        shape.categories = 3;
        shape.resources = 5;
        shape.password = "";
        std::string error;
        ASSERT_TRUE(vm::mdbwriter::WriteCatalogue(path_, shape, &error)) << error;
        // Page 1 holds the usage maps: rows 0 and 1 are MSysObjects', row 2 is Tree's. Start
        // row 2 where row 1 starts and it has no bytes.
        std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
        char offset[2];
        file.seekg(4096 + 14 + 2);
        file.read(offset, 2);
        file.seekp(4096 + 14 + 4);
        file.write(offset, 2);
    }
    TempDir dir_;
    std::string path_ = dir_.file("empty-map.mdb");
};

TEST_F(EmptyUsageMap, CrashesLibmdbInProcess) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    EXPECT_DEATH(SendMdbTables(path_, null), "");
    ::close(null);
}

TEST_F(EmptyUsageMap, OnlyFailsTheOpen) {
    Db db = MemoryDb();
    const JetOpenResult result = MaterialiseMdb(path_, "", db.get());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("the reader"), std::string::npos) << result.error;
    EXPECT_EQ(Query(db.get(), "select name from sqlite_master"), Table{});
}

} // namespace
} // namespace vm::ado::jet
