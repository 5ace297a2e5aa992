#pragma once
// The exchange procedure exactly as written, n squared: for i from 1 to n, and within it for j
// from 1 to n, records i and j change places when the weight of i is less than that of j. The
// reference that the fast ExchangeSortOrder must match, here and in the benchmark.

#include <cstdint>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

namespace vm::catalogue::testing {

inline std::vector<std::uint32_t> LiteralExchangeSortOrder(std::span<const std::int32_t> weights) {
    std::vector<std::uint32_t> order(weights.size());
    std::iota(order.begin(), order.end(), 0u);
    const std::size_t n = order.size();
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            if (weights[order[i]] < weights[order[j]])
                std::swap(order[i], order[j]);
    return order;
}

} // namespace vm::catalogue::testing
