#include "catalogue/Catalogue.h"
#include "catalogue/ExchangeSort.h"
#include "catalogue/State.h"

#include <unordered_map>

namespace vm::catalogue {
namespace {

constexpr std::string_view kLatestEntry = "最近更新";
constexpr int kLatestImage = 4;

// Item lookup by value: the first item added with it. The table is kept beside the tree
// because asking the control scans its items every time, a cost squared in the categories.
class ItemLookup {
public:
    void Added(long long value, int item) { items_.try_emplace(value, item); }
    // 0 (the top level) when no item has the value, and at once for the value 0.
    int Find(long long value) const {
        if (value == 0)
            return 0;
        const auto it = items_.find(value);
        return it == items_.end() ? 0 : it->second;
    }

private:
    std::unordered_map<long long, int> items_;
};

} // namespace

void BuildTree(gui::Control& tree) {
    tree.clearItems();
    ItemLookup lookup;
    const int latest = tree.addItem(0, kLatestEntry, kLatestImage, -1);
    tree.setItemBold(latest, true);
    lookup.Added(-1, latest);

    const std::shared_ptr<const CatalogueData> data = detail::TheState().data;
    const int depth = data ? data->DeepestLevel() : 0;
    std::vector<int> topLevel; // level-1 categories in table order
    for (int level = 1; level <= depth; ++level) {
        std::vector<CategoryNode> nodes;
        for (const std::uint32_t row : data->LevelRows(level))
            nodes.push_back(data->Tree()[row]);
        if (level == 1)
            for (const CategoryNode& node : nodes)
                topLevel.push_back(node.id);
        ExchangeSortByWeight(nodes, [](const CategoryNode& node) { return node.weight; });
        for (const CategoryNode& node : nodes) {
            const int parent = lookup.Find(node.parent);
            const int item = tree.addItem(parent, node.name, level - 1, node.id);
            if (level == 1)
                tree.setItemBold(item, true);
            lookup.Added(node.id, item);
        }
    }
    if (topLevel.size() >= 2) {
        tree.expand(lookup.Find(topLevel[0]), true);
        tree.expand(lookup.Find(topLevel[1]), true);
    }
    // Scrolls back to the top after the expansions.
    tree.makeItemVisible(latest);
}

} // namespace vm::catalogue
