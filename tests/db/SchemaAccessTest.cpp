// The schema operations on an Access file from our Jet 4 writer: listed, exported to CSV and
// read back as text; the read-only provider refuses DDL with its reason.

#include "db/DbConnection.h"
#include "db/DbRecordset.h"
#include "mdbwriter/Catalogue.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vm::db {
namespace {

TEST(SchemaOnAccess, ListExportAndReadBack) {
    vm::testing::TempFolder folder("vm-schema-mdb");
    mdbwriter::CatalogueShape shape;
    shape.categories = 12;
    shape.resources = 30;
    std::string error;
    ASSERT_TRUE(mdbwriter::WriteCatalogue((folder / "TreeList.mdb").string(), shape, &error))
        << error;
    DbConnection access;
    ASSERT_TRUE(access.openAccess(folder.windowsPath() + "TreeList.mdb", "kq7.vm3rxp.tz", 0))
        << access.lastErrorDescription();

    const std::string tables = access.listTables(0, 0);
    EXPECT_NE(tables.find("List,"), std::string::npos) << tables;
    EXPECT_NE(tables.find("Tree,"), std::string::npos) << tables;
    EXPECT_EQ(tables.find("MSys"), std::string::npos) << tables;
    EXPECT_NE(access.listTables(1, 0).find("MSysObjects,"), std::string::npos);
    // The catalogue query: user tables only, or with the system tables too.
    const std::string queried = access.listTables(0, 1);
    EXPECT_NE(queried.find("List,"), std::string::npos) << queried;
    EXPECT_EQ(queried.find("MSys"), std::string::npos) << queried;
    EXPECT_EQ(access.listTables(1, 1), queried + "MSysObjects,");

    std::filesystem::create_directory(folder / "out");
    const std::string out = folder.windowsPath() + "out\\";
    EXPECT_EQ(access.exportTable("Tree", out + "tree.csv", "Table", "*", "", true),
              shape.categories)
        << access.lastErrorDescription();
    DbRecordset few;
    few.setConnection(access);
    ASSERT_TRUE(few.open("select count(*) as n from List where ID <= 5"));
    std::int32_t expected = -1;
    ASSERT_TRUE(few.readInt("n", expected));
    few.close();
    EXPECT_GT(expected, 0);
    EXPECT_EQ(access.exportTable("List", out + "some.txt", "Table", "ID", "ID <= 5", false),
              expected);

    const std::vector<FieldDef> fields = {FieldDef{"n", 3, "", 0, 0, 0, 0}};
    EXPECT_FALSE(access.createTable("Extra", fields));
    EXPECT_EQ(access.lastStatement(), "Create table Extra (n integer NOT NULL )");
    EXPECT_NE(access.lastErrorDescription().find("read-only"), std::string::npos);

    DbConnection text;
    std::vector<FieldDef> none;
    ASSERT_TRUE(text.openText(out + "tree.csv", &none, true)) << text.lastErrorDescription();
    DbRecordset rows;
    rows.setConnection(text);
    ASSERT_TRUE(rows.open("select count(*) as n from [tree.csv]"));
    std::int32_t count = 0;
    EXPECT_TRUE(rows.readInt("n", count));
    EXPECT_EQ(count, shape.categories);
    rows.close();
    EXPECT_EQ(text.listTables(0, 0), "some.txt,tree.csv,");
}

} // namespace
} // namespace vm::db
