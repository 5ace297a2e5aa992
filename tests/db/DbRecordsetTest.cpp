#include "db/DbRecordset.h"
#include "db/DbCommand.h"
#include "platform/automation/Com.h"
#include "platform/text/Codepage.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace vm::db {
namespace {

using automation::Variant;

void Sql(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << error;
    sqlite3_close(db);
}

std::string Scalar(const std::filesystem::path& file, const std::string& sql) {
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

// A catalogue-shaped List table in SQLite (UTF-8 on disk; the classes see GBK).
class DbRecordsetTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = folder_ / "catalogue.db";
        std::string sql = "create table List(ID INTEGER, 名称 TEXT, 作者 TEXT, 大小 TEXT, "
                          "修改时间 INTEGER, 样式值 INTEGER, 编号 INTEGER PRIMARY KEY, 图 BLOB, "
                          "开放 BOOLEAN, 日期 DATETIME, 分 REAL);";
        for (int i = 1; i <= 20; ++i)
            sql += "insert into List values(" + std::to_string(1 + i % 4) + ", '资源" +
                   std::to_string(i) + "', 'bob', " + (i % 5 == 0 ? "NULL" : "'1MB'") + ", " +
                   std::to_string(1700000000 + i) + ", " + (i == 7 ? "NULL" : "2") + ", " +
                   std::to_string(i) + ", NULL, 1, '2024-05-06 07:08:09', 2.5);";
        // The test sources are compiled with GBK literals; the file wants UTF-8.
        Sql(db_, text::GbkToUtf8(sql));
        ASSERT_TRUE(connection_.openSqlite(db_.string(), "", 1))
            << connection_.lastErrorDescription();
    }

    vm::testing::TempFolder folder_{"vm-dbrs"};
    std::filesystem::path db_;
    DbConnection connection_;
};

TEST_F(DbRecordsetTest, TableOpenNavigationAndReads) {
    DbRecordset list;
    ASSERT_TRUE(list.setConnection(connection_));
    // Blanks around a table name are trimmed before "select * from " is put in front.
    ASSERT_TRUE(list.open(" \xA1\xA1List  ", 2));
    EXPECT_EQ(list.getComObject().GetText("Source"), "select * from List");
    EXPECT_EQ(list.getRecordsAffected(), -1);
    EXPECT_EQ(list.recordCount(), 20);
    EXPECT_EQ(list.cursorType(), 1);
    EXPECT_EQ(list.lockType(), 3);
    EXPECT_TRUE(list.moveLast());
    EXPECT_TRUE(list.movePrevious());
    std::int32_t number = 0;
    EXPECT_TRUE(list.readInt("编号", number));
    EXPECT_EQ(number, 19);
    // move(5) counts from the first record: the sixth.
    EXPECT_TRUE(list.move(5));
    EXPECT_TRUE(list.readInt("编号", number));
    EXPECT_EQ(number, 6);
    EXPECT_EQ(list.absolutePosition(), 6);

    std::string text;
    EXPECT_TRUE(list.readText("名称", text));
    EXPECT_EQ(text, "资源6");
    EXPECT_TRUE(list.getValue("名称") == Variant("资源6"));
    EXPECT_TRUE(list.getValue(std::int32_t{1}) == Variant("资源6"));
    double when = 0;
    EXPECT_TRUE(list.readDateTime("日期", when));
    EXPECT_DOUBLE_EQ(when, 45418.0 + (7 * 3600 + 8 * 60 + 9) / 86400.0);
    EXPECT_TRUE(list.readDateTime("日期", when, 1));
    EXPECT_DOUBLE_EQ(when, 45418.0);
    EXPECT_TRUE(list.readDateTime("日期", when, 2));
    EXPECT_DOUBLE_EQ(when, 36526.0 + (7 * 3600 + 8 * 60 + 9) / 86400.0);
    bool flag = false;
    EXPECT_TRUE(list.readBool("开放", flag));
    EXPECT_TRUE(flag);
    float score = 0;
    EXPECT_TRUE(list.readFloat("分", score));
    EXPECT_FLOAT_EQ(score, 2.5f);

    // NULL values: the variant is Null; typed reads of it fail and leave empty values.
    list.move(4);
    EXPECT_TRUE(list.getValue("大小").IsNull());
    EXPECT_FALSE(list.readText("大小", text));
    EXPECT_EQ(text, "");
    automation::Bytes bytes{1};
    EXPECT_FALSE(list.readBytes("图", bytes));
    EXPECT_TRUE(bytes.empty());
    // A missing field: an empty variant and a failed read.
    EXPECT_TRUE(list.getValue("nosuch").IsEmpty());
    EXPECT_TRUE(list.fieldMissing("nosuch"));
    EXPECT_FALSE(list.fieldMissing("ID"));
    Variant out;
    EXPECT_FALSE(list.readValue("nosuch", out));

    EXPECT_EQ(list.fieldName(0), "ID");
    EXPECT_EQ(list.fieldIndex("修改时间"), 4);
    EXPECT_EQ(list.fieldIndex("id"), -1); // exact match only
    EXPECT_EQ(list.fieldCount(), 11);
    EXPECT_EQ(list.fieldType("ID"), 3);
    EXPECT_EQ(list.fieldType(std::int32_t{1}), 203);
    const FieldDef info = list.fieldInfo("编号");
    EXPECT_EQ(info.columnName, "编号");
    EXPECT_EQ(info.dataType, 3);
    EXPECT_EQ(info.definedSize, 4);
    EXPECT_NE(info.attributes & 0x8000, 0); // the key column
    EXPECT_TRUE(list.close());
    EXPECT_FALSE(list.isOpen());
    EXPECT_FALSE(list.close()); // closing twice reports the error
}

// Field objects are reused between reads of one opening; another opening, a close, a copy
// and another recordset object must each read their own columns.
TEST_F(DbRecordsetTest, FieldsFollowEachOpening) {
    DbRecordset list;
    ASSERT_TRUE(list.setConnection(connection_));
    ASSERT_TRUE(list.open("select 编号, 名称 from List where 编号 = 3", 1));
    EXPECT_TRUE(list.getValue("名称") == Variant("资源3"));
    EXPECT_TRUE(list.getValue(std::int32_t{0}) == Variant(std::int32_t{3}));
    EXPECT_TRUE(list.getValue("名称") == Variant("资源3"));

    // The same names at other positions, and a column that is gone.
    ASSERT_TRUE(list.open("select 名称, 作者 from List where 编号 = 4", 1));
    EXPECT_TRUE(list.getValue("名称") == Variant("资源4"));
    EXPECT_TRUE(list.getValue(std::int32_t{0}) == Variant("资源4"));
    EXPECT_TRUE(list.getValue("编号").IsEmpty());

    const DbRecordset copy(list);
    DbRecordset other = copy;
    EXPECT_TRUE(other.getValue("作者") == Variant("bob"));

    EXPECT_TRUE(list.close());
    EXPECT_TRUE(list.getValue("名称").IsEmpty());
    Variant out;
    EXPECT_FALSE(list.readValue("名称", out));
    EXPECT_TRUE(out.IsEmpty());

    // Another recordset object behind the same DbRecordset.
    DbRecordset second;
    ASSERT_TRUE(second.setConnection(connection_));
    ASSERT_TRUE(second.open("select 作者, 名称 from List where 编号 = 5", 1));
    list.setComObject(second.getComObject());
    EXPECT_TRUE(list.getValue("名称") == Variant("资源5"));
}

TEST_F(DbRecordsetTest, FindFindNextAndFilter) {
    DbRecordset list;
    list.setConnection(connection_);
    ASSERT_TRUE(list.open("List", 2));
    // The catalogue's way: move to the first row, find, then find next while found.
    list.moveFirst();
    std::vector<std::int32_t> numbers;
    for (bool found = list.find("ID=3"); found; found = list.findNext()) {
        std::int32_t n = 0;
        list.readInt("编号", n);
        numbers.push_back(n);
    }
    EXPECT_EQ(numbers, (std::vector<std::int32_t>{2, 6, 10, 14, 18}));
    list.moveFirst();
    EXPECT_TRUE(list.find("名称='资源12'"));
    // Backwards from the last row; not found ends at BOF and reports failure.
    list.moveLast();
    list.movePrevious();
    EXPECT_TRUE(list.find("ID=1", -1));
    std::int32_t n = 0;
    list.readInt("编号", n);
    EXPECT_EQ(n, 16);
    EXPECT_FALSE(list.find("ID=9", -1));
    EXPECT_TRUE(list.isBof());

    EXPECT_TRUE(list.setFilter("ID = 2 AND 样式值 = 2"));
    EXPECT_EQ(list.recordCount(), 5);
    EXPECT_FALSE(list.setFilter("ID =="));
    EXPECT_TRUE(list.setFilter(""));
    EXPECT_EQ(list.recordCount(), 20);
}

TEST_F(DbRecordsetTest, PagingAndButtons) {
    DbRecordset list;
    list.setConnection(connection_);
    ASSERT_TRUE(list.open("List", 2));
    EXPECT_EQ(list.pageSize(8), 8);
    EXPECT_EQ(list.pageCount(), 3);
    // A page beyond the last is cut to the last.
    EXPECT_EQ(list.absolutePage(10), 3);
    std::int32_t n = 0;
    list.readInt("编号", n);
    EXPECT_EQ(n, 17);
    EXPECT_EQ(list.absolutePage(2), 2);
    EXPECT_EQ(list.absolutePage(), 2);

    // Without windows the buttons may be absent; nothing breaks.
    list.updatePagingButtons(1, 3, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(DbRecordsetTest, OpensOfStatementsAndPersistedFiles) {
    DbRecordset rs;
    rs.setConnection(connection_);
    // An UPDATE runs through the connection and keeps its count.
    EXPECT_TRUE(rs.open("update List set 大小 = '2MB' where ID = 1"));
    EXPECT_EQ(rs.getRecordsAffected(), 5);
    EXPECT_FALSE(rs.isOpen());
    EXPECT_FALSE(rs.open("update Nowhere set a = 1"));
    EXPECT_EQ(rs.getRecordsAffected(), -1);
    // A name that merely contains "into" is still a query.
    Sql(db_, "create table intonation(a INTEGER); insert into intonation values(1);");
    EXPECT_TRUE(rs.open("select * from intonation"));
    EXPECT_EQ(rs.recordCount(), 1);
    // SELECT ... INTO goes to the connection; SQLite rejects the syntax, so it fails.
    EXPECT_FALSE(rs.open("select * into Copy from List"));

    EXPECT_TRUE(rs.openOrdered("List", "编号 desc"));
    std::int32_t n = 0;
    rs.readInt("编号", n);
    EXPECT_EQ(n, 20);
    EXPECT_TRUE(rs.openWhere("List", "ID = 4"));
    EXPECT_EQ(rs.recordCount(), 5);

    const std::string saved = folder_.windowsPath() + "list.xml";
    EXPECT_TRUE(rs.saveXml(saved));
    EXPECT_FALSE(rs.saveAdtg(folder_.windowsPath() + "list.adtg"));
    DbRecordset back;
    ASSERT_TRUE(back.open(saved, 3));
    EXPECT_EQ(back.recordCount(), 5);
    EXPECT_EQ(back.fieldNames(), "ID,名称,作者,大小,修改时间,样式值,编号,图,开放,日期,分,");
    std::string name;
    EXPECT_TRUE(back.readText("名称", name));
    EXPECT_EQ(name, "资源3");

    // Conveniences.
    EXPECT_TRUE(rs.exists("List", "ID = 2"));
    EXPECT_FALSE(rs.exists("List", "ID = 9"));
    std::int32_t value = 0;
    EXPECT_TRUE(rs.lookupInt("List", "编号 = 7", value, 4));
    EXPECT_EQ(value, 1700000007);
    EXPECT_FALSE(rs.lookupInt("List", "ID = 2", value, 0)); // five rows, not one
    EXPECT_FALSE(rs.setConnection(connection_));            // not while open
    EXPECT_TRUE(rs.close());
    EXPECT_TRUE(rs.setConnection(connection_));
    EXPECT_TRUE(rs.open("select * from List"));
    EXPECT_TRUE(rs.replaceInColumn("List", "名称", "资源", "源", "ID = 2"));
    EXPECT_EQ(rs.getRecordsAffected(), 5);
    EXPECT_EQ(SqlBuffer(), "Update List SET 名称=replace(名称,'资源','源') WHERE ID = 2");
    EXPECT_FALSE(rs.replaceInColumn("List", "名称", "none", "x", "ID = 99"));
    EXPECT_EQ(rs.getRecordsAffected(), 0);
    EXPECT_EQ(Scalar(db_, text::GbkToUtf8("select 名称 from List where 编号 = 1")),
              text::GbkToUtf8("源1"));

    DbConnection target;
    EXPECT_TRUE(rs.getConnection(target));
    EXPECT_TRUE(target.getComObject() == connection_.getComObject());
}

TEST_F(DbRecordsetTest, EditingThroughTypedWrites) {
    DbRecordset rs;
    rs.setConnection(connection_);
    ASSERT_TRUE(rs.open("select * from List order by 编号"));
    EXPECT_TRUE(rs.addNew());
    EXPECT_TRUE(rs.setText("名称", "新资源"));
    EXPECT_TRUE(rs.setInt("ID", 9));
    EXPECT_TRUE(rs.setNumber("修改时间", 1700000100));
    EXPECT_TRUE(rs.setFloat("分", 1.25f));
    EXPECT_TRUE(rs.setBool("开放", false));
    EXPECT_TRUE(rs.setDateTime("日期", 45418.75, 1));
    EXPECT_TRUE(rs.setBytes("图", automation::Bytes{0, 1, 2}));
    EXPECT_FALSE(rs.setText("样式值", "not a number"));
    EXPECT_TRUE(rs.updateRecord());
    EXPECT_EQ(Scalar(db_, text::GbkToUtf8("select 名称 || '|' || 修改时间 || '|' || 分 || '|' || "
                                          "开放 || '|' || 日期 || '|' || hex(图) from List where "
                                          "ID = 9")),
              text::GbkToUtf8("新资源|1700000100|1.25|0|2024-05-06|000102"));
    automation::Bytes bytes;
    EXPECT_TRUE(rs.readBytes("图", bytes));
    EXPECT_EQ(bytes, (automation::Bytes{0, 1, 2}));
    EXPECT_TRUE(rs.setValue("大小", Variant("9MB")));
    EXPECT_TRUE(rs.updateRecord());
    EXPECT_TRUE(rs.deleteRecords());
    EXPECT_TRUE(rs.moveFirst());
    EXPECT_EQ(Scalar(db_, "select count(*) from List"), "20");
    EXPECT_EQ(rs.status(), 0);

    // A read-only recordset refuses edits.
    DbRecordset readOnly;
    readOnly.setConnection(connection_);
    ASSERT_TRUE(readOnly.open("List", 2, 1, 1));
    EXPECT_FALSE(readOnly.setText("名称", "x"));
    EXPECT_FALSE(readOnly.addNew());
    EXPECT_FALSE(readOnly.updateBatch());
}

TEST_F(DbRecordsetTest, CommandsWithParameters) {
    DbCommand command;
    ASSERT_TRUE(command.prepare(connection_, "select max(层次) from Tree"));
    DbRecordset result;
    // A failing statement gives no recordset and leaves the target untouched.
    const automation::Object before = result.getComObject();
    EXPECT_FALSE(command.executeInto(result, 1));
    EXPECT_TRUE(result.getComObject() == before);

    ASSERT_TRUE(command.prepare(connection_, "select max(修改时间) from List"));
    EXPECT_EQ(command.getCommandText(), "select max(修改时间) from List");
    EXPECT_EQ(command.getCommandType(), 1);
    ASSERT_TRUE(command.executeInto(result, 1));
    // The catalogue's read: the first column by its name, as a number.
    const Variant newest = result.getValue(result.fieldName(0));
    double value = 0;
    EXPECT_TRUE(newest.ToDouble(value));
    EXPECT_EQ(value, 1700000020);

    DbCommand insert;
    ASSERT_TRUE(insert.prepare(connection_, "insert into List(ID, 名称, 修改时间, 分, 开放, "
                                            "日期, 图, 编号) values(?, ?, ?, ?, ?, ?, ?, ?)"));
    EXPECT_TRUE(insert.addIntParameter("id", 3));
    EXPECT_TRUE(insert.addTextParameter("name", "参数"));
    EXPECT_EQ(insert.getParameterSize("name"), 4);
    EXPECT_TRUE(insert.addInt64Parameter("when", 5000000000LL));
    EXPECT_TRUE(insert.addFloatParameter("score", 0.5f));
    EXPECT_TRUE(insert.addBoolParameter("open", true));
    EXPECT_TRUE(insert.addDateParameter("date", 45418.5));
    EXPECT_TRUE(insert.addBytesParameter("pic", automation::Bytes{7, 8}));
    EXPECT_TRUE(insert.addNumberParameter("no", 100));
    EXPECT_EQ(insert.parameterCount(), 8);
    EXPECT_EQ(insert.parameterName(1), "name");
    EXPECT_EQ(insert.getParameterType("pic"), 205);
    EXPECT_EQ(insert.getParameterDirection(std::int32_t{0}), 1);
    EXPECT_EQ(insert.executeNoRecords(), 1);
    // The 64-bit value arrives whole.
    EXPECT_EQ(Scalar(db_, text::GbkToUtf8("select 修改时间 || '|' || 名称 || '|' || 日期 || '|' "
                                          "|| hex(图) from List where 编号 = 100")),
              text::GbkToUtf8("5000000000|参数|2024-05-06 12:00:00|0708"));
    EXPECT_TRUE(insert.setParameterValue("no", Variant(101.0)));
    EXPECT_TRUE(insert.addTextParameter("empty", "", std::nullopt, 1));
    EXPECT_EQ(insert.getParameterSize("empty"), 0);
    insert.deleteParameter("empty");
    EXPECT_EQ(insert.executeNoRecords(), 1);
    insert.clearParameters();
    EXPECT_EQ(insert.parameterCount(), 0);
    EXPECT_EQ(insert.executeNoRecords(), -1); // no values for the markers

    DbConnection target;
    EXPECT_TRUE(insert.getConnection(target));
    EXPECT_TRUE(target.isOpen());
    EXPECT_TRUE(insert.setName("ins"));
    EXPECT_EQ(insert.getName(), "ins");
    EXPECT_EQ(insert.getState(), 0);
}

TEST_F(DbRecordsetTest, OpenWithParameters) {
    DbRecordset rs;
    rs.setConnection(connection_);
    ASSERT_TRUE(rs.openWithParameters(" select count(*) from List where ID = ? and 编号 > ? ", 1,
                                      std::nullopt, std::nullopt, std::nullopt,
                                      {Variant(std::int32_t{2}), Variant(std::int32_t{10})}));
    EXPECT_EQ(rs.getValue(std::int32_t{0}).IntValue(), 2);
    DbRecordset unbound;
    EXPECT_FALSE(unbound.openWithParameters("select 1"));
}

TEST(DbRecordsetProgramObjects, ConstructWithoutAnyDatabase) {
    DbRecordset listTable, treeTable;
    EXPECT_FALSE(listTable.getComObject().IsNull());
    EXPECT_FALSE(listTable.isOpen());
    EXPECT_FALSE(listTable.moveFirst());
    EXPECT_TRUE(listTable.getValue("ID").IsEmpty());
    EXPECT_FALSE(listTable.find("ID=1"));
    EXPECT_FALSE(treeTable.close());
    DbCommand command;
    EXPECT_FALSE(command.getComObject().IsNull());
    EXPECT_EQ(command.parameterCount(), 0);
}

} // namespace
} // namespace vm::db
