#pragma once
// The four list queries (latest updates, one category, a search, random picks), the paging of
// their results and the category lookups, over the catalogue's rows held in memory.

#include "catalogue/Records.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm::catalogue {

inline constexpr int kPageSize = 8;
inline constexpr int kLatestWindowSeconds = 7 * 86400;

// A query's result. Records are shared with the catalogue's rows (copies only for random
// picks), and stay readable after the catalogue has closed.
class ResourceList {
public:
    ResourceList() = default;
    ResourceList(std::shared_ptr<const CatalogueData> data, std::vector<std::uint32_t> rows);
    explicit ResourceList(std::vector<ResourceRecord> records);

    std::size_t size() const { return data_ ? rows_.size() : own_.size(); }
    bool empty() const { return size() == 0; }
    // 0-based.
    const ResourceRecord& operator[](std::size_t index) const {
        return data_ ? data_->List()[rows_[index]] : own_[index];
    }
    // 1-based, as the link commands count; null outside the list.
    const ResourceRecord* At(long long position) const;

private:
    std::shared_ptr<const CatalogueData> data_;
    std::vector<std::uint32_t> rows_;
    std::vector<ResourceRecord> own_;
};

// 1-based first and last positions of each page; an empty list has the one page (0, 0).
using PageTable = std::vector<std::pair<int, int>>;
PageTable Paginate(std::size_t count);

// Rows changed less than seven days before the newest one, last table row first, unsorted.
ResourceList LatestQuery(const std::shared_ptr<const CatalogueData>& data);
// The category's resources in table order, then exchange-sorted by weight.
ResourceList CategoryQuery(const std::shared_ptr<const CatalogueData>& data, long long category);
// Keywords separated by ","; "@name" matches the author, anything else the title, ASCII
// letters in any case. The search prompt as first keyword finds nothing.
ResourceList SearchQuery(const std::shared_ptr<const CatalogueData>& data,
                         std::string_view searchText);
// Eight distinct rows drawn with `draw(n)` (a number from 1 to n), without their videos,
// exchange-sorted by weight; nothing when the table holds fewer than eight rows.
ResourceList RandomQuery(const std::shared_ptr<const CatalogueData>& data,
                         const std::function<std::uint32_t(std::uint32_t n)>& draw);

// text::Contains without regard to ASCII letter case, for a text and a needle both folded with
// text::ToLowerAscii: a byte search whose matches must start on a character.
bool ContainsFolded(std::string_view foldedText, std::string_view foldedNeedle);

// Keywords of a search text: split at ",", empty pieces kept, an empty last piece dropped.
std::vector<std::string> SplitKeywords(std::string_view searchText);

// "名称" of the category, "" when there is none.
std::string CategoryName(const CatalogueData* data, long long category);
// The list title for a category: its name in half-width forms, cut to nine characters and
// "…" when it has ten or more.
std::string CategoryTitle(std::string_view name);
// Category names from the top level down to the category of the List row with that address,
// each followed by "\"; "" when the address is not in the table.
std::string CategoryPath(const CatalogueData* data, std::string_view address);

// The page holding the first record whose "编号" is `number`; 1 when none has it.
int PageOf(const ResourceList& list, long long number);

} // namespace vm::catalogue
