#include "db/DbConnection.h"
#include "platform/automation/Com.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

namespace vm::db {
namespace {

void Sql(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

int Count(const std::filesystem::path& file, const std::string& table) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    int n = -1;
    if (sqlite3_prepare_v2(db, ("select count(*) from " + table).c_str(), -1, &stmt, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        n = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return n;
}

// Every open builds its string exactly; none of these providers exists here, so each open fails
// and leaves the string it tried in getConnectionString.
TEST(DbConnectionTemplates, EveryTemplateExactly) {
    struct Case {
        const char* what;
        std::function<bool(DbConnection&)> open;
        std::string expected;
        DbKind kind;
    };
    const std::vector<Case> cases = {
        {"open", [](DbConnection& c) { return c.open("Provider=Nothing.1;X=1"); },
         "Provider=Nothing.1;X=1", kDbOther},
        {"openAccess route 0",
         [](DbConnection& c) { return c.openAccess("Q:\\a\\b.mdb", "pw", 0); },
         "Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:DataBase Password=pw;Data "
         "Source=Q:\\a\\b.mdb;Persist Security Info=False",
         kDbAccess},
        {"openAccess defaults", [](DbConnection& c) { return c.openAccess("Q:\\b.mdb"); },
         "Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:DataBase Password=;Data "
         "Source=Q:\\b.mdb;Persist Security Info=False",
         kDbAccess},
        {"openAccess route 1", [](DbConnection& c) { return c.openAccess("Q:\\b.mdb", "pw", 1); },
         "Driver={Microsoft Access Driver (*.mdb)};DBQ=Q:\\b.mdb;Pwd=pw;", kDbAccess},
        {"openAccess2007 route 0",
         [](DbConnection& c) { return c.openAccess2007("Q:\\b.accdb", "pw", 0); },
         "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=Q:\\b.accdb;Jet OLEDB:Database "
         "Password=pw;",
         kDbAccess},
        {"openAccess2007 route 1",
         [](DbConnection& c) { return c.openAccess2007("Q:\\b.accdb", "pw", 1); },
         "Driver={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=Q:\\b.accdb;Password=pw;",
         kDbAccess},
        {"openExcel route 0 header omitted",
         [](DbConnection& c) { return c.openExcel("Q:\\s.xls", 0); },
         "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=Q:\\s.xls;Extended Properties='Excel "
         "8.0;HDR=yes;IMEX=1';",
         kDbOther},
        {"openExcel route 0 no header",
         [](DbConnection& c) { return c.openExcel("Q:\\s.xls", 0, false); },
         "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=Q:\\s.xls;Extended Properties='Excel "
         "8.0;HDR=no;IMEX=1';",
         kDbOther},
        {"openExcel route 1", [](DbConnection& c) { return c.openExcel("Q:\\s.xls", 1); },
         "Driver={Microsoft Excel Driver (*.xls)};DBQ=Q:\\s.xls;", kDbOther},
        {"openExcel2007 xlsx in capitals",
         [](DbConnection& c) { return c.openExcel2007("Q:\\s.XLSX", 0); },
         "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=Q:\\s.XLSX;Extended Properties=\"Excel "
         "12.0 Xml;HDR=no;IMEX=1;\"",
         kDbOther},
        {"openExcel2007 xlsb with header",
         [](DbConnection& c) { return c.openExcel2007("Q:\\s.xlsb", 0, true); },
         "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=Q:\\s.xlsb;Extended Properties=\"Excel "
         "12.0;HDR=yes;IMEX=1;\"",
         kDbOther},
        {"openExcel2007 xlsm", [](DbConnection& c) { return c.openExcel2007("Q:\\s.xlsm", 0); },
         "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=Q:\\s.xlsm;Extended Properties=\"Excel "
         "12.0 Macro;HDR=no;IMEX=1;\"",
         kDbOther},
        {"openExcel2007 route 1", [](DbConnection& c) { return c.openExcel2007("Q:\\s.xls", 1); },
         "Driver={Microsoft Excel Driver (*.xls, *.xlsx, *.xlsm, *.xlsb)};DBQ=Q:\\s.xls;",
         kDbOther},
        {"openDbase route 0 version 3",
         [](DbConnection& c) { return c.openDbase("Q:\\d\\t.dbf", 0); },
         "Provider=Microsoft.Jet.OLEDB.4.0;Extended Properties=dBASE III;Persist Security "
         "Info=False;Data Source='Q:\\d\\';",
         kDbOther},
        {"openDbase route 0 version 4",
         [](DbConnection& c) { return c.openDbase("Q:\\d\\t.dbf", 0, 4); },
         "Provider=Microsoft.Jet.OLEDB.4.0;Extended Properties=dBASE IV;Persist Security "
         "Info=False;Data Source='Q:\\d\\';",
         kDbOther},
        {"openDbase route 0 version 5",
         [](DbConnection& c) { return c.openDbase("Q:/d/t.dbf", 0, 5); },
         "Provider=Microsoft.Jet.OLEDB.4.0;Extended Properties=dBASE 5.0;Persist Security "
         "Info=False;Data Source='Q:/d/';",
         kDbOther},
        {"openDbase route 1 dBase",
         [](DbConnection& c) { return c.openDbase("Q:\\d\\t.dbf", 1, 3, 0); },
         "Driver={Microsoft dBASE Driver (*.dbf)};Driverid=277;Dbq=Q:\\d\\;", kDbOther},
        {"openDbase route 1 FoxPro",
         [](DbConnection& c) { return c.openDbase("Q:\\d\\t.dbf", 1, 3, 1); },
         "Driver={Microsoft Visual FoxPro Driver};SourceType=DBF;SourceDB=Q:\\d\\;Exclusive=No;"
         "Collate=Machine;NULL=NO;DELETED=NO;BACKGROUNDFETCH=NO",
         kDbOther},
        {"openSqlite route 0", [](DbConnection& c) { return c.openSqlite("Q:\\x.db", "pw", 0); },
         "Provider=MSDASQL.1;Extended Properties=Driver={SQLite3 ODBC "
         "Driver};Database=Q:\\x.db;PWD='pw';",
         kDbSqlite},
        {"openSqlite route 1", [](DbConnection& c) { return c.openSqlite("Q:\\x.db", "pw", 1); },
         "Driver={SQLite3 ODBC Driver};Database=Q:\\x.db;PWD='pw';", kDbSqlite},
        {"openSqlServer route 0 user omitted",
         [](DbConnection& c) { return c.openSqlServer("srv", "db", std::nullopt, "pw", 0); },
         "Provider=sqloledb.1;Data Source=srv;Initial Catalog=db;User Id=sa;Password=pw;Persist "
         "Security Info=False;",
         kDbSqlServer},
        {"openSqlServer route 1",
         [](DbConnection& c) { return c.openSqlServer("srv", "db", "me", "pw", 1); },
         "Driver={sql Server};Server=srv;DataBase=db;Uid=me;Pwd=pw;", kDbSqlServer},
        {"openOracle MSDAORA",
         [](DbConnection& c) { return c.openOracle("orcl", "me", "pw", 0, 0); },
         "Provider=MSDAORA.1;Data Source=orcl;User Id=me;Password=pw;", kDbOther},
        {"openOracle OraOLEDB by default, user omitted",
         [](DbConnection& c) { return c.openOracle("orcl", std::nullopt, "pw", 0); },
         "Provider=OraOLEDB.Oracle;Data Source=orcl;User Id=system;Password=pw;", kDbOther},
        {"openOracle route 1", [](DbConnection& c) { return c.openOracle("orcl", "me", "pw", 1); },
         "Driver={Microsoft ODBC for Oracle};Server=orcl;Uid=me;Pwd=pw;", kDbOther},
        {"openMySql route 0 defaults",
         [](DbConnection& c) {
             return c.openMySql("host", "db", std::nullopt, "pw", std::nullopt, std::nullopt, 0);
         },
         "Provider=MSDASQL.1;Password=pw;Persist Security Info=False;Extended "
         "Properties=\"Driver={MySQL ODBC 3.51 "
         "Driver};Server=host;Port=3306;DataBase=db;UID=root;Stmt=Set Names 'GBK'\"",
         kDbMySql},
        {"openMySql route 1",
         [](DbConnection& c) { return c.openMySql("host", "db", "me", "pw", 3307, "5.1", 1); },
         "Driver={MySQL ODBC 5.1 Driver};Server=host;Port=3307;DataBase=db;UID=me;Stmt=Set "
         "Names 'GBK'",
         kDbMySql},
    };
    for (const Case& c : cases) {
        DbConnection connection;
        EXPECT_FALSE(c.open(connection)) << c.what;
        EXPECT_EQ(connection.getConnectionString(), c.expected) << c.what;
        EXPECT_EQ(connection.kind(), c.kind) << c.what;
        EXPECT_FALSE(connection.isOpen()) << c.what;
        // The provider's message says what is missing.
        EXPECT_FALSE(connection.lastErrorDescription().empty()) << c.what;
    }
}

TEST(DbConnectionTemplates, OpensThatBuildNoString) {
    DbConnection connection;
    connection.open("Provider=Earlier.1;");
    // An unknown dBase version or route, or an Excel 2007 file of another type, fails at once,
    // before anything is opened: the string of the earlier attempt stays as it was.
    EXPECT_FALSE(connection.openDbase("Q:\\d\\t.dbf", 0, 2));
    EXPECT_EQ(connection.getConnectionString(), "Provider=Earlier.1;");
    EXPECT_FALSE(connection.openDbase("Q:\\d\\t.dbf", 1, 3, 2));
    EXPECT_FALSE(connection.openExcel2007("Q:\\s.xls", 0));
    EXPECT_FALSE(connection.openAccess("Q:\\b.mdb", "", 7));
    EXPECT_EQ(connection.kind(), kDbAccess);
    EXPECT_EQ(connection.getConnectionString(), "Provider=Earlier.1;");
}

class DbConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = folder_ / "data.db";
        Sql(db_, "create table t(id INTEGER PRIMARY KEY, name TEXT); insert into t(name) "
                 "values('a'), ('b'), ('c');");
    }
    vm::testing::TempFolder folder_{"vm-db"};
    std::filesystem::path db_;
};

TEST_F(DbConnectionTest, LifecycleOnSqlite) {
    DbConnection connection;
    EXPECT_FALSE(connection.isOpen());
    // Closing a never-opened connection succeeds and clears both texts.
    EXPECT_TRUE(connection.close());
    EXPECT_EQ(connection.getConnectionString(), "");
    EXPECT_EQ(connection.lastErrorDescription(), "");

    ASSERT_TRUE(connection.openSqlite(db_.string(), "", 1)) << connection.lastErrorDescription();
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(connection.kind(), kDbSqlite);
    EXPECT_EQ(connection.getProvider(), "MSDASQL.1");
    EXPECT_EQ(connection.getVersion(), "2.8");
    EXPECT_EQ(connection.getMode(), 3);
    EXPECT_EQ(connection.getTimeout(false), 15);
    EXPECT_TRUE(connection.setTimeout(12, true));
    EXPECT_EQ(connection.getTimeout(true), 12);
    EXPECT_FALSE(connection.setMode(1)); // not while open

    // Opening again closes first: the MySQL open fails, but its database name and string stay.
    EXPECT_FALSE(
        connection.openMySql("h", "shop", std::nullopt, "", std::nullopt, std::nullopt, 1));
    EXPECT_FALSE(connection.isOpen());
    EXPECT_EQ(connection.currentDatabase(), "shop");
    connection.closeIfOpen(); // closed already: nothing is cleared
    EXPECT_EQ(connection.currentDatabase(), "shop");
    EXPECT_TRUE(connection.close());
    EXPECT_EQ(connection.currentDatabase(), "");
    EXPECT_EQ(connection.getConnectionString(), "");

    // The same object opens again; a raw string resets the kind.
    EXPECT_TRUE(connection.open("Driver={SQLite3 ODBC Driver};Database=" + db_.string() + ";"));
    EXPECT_EQ(connection.kind(), kDbOther);
    // Copies share the COM connection.
    DbConnection copy = connection;
    EXPECT_TRUE(copy.isOpen());
    EXPECT_TRUE(copy.getComObject() == connection.getComObject());
    copy.close();
    EXPECT_FALSE(connection.isOpen());
}

TEST_F(DbConnectionTest, ExecuteTransactionsAndErrors) {
    DbConnection connection;
    ASSERT_TRUE(connection.openSqlite(db_.string(), "", 0));
    std::int32_t affected = 0;
    EXPECT_TRUE(connection.execute("update t set name = 'x' where id < 3", affected));
    EXPECT_EQ(affected, 2);
    EXPECT_TRUE(connection.execute("delete from t where id = 99", affected));
    EXPECT_EQ(affected, 0);
    EXPECT_FALSE(connection.execute("update nowhere set a = 1", affected));
    EXPECT_EQ(affected, -1);
    EXPECT_EQ(connection.lastErrorDescription(), "no such table: nowhere");
    // A SELECT returns rows, not a count: execute reports false for it.
    EXPECT_FALSE(connection.execute("select * from t", affected));
    EXPECT_EQ(affected, -1);

    EXPECT_EQ(connection.beginTrans(), 1);
    EXPECT_TRUE(connection.execute("delete from t", affected));
    EXPECT_TRUE(connection.rollbackTrans());
    EXPECT_EQ(Count(db_, "t"), 3);
    EXPECT_EQ(connection.beginTrans(), 1);
    EXPECT_TRUE(connection.execute("delete from t where id = 1", affected));
    EXPECT_TRUE(connection.commitTrans());
    EXPECT_EQ(Count(db_, "t"), 2);
    EXPECT_FALSE(connection.commitTrans());
    EXPECT_FALSE(connection.rollbackTrans());
}

TEST(DbProgramObjects, ConstructWithoutAnyDatabase) {
    // The start-up creates these before any catalogue exists; they must be usable closed.
    DbConnection catalogue;
    EXPECT_FALSE(catalogue.getComObject().IsNull());
    EXPECT_FALSE(catalogue.isOpen());
    EXPECT_EQ(catalogue.getProvider(), "MSDASQL");
    EXPECT_EQ(automation::ComInitCount(), 1);
    {
        DbConnection copy(catalogue);
        EXPECT_EQ(automation::ComInitCount(), 2);
    }
    // Destroying a copy keeps COM initialised for the original.
    EXPECT_EQ(automation::ComInitCount(), 1);
    EXPECT_FALSE(automation::CreateObject("ADODB.Connection").IsNull());
}

TEST(DbConnectionHelpers, FolderPart) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Z:\\a\\b.txt", "Z:\\a\\"},
        {"Z:\\a/b\\c.txt", "Z:\\a/b\\"},
        {"/tmp/x.csv", "/tmp/"},
        {"file.csv", ""},
        // The trail byte 0x5C of a two-byte character is not a separator.
        {"Z:\\\x95\x5C.txt", "Z:\\"},
    };
    for (const auto& [path, folder] : cases)
        EXPECT_EQ(FolderPart(path), folder) << path;
}

TEST(DbConnectionText, OpenTextWritesSchemaIni) {
    vm::testing::TempFolder folder("vm-db-text");
    const std::string path = folder.windowsPath() + "data.csv";
    std::vector<FieldDef> fields;
    DbConnection connection;
    // Schema.ini is written before the folder opens as a text source.
    EXPECT_TRUE(connection.openText(path, &fields, true, ";"));
    ASSERT_EQ(fields.size(), 1u);
    EXPECT_EQ(fields[0].columnName, "F1");
    const std::string ini = vm::testing::ReadBytes(folder / "Schema.ini");
    for (const char* line :
         {"[data.csv]", "ColNameHeader=True", "Format=Delimited(;)", "MaxScanRows=3",
          "CharacterSet=ANSI", "Col1=F1 Text Width 255", "ModuleVer=1.0.1103.6"})
        EXPECT_NE(ini.find(line), std::string::npos) << line;
    EXPECT_EQ(connection.getConnectionString(),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder.windowsPath() +
                  ";Extended Properties='text;HDR=No;FMT=Delimited;IMEX=1';");

    std::vector<FieldDef> typed(3);
    typed[0].columnName = "n", typed[0].dataType = 3;
    typed[1].columnName = "when", typed[1].dataType = 7;
    typed[2].columnName = "s", typed[2].dataType = 200, typed[2].definedSize = 12;
    EXPECT_TRUE(connection.openText(path, &typed, false, ",", "OEM", 1));
    const std::string second = vm::testing::ReadBytes(folder / "Schema.ini");
    for (const char* line : {"ColNameHeader=False", "Col1=n Integer", "Col2=when DateTime",
                             "Col3=s Text Width 12", "CharacterSet=OEM"})
        EXPECT_NE(second.find(line), std::string::npos) << line;
    EXPECT_EQ(second.find("Col1=F1"), std::string::npos); // the old file was replaced
}

} // namespace
} // namespace vm::db
