#pragma once
// The catalogue's rows as the browsing code holds them: decoded once when the catalogue opens,
// integers as integers, and looked up through indexes built at the same time, so that no list
// action goes back to the database.

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vm::catalogue {

// One row of table List.
struct ResourceRecord {
    int category = 0;         // "ID"
    std::string title;        // "名称"
    std::string introduction; // "介绍"
    std::string author;       // "作者"
    std::string address;      // "地址"
    std::string video;        // "视频"
    std::string size;         // "大小"
    int modified = 0;         // "修改时间", seconds since 1970-01-01 00:00:00 UTC
    int style = 0;            // "样式值"
    int weight = 0;           // "权重"
    int number = 0;           // "编号"
    friend bool operator==(const ResourceRecord&, const ResourceRecord&) = default;
};

// One row of table Tree.
struct CategoryNode {
    int id = 0;               // "ID"
    int level = 0;            // "层次"
    int parent = 0;           // "父ID"
    std::string name;         // "名称"
    std::string introduction; // "介绍"
    int weight = 0;           // "权重"
    friend bool operator==(const CategoryNode&, const CategoryNode&) = default;
};

// Both tables in table order. The null flags keep what a Find on the recordset would see: a
// NULL reads as 0 or "", yet "ID=0" or "地址=''" never matches it.
struct CatalogueTables {
    std::vector<ResourceRecord> list;
    std::vector<bool> listCategoryNull;
    std::vector<bool> listAddressNull;
    std::optional<int> newestModified; // max(修改时间); none when every value is NULL

    std::vector<CategoryNode> tree;
    std::vector<bool> treeIdNull;
    std::optional<int> deepestLevel; // max(层次)
};

// The tables with the indexes every query uses, built once; immutable afterwards, so lists
// taken from it stay valid after the catalogue closes.
class CatalogueData {
public:
    explicit CatalogueData(CatalogueTables tables);

    // The same, built row by row while the tables are being read, so that the indexes are
    // made while the reader decodes the rows that follow.
    class Builder {
    public:
        Builder();
        // Room for this many more resources (a hint; more may follow).
        void Reserve(std::size_t resources);
        // The null flags: what the column read as NULL (see CatalogueTables).
        void AddResource(ResourceRecord record, bool categoryNull, bool addressNull,
                         bool modifiedNull);
        void AddCategory(CategoryNode category, bool idNull, bool levelNull);
        std::shared_ptr<const CatalogueData> Finish();

    private:
        std::shared_ptr<CatalogueData> data_;
    };

    const std::vector<ResourceRecord>& List() const { return tables_.list; }
    const std::vector<CategoryNode>& Tree() const { return tables_.tree; }

    // What "select max(修改时间) from List" and "select max(层次) from Tree" give, NULL as 0.
    int NewestModified() const { return tables_.newestModified.value_or(0); }
    int DeepestLevel() const { return tables_.deepestLevel.value_or(0); }

    // Positions in List (0-based, table order) of the rows a Find "ID=<category>" visits.
    std::span<const std::uint32_t> ResourcesOf(long long category) const;
    // The first Tree row a Find "ID=<id>" stops at, or null.
    const CategoryNode* Category(long long id) const;
    // Tree rows of one level, table order.
    const std::vector<std::uint32_t>& LevelRows(int level) const;
    // The first List row whose "地址" equals `address` (ASCII letters in any case), or null.
    const ResourceRecord* ResourceAt(std::string_view address) const;

    // "名称" and "作者" of List row `row` with their ASCII letters in lower case (two-byte
    // characters untouched), for the search.
    std::string_view FoldedTitle(std::size_t row) const { return Folded(titles_, row); }
    std::string_view FoldedAuthor(std::size_t row) const { return Folded(authors_, row); }
    // Rows (ascending) whose folded title or author contains `foldedNeedle` (not empty), found
    // with one pass over the column's texts end to end.
    std::vector<std::uint32_t> RowsContaining(bool author, std::string_view foldedNeedle) const;
    // "权重" of every List row, apart from the records so that sorting reads them in one sweep.
    const std::vector<std::int32_t>& Weights() const { return weights_; }

private:
    CatalogueData();
    // The indexes of List row `row` and Tree row `row`, whose records and null flags are in
    // `tables_` already.
    void IndexResource(std::uint32_t row);
    void IndexCategory(std::uint32_t row);
    void FinishIndexes();

    // One column's folded texts end to end, with the offset where each row's text starts.
    struct FoldedColumn {
        std::string text;
        std::vector<std::uint32_t> start;
        // How often each byte value occurs in `text`: a search scans for the needle's rarest.
        std::array<std::uint32_t, 256> byteCount{};
        void Append(std::string_view row);
    };
    static std::string_view Folded(const FoldedColumn& column, std::size_t row) {
        return std::string_view(column.text)
            .substr(column.start[row], column.start[row + 1] - column.start[row]);
    }

    CatalogueTables tables_;
    FoldedColumn titles_;
    FoldedColumn authors_;
    std::vector<std::int32_t> weights_;
    // Rows by category: each distinct "ID" gets a dense number as its rows arrive
    // (categoryIds_), the rows of number k are categoryRows_[categoryStart_[k] ..
    // categoryStart_[k + 1]). A map of vectors costs a node chase and a vector of its own per
    // row, which was a tenth of the whole open.
    class DenseIds {
    public:
        std::uint32_t Add(std::int32_t key); // the key's number, new ones numbered in order
        std::optional<std::uint32_t> Find(long long key) const;
        std::size_t size() const { return count_; }

    private:
        static std::size_t Slot(std::int64_t key, std::size_t mask) {
            return static_cast<std::size_t>(
                       static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull >> 32) &
                   mask;
        }
        void Grow();
        static constexpr std::int64_t kFree = std::numeric_limits<std::int64_t>::min();
        std::vector<std::int64_t> keys_;
        std::vector<std::uint32_t> ids_;
        std::size_t count_ = 0;
    };
    DenseIds categoryIds_;
    std::vector<std::uint32_t> rowCategoryId_; // per List row; unused for a NULL "ID"
    std::vector<std::uint32_t> categoryStart_;
    std::vector<std::uint32_t> categoryRows_;
    std::unordered_map<long long, std::uint32_t> categoryRow_;
    std::unordered_map<int, std::vector<std::uint32_t>> byLevel_;
    // The first row of each address, in an open-addressing table keyed by the hash of the
    // address folded to lower case; the addresses themselves are compared in the rows. Built
    // as the rows arrive, in table order, with no sort at the end. A map of folded copies takes
    // a node, a key and a bucket per row, well over 100 bytes; this takes 16 at most.
    struct AddressSlot {
        std::uint32_t hash = 0;
        std::uint32_t row = kNoRow;
    };
    static constexpr std::uint32_t kNoRow = std::numeric_limits<std::uint32_t>::max();
    void AddAddress(std::uint32_t hash, std::uint32_t row);
    void ReserveAddresses(std::size_t rows);
    std::vector<AddressSlot> byAddress_;
    std::size_t addresses_ = 0;
};

} // namespace vm::catalogue
