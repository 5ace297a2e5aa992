#include "catalogue/CatalogueReader.h"

#include "platform/ado/DirectTables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace vm::catalogue {
namespace {

using automation::Variant;

// Column names, in the order of the record fields they fill.
constexpr std::array<const char*, 11> kListColumns = {
    "ID", "名称", "介绍", "作者", "地址", "视频", "大小", "修改时间", "样式值", "权重", "编号"};
constexpr std::array<const char*, 6> kTreeColumns = {"ID", "层次", "父ID", "名称", "介绍", "权重"};

template <std::size_t N>
std::array<db::FieldKey, N> ResolveColumns(db::DbRecordset& table,
                                           const std::array<const char*, N>& names) {
    std::array<db::FieldKey, N> keys;
    for (std::size_t i = 0; i < N; ++i) {
        const int index = table.fieldIndex(names[i]);
        // A name the table spells differently (ADO matches names in any case) stays a name.
        keys[i] = index >= 0 ? db::FieldKey(std::int32_t{index}) : db::FieldKey(names[i]);
    }
    return keys;
}

bool IsNull(const Variant& value) {
    return value.IsNull() || value.IsEmpty();
}

void Widen(std::optional<int>& max, const Variant& value, int read) {
    if (!IsNull(value) && (!max || read > *max))
        max = read;
}

// A value read straight from the file, as ReadInteger and ReadText read its variant.
std::int32_t Integer(const ado::DirectValue& v) {
    if (v.null)
        return 0;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(v.integer, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max()));
}

std::string Text(const ado::DirectValue& v) {
    return v.null ? std::string() : std::string(v.text);
}

using ado::DirectKind;
constexpr DirectKind kInt = DirectKind::Integer;
constexpr DirectKind kText = DirectKind::Text;

// The columns in the order of kListColumns and kTreeColumns.
constexpr std::array<ado::DirectColumn, 11> kListDirect = {{{"ID", kInt},
                                                            {"名称", kText},
                                                            {"介绍", kText},
                                                            {"作者", kText},
                                                            {"地址", kText},
                                                            {"视频", kText},
                                                            {"大小", kText},
                                                            {"修改时间", kInt},
                                                            {"样式值", kInt},
                                                            {"权重", kInt},
                                                            {"编号", kInt}}};
constexpr std::array<ado::DirectColumn, 6> kTreeDirect = {{{"ID", kInt},
                                                           {"层次", kInt},
                                                           {"父ID", kInt},
                                                           {"名称", kText},
                                                           {"介绍", kText},
                                                           {"权重", kInt}}};

class ListTaker : public ado::DirectRows {
public:
    explicit ListTaker(CatalogueData::Builder& b) : b_(b) {}
    void Expect(std::size_t rows) override { b_.Reserve(rows); }
    void TakeRow(std::span<const ado::DirectValue> v) override {
        ResourceRecord r;
        r.category = Integer(v[0]);
        r.title = Text(v[1]);
        r.introduction = Text(v[2]);
        r.author = Text(v[3]);
        r.address = Text(v[4]);
        r.video = Text(v[5]);
        r.size = Text(v[6]);
        r.modified = Integer(v[7]);
        r.style = Integer(v[8]);
        r.weight = Integer(v[9]);
        r.number = Integer(v[10]);
        b_.AddResource(std::move(r), v[0].null, v[4].null, v[7].null);
    }

private:
    CatalogueData::Builder& b_;
};

class TreeTaker : public ado::DirectRows {
public:
    explicit TreeTaker(CatalogueData::Builder& b) : b_(b) {}
    void TakeRow(std::span<const ado::DirectValue> v) override {
        CategoryNode c;
        c.id = Integer(v[0]);
        c.level = Integer(v[1]);
        c.parent = Integer(v[2]);
        c.name = Text(v[3]);
        c.introduction = Text(v[4]);
        c.weight = Integer(v[5]);
        b_.AddCategory(std::move(c), v[0].null, v[1].null);
    }

private:
    CatalogueData::Builder& b_;
};

} // namespace

DirectOpen ReadCatalogueDirect(const std::string& path, const std::string& password,
                               std::shared_ptr<const CatalogueData>& data) {
    CatalogueData::Builder builder;
    ListTaker list(builder);
    TreeTaker tree(builder);
    const std::array<ado::DirectRequest, 2> requests = {
        {{"List", kListDirect, &list}, {"Tree", kTreeDirect, &tree}}};
    // The text DbConnection::openAccess opens (route 0), so that the file is looked for and
    // refused exactly as there.
    const std::string connection =
        "Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:DataBase Password=" + password +
        ";Data Source=" + path + ";Persist Security Info=False";
    std::string error;
    switch (ado::ReadAccessTables(connection, requests, error)) {
    case ado::DirectResult::Read:
        data = builder.Finish();
        return DirectOpen::Read;
    case ado::DirectResult::NotOpened:
        return DirectOpen::Failed;
    case ado::DirectResult::NotServed:
        break;
    }
    return DirectOpen::NotServed;
}

std::int32_t ReadInteger(const Variant& value) {
    double number = 0;
    if (IsNull(value) || !value.ToDouble(number) || !std::isfinite(number))
        return 0;
    number = std::trunc(number);
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    if (number < kMin)
        return std::numeric_limits<std::int32_t>::min();
    if (number > kMax)
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(number);
}

std::string ReadText(const Variant& value) {
    std::string text;
    if (IsNull(value) || !value.ToText(text))
        return {};
    return text;
}

std::string ReadText(Variant&& value) {
    if (value.Type() == automation::VT_BSTR)
        return std::move(value).TakeText();
    return ReadText(value);
}

CatalogueTables ReadTables(db::DbRecordset& listTable, db::DbRecordset& treeTable) {
    CatalogueTables t;

    // A failing move ends the reading: an error that never reaches EOF must not loop.
    if (listTable.isOpen()) {
        listTable.moveFirst();
        const auto keys = ResolveColumns(listTable, kListColumns);
        const double count = listTable.recordCount();
        if (count > 0)
            t.list.reserve(static_cast<std::size_t>(count));
        // Each value is read into its own variant and the texts are taken over from there:
        // the rows are copied once, from the recordset into the records.
        std::array<Variant, kListColumns.size()> v;
        while (!listTable.isEof()) {
            for (std::size_t i = 0; i < v.size(); ++i)
                listTable.readValue(keys[i], v[i]);
            ResourceRecord r;
            r.category = ReadInteger(v[0]);
            r.title = ReadText(std::move(v[1]));
            r.introduction = ReadText(std::move(v[2]));
            r.author = ReadText(std::move(v[3]));
            // "地址=''" matches an empty text but never a NULL.
            t.listAddressNull.push_back(IsNull(v[4]));
            r.address = ReadText(std::move(v[4]));
            r.video = ReadText(std::move(v[5]));
            r.size = ReadText(std::move(v[6]));
            r.modified = ReadInteger(v[7]);
            r.style = ReadInteger(v[8]);
            r.weight = ReadInteger(v[9]);
            r.number = ReadInteger(v[10]);
            t.listCategoryNull.push_back(IsNull(v[0]));
            Widen(t.newestModified, v[7], r.modified);
            t.list.push_back(std::move(r));
            if (!listTable.moveNext())
                break;
        }
    }

    if (treeTable.isOpen()) {
        treeTable.moveFirst();
        const auto keys = ResolveColumns(treeTable, kTreeColumns);
        while (!treeTable.isEof()) {
            CategoryNode c;
            const Variant id = treeTable.getValue(keys[0]);
            c.id = ReadInteger(id);
            const Variant level = treeTable.getValue(keys[1]);
            c.level = ReadInteger(level);
            c.parent = ReadInteger(treeTable.getValue(keys[2]));
            c.name = ReadText(treeTable.getValue(keys[3]));
            c.introduction = ReadText(treeTable.getValue(keys[4]));
            c.weight = ReadInteger(treeTable.getValue(keys[5]));
            t.treeIdNull.push_back(IsNull(id));
            Widen(t.deepestLevel, level, c.level);
            t.tree.push_back(std::move(c));
            if (!treeTable.moveNext())
                break;
        }
    }
    return t;
}

} // namespace vm::catalogue
