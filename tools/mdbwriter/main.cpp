// mdbwriter: writes password-protected Jet 4 .mdb files.
//
//   mdbwriter catalogue OUT.mdb [--categories N] [--resources N] [--seed N] [--password P]
//   mdbwriter from-sqlite IN.sqlite OUT.mdb [--password P]
//
// from-sqlite copies every table: INTEGER columns become Long, REAL Double, BLOB OLE, columns
// declared MEMO or holding text longer than 255 characters Memo, everything else Text.

#include "mdbwriter/Catalogue.h"
#include "mdbwriter/MdbWriter.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

using namespace vm::mdbwriter;

int Usage() {
    std::fprintf(stderr,
                 "usage: mdbwriter catalogue OUT.mdb [--categories N] [--resources N] [--seed N] "
                 "[--password P]\n"
                 "       mdbwriter from-sqlite IN.sqlite OUT.mdb [--password P]\n");
    return 2;
}

struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
};

bool Parse(int argc, char** argv, Arguments& args) {
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= argc)
                return false;
            args.options[arg.substr(2)] = argv[++i];
        } else {
            args.positional.push_back(arg);
        }
    }
    return true;
}

bool Number(const Arguments& args, const std::string& key, long long& value) {
    const auto it = args.options.find(key);
    if (it == args.options.end())
        return true;
    char* end = nullptr;
    value = std::strtoll(it->second.c_str(), &end, 10);
    return *end == '\0' && value >= 0;
}

int Catalogue(const Arguments& args) {
    if (args.positional.size() != 1)
        return Usage();
    CatalogueShape shape;
    long long categories = shape.categories, resources = shape.resources, seed = shape.seed;
    if (!Number(args, "categories", categories) || !Number(args, "resources", resources) ||
        !Number(args, "seed", seed) || categories > 1000000 || resources > 10000000)
        return Usage();
    shape.categories = static_cast<int>(categories);
    shape.resources = static_cast<int>(resources);
    shape.seed = static_cast<std::uint32_t>(seed);
    if (args.options.count("password"))
        shape.password = args.options.at("password");
    std::string error;
    if (!WriteCatalogue(args.positional[0], shape, &error)) {
        std::fprintf(stderr, "mdbwriter: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

using Db = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
using Stmt = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

Stmt Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    return Stmt(stmt, &sqlite3_finalize);
}

std::string Quote(const std::string& name) {
    std::string out = "\"";
    for (char c : name)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

ColumnType TypeOf(sqlite3* db, const std::string& table, const std::string& column,
                  std::string declared) {
    for (char& c : declared)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (declared.find("INT") != std::string::npos)
        return ColumnType::Long;
    if (declared.find("REAL") != std::string::npos || declared.find("DOUB") != std::string::npos ||
        declared.find("FLOA") != std::string::npos)
        return ColumnType::Double;
    if (declared.find("BLOB") != std::string::npos || declared.find("OLE") != std::string::npos)
        return ColumnType::Ole;
    if (declared.find("MEMO") != std::string::npos)
        return ColumnType::Memo;
    const Stmt longest =
        Prepare(db, "select max(length(" + Quote(column) + ")) from " + Quote(table));
    if (longest && sqlite3_step(longest.get()) == SQLITE_ROW &&
        sqlite3_column_int64(longest.get(), 0) > 255)
        return ColumnType::Memo;
    return ColumnType::Text;
}

Value ValueOf(sqlite3_stmt* stmt, int i, ColumnType type) {
    if (sqlite3_column_type(stmt, i) == SQLITE_NULL)
        return Null{};
    switch (type) {
    case ColumnType::Long:
        return Int(sqlite3_column_int64(stmt, i));
    case ColumnType::Double:
        return Real(sqlite3_column_double(stmt, i));
    case ColumnType::Ole: {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, i));
        return Str(
            std::string(data ? data : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))));
    }
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        return Str(text ? text : "");
    }
    }
}

int FromSqlite(const Arguments& args) {
    if (args.positional.size() != 2)
        return Usage();
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(args.positional[0].c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    Db db(raw, &sqlite3_close);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "mdbwriter: cannot open %s\n", args.positional[0].c_str());
        return 1;
    }
    Options options;
    if (args.options.count("password"))
        options.password = args.options.at("password");
    Writer writer(options);
    const Stmt tables = Prepare(db.get(), "select name from sqlite_master where type = 'table' "
                                          "and name not like 'sqlite_%' order by rowid");
    while (tables && sqlite3_step(tables.get()) == SQLITE_ROW) {
        const std::string table =
            reinterpret_cast<const char*>(sqlite3_column_text(tables.get(), 0));
        std::vector<Column> columns;
        const Stmt info = Prepare(db.get(), "pragma table_info(" + Quote(table) + ")");
        while (info && sqlite3_step(info.get()) == SQLITE_ROW) {
            const std::string name =
                reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
            const auto* declared =
                reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 2));
            columns.push_back({name, TypeOf(db.get(), table, name, declared ? declared : "")});
        }
        const int id = writer.addTable(table, columns);
        const Stmt rows = Prepare(db.get(), "select * from " + Quote(table));
        bool ok = id > 0 && rows != nullptr;
        while (ok && sqlite3_step(rows.get()) == SQLITE_ROW) {
            Row row;
            for (std::size_t i = 0; i < columns.size(); ++i)
                row.push_back(ValueOf(rows.get(), static_cast<int>(i), columns[i].type));
            ok = writer.addRow(id, row);
        }
        if (!ok) {
            std::fprintf(stderr, "mdbwriter: %s\n", writer.error().c_str());
            return 1;
        }
    }
    if (!writer.save(args.positional[1])) {
        std::fprintf(stderr, "mdbwriter: %s\n", writer.error().c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    Arguments args;
    if (!Parse(argc, argv, args))
        return Usage();
    const std::string command = argv[1];
    if (command == "catalogue")
        return Catalogue(args);
    if (command == "from-sqlite")
        return FromSqlite(args);
    return Usage();
}
