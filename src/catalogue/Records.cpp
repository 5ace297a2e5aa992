#include "catalogue/Records.h"

namespace vm::catalogue {
namespace {

// The comparison a Find makes for '...' criteria: ASCII letters folded byte by byte.
std::string FoldKey(std::string_view text) {
    std::string key(text);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return key;
}

const std::vector<std::uint32_t> kNoRows;

} // namespace

CatalogueData::CatalogueData(CatalogueTables tables) : tables_(std::move(tables)) {
    tables_.listCategoryNull.resize(tables_.list.size(), false);
    tables_.listAddressNull.resize(tables_.list.size(), false);
    tables_.treeIdNull.resize(tables_.tree.size(), false);

    for (std::uint32_t i = 0; i < tables_.list.size(); ++i) {
        const ResourceRecord& r = tables_.list[i];
        if (!tables_.listCategoryNull[i])
            byCategory_[r.category].push_back(i);
        if (!tables_.listAddressNull[i])
            byAddress_.try_emplace(FoldKey(r.address), i);
    }
    for (std::uint32_t i = 0; i < tables_.tree.size(); ++i) {
        const CategoryNode& c = tables_.tree[i];
        if (!tables_.treeIdNull[i])
            categoryRow_.try_emplace(c.id, i);
        byLevel_[c.level].push_back(i);
    }
}

const std::vector<std::uint32_t>& CatalogueData::ResourcesOf(long long category) const {
    const auto it = byCategory_.find(category);
    return it == byCategory_.end() ? kNoRows : it->second;
}

const CategoryNode* CatalogueData::Category(long long id) const {
    const auto it = categoryRow_.find(id);
    return it == categoryRow_.end() ? nullptr : &tables_.tree[it->second];
}

const std::vector<std::uint32_t>& CatalogueData::LevelRows(int level) const {
    const auto it = byLevel_.find(level);
    return it == byLevel_.end() ? kNoRows : it->second;
}

const ResourceRecord* CatalogueData::ResourceAt(std::string_view address) const {
    const auto it = byAddress_.find(FoldKey(address));
    return it == byAddress_.end() ? nullptr : &tables_.list[it->second];
}

} // namespace vm::catalogue
