#pragma once
// Shared by the jet tests: temporary folders, an in-memory SQLite target and reading it back.

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

} // namespace vm::ado::jet::test
