#pragma once
// Shared fixtures of the ADO tests: real SQLite files in a temporary folder, made with
// libsqlite3 itself, and the objects created by ProgID as the logic creates them.

#include "platform/automation/Com.h"
#include "platform/automation/Object.h"
#include "platform/text/Codepage.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace vm::ado::testing {

using automation::Object;
using automation::Variant;

// Runs SQL (UTF-8) directly on a database file.
inline void Sql(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

// The first column of the first row (UTF-8), "" when there is none or it is NULL.
inline std::string Scalar(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0))
        out = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return out;
}

inline std::string SqliteConnectionString(const std::filesystem::path& file) {
    return "Driver={SQLite3 ODBC Driver};Database=" + file.string() + ";PWD='';";
}

inline std::string Gbk(const char8_t* utf8) {
    return text::Gbk(utf8);
}

// A test with COM initialised on its thread and a catalogue-like database:
// items(id INTEGER PRIMARY KEY, name TEXT, qty INTEGER, price REAL, made DATETIME)
// holding `rows` rows: id i, name "item<i>" (every third one Chinese), qty i % 4, price i * 1.5.
class AdoTest : public ::testing::Test {
protected:
    void SetUp() override {
        automation::CoInitialize();
        db_ = folder_ / "data.db";
    }
    void TearDown() override { automation::CoUninitialize(); }

    void MakeItems(int rows) {
        std::string sql = "create table items(id INTEGER PRIMARY KEY, name VARCHAR(40), qty "
                          "INTEGER, price REAL, made DATETIME);";
        for (int i = 1; i <= rows; ++i) {
            const std::string name = i % 3 == 0 ? "\xe6\x9d\xa1\xe7\x9b\xae" + std::to_string(i)
                                                : "item" + std::to_string(i);
            sql += "insert into items values(" + std::to_string(i) + ",'" + name + "'," +
                   std::to_string(i % 4) + "," + std::to_string(i * 1.5) + ",'2024-05-0" +
                   std::to_string(1 + i % 9) + " 10:00:00');";
        }
        Sql(db_, sql);
    }

    Object OpenConnection() {
        Object connection = automation::CreateObject("ADODB.Connection");
        connection.Call("Open", {Variant(SqliteConnectionString(db_))});
        EXPECT_EQ(automation::LastCallError(), 0) << automation::LastCallException();
        return connection;
    }

    Object OpenRecordset(const Object& connection, const std::string& sql, int cursor = 1,
                         int lock = 3) {
        Object recordset = automation::CreateObject("ADODB.RecordSet");
        recordset.Call("Open", {Variant(sql), Variant(connection), Variant(std::int32_t{cursor}),
                                Variant(std::int32_t{lock})});
        EXPECT_EQ(automation::LastCallError(), 0) << automation::LastCallException();
        return recordset;
    }

    static std::string LastProviderError(const Object& connection) {
        const Object errors = connection.GetObject("Errors");
        const int count = errors.GetInt("Count");
        if (count == 0)
            return {};
        return errors.GetObject("Item", {Variant(std::int32_t{count - 1})}).GetText("Description");
    }

    vm::testing::TempFolder folder_{"vm-ado"};
    std::filesystem::path db_;
};

} // namespace vm::ado::testing
