#include "catalogue/Records.h"

#include "platform/text/Gbk.h"

#include <algorithm>

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

std::uint64_t FoldedHash(std::string_view text) {
    // FNV-1a over the bytes with ASCII capitals folded, as FoldKey folds them.
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

bool StartsACharacter(std::string_view text, std::size_t offset) {
    std::size_t at = 0;
    while (at < offset)
        at += text::CharLengthAt(text, at);
    return at == offset;
}

} // namespace

CatalogueData::CatalogueData(CatalogueTables tables) : tables_(std::move(tables)) {
    tables_.listCategoryNull.resize(tables_.list.size(), false);
    tables_.listAddressNull.resize(tables_.list.size(), false);
    tables_.treeIdNull.resize(tables_.tree.size(), false);

    titles_.start.reserve(tables_.list.size() + 1);
    authors_.start.reserve(tables_.list.size() + 1);
    weights_.reserve(tables_.list.size());
    byAddress_.reserve(tables_.list.size());
    titles_.start.push_back(0);
    authors_.start.push_back(0);
    std::size_t titleBytes = 0, authorBytes = 0;
    for (const ResourceRecord& r : tables_.list) {
        titleBytes += r.title.size();
        authorBytes += r.author.size();
    }
    titles_.text.reserve(titleBytes);
    authors_.text.reserve(authorBytes);
    for (std::uint32_t i = 0; i < tables_.list.size(); ++i) {
        const ResourceRecord& r = tables_.list[i];
        AppendFolded(titles_.text, r.title);
        titles_.start.push_back(static_cast<std::uint32_t>(titles_.text.size()));
        AppendFolded(authors_.text, r.author);
        authors_.start.push_back(static_cast<std::uint32_t>(authors_.text.size()));
        weights_.push_back(r.weight);
        if (!tables_.listCategoryNull[i])
            byCategory_[r.category].push_back(i);
        if (!tables_.listAddressNull[i])
            byAddress_.push_back({FoldedHash(r.address), i});
    }
    std::sort(byAddress_.begin(), byAddress_.end());
    for (std::uint32_t i = 0; i < tables_.tree.size(); ++i) {
        const CategoryNode& c = tables_.tree[i];
        if (!tables_.treeIdNull[i])
            categoryRow_.try_emplace(c.id, i);
        byLevel_[c.level].push_back(i);
    }
}

std::vector<std::uint32_t> CatalogueData::RowsContaining(bool author,
                                                         std::string_view foldedNeedle) const {
    const FoldedColumn& column = author ? authors_ : titles_;
    const std::string_view all = column.text;
    std::vector<std::uint32_t> rows;
    std::size_t row = 0;
    for (std::size_t at = all.find(foldedNeedle); at != std::string_view::npos;
         at = all.find(foldedNeedle, at)) {
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
    const std::uint64_t hash = FoldedHash(address);
    const std::string key = FoldKey(address);
    auto it = std::lower_bound(byAddress_.begin(), byAddress_.end(), AddressEntry{hash, 0});
    for (; it != byAddress_.end() && it->hash == hash; ++it) {
        const ResourceRecord& r = tables_.list[it->row];
        if (r.address.size() == key.size() && FoldKey(r.address) == key)
            return &r;
    }
    return nullptr;
}

} // namespace vm::catalogue
