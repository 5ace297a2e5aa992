#include "platform/ado/TextProvider.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

namespace vm::ado {
namespace {

TEST(TextExportStatement, RecognisedFormsOnly) {
    struct Case {
        std::string sql;
        bool matches;
        const char* isam;
        std::string database;
        bool header;
        const char* name;
        const char* select;
    };
    const std::string bracketTrail = "\xB1\x5D"; // a trail byte that looks like "]"
    const std::vector<Case> cases = {
        {"Select * Into [Text;HDR=YES;Database=C:\\o\\;].a.csv From T", true, "Text", "C:\\o\\",
         true, "a.csv", "Select * From T"},
        {"  select a,b INTO [Text;HDR=NO;Database=/x/;].[b c.txt] from T where a>1", true, "Text",
         "/x/", false, "b c.txt", "Select a,b from T where a>1"},
        {"Select * Into [Excel 8.0;HDR=NO;DATABASE=C:\\b.xls;].Table From T", true, "Excel 8.0",
         "C:\\b.xls", false, "Table", "Select * From T"},
        {"Select * Into [Text;Database=/d" + bracketTrail + "/;].f.csv From T", true, "Text",
         "/d" + bracketTrail + "/", true, "f.csv", "Select * From T"},
        {"Select * Into copy From T", false, "", "", true, "", ""},
        {"Select intotal From T", false, "", "", true, "", ""},
        {"insert into [x] select * from T", false, "", "", true, "", ""},
        {"Select * Into [Text;HDR=YES] From T", false, "", "", true, "", ""},
        {"Select * Into [Text;HDR=YES;Database=/x/;]. From T", false, "", "", true, "", ""},
    };
    for (const Case& c : cases) {
        ExportStatement parsed;
        ASSERT_EQ(ParseExportStatement(c.sql, parsed), c.matches) << c.sql;
        if (!c.matches)
            continue;
        EXPECT_EQ(parsed.isam, c.isam) << c.sql;
        EXPECT_EQ(parsed.database, c.database) << c.sql;
        EXPECT_EQ(parsed.header, c.header) << c.sql;
        EXPECT_EQ(parsed.name, c.name) << c.sql;
        EXPECT_EQ(parsed.select, c.select) << c.sql;
    }
}

TEST(TextExportStatement, NamesNeverLeaveTheFolder) {
    StatementResult rows;
    rows.columns.resize(1);
    for (const char* name : {"../up.csv", "..", "sub\\x.csv"}) {
        ExportStatement target;
        target.isam = "Text";
        target.database = "/tmp/";
        target.name = name;
        std::int64_t written = 0;
        ProviderError error;
        EXPECT_FALSE(WriteExport(target, rows, written, error)) << name;
        EXPECT_EQ(written, -1);
        EXPECT_FALSE(error.description.empty());
    }
}

} // namespace
} // namespace vm::ado
