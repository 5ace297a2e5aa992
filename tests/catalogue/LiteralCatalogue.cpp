#include "catalogue/LiteralCatalogue.h"

#include "catalogue/CatalogueReader.h"
#include "catalogue/LiteralExchangeSort.h"
#include "catalogue/Queries.h"
#include "db/DbCommand.h"
#include "platform/text/Gbk.h"

namespace vm::catalogue::testing {

bool LiteralCatalogue::Open(const std::string& path, const std::string& password) {
    if (!connection_.openAccess(path, password, 0))
        return false;
    list_.setConnection(connection_);
    list_.open("List", 2);
    tree_.setConnection(connection_);
    tree_.open("Tree", 2);
    return true;
}

ResourceRecord LiteralCatalogue::ReadRecord() {
    ResourceRecord r;
    r.category = ReadInteger(list_.getValue(std::string("ID")));
    r.title = ReadText(list_.getValue(std::string("名称")));
    r.introduction = ReadText(list_.getValue(std::string("介绍")));
    r.author = ReadText(list_.getValue(std::string("作者")));
    r.address = ReadText(list_.getValue(std::string("地址")));
    r.video = ReadText(list_.getValue(std::string("视频")));
    r.size = ReadText(list_.getValue(std::string("大小")));
    r.modified = ReadInteger(list_.getValue(std::string("修改时间")));
    r.style = ReadInteger(list_.getValue(std::string("样式值")));
    r.weight = ReadInteger(list_.getValue(std::string("权重")));
    r.number = ReadInteger(list_.getValue(std::string("编号")));
    return r;
}

std::vector<ResourceRecord> LiteralCatalogue::AllResources() {
    std::vector<ResourceRecord> all;
    list_.moveFirst();
    const auto n = static_cast<long long>(list_.recordCount());
    for (long long i = 0; i < n; ++i) {
        all.push_back(ReadRecord());
        list_.moveNext();
    }
    return all;
}

std::vector<CategoryNode> LiteralCatalogue::AllCategories() {
    std::vector<CategoryNode> all;
    tree_.moveFirst();
    const auto n = static_cast<long long>(tree_.recordCount());
    for (long long i = 0; i < n; ++i) {
        CategoryNode c;
        c.id = ReadInteger(tree_.getValue(std::string("ID")));
        c.level = ReadInteger(tree_.getValue(std::string("层次")));
        c.parent = ReadInteger(tree_.getValue(std::string("父ID")));
        c.name = ReadText(tree_.getValue(std::string("名称")));
        c.introduction = ReadText(tree_.getValue(std::string("介绍")));
        c.weight = ReadInteger(tree_.getValue(std::string("权重")));
        all.push_back(std::move(c));
        tree_.moveNext();
    }
    return all;
}

int LiteralCatalogue::MaxOf(const std::string& statement) {
    db::DbCommand command;
    db::DbRecordset result;
    command.prepare(connection_, statement);
    command.executeInto(result, 1);
    return ReadInteger(result.getValue(result.fieldName(0)));
}

int LiteralCatalogue::MaxLevel() {
    return MaxOf("select max(层次) from Tree");
}

std::vector<ResourceRecord> LiteralCatalogue::Latest() {
    const long long newest = MaxOf("select max(修改时间) from List");
    std::vector<ResourceRecord> latest;
    list_.moveLast();
    const auto n = static_cast<long long>(list_.recordCount());
    for (long long i = 0; i < n; ++i) {
        const long long t = ReadInteger(list_.getValue(std::string("修改时间")));
        if (newest < t + 7 * 86400)
            latest.push_back(ReadRecord());
        list_.movePrevious();
    }
    return latest;
}

std::vector<ResourceRecord> LiteralCatalogue::Category(long long category) {
    std::vector<ResourceRecord> records;
    list_.moveFirst();
    for (bool found = list_.find("ID=" + std::to_string(category)); found; found = list_.findNext())
        records.push_back(ReadRecord());
    LiteralExchangeSort(records);
    return records;
}

std::vector<ResourceRecord> LiteralCatalogue::Search(const std::string& text) {
    std::vector<ResourceRecord> records;
    const std::vector<std::string> keywords = text::Split(text, ",");
    if (keywords.empty() || keywords.front() == "请输入您要搜索的关键字")
        return records;
    list_.moveFirst();
    const auto n = static_cast<long long>(list_.recordCount());
    for (long long i = 0; i < n; ++i) {
        bool all = true;
        for (const std::string& k : keywords) {
            const bool author = !k.empty() && k[0] == '@';
            const std::string field =
                ReadText(list_.getValue(std::string(author ? "作者" : "名称")));
            const std::string needle = author ? k.substr(1) : k;
            const bool occurs = needle.empty() ? !field.empty() : text::Contains(field, needle);
            if (!occurs) {
                all = false;
                break;
            }
        }
        if (all)
            records.push_back(ReadRecord());
        list_.moveNext();
    }
    LiteralExchangeSort(records);
    return records;
}

std::string LiteralCatalogue::CategoryName(long long category) {
    tree_.moveFirst();
    if (!tree_.find("ID=" + std::to_string(category)))
        return {};
    return ReadText(tree_.getValue(std::string("名称")));
}

std::string LiteralCatalogue::CategoryPath(const std::string& address) {
    list_.moveFirst();
    long long c =
        list_.find("地址='" + address + "'") ? ReadInteger(list_.getValue(std::string("ID"))) : 0;
    tree_.moveFirst();
    const int level = tree_.find("ID=" + std::to_string(c))
                          ? ReadInteger(tree_.getValue(std::string("层次")))
                          : 0;
    std::string path;
    for (int l = level; l >= 1; --l) {
        tree_.moveFirst();
        for (bool found = tree_.find("层次=" + std::to_string(l)); found;
             found = tree_.findNext()) {
            if (ReadInteger(tree_.getValue(std::string("ID"))) == c) {
                path = ReadText(tree_.getValue(std::string("名称"))) + "\\" + path;
                c = ReadInteger(tree_.getValue(std::string("父ID")));
            }
        }
    }
    return path;
}

void LiteralExchangeSort(std::vector<ResourceRecord>& records) {
    std::vector<std::int32_t> weights;
    for (const ResourceRecord& r : records)
        weights.push_back(r.weight);
    std::vector<ResourceRecord> sorted;
    for (const std::uint32_t from : LiteralExchangeSortOrder(weights))
        sorted.push_back(records[from]);
    records = std::move(sorted);
}

} // namespace vm::catalogue::testing
