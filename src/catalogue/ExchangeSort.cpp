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

// Prefix sums over 1..n; also finds the k-th set slot when it holds 0/1 counts. Reset reuses
// the storage, so that one tree serves every group of a sort.
class Fenwick {
public:
    // n slots, each holding `fill` (0 or 1).
    void Reset(std::size_t n, int fill) {
        tree_.resize(n + 1);
        for (std::size_t i = 0; i <= n; ++i)
            tree_[i] = static_cast<int>(i & (~i + 1)) * fill;
        top_ = 1;
        while (top_ * 2 < tree_.size())
            top_ *= 2;
    }

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
        for (std::size_t step = top_; step > 0; step /= 2) {
            if (pos + step < tree_.size() && tree_[pos + step] <= k) {
                pos += step;
                k -= tree_[pos];
            }
        }
        return pos;
    }
    // FindKth(k), and that slot's count taken down by one on the way: the nodes the descent
    // does not step past are the ones whose range holds the slot.
    std::size_t TakeKth(int k) {
        std::size_t pos = 0;
        for (std::size_t step = top_; step > 0; step /= 2) {
            if (pos + step >= tree_.size())
                continue;
            if (tree_[pos + step] <= k) {
                pos += step;
                k -= tree_[pos];
            } else {
                --tree_[pos + step];
            }
        }
        return pos;
    }

private:
    std::vector<int> tree_;
    std::size_t top_ = 1;
};

// The rank of every weight among the distinct weights (0 for the lightest), through a hash
// table of the distinct ones: sorting them alone is cheaper than sorting every weight when, as
// in the catalogue, many are equal. Returns the number of distinct weights.
std::size_t RankWeights(std::span<const std::int32_t> weights, std::vector<std::uint32_t>& rank) {
    std::vector<std::int64_t> keys(64, std::int64_t{1} << 40); // never a weight
    std::vector<std::uint32_t> slotRank(keys.size());
    std::vector<std::int32_t> distinct;
    const auto slotOf = [](std::int32_t w, std::size_t mask) {
        return static_cast<std::size_t>(static_cast<std::uint32_t>(w) * 0x9E3779B1u) & mask;
    };
    const auto insert = [&](std::vector<std::int64_t>& table, std::int32_t w) {
        const std::size_t mask = table.size() - 1;
        std::size_t slot = slotOf(w, mask);
        while (table[slot] != w && table[slot] != std::int64_t{1} << 40)
            slot = (slot + 1) & mask;
        const bool added = table[slot] != w;
        table[slot] = w;
        return std::pair(slot, added);
    };
    rank.resize(weights.size());
    for (const std::int32_t w : weights) {
        if ((distinct.size() + 1) * 2 > keys.size()) {
            std::vector<std::int64_t> grown(keys.size() * 2, std::int64_t{1} << 40);
            for (const std::int32_t d : distinct)
                insert(grown, d);
            keys = std::move(grown);
        }
        if (insert(keys, w).second)
            distinct.push_back(w);
    }
    std::sort(distinct.begin(), distinct.end());
    slotRank.assign(keys.size(), 0);
    for (std::size_t r = 0; r < distinct.size(); ++r)
        slotRank[insert(keys, distinct[r]).first] = static_cast<std::uint32_t>(r);
    for (std::size_t i = 0; i < weights.size(); ++i)
        rank[i] = slotRank[insert(keys, weights[i]).first];
    return distinct.size();
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

    // Records arrive in the sorted part in the order the first pass left them. Every pass
    // below is one sweep over n, and nothing of size n is allocated beyond these four: a
    // search hitting half the catalogue sorts 50,000 rows on every click.
    std::vector<std::uint32_t> rank; // by original position
    const std::size_t groups = RankWeights(weights, rank);

    // The members of each group in arrival order, groups lightest first, end to end: group g
    // takes [start[g], start[g + 1]), which is also where it ends up in the result. Beside
    // each member: the arrivals before it that are lighter.
    std::vector<std::size_t> start(groups + 1, 0);
    for (const std::uint32_t from : order)
        ++start[rank[from] + 1];
    for (std::size_t g = 1; g <= groups; ++g)
        start[g] += start[g - 1];
    std::vector<std::uint32_t> members(n);
    std::vector<int> lighterBefore(n);
    {
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        Fenwick arrived;
        arrived.Reset(groups, 0);
        for (const std::uint32_t from : order) {
            const std::uint32_t r = rank[from];
            const std::size_t at = next[r]++;
            members[at] = from;
            lighterBefore[at] = arrived.PrefixSum(r);
            arrived.Add(r, 1);
        }
    }

    // The result goes where the arrival order was: members holds all that is left of it.
    std::vector<std::uint32_t>& result = order;
    Fenwick tree;
    int lighterTotal = 0; // records lighter than the current group, over all arrivals
    for (std::size_t g = 0; g < groups; ++g) {
        const std::uint32_t* group = members.data() + start[g];
        // Read as the lighter counts, left as the index each member was inserted at.
        int* insertAt = lighterBefore.data() + start[g];
        const std::size_t size = start[g + 1] - start[g];
        std::size_t first = 0; // logical start of the buffer
        int previous = 0;
        for (std::size_t j = 0; j < size; ++j) {
            const int lighter = insertAt[j];
            if (j > 0)
                first = (first + static_cast<std::size_t>(lighter - previous)) % j;
            previous = lighter;
            insertAt[j] = static_cast<int>(first);
            ++first;
        }
        first = (first + static_cast<std::size_t>(lighterTotal - previous)) % size;
        // Where each member lies in the buffer: the last one inserted sits at its index; each
        // earlier one takes the index-th slot that the later ones left free. Slot k of the
        // buffer is place (k - first) of the group in the result.
        tree.Reset(size, 1);
        std::uint32_t* out = result.data() + start[g];
        for (std::size_t j = size; j-- > 0;)
            out[(tree.TakeKth(insertAt[j]) + size - first) % size] = group[j];
        lighterTotal += static_cast<int>(size);
    }
    return order;
}

} // namespace vm::catalogue
