// The ODBC route: the driver names of the connection strings mapped to the drivers installed
// here, the database classes against a private MariaDB server through the MySQL template, and
// the same session over a second driver (SQLite3) on a file.

#include "db/DbCommand.h"
#include "db/DbConnection.h"
#include "platform/ado/ConnectionString.h"
#include "platform/ado/OdbcSession.h"
#include "platform/automation/Com.h"
#include "platform/automation/Object.h"
#include "platform/automation/Variant.h"
#include "support/MariaDbServer.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace vm::db {
namespace {

using ado::ConnectionString;
using ado::OdbcTarget;
using automation::Variant;
using Route = OdbcTarget::Route;

// The ODBC attributes of a connection string, as the provider dispatch sees them.
OdbcTarget Map(const std::string& text) {
    const ConnectionString cs(text);
    if (cs.Get("Provider").rfind("sqloledb", 0) == 0)
        return ado::MapSqlServerOledb(cs);
    ConnectionString odbc(cs.Get("Extended Properties"));
    odbc.Merge(cs);
    return ado::MapOdbcDriver(odbc);
}

TEST(OdbcDriverMapping, TemplatesToInstalledDrivers) {
    struct Case {
        const char* input;
        Route route;
        const char* output; // the ODBC (or jet) string; for Missing, a piece of the error
        bool gbk;
    };
    const Case cases[] = {
        {"Driver={MySQL ODBC 3.51 Driver};Server=db.lan;Port=3306;DataBase=shop;UID=root;Stmt=Set "
         "Names 'GBK'",
         Route::Odbc,
         "Driver={MariaDB Unicode};Server=db.lan;Port=3306;Database=shop;UID=root;PWD=;CHARSET="
         "gbk;OPTION=2;",
         true},
        {"Provider=MSDASQL.1;Password=s3;Persist Security Info=False;Extended Properties=\"Driver="
         "{MySQL ODBC 5.1 Driver};Server=h;Port=3307;DataBase=d;UID=u;Stmt=Set Names 'GBK'\"",
         Route::Odbc,
         "Driver={MariaDB Unicode};Server=h;Port=3307;Database=d;UID=u;PWD=s3;CHARSET=gbk;OPTION="
         "2;",
         true},
        // Another first statement runs as the driver's own; the texts are then UTF-8.
        {"Driver={MySQL ODBC 8.0 Unicode Driver};Server=h;DataBase=d;UID=u;PWD={a;b};Stmt=SET "
         "sql_mode=''",
         Route::Odbc,
         "Driver={MariaDB Unicode};Server=h;Database=d;UID=u;PWD={a;b};InitStmt=SET "
         "sql_mode='';OPTION=2;",
         false},
        {"Driver={sql Server};Server=srv,1433;DataBase=shop;Uid=sa;Pwd=x;", Route::Odbc,
         "Driver={FreeTDS};Server=srv;Port=1433;Database=shop;UID=sa;PWD=x;ClientCharset=GBK;",
         true},
        {"Provider=sqloledb.1;Data Source=srv;Initial Catalog=shop;User Id=sa;Password=p;Persist "
         "Security Info=False;",
         Route::Odbc, "Driver={FreeTDS};Server=srv;Database=shop;UID=sa;PWD=p;ClientCharset=GBK;",
         true},
        {"Driver={Microsoft Access Driver (*.mdb)};DBQ=Z:\\data\\cat.mdb;Pwd=pw;",
         Route::AccessFile,
         "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"Z:\\data\\cat.mdb\";Jet OLEDB:Database "
         "Password=\"pw\";",
         true},
        {"Driver={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=Z:\\a\"b.mdb;Password=;",
         Route::AccessFile,
         "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"Z:\\a\"\"b.mdb\";Jet OLEDB:Database "
         "Password=\"\";",
         true},
        {"Driver={SQLite3 ODBC Driver};Database=/tmp/x.db;PWD='';", Route::NativeSqlite, "", false},
        {"Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=Z:\\t\\;HDR=Yes", Route::TextFolder, "",
         false},
        {"Driver={SQLite3};Database=/tmp/x.db", Route::Odbc, "Driver={SQLite3};Database=/tmp/x.db;",
         false},
        {"DSN=warehouse;UID=u", Route::Odbc, "DSN=warehouse;UID=u;", false},
        {"Driver={Microsoft ODBC for Oracle};Server=o;Uid=u;Pwd=p;", Route::Missing,
         "{Microsoft ODBC for Oracle} is not installed", false},
        {"Driver={Microsoft Excel Driver (*.xls)};DBQ=a.xls;", Route::Missing,
         "no Linux driver for Excel workbooks", false},
        {"Driver={Microsoft dBASE Driver (*.dbf)};Driverid=277;Dbq=Z:\\d\\;", Route::Missing,
         "no Linux driver for dBASE files", false},
        {"Driver={Microsoft Visual FoxPro Driver};SourceType=DBF;SourceDB=Z:\\d\\;", Route::Missing,
         "no Linux driver for FoxPro tables", false},
        {"Server=h;UID=u", Route::Missing, "no default driver", false},
    };
    for (const Case& c : cases) {
        const OdbcTarget target = Map(c.input);
        EXPECT_EQ(static_cast<int>(target.route), static_cast<int>(c.route)) << c.input;
        if (c.route == Route::Missing) {
            EXPECT_NE(target.error.find(c.output), std::string::npos) << target.error;
            continue;
        }
        if (c.route == Route::Odbc || c.route == Route::AccessFile) {
            EXPECT_EQ(target.connectionString, c.output) << c.input;
        }
        EXPECT_EQ(target.gbk, c.gbk) << c.input;
    }
}

// Drivers that are not there fail to open with a message that names them.
TEST(OdbcDriverMapping, MissingDriversFailClearly) {
    struct Case {
        const char* connection;
        const char* named;
    };
    const Case cases[] = {
        {"Driver={Microsoft ODBC for Oracle};Server=o;Uid=u;Pwd=p;", "Microsoft ODBC for Oracle"},
        {"Driver={Microsoft Excel Driver (*.xls)};DBQ=Z:\\a.xls;", "Microsoft Excel Driver"},
        {"Driver={No Such Driver 9};Server=x;", "No Such Driver 9"},
    };
    for (const Case& c : cases) {
        DbConnection connection;
        EXPECT_FALSE(connection.open(c.connection)) << c.connection;
        EXPECT_NE(connection.lastErrorDescription().find(c.named), std::string::npos)
            << connection.lastErrorDescription();
    }
}

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

// "a,b,c," -> sorted {"a","b","c"}: the catalogue queries promise no order.
std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> names;
    std::stringstream in(list);
    std::string name;
    while (std::getline(in, name, ','))
        names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

std::int64_t Count(DbConnection& connection, const std::string& sql) {
    DbRecordset rows;
    rows.setConnection(connection);
    if (!rows.open(sql, 1, 0, 1))
        return -1;
    double value = -1;
    rows.readNumber("n", value);
    return static_cast<std::int64_t>(value);
}

class OnMariaDb : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new testing::MariaDbServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server_->ok()) << server_->error(); }

    // The MySQL template, through the OLE DB bridge (route 0) or the driver itself (route 1).
    bool Open(DbConnection& connection, const std::string& database, int route = 0,
              const std::string& password = "") {
        return connection.openMySql("127.0.0.1", database, std::nullopt, password,
                                    static_cast<std::uint16_t>(server_->port()), std::nullopt,
                                    route);
    }

    static testing::MariaDbServer* server_;
};

testing::MariaDbServer* OnMariaDb::server_ = nullptr;

// One table created, filled (with Chinese texts, through statements and parameters), listed,
// exported to CSV and dropped, each statement as the schema operations build it.
TEST_F(OnMariaDb, CreateFillListExportAndDrop) {
    DbConnection connection;
    ASSERT_TRUE(Open(connection, "")) << connection.lastErrorDescription();
    EXPECT_EQ(connection.getConnectionString(),
              "Provider=MSDASQL.1;Password=;Persist Security Info=False;Extended "
              "Properties=\"Driver={MySQL ODBC 3.51 Driver};Server=127.0.0.1;Port=" +
                  std::to_string(server_->port()) + ";DataBase=;UID=root;Stmt=Set Names 'GBK'\"");
    EXPECT_EQ(connection.kind(), kDbMySql);
    ASSERT_TRUE(connection.createDatabase("vmshop")) << connection.lastErrorDescription();
    EXPECT_EQ(connection.lastStatement(), "Create DataBase vmshop");
    ASSERT_TRUE(connection.useDatabase("vmshop")) << connection.lastErrorDescription();
    EXPECT_EQ(connection.lastStatement(), "Use vmshop");
    EXPECT_EQ(connection.currentDatabase(), "vmshop");

    const std::vector<FieldDef> fields = {Field("id", 3, 16, 1),  Field("name", 200, 0, 0, 20),
                                          Field("note", 201, 32), Field("price", 5, 0, 0, 0, "0"),
                                          Field("added", 7, 32),  Field("picture", 205, 32),
                                          Field("flag", 11, 32)};
    ASSERT_TRUE(connection.createTable("goods", fields)) << connection.lastErrorDescription();
    EXPECT_EQ(connection.lastStatement(),
              "Create table goods (id int AUTO_INCREMENT ,PRIMARY KEY (id) ,name VarChar(20) NOT "
              "NULL ,note LongText NULL ,price Double NOT NULL Default (0) ,added datetime NULL "
              ",picture LongBlob NULL ,flag Bool NULL )ENGINE=MyISAM DEFAULT CHARSET=gbk");

    std::int32_t affected = 0;
    ASSERT_TRUE(connection.execute("insert into goods(name, price) values('茶杯', 1.5)", affected))
        << connection.lastErrorDescription();
    EXPECT_EQ(affected, 1);

    // Parameters of every kind, the note longer than one read of the driver.
    std::string note;
    while (note.size() < 20000)
        note += "宜兴紫砂，";
    automation::Bytes picture(10000);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint8_t>(i * 7);
    double added = 0;
    ASSERT_TRUE(automation::MakeOleDate({2024, 5, 6, 7, 8, 9}, added));
    DbCommand insert;
    ASSERT_TRUE(insert.prepare(connection, "insert into goods(name, note, price, added, picture, "
                                           "flag) values(?, ?, ?, ?, ?, ?)"));
    EXPECT_TRUE(insert.addTextParameter("name", "紫砂壶"));
    EXPECT_TRUE(insert.addTextParameter("note", note));
    EXPECT_TRUE(insert.addNumberParameter("price", 2.25));
    EXPECT_TRUE(insert.addDateParameter("added", added));
    EXPECT_TRUE(insert.addBytesParameter("picture", picture));
    EXPECT_TRUE(insert.addBoolParameter("flag", true));
    EXPECT_EQ(insert.executeNoRecords(), 1) << connection.lastErrorDescription();

    DbRecordset rows;
    rows.setConnection(connection);
    ASSERT_TRUE(rows.open("select * from goods order by id")) << connection.lastErrorDescription();
    std::string text;
    EXPECT_TRUE(rows.readText("name", text));
    EXPECT_EQ(text, "茶杯");
    EXPECT_EQ(rows.fieldType(std::string("id")), 3);
    EXPECT_TRUE(rows.getValue(std::string("note")).IsNull());
    ASSERT_TRUE(rows.moveNext());
    EXPECT_TRUE(rows.readText("name", text));
    EXPECT_EQ(text, "紫砂壶");
    EXPECT_TRUE(rows.readText("note", text));
    EXPECT_EQ(text, note);
    automation::Bytes bytes;
    EXPECT_TRUE(rows.readBytes("picture", bytes));
    EXPECT_EQ(bytes, picture);
    double when = 0;
    EXPECT_TRUE(rows.readDateTime("added", when));
    EXPECT_DOUBLE_EQ(when, added);
    bool flag = false;
    EXPECT_TRUE(rows.readBool("flag", flag));
    EXPECT_TRUE(flag);
    rows.close();

    // A query with a parameter.
    DbCommand query;
    ASSERT_TRUE(query.prepare(connection, "select name from goods where name = ?"));
    EXPECT_TRUE(query.addTextParameter("name", "茶杯"));
    DbRecordset found;
    ASSERT_TRUE(query.executeInto(found, 1)) << connection.lastErrorDescription();
    EXPECT_TRUE(found.readText("name", text));
    EXPECT_EQ(text, "茶杯");
    found.moveNext();
    EXPECT_TRUE(found.isEof());
    found.close();

    // Listings: databases without the server's own, tables without the view.
    const std::string users = connection.listDatabases(0);
    EXPECT_EQ(SqlBuffer(), "select DISTINCT TABLE_SCHEMA as name FROM information_schema.COLUMNS "
                           "WHERE TABLE_SCHEMA not in ('information_schema','mysql')");
    EXPECT_NE(users.find("vmshop,"), std::string::npos) << users;
    EXPECT_EQ(users.find("mysql,"), std::string::npos) << users;
    EXPECT_NE(connection.listDatabases(1).find("mysql,"), std::string::npos);
    ASSERT_TRUE(connection.execute("create view cheap as select name from goods where price < 2",
                                   affected));
    EXPECT_EQ(connection.listTables(0, 0), "goods,");
    EXPECT_EQ(Names(connection.listTables(1, 0)), (std::vector<std::string>{"cheap", "goods"}));
    // The catalogue query reads the columns table, which describes views too.
    EXPECT_EQ(Names(connection.listTables(0, 1)), (std::vector<std::string>{"cheap", "goods"}));
    EXPECT_EQ(SqlBuffer(), "select DISTINCT TABLE_NAME FROM information_schema.COLUMNS WHERE "
                           "TABLE_SCHEMA = 'vmshop'");

    EXPECT_TRUE(connection.createIndex("goods", "name")) << connection.lastErrorDescription();
    EXPECT_EQ(connection.lastStatement(), "Create Index IX_goods_name on goods (name)");
    EXPECT_TRUE(connection.dropIndex("goods", "name")) << connection.lastErrorDescription();
    EXPECT_EQ(connection.lastStatement(), "Drop Index IX_goods_name on goods");
    EXPECT_TRUE(connection.addColumn("goods", "stock", Field("x", 3, 32)));
    EXPECT_EQ(connection.lastStatement(), "ALTER TABLE goods ADD stock int NULL  ");
    // Widening a column keeps its rows; MySQL wants MODIFY for it.
    EXPECT_TRUE(connection.alterColumn("goods", "stock", Field("x", 20, 32)))
        << connection.lastErrorDescription();
    EXPECT_EQ(connection.lastStatement(), "ALTER TABLE goods MODIFY COLUMN stock BigInt NULL  ");
    EXPECT_TRUE(connection.execute("update goods set stock = 5000000000 where id = 1", affected));
    EXPECT_EQ(Count(connection, "select stock as n from goods where id = 1"), 5000000000);
    EXPECT_TRUE(connection.dropColumn("goods", "stock")) << connection.lastErrorDescription();

    // The export writes the rows as GBK text and reads back through the text source.
    testing::TempFolder folder("vm-mariadb-export");
    const std::string out = folder.windowsPath();
    EXPECT_EQ(
        connection.exportTable("goods", out + "goods.csv", "Table", "id,name,price", "", true), 2)
        << connection.lastErrorDescription();
    EXPECT_EQ(SqlBuffer(), "Select id,name,price Into [Text;HDR=YES;Database=" + out +
                               ";].goods.csv From goods");
    EXPECT_EQ(testing::ReadBytes(folder / "goods.csv"),
              "\"id\",\"name\",\"price\"\r\n1,\"茶杯\",1.5\r\n2,\"紫砂壶\",2.25\r\n");
    EXPECT_EQ(connection.exportTable("goods", out + "dear.txt", "Table", "name", "price > 2"), 1);
    EXPECT_EQ(testing::ReadBytes(folder / "dear.txt"), "\"紫砂壶\"\r\n");

    // A provider error leaves the statement and the server's message.
    EXPECT_FALSE(connection.createTable("goods", fields));
    EXPECT_NE(connection.lastErrorDescription().find("already exists"), std::string::npos)
        << connection.lastErrorDescription();
    EXPECT_FALSE(connection.execute("select * from nothing_here", affected));
    EXPECT_EQ(affected, -1);
    EXPECT_NE(connection.lastErrorDescription().find("doesn't exist"), std::string::npos);

    EXPECT_TRUE(connection.truncateTable("goods")) << connection.lastErrorDescription();
    EXPECT_EQ(Count(connection, "select count(*) as n from goods"), 0);
    EXPECT_TRUE(connection.dropTable("goods")) << connection.lastErrorDescription();
    EXPECT_EQ(connection.lastStatement(), "Drop table goods");
    EXPECT_TRUE(connection.execute("drop view cheap", affected));
    EXPECT_EQ(connection.listTables(1, 0), "");
    EXPECT_TRUE(connection.dropDatabase("vmshop")) << connection.lastErrorDescription();
    EXPECT_EQ(connection.lastStatement(), "Drop DataBase vmshop");
    EXPECT_EQ(connection.listDatabases(0).find("vmshop"), std::string::npos);
}

// Transactions, nested ones as savepoints, and rows written through an updatable recordset.
TEST_F(OnMariaDb, TransactionsAndRecordsetEdits) {
    DbConnection setup;
    ASSERT_TRUE(Open(setup, "")) << setup.lastErrorDescription();
    ASSERT_TRUE(setup.createDatabase("vmledger")) << setup.lastErrorDescription();
    DbConnection connection;
    ASSERT_TRUE(Open(connection, "vmledger", 1)) << connection.lastErrorDescription();
    std::int32_t affected = 0;
    ASSERT_TRUE(connection.execute("create table ledger (id int auto_increment primary key, "
                                   "who varchar(20), amount int) engine=InnoDB default charset=gbk",
                                   affected))
        << connection.lastErrorDescription();

    EXPECT_EQ(connection.beginTrans(), 1);
    ASSERT_TRUE(connection.execute("insert into ledger(who, amount) values('甲', 1)", affected))
        << connection.lastErrorDescription();
    EXPECT_TRUE(connection.rollbackTrans());
    EXPECT_EQ(Count(connection, "select count(*) as n from ledger"), 0);
    EXPECT_EQ(connection.beginTrans(), 1);
    ASSERT_TRUE(connection.execute("insert into ledger(who, amount) values('甲', 1)", affected))
        << connection.lastErrorDescription();
    EXPECT_EQ(connection.beginTrans(), 2);
    ASSERT_TRUE(connection.execute("insert into ledger(who, amount) values('乙', 2)", affected));
    EXPECT_TRUE(connection.rollbackTrans());
    EXPECT_TRUE(connection.commitTrans());
    EXPECT_FALSE(connection.commitTrans()); // none open
    EXPECT_EQ(Count(connection, "select count(*) as n from ledger"), 1);
    // Autocommit is back: another connection sees the row.
    EXPECT_TRUE(setup.useDatabase("vmledger"));
    EXPECT_EQ(Count(setup, "select count(*) as n from ledger"), 1);

    DbRecordset rs;
    rs.setConnection(connection);
    ASSERT_TRUE(rs.open("select * from ledger order by id")) << connection.lastErrorDescription();
    EXPECT_TRUE(rs.addNew());
    EXPECT_TRUE(rs.setText("who", "丙"));
    EXPECT_TRUE(rs.setInt("amount", 30));
    ASSERT_TRUE(rs.updateRecord()) << connection.lastErrorDescription();
    std::int32_t id = 0;
    EXPECT_TRUE(rs.readInt("id", id)); // the counter the server assigned
    EXPECT_EQ(id, 4); // counters are not given back: 1 and 3 went with the rollbacks
    // Writing the value already there still finds the row.
    EXPECT_TRUE(rs.setInt("amount", 30));
    EXPECT_TRUE(rs.updateRecord()) << connection.lastErrorDescription();
    EXPECT_TRUE(rs.setInt("amount", 31));
    EXPECT_TRUE(rs.updateRecord()) << connection.lastErrorDescription();
    EXPECT_TRUE(rs.moveFirst());
    EXPECT_TRUE(rs.deleteRecords()) << connection.lastErrorDescription();
    rs.close();
    DbRecordset check;
    check.setConnection(setup);
    ASSERT_TRUE(check.open("select who, amount from ledger"));
    std::string who;
    std::int32_t amount = 0;
    EXPECT_TRUE(check.readText("who", who));
    EXPECT_TRUE(check.readInt("amount", amount));
    EXPECT_EQ(who, "丙");
    EXPECT_EQ(amount, 31);
    check.close();

    // Without a key, an edit that would change identical rows is refused, and nothing changes.
    ASSERT_TRUE(connection.execute("create table twins (a int, b varchar(5))", affected));
    ASSERT_TRUE(connection.execute("insert into twins values (1, 'x'), (1, 'x')", affected));
    DbRecordset twins;
    twins.setConnection(connection);
    ASSERT_TRUE(twins.open("select * from twins"));
    EXPECT_TRUE(twins.setInt("a", 2));
    EXPECT_FALSE(twins.updateRecord());
    EXPECT_NE(connection.lastErrorDescription().find("Too many rows"), std::string::npos)
        << connection.lastErrorDescription();
    twins.close();
    EXPECT_EQ(Count(connection, "select count(*) as n from twins where a = 1"), 2);

    // A statement that waits past the command timeout (here for a row another connection
    // holds) is interrupted.
    EXPECT_EQ(setup.beginTrans(), 1);
    ASSERT_TRUE(setup.execute("update ledger set amount = 5", affected));
    EXPECT_TRUE(connection.setTimeout(1, true));
    EXPECT_FALSE(connection.execute("update ledger set amount = 6", affected));
    EXPECT_NE(connection.lastErrorDescription().find("Query timeout expired"), std::string::npos)
        << connection.lastErrorDescription();
    EXPECT_TRUE(setup.rollbackTrans());
    EXPECT_TRUE(connection.dropDatabase("vmledger")) << connection.lastErrorDescription();
}

// Command type 4 on the server: a procedure with input, output and input-output parameters, a
// function's return value, and a procedure's rows.
TEST_F(OnMariaDb, StoredProceduresAndFunctions) {
    DbConnection setup;
    ASSERT_TRUE(Open(setup, "")) << setup.lastErrorDescription();
    ASSERT_TRUE(setup.createDatabase("vmprocs")) << setup.lastErrorDescription();
    DbConnection connection;
    ASSERT_TRUE(Open(connection, "vmprocs", 1)) << connection.lastErrorDescription();
    std::int32_t affected = 0;
    for (const char* ddl :
         {"create procedure doubled(in price int, out total int, inout calls int) "
          "begin set total = price * 2; set calls = calls + 1; end",
          "create function greet(who varchar(20) charset gbk) returns varchar(40) charset gbk "
          "deterministic "
          "return concat('你好', who)",
          "create procedure upto(in n int) begin select n as v union all select n + 1; end"})
        ASSERT_TRUE(connection.execute(ddl, affected)) << connection.lastErrorDescription();

    using automation::Object;
    const Object ado = automation::CreateObject("ADODB.Connection");
    ado.Call("Open", {Variant(connection.getConnectionString())});
    ASSERT_EQ(automation::LastCallError(), 0) << automation::LastCallException();
    const auto command = [&](const char* name) {
        const Object c = automation::CreateObject("ADODB.Command");
        c.Put("ActiveConnection", Variant(ado));
        c.Put("CommandText", Variant(name));
        c.Put("CommandType", Variant(std::int32_t{4}));
        return c;
    };
    const auto add = [](const Object& c, const char* name, int type, int direction,
                        const Variant& value) {
        const Object p =
            c.CallObject("CreateParameter",
                         {Variant(name), Variant(std::int32_t{type}),
                          Variant(std::int32_t{direction}), Variant(std::int32_t{40}), value});
        c.GetObject("Parameters").Call("Append", {Variant(p)});
    };
    const auto value = [](const Object& c, const char* name) {
        return c.GetObject("Parameters").GetObject("Item", {Variant(name)}).Get("Value");
    };

    const Object doubled = command("doubled");
    add(doubled, "price", 3, 1, Variant(std::int32_t{21}));
    add(doubled, "total", 3, 2, Variant::Null());
    add(doubled, "calls", 3, 3, Variant(std::int32_t{5}));
    doubled.Call("Execute");
    ASSERT_EQ(automation::LastCallError(), 0) << automation::LastCallException();
    EXPECT_EQ(value(doubled, "total").IntValue(), 42);
    EXPECT_EQ(value(doubled, "calls").IntValue(), 6);
    EXPECT_EQ(value(doubled, "price").IntValue(), 21);

    const Object greet = command("greet");
    add(greet, "result", 200, 4, Variant::Null());
    add(greet, "who", 200, 1, Variant("世界"));
    greet.Call("Execute");
    ASSERT_EQ(automation::LastCallError(), 0) << automation::LastCallException();
    EXPECT_EQ(value(greet, "result").Text(), "你好世界");

    const Object upto = command("upto");
    add(upto, "n", 3, 1, Variant(std::int32_t{7}));
    const Object rows = upto.CallObject("Execute");
    ASSERT_EQ(automation::LastCallError(), 0) << automation::LastCallException();
    EXPECT_EQ(rows.GetObject("Fields").GetObject("Item", {Variant("v")}).GetInt("Value"), 7);
    rows.Call("MoveNext");
    EXPECT_EQ(rows.GetObject("Fields").GetObject("Item", {Variant("v")}).GetInt("Value"), 8);

    // A missing procedure is the server's error; the connection goes on working.
    const Object missing = command("nosuch");
    missing.Call("Execute");
    EXPECT_EQ(automation::LastCallError(), automation::kException);
    EXPECT_NE(automation::LastCallException().find("nosuch"), std::string::npos)
        << automation::LastCallException();
    doubled.Call("Execute");
    EXPECT_EQ(value(doubled, "calls").IntValue(), 7);
    ASSERT_TRUE(setup.dropDatabase("vmprocs")) << setup.lastErrorDescription();
}

TEST_F(OnMariaDb, WrongPasswordAndMissingDatabaseFailWithTheServersMessage) {
    DbConnection connection;
    EXPECT_FALSE(Open(connection, "", 0, "not-the-password"));
    EXPECT_NE(connection.lastErrorDescription().find("Access denied"), std::string::npos)
        << connection.lastErrorDescription();
    EXPECT_FALSE(connection.isOpen());
    EXPECT_FALSE(Open(connection, "no_such_db", 1));
    EXPECT_NE(connection.lastErrorDescription().find("no_such_db"), std::string::npos)
        << connection.lastErrorDescription();
}

// The generic session over a second driver: SQLite3 on a file, texts crossing as UTF-8.
TEST(OdbcSqliteDriver, StatementsParametersListingsAndEdits) {
    testing::TempFolder folder("vm-odbc-sqlite");
    DbConnection connection;
    ASSERT_TRUE(connection.open("Driver={SQLite3};Database=" + (folder / "g.db").string()))
        << connection.lastErrorDescription();
    EXPECT_EQ(connection.getProvider(), "MSDASQL.1");
    std::int32_t affected = 0;
    ASSERT_TRUE(connection.execute("create table 物品 (编号 integer primary key, 名称 varchar(20), "
                                   "价格 double, 日期 datetime)",
                                   affected))
        << connection.lastErrorDescription();
    ASSERT_TRUE(
        connection.execute("create view 便宜 as select * from 物品 where 价格 < 2", affected));
    DbCommand insert;
    ASSERT_TRUE(insert.prepare(connection, "insert into 物品(名称, 价格, 日期) values(?, ?, ?)"));
    EXPECT_TRUE(insert.addTextParameter("n", "砚台"));
    EXPECT_TRUE(insert.addNumberParameter("p", 1.5));
    EXPECT_TRUE(insert.addDateParameter("d", 45418.5));
    EXPECT_EQ(insert.executeNoRecords(), 1) << connection.lastErrorDescription();
    EXPECT_TRUE(connection.execute("update 物品 set 价格 = 1.75", affected));
    EXPECT_EQ(affected, 1);
    EXPECT_TRUE(connection.execute("delete from 物品 where 价格 > 100", affected));
    EXPECT_EQ(affected, 0);

    DbRecordset rows;
    rows.setConnection(connection);
    ASSERT_TRUE(rows.open("select * from 物品")) << connection.lastErrorDescription();
    EXPECT_EQ(rows.fieldName(1), "名称");
    std::string name;
    double when = 0;
    EXPECT_TRUE(rows.readText("名称", name));
    EXPECT_EQ(name, "砚台");
    EXPECT_TRUE(rows.readDateTime("日期", when));
    EXPECT_DOUBLE_EQ(when, 45418.5);
    EXPECT_TRUE(rows.setText("名称", "毛笔"));
    EXPECT_TRUE(rows.updateRecord()) << connection.lastErrorDescription();
    EXPECT_TRUE(rows.addNew());
    EXPECT_TRUE(rows.setText("名称", "宣纸"));
    EXPECT_TRUE(rows.updateRecord()) << connection.lastErrorDescription();
    std::int32_t id = 0;
    EXPECT_TRUE(rows.readInt("编号", id));
    EXPECT_EQ(id, 2);
    rows.close();

    EXPECT_EQ(connection.beginTrans(), 1);
    EXPECT_TRUE(connection.execute("delete from 物品", affected));
    EXPECT_TRUE(connection.rollbackTrans());
    EXPECT_EQ(Count(connection, "select count(*) as n from 物品 where 名称 in ('毛笔', '宣纸')"),
              2);
    EXPECT_EQ(connection.listTables(0, 0), "物品,");
    EXPECT_EQ(Names(connection.listTables(1, 0)), (std::vector<std::string>{"便宜", "物品"}));
    EXPECT_FALSE(connection.execute("select * from 没有", affected));
    EXPECT_NE(connection.lastErrorDescription().find("no such table"), std::string::npos)
        << connection.lastErrorDescription();
}

} // namespace
} // namespace vm::db
