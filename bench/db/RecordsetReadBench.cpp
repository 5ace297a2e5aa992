// Reading all eleven columns of every row of a 100,000-resource catalogue, the way the list
// queries do (getValue by column name, moveNext), through DbRecordset over the jet provider;
// beside it the same rows read straight from a SQLite file with the C API, the floor any
// wrapper sits on, and DbRecordset over that SQLite file (UTF-8 converted per value). The jet
// rows are read both through a keyset recordset and through a forward-only, read-only one.

#include "db/DbConnection.h"
#include "db/DbRecordset.h"
#include "mdbwriter/Catalogue.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr int kResources = 100000;
constexpr int kCategories = 2000;
const char* const kColumns[] = {"ID",   "名称",     "介绍",   "作者", "地址", "视频",
                                "大小", "修改时间", "样式值", "权重", "编号"};

struct Files {
    std::filesystem::path folder;
    std::string mdb, sqlite;
};

// Written once per run: the catalogue as .mdb, and the same List rows as a SQLite file.
const Files& TheFiles() {
    static const Files files = [] {
        Files f;
        f.folder =
            std::filesystem::temp_directory_path() / ("vm-bench-db-" + std::to_string(::getpid()));
        std::filesystem::create_directories(f.folder);
        f.mdb = (f.folder / "TreeList.mdb").string();
        f.sqlite = (f.folder / "list.db").string();
        vm::mdbwriter::CatalogueShape shape;
        shape.resources = kResources;
        shape.categories = kCategories;
        std::string error;
        if (!vm::mdbwriter::WriteCatalogue(f.mdb, shape, &error))
            std::fprintf(stderr, "catalogue: %s\n", error.c_str());
        sqlite3* db = nullptr;
        sqlite3_open(f.sqlite.c_str(), &db);
        sqlite3_exec(db,
                     "create table List(ID INTEGER, 名称 TEXT, 介绍 TEXT, 作者 TEXT, 地址 TEXT, "
                     "视频 TEXT, 大小 TEXT, 修改时间 INTEGER, 样式值 INTEGER, 权重 INTEGER, 编号 "
                     "INTEGER); begin",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "insert into List values(?,?,?,?,?,?,?,?,?,?,?)", -1, &insert,
                           nullptr);
        for (const vm::mdbwriter::Row& row : vm::mdbwriter::ListRows(shape)) {
            for (std::size_t i = 0; i < row.size(); ++i) {
                const int at = static_cast<int>(i) + 1;
                if (const auto* n = std::get_if<std::int64_t>(&row[i]))
                    sqlite3_bind_int64(insert, at, *n);
                else if (const auto* s = std::get_if<std::string>(&row[i]))
                    sqlite3_bind_text(insert, at, s->c_str(), -1, SQLITE_TRANSIENT);
                else
                    sqlite3_bind_null(insert, at);
            }
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return f;
    }();
    return files;
}

void ReadAll(benchmark::State& state, vm::db::DbRecordset& list) {
    for (auto _ : state) {
        std::size_t values = 0;
        list.moveFirst();
        while (!list.isEof()) {
            for (const char* column : kColumns) {
                const vm::automation::Variant value = list.getValue(std::string(column));
                values += value.IsNull() ? 0 : 1;
            }
            list.moveNext();
        }
        benchmark::DoNotOptimize(values);
    }
    state.counters["rows"] = list.recordCount();
}

void BM_DbRecordsetOverJet(benchmark::State& state) {
    vm::db::DbConnection catalogue;
    if (!catalogue.openAccess(TheFiles().mdb, "kq7.vm3rxp.tz")) {
        state.SkipWithError("the catalogue did not open");
        return;
    }
    vm::db::DbRecordset list;
    list.setConnection(catalogue);
    list.open("List", 2);
    ReadAll(state, list);
}

// The catalogue's own way: forward-only and read-only, fetched row by row as it moves on. A
// forward-only recordset is read once, so each iteration opens it: compare with the keyset read
// plus BM_OpenListTable.
void BM_ForwardOnlyOverJet(benchmark::State& state) {
    vm::db::DbConnection catalogue;
    if (!catalogue.openAccess(TheFiles().mdb, "kq7.vm3rxp.tz")) {
        state.SkipWithError("the catalogue did not open");
        return;
    }
    vm::db::DbRecordset list;
    list.setConnection(catalogue);
    std::size_t rows = 0;
    for (auto _ : state) {
        list.open("List", 2, 0, 1);
        std::size_t values = 0;
        rows = 0;
        while (!list.isEof()) {
            for (const char* column : kColumns) {
                const vm::automation::Variant value = list.getValue(std::string(column));
                values += value.IsNull() ? 0 : 1;
            }
            ++rows;
            list.moveNext();
        }
        benchmark::DoNotOptimize(values);
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_DbRecordsetOverSqliteFile(benchmark::State& state) {
    vm::db::DbConnection connection;
    if (!connection.openSqlite(TheFiles().sqlite, "", 1)) {
        state.SkipWithError("the SQLite file did not open");
        return;
    }
    vm::db::DbRecordset list;
    list.setConnection(connection);
    list.open("List", 2);
    ReadAll(state, list);
}

void BM_SqliteCApi(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(TheFiles().sqlite.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (auto _ : state) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "select * from List", -1, &stmt, nullptr);
        std::size_t bytes = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW)
            for (int i = 0; i < 11; ++i)
                bytes += static_cast<std::size_t>(sqlite3_column_bytes(stmt, i));
        sqlite3_finalize(stmt);
        benchmark::DoNotOptimize(bytes);
    }
    sqlite3_close(db);
}

void BM_OpenListTable(benchmark::State& state) {
    vm::db::DbConnection catalogue;
    if (!catalogue.openAccess(TheFiles().mdb, "kq7.vm3rxp.tz")) {
        state.SkipWithError("the catalogue did not open");
        return;
    }
    vm::db::DbRecordset list;
    list.setConnection(catalogue);
    for (auto _ : state)
        benchmark::DoNotOptimize(list.open("List", 2));
}

BENCHMARK(BM_DbRecordsetOverJet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForwardOnlyOverJet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DbRecordsetOverSqliteFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteCApi)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenListTable)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TheFiles();
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(TheFiles().folder);
    return 0;
}
