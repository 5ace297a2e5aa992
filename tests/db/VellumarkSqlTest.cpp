// vellumark-sql run as a real process: UTF-8 arguments in, CSV or a count out, the provider's
// message and a non-zero exit on failure.

#include "mdbwriter/Catalogue.h"
#include "mdbwriter/MdbWriter.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace vm::db {
namespace {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

Result RunTool(const std::vector<std::string>& args) {
    int out[2], err[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    std::string program = VM_SQL_TOOL;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Result result;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    // Output is small: drain stdout fully, then stderr.
    result.out = Drain(out[0]);
    result.err = Drain(err[0]);
    if (rc != 0)
        return result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class VellumarkSqlTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto db = folder_ / "shop.db";
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(handle,
                               "create table goods(id INTEGER PRIMARY KEY, name TEXT, price REAL);"
                               "insert into goods values(1, 'plain', 1.5), (2, 'a,\"b\"', NULL),"
                               "(3, '\xe4\xb8\xad\xe6\x96\x87', 3);",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(handle);
        sqlite_ = "Driver={SQLite3 ODBC Driver};Database=" + db.string() + ";";
    }
    vm::testing::TempFolder folder_{"vm-sql"};
    std::string sqlite_;
};

TEST_F(VellumarkSqlTest, SqliteQueriesAndChanges) {
    Result r = RunTool({sqlite_, "select * from goods order by id"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "id,name,price\n1,plain,1.5\n2,\"a,\"\"b\"\"\",\n3,\xe4\xb8\xad\xe6\x96\x87,3\n");

    r = RunTool({sqlite_, "update goods set price = 2 where id < 3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "2\n");

    r = RunTool({sqlite_, "insert into goods(name) values('\xe6\x96\xb0')"});
    EXPECT_EQ(r.out, "1\n");
    r = RunTool({sqlite_, "select name from goods where name like '\xe6\x96\xb0%'"});
    EXPECT_EQ(r.out, "name\n\xe6\x96\xb0\n");

    r = RunTool({sqlite_, "pragma table_info(goods)"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "cid,name,type,notnull,dflt_value,pk");

    r = RunTool({sqlite_, "select * from missing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vellumark-sql: no such table: missing\n");

    r = RunTool({"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=x.accdb", "select 1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Microsoft.ACE.OLEDB.12.0"), std::string::npos);

    r = RunTool({sqlite_});
    EXPECT_EQ(r.exitCode, 2);
}

// Any installed ODBC driver serves through unixODBC: here SQLite3's, on the same file.
TEST_F(VellumarkSqlTest, OdbcDriverRoute) {
    const std::string odbc = "Driver={SQLite3};Database=" + (folder_ / "shop.db").string() + ";";
    Result r = RunTool({odbc, "select name, price from goods where id > 1 order by id"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "name,price\n\"a,\"\"b\"\"\",\n\xe4\xb8\xad\xe6\x96\x87,3\n");
    r = RunTool({odbc, "update goods set price = 4 where id > 1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "2\n");
    r = RunTool({"Driver={Microsoft ODBC for Oracle};Server=o;Uid=u;Pwd=p;", "select 1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("{Microsoft ODBC for Oracle} is not installed"), std::string::npos)
        << r.err;
}

TEST_F(VellumarkSqlTest, AccessFilesWithTheirPassword) {
    mdbwriter::CatalogueShape shape;
    shape.categories = 10;
    shape.resources = 25;
    shape.password = "s3cret";
    std::string error;
    const auto mdb = folder_ / "cat.mdb";
    ASSERT_TRUE(mdbwriter::WriteCatalogue(mdb.string(), shape, &error)) << error;
    const std::string base = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + mdb.string() +
                             ";Jet OLEDB:DataBase Password=";

    Result r = RunTool({base + "s3cret;", "select count(*) as n from List"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "n\n25\n");
    r = RunTool({base + "S3cret;", "select count(*) from List"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.empty());
    r = RunTool({base + ";", "select count(*) from List"});
    EXPECT_EQ(r.exitCode, 1);
    r = RunTool({base + "s3cret;", "delete from List"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("read-only"), std::string::npos);

#ifdef VM_FRUIT_MDB
    // A real Access 2000 file.
    r = RunTool({std::string("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + VM_FRUIT_MDB,
                 "select Fruit from Fruit where Fruit like 'Ap%' order by Fruit"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Fruit\nApple\nApricot\n");
#endif
}

// --types, dates as Access shows them, statements from a file, --help.
TEST_F(VellumarkSqlTest, TypesDatesFilesAndHelp) {
    namespace mw = mdbwriter;
    mw::Writer writer;
    const int table = writer.addTable("Table1", {{"A", mw::ColumnType::Text, 50},
                                                 {"G", mw::ColumnType::DateTime},
                                                 {"I", mw::ColumnType::Boolean}});
    ASSERT_TRUE(writer.addRow(table, {mw::Str("abc"), mw::Real(36692.0 + 12.5 / 24), mw::Int(1)}));
    ASSERT_TRUE(writer.addRow(table, {mw::Str("d"), mw::Real(36526.0), mw::Int(0)}));
    const auto mdb = folder_ / "t.mdb";
    ASSERT_TRUE(writer.save(mdb.string())) << writer.error();
    const std::string access = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + mdb.string();

    Result r = RunTool({"--types", access, "select A, G, I from Table1 order by G desc"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "A,G,I\n202/50,7/8,11/2\nabc,2000-6-15 12:30:00,-1\nd,2000-1-1,0\n");
    r = RunTool({access, "select A & '-' & A from Table1 where I = True and G > #1/1/2000#"});
    EXPECT_EQ(r.out, "Expr1000\nabc-abc\n");

    const auto lines = folder_ / "lines.sql";
    vm::testing::WriteBytes(lines, "insert into goods(name) values('f1')\n\n"
                                   "select count(*) as n from goods\n");
    r = RunTool({sqlite_, "-f", lines.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "1\nn\n4\n");

    // Blocks between ";" lines; the first failure stops the run and names its line.
    const auto blocks = folder_ / "blocks.sql";
    vm::testing::WriteBytes(blocks, "select name\nfrom goods\nwhere id = 1\n;\n\n"
                                    "select nosuch from goods\n;\ndelete from goods\n");
    r = RunTool({sqlite_, "-f", blocks.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "name\nplain\n");
    EXPECT_EQ(r.err, "vellumark-sql: " + blocks.string() + ":6: no such column: nosuch\n");
    r = RunTool({sqlite_, "select count(*) from goods"});
    EXPECT_EQ(r.out, "count(*)\n4\n"); // the delete never ran

    EXPECT_EQ(RunTool({sqlite_, "-f", (folder_ / "absent.sql").string()}).exitCode, 2);
    r = RunTool({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* piece :
         {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=", "Driver={SQLite3 ODBC Driver};Database=",
          "text;HDR=", "Driver={MySQL ODBC 3.51 Driver}", "--types", "-f FILE"})
        EXPECT_NE(r.out.find(piece), std::string::npos) << piece;
}

} // namespace
} // namespace vm::db
