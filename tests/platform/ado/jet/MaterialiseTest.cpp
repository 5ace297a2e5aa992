// The jet reader against files from the writer: every value, NULL against empty text, the
// catalogue's statements, the password check and what a failed open leaves behind.

#include "platform/ado/jet/JetReader.h"

#include "JetTestSupport.h"
#include "mdbwriter/Catalogue.h"
#include "platform/text/Codepage.h"

#include <fstream>
#include <gtest/gtest.h>

namespace vm::ado::jet {
namespace {

using namespace vm::ado::jet::test;
namespace mw = vm::mdbwriter;

const std::string kPassword = "kq7.vm3rxp.tz";

// The text form Query() gives for a value the writer was handed.
std::string Expected(const mw::Value& value) {
    if (std::holds_alternative<mw::Null>(value))
        return "<null>";
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return std::to_string(*i);
    return text::Utf8ToGbk(std::get<std::string>(value));
}

Table ExpectedTable(const std::vector<mw::Row>& rows) {
    Table out;
    for (const mw::Row& row : rows) {
        std::vector<std::string> cells;
        for (const mw::Value& v : row)
            cells.push_back(Expected(v));
        out.push_back(std::move(cells));
    }
    return out;
}

class CatalogueFile : public ::testing::Test {
protected:
    void SetUp() override {
        spec_.categories = 60;
        spec_.resources = 1500;
        spec_.seed = 7;
        std::string error;
        ASSERT_TRUE(mw::WriteCatalogue(path_, spec_, &error)) << error;
    }
    TempDir dir_;
    std::string path_ = dir_.file("TreeList.mdb");
    mw::CatalogueShape spec_;
};

TEST_F(CatalogueFile, CopiesEveryValueOfBothTables) {
    Db db = MemoryDb();
    const JetOpenResult result = MaterialiseMdb(path_, kPassword, db.get());
    ASSERT_TRUE(result.ok) << result.error;

    EXPECT_EQ(Query(db.get(), "select * from Tree order by rowid"),
              ExpectedTable(mw::TreeRows(spec_)));
    EXPECT_EQ(Query(db.get(), "select * from List order by rowid"),
              ExpectedTable(mw::ListRows(spec_)));
    // NULL and empty text stay apart.
    EXPECT_GT(std::stoi(Query(db.get(), "select count(*) from List where 介绍 = ''")[0][0]), 0);
    EXPECT_GT(std::stoi(Query(db.get(), "select count(*) from List where 介绍 is null")[0][0]), 0);
}

// A tap takes List's rows as they arrive: the same values in the same order, and the target
// keeps List's definition without rows, Tree with its rows.
TEST_F(CatalogueFile, TapTakesTheRowsOfItsTable) {
    Db db = MemoryDb();
    CollectingTap tap("List");
    const JetOpenResult result = MaterialiseMdb(path_, kPassword, db.get(), &tap);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(tap.rows, ExpectedTable(mw::ListRows(spec_)));
    ASSERT_EQ(tap.columns.size(), 11u);
    EXPECT_EQ(tap.columns[1], (std::vector<std::string>{"名称", "TEXT(255)"}));
    EXPECT_EQ(Query(db.get(), "select count(*) from List"), Table{{"0"}});
    EXPECT_EQ(Query(db.get(), "select * from Tree order by rowid"),
              ExpectedTable(mw::TreeRows(spec_)));
}

TEST_F(CatalogueFile, KeepsColumnNamesAndTypes) {
    Db db = MemoryDb();
    ASSERT_TRUE(MaterialiseMdb(path_, kPassword, db.get()).ok);
    const Table columns = Query(db.get(), "select name, type from pragma_table_info('List')");
    // Access's own type names: the provider reads ADO's types and sizes from them.
    const Table expected = {{"ID", "INTEGER"},    {"名称", "TEXT(255)"},   {"介绍", "LONGTEXT"},
                            {"作者", "TEXT(50)"}, {"地址", "TEXT(255)"},   {"视频", "TEXT(255)"},
                            {"大小", "TEXT(50)"}, {"修改时间", "INTEGER"}, {"样式值", "SMALLINT"},
                            {"权重", "INTEGER"},  {"编号", "INTEGER"}};
    // ... with the affinities the values need.
    EXPECT_EQ(Query(db.get(), "select typeof(ID), typeof(名称), typeof(样式值) from List limit 1"),
              Table({{"integer", "text", "integer"}}));
    EXPECT_EQ(columns, expected);
    EXPECT_EQ(Query(db.get(), "select name from sqlite_master where type = 'index'"), Table{});
}

TEST_F(CatalogueFile, AnswersTheCatalogueStatements) {
    Db db = MemoryDb();
    ASSERT_TRUE(MaterialiseMdb(path_, kPassword, db.get()).ok);
    std::int64_t deepest = 0, latest = 0;
    for (const mw::Row& row : mw::TreeRows(spec_))
        deepest = std::max(deepest, std::get<std::int64_t>(row[1]));
    for (const mw::Row& row : mw::ListRows(spec_))
        latest = std::max(latest, std::get<std::int64_t>(row[7]));
    EXPECT_EQ(Query(db.get(), "select max(层次) from Tree"), Table{{std::to_string(deepest)}});
    EXPECT_EQ(Query(db.get(), "select max(修改时间) from List"), Table{{std::to_string(latest)}});
}

struct PasswordCase {
    const char8_t* stored;
    const char8_t* given;
    bool opens;
};

TEST(MaterialiseMdbPassword, ComparesExactly) {
    const PasswordCase cases[] = {
        {u8"kq7.vm3rxp.tz", u8"kq7.vm3rxp.tz", true},
        {u8"kq7.vm3rxp.tz", u8"KQ7.VM3RXP.TZ", false},
        {u8"kq7.vm3rxp.tz", u8"kq7.vm3rxp.t", false},
        {u8"kq7.vm3rxp.tz", u8"kq7.vm3rxp.tzz", false},
        {u8"kq7.vm3rxp.tz", u8"", false},
        {u8"", u8"", true},
        {u8"", u8"kq7.vm3rxp.tz", false},
        {u8"密码一丁", u8"密码一丁", true},
        {u8"密码一丁", u8"密码一", false},
        {u8"abcdefghijklmnopqrst", u8"abcdefghijklmnopqrst", true},
        {u8"abcdefghijklmnopqrst", u8"abcdefghijklmnopqrstu", false},
    };
    TempDir dir;
    for (const PasswordCase& c : cases) {
        SCOPED_TRACE(U8(c.stored) + " / " + U8(c.given));
        const std::string path = dir.file("p.mdb");
        mw::Writer writer({U8(c.stored), 45123.75, true});
        const int table = writer.addTable("T", {{"N", mw::ColumnType::Long}});
        ASSERT_TRUE(writer.addRow(table, {mw::Int(1)}));
        ASSERT_TRUE(writer.save(path)) << writer.error();
        Db db = MemoryDb();
        const JetOpenResult result = MaterialiseMdb(path, text::Utf8ToGbk(U8(c.given)), db.get());
        EXPECT_EQ(result.ok, c.opens) << result.error;
        if (!c.opens) {
            EXPECT_EQ(result.error, "Not a valid password.");
            EXPECT_EQ(Query(db.get(), "select name from sqlite_master"), Table{});
        }
    }
}

TEST_F(CatalogueFile, FailureLeavesTheTargetAsItWas) {
    Db db = MemoryDb();
    ASSERT_EQ(sqlite3_exec(db.get(), "create table List (x); insert into List values (42)", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    const JetOpenResult result = MaterialiseMdb(path_, kPassword, db.get());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("List"), std::string::npos) << result.error;
    EXPECT_EQ(Query(db.get(), "select name from sqlite_master"), Table{{"List"}});
    EXPECT_EQ(Query(db.get(), "select * from List"), Table{{"42"}});
    // The connection is usable afterwards.
    Db fresh = MemoryDb();
    EXPECT_TRUE(MaterialiseMdb(path_, kPassword, fresh.get()).ok);
}

TEST(MaterialiseMdbInput, RefusesWhatIsNotAnAccessDatabase) {
    TempDir dir;
    std::string good;
    {
        const std::string path = dir.file("good.mdb");
        mw::Writer writer;
        writer.addRow(writer.addTable("T", {{"N", mw::ColumnType::Long}}), {mw::Int(1)});
        ASSERT_TRUE(writer.save(path));
        std::ifstream in(path, std::ios::binary);
        good.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::string ace = good;
    ace.replace(4, 15, "Standard ACE DB");
    std::string future = good;
    future[0x14] = 3;
    struct Case {
        const char* name;
        std::string bytes;
        const char* error;
    } cases[] = {
        {"empty", "", "Unrecognized database format"},
        {"text", std::string(5000, 'x'), "Unrecognized database format"},
        {"half a header", good.substr(0, 3000), "Unrecognized database format"},
        {"header only", good.substr(0, 4096), "Unrecognized database format"},
        {"cut after the catalogue", good.substr(0, 4096 * 3), "Unrecognized database format"},
        {"newer format", ace, "Access 2007"},
        {"unknown version", future, "Jet version 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        std::ofstream(path, std::ios::binary) << c.bytes;
        Db db = MemoryDb();
        const JetOpenResult result = MaterialiseMdb(path, "", db.get());
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
        EXPECT_EQ(Query(db.get(), "select name from sqlite_master"), Table{});
    }
    Db db = MemoryDb();
    EXPECT_EQ(MaterialiseMdb(dir.file("missing.mdb"), "", db.get()).error,
              "Could not find file '" + dir.file("missing.mdb") + "'.");
}

} // namespace
} // namespace vm::ado::jet
