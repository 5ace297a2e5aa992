#include "catalogue/Records.h"

#include "platform/text/Gbk.h"

#include <algorithm>
#include <cstring>

namespace vm::catalogue {
namespace {

const std::vector<std::uint32_t> kNoRows;

std::uint64_t FoldedHash(std::string_view text) {
    // FNV-1a over the bytes with ASCII capitals folded, as a Find folds them.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    }
    return hash;
}

// Appends `text` with its ASCII capitals folded, as text::ToLowerAscii folds them (a two-byte
// character's trail byte stays), without a copy of its own per row.
void AppendFolded(std::string& out, std::string_view text) {
    const std::size_t from = out.size();
    out += text;
    for (std::size_t at = from; at < out.size();) {
        const unsigned char c = static_cast<unsigned char>(out[at]);
        if (c >= 0x80) {
            at += 2;
            continue;
        }
        if (c >= 'A' && c <= 'Z')
            out[at] = static_cast<char>(c - 'A' + 'a');
        ++at;
    }
}

// FNV's high half, which every byte has stirred; its low bits alone spread poorly.
std::uint32_t AddressTag(std::string_view address) {
    return static_cast<std::uint32_t>(FoldedHash(address) >> 32);
}

std::size_t AddressSlotOf(std::uint32_t tag, std::size_t mask) {
    return static_cast<std::size_t>(tag * 0x9E3779B97F4A7C15ull >> 32) & mask;
}

// Whether `offset` is where a character of `text` starts (a byte of 0x80 or more leads a pair).
// A byte below 0x80 ends a character (an ASCII one, or a pair's trail byte), so one starts right
// after it, and from there every byte of 0x80 or more leads a pair: only the run of such bytes
// just before `offset` decides, read eight at a time.
bool StartsACharacter(std::string_view text, std::size_t offset) {
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    std::size_t run = 0;
    for (std::uint64_t word = 0; run + 8 <= offset; run += 8) {
        std::memcpy(&word, text.data() + offset - run - 8, 8);
        if ((word & kHigh) != kHigh)
            break;
    }
    while (run < offset && static_cast<unsigned char>(text[offset - 1 - run]) >= 0x80)
        ++run;
    return run % 2 == 0;
}

} // namespace

CatalogueData::CatalogueData() {
    titles_.start.push_back(0);
    authors_.start.push_back(0);
}

CatalogueData::CatalogueData(CatalogueTables tables) : CatalogueData() {
    tables_ = std::move(tables);
    tables_.listCategoryNull.resize(tables_.list.size(), false);
    tables_.listAddressNull.resize(tables_.list.size(), false);
    tables_.treeIdNull.resize(tables_.tree.size(), false);

    titles_.start.reserve(tables_.list.size() + 1);
    authors_.start.reserve(tables_.list.size() + 1);
    weights_.reserve(tables_.list.size());
    rowCategoryId_.reserve(tables_.list.size());
    ReserveAddresses(tables_.list.size());
    std::size_t titleBytes = 0, authorBytes = 0;
    for (const ResourceRecord& r : tables_.list) {
        titleBytes += r.title.size();
        authorBytes += r.author.size();
    }
    titles_.text.reserve(titleBytes);
    authors_.text.reserve(authorBytes);
    for (std::uint32_t i = 0; i < tables_.list.size(); ++i)
        IndexResource(i);
    for (std::uint32_t i = 0; i < tables_.tree.size(); ++i)
        IndexCategory(i);
    FinishIndexes();
}

void CatalogueData::IndexResource(std::uint32_t i) {
    const ResourceRecord& r = tables_.list[i];
    titles_.Append(r.title);
    authors_.Append(r.author);
    weights_.push_back(r.weight);
    rowCategoryId_.push_back(tables_.listCategoryNull[i] ? 0 : categoryIds_.Add(r.category));
    if (!tables_.listAddressNull[i])
        AddAddress(AddressTag(r.address), i);
}

void CatalogueData::IndexCategory(std::uint32_t i) {
    const CategoryNode& c = tables_.tree[i];
    if (!tables_.treeIdNull[i])
        categoryRow_.try_emplace(c.id, i);
    byLevel_[c.level].push_back(i);
}

void CatalogueData::FinishIndexes() {
    // A counting sort of the rows by their category's number, rows ascending within each.
    categoryStart_.assign(categoryIds_.size() + 1, 0);
    for (std::size_t i = 0; i < rowCategoryId_.size(); ++i)
        if (!tables_.listCategoryNull[i])
            ++categoryStart_[rowCategoryId_[i] + 1];
    for (std::size_t k = 1; k < categoryStart_.size(); ++k)
        categoryStart_[k] += categoryStart_[k - 1];
    categoryRows_.resize(categoryStart_.back());
    std::vector<std::uint32_t> next(categoryStart_.begin(), categoryStart_.end() - 1);
    for (std::uint32_t i = 0; i < rowCategoryId_.size(); ++i)
        if (!tables_.listCategoryNull[i])
            categoryRows_[next[rowCategoryId_[i]]++] = i;
    rowCategoryId_ = {};
}

std::uint32_t CatalogueData::DenseIds::Add(std::int32_t key) {
    if ((count_ + 1) * 2 > keys_.size())
        Grow();
    const std::size_t mask = keys_.size() - 1;
    for (std::size_t slot = Slot(key, mask);; slot = (slot + 1) & mask) {
        if (keys_[slot] == key)
            return ids_[slot];
        if (keys_[slot] == kFree) {
            keys_[slot] = key;
            ids_[slot] = static_cast<std::uint32_t>(count_++);
            return ids_[slot];
        }
    }
}

std::optional<std::uint32_t> CatalogueData::DenseIds::Find(long long key) const {
    if (keys_.empty() || key < std::numeric_limits<std::int32_t>::min() ||
        key > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    const std::size_t mask = keys_.size() - 1;
    for (std::size_t slot = Slot(key, mask);; slot = (slot + 1) & mask) {
        if (keys_[slot] == key)
            return ids_[slot];
        if (keys_[slot] == kFree)
            return std::nullopt;
    }
}

void CatalogueData::DenseIds::Grow() {
    std::vector<std::int64_t> keys(std::max<std::size_t>(64, keys_.size() * 2), kFree);
    std::vector<std::uint32_t> ids(keys.size());
    const std::size_t mask = keys.size() - 1;
    for (std::size_t old = 0; old < keys_.size(); ++old) {
        if (keys_[old] == kFree)
            continue;
        std::size_t slot = Slot(keys_[old], mask);
        while (keys[slot] != kFree)
            slot = (slot + 1) & mask;
        keys[slot] = keys_[old];
        ids[slot] = ids_[old];
    }
    keys_ = std::move(keys);
    ids_ = std::move(ids);
}

CatalogueData::Builder::Builder() : data_(new CatalogueData) {}

void CatalogueData::Builder::Reserve(std::size_t resources) {
    CatalogueTables& t = data_->tables_;
    const std::size_t n = t.list.size() + resources;
    t.list.reserve(n);
    t.listCategoryNull.reserve(n);
    t.listAddressNull.reserve(n);
    data_->titles_.start.reserve(n + 1);
    data_->authors_.start.reserve(n + 1);
    data_->weights_.reserve(n);
    data_->rowCategoryId_.reserve(n);
    data_->ReserveAddresses(n);
}

void CatalogueData::Builder::AddResource(ResourceRecord record, bool categoryNull, bool addressNull,
                                         bool modifiedNull) {
    CatalogueTables& t = data_->tables_;
    if (!modifiedNull && (!t.newestModified || record.modified > *t.newestModified))
        t.newestModified = record.modified;
    t.list.push_back(std::move(record));
    t.listCategoryNull.push_back(categoryNull);
    t.listAddressNull.push_back(addressNull);
    data_->IndexResource(static_cast<std::uint32_t>(t.list.size() - 1));
}

void CatalogueData::Builder::AddCategory(CategoryNode category, bool idNull, bool levelNull) {
    CatalogueTables& t = data_->tables_;
    if (!levelNull && (!t.deepestLevel || category.level > *t.deepestLevel))
        t.deepestLevel = category.level;
    t.tree.push_back(std::move(category));
    t.treeIdNull.push_back(idNull);
    data_->IndexCategory(static_cast<std::uint32_t>(t.tree.size() - 1));
}

std::shared_ptr<const CatalogueData> CatalogueData::Builder::Finish() {
    data_->FinishIndexes();
    return std::move(data_);
}

void CatalogueData::FoldedColumn::Append(std::string_view row) {
    const std::size_t from = text.size();
    AppendFolded(text, row);
    for (std::size_t at = from; at < text.size(); ++at)
        ++byteCount[static_cast<unsigned char>(text[at])];
    start.push_back(static_cast<std::uint32_t>(text.size()));
}

std::vector<std::uint32_t> CatalogueData::RowsContaining(bool author,
                                                         std::string_view foldedNeedle) const {
    const FoldedColumn& column = author ? authors_ : titles_;
    const std::string_view all = column.text;
    // memchr for the needle's rarest byte in this column, then a compare: a search led by
    // the first byte stops at every copy of it, and in Chinese text a lead byte recurs every
    // few characters.
    const std::size_t n = foldedNeedle.size();
    std::size_t key = 0;
    for (std::size_t i = 1; i < n; ++i)
        if (column.byteCount[static_cast<unsigned char>(foldedNeedle[i])] <
            column.byteCount[static_cast<unsigned char>(foldedNeedle[key])])
            key = i;
    // The next match starting at `from` or later.
    const auto find = [&](std::size_t from) {
        if (all.size() < n)
            return std::string_view::npos;
        const std::size_t last = all.size() - n + key; // the key byte of the last place
        for (std::size_t pos = from + key; pos <= last;) {
            const void* hit = std::memchr(all.data() + pos, foldedNeedle[key], last + 1 - pos);
            if (hit == nullptr)
                break;
            const std::size_t at =
                static_cast<std::size_t>(static_cast<const char*>(hit) - all.data()) - key;
            if (std::memcmp(all.data() + at, foldedNeedle.data(), n) == 0)
                return at;
            pos = at + key + 1;
        }
        return std::string_view::npos;
    };
    std::vector<std::uint32_t> rows;
    std::size_t row = 0;
    for (std::size_t at = find(0); at != std::string_view::npos; at = find(at)) {
        while (column.start[row + 1] <= at)
            ++row;
        const std::size_t begin = column.start[row], end = column.start[row + 1];
        // A match that runs into the next row, or starts on a trail byte, does not count.
        if (at + foldedNeedle.size() <= end &&
            StartsACharacter(all.substr(begin, end - begin), at - begin)) {
            rows.push_back(static_cast<std::uint32_t>(row));
            at = end;
        } else {
            ++at;
        }
    }
    return rows;
}

std::span<const std::uint32_t> CatalogueData::ResourcesOf(long long category) const {
    const std::optional<std::uint32_t> id = categoryIds_.Find(category);
    if (!id || *id + 1 >= categoryStart_.size())
        return {};
    return std::span<const std::uint32_t>(categoryRows_)
        .subspan(categoryStart_[*id], categoryStart_[*id + 1] - categoryStart_[*id]);
}

const CategoryNode* CatalogueData::Category(long long id) const {
    const auto it = categoryRow_.find(id);
    return it == categoryRow_.end() ? nullptr : &tables_.tree[it->second];
}

const std::vector<std::uint32_t>& CatalogueData::LevelRows(int level) const {
    const auto it = byLevel_.find(level);
    return it == byLevel_.end() ? kNoRows : it->second;
}

void CatalogueData::ReserveAddresses(std::size_t rows) {
    std::size_t size = 64;
    while (size < 2 * (addresses_ + rows))
        size *= 2;
    if (size <= byAddress_.size())
        return;
    // Again in table order, which the probes rely on.
    std::vector<AddressSlot> old;
    for (const AddressSlot& slot : byAddress_)
        if (slot.row != kNoRow)
            old.push_back(slot);
    std::sort(old.begin(), old.end(),
              [](const AddressSlot& a, const AddressSlot& b) { return a.row < b.row; });
    byAddress_.assign(size, AddressSlot{});
    addresses_ = 0;
    for (const AddressSlot& slot : old)
        AddAddress(slot.hash, slot.row);
}

void CatalogueData::AddAddress(std::uint32_t hash, std::uint32_t row) {
    if (2 * (addresses_ + 1) > byAddress_.size())
        ReserveAddresses(std::max<std::size_t>(addresses_, 32));
    const std::size_t mask = byAddress_.size() - 1;
    std::size_t at = AddressSlotOf(hash, mask);
    // Only the first row of an address is ever found: a later one (the many empty addresses
    // above all) is left out rather than lengthening the probe for everyone.
    const std::string_view address = tables_.list[row].address;
    for (; byAddress_[at].row != kNoRow; at = (at + 1) & mask)
        if (byAddress_[at].hash == hash &&
            text::EqualsFoldingEveryByte(tables_.list[byAddress_[at].row].address, address))
            return;
    byAddress_[at] = {hash, row};
    ++addresses_;
}

const ResourceRecord* CatalogueData::ResourceAt(std::string_view address) const {
    if (byAddress_.empty())
        return nullptr;
    const std::uint32_t hash = AddressTag(address);
    const std::size_t mask = byAddress_.size() - 1;
    for (std::size_t at = AddressSlotOf(hash, mask); byAddress_[at].row != kNoRow;
         at = (at + 1) & mask) {
        if (byAddress_[at].hash != hash)
            continue;
        const ResourceRecord& r = tables_.list[byAddress_[at].row];
        if (text::EqualsFoldingEveryByte(r.address, address))
            return &r;
    }
    return nullptr;
}

} // namespace vm::catalogue
