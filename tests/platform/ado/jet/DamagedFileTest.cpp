// Damaged and hostile files: thousands of deterministic mutations of a small catalogue go
// through the real open. Each must end in success or a clear error, never take the test
// process down, and leave the target either filled or untouched.

#include "platform/ado/jet/JetReader.h"

#include "JetTestSupport.h"
#include "mdbwriter/Catalogue.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

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

TEST(DamagedFiles, NeverCrashTheProgram) {
    TempDir dir;
    const std::string goodPath = dir.file("good.mdb");
    vm::mdbwriter::CatalogueSpec spec;
    spec.categories = 12;
    spec.resources = 150;
    spec.password = "";
    std::string error;
    ASSERT_TRUE(vm::mdbwriter::WriteCatalogue(goodPath, spec, &error)) << error;
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
        if (result.ok) {
            ++opened;
        } else {
            ++refused;
            crashed += result.error.find("crashed") != std::string::npos;
            EXPECT_FALSE(result.error.empty());
            EXPECT_EQ(tables, Table{}) << "run " << i << ": " << result.error;
        }
    }
    std::printf("damaged files: %d opened, %d refused (%d by a crashing reader)\n", opened, refused,
                crashed);
    EXPECT_EQ(opened + refused, runs);
}

} // namespace
} // namespace vm::ado::jet
