// The catalogue's own use of the database classes, on .mdb files from our Jet 4 writer: open
// with the built-in password, the two table recordsets, finds, the depth and newest queries.

#include "db/DbCommand.h"
#include "db/DbConnection.h"
#include "db/DbRecordset.h"
#include "mdbwriter/Catalogue.h"
#include "platform/automation/Com.h"
#include "platform/text/Codepage.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <variant>

namespace vm::db {
namespace {

constexpr const char* kPassword = "kq7.vm3rxp.tz";

class CatalogueAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        spec_.categories = 40;
        spec_.resources = 300;
        spec_.creationDate = 45000.25;
        std::string error;
        ASSERT_TRUE(mdbwriter::WriteCatalogue((folder_ / "TreeList.mdb").string(), spec_, &error))
            << error;
        path_ = folder_.windowsPath() + "TreeList.mdb";
    }

    mdbwriter::CatalogueShape spec_;
    vm::testing::TempFolder folder_{"vm-catalogue"};
    std::string path_;
};

TEST_F(CatalogueAccessTest, OpensWithThePasswordAndReadsBothTables) {
    DbConnection catalogue;
    ASSERT_TRUE(catalogue.openAccess(path_, kPassword, 0)) << catalogue.lastErrorDescription();
    EXPECT_EQ(catalogue.getProvider(), "Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(catalogue.kind(), kDbAccess);

    DbRecordset listTable, treeTable;
    listTable.setConnection(catalogue);
    treeTable.setConnection(catalogue);
    ASSERT_TRUE(listTable.open("List", 2));
    ASSERT_TRUE(treeTable.open("Tree", 2));
    EXPECT_EQ(listTable.recordCount(), spec_.resources);
    EXPECT_EQ(treeTable.recordCount(), spec_.categories);

    // Every row of List through the eleven columns the list reads.
    const std::vector<mdbwriter::Row> expected = mdbwriter::ListRows(spec_);
    const char* columns[] = {"ID",   "名称",     "介绍",   "作者", "地址", "视频",
                             "大小", "修改时间", "样式值", "权重", "编号"};
    listTable.moveFirst();
    for (int row = 0; row < spec_.resources; ++row) {
        for (const char* column : columns) {
            const automation::Variant value = listTable.getValue(std::string(column));
            ASSERT_FALSE(value.IsEmpty()) << column;
        }
        std::int32_t number = 0;
        EXPECT_TRUE(listTable.readInt("编号", number));
        if (const auto* n =
                std::get_if<std::int64_t>(&expected[static_cast<std::size_t>(row)][10])) {
            EXPECT_EQ(number, *n) << row;
        }
        std::string name;
        EXPECT_TRUE(listTable.readText("名称", name));
        if (const auto* s = std::get_if<std::string>(&expected[static_cast<std::size_t>(row)][1])) {
            EXPECT_EQ(text::GbkToUtf8(name), *s) << row;
        }
        listTable.moveNext();
    }
    EXPECT_TRUE(listTable.isEof());

    // The depth query of the tree and the newest-change query of the latest list.
    DbCommand command;
    DbRecordset depth;
    ASSERT_TRUE(command.prepare(catalogue, "select max(层次) from Tree"));
    ASSERT_TRUE(command.executeInto(depth, 1));
    double levels = 0;
    EXPECT_TRUE(depth.getValue(depth.fieldName(0)).ToDouble(levels));
    EXPECT_GE(levels, 2);

    // Finds by level and by category, as the tree and the lists use them.
    treeTable.moveFirst();
    int topLevel = 0;
    for (bool found = treeTable.find("层次=1"); found; found = treeTable.findNext())
        ++topLevel;
    EXPECT_GE(topLevel, 1);
    std::int32_t category = 0;
    treeTable.moveFirst();
    treeTable.readInt("ID", category);
    listTable.moveFirst();
    int inCategory = 0;
    for (bool found = listTable.find("ID=" + std::to_string(category)); found;
         found = listTable.findNext())
        ++inCategory;
    int expectedInCategory = 0;
    for (const mdbwriter::Row& row : expected)
        if (const auto* id = std::get_if<std::int64_t>(&row[0]); id && *id == category)
            ++expectedInCategory;
    EXPECT_EQ(inCategory, expectedInCategory);

    // The catalogue is never written.
    std::int32_t affected = 0;
    EXPECT_FALSE(catalogue.execute("delete from List", affected));
    EXPECT_NE(catalogue.lastErrorDescription().find("read-only"), std::string::npos);
    EXPECT_FALSE(listTable.setText("名称", "x"));

    // Closing as the program does: connection, then both recordsets.
    EXPECT_TRUE(catalogue.close());
    listTable.close();
    treeTable.close();
    EXPECT_FALSE(listTable.isOpen());
}

TEST_F(CatalogueAccessTest, WrongOrMissingPasswordAndDamagedFilesFail) {
    DbConnection catalogue;
    EXPECT_FALSE(catalogue.openAccess(path_, "kq7.vm3rxp.tZ", 0));
    EXPECT_FALSE(catalogue.lastErrorDescription().empty());
    EXPECT_FALSE(catalogue.openAccess(path_));
    EXPECT_FALSE(catalogue.openAccess(folder_.windowsPath() + "absent.mdb", kPassword));
    EXPECT_NE(catalogue.lastErrorDescription().find("absent.mdb"), std::string::npos);

    const std::string bytes = vm::testing::ReadBytes(folder_ / "TreeList.mdb");
    vm::testing::WriteBytes(folder_ / "cut.mdb", bytes.substr(0, 3000));
    EXPECT_FALSE(catalogue.openAccess(folder_.windowsPath() + "cut.mdb", kPassword));
    EXPECT_FALSE(catalogue.isOpen());
    // The right password still opens the intact file afterwards.
    EXPECT_TRUE(catalogue.openAccess(path_, kPassword));
}

// Both tables read forward-only and read-only, as the catalogue opens them, give what the
// keyset read gives: every column's type and size and every value, row by row. The four
// recordsets are open on one connection at once.
TEST_F(CatalogueAccessTest, ForwardOnlyReadsMatchTheKeysetReads) {
    DbConnection catalogue;
    ASSERT_TRUE(catalogue.openAccess(path_, kPassword, 0)) << catalogue.lastErrorDescription();
    const struct {
        const char* table;
        int rows;
    } tables[] = {{"List", spec_.resources}, {"Tree", spec_.categories}};
    DbRecordset keyset[2], forward[2];
    for (int t = 0; t < 2; ++t) {
        keyset[t].setConnection(catalogue);
        forward[t].setConnection(catalogue);
        ASSERT_TRUE(keyset[t].open(tables[t].table, 2));
        ASSERT_TRUE(forward[t].open(tables[t].table, 2, 0, 1));
        EXPECT_EQ(forward[t].recordCount(), -1);
        EXPECT_TRUE(forward[t].moveFirst());
    }
    int read[2] = {0, 0};
    // Alternate between the tables so that both statements are part-read at once.
    while (!forward[0].isEof() || !forward[1].isEof()) {
        for (int t = 0; t < 2; ++t) {
            if (forward[t].isEof())
                continue;
            ASSERT_FALSE(keyset[t].isEof()) << tables[t].table;
            const int columns = keyset[t].getComObject().GetObject("Fields").GetInt("Count");
            ASSERT_EQ(forward[t].getComObject().GetObject("Fields").GetInt("Count"), columns);
            for (int c = 0; c < columns; ++c) {
                const FieldKey key(std::int32_t{c});
                ASSERT_EQ(forward[t].fieldType(key), keyset[t].fieldType(key));
                ASSERT_EQ(forward[t].fieldDefinedSize(key), keyset[t].fieldDefinedSize(key));
                const automation::Variant a = keyset[t].getValue(key);
                const automation::Variant b = forward[t].getValue(key);
                ASSERT_TRUE(a.Type() == b.Type() && (a == b || (a.IsNull() && b.IsNull())))
                    << tables[t].table << " row " << read[t] << " column " << c;
            }
            ++read[t];
            forward[t].moveNext();
            keyset[t].moveNext();
        }
    }
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(read[t], tables[t].rows) << tables[t].table;
        EXPECT_TRUE(keyset[t].isEof()) << tables[t].table;
    }
    // A forward-only open of a write is refused as the catalogue's other writes are.
    const automation::Object raw = automation::CreateObject("ADODB.Recordset");
    raw.Call("Open", {automation::Variant("delete from List"),
                      automation::Variant(catalogue.getComObject()),
                      automation::Variant(std::int32_t{0}), automation::Variant(std::int32_t{1})});
    EXPECT_NE(automation::LastCallException().find("read-only"), std::string::npos);
    ASSERT_TRUE(forward[0].open("select count(*) as n from List", 1, 0, 1));
    double left = 0;
    EXPECT_TRUE(forward[0].readNumber("n", left));
    EXPECT_EQ(left, spec_.resources);

    // A table read part-way closes cleanly, before and after its connection.
    ASSERT_TRUE(forward[0].open("List", 2, 0, 1));
    forward[0].moveNext();
    EXPECT_TRUE(catalogue.close());
    EXPECT_FALSE(forward[0].isOpen());
    forward[0].close();
}

} // namespace
} // namespace vm::db
