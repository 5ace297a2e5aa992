#pragma once
// The exchange sort that orders categories and resources by weight. Its procedure is fixed,
// because it decides the order of equal weights: for i from 1 to n, and within it for j from
// 1 to n, records i and j are exchanged when the weight of i is less than the weight of j.
// That costs n squared comparisons; ExchangeSortOrder gives the identical order in
// O(n log n).

#include <cstdint>
#include <span>
#include <vector>

namespace vm::catalogue {

// The order the procedure leaves: element k of the result is the original position (0-based)
// of the record that ends at position k.
std::vector<std::uint32_t> ExchangeSortOrder(std::span<const std::int32_t> weights);

// Sorts `items` in place as the procedure would, by `weightOf(item)` (an int32).
template <class T, class WeightOf>
void ExchangeSortByWeight(std::vector<T>& items, WeightOf weightOf) {
    std::vector<std::int32_t> weights;
    weights.reserve(items.size());
    for (const T& item : items)
        weights.push_back(static_cast<std::int32_t>(weightOf(item)));
    const std::vector<std::uint32_t> order = ExchangeSortOrder(weights);
    std::vector<T> sorted;
    sorted.reserve(items.size());
    for (const std::uint32_t from : order)
        sorted.push_back(std::move(items[from]));
    items = std::move(sorted);
}

} // namespace vm::catalogue
