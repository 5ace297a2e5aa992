#include "db/DbConnection.h"
#include "db/DbRecordset.h"
#include "platform/automation/Com.h"
#include "platform/text/Codepage.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>

namespace vm::db {
namespace {

// A connection of any dialect without a server behind it: statements are built and stored,
// their runs fail.
class Dialect : public DbConnection {
public:
    explicit Dialect(DbKind kind) { dbKind = kind; }
};

FieldDef Field(const std::string& name, int type, int attributes = 0, int primaryKey = 0,
               int size = 0, const std::string& defaultValue = "") {
    FieldDef field;
    field.columnName = name;
    field.dataType = type;
    field.attributes = attributes;
    field.primaryKey = primaryKey;
    field.definedSize = size;
    field.defaultValue = defaultValue;
    return field;
}

TEST(SchemaTypes, TypeNameOfEveryTypeInEveryDialect) {
    struct Case {
        int type;
        int size;
        const char* names[5]; // kinds 0..4
    };
    const Case cases[] = {
        {3, 0, {"", "integer", "int", "Integer", "int"}},
        {20, 0, {"", "Long", "BigInt", "BigInt", "BigInt"}},
        {4, 0, {"", "Single", "Float", "Float", "Float"}},
        {5, 0, {"", "Double", "Double", "Double", "Double"}},
        {7, 0, {"", "Date/Time", "smalldatetime", "DateTime", "datetime"}},
        {201, 0, {"", "Memo", "Text", "Text", "LongText"}},
        {11, 0, {"", "Yes/No", "bit", "Bit", "Bool"}},
        {205, 0, {"", "OLE Object", "image", "Blob", "LongBlob"}},
        {200, 0, {"", "Text(100)", "VarChar(100)", "VarChar(100)", "VarChar(100)"}},
        {200, -5, {"", "Text(100)", "VarChar(100)", "VarChar(100)", "VarChar(100)"}},
        {200, 40, {"", "Text(40)", "VarChar(40)", "VarChar(40)", "VarChar(40)"}},
        // What the Access provider reports for Text(50) and Memo columns.
        {202, 50, {"", "Text(50)", "VarChar(50)", "VarChar(50)", "VarChar(50)"}},
        {203, 0, {"", "Memo", "Text", "Text", "LongText"}},
        {130, 0, {"", "", "", "", ""}},
    };
    for (const Case& c : cases)
        for (int kind = 0; kind <= 4; ++kind) {
            Dialect connection(static_cast<DbKind>(kind));
            EXPECT_EQ(connection.columnTypeName(Field("c", c.type, 0, 0, c.size)), c.names[kind])
                << "type " << c.type << " size " << c.size << " kind " << kind;
        }
}

TEST(SchemaTypes, ConstraintTextInEveryDialect) {
    struct Case {
        FieldDef field;
        const char* texts[5]; // kinds 0..4
    };
    const Case cases[] = {
        {Field("id", 3, 16), {"", "Counter ", "IDENTITY (1, 1) ", "", "AUTO_INCREMENT "}},
        {Field("id", 3, 16, 1, 0, "5"),
         {"", "Counter Primary Key ", "IDENTITY (1, 1) Primary Key ", "",
          "AUTO_INCREMENT ,PRIMARY KEY (id) "}},
        {Field("n", 3, 32), {"NULL ", "NULL ", "NULL ", "NULL ", "NULL "}},
        // Attributes are compared whole: 48 holds the nullable bit but is not "nullable".
        {Field("n", 3, 48), {"NOT NULL ", "NOT NULL ", "NOT NULL ", "NOT NULL ", "NOT NULL "}},
        {Field("n", 3, 0, 0, 0, "0"),
         {"NOT NULL Default (0) ", "NOT NULL Default (0) ", "NOT NULL Default (0) ",
          "NOT NULL Default (0) ", "NOT NULL Default (0) "}},
        {Field("k", 200, 32, 1, 0, "'x'"),
         {"NULL Default ('x') ", "NULL Default ('x') Primary Key ",
          "NULL Default ('x') Primary Key ", "NULL Default ('x') ",
          "NULL Default ('x') ,PRIMARY KEY (k) "}},
    };
    for (const Case& c : cases)
        for (int kind = 0; kind <= 4; ++kind) {
            Dialect connection(static_cast<DbKind>(kind));
            EXPECT_EQ(connection.columnConstraintText(c.field), c.texts[kind])
                << c.field.columnName << " attributes " << c.field.attributes << " kind " << kind;
        }
}

// Every DDL operation stores exactly its statement, in every dialect, even when it cannot run.
TEST(SchemaStatements, EveryOperationInEveryDialect) {
    const std::vector<FieldDef> fields = {Field("id", 3, 16, 1), Field("name", 200)};
    struct Case {
        const char* what;
        std::function<bool(DbConnection&)> run;
        const char* statements[4]; // kinds 1..4
    };
    const std::vector<Case> cases = {
        {"createTable",
         [&](DbConnection& c) { return c.createTable("T", fields); },
         {"Create table T (id integer Counter Primary Key ,name Text(100) NOT NULL )",
          "Create table T (id int IDENTITY (1, 1) Primary Key ,name VarChar(100) NOT NULL )",
          "Create table T (id Integer ,name VarChar(100) NOT NULL )",
          "Create table T (id int AUTO_INCREMENT ,PRIMARY KEY (id) ,name VarChar(100) NOT NULL "
          ")ENGINE=MyISAM DEFAULT CHARSET=gbk"}},
        {"createDatabase",
         [](DbConnection& c) { return c.createDatabase("D"); },
         {"Create DataBase D", "Create DataBase D", "Create DataBase D", "Create DataBase D"}},
        {"dropDatabase",
         [](DbConnection& c) { return c.dropDatabase("D"); },
         {"Drop DataBase D", "Drop DataBase D", "Drop DataBase D", "Drop DataBase D"}},
        {"dropTable",
         [](DbConnection& c) { return c.dropTable("T"); },
         {"Drop table T", "Drop table T", "Drop table T", "Drop table T"}},
        {"truncateTable",
         [](DbConnection& c) { return c.truncateTable("T"); },
         {"TRUNCATE table T", "TRUNCATE table T", "TRUNCATE table T", "TRUNCATE table T"}},
        {"createIndex named",
         [](DbConnection& c) {
             std::string name = "ix";
             return c.createIndex("T", "A,B", &name);
         },
         {"Create Index ix on T (A,B)", "Create Index ix on T (A,B)", "Create Index ix on T (A,B)",
          "Create Index ix on T (A,B)"}},
        {"createIndex unnamed",
         [](DbConnection& c) { return c.createIndex("T", "A"); },
         {"Create Index IX_T_A on T (A)", "Create Index IX_T_A on T (A)",
          "Create Index IX_T_A on T (A)", "Create Index IX_T_A on T (A)"}},
        {"dropIndex unnamed",
         [](DbConnection& c) { return c.dropIndex("T", "A"); },
         {"Drop Index IX_T_A on T", "Drop Index T.IX_T_A", "Drop Index IX_T_A",
          "Drop Index IX_T_A on T"}},
        {"addColumn",
         [](DbConnection& c) { return c.addColumn("T", "C", Field("ignored", 7, 32)); },
         {"ALTER TABLE T ADD C Date/Time NULL  ", "ALTER TABLE T ADD C smalldatetime NULL  ",
          "ALTER TABLE T ADD C DateTime NULL  ", "ALTER TABLE T ADD C datetime NULL  "}},
        {"alterColumn",
         [](DbConnection& c) { return c.alterColumn("T", "C", Field("ignored", 200, 0, 0, 8)); },
         {"ALTER TABLE T ALTER COLUMN C Text(8) NOT NULL  ",
          "ALTER TABLE T ALTER COLUMN C VarChar(8) NOT NULL  ",
          "ALTER TABLE T ALTER COLUMN C VarChar(8) NOT NULL  ",
          "ALTER TABLE T MODIFY COLUMN C VarChar(8) NOT NULL  "}},
        {"dropColumn",
         [](DbConnection& c) { return c.dropColumn("T", "C"); },
         {"ALTER TABLE T Drop COLUMN C", "ALTER TABLE T Drop COLUMN C",
          "ALTER TABLE T Drop COLUMN C", "ALTER TABLE T Drop COLUMN C"}},
        {"createLogin",
         [](DbConnection& c) { return c.createLogin("u", "p"); },
         {"Exec sp_addlogin 'u','p'", "Exec sp_addlogin 'u','p'", "Exec sp_addlogin 'u','p'",
          "Exec sp_addlogin 'u','p'"}},
        {"dropLogin",
         [](DbConnection& c) { return c.dropLogin("u"); },
         {"Exec sp_Droplogin u", "Exec sp_Droplogin u", "Exec sp_Droplogin u",
          "Exec sp_Droplogin u"}},
        {"useDatabase",
         [](DbConnection& c) { return c.useDatabase("D"); },
         {"Use D", "Use D", "Use D", "Use D"}},
        {"shrinkDatabase",
         [](DbConnection& c) { return c.shrinkDatabase("D"); },
         {"DBCC SHRINKDATABASE (D)", "DBCC SHRINKDATABASE (D)", "DBCC SHRINKDATABASE (D)",
          "DBCC SHRINKDATABASE (D)"}},
        {"truncateLog",
         [](DbConnection& c) { return c.truncateLog("D"); },
         {"DUMP TRANSACTION D WITH NO_LOG", "DUMP TRANSACTION D WITH NO_LOG",
          "DUMP TRANSACTION D WITH NO_LOG", "DUMP TRANSACTION D WITH NO_LOG"}},
    };
    for (const Case& c : cases)
        for (int kind = 1; kind <= 4; ++kind) {
            Dialect connection(static_cast<DbKind>(kind));
            // Nothing is open: the statement is stored, and the failed run is no success.
            EXPECT_FALSE(c.run(connection)) << c.what << " kind " << kind;
            EXPECT_EQ(connection.lastStatement(), c.statements[kind - 1])
                << c.what << " kind " << kind;
        }
}

TEST(SchemaStatements, IndexNameWrittenBackAndKindZeroRefused) {
    Dialect access(kDbAccess);
    std::string name;
    access.createIndex("T", "A", &name);
    EXPECT_EQ(name, "IX_T_A");

    Dialect none(kDbOther);
    const std::vector<FieldDef> fields = {Field("a", 3)};
    const std::vector<std::function<bool(DbConnection&)>> refused = {
        [](DbConnection& c) { return c.createDatabase("D"); },
        [&](DbConnection& c) { return c.createTable("T", fields); },
        [](DbConnection& c) { return c.createIndex("T", "A"); },
        [](DbConnection& c) { return c.dropIndex("T", "A"); },
        [](DbConnection& c) { return c.addColumn("T", "C", Field("c", 3)); },
        [](DbConnection& c) { return c.alterColumn("T", "C", Field("c", 3)); },
        [](DbConnection& c) { return c.dropColumn("T", "C"); },
        [](DbConnection& c) { return c.createLogin("u", "p"); },
        [](DbConnection& c) { return c.dropLogin("u"); },
        [](DbConnection& c) { return c.useDatabase("D"); },
        [](DbConnection& c) { return c.shrinkDatabase("D"); },
        [](DbConnection& c) { return c.truncateLog("D"); },
    };
    for (std::size_t i = 0; i < refused.size(); ++i) {
        EXPECT_FALSE(refused[i](none)) << i;
        EXPECT_EQ(none.lastStatement(), "") << i;
    }
    EXPECT_EQ(none.currentDatabase(), "");
    // Dropping needs no dialect: the statement is built (and fails, nothing being open).
    none.dropDatabase("D");
    EXPECT_EQ(none.lastStatement(), "Drop DataBase D");
    none.dropTable("T");
    EXPECT_EQ(none.lastStatement(), "Drop table T");

    Dialect mysql(kDbMySql);
    EXPECT_FALSE(mysql.createTable("T", {}));
    EXPECT_EQ(mysql.lastStatement(), "");
}

TEST(SchemaStatements, ExportStatementByExtension) {
    struct Case {
        const char* target;
        const char* sheet;
        const char* columns;
        const char* condition;
        bool header;
        const char* statement; // nullptr: refused with -1 before anything runs
    };
    const Case cases[] = {
        {"C:\\out\\goods.csv", "Table", "*", "", true,
         "Select * Into [Text;HDR=YES;Database=C:\\out\\;].goods.csv From T"},
        {"C:\\out\\goods.Txt", "Table", "a,b", "a>1", false,
         "Select a,b Into [Text;HDR=NO;Database=C:\\out\\;].goods.Txt From T WHERE a>1"},
        {"/tmp/x/goods.csv", "Table", "*", "", false,
         "Select * Into [Text;HDR=NO;Database=/tmp/x/;].goods.csv From T"},
        {"C:\\out\\book.xls", "Sheet1", "*", "", true,
         "Select * Into [Excel 8.0;HDR=NO;DATABASE=C:\\out\\book.xls;].Sheet1 From T"},
        {"C:\\out\\book.xlsx", "Table", "*", "", true, nullptr},
        {"C:\\out.d\\noext", "Table", "*", "", true, nullptr},
        {"C:\\out\\name. csv", "Table", "*", "", true, nullptr},
    };
    for (const Case& c : cases) {
        Dialect connection(kDbSqlite);
        SqlBuffer() = "untouched";
        const std::int32_t result =
            connection.exportTable("T", c.target, c.sheet, c.columns, c.condition, c.header);
        EXPECT_EQ(result, -1) << c.target;
        EXPECT_EQ(SqlBuffer(), c.statement ? c.statement : "untouched") << c.target;
    }
}

TEST(SchemaMaintenance, CompactAccessHasNoEngineHere) {
    Dialect server(kDbSqlServer);
    EXPECT_EQ(server.compactAccess("C:\\a.mdb", ""), 1);
    Dialect access(kDbAccess);
    EXPECT_EQ(access.compactAccess("C:\\a.mdb", ""), 1);
}

TEST(SchemaMaintenance, ListingsOfClosedOrDialectlessConnections) {
    Dialect closed(kDbSqlServer);
    EXPECT_EQ(closed.listDatabases(1), "");
    EXPECT_EQ(closed.listTables(1, 0), "");
    EXPECT_EQ(closed.listTables(1, 1), "");
}

// The DDL runs for real on SQLite, and the listings read its catalogue.
class SchemaOnSqlite : public ::testing::Test {
protected:
    void SetUp() override {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "create table existing(a); create view seen as select * from "
                               "existing; create table auto(i integer primary key autoincrement)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        ASSERT_TRUE(connection_.openSqlite(file_.string(), "", 1))
            << connection_.lastErrorDescription();
    }

    testing::TempFolder folder_;
    std::filesystem::path file_ = folder_ / "shop.db";
    DbConnection connection_;
};

TEST_F(SchemaOnSqlite, CreateFillListAndDrop) {
    const std::vector<FieldDef> fields = {Field("id", 3, 16, 1),  Field("name", 200, 0, 0, 20),
                                          Field("note", 201, 32), Field("price", 5, 0, 0, 0, "0"),
                                          Field("added", 7, 32),  Field("picture", 205, 32)};
    ASSERT_TRUE(connection_.createTable("goods", fields)) << connection_.lastErrorDescription();
    EXPECT_EQ(connection_.lastStatement(),
              "Create table goods (id Integer ,name VarChar(20) NOT NULL ,note Text NULL ,price "
              "Double NOT NULL Default (0) ,added DateTime NULL ,picture Blob NULL )");
    std::int32_t affected = 0;
    const std::string name = text::Gbk(u8"茶杯");
    ASSERT_TRUE(connection_.execute("insert into goods(name) values('" + name + "')", affected));
    EXPECT_TRUE(connection_.createIndex("goods", "name"));
    EXPECT_TRUE(connection_.addColumn("goods", "stock", Field("x", 3, 32)));
    ASSERT_TRUE(connection_.execute("update goods set stock=4 where price=0", affected));
    EXPECT_EQ(affected, 1);

    EXPECT_EQ(connection_.listTables(0, 1), "existing,auto,goods,");
    EXPECT_EQ(connection_.listTables(1, 1), "existing,auto,sqlite_sequence,goods,");
    // The provider schema keeps real tables only; with which 1 views and system tables too.
    const std::string user = connection_.listTables(0, 0);
    EXPECT_EQ(user, "auto,existing,goods,");
    const std::string all = connection_.listTables(1, 0);
    for (const char* name : {"auto,", "existing,", "goods,", "seen,", "sqlite_sequence,"})
        EXPECT_NE(all.find(name), std::string::npos) << all;
    EXPECT_EQ(connection_.listDatabases(1), ""); // no catalogue of databases in this dialect

    // A provider error is a failure that leaves the statement and the provider's message.
    EXPECT_FALSE(connection_.createTable("goods", fields));
    EXPECT_NE(connection_.lastErrorDescription().find("already exists"), std::string::npos);
    EXPECT_FALSE(connection_.truncateTable("goods")); // SQLite has no TRUNCATE
    EXPECT_EQ(connection_.lastStatement(), "TRUNCATE table goods");

    EXPECT_TRUE(connection_.dropIndex("goods", "name")) << connection_.lastErrorDescription();
    EXPECT_TRUE(connection_.dropTable("goods"));
    EXPECT_EQ(connection_.listTables(0, 1), "existing,auto,");
    EXPECT_EQ(connection_.compactAccess(file_.string(), ""), 1);

    connection_.close();
    EXPECT_EQ(connection_.listTables(1, 1), "");
    EXPECT_FALSE(connection_.dropTable("existing")); // closed: a failed call is no success
}

// A table exported to CSV comes back through the text source that Schema.ini describes.
TEST_F(SchemaOnSqlite, ExportToTextAndReadBack) {
    const std::vector<FieldDef> fields = {Field("id", 3), Field("name", 200, 32),
                                          Field("price", 5, 32)};
    ASSERT_TRUE(connection_.createTable("goods", fields)) << connection_.lastErrorDescription();
    const std::string cup = text::Gbk(u8"茶杯");
    std::int32_t affected = 0;
    ASSERT_TRUE(connection_.execute("insert into goods values(1,'" + cup +
                                        "',1.5),(2,'a \"b\", c'"
                                        ",2.25),(3,NULL,7)",
                                    affected));
    std::filesystem::create_directory(folder_ / "out");
    const std::string out = folder_.windowsPath() + "out\\";

    EXPECT_EQ(connection_.exportTable("goods", out + "goods.csv", "Table", "*", "", true), 3)
        << connection_.lastErrorDescription();
    EXPECT_EQ(SqlBuffer(),
              "Select * Into [Text;HDR=YES;Database=" + out + ";].goods.csv From goods");
    const std::string written = testing::ReadBytes(folder_ / "out" / "goods.csv");
    EXPECT_EQ(written, "\"id\",\"name\",\"price\"\r\n1,\"" + cup +
                           "\",1.5\r\n2,\"a \"\"b\"\", c\",2.25\r\n3,,7\r\n");
    // An existing file is never replaced; an Excel target has no engine here.
    EXPECT_EQ(connection_.exportTable("goods", out + "goods.csv", "Table", "id", "", false), -1);
    EXPECT_EQ(testing::ReadBytes(folder_ / "out" / "goods.csv"), written);
    EXPECT_EQ(connection_.exportTable("goods", out + "book.xls"), -1);
    EXPECT_NE(connection_.lastErrorDescription().find("ISAM"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "out" / "book.xls"));
    EXPECT_EQ(connection_.exportTable("goods", out + "cheap.txt", "Table", "name", "price<2"), 1);
    EXPECT_EQ(testing::ReadBytes(folder_ / "out" / "cheap.txt"), "\"" + cup + "\"\r\n");

    std::vector<FieldDef> columns = {Field("id", 3), Field("name", 200), Field("price", 5)};
    DbConnection textSource;
    ASSERT_TRUE(textSource.openText(out + "goods.csv", &columns, true))
        << textSource.lastErrorDescription();
    EXPECT_EQ(columns[1].definedSize, 255);
    DbRecordset rows;
    rows.setConnection(textSource);
    ASSERT_TRUE(rows.open("select * from [goods.csv] order by id"))
        << text::GbkToUtf8(textSource.lastErrorDescription());
    std::vector<std::string> names;
    double total = 0;
    while (!rows.isEof()) {
        std::string name;
        double price = 0;
        rows.readText("name", name);
        rows.readNumber("price", price);
        names.push_back(name);
        total += price;
        rows.moveNext();
    }
    rows.close();
    EXPECT_EQ(names, (std::vector<std::string>{cup, "a \"b\", c", ""}));
    EXPECT_DOUBLE_EQ(total, 10.75);
    EXPECT_EQ(textSource.listTables(0, 0), "cheap.txt,goods.csv,");
    // A text source exports too, here with its typed columns.
    EXPECT_EQ(textSource.exportTable("[goods.csv]", out + "dear.csv", "Table", "id,price",
                                     "price > 2", false),
              2);
    EXPECT_EQ(testing::ReadBytes(folder_ / "out" / "dear.csv"), "2,2.25\r\n3,7\r\n");
    // The source is read-only: writes are refused with the provider's reason.
    EXPECT_FALSE(textSource.execute("delete from [goods.csv]", affected));

    // Without a section the file's columns are texts F1..Fn.
    DbConnection plain;
    ASSERT_TRUE(plain.open("Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=" + out +
                           ";Extensions=asc,csv,tab,txt;HDR=No;FMT=Delimited"));
    DbRecordset cheap;
    cheap.setConnection(plain);
    ASSERT_TRUE(cheap.open("select F1 from [cheap.txt]"));
    std::string only;
    EXPECT_TRUE(cheap.readText("F1", only));
    EXPECT_EQ(only, cup);
}

// Careless and damaged files open with what can be read from them; nothing is written.
TEST(SchemaTextSource, DamagedFilesStillOpen) {
    testing::TempFolder folder("vm-text-source");
    testing::WriteBytes(folder / "odd.csv", "a,A,\r\n1,2,3,4\r\n\"open quote, never closed\n5");
    testing::WriteBytes(folder / "bin.txt", std::string("\0\xFF\x81\"\r\n,,\x81", 9));
    testing::WriteBytes(folder / "empty.tab", "");
    DbConnection source;
    ASSERT_TRUE(source.open(
        "Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=" + folder.windowsPath() + ";HDR=Yes"))
        << source.lastErrorDescription();
    EXPECT_EQ(source.listTables(0, 0), "bin.txt,empty.tab,odd.csv,");
    DbRecordset rows;
    rows.setConnection(source);
    ASSERT_TRUE(rows.open("select * from [odd.csv]")) << source.lastErrorDescription();
    std::vector<std::string> names;
    for (int i = 0; i < 4; ++i)
        names.push_back(rows.fieldName(i));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "F2", "F3", "F4"}));
    std::string value;
    EXPECT_TRUE(rows.readText("F4", value));
    EXPECT_EQ(value, "4");
    rows.moveNext();
    EXPECT_TRUE(rows.readText("a", value));
    EXPECT_EQ(value, "open quote, never closed\n5");
    rows.close();
    DbRecordset binary;
    binary.setConnection(source);
    EXPECT_TRUE(binary.open("select * from [bin.txt]"));
    std::int32_t affected = 0;
    EXPECT_FALSE(source.execute("drop table [odd.csv]", affected));
    EXPECT_EQ(testing::ReadBytes(folder / "odd.csv"),
              "a,A,\r\n1,2,3,4\r\n\"open quote, never closed\n5");
}

} // namespace
} // namespace vm::db
