#include "catalogue/Queries.h"

#include "catalogue/ExchangeSort.h"
#include "platform/text/Gbk.h"

#include <algorithm>

namespace vm::catalogue {
namespace {

constexpr std::string_view kSearchPrompt = "请输入您要搜索的关键字";
constexpr std::string_view kEllipsis = "…";
constexpr int kTitleChars = 10;

// The substring test of the search: an empty needle occurs in every non-empty text.
bool Occurs(std::string_view text, std::string_view needle) {
    if (needle.empty())
        return !text.empty();
    return text::Contains(text, needle);
}

void SortByWeight(const CatalogueData& data, std::vector<std::uint32_t>& rows) {
    std::vector<std::int32_t> weights;
    weights.reserve(rows.size());
    for (const std::uint32_t row : rows)
        weights.push_back(data.List()[row].weight);
    const std::vector<std::uint32_t> order = ExchangeSortOrder(weights);
    std::vector<std::uint32_t> sorted;
    sorted.reserve(rows.size());
    for (const std::uint32_t from : order)
        sorted.push_back(rows[from]);
    rows = std::move(sorted);
}

// A category name as one piece of a folder path: the name may not reach outside its parent
// (a "\" or "/" inside it, or a name of dots only, would).
std::string PathPiece(std::string_view name) {
    std::string piece;
    piece.reserve(name.size());
    bool dotsOnly = !name.empty();
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = text::CharLengthAt(name, at);
        const char c = name[at];
        if (length == 1 && (c == '\\' || c == '/'))
            piece += '_';
        else
            piece += name.substr(at, length);
        if (length != 1 || c != '.')
            dotsOnly = false;
        at += length;
    }
    return dotsOnly ? std::string(piece.size(), '_') : piece;
}

} // namespace

ResourceList::ResourceList(std::shared_ptr<const CatalogueData> data,
                           std::vector<std::uint32_t> rows)
    : data_(std::move(data)), rows_(std::move(rows)) {}

ResourceList::ResourceList(std::vector<ResourceRecord> records) : own_(std::move(records)) {}

const ResourceRecord* ResourceList::At(long long position) const {
    if (position < 1 || position > static_cast<long long>(size()))
        return nullptr;
    return &(*this)[static_cast<std::size_t>(position - 1)];
}

PageTable Paginate(std::size_t count) {
    if (count == 0)
        return {{0, 0}};
    PageTable pages;
    pages.reserve(count / kPageSize + 1);
    for (std::size_t first = 1; first <= count; first += kPageSize) {
        const std::size_t last = std::min(count, first + kPageSize - 1);
        pages.emplace_back(static_cast<int>(first), static_cast<int>(last));
    }
    return pages;
}

ResourceList LatestQuery(const std::shared_ptr<const CatalogueData>& data) {
    if (!data)
        return {};
    const long long newest = data->NewestModified();
    const std::vector<ResourceRecord>& list = data->List();
    std::vector<std::uint32_t> rows;
    for (std::size_t i = list.size(); i-- > 0;) {
        // In 64 bits: a time near the 32-bit limit must not wrap into the window.
        if (newest < static_cast<long long>(list[i].modified) + kLatestWindowSeconds)
            rows.push_back(static_cast<std::uint32_t>(i));
    }
    return ResourceList(data, std::move(rows));
}

ResourceList CategoryQuery(const std::shared_ptr<const CatalogueData>& data, long long category) {
    if (!data)
        return {};
    std::vector<std::uint32_t> rows = data->ResourcesOf(category);
    SortByWeight(*data, rows);
    return ResourceList(data, std::move(rows));
}

std::vector<std::string> SplitKeywords(std::string_view searchText) {
    return text::Split(searchText, ",");
}

ResourceList SearchQuery(const std::shared_ptr<const CatalogueData>& data,
                         std::string_view searchText) {
    const std::vector<std::string> keywords = SplitKeywords(searchText);
    if (!data || keywords.empty() || keywords.front() == kSearchPrompt)
        return {};
    struct Test {
        bool author;
        std::string_view needle;
    };
    std::vector<Test> tests;
    for (const std::string& keyword : keywords) {
        const bool author = !keyword.empty() && keyword.front() == '@';
        tests.push_back({author, std::string_view(keyword).substr(author ? 1 : 0)});
    }
    const std::vector<ResourceRecord>& list = data->List();
    std::vector<std::uint32_t> rows;
    for (std::uint32_t i = 0; i < list.size(); ++i) {
        const ResourceRecord& r = list[i];
        const bool all = std::all_of(tests.begin(), tests.end(), [&r](const Test& t) {
            return Occurs(t.author ? r.author : r.title, t.needle);
        });
        if (all)
            rows.push_back(i);
    }
    SortByWeight(*data, rows);
    return ResourceList(data, std::move(rows));
}

ResourceList RandomQuery(const std::shared_ptr<const CatalogueData>& data,
                         const std::function<std::uint32_t(std::uint32_t n)>& draw) {
    if (!data)
        return {};
    const std::vector<ResourceRecord>& list = data->List();
    const auto n = static_cast<std::uint32_t>(list.size());
    if (n < kPageSize)
        return ResourceList(std::vector<ResourceRecord>{});
    std::vector<std::uint32_t> drawn;
    while (drawn.size() < kPageSize) {
        const std::uint32_t k = draw(n);
        if (k < 1 || k > n || std::find(drawn.begin(), drawn.end(), k) != drawn.end())
            continue;
        drawn.push_back(k);
    }
    std::vector<ResourceRecord> picks;
    picks.reserve(kPageSize);
    for (const std::uint32_t k : drawn) {
        picks.push_back(list[k - 1]);
        // The pick reads every column but the video, so a random list never offers one.
        picks.back().video.clear();
    }
    ExchangeSortByWeight(picks, [](const ResourceRecord& r) { return r.weight; });
    return ResourceList(std::move(picks));
}

std::string CategoryName(const CatalogueData* data, long long category) {
    const CategoryNode* node = data ? data->Category(category) : nullptr;
    return node ? node->name : std::string();
}

std::string CategoryTitle(std::string_view name) {
    const std::string half = text::ToHalfWidth(name);
    if (text::CharCount(half) < kTitleChars)
        return half;
    std::size_t end = 0;
    for (int i = 0; i < kTitleChars - 1; ++i)
        end += text::CharLengthAt(half, end);
    return half.substr(0, end) + std::string(kEllipsis);
}

std::string CategoryPath(const CatalogueData* data, std::string_view address) {
    if (!data)
        return {};
    const ResourceRecord* resource = data->ResourceAt(address);
    long long category = resource ? resource->category : 0;
    const CategoryNode* node = data->Category(category);
    const int level = node ? node->level : 0;
    std::string path;
    // Level by level upwards; within a level the rows are taken in table order and compared
    // with the category sought at that moment, which moves to the parent on a match.
    for (int l = level; l >= 1; --l) {
        for (const std::uint32_t row : data->LevelRows(l)) {
            const CategoryNode& c = data->Tree()[row];
            if (c.id == category) {
                path = PathPiece(c.name) + "\\" + path;
                category = c.parent;
            }
        }
    }
    return path;
}

int PageOf(const ResourceList& list, long long number) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].number == number) {
            const std::size_t p = i + 1;
            return static_cast<int>(p / kPageSize + (p % kPageSize != 0 ? 1 : 0));
        }
    }
    return 1;
}

} // namespace vm::catalogue
