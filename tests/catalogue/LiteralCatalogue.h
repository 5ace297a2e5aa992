#pragma once
// The catalogue's reads and queries done literally, through the database classes, the way the
// original procedures do them (getValue by column name, Find and FindNext, MoveLast and
// MovePrevious, a statement for each maximum). The references that the rows held in memory
// must reproduce.

#include "catalogue/Records.h"
#include "db/DbConnection.h"
#include "db/DbRecordset.h"

#include <string>
#include <vector>

namespace vm::catalogue::testing {

class LiteralCatalogue {
public:
    // Opens the file as OpenCatalogue does, on objects of its own.
    bool Open(const std::string& path, const std::string& password);

    std::vector<ResourceRecord> AllResources();
    std::vector<CategoryNode> AllCategories();
    std::vector<ResourceRecord> Latest();
    std::vector<ResourceRecord> Category(long long category);
    std::vector<ResourceRecord> Search(const std::string& text);
    std::string CategoryName(long long category);
    std::string CategoryPath(const std::string& address);
    int MaxLevel();

    db::DbConnection& connection() { return connection_; }

private:
    ResourceRecord ReadRecord();
    int MaxOf(const std::string& statement);

    db::DbConnection connection_;
    db::DbRecordset list_;
    db::DbRecordset tree_;
};

void LiteralExchangeSort(std::vector<ResourceRecord>& records);

} // namespace vm::catalogue::testing
