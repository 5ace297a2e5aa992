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
bool Occurs(std::string_view foldedText, std::string_view foldedNeedle) {
    if (foldedNeedle.empty())
        return !foldedText.empty();
    return ContainsFolded(foldedText, foldedNeedle);
}

bool StartsACharacter(std::string_view text, std::size_t offset) {
    std::size_t at = 0;
    while (at < offset)
        at += text::CharLengthAt(text, at);
    return at == offset;
}

void SortByWeight(const CatalogueData& data, std::vector<std::uint32_t>& rows) {
    std::vector<std::int32_t> weights;
    weights.reserve(rows.size());
    const std::vector<std::int32_t>& all = data.Weights();
    for (const std::uint32_t row : rows)
        weights.push_back(all[row]);
    std::vector<std::uint32_t> order = ExchangeSortOrder(weights);
    for (std::uint32_t& at : order) // each position is read before it is overwritten
        at = rows[at];
    rows = std::move(order);
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
    const std::span<const std::uint32_t> found = data->ResourcesOf(category);
    std::vector<std::uint32_t> rows(found.begin(), found.end());
    SortByWeight(*data, rows);
    return ResourceList(data, std::move(rows));
}

bool ContainsFolded(std::string_view foldedText, std::string_view foldedNeedle) {
    if (foldedNeedle.empty())
        return false;
    for (std::size_t from = 0;; ++from) {
        from = foldedText.find(foldedNeedle, from);
        if (from == std::string_view::npos)
            return false;
        if (StartsACharacter(foldedText, from))
            return true;
    }
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
        std::string needle; // folded
    };
    std::vector<Test> tests;
    for (const std::string& keyword : keywords) {
        const bool author = !keyword.empty() && keyword.front() == '@';
        tests.push_back(
            {author, text::ToLowerAscii(std::string_view(keyword).substr(author ? 1 : 0))});
    }
    const auto passes = [&](const Test& t, std::uint32_t row) {
        return Occurs(t.author ? data->FoldedAuthor(row) : data->FoldedTitle(row), t.needle);
    };
    // The first keyword with text picks the candidates in one pass over its column; the other
    // keywords test those rows one by one.
    const auto first =
        std::find_if(tests.begin(), tests.end(), [](const Test& t) { return !t.needle.empty(); });
    const Test* picked = first != tests.end() ? &*first : nullptr;
    std::vector<std::uint32_t> candidates;
    if (picked != nullptr) {
        candidates = data->RowsContaining(first->author, first->needle);
    } else {
        candidates.resize(data->List().size());
        for (std::uint32_t i = 0; i < candidates.size(); ++i)
            candidates[i] = i;
    }
    std::vector<std::uint32_t> rows;
    rows.reserve(candidates.size());
    for (const std::uint32_t row : candidates) {
        const bool all = std::all_of(tests.begin(), tests.end(),
                                     [&](const Test& t) { return &t == picked || passes(t, row); });
        if (all)
            rows.push_back(row);
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
