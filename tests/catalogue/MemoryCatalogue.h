#pragma once
// Catalogue rows built in memory for the tests of the queries, the rendering and ShowList.

#include "catalogue/Records.h"

#include <memory>
#include <string>

namespace vm::catalogue::testing {

class MemoryCatalogue {
public:
    // A category row.
    MemoryCatalogue& Category(int id, int level, int parent, std::string name, int weight = 0) {
        tables_.tree.push_back({id, level, parent, std::move(name), "", weight});
        tables_.treeIdNull.push_back(false);
        if (!tables_.deepestLevel || level > *tables_.deepestLevel)
            tables_.deepestLevel = level;
        return *this;
    }
    // A resource row; the returned record can be adjusted until Build.
    ResourceRecord& Resource(int category, std::string title, int weight = 0, int number = 0) {
        ResourceRecord r;
        r.category = category;
        r.title = std::move(title);
        r.weight = weight;
        r.number = number != 0 ? number : static_cast<int>(tables_.list.size()) + 1;
        r.modified = 1'368'000'000;
        tables_.list.push_back(std::move(r));
        tables_.listCategoryNull.push_back(false);
        tables_.listAddressNull.push_back(false);
        return tables_.list.back();
    }
    std::shared_ptr<const CatalogueData> Build() {
        CatalogueTables t = tables_;
        for (const ResourceRecord& r : t.list)
            if (!t.newestModified || r.modified > *t.newestModified)
                t.newestModified = r.modified;
        return std::make_shared<const CatalogueData>(std::move(t));
    }
    CatalogueTables& tables() { return tables_; }

private:
    CatalogueTables tables_;
};

} // namespace vm::catalogue::testing
