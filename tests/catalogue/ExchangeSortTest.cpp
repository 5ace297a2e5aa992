#include "catalogue/ExchangeSort.h"
#include "catalogue/LiteralExchangeSort.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

namespace vm::catalogue {
namespace {

using testing::LiteralExchangeSortOrder;

TEST(ExchangeSortTest, SmallCasesMatchTheProcedure) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::vector<std::vector<std::int32_t>> cases = {
        {},
        {7},
        {3, 1, 2},
        {1, 1},
        {2, 1, 1, 2},
        {5, 5, 5, 5, 5},
        {0, 1, 2, 3, 4, 5},
        {5, 4, 3, 2, 1, 0},
        {1, 0, 1, 0, 1, 0, 1},
        {kMax, kMin, 0, kMax, kMin, -1},
    };
    for (const auto& weights : cases)
        EXPECT_EQ(ExchangeSortOrder(weights), LiteralExchangeSortOrder(weights))
            << "n = " << weights.size();
}

TEST(ExchangeSortTest, WeightsThreeOneTwoComeOutAscending) {
    const std::vector<std::int32_t> weights = {3, 1, 2};
    EXPECT_EQ(ExchangeSortOrder(weights), (std::vector<std::uint32_t>{1, 2, 0}));
}

// The order of equal weights is the whole point: many inputs drawn from few distinct weights,
// in every size up to a few hundred, and some larger ones.
TEST(ExchangeSortTest, RandomInputsWithManyEqualWeightsMatchTheProcedure) {
    std::mt19937 random(20240611);
    int checked = 0;
    for (const int distinct : {1, 2, 3, 5, 10, 40, 1000}) {
        for (int round = 0; round < 60; ++round) {
            const std::size_t n = std::uniform_int_distribution<std::size_t>(0, 300)(random);
            std::uniform_int_distribution<std::int32_t> weight(-distinct / 2, distinct - 1);
            std::vector<std::int32_t> weights(n);
            for (auto& w : weights)
                w = weight(random);
            ASSERT_EQ(ExchangeSortOrder(weights), LiteralExchangeSortOrder(weights))
                << "distinct " << distinct << ", n " << n;
            ++checked;
        }
    }
    for (const std::size_t n : {1000u, 2500u}) {
        for (const int distinct : {2, 7, 50}) {
            std::vector<std::int32_t> weights(n);
            for (auto& w : weights)
                w = std::uniform_int_distribution<std::int32_t>(0, distinct - 1)(random);
            ASSERT_EQ(ExchangeSortOrder(weights), LiteralExchangeSortOrder(weights));
            ++checked;
        }
    }
    EXPECT_EQ(checked, 426);
}

// Weights from the whole 32-bit range, few of them equal: every weight its own group, and the
// table of distinct weights growing many times over.
TEST(ExchangeSortTest, RandomWideWeightsMatchTheProcedure) {
    std::mt19937 random(7);
    std::uniform_int_distribution<std::int32_t> wide(std::numeric_limits<std::int32_t>::min(),
                                                     std::numeric_limits<std::int32_t>::max());
    for (int round = 0; round < 40; ++round) {
        const std::size_t n = std::uniform_int_distribution<std::size_t>(2, 700)(random);
        std::vector<std::int32_t> weights(n);
        for (auto& w : weights)
            w = round % 2 ? wide(random) : wide(random) % 300 * 7919;
        ASSERT_EQ(ExchangeSortOrder(weights), LiteralExchangeSortOrder(weights)) << round;
    }
}

TEST(ExchangeSortTest, SortsRecordsInPlace) {
    struct Item {
        int weight;
        char name;
    };
    std::vector<Item> items = {{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}, {0, 'e'}};
    std::vector<std::int32_t> weights;
    for (const Item& item : items)
        weights.push_back(item.weight);
    const auto order = LiteralExchangeSortOrder(weights);
    ExchangeSortByWeight(items, [](const Item& item) { return item.weight; });
    ASSERT_EQ(items.size(), order.size());
    const std::string names = "abcde";
    for (std::size_t k = 0; k < items.size(); ++k)
        EXPECT_EQ(items[k].name, names[order[k]]);
}

} // namespace
} // namespace vm::catalogue
