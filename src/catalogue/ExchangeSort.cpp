#include "catalogue/ExchangeSort.h"

#include <algorithm>
#include <numeric>

// How the procedure behaves, which the fast version reproduces step by step:
//
// - Its first outer pass (i = 1) carries the largest weight to position 1: record 1 is
//   exchanged with every later record that is heavier than it. That pass is run as it is.
// - From then on, before pass i the positions 1..i-1 are sorted and hold the largest weight at
//   their end. Pass i inserts record i: at the first position whose weight exceeds it, the two
//   are exchanged, and from there every group of equal weights greater than the inserted one
//   hands its first record on to the next group. So the inserted record joins the end of its
//   own group, every heavier group rotates by one (its first record moves to its end), and
//   positions after i are never touched.
//
// Each group of equal weights is therefore a sequence that receives its members in arrival
// order, and rotates once for every lighter record that arrives while it is not empty. The
// rotations are counted, not carried out: a group kept as "inserted at index h of a buffer
// whose logical start is h" needs only arithmetic, and where each member finally lies in the
// buffer follows from its insertion indexes with a Fenwick tree.

namespace vm::catalogue {
namespace {

// Prefix sums over 1..n; also finds the k-th set slot when it holds 0/1 counts.
class Fenwick {
public:
    explicit Fenwick(std::size_t n) : tree_(n + 1, 0) {}

    void Add(std::size_t index, int delta) { // 0-based
        for (std::size_t i = index + 1; i < tree_.size(); i += i & (~i + 1))
            tree_[i] += delta;
    }
    int PrefixSum(std::size_t count) const { // sum of the first `count` slots
        int sum = 0;
        for (std::size_t i = count; i > 0; i -= i & (~i + 1))
            sum += tree_[i];
        return sum;
    }
    // 0-based index of the slot where the running sum first exceeds k (k-th set slot, 0-based).
    std::size_t FindKth(int k) const {
        std::size_t pos = 0;
        std::size_t step = 1;
        while (step * 2 < tree_.size())
            step *= 2;
        for (; step > 0; step /= 2) {
            if (pos + step < tree_.size() && tree_[pos + step] <= k) {
                pos += step;
                k -= tree_[pos];
            }
        }
        return pos;
    }

private:
    std::vector<int> tree_;
};

// Places the members of one group, given the buffer index each was inserted at, and returns
// them in buffer order.
std::vector<std::uint32_t> PlaceByInsertIndex(const std::vector<std::uint32_t>& members,
                                              const std::vector<std::uint32_t>& insertAt) {
    const std::size_t size = members.size();
    std::vector<std::uint32_t> buffer(size);
    Fenwick free(size);
    for (std::size_t i = 0; i < size; ++i)
        free.Add(i, 1);
    // The last one inserted sits at its index; each earlier one takes the index-th slot that
    // the later ones left free.
    for (std::size_t j = size; j-- > 0;) {
        const std::size_t slot = free.FindKth(static_cast<int>(insertAt[j]));
        buffer[slot] = members[j];
        free.Add(slot, -1);
    }
    return buffer;
}

} // namespace

std::vector<std::uint32_t> ExchangeSortOrder(std::span<const std::int32_t> weights) {
    const std::size_t n = weights.size();
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    if (n < 2)
        return order;

    // The first outer pass, as the procedure runs it.
    for (std::size_t j = 1; j < n; ++j)
        if (weights[order[0]] < weights[order[j]])
            std::swap(order[0], order[j]);

    // Records arrive in the sorted part in the order the first pass left them.
    std::vector<std::int32_t> distinct(weights.begin(), weights.end());
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    const std::size_t groups = distinct.size();
    std::vector<std::uint32_t> rank(n);
    for (std::size_t t = 0; t < n; ++t)
        rank[t] = static_cast<std::uint32_t>(
            std::lower_bound(distinct.begin(), distinct.end(), weights[order[t]]) -
            distinct.begin());

    // lighterBefore[t]: arrivals before t that are lighter than arrival t.
    std::vector<int> lighterBefore(n);
    Fenwick arrived(groups);
    for (std::size_t t = 0; t < n; ++t) {
        lighterBefore[t] = arrived.PrefixSum(rank[t]);
        arrived.Add(rank[t], 1);
    }

    std::vector<std::vector<std::uint32_t>> members(groups);
    std::vector<std::vector<int>> memberLighter(groups);
    for (std::size_t t = 0; t < n; ++t) {
        members[rank[t]].push_back(order[t]);
        memberLighter[rank[t]].push_back(lighterBefore[t]);
    }

    std::vector<std::uint32_t> result;
    result.reserve(n);
    int lighterTotal = 0; // records lighter than the current group, over all arrivals
    for (std::size_t g = 0; g < groups; ++g) {
        const std::vector<std::uint32_t>& group = members[g];
        const std::vector<int>& lighter = memberLighter[g];
        const std::size_t size = group.size();
        std::vector<std::uint32_t> insertAt(size);
        std::size_t start = 0; // logical start of the buffer
        for (std::size_t j = 0; j < size; ++j) {
            if (j > 0)
                start = (start + static_cast<std::size_t>(lighter[j] - lighter[j - 1])) % j;
            insertAt[j] = static_cast<std::uint32_t>(start);
            ++start;
        }
        start = (start + static_cast<std::size_t>(lighterTotal - lighter[size - 1])) % size;
        const std::vector<std::uint32_t> buffer = PlaceByInsertIndex(group, insertAt);
        for (std::size_t k = 0; k < size; ++k)
            result.push_back(buffer[(start + k) % size]);
        lighterTotal += static_cast<int>(size);
    }
    return result;
}

} // namespace vm::catalogue
