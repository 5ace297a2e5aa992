#include "catalogue/Queries.h"
#include "catalogue/LiteralExchangeSort.h"
#include "catalogue/MemoryCatalogue.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace vm::catalogue {
namespace {

using testing::MemoryCatalogue;

std::vector<std::string> Titles(const ResourceList& list) {
    std::vector<std::string> titles;
    for (std::size_t i = 0; i < list.size(); ++i)
        titles.push_back(list[i].title);
    return titles;
}

TEST(QueriesTest, PagesOfEight) {
    const std::vector<std::pair<std::size_t, PageTable>> cases = {
        {0, {{0, 0}}},
        {1, {{1, 1}}},
        {7, {{1, 7}}},
        {8, {{1, 8}}},
        {9, {{1, 8}, {9, 9}}},
        {16, {{1, 8}, {9, 16}}},
        {17, {{1, 8}, {9, 16}, {17, 17}}},
    };
    for (const auto& [count, pages] : cases)
        EXPECT_EQ(Paginate(count), pages) << count;
}

TEST(QueriesTest, LatestUpdatesAreTheLastSevenDaysLastRowFirst) {
    MemoryCatalogue m;
    const int newest = 1'400'000'000;
    m.Resource(1, "old", 0).modified = newest - kLatestWindowSeconds;      // exactly 7 days
    m.Resource(1, "edge", 9).modified = newest - kLatestWindowSeconds + 1; // a second later
    m.Resource(2, "newest", 5).modified = newest;
    m.Resource(2, "mid", 1).modified = newest - 86400;
    const auto data = m.Build();
    // Unsorted by weight: the table read backwards.
    EXPECT_EQ(Titles(LatestQuery(data)), (std::vector<std::string>{"mid", "newest", "edge"}));
    EXPECT_TRUE(LatestQuery(nullptr).empty());
}

TEST(QueriesTest, CategoryListIsExchangeSortedByWeight) {
    MemoryCatalogue m;
    m.Resource(1, "a", 2);
    m.Resource(2, "other", 0);
    m.Resource(1, "b", 1);
    m.Resource(1, "c", 2);
    m.Resource(1, "d", 1);
    m.Resource(1, "e", 0);
    const auto data = m.Build();
    const std::vector<std::int32_t> weights = {2, 1, 2, 1, 0};
    const auto order = testing::LiteralExchangeSortOrder(weights);
    const std::string names = "abcde";
    std::vector<std::string> expected;
    for (const auto k : order)
        expected.emplace_back(1, names[k]);
    EXPECT_EQ(Titles(CategoryQuery(data, 1)), expected);
    EXPECT_TRUE(CategoryQuery(data, 3).empty());
}

TEST(QueriesTest, ANullCategoryIsNotCategoryZero) {
    MemoryCatalogue m;
    m.Resource(0, "zero");
    m.Resource(0, "null");
    m.tables().listCategoryNull[1] = true;
    EXPECT_EQ(Titles(CategoryQuery(m.Build(), 0)), (std::vector<std::string>{"zero"}));
}

TEST(QueriesTest, SearchKeywords) {
    MemoryCatalogue m;
    m.Resource(1, "ABC tool").author = "bob";
    m.Resource(1, "Abc editor").author = "Bobby";
    m.Resource(1, "abc viewer").author = "alice";
    m.Resource(1, "xyz").author = "bob";
    m.Resource(1, "a then b").author = "";
    m.Resource(1, "").author = "carol";
    const auto data = m.Build();
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"abc,@bob", {"ABC tool", "Abc editor"}},
        {"ABC", {"ABC tool", "Abc editor", "abc viewer"}},
        {"a,,b", {"ABC tool", "Abc editor", "abc viewer", "a then b"}},
        {"then,,b", {"a then b"}},
        {"@", {"ABC tool", "Abc editor", "abc viewer", "xyz", ""}},
        {",", {"ABC tool", "Abc editor", "abc viewer", "xyz", "a then b"}},
        {"@bob,xyz", {"xyz"}},
        {"@BOB", {"ABC tool", "Abc editor", "xyz"}},
        {"nothing", {}},
        {"lab", {}}, // "tool" then "abc" in the next row
        {"rxy,", {}},
        {"", {}},
        {"请输入您要搜索的关键字", {}},
        {"请输入您要搜索的关键字,abc", {}},
    };
    for (const auto& [text, titles] : cases)
        EXPECT_EQ(Titles(SearchQuery(data, text)), titles) << text;
}

TEST(QueriesTest, SearchMatchesChineseAndNeverStartsOnATrailByte) {
    MemoryCatalogue m;
    m.Resource(1, text::Gbk(u8"超级列表框的高级用法"));
    // 斌 is B1 F3; a keyword of F3 B1-like bytes must not match across two characters.
    m.Resource(1, text::Gbk(u8"文件夹"));
    const auto data = m.Build();
    EXPECT_EQ(SearchQuery(data, text::Gbk(u8"列表框")).size(), 1u);
    const std::string folder = text::Gbk(u8"文件夹");
    const std::string straddle = folder.substr(1, 2); // trail byte of 文 + lead byte of 件
    EXPECT_TRUE(SearchQuery(data, straddle).empty());
}

// The folded byte search of the search query against the text routine it replaces, on texts
// made of ASCII letters and two-byte characters whose trail bytes are letters too.
TEST(QueriesTest, FoldedSearchAgreesWithTheTextRoutine) {
    const std::vector<std::string> pieces = {"a",        "A",        "b",        "B",
                                             "\xB0\x41", "\xB0\x61", "\xC1\x41", "\xB0\xA1",
                                             "\xA1\xA1", " ",        "\xB0"};
    std::mt19937 random(7);
    const auto make = [&](int most) {
        std::string text;
        const int n = std::uniform_int_distribution<int>(0, most)(random);
        for (int i = 0; i < n; ++i)
            text +=
                pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
        return text;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::string text = make(8);
        const std::string needle = make(3);
        ASSERT_EQ(ContainsFolded(text::ToLowerAscii(text), text::ToLowerAscii(needle)),
                  text::Contains(text, needle))
            << ::testing::PrintToString(text) << " / " << ::testing::PrintToString(needle);
    }
}

// The search against its literal procedure (every row, every keyword through the text
// routine, then the exchange procedure itself) on many small random catalogues: which rows
// match, across row boundaries and trail bytes, and the order of equal weights.
TEST(QueriesTest, SearchAgreesWithTheLiteralProcedure) {
    const std::vector<std::string> pieces = {
        "a", "A", "b", "\xB0\x41", "\xB0\x61", "\xC1\x41", "\xB0\xA1", "\xA1\xA1", "\xB0"};
    std::mt19937 random(11);
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const auto make = [&](std::size_t most) {
        std::string text;
        for (std::size_t i = pick(most + 1); i > 0; --i)
            text += pieces[pick(pieces.size())];
        return text;
    };
    const auto occurs = [](const std::string& text, std::string_view needle) {
        return needle.empty() ? !text.empty() : text::Contains(text, needle);
    };
    int hits = 0;
    for (int round = 0; round < 3000; ++round) {
        MemoryCatalogue m;
        const std::size_t rows = pick(12);
        for (std::size_t i = 0; i < rows; ++i)
            m.Resource(1, make(5), static_cast<int>(pick(3))).author = make(3);
        const auto data = m.Build();
        std::string search = make(2);
        for (std::size_t k = pick(3); k > 0; --k)
            search += (pick(3) == 0 ? ",@" : ",") + make(2);

        std::vector<ResourceRecord> literal;
        const std::vector<std::string> keywords = SplitKeywords(search);
        for (const ResourceRecord& r : data->List()) {
            bool all = !keywords.empty();
            for (const std::string& k : keywords) {
                const bool author = !k.empty() && k.front() == '@';
                all = all && occurs(author ? r.author : r.title,
                                    std::string_view(k).substr(author ? 1 : 0));
            }
            if (all)
                literal.push_back(r);
        }
        std::vector<std::int32_t> weights;
        for (const ResourceRecord& r : literal)
            weights.push_back(r.weight);
        std::vector<ResourceRecord> sorted;
        for (const std::uint32_t from : testing::LiteralExchangeSortOrder(weights))
            sorted.push_back(literal[from]);
        literal = std::move(sorted);
        const ResourceList found = SearchQuery(data, search);
        std::vector<ResourceRecord> got;
        for (std::size_t i = 0; i < found.size(); ++i)
            got.push_back(found[i]);
        ASSERT_EQ(got, literal) << ::testing::PrintToString(search);
        hits += static_cast<int>(got.size());
    }
    EXPECT_GT(hits, 1000);
}

TEST(QueriesTest, RandomPicksAreEightDistinctRowsWithoutVideo) {
    MemoryCatalogue m;
    for (int i = 1; i <= 20; ++i)
        m.Resource(1, "r" + std::to_string(i), i % 3).video = "v";
    const auto data = m.Build();
    // A generator that keeps repeating itself and strays out of range.
    const std::vector<std::uint32_t> draws = {5, 5, 0, 21, 5, 1, 20, 1, 2, 3, 3, 4, 6, 7};
    std::size_t next = 0;
    const ResourceList picks = RandomQuery(data, [&](std::uint32_t n) {
        EXPECT_EQ(n, 20u);
        return draws[next++];
    });
    ASSERT_EQ(picks.size(), 8u);
    std::set<std::string> titles;
    for (std::size_t i = 0; i < picks.size(); ++i) {
        titles.insert(picks[i].title);
        EXPECT_TRUE(picks[i].video.empty());
        if (i > 0) {
            EXPECT_LE(picks[i - 1].weight, picks[i].weight);
        }
    }
    EXPECT_EQ(titles, (std::set<std::string>{"r5", "r1", "r20", "r2", "r3", "r4", "r6", "r7"}));
    EXPECT_EQ(data->List()[0].video, "v");

    MemoryCatalogue small;
    for (int i = 1; i <= 7; ++i)
        small.Resource(1, "s");
    EXPECT_TRUE(RandomQuery(small.Build(), [](std::uint32_t) { return 1u; }).empty());
}

TEST(QueriesTest, PageOfAResource) {
    MemoryCatalogue m;
    for (int i = 1; i <= 17; ++i)
        m.Resource(1, "r", 0, 100 + i);
    const ResourceList list = CategoryQuery(m.Build(), 1);
    const std::vector<std::pair<long long, int>> cases = {{101, 1}, {108, 1}, {109, 2}, {110, 2},
                                                          {116, 2}, {117, 3}, {999, 1}};
    for (const auto& [number, page] : cases)
        EXPECT_EQ(PageOf(list, number), page) << number;
}

TEST(QueriesTest, CategoryTitles) {
    const std::vector<std::pair<std::u8string, std::u8string>> cases = {
        {u8"ＡＢＣＤＥＦＧＨＩ", u8"ABCDEFGHI"},
        {u8"一二三四五六七八九十", u8"一二三四五六七八九…"},
        {u8"模块", u8"模块"},
        {u8"ABCDEFGHIJ", u8"ABCDEFGHI…"},
        {u8"", u8""},
    };
    for (const auto& [name, title] : cases)
        EXPECT_EQ(CategoryTitle(text::Gbk(name)), text::Gbk(title));
}

TEST(QueriesTest, CategoryPathFromTheTopDown) {
    MemoryCatalogue m;
    m.Category(1, 1, 0, "top").Category(2, 2, 1, "mid").Category(3, 3, 2, "leaf");
    m.Category(4, 1, 0, "a\\b").Category(5, 2, 4, "..");
    m.Resource(3, "x").address = "http://host/Leaf.rar";
    m.Resource(5, "y").address = "http://host/odd.rar";
    m.Resource(9, "z").address = "http://host/orphan.rar";
    const auto data = m.Build();
    EXPECT_EQ(CategoryPath(data.get(), "http://host/Leaf.rar"), "top\\mid\\leaf\\");
    EXPECT_EQ(CategoryPath(data.get(), "HTTP://HOST/leaf.RAR"), "top\\mid\\leaf\\");
    EXPECT_EQ(CategoryPath(data.get(), "http://host/none.rar"), "");
    EXPECT_EQ(CategoryPath(data.get(), "http://host/orphan.rar"), "");
    // Names never reach outside the resource folder.
    EXPECT_EQ(CategoryPath(data.get(), "http://host/odd.rar"), "a_b\\__\\");
    EXPECT_EQ(CategoryPath(nullptr, "http://host/Leaf.rar"), "");
    EXPECT_EQ(CategoryName(data.get(), 2), "mid");
    EXPECT_EQ(CategoryName(data.get(), 7), "");
}

TEST(QueriesTest, AGbkTrailByteBackslashIsNoSeparator) {
    // 刂 is D8 5C: its trail byte is the byte of "\".
    MemoryCatalogue m;
    const std::string name = text::Gbk(u8"刂刀");
    m.Category(1, 1, 0, name);
    m.Resource(1, "x").address = "a";
    EXPECT_EQ(CategoryPath(m.Build().get(), "a"), name + "\\");
}

} // namespace
} // namespace vm::catalogue
