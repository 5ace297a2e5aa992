#pragma once
// Shared by the jet tests: temporary folders, an in-memory SQLite target and reading it back.

#include "platform/ado/jet/JetReader.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace vm::ado::jet::test {

inline std::string U8(std::u8string_view s) {
    return std::string(s.begin(), s.end());
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vm-jet-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

using Db = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;

inline Db MemoryDb() {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    return Db(db, &sqlite3_close);
}

// A cell as text (a blob as its bytes); NULL is "<null>".
using Table = std::vector<std::vector<std::string>>;

inline Table Query(sqlite3* db, const std::string& sql) {
    Table rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        return {{"<error>", sqlite3_errmsg(db)}};
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            switch (sqlite3_column_type(stmt, i)) {
            case SQLITE_NULL:
                row.push_back("<null>");
                break;
            case SQLITE_BLOB:
                if (const void* blob = sqlite3_column_blob(stmt, i))
                    row.push_back(
                        std::string(static_cast<const char*>(blob),
                                    static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))));
                else
                    row.push_back("");
                break;
            default:
                row.push_back(
                    std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))));
            }
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
}

// Takes the rows of one table, each cell in the text form Query() gives (an integer in
// decimal; reals are not expected here).
class CollectingTap : public RowTap {
public:
    explicit CollectingTap(std::string table) : table_(std::move(table)) {}
    bool TakeTable(std::string_view name, std::span<const TapColumn> given,
                   std::uint32_t) override {
        taking_ = name == table_;
        if (taking_)
            for (const TapColumn& c : given) {
                columns.push_back({std::string(c.name), std::string(c.declared)});
                // What SQLite keeps in other columns may not read back as it was given.
                plain = plain && (c.declared == "INTEGER" || c.declared == "TEXT");
            }
        return taking_;
    }
    bool TakeRow(std::span<const TapCell> cells) override {
        std::vector<std::string> row;
        for (const TapCell& c : cells) {
            if (c.kind == TapCell::Null)
                row.push_back("<null>");
            else if (c.kind == TapCell::Integer)
                row.push_back(std::to_string(c.integer));
            else
                row.push_back(std::string(c.bytes));
        }
        rows.push_back(std::move(row));
        return true;
    }
    Table rows;
    std::vector<std::vector<std::string>> columns;
    bool plain = true;

private:
    std::string table_;
    bool taking_ = false;
};

} // namespace vm::ado::jet::test
