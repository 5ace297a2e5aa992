#include "AdoTestSupport.h"
#include "platform/ado/Criteria.h"

namespace vm::ado::testing {
namespace {

using automation::CreateObject;
using automation::LastCallError;
using automation::LastCallException;

class CommandTest : public AdoTest {};

TEST_F(CommandTest, TypedParametersBindInOrder) {
    MakeItems(3);
    const Object connection = OpenConnection();
    const Object command = CreateObject("ADODB.Command");
    EXPECT_TRUE(command.Put("ActiveConnection", Variant(connection)));
    EXPECT_TRUE(command.Put(
        "CommandText", Variant("insert into items(name, qty, price, made) values(?, ?, ?, ?)")));
    EXPECT_TRUE(command.Put("CommandType", Variant(std::int32_t{1})));
    const Object parameters = command.GetObject("Parameters");
    struct Add {
        const char* name;
        int type;
        Variant value;
    };
    const std::vector<Add> adds = {{"n", 200, Variant(Gbk(u8"参数"))},
                                   {"q", 3, Variant("12")}, // converted to the parameter's type
                                   {"p", 5, Variant(2.25)},
                                   {"d", 7, Variant::Date(45418.5)}};
    for (const Add& add : adds) {
        const Object parameter = command.CallObject(
            "CreateParameter", {Variant(add.name), Variant(std::int32_t{add.type}),
                                Variant(std::int32_t{1}), Variant::Missing(), add.value});
        ASSERT_FALSE(parameter.IsNull());
        parameters.Call("Append", {Variant(parameter)});
        EXPECT_EQ(LastCallError(), 0) << LastCallException();
    }
    EXPECT_EQ(parameters.GetInt("Count"), 4);
    // A text parameter takes the byte length of its value as its size.
    EXPECT_EQ(parameters.GetObject("Item", {Variant("n")}).GetInt("Size"), 4);
    EXPECT_EQ(parameters.GetObject("Item", {Variant(std::int32_t{1})}).GetText("Name"), "q");

    Variant affected(std::int32_t{-1});
    command.Call("Execute",
                 {Variant::Ref(affected), Variant::Missing(), Variant(std::int32_t{128})});
    EXPECT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(affected.IntValue(), 1);
    EXPECT_EQ(Scalar(db_, "select name || '|' || qty || '|' || price || '|' || made from items "
                          "where id = 4"),
              "\xe5\x8f\x82\xe6\x95\xb0|12|2.25|2024-05-06 12:00:00");

    // Values given to Execute stand in for the collection's.
    command.Call("Execute", {Variant::Ref(affected),
                             Variant::Array({Variant("other"), Variant(std::int32_t{1}),
                                             Variant(1.0), Variant::Null()})});
    EXPECT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(Scalar(db_, "select count(*) from items where name = 'other' and made is null"), "1");

    // A value that does not convert, and too few values, fail before anything runs.
    parameters.GetObject("Item", {Variant("q")}).Put("Value", Variant("many"));
    command.Call("Execute");
    EXPECT_EQ(LastCallError(), automation::kException);
    parameters.Call("Delete", {Variant("q")});
    EXPECT_EQ(parameters.GetInt("Count"), 3);
    command.Call("Execute");
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_NE(LastProviderError(connection).find("No value given"), std::string::npos);
    EXPECT_EQ(Scalar(db_, "select count(*) from items"), "5");

    // A query command returns its rows; an empty text parameter is valid.
    const Object query = CreateObject("ADODB.Command");
    query.Put("ActiveConnection", Variant(connection));
    query.Put("CommandText", Variant("select count(*) from items where name <> ?"));
    const Object empty = query.CallObject(
        "CreateParameter", {Variant("e"), Variant(std::int32_t{200}), Variant(std::int32_t{1}),
                            Variant::Missing(), Variant("")});
    EXPECT_EQ(empty.GetInt("Size"), 0);
    query.GetObject("Parameters").Call("Append", {Variant(empty)});
    EXPECT_EQ(LastCallError(), 0);
    const Object rows = query.CallObject(
        "Execute", {Variant::Missing(), Variant::Missing(), Variant(std::int32_t{1})});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(
        rows.GetObject("Fields").GetObject("Item", {Variant(std::int32_t{0})}).GetInt("Value"), 5);

    // No connection: nothing to run on.
    const Object loose = CreateObject("ADODB.Command");
    loose.Put("CommandText", Variant("select 1"));
    EXPECT_TRUE(loose.CallObject("Execute").IsNull());
    EXPECT_EQ(LastCallError(), automation::kException);
}

TEST_F(CommandTest, StreamConvertsBetweenCharsets) {
    const Object stream = CreateObject("ADODB.Stream");
    // The server-information sequence: UTF-8 bytes in, text out; GBK text in, bytes out.
    const std::string utf8 = "\xe6\x95\xb0\xe6\x8d\xae\xe6\xb5\x81[abc]";
    stream.Put("Type", Variant(std::int32_t{1}));
    stream.Call("Open");
    stream.Call("Write", {Variant(automation::Bytes(utf8.begin(), utf8.end()))});
    EXPECT_EQ(stream.GetInt("Size"), static_cast<int>(utf8.size()));
    stream.Put("Position", Variant(std::int32_t{0}));
    stream.Put("Type", Variant(std::int32_t{2}));
    stream.Put("Charset", Variant("UTF-8"));
    EXPECT_EQ(stream.CallText("ReadText"), Gbk(u8"数据流[abc]"));
    EXPECT_TRUE(stream.GetBool("EOS"));
    stream.Call("Close");
    stream.Call("Open");
    stream.Put("Charset", Variant("GBK"));
    stream.Call("WriteText", {Variant(Gbk(u8"中文"))});
    stream.Put("Position", Variant(std::int32_t{0}));
    stream.Put("Type", Variant(std::int32_t{1}));
    EXPECT_TRUE(stream.Call("Read").Deref() == Variant(automation::Bytes{0xD6, 0xD0, 0xCE, 0xC4}));
    stream.Call("Close");

    // UTF-8 text gets a byte-order mark, which reading skips; type changes need position 0.
    stream.Put("Type", Variant(std::int32_t{2}));
    stream.Call("Open");
    stream.Put("Charset", Variant("utf-8"));
    stream.Call("WriteText", {Variant("ab")});
    EXPECT_EQ(stream.GetInt("Size"), 5);
    EXPECT_FALSE(stream.Put("Type", Variant(std::int32_t{1})));
    stream.Put("Position", Variant(std::int32_t{0}));
    EXPECT_EQ(stream.CallText("ReadText"), "ab");
    EXPECT_FALSE(stream.Put("Charset", Variant("no-such-charset")));
    stream.Call("Read");
    EXPECT_EQ(LastCallError(), automation::kException); // bytes of a text stream
    stream.Call("Close");
    stream.Call("Write", {Variant(automation::Bytes{1})});
    EXPECT_EQ(LastCallError(), automation::kException); // closed
}

TEST(CriteriaLike, Table) {
    struct Case {
        std::string text, pattern;
        bool matches;
    };
    const std::string chinese = Gbk(u8"中文源码");
    const std::vector<Case> cases = {
        {"abc", "abc", true},
        {"abc", "ABC", true},
        {"abc", "a*", true},
        {"abc", "*c", true},
        {"abc", "*b*", true},
        {"abc", "%", true},
        {"abc", "a%c", true},
        {"abc", "ab", false},
        {"", "*", true},
        {"", "a", false},
        {"aXbXc", "a*b*c", true},
        {"ab", "a*b*c", false},
        {chinese, Gbk(u8"中*"), true},
        {chinese, Gbk(u8"*源码"), true},
        {chinese, Gbk(u8"*文源*"), true},
        {chinese, "*\xC4\xD4*", false}, // a seam of two characters
    };
    for (const Case& c : cases)
        EXPECT_EQ(LikeMatch(c.text, c.pattern), c.matches) << c.text << " ~ " << c.pattern;
}

} // namespace
} // namespace vm::ado::testing
