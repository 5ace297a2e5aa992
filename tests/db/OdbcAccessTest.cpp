// The Access template's ODBC route: the file is read by the jet provider, which checks the
// database password (the MDBTools driver does not), listed and exported like the Jet route.

#include "db/DbConnection.h"
#include "db/DbRecordset.h"
#include "mdbwriter/Catalogue.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace vm::db {
namespace {

TEST(OdbcAccessRoute, PasswordCheckedListedAndExported) {
    vm::testing::TempFolder folder("vm-odbc-mdb");
    mdbwriter::CatalogueShape shape;
    shape.categories = 9;
    shape.resources = 20;
    shape.password = "s3cret";
    std::string error;
    ASSERT_TRUE(mdbwriter::WriteCatalogue((folder / "cat.mdb").string(), shape, &error)) << error;
    const std::string path = folder.windowsPath() + "cat.mdb";

    struct Case {
        const char* password;
        bool opens;
    };
    for (const Case& c : {Case{"s3cret", true}, Case{"S3CRET", false}, Case{"", false}}) {
        DbConnection access;
        EXPECT_EQ(access.openAccess(path, c.password, 1), c.opens) << c.password;
        EXPECT_EQ(access.getConnectionString(), "Driver={Microsoft Access Driver (*.mdb)};DBQ=" +
                                                    path + ";Pwd=" + c.password + ";");
        if (!c.opens) {
            EXPECT_NE(access.lastErrorDescription(), "") << c.password;
        }
    }
    DbConnection access2007;
    EXPECT_TRUE(access2007.openAccess2007(path, "s3cret", 1)) << access2007.lastErrorDescription();

    DbConnection access;
    ASSERT_TRUE(access.openAccess(path, "s3cret", 1)) << access.lastErrorDescription();
    EXPECT_EQ(access.kind(), kDbAccess);
    const std::string tables = access.listTables(0, 0);
    EXPECT_NE(tables.find("Tree,"), std::string::npos) << tables;
    EXPECT_EQ(tables.find("MSys"), std::string::npos) << tables;
    std::filesystem::create_directory(folder / "out");
    EXPECT_EQ(
        access.exportTable("Tree", folder.windowsPath() + "out\\tree.csv", "Table", "*", "", true),
        shape.categories)
        << access.lastErrorDescription();
    const std::string csv = vm::testing::ReadBytes(folder / "out" / "tree.csv");
    EXPECT_EQ(static_cast<int>(std::count(csv.begin(), csv.end(), '\n')), shape.categories + 1);
    // The route reads: the file is never written.
    std::int32_t affected = 0;
    EXPECT_FALSE(access.execute("delete from Tree", affected));
}

} // namespace
} // namespace vm::db
