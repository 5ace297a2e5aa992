// The column types of the Access reader's copies: Access's declared type names read back as
// the types and sizes ADO's Jet provider reports.

#include "platform/ado/Ado.h"
#include "platform/ado/SqliteSession.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace vm::ado {
namespace {

// The types the writer cannot make (Single, Currency, Binary, Replication ID, Decimal,
// AutoNumber), read from a copy declared as the Access reader declares it.
TEST(AccessSqlTypesTest, EveryDeclaredAccessType) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE t (n COUNTER, s SINGLE, c CURRENCY, b BINARY(16), "
                           "g GUID, d DECIMAL(18,4), y YESNO);"
                           "INSERT INTO t VALUES (1, 1.5, 2.25, x'00', '{0}', 3.5, -1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    SqliteSession::Options options;
    options.accessSql = true;
    options.encoding = SqliteSession::Encoding::Gbk;
    const std::unique_ptr<SqliteSession> session = SqliteSession::Adopt(db, options);
    StatementResult result;
    ProviderError error;
    ASSERT_TRUE(session->Execute("select * from t", {}, result, error)) << error.description;
    struct Expected {
        int type;
        std::int64_t size;
    };
    const Expected expected[] = {{adInteger, 4},    {adSingle, 4}, {adCurrency, 8},
                                 {adVarBinary, 16}, {adGUID, 16},  {adNumeric, 19},
                                 {adBoolean, 2}};
    ASSERT_EQ(result.columns.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(result.columns[i].type, expected[i].type) << i;
        EXPECT_EQ(result.columns[i].definedSize, expected[i].size) << i;
    }
    EXPECT_EQ(result.columns[0].attributes, adFldFixed); // the AutoNumber's flag
    EXPECT_EQ(result.columns[5].precision, 18);
    EXPECT_EQ(result.columns[5].numericScale, 4);
    EXPECT_EQ(result.rows[0][1].Type(), automation::VT_R4);
    EXPECT_DOUBLE_EQ(result.rows[0][2].DoubleValue(), 2.25);
    EXPECT_EQ(result.rows[0][6].Type(), automation::VT_BOOL);
}

} // namespace
} // namespace vm::ado
