#include "AdoTestSupport.h"
#include "platform/ado/ConnectionString.h"
#include "platform/text/Gbk.h"

namespace vm::ado::testing {
namespace {

using automation::CreateObject;
using automation::LastCallError;
using automation::LastCallException;

TEST(ConnectionStringParse, Table) {
    struct Case {
        std::string text;
        std::string key;
        std::string value;
    };
    const std::vector<Case> cases = {
        {"Provider=X;Data Source=a b", "data source", "a b"},
        {" provider = X ; ", "PROVIDER", "X"},
        {"Extended Properties='Excel 8.0;HDR=yes;IMEX=1';", "Extended Properties",
         "Excel 8.0;HDR=yes;IMEX=1"},
        {"Extended Properties=\"Driver={MySQL ODBC 3.51 Driver};Stmt=Set Names 'GBK'\"",
         "Extended Properties", "Driver={MySQL ODBC 3.51 Driver};Stmt=Set Names 'GBK'"},
        {"Driver={SQLite3 ODBC Driver};Database=/x.db", "Driver", "{SQLite3 ODBC Driver}"},
        {"Driver={a;b};x=1", "x", "1"},
        {"PWD='it''s';", "pwd", "it's"},
        {"Data Source='folder\\';", "Data Source", "folder\\"},
        {"a=1;a=2", "a", "1"},
        {"novalue;b=2", "b", "2"},
        {"x=1", "missing", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ConnectionString(c.text).Get(c.key), c.value) << c.text;
    EXPECT_EQ(StripBraces(" {SQLite3 ODBC Driver} "), "SQLite3 ODBC Driver");
}

class ConnectionTest : public AdoTest {};

TEST_F(ConnectionTest, OpenCloseStateAndProvider) {
    MakeItems(3);
    const Object connection = CreateObject("ADODB.Connection");
    ASSERT_FALSE(connection.IsNull());
    EXPECT_EQ(connection.GetInt("State"), 0);
    EXPECT_EQ(connection.GetText("Provider"), "MSDASQL");
    EXPECT_EQ(connection.GetText("Version"), "2.8");
    EXPECT_EQ(connection.GetInt("ConnectionTimeout"), 15);
    EXPECT_EQ(connection.GetInt("CommandTimeout"), 30);
    // Closing a connection that was never opened fails; State stays 0.
    connection.Call("close");
    EXPECT_EQ(LastCallError(), automation::kException);

    connection.Call("open", {Variant("Provider=MSDASQL.1;Extended Properties=Driver={SQLite3 "
                                     "ODBC Driver};Database=" +
                                     db_.string() + ";PWD='';")});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(connection.GetInt("state"), 1);
    EXPECT_EQ(connection.GetText("Provider"), "MSDASQL.1");
    EXPECT_EQ(connection.GetInt("Mode"), 3);
    // Opening again while open fails; timeouts and mode are fixed while open.
    connection.Call("Open");
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_FALSE(connection.Put("Mode", Variant(std::int32_t{1})));
    EXPECT_FALSE(connection.Put("ConnectionTimeout", Variant(std::int32_t{5})));
    EXPECT_TRUE(connection.Put("CommandTimeout", Variant(std::int32_t{5})));
    connection.Call("Close");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(connection.GetInt("State"), 0);

    // Read-only mode: reads work, writes are refused by the database.
    EXPECT_TRUE(connection.Put("Mode", Variant(std::int32_t{1})));
    connection.Call("Open", {Variant(SqliteConnectionString(db_))});
    ASSERT_EQ(LastCallError(), 0);
    Variant affected(std::int32_t{-1});
    connection.Call("Execute", {Variant("delete from items"), Variant::Ref(affected)});
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_EQ(Scalar(db_, "select count(*) from items"), "3");
}

TEST_F(ConnectionTest, OpenFailuresNameWhatIsMissing) {
    MakeItems(1);
    const std::filesystem::path notDb = folder_ / "not-a-db.db";
    vm::testing::WriteBytes(notDb, std::string(4096, 'x'));
    struct Case {
        std::string connectionString;
        std::string expectedInError;
    };
    const std::vector<Case> cases = {
        {"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/x.accdb;", "Microsoft.ACE.OLEDB.12.0"},
        {"Provider=sqloledb.1;Data Source=s;Initial Catalog=d;", "sqloledb.1"},
        {"Provider=MSDAORA.1;Data Source=s;", "MSDAORA.1"},
        {"Provider=OraOLEDB.Oracle;Data Source=s;", "OraOLEDB.Oracle"},
        {"Driver={sql Server};Server=s;DataBase=d;", "{sql Server}"},
        {"Provider=MSDASQL.1;Password=p;Extended Properties=\"Driver={MySQL ODBC 3.51 "
         "Driver};Server=s;Port=3306;\"",
         "MySQL ODBC 3.51 Driver"},
        {"Driver={Microsoft Access Driver (*.mdb)};DBQ=/x.mdb;", "Microsoft Access Driver"},
        {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/x.xls;Extended Properties='Excel "
         "8.0;HDR=yes;IMEX=1';",
         "Excel 8.0"},
        {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (folder_ / "absent.mdb").string() + ";",
         "absent.mdb"},
        {"Driver={SQLite3 ODBC Driver};Database=" + (folder_ / "absent.db").string() +
             ";NoCreat=1;",
         "absent.db' does not exist."},
        {"Driver={SQLite3 ODBC Driver};Database=" + (folder_ / "no" / "such.db").string() + ";",
         "cannot be created: its folder does not exist."},
        {"Driver={SQLite3 ODBC Driver};Database=" + notDb.string() + ";", "not-a-db.db"},
        {"Driver={SQLite3 ODBC Driver};Database=Q:\\elsewhere.db;", "Q:\\elsewhere.db"},
        {"Data Source=x;", "no default driver"},
    };
    for (const Case& c : cases) {
        const Object connection = CreateObject("ADODB.Connection");
        connection.Call("Open", {Variant(c.connectionString)});
        EXPECT_EQ(LastCallError(), automation::kException) << c.connectionString;
        EXPECT_EQ(connection.GetInt("State"), 0) << c.connectionString;
        const std::string error = LastProviderError(connection);
        EXPECT_NE(error.find(c.expectedInError), std::string::npos)
            << c.connectionString << " -> " << error;
    }
    // As the driver does, a missing file is made unless NoCreat is true, and can be written.
    EXPECT_FALSE(std::filesystem::exists(folder_ / "absent.db"));
    for (const char* noCreat : {"", "NoCreat=0;", "NoCreat=no;"}) {
        std::filesystem::remove(folder_ / "new.db");
        const Object connection = CreateObject("ADODB.Connection");
        connection.Call("Open", {Variant("Driver={SQLite3 ODBC Driver};Database=" +
                                         (folder_ / "new.db").string() + ";" + noCreat)});
        ASSERT_EQ(LastCallError(), 0) << noCreat << LastProviderError(connection);
        connection.Call("Execute", {Variant("create table t(a INTEGER)")});
        connection.Call("Execute", {Variant("insert into t values(5)")});
        const Object rs = connection.CallObject("Execute", {Variant("select a from t")});
        EXPECT_EQ(
            rs.GetObject("Fields").GetObject("Item", {Variant(std::int32_t{0})}).GetInt("Value"),
            5);
    }
    // Read-only opens make nothing.
    const Object reader = CreateObject("ADODB.Connection");
    reader.Put("Mode", Variant(std::int32_t{1}));
    reader.Call("Open", {Variant("Driver={SQLite3 ODBC Driver};Database=" +
                                 (folder_ / "other.db").string() + ";")});
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "other.db"));
}

TEST_F(ConnectionTest, ExecuteReportsRecordsAffected) {
    MakeItems(10);
    const Object connection = OpenConnection();
    struct Case {
        std::string sql;
        int affected;
        bool returnsOpenRecordset;
    };
    const std::vector<Case> cases = {
        {"update items set qty = 9 where id <= 4", 4, false},
        {"delete from items where id > 8", 2, false},
        {"insert into items(name) values('new')", 1, false},
        {"create table extra(a INTEGER)", 0, false},
        {"update items set qty = 1 where id = 999", 0, false},
        {"select * from items", -1, true},
    };
    for (const Case& c : cases) {
        Variant affected(std::int32_t{-7});
        const Object recordset =
            connection.CallObject("Execute", {Variant(c.sql), Variant::Ref(affected)});
        EXPECT_EQ(LastCallError(), 0) << c.sql << ": " << LastCallException();
        EXPECT_EQ(affected.IntValue(), c.affected) << c.sql;
        ASSERT_FALSE(recordset.IsNull()) << c.sql;
        EXPECT_EQ(recordset.GetInt("State"), c.returnsOpenRecordset ? 1 : 0) << c.sql;
    }
    EXPECT_EQ(Scalar(db_, "select count(*) from items where qty = 9"), "4");
    EXPECT_EQ(Scalar(db_, "select count(*) from items"), "9");

    // A rejected statement: the call fails, records affected stays -1, and Errors holds the
    // provider's own message.
    Variant affected(std::int32_t{5});
    const Object none = connection.CallObject(
        "Execute", {Variant("select * from nowhere"), Variant::Ref(affected)});
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(affected.IntValue(), -1);
    EXPECT_EQ(LastProviderError(connection), "no such table: nowhere");
    const Object error = connection.GetObject("Errors").GetObject("Item", {Variant(0.0)});
    EXPECT_EQ(error.GetText("Source"), "SQLite3 ODBC Driver");
    EXPECT_NE(error.GetInt("NativeError"), 0);
    // The next successful provider call clears the collection.
    connection.Call("Execute", {Variant("select 1")});
    EXPECT_EQ(connection.GetObject("Errors").GetInt("Count"), 0);

    // adExecuteNoRecords returns no recordset at all.
    const Object noRecords = connection.CallObject(
        "Execute", {Variant("update items set qty = 0"), Variant::Missing(), Variant(128)});
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_TRUE(noRecords.IsNull());
    // Two statements in one text are refused rather than half run.
    connection.Call("Execute", {Variant("delete from items; delete from extra")});
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_EQ(Scalar(db_, "select count(*) from items"), "9");
}

TEST_F(ConnectionTest, TransactionsCommitRollbackAndNest) {
    MakeItems(5);
    const Object connection = OpenConnection();
    EXPECT_EQ(connection.CallNumber("BeginTrans"), 1);
    connection.Call("Execute", {Variant("delete from items where id = 1")});
    connection.Call("RollbackTrans");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(Scalar(db_, "select count(*) from items"), "5");

    EXPECT_EQ(connection.CallNumber("BeginTrans"), 1);
    connection.Call("Execute", {Variant("delete from items where id = 1")});
    EXPECT_EQ(connection.CallNumber("BeginTrans"), 2);
    connection.Call("Execute", {Variant("delete from items where id = 2")});
    connection.Call("RollbackTrans");
    EXPECT_EQ(LastCallError(), 0);
    connection.Call("CommitTrans");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(Scalar(db_, "select count(*) from items"), "4");
    EXPECT_EQ(Scalar(db_, "select count(*) from items where id = 2"), "1");

    // Committing without a transaction is an error with a clear text.
    connection.Call("CommitTrans");
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_NE(LastCallException().find("without first beginning"), std::string::npos);

    // Closing with a transaction open rolls it back.
    connection.Call("BeginTrans");
    connection.Call("Execute", {Variant("delete from items")});
    connection.Call("Close");
    EXPECT_EQ(Scalar(db_, "select count(*) from items"), "4");
}

TEST_F(ConnectionTest, OpenSchemaListsTables) {
    MakeItems(1);
    Sql(db_, "create view cheap as select * from items where price < 2;");
    const Object connection = OpenConnection();
    const Object schema = connection.CallObject("OpenSchema", {Variant(std::int32_t{20})});
    ASSERT_EQ(LastCallError(), 0);
    std::vector<std::string> seen;
    while (!schema.GetBool("EOF")) {
        const Object fields = schema.GetObject("Fields");
        seen.push_back(fields.GetObject("Item", {Variant("TABLE_NAME")}).GetText("Value") + ":" +
                       fields.GetObject("Item", {Variant("TABLE_TYPE")}).GetText("Value"));
        schema.Call("MoveNext");
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"cheap:VIEW", "items:TABLE",
                                              "sqlite_master:SYSTEM TABLE"}));
}

TEST_F(ConnectionTest, ClosingTheConnectionClosesItsRecordsets) {
    MakeItems(3);
    const Object connection = OpenConnection();
    const Object recordset = OpenRecordset(connection, "select * from items");
    EXPECT_EQ(recordset.GetInt("State"), 1);
    connection.Call("Close");
    EXPECT_EQ(recordset.GetInt("State"), 0);
}

// A refused property write keeps the old value; the value is checked before the object's state.
TEST_F(ConnectionTest, RefusedPropertyWritesKeepTheOldValue) {
    MakeItems(2);
    const std::string invalid = "Arguments are of the wrong type";
    const std::string open = "Operation is not allowed when the object is open.";
    const auto refused = [](const Object& object, const char* member, const Variant& value) {
        EXPECT_FALSE(object.Put(member, value)) << member;
        return LastCallException();
    };
    const Object connection = OpenConnection();
    EXPECT_EQ(refused(connection, "ConnectionTimeout", Variant(std::int32_t{-1})).rfind(invalid, 0),
              0u);
    EXPECT_EQ(refused(connection, "ConnectionTimeout", Variant(std::int32_t{5})), open);
    EXPECT_EQ(refused(connection, "Provider", Variant("Other")), open);
    EXPECT_EQ(refused(connection, "CursorLocation", Variant(std::int32_t{4})).rfind(invalid, 0),
              0u);
    EXPECT_EQ(refused(connection, "IsolationLevel", Variant("many")).rfind(invalid, 0), 0u);
    EXPECT_EQ(connection.GetInt("ConnectionTimeout"), 15);
    EXPECT_EQ(connection.GetText("Provider"), "MSDASQL.1");
    EXPECT_EQ(connection.GetInt("CursorLocation"), 2);
    EXPECT_EQ(connection.GetInt("IsolationLevel"), 4096);

    const Object recordset = OpenRecordset(connection, "select * from items");
    EXPECT_EQ(refused(recordset, "CursorType", Variant(std::int32_t{9})).rfind(invalid, 0), 0u);
    EXPECT_EQ(refused(recordset, "CursorType", Variant(std::int32_t{3})), open);
    EXPECT_EQ(refused(recordset, "PageSize", Variant(std::int32_t{0})).rfind(invalid, 0), 0u);
    EXPECT_EQ(recordset.GetInt("CursorType"), 1);
    EXPECT_EQ(recordset.GetInt("PageSize"), 10);
    recordset.Call("Close");
    EXPECT_TRUE(recordset.Put("CursorType", Variant(std::int32_t{3})));
    EXPECT_EQ(recordset.GetInt("CursorType"), 3);

    const Object command = CreateObject("ADODB.Command");
    const Object parameter = command.CallObject("CreateParameter", {Variant("p")});
    EXPECT_EQ(refused(parameter, "Direction", Variant(std::int32_t{5})).rfind(invalid, 0), 0u);
    EXPECT_EQ(parameter.GetInt("Direction"), 1);
    EXPECT_TRUE(parameter.Put("Precision", Variant(std::int32_t{255})));
    EXPECT_EQ(parameter.GetInt("Precision"), 255);

    // A stream refuses a new mode while open before looking at the value.
    const Object stream = CreateObject("ADODB.Stream");
    stream.Call("Open");
    EXPECT_EQ(refused(stream, "Mode", Variant("any")), open);
    EXPECT_EQ(stream.GetInt("Mode"), 0);
}

TEST_F(ConnectionTest, ChineseStatementsAndValuesRoundTrip) {
    Sql(db_, "create table \xe8\xb5\x84\xe6\xba\x90(\xe5\x90\x8d\xe7\xa7\xb0 TEXT, n INTEGER);");
    const Object connection = OpenConnection();
    const std::string table = Gbk(u8"资源"), column = Gbk(u8"名称"), value = Gbk(u8"示例源码");
    connection.Call("Execute", {Variant("insert into " + table + "(" + column + ", n) values('" +
                                        value + "', 1)")});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(Scalar(db_, "select \xe5\x90\x8d\xe7\xa7\xb0 from \xe8\xb5\x84\xe6\xba\x90"),
              "\xe7\xa4\xba\xe4\xbe\x8b\xe6\xba\x90\xe7\xa0\x81");
    const Object recordset = OpenRecordset(connection, "select max(n) from " + table);
    EXPECT_EQ(recordset.GetObject("Fields")
                  .GetObject("Item", {Variant(std::int32_t{0})})
                  .Get("Value")
                  .Type(),
              automation::VT_I4);
    const Object byName = OpenRecordset(connection, "select " + column + " from " + table);
    EXPECT_EQ(byName.GetObject("Fields").GetObject("Item", {Variant(column)}).GetText("Value"),
              value);
}

} // namespace
} // namespace vm::ado::testing
