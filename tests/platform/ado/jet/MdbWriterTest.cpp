// The writer's files read back by libmdb (through the jet reader) and by the independent npm
// reader mdb-reader; the reader against a real Access 2000 file.

#include "platform/ado/jet/JetReader.h"

#include "JetTestSupport.h"
#include "mdbwriter/Catalogue.h"
#include "mdbwriter/MdbWriter.h"
#include "platform/text/Codepage.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace vm::ado::jet {
namespace {

using namespace vm::ado::jet::test;
namespace mw = vm::mdbwriter;
using mw::ColumnType;

// --- JSON as JSON.stringify writes it, for comparing with mdb-reader's dump ---

std::string Json(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (b < 0x20) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04x", b);
                out += hex;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string JsonNumber(double v) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    return std::string(buffer, end);
}

std::string JsonDate(double oleDate) {
    const auto ms = static_cast<long long>(std::llround((oleDate - 25569) * 86400 * 1000));
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    char full[64];
    std::snprintf(full, sizeof full, "{\"date\":\"%s.%03lldZ\"}", text, ms % 1000);
    return full;
}

std::string JsonHex(const std::string& bytes) {
    std::string out = "{\"hex\":\"";
    for (unsigned char b : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        out += hex;
    }
    return out + "\"}";
}

std::string JsonValue(const mw::Column& column, const mw::Value& value) {
    if (column.type == ColumnType::Boolean)
        return std::holds_alternative<std::int64_t>(value) && std::get<std::int64_t>(value)
                   ? "true"
                   : "false";
    if (std::holds_alternative<mw::Null>(value))
        return "null";
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&value))
        return column.type == ColumnType::DateTime ? JsonDate(*d) : JsonNumber(*d);
    const std::string& s = std::get<std::string>(value);
    return column.type == ColumnType::Ole ? JsonHex(s) : Json(s);
}

struct TableSpec {
    std::string name;
    std::vector<mw::Column> columns;
    std::vector<mw::Row> rows;
};

std::vector<std::string> ExpectedDump(const std::string& password,
                                      const std::vector<TableSpec>& tables) {
    std::vector<std::string> lines = {"[\"password\"," +
                                      (password.empty() ? "null" : Json(password)) + "]"};
    for (const TableSpec& t : tables) {
        std::string names;
        for (const mw::Column& c : t.columns)
            names += (names.empty() ? "" : ",") + Json(c.name);
        lines.push_back("[\"table\"," + Json(t.name) + "," + std::to_string(t.rows.size()) + ",[" +
                        names + "]]");
        for (const mw::Row& row : t.rows) {
            std::string line;
            for (std::size_t i = 0; i < row.size(); ++i)
                line += (i ? "," : "") + JsonValue(t.columns[i], row[i]);
            lines.push_back("[" + line + "]");
        }
    }
    return lines;
}

// --- the npm checkers, installed by tools/mdbwriter/install-npm-checkers.sh ---

bool CheckersInstalled() {
    return std::ifstream(std::string(VM_NPM_CHECKERS) + "/node_modules/mdb-reader/package.json")
        .good();
}

#define REQUIRE_CHECKERS()                                                                         \
    do {                                                                                           \
        if (!CheckersInstalled()) {                                                                \
            if (std::getenv("CI"))                                                                 \
                FAIL() << "run tools/mdbwriter/install-npm-checkers.sh " VM_NPM_CHECKERS;          \
            GTEST_SKIP() << "mdb-reader is not installed in " VM_NPM_CHECKERS;                     \
        }                                                                                          \
    } while (0)

std::vector<std::string> MdbReaderDump(const std::string& path, const std::string& password) {
    const std::string command = "node " VM_JET_TEST_DIR "/mdb_dump.mjs '" + path + "' '" +
                                password + "' " VM_NPM_CHECKERS " 2>&1";
    std::vector<std::string> lines;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::string all;
        char buffer[1 << 16];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            all.append(buffer, n);
        ::pclose(pipe);
        std::istringstream in(all);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    return lines;
}

void Write(const std::string& path, const mw::Options& options,
           const std::vector<TableSpec>& tables) {
    mw::Writer writer(options);
    for (const TableSpec& t : tables) {
        const int id = writer.addTable(t.name, t.columns);
        ASSERT_GT(id, 0) << writer.error();
        for (const mw::Row& row : t.rows)
            ASSERT_TRUE(writer.addRow(id, row)) << writer.error();
    }
    ASSERT_TRUE(writer.save(path)) << writer.error();
}

// Every column type, with memos inline, on one long-value page and across several, texts
// that can and cannot be compressed, and NULLs everywhere.
TableSpec AllTypes() {
    const std::string chinese =
        U8(u8"一丁七万三上下不与专且世中丝为主义之乐也书了事二于云五井些亚交");
    std::string longChinese, longAscii;
    for (int i = 0; i < 120; ++i)
        longChinese += chinese;
    for (int i = 0; i < 900; ++i)
        longAscii += "line " + std::to_string(i) + "\n";
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary.push_back(static_cast<char>(i * 7));
    TableSpec t{U8(u8"全部类型"),
                {{"Flag", ColumnType::Boolean},
                 {"Small", ColumnType::Byte},
                 {"Medium", ColumnType::Integer},
                 {"Large", ColumnType::Long},
                 {"Ratio", ColumnType::Double},
                 {"When", ColumnType::DateTime},
                 {U8(u8"名称"), ColumnType::Text, 20},
                 {U8(u8"介绍"), ColumnType::Memo},
                 {"Blob", ColumnType::Ole}},
                {}};
    using mw::Int, mw::Real, mw::Str, mw::Null;
    t.rows = {
        {Int(1), Int(255), Int(-32768), Int(2147483647), Real(2.5), Real(45000.5),
         Str("plain ascii"), Str("short memo"), Str("\x01\x02")},
        {Int(0), Int(0), Int(32767), Int(-2147483647 - 1), Real(-1234.0625), Real(36526.25),
         Str(U8(u8"一二三四")), Str(chinese), Str(binary)},
        {Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}},
        {Int(1), Int(7), Int(0), Int(0), Real(0.1), Real(2.0), Str(""), Str(""), Str("")},
        {Int(0), Int(1), Int(1), Int(1), Real(1e-3), Real(44000.0), Str(U8(u8"mixed 中文 text")),
         Str(longChinese), Null{}},
        {Int(1), Int(2), Int(2), Int(2), Real(3.0), Real(44001.0), Str("tab\there"), Str(longAscii),
         Str(std::string(64, 'z'))},
        {Int(0), Int(3), Int(3), Int(3), Real(4.0), Real(44002.0), Str(U8(u8"\U0001F600 smile")),
         Str(U8(u8"emoji \U0001F600 in a memo")), Str(std::string(65, 'y'))},
    };
    return t;
}

TEST(MdbWriter, EveryTypeRoundTripsThroughLibmdb) {
    TempDir dir;
    const std::string path = dir.file("types.mdb");
    const TableSpec t = AllTypes();
    Write(path, {"pw", 45123.5, true}, {t});
    Db db = MemoryDb();
    const JetOpenResult result = MaterialiseMdb(path, "pw", db.get());
    ASSERT_TRUE(result.ok) << result.error;
    const Table rows = Query(db.get(), "select * from " + text::Utf8ToGbk("\"" + t.name + "\"") +
                                           " order by rowid");
    ASSERT_EQ(rows.size(), t.rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < t.columns.size(); ++c) {
            SCOPED_TRACE(std::to_string(r) + "/" + t.columns[c].name);
            const mw::Value& v = t.rows[r][c];
            std::string want = "<null>";
            if (t.columns[c].type == ColumnType::Boolean)
                // True is -1, as Access stores and compares it.
                want = std::holds_alternative<std::int64_t>(v) && std::get<std::int64_t>(v) ? "-1"
                                                                                            : "0";
            else if (const auto* i = std::get_if<std::int64_t>(&v))
                want = std::to_string(*i);
            else if (const auto* d = std::get_if<double>(&v))
                want = t.columns[c].type == ColumnType::DateTime
                           ? rows[r][c] // checked below
                           : JsonNumber(*d) + (*d == std::floor(*d) ? ".0" : "");
            else if (const auto* s = std::get_if<std::string>(&v))
                // Texts become GBK, which lacks the emoji: it reads as "?".
                want = t.columns[c].type == ColumnType::Ole ? *s : text::Utf8ToGbk(*s);
            EXPECT_EQ(rows[r][c], want);
        }
    }
    EXPECT_EQ(rows[0][5], "2023-03-15 12:00:00");
    EXPECT_EQ(rows[1][5], "2000-01-01 06:00:00");
}

TEST(MdbWriter, EveryTypeReadsTheSameInMdbReader) {
    REQUIRE_CHECKERS();
    TempDir dir;
    const std::string path = dir.file("types.mdb");
    const std::vector<TableSpec> tables = {AllTypes()};
    Write(path, {U8(u8"密码pw"), 45123.5, true}, tables);
    EXPECT_EQ(MdbReaderDump(path, ""), ExpectedDump(U8(u8"密码pw"), tables));
}

TEST(MdbWriter, CatalogueReadsTheSameInMdbReader) {
    REQUIRE_CHECKERS();
    TempDir dir;
    const std::string path = dir.file("TreeList.mdb");
    mw::CatalogueShape shape;
    shape.categories = 40;
    shape.resources = 600;
    std::string error;
    ASSERT_TRUE(mw::WriteCatalogue(path, shape, &error)) << error;
    const std::vector<TableSpec> tables = {{"Tree", mw::TreeColumns(), mw::TreeRows(shape)},
                                           {"List", mw::ListColumns(), mw::ListRows(shape)}};
    EXPECT_EQ(MdbReaderDump(path, shape.password), ExpectedDump(shape.password, tables));
}

// 4800 rows of about 500 bytes fill more pages than an inline usage map covers.
TEST(MdbWriter, LargeTablesUseBitmapPageUsageMaps) {
    TempDir dir;
    const std::string path = dir.file("wide.mdb");
    TableSpec t{"Wide", {{"N", ColumnType::Long}, {"Name", ColumnType::Text, 255}}, {}};
    for (int i = 0; i < 4800; ++i) {
        std::string name;
        for (int k = 0; k < 240; ++k)
            name += U8(u8"宽");
        t.rows.push_back({mw::Int(i), mw::Str(name + std::to_string(i))});
    }
    Write(path, {}, {t});
    // The table's usage map is a row on page 1; its first byte says which form it takes.
    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(file.size(), 4096u * 600);
    const auto tdef = static_cast<std::size_t>(3) * 4096; // MSysObjects is page 2, Wide page 3
    const auto pointer = static_cast<unsigned char>(file[tdef + 55]) |
                         static_cast<unsigned char>(file[tdef + 56]) << 8;
    const std::size_t page = static_cast<std::size_t>(pointer >> 8), row = pointer & 0xFF;
    ASSERT_EQ(page, 1u);
    const auto start = static_cast<unsigned char>(file[4096 + 14 + 2 * row]) |
                       static_cast<unsigned char>(file[4096 + 15 + 2 * row]) << 8;
    EXPECT_EQ(file[4096 + start], 1) << "reference usage map";

    Db db = MemoryDb();
    const JetOpenResult result = MaterialiseMdb(path, "", db.get());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(Query(db.get(), "select count(*), sum(N) from Wide"),
              Table({{"4800", std::to_string(4799 * 4800 / 2)}}));
    if (CheckersInstalled()) {
        const auto dump = MdbReaderDump(path, "");
        EXPECT_EQ(dump.size(), 4802u);
    }
}

TEST(MdbWriter, RefusesWhatItCannotStore) {
    using mw::Int, mw::Real, mw::Str;
    struct Case {
        const char* name;
        std::vector<mw::Column> columns;
        mw::Row row;
    } cases[] = {
        {"text too long", {{"T", ColumnType::Text, 3}}, {Str("abcd")}},
        {"long too large", {{"L", ColumnType::Long}}, {Int(2147483648LL)}},
        {"integer too small", {{"I", ColumnType::Integer}}, {Int(-32769)}},
        {"negative byte", {{"B", ColumnType::Byte}}, {Int(-1)}},
        {"text for a number", {{"L", ColumnType::Long}}, {Str("1")}},
        {"number for a text", {{"T", ColumnType::Text}}, {Int(1)}},
        {"integer for a double", {{"D", ColumnType::Double}}, {Int(1)}},
        {"too few values", {{"A", ColumnType::Long}, {"B", ColumnType::Long}}, {Int(1)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mw::Writer writer;
        const int id = writer.addTable("T", c.columns);
        ASSERT_GT(id, 0);
        EXPECT_FALSE(writer.addRow(id, c.row));
        EXPECT_FALSE(writer.error().empty());
    }
    mw::Writer writer;
    EXPECT_EQ(writer.addTable("T", {}), -1);
    EXPECT_EQ(writer.addTable("T", {{"A", ColumnType::Long}, {"A", ColumnType::Long}}), -1);
    EXPECT_EQ(writer.addTable("T", {{"A", ColumnType::Text, 256}}), -1);
    EXPECT_GT(writer.addTable("T", {{"A", ColumnType::Long}}), 0);
    EXPECT_EQ(writer.addTable("T", {{"A", ColumnType::Long}}), -1);
    EXPECT_FALSE(writer.addRow(7, {Int(1)}));
}

TEST(MdbWriter, AFailedSaveLeavesTheOldFile) {
    TempDir dir;
    const std::string path = dir.file("keep.mdb");
    std::ofstream(path) << "old contents";
    mw::Writer writer({"a password longer than twenty", 0, true});
    writer.addTable("T", {{"A", ColumnType::Long}});
    EXPECT_FALSE(writer.save(path));
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old contents");

    mw::Writer nowhere;
    EXPECT_FALSE(nowhere.save(dir.file("no/such/folder/x.mdb")));
}

// fruit.mdb, a real Access 2000 file: the jet reader and mdb-reader agree on every value.
TEST(MdbWriter, RealAccessFileReadsLikeMdbReader) {
    REQUIRE_CHECKERS();
    const std::string path = std::string(VM_NPM_CHECKERS) + "/fruit.mdb";
    Db db = MemoryDb();
    const JetOpenResult result = MaterialiseMdb(path, "", db.get());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_FALSE(MaterialiseMdb(path, "guess", MemoryDb().get()).ok);

    std::vector<std::string> ours = {"[\"password\",null]"};
    const Table names =
        Query(db.get(), "select name from sqlite_master where type = 'table' order by rowid");
    for (const auto& n : names) {
        const Table columns =
            Query(db.get(), "select name, type from pragma_table_info('" + n[0] + "')");
        const Table rows = Query(db.get(), "select * from \"" + n[0] + "\" order by rowid");
        std::string list;
        for (const auto& c : columns)
            list += (list.empty() ? "" : ",") + Json(text::GbkToUtf8(c[0]));
        ours.push_back("[\"table\"," + Json(text::GbkToUtf8(n[0])) + "," +
                       std::to_string(rows.size()) + ",[" + list + "]]");
        for (const auto& row : rows) {
            std::string line;
            for (std::size_t i = 0; i < row.size(); ++i) {
                const std::string& cell = row[i];
                line += i ? "," : "";
                if (cell == "<null>")
                    line += "null";
                else if (columns[i][1].find("TEXT") != std::string::npos)
                    line += Json(text::GbkToUtf8(cell));
                else
                    line += cell;
            }
            ours.push_back("[" + line + "]");
        }
    }
    EXPECT_EQ(ours, MdbReaderDump(path, ""));
}

// mdbwriter from-sqlite: declared types pick the column types, long texts become memos.
TEST(MdbWriterCommand, CopiesASqliteDatabase) {
    TempDir dir;
    const std::string source = dir.file("in.sqlite"), target = dir.file("out.mdb");
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(source.c_str(), &raw), SQLITE_OK);
        Db db(raw, &sqlite3_close);
        const std::string sql =
            U8(u8"create table 资源 (编号 integer, 名称 text, 比例 real, 介绍 text, 数据 blob);"
               u8"insert into 资源 values (1, '一个', 0.5, null, x'00ff');"
               u8"insert into 资源 values (2, null, null, '") +
            std::string(300, 'm') + "', null);";
        ASSERT_EQ(sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    const std::string command =
        std::string(VM_MDBWRITER) + " from-sqlite '" + source + "' '" + target + "' --password pw";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Db db = MemoryDb();
    const JetOpenResult result = MaterialiseMdb(target, "pw", db.get());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(Query(db.get(), "select type from pragma_table_info('资源')"),
              Table({{"INTEGER"}, {"TEXT(255)"}, {"DOUBLE"}, {"LONGTEXT"}, {"LONGBINARY"}}));
    EXPECT_EQ(Query(db.get(), "select * from 资源 order by 编号"),
              Table({{"1", "一个", "0.5", "<null>", std::string("\x00\xFF", 2)},
                     {"2", "<null>", "<null>", std::string(300, 'm'), "<null>"}}));

    EXPECT_NE(std::system((std::string(VM_MDBWRITER) + " from-sqlite '" + dir.file("none") + "' '" +
                           dir.file("none.mdb") + "' 2>/dev/null")
                              .c_str()),
              0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.mdb")));
}

} // namespace
} // namespace vm::ado::jet
