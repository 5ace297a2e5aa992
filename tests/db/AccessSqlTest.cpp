// Statements in Access's dialect on .mdb files from our Jet 4 writer and on a real Access 2000
// file, with the answers Access gives; the ADO type and size of every column type.

#include "platform/ado/AccessSql.h"
#include "mdbwriter/MdbWriter.h"
#include "platform/ado/Ado.h"
#include "platform/ado/Provider.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

namespace vm::ado {
namespace {

using automation::Variant;
namespace mw = mdbwriter;

std::string Show(const Variant& v) {
    if (v.IsNull())
        return "<null>";
    if (v.Type() == automation::VT_BOOL)
        return v.IntValue() ? "-1" : "0";
    if (v.Type() == automation::VT_DATE)
        return StoredDate(v.DoubleValue());
    std::string text;
    v.ToText(text);
    return text;
}

// Rows as "a|b" joined by ";", or "error: ..." (GBK, as the literals here are).
std::string Ask(Session& session, const std::string& sql, bool sorted = false) {
    StatementResult result;
    ProviderError error;
    if (!session.Execute(sql, {}, result, error))
        return "error: " + error.description;
    std::vector<std::string> rows;
    for (const Row& row : result.rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += (i ? "|" : "") + Show(row[i]);
        rows.push_back(line);
    }
    if (sorted)
        std::sort(rows.begin(), rows.end());
    std::string out;
    for (const std::string& row : rows)
        out += (out.empty() ? "" : ";") + row;
    return out;
}

std::string U8(std::u8string_view s) {
    return std::string(s.begin(), s.end());
}

class AccessSqlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new vm::testing::TempFolder("vm-access-sql");
        mw::Writer writer;
        const int table = writer.addTable("Table1", {{"A", mw::ColumnType::Text, 50},
                                                     {"B", mw::ColumnType::Text, 100},
                                                     {"C", mw::ColumnType::Byte},
                                                     {"D", mw::ColumnType::Integer},
                                                     {"E", mw::ColumnType::Long},
                                                     {"F", mw::ColumnType::Double},
                                                     {"G", mw::ColumnType::DateTime},
                                                     {"I", mw::ColumnType::Boolean},
                                                     {"M", mw::ColumnType::Memo},
                                                     {"O", mw::ColumnType::Ole}});
        // 2000-06-15 12:30, 1999-12-31
        const double june = 36692.0 + 12.5 / 24, newYearsEve = 36525.0;
        ASSERT_TRUE(writer.addRow(table, {mw::Str("abcdefgh"), mw::Str("ijklmnop"), mw::Int(1),
                                          mw::Int(2), mw::Int(3), mw::Real(1.5), mw::Real(june),
                                          mw::Int(1), mw::Str("memo"), mw::Str("\x01\x02")}));
        ASSERT_TRUE(writer.addRow(table, {mw::Str("Zebra"), mw::Null{}, mw::Int(200), mw::Int(-5),
                                          mw::Int(100000), mw::Null{}, mw::Real(newYearsEve),
                                          mw::Int(0), mw::Null{}, mw::Null{}}));
        ASSERT_TRUE(writer.addRow(table, {mw::Str("zebra"), mw::Str("x"), mw::Int(7), mw::Int(7),
                                          mw::Int(7), mw::Real(2.25), mw::Null{}, mw::Int(0),
                                          mw::Str("M"), mw::Null{}}));
        // The bytes of 资源 (D7CA D4B4) appear inside 白试大 (B0D7 CAD4 B4F3) across its
        // characters.
        // The writer takes UTF-8.
        const int titles =
            writer.addTable(U8(u8"名称"), {{U8(u8"名称"), mw::ColumnType::Text, 20}});
        for (const char8_t* title : {u8"资源下载", u8"白试大", u8"源码资", u8"ＡＢｃ"})
            ASSERT_TRUE(writer.addRow(titles, {mw::Str(U8(title))}));
        const std::string path = (*folder_ / "t.mdb").string();
        ASSERT_TRUE(writer.save(path)) << writer.error();
        OpenRequest request;
        request.connectionString = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path;
        std::string provider;
        ProviderError error;
        session_ = OpenSession(request, provider, error).release();
        ASSERT_NE(session_, nullptr) << error.description;
    }
    static void TearDownTestSuite() {
        delete session_;
        delete folder_;
    }

    static vm::testing::TempFolder* folder_;
    static Session* session_;
};

vm::testing::TempFolder* AccessSqlTest::folder_ = nullptr;
Session* AccessSqlTest::session_ = nullptr;

struct Case {
    std::string sql;
    std::string answer;
};

TEST_F(AccessSqlTest, StatementsGiveAccessAnswers) {
    const Case cases[] = {
        // Yes/No is -1, and True, Yes and On say so.
        {"select count(*) from Table1 where I=-1", "1"},
        {"select count(*) from Table1 where I = True or I = Yes", "1"},
        {"select count(*) from Table1 where I = 1", "0"},
        {"select I, not I from Table1 where E = 3", "-1|0"},
        // & joins texts, Null as nothing; + keeps Null.
        {"select A & B from Table1 where E = 3", "abcdefghijklmnop"},
        {"select A & B, A + B, Null & Null from Table1 where E = 100000", "Zebra|<null>|<null>"},
        {"select A & E & F from Table1 where E = 7", "zebra72.25"},
        {"select 1 + 2 & 3 from Table1 where E = 3", "33"},
        {"select '1' + '2', '1' + 2 from Table1 where E = 3", "12|3"},
        // TOP n, with the ties of the last row, and TOP n PERCENT.
        {"select top 1 A from Table1 order by E", "abcdefgh"},
        {"select top 2 A from Table1 order by D desc", "zebra;abcdefgh"},
        {"select top 1 A from Table1 order by I desc, E", "zebra"},
        {"select top 50 percent A from Table1 order by E", "abcdefgh;zebra"},
        {"select top 2 A from Table1 where C > 1 order by 1", "Zebra;zebra"},
        {"select count(*) from (select top 2 A from Table1)", "2"},
        // #dates# in the forms Jet reads.
        {"select count(*) from Table1 where G > #2000-01-01#", "1"},
        {"select A from Table1 where G = #6/15/2000 12:30:00 PM#", "abcdefgh"},
        {"select A from Table1 where G between #1999/12/31# and #1/1/2000#", "Zebra"},
        // Texts compare and match without case.
        {"select count(*) from Table1 where A = 'ZEBRA'", "2"},
        {"select count(*) from Table1 where A in ('ZEBRA', 'x')", "2"},
        {"select count(*) from Table1 where A like 'z%'", "2"},
        {"select count(*) from Table1 where A like '[a-c]%'", "1"},
        {"select count(*) from Table1 where A like '[!a-c]%'", "2"},
        {"select count(*) from Table1 where A like 'a_c%' and A not like '*'", "1"},
        {"select count(*) from Table1 where [A] like \"%EBR%\"", "2"},
        // Texts of GBK characters: whole characters only.
        {"select count(*) from 名称 where 名称 like '%资源%'", "1"},
        {"select count(*) from 名称 where 名称 like '%资'", "1"},
        {"select count(*) from 名称 where 名称 like '_试_'", "1"},
        {"select 名称 from 名称 where 名称 = 'ａｂＣ'", "ＡＢｃ"},
        {"select Len(名称), Left(名称, 2), Mid(名称, 2, 2), InStr(名称, '下') from 名称 "
         "where 名称 like '资%'",
         "4|资源|源下|3"},
        // The functions.
        {"select Len(A), Left(A, 3), Right(A, 2), Mid(A, 2, 3), Mid(A, 7), UCase(A), "
         "LCase('AbC') from Table1 where E = 3",
         "8|abc|gh|bcd|gh|ABCDEFGH|abc"},
        {"select InStr(A, 'CD'), InStr(3, A, 'a'), Replace(A, 'cd', 'XY'), '[' & Trim('  a  ') & "
         "']' & LTrim(' b') & RTrim('c ') & ']' from Table1 where E = 3",
         "3|0|abXYefgh|[a]bc]"},
        {"select IIf(I, 'yes', 'no'), Nz(B, 'none'), IsNull(B), Nz(F) & '' from Table1 order by E",
         "yes|ijklmnop|0|1.5;no|x|0|2.25;no|none|-1|"},
        {"select Year(G), Month(G), Day(G), Format(G, 'yyyy-mm-dd hh:nn'), DateAdd('m', 1, G), "
         "DateDiff('d', #2000-06-01#, G), DateDiff('yyyy', #1999-12-31#, G) from Table1 "
         "where E = 3",
         "2000|6|15|2000-06-15 12:30|2000-07-15 12:30:00|14|1"},
        {"select DateAdd('m', 1, #2000-01-31#), DateAdd('d', -1, #2000-03-01#), G + 1 "
         "from Table1 where E = 100000",
         "2000-02-29 00:00:00|2000-02-29 00:00:00|2000-01-01 00:00:00"},
        {"select CInt(2.5), CInt(3.5), CLng('12'), CDbl('1.5'), CStr(12), Val('12abc'), "
         "Val(' 1 2 ') from Table1 where E = 3",
         "2|4|12|1.5|12|12|12"},
        {"select Format(1234.5, '#,##0.00'), Format(0.25, 'Percent'), Format(3, '000'), "
         "7 \\ 2, 7 mod 3, 7 / 2, 2 ^ 3, -2 ^ 2 from Table1 where E = 3",
         "1,234.50|25.00%|003|3|1|3.5|8|-4"},
        {"select 1 = 1, not (1 = 2), True, No, 1 < 2 and 2 < 1 from Table1 where E = 3",
         "-1|-1|-1|0|0"},
        {"select E--1 /* a comment */ from Table1 where E = 3", "4"},
        {"select count(*) from Table1 where Year(Now()) >= 2020 and Date() <= Now()", "3"},
        {"select count(*), max(E), min(A) from Table1 where M is not null", "2|7|abcdefgh"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Ask(*session_, c.sql), c.answer) << c.sql;
}

// Bad statements fail with the provider's error, never with another answer, and never hang.
TEST_F(AccessSqlTest, BadStatementsFailClearly) {
    const Case cases[] = {
        {"select A from Table1 where A = 'abc", "error: Syntax error in string"},
        {"select [A from Table1", "error: Invalid bracketing of name"},
        {"select A from Table1 where G > #2000-01-01", "error: Syntax error in date"},
        {"select A from Table1 where G > #2000-02-30#", "error: Syntax error in date"},
        {"select top 99999999999999999999 A from Table1", "error: The TOP value"},
        {"select top 0 A from Table1", "error: The TOP value"},
        {"select top 101 percent A from Table1", "error: The TOP value"},
        {"select Left(A) from Table1",
         "error: Wrong number of arguments used with function 'Left'"},
        {"select Foo(A) from Table1", "error: Undefined function 'Foo' in expression."},
        {"select A from Table1 where A like '[abc'", "error: Invalid pattern string"},
        {"select 1 / 0 from Table1", "error: Division by zero"},
        {"select CInt(40000) from Table1", "error: Overflow"},
        {"select A from Table1 where A = 'x' xor B = 'y'", "error: The operator xor"},
        {"select A from Table1 where A in (select top 1 A from Table1 order by A)",
         "error: TOP with ORDER BY inside a subquery"},
        {"select A from Table1 where E = ", "error: Syntax error (missing operand)"},
        {"select nosuch from Table1", "error: no such column: nosuch"},
        {"select \"A\" from Table1 where \"A\" = 'abcdefgh'", ""}, // a text, as Access reads it
        {"select DateAdd('x', 1, G) from Table1", "error: Invalid procedure call"},
        {"select Format(1, '0." + std::string(40, '0') + "') from Table1 where E = 3",
         "error: Format: the format"},
        {"select " + std::string(5000, '(') + "1" + std::string(5000, ')') + " from Table1",
         "error: Query is too complex"},
        {"select count(*) from Table1 where " + std::string(3000, '-') + "1 <> 0 and not " +
             std::string(1000, '(') + "E = 3" + std::string(1000, ')'),
         "error: Query is too complex"},
    };
    for (const Case& c : cases) {
        const std::string answer = Ask(*session_, c.sql);
        if (std::string(c.answer).rfind("error", 0) == 0)
            EXPECT_EQ(answer.substr(0, std::string(c.answer).size()), c.answer) << c.sql;
        else
            EXPECT_EQ(answer, c.answer) << c.sql;
    }

    // Thousands of % and a text of broken GBK bytes: an answer at once.
    const std::time_t start = std::time(nullptr);
    EXPECT_EQ(Ask(*session_, "select count(*) from Table1 where A & M like '" +
                                 std::string(5000, '%') + "x%'"),
              "0");
    EXPECT_FALSE(AccessLike(std::string(20000, 'a'),
                            std::string(3000, '%') + "b" + std::string(3000, '%') + "c"));
    EXPECT_TRUE(AccessLike("\x81", "_"));
    EXPECT_TRUE(AccessLike("x\xD7", "x%"));
    EXPECT_LT(std::time(nullptr) - start, 5);
}

TEST_F(AccessSqlTest, ColumnsHaveTheTypesAdoReports) {
    StatementResult result;
    ProviderError error;
    ASSERT_TRUE(session_->Execute("select * from Table1", {}, result, error)) << error.description;
    struct Expected {
        const char* name;
        int type;
        std::int64_t size;
    };
    const Expected expected[] = {
        {"A", adVarWChar, 50},
        {"B", adVarWChar, 100},
        {"C", adUnsignedTinyInt, 1},
        {"D", adSmallInt, 2},
        {"E", adInteger, 4},
        {"F", adDouble, 8},
        {"G", adDate, 8},
        {"I", adBoolean, 2},
        {"M", adLongVarWChar, 536870910},
        {"O", adLongVarBinary, 1073741823},
    };
    ASSERT_EQ(result.columns.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(result.columns[i].name, expected[i].name);
        EXPECT_EQ(result.columns[i].type, expected[i].type) << expected[i].name;
        EXPECT_EQ(result.columns[i].definedSize, expected[i].size) << expected[i].name;
    }
    EXPECT_EQ(result.rows[0][7].Type(), automation::VT_BOOL);
    EXPECT_EQ(result.rows[0][7].IntValue(), -1);
    EXPECT_EQ(result.rows[0][6].Type(), automation::VT_DATE);

    // A date computed in the statement is a date too.
    ASSERT_TRUE(session_->Execute("select DateAdd('d', 1, G), #2001-01-01# from Table1", {}, result,
                                  error));
    EXPECT_EQ(result.columns[0].type, adDate);
    EXPECT_EQ(result.columns[1].type, adDate);
}

// The text provider reads the same dialect.
TEST(AccessSqlTextSourceTest, StatementsOnAFolderOfTextFiles) {
    vm::testing::TempFolder folder("vm-access-text");
    vm::testing::WriteBytes(folder / "fruit.csv",
                            "name,qty\r\nApple,3\r\napple pie,5\r\n资源,1\r\n白试大,2\r\n");
    OpenRequest request;
    request.connectionString =
        "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder.path().string() +
        ";Extended Properties='text;HDR=Yes'";
    std::string provider;
    ProviderError error;
    const std::unique_ptr<Session> session = OpenSession(request, provider, error);
    ASSERT_NE(session, nullptr) << error.description;
    const Case cases[] = {
        {"select count(*) from [fruit.csv] where name like 'APPLE%'", "2"},
        {"select name & '!' from [fruit.csv] where name = '资源'", "资源!"},
        {"select count(*) from [fruit.csv] where name like '%资源%'", "1"},
        {"select top 1 name from [fruit.csv] order by qty desc", "apple pie"},
        {"select Len(name), Val(qty) * 2 from [fruit.csv] where name = 'APPLE'", "5|6"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Ask(*session, c.sql), c.answer) << c.sql;
}

#ifdef VM_FRUIT_MDB
TEST(AccessSqlRealFileTest, AnAccess2000File) {
    OpenRequest request;
    request.connectionString =
        std::string("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + VM_FRUIT_MDB;
    std::string provider;
    ProviderError error;
    const std::unique_ptr<Session> session = OpenSession(request, provider, error);
    ASSERT_NE(session, nullptr) << error.description;
    const Case cases[] = {
        {"select count(*) from Fruit where Fruit like 'ap%'", "2"},
        {"select top 2 Fruit from Fruit order by Fiber desc", "Blackberry;Blueberry;Date"},
        {"select top 10 percent Fruit from Fruit order by Fruit", "Apple;Apricot;Avocado;Banana"},
        {"select Fruit & ' (' & [Vit C] & ')' from Fruit where Fruit = 'KIWI'", "Kiwi (70)"},
        {"select UCase(Left(Fruit, 3)), Len(Fruit) from [Fruit Salad] where Fruit = 'apple'", ""},
        {"select count(*) from Fruit where Nz([Vit E], -1) = -1", "9"},
    };
    for (const Case& c : cases) {
        const std::string answer = Ask(*session, c.sql, true);
        if (std::string(c.answer).empty())
            EXPECT_EQ(answer.rfind("error", 0), std::string::npos) << c.sql << ": " << answer;
        else
            EXPECT_EQ(answer, c.answer) << c.sql;
    }
    StatementResult result;
    ASSERT_TRUE(session->Execute("select Fruit, Fiber from Fruit", {}, result, error));
    EXPECT_EQ(result.columns[0].type, adVarWChar);
    EXPECT_EQ(result.columns[0].definedSize, 50);
    EXPECT_EQ(result.columns[1].type, adInteger);
}
#endif

} // namespace
} // namespace vm::ado
